// The package loader: queued loading of data packages (files of tagged
// chunks named after the package with ".bin") and of "tex.lst" categories
// into the asset registry, a small step at a time inside the frame.
//
// Graphics start-up initialises it right after the registry: it reads the
// data and texture roots from the start-up configuration, parses "tex.lst"
// when it exists and takes its registry mark. Main thread only.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "assets/asset_registry.h"
#include "assets/texture_list.h"

constexpr int kLoadQueueSize = 128;
constexpr int kLoadNameSize = 64;
constexpr int kLoaderRootSize = 256;
// "tex.lst" larger than this is not a texture list.
constexpr uint64_t kTexListMaxBytes = 16u << 20;

// 12 bytes, little-endian, in the file.
struct ChunkHeader {
  uint32_t tag;
  uint32_t version;
  uint32_t size;
};

enum LoadKind : uint32_t { LOAD_KIND_PACKAGE = 0, LOAD_KIND_TEXLIST = 1 };
// Queue flags: bit 1 gives the textures of "TEX " chunks a full mip chain.
constexpr uint32_t kLoadFlagMipChain = 1u << 1;

struct LoadQueueEntry {
  char name[kLoadNameSize];
  uint32_t kind;
  uint32_t flags;
};

struct PackageLoader {
  int32_t state;  // 0 idle .. 10 close package
  FILE* file;
  ChunkHeader header;
  std::vector<uint8_t> payload;
  char name[kLoadNameSize];
  uint32_t kind;
  uint32_t flags;
  LoadQueueEntry queue[kLoadQueueSize];  // entry i at i & 127
  uint32_t head, tail;
  int32_t root_preference;
  char data_roots[2][kLoaderRootSize];
  char texture_root[kLoaderRootSize];
  TexList texlist;
  int32_t texture_cursor, crop_cursor;  // of the category being loaded
  RegistryMark mark;
  uint64_t file_size;
  uint64_t bytes_read;
};

void init_package_loader();
// Closes the file, frees the payload, releases the registry to the loader's
// mark and frees the texture list.
void shutdown_package_loader();
// Closes the file, frees the payload and empties the queue (idle).
void reset_package_loader();

// False for a null name, a full queue or a name of 64 characters or more;
// true, adding nothing, for a name already pending.
bool enqueue_package(const char* name, uint32_t flags);
bool enqueue_packages(const char* const* names, int count, uint32_t flags);
// True when the registry holds an asset of the package of this base name; a
// queued package that is loaded already is passed over in its turn.
bool is_package_loaded(const char* name);

// One step of loading: 0 when the queue is done, 1 when there is more to do.
// A package file reads one chunk per step, a category one texture or crop.
int loader_step();
// Steps while there is more to do and the time since the frame start, as a
// percentage of one frame, stays below the budget; the last step's result.
int pump_package_loader(float budget);
// 0..1 over the queue, with the current file's bytes read as a fraction.
float loader_progress();

// The package file: data root, name and ".bin", trying the preferred root
// first. size receives the file's size when given. Null when neither opens.
FILE* open_package_file(const char* name, const char* mode, uint64_t* size);
bool package_file_exists(const char* name);

// A load fault ends the program through the fatal exit with the code and its
// text. Tests install a handler that records them instead; loading then stops
// and the queue is emptied. Null restores the fatal exit.
using LoaderFaultHandler = void (*)(int32_t code, const char* text);
void set_package_loader_fault_handler(LoaderFaultHandler handler);
// The frame-time percentage the pump reads; null restores the frame timer's.
using LoaderClock = float (*)();
void set_package_loader_clock(LoaderClock clock);
// Sets the roots and the root preference in place of the start-up values
// (tools and tests), and reads "tex.lst" again from the new texture root; a
// root of 256 characters or more is left empty.
void set_package_loader_roots(const char* data_root0, const char* data_root1, const char* texture_root,
                              int32_t preference);

const char* get_data_root(int i);
const char* get_texture_root();
const PackageLoader* package_loader();
