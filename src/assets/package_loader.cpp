#include "assets/package_loader.h"

#include <cstring>
#include <string>

#include "platform/sys/sys.h"
#include "shell/startup_config.h"

namespace {

PackageLoader loader;

// The key's start-up value, or ".\bin\"; a value that does not fit leaves
// the root empty.
void set_root(char* root, const char* key) {
  const char* value = get_startup_string(key);
  if (value == nullptr) value = ".\\bin\\";
  root[0] = '\0';
  if (std::strlen(value) < kLoaderRootSize) std::strcpy(root, value);
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
  // The settings store that could choose the second root is not kept by
  // this program, so the first root is preferred.
  loader.root_preference = 0;
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

bool is_package_loaded(const char* name) { return find_package(name) > 0; }

const char* get_data_root(int i) { return (i == 0 || i == 1) ? loader.data_roots[i] : nullptr; }
const char* get_texture_root() { return loader.texture_root; }
const PackageLoader* package_loader() { return &loader; }
