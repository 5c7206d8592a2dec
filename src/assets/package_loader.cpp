#include "assets/package_loader.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "assets/asset_names.h"
#include "assets/crops.h"
#include "assets/mesh_records.h"
#include "assets/package_chunks.h"
#include "assets/textures.h"
#include "math/vec.h"
#include "platform/sys/sys.h"
#include "shell/services/fatal_exit.h"
#include "shell/services/frame_timer.h"
#include "shell/services/settings_store.h"
#include "shell/services/startup_config.h"

namespace {

PackageLoader loader;
LoaderFaultHandler fault_handler = nullptr;
LoaderClock frame_clock = nullptr;

// States of loader_step.
enum : int32_t {
  STATE_IDLE,
  STATE_NEXT_ENTRY,
  STATE_OPEN_PACKAGE,
  STATE_READ_HEADER,
  STATE_READ_PAYLOAD,
  STATE_DISPATCH,
  STATE_START_CATEGORY,
  STATE_NEXT_ITEM,
  STATE_CATEGORY_TEXTURE,
  STATE_CATEGORY_CROP,
  STATE_CLOSE_PACKAGE,
};

// A value that does not fit leaves the root empty.
void copy_root(char* root, const char* value) {
  root[0] = '\0';
  if (value && std::strlen(value) < kLoaderRootSize) std::strcpy(root, value);
}

// The key's start-up value, or ".\bin\".
void set_root(char* root, const char* key) {
  const char* value = get_startup_string(key);
  copy_root(root, value ? value : ".\\bin\\");
}

void close_file() {
  if (loader.file != nullptr) std::fclose(loader.file);
  loader.file = nullptr;
}

void free_payload() {
  loader.payload.clear();
  loader.payload.shrink_to_fit();
}

void read_texture_list() {
  const std::string path = std::string(loader.texture_root) + "tex.lst";
  std::vector<uint8_t> text;
  if (!sys_read_file(path, text, kTexListMaxBytes)) return;
  texlist_parse(&loader.texlist, reinterpret_cast<const char*>(text.data()), text.size());
}

const TexListCategory* current_category() { return texlist_find_category(&loader.texlist, loader.name); }

// Reports the fault; the default handler ends the program. When a test's
// handler returns, loading stops with the queue emptied.
int raise_fault(int32_t code, const std::string& text) {
  if (loader.state == STATE_DISPATCH) {
    std::fprintf(stderr, "tamberlune: package %s: chunk \"%s\" refused (error %d)\n", loader.name,
                 chunk_tag_text(loader.header.tag).c_str(), code);
  }
  if (fault_handler == nullptr) fatal_error_exit(1, 0, static_cast<uint16_t>(code), text.c_str());
  fault_handler(code, text.c_str());
  reset_package_loader();
  return 0;
}

int next_entry() {
  while (loader.head < loader.tail) {
    const LoadQueueEntry& e = loader.queue[loader.head & (kLoadQueueSize - 1)];
    // Packages are registered under their base name.
    if (!is_package_loaded(copy_base_name(e.name).c_str())) break;
    ++loader.head;
  }
  if (loader.head >= loader.tail) {
    // Textures loaded anywhere in the queue are there now for the meshes.
    resolve_mesh_textures();
    loader.file_size = loader.bytes_read = 0;
    loader.state = STATE_IDLE;
    return 0;
  }
  const LoadQueueEntry& e = loader.queue[loader.head & (kLoadQueueSize - 1)];
  const std::string base = copy_base_name(e.name);
  std::memset(loader.name, 0, sizeof loader.name);
  base.copy(loader.name, std::min<size_t>(base.size(), kLoadNameSize - 1));
  loader.kind = e.kind;
  loader.flags = e.flags;
  loader.file_size = loader.bytes_read = 0;
  if (e.kind == LOAD_KIND_PACKAGE) loader.state = STATE_OPEN_PACKAGE;
  else if (e.kind == LOAD_KIND_TEXLIST) loader.state = STATE_START_CATEGORY;
  else return raise_fault(LOADER_FAULT_BAD_KIND, "");
  return 1;
}

int dispatch_chunk() {
  const ChunkContext context{loader.name, loader.flags, loader.data_roots[0]};
  const PayloadView payload{loader.payload.data(), loader.payload.size()};
  if (LoaderFault f = dispatch_package_chunk(context, loader.header.tag, loader.header.version, payload)) {
    if (f.code == LOADER_FAULT_UNKNOWN_TAG) close_file();
    return raise_fault(f.code, f.text);
  }
  if (loader.header.tag == CHUNK_TAG_TEXTURE && loader.header.size > kLargeTextureChunkBytes) sys_yield();
  free_payload();
  loader.state = STATE_READ_HEADER;
  return 1;
}

// Reads the payload of the current header; its size is checked against what
// is left of the file before anything is allocated.
int read_payload() {
  free_payload();
  const uint64_t left = loader.file_size > loader.bytes_read ? loader.file_size - loader.bytes_read : 0;
  if (loader.header.size > left) return raise_fault(LOADER_FAULT_SHORT_PAYLOAD, "");
  loader.payload.resize(loader.header.size);
  if (loader.header.size != 0 && std::fread(loader.payload.data(), 1, loader.header.size, loader.file) != loader.header.size) {
    return raise_fault(LOADER_FAULT_SHORT_PAYLOAD, "");
  }
  loader.bytes_read += loader.header.size;
  loader.state = STATE_DISPATCH;
  return dispatch_chunk();
}

int read_header() {
  uint8_t bytes[kChunkHeaderBytes];
  const size_t got = std::fread(bytes, 1, sizeof bytes, loader.file);
  if (got == 0) {
    loader.state = STATE_CLOSE_PACKAGE;
    return 1;
  }
  if (got != sizeof bytes) return raise_fault(LOADER_FAULT_SHORT_HEADER, "");
  std::memcpy(&loader.header.tag, bytes, 4);
  std::memcpy(&loader.header.version, bytes + 4, 4);
  std::memcpy(&loader.header.size, bytes + 8, 4);
  loader.bytes_read += kChunkHeaderBytes;
  loader.state = STATE_READ_PAYLOAD;
  return read_payload();
}

int open_package() {
  close_file();
  loader.file = open_package_file(loader.name, "rb", &loader.file_size);
  if (loader.file == nullptr) {
    return raise_fault(LOADER_FAULT_OPEN, loader.queue[loader.head & (kLoadQueueSize - 1)].name);
  }
  loader.state = STATE_READ_HEADER;
  return read_header();
}

int start_category() {
  if (current_category() == nullptr) return raise_fault(LOADER_FAULT_NO_CATEGORY, loader.name);
  loader.texture_cursor = loader.crop_cursor = 0;
  loader.state = STATE_NEXT_ITEM;
  return 1;
}

void choose_next_item() {
  const TexListCategory* c = current_category();
  if (c && loader.texture_cursor < static_cast<int32_t>(c->textures.size())) loader.state = STATE_CATEGORY_TEXTURE;
  else if (c && loader.crop_cursor < static_cast<int32_t>(c->crops.size())) loader.state = STATE_CATEGORY_CROP;
  else loader.state = STATE_CLOSE_PACKAGE;
}

// A texture file that does not load is passed over.
void load_category_texture() {
  const TexListCategory* c = current_category();
  if (c && loader.texture_cursor < static_cast<int32_t>(c->textures.size())) {
    const std::string path = std::string(loader.texture_root) + c->textures[loader.texture_cursor];
    register_texture_from_file(c->name.c_str(), path.c_str(), 0);
  }
  ++loader.texture_cursor;
  loader.state = STATE_NEXT_ITEM;
}

void load_category_crop() {
  const TexListCategory* c = current_category();
  if (c && loader.crop_cursor < static_cast<int32_t>(c->crops.size())) {
    const TexListCrop& k = c->crops[loader.crop_cursor];
    register_crop(c->name.c_str(), k.name.c_str(), k.u, k.v, k.width, k.height, k.texture_file.c_str());
  }
  ++loader.crop_cursor;
  loader.state = STATE_NEXT_ITEM;
}

}  // namespace

void init_package_loader() {
  close_file();
  free_payload();
  texlist_clear(&loader.texlist);
  loader.state = 0;
  loader.header = ChunkHeader{};
  std::memset(loader.name, 0, sizeof(loader.name));
  loader.kind = loader.flags = 0;
  std::memset(loader.queue, 0, sizeof(loader.queue));
  loader.head = loader.tail = 0;
  loader.texture_cursor = loader.crop_cursor = 0;
  loader.mark = RegistryMark{};
  loader.file_size = loader.bytes_read = 0;
  set_root(loader.data_roots[0], "MDATAP");
  set_root(loader.data_roots[1], "MDATAPJ");
  // The second root comes first for the second language.
  int32_t language = 0;
  loader.root_preference = get_setting_int("golng", &language) && language == 1 ? 1 : 0;
  set_root(loader.texture_root, "TEXP");
  read_texture_list();
  mark_asset_registry(&loader.mark);
}

void shutdown_package_loader() {
  close_file();
  free_payload();
  release_asset_registry_to_mark(&loader.mark);
  texlist_clear(&loader.texlist);
}

void reset_package_loader() {
  close_file();
  free_payload();
  loader.head = loader.tail = 0;
  loader.state = 0;
}

bool enqueue_package(const char* name, uint32_t flags) {
  if (name == nullptr) return false;
  if (loader.head == loader.tail) loader.head = loader.tail = 0;
  if (loader.tail - loader.head >= kLoadQueueSize || loader.head > loader.tail) return false;
  if (std::strlen(name) >= kLoadNameSize) return false;
  for (uint32_t i = loader.head; i < loader.tail; ++i) {
    if (std::strcmp(loader.queue[i & (kLoadQueueSize - 1)].name, name) == 0) return true;
  }
  LoadQueueEntry& e = loader.queue[loader.tail & (kLoadQueueSize - 1)];
  std::memset(e.name, 0, sizeof(e.name));
  std::strcpy(e.name, name);
  e.kind = texlist_find_category(&loader.texlist, name) != nullptr ? LOAD_KIND_TEXLIST : LOAD_KIND_PACKAGE;
  e.flags = flags;
  ++loader.tail;
  if (loader.state == 0) loader.state = 1;
  return true;
}

bool enqueue_packages(const char* const* names, int count, uint32_t flags) {
  bool all = true;
  for (int i = 0; i < count; ++i) all = enqueue_package(names != nullptr ? names[i] : nullptr, flags) && all;
  return all;
}

bool is_package_loaded(const char* name) { return package_holds_assets(name); }

const char* get_data_root(int i) { return (i == 0 || i == 1) ? loader.data_roots[i] : nullptr; }
const char* get_texture_root() { return loader.texture_root; }
const PackageLoader* package_loader() { return &loader; }

int loader_step() {
  switch (loader.state) {
    case STATE_IDLE: return 0;
    case STATE_NEXT_ENTRY: return next_entry();
    case STATE_OPEN_PACKAGE: return open_package();
    case STATE_READ_HEADER: return read_header();
    case STATE_READ_PAYLOAD: return read_payload();
    case STATE_DISPATCH: return dispatch_chunk();
    case STATE_START_CATEGORY: return start_category();
    case STATE_NEXT_ITEM: choose_next_item(); return 1;
    case STATE_CATEGORY_TEXTURE: load_category_texture(); return 1;
    case STATE_CATEGORY_CROP: load_category_crop(); return 1;
    case STATE_CLOSE_PACKAGE:
      free_payload();
      close_file();
      ++loader.head;
      loader.state = STATE_NEXT_ENTRY;
      return 1;
    default: {
      char text[16];
      std::snprintf(text, sizeof text, "%08x", static_cast<uint32_t>(loader.state));
      return raise_fault(LOADER_FAULT_BAD_STATE, text);
    }
  }
}

int pump_package_loader(float budget) {
  int result = loader_step();
  while (result == 1 && (frame_clock ? frame_clock() : frame_time_percent()) < budget) result = loader_step();
  return result;
}

float loader_progress() {
  // A finished queue is complete, not half way.
  if (loader.tail == 0 || loader.head >= loader.tail) return 1.0f;
  const float file = loader.file_size ? clamp01(static_cast<float>(static_cast<double>(loader.bytes_read) /
                                                                   static_cast<double>(loader.file_size)))
                                      : 0.0f;
  const float done = clamp01(static_cast<float>(loader.head) / static_cast<float>(loader.tail + 1));
  return clamp01(done + file / static_cast<float>(loader.tail));
}

FILE* open_package_file(const char* name, const char* mode, uint64_t* size) {
  if (name == nullptr || mode == nullptr) return nullptr;
  for (int32_t k = 0; k < 2; ++k) {
    const int32_t root = (loader.root_preference + k) & 1;
    const std::string path = std::string(loader.data_roots[root]) + name + ".bin";
    if (FILE* f = sys_fopen(path, mode)) {
      if (size) {
        // Measured by seeking to the end, then back to the start.
        *size = 0;
        if (fseeko(f, 0, SEEK_END) == 0) {
          const off_t end = ftello(f);
          *size = end > 0 ? static_cast<uint64_t>(end) : 0;
        }
        fseeko(f, 0, SEEK_SET);
      }
      return f;
    }
  }
  return nullptr;
}

bool package_file_exists(const char* name) {
  FILE* f = open_package_file(name, "rb", nullptr);
  if (f == nullptr) return false;
  std::fclose(f);
  return true;
}

void set_package_loader_fault_handler(LoaderFaultHandler handler) { fault_handler = handler; }
void set_package_loader_clock(LoaderClock clock) { frame_clock = clock; }

void set_package_loader_roots(const char* data_root0, const char* data_root1, const char* texture_root,
                              int32_t preference) {
  copy_root(loader.data_roots[0], data_root0);
  copy_root(loader.data_roots[1], data_root1);
  copy_root(loader.texture_root, texture_root);
  loader.root_preference = preference & 1;
  texlist_clear(&loader.texlist);
  read_texture_list();
}
