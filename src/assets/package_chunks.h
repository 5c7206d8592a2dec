// The chunks of a data package: the tag table, the handler of each tag and a
// walk over a package held in memory. Handlers report a fault (the loader's
// error code and its text) instead of ending the program, so that the
// loader decides what a fault does and a fuzzer or test can drive them.
#pragma once

#include <cstdint>
#include <string>

#include "assets/payload_view.h"

constexpr uint32_t kChunkHeaderBytes = 12;
// A "TEX " payload this large makes the loader yield the processor after it.
constexpr uint32_t kLargeTextureChunkBytes = 0x200000;

enum ChunkTag : uint32_t {
  CHUNK_TAG_MESH = 0x204C444D,         // "MDL "
  CHUNK_TAG_BONE = 0x454E4F42,         // "BONE"
  CHUNK_TAG_ANIMATION = 0x4D494E41,    // "ANIM"
  CHUNK_TAG_COLLISION = 0x4C4C4F43,    // "COLL"
  CHUNK_TAG_TEXTURE = 0x20584554,      // "TEX "
  CHUNK_TAG_CROP = 0x504F5243,         // "CROP"
  CHUNK_TAG_SPHERE_SET = 0x54494853,   // "SHIT"
  CHUNK_TAG_CAMERA_PATH = 0x524D4143,  // "CAMR"
};

// The loader's error codes. A tag's wrong-version and refusal codes are in
// its ChunkKind.
enum LoaderFaultCode : int32_t {
  LOADER_FAULT_NONE = -1,
  LOADER_FAULT_BAD_KIND = 0,
  LOADER_FAULT_OPEN = 1,
  LOADER_FAULT_SHORT_HEADER = 2,
  LOADER_FAULT_SHORT_PAYLOAD = 3,
  LOADER_FAULT_UNKNOWN_TAG = 20,
  LOADER_FAULT_NO_CATEGORY = 21,
  LOADER_FAULT_BAD_STATE = 22,
};

struct ChunkKind {
  uint32_t tag;
  uint32_t version;
  int32_t wrong_version_code;
  int32_t refused_code;
};

// Null for a tag that is not in the table.
const ChunkKind* find_chunk_kind(uint32_t tag);
// The four characters of a tag, first in the low byte; unprintable ones as '?'.
std::string chunk_tag_text(uint32_t tag);

struct LoaderFault {
  int32_t code = LOADER_FAULT_NONE;
  std::string text;
  explicit operator bool() const { return code != LOADER_FAULT_NONE; }
};

// What a handler needs beside the payload.
struct ChunkContext {
  const char* package;  // the base name the records go under
  uint32_t flags;       // the queue entry's flags
  // Data root 0, where a loose ".dds" overrides a "TEX " chunk's image; null
  // to look for none.
  const char* loose_texture_root;
};

// The mesh decoder that takes "MDL " payloads (decode_mesh_chunk unless
// replaced); false for a malformed payload. Set to null, mesh chunks are
// skipped with a message.
using MeshChunkDecoder = bool (*)(const ChunkContext& context, PayloadView payload);
void set_mesh_chunk_decoder(MeshChunkDecoder decoder);

// Checks the version against the tag table and hands the payload to the
// tag's handler: a wrong version, an unknown tag or a refused payload gives
// the fault the loader raises for it.
LoaderFault dispatch_package_chunk(const ChunkContext& context, uint32_t tag, uint32_t version, PayloadView payload);

// Walks a whole package held in memory chunk by chunk, stopping at the first
// fault: a partial header (2), a payload running past the end (3), or a
// chunk's own fault.
LoaderFault load_package_from_memory(const ChunkContext& context, PayloadView file);
