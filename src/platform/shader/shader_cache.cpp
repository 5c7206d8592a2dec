// Translated shaders kept by the key of their source and the translator's
// settings: in memory for the rest of the run, and on disk under the user's
// cache folder so that a later start skips the translation. A disk entry
// holds a header (magic, key, payload size, payload checksum) and the
// payload; an entry that does not check out is a miss and is written again.
#include <glslang/build_info.h>
#include <spirv_cross_c.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <unordered_map>

#include "platform/shader/shader_internal.h"

namespace {

constexpr char kMagic[8] = {'T', 'L', 'S', 'H', 'C', 'A', 'C', '1'};
constexpr size_t kHeaderSize = 8 + 8 + 4 + 4;
constexpr size_t kMaxPayload = 4u << 20;

// Everything besides the source that changes what the translator produces.
constexpr char kTranslatorSettings[] = "hlsl-dx9-compatible spirv-1.0 glsl-330 tl-names-1";

struct CachedShader {
  ShaderCode code;
  ShaderConstantTable table;
};

struct ShaderCache {
  std::mutex lock;
  std::unordered_map<uint64_t, CachedShader> entries;
};

ShaderCache cache;

uint64_t fnv1a(uint64_t h, const void* data, size_t size) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < size; ++i) h = (h ^ p[i]) * 0x100000001B3ull;
  return h;
}

uint64_t fnv1a_field(uint64_t h, const void* data, size_t size) {
  const uint64_t n = size;
  return fnv1a(fnv1a(h, &n, sizeof n), data, size);
}

uint32_t checksum(const std::string& bytes) {
  const uint64_t h = fnv1a(0xCBF29CE484222325ull, bytes.data(), bytes.size());
  return uint32_t(h ^ (h >> 32));
}

// ---------------------------------------------------------------- payload

void put_u32(std::string* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(char(v >> (8 * i)));
}

void put_bytes(std::string* out, const void* data, size_t size) {
  put_u32(out, uint32_t(size));
  out->append(static_cast<const char*>(data), size);
}

struct Reader {
  const std::string& bytes;
  size_t pos = 0;
  bool ok = true;

  uint32_t u32() {
    if (bytes.size() - pos < 4) {
      ok = false;
      return 0;
    }
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= uint32_t(uint8_t(bytes[pos + size_t(i)])) << (8 * i);
    pos += 4;
    return v;
  }
  uint8_t u8() { return uint8_t(u32()); }
  std::string text() {
    const uint32_t n = u32();
    if (!ok || bytes.size() - pos < n) {
      ok = false;
      return {};
    }
    std::string s = bytes.substr(pos, n);
    pos += n;
    return s;
  }
};

std::string encode(const ShaderCode& code, const ShaderConstantTable& table) {
  std::string out;
  put_u32(&out, uint32_t(code.stage));
  put_bytes(&out, code.glsl.data(), code.glsl.size());
  put_u32(&out, uint32_t(code.varyings.size()));
  for (const GpuShaderVarying& v : code.varyings) {
    put_u32(&out, v.usage);
    put_u32(&out, v.usage_index);
    put_u32(&out, v.components);
    put_u32(&out, v.output);
    put_bytes(&out, v.name, strnlen(v.name, sizeof v.name));
  }
  put_u32(&out, uint32_t(table.constants.size()));
  for (const ShaderConstant& k : table.constants) {
    put_bytes(&out, k.name.data(), k.name.size());
    for (uint32_t v : {k.offset, uint32_t(k.base), uint32_t(k.rows), uint32_t(k.columns), uint32_t(k.matrix),
                       uint32_t(k.transposed), k.elements, k.array_stride, k.matrix_stride})
      put_u32(&out, v);
  }
  return out;
}

bool decode(const std::string& bytes, ShaderCode* code, ShaderConstantTable* table) {
  Reader r{bytes};
  const uint32_t stage = r.u32();
  if (stage != GPU_SHADER_VERTEX && stage != GPU_SHADER_PIXEL) return false;
  code->stage = table->stage = GpuShaderStage(stage);
  code->glsl = r.text();
  const uint32_t varyings = r.u32();
  if (!r.ok || varyings > 64) return false;
  code->varyings.clear();
  for (uint32_t i = 0; i < varyings && r.ok; ++i) {
    GpuShaderVarying v{};
    v.usage = r.u8();
    v.usage_index = r.u8();
    v.components = r.u8();
    v.output = r.u32() != 0;
    const std::string name = r.text();
    if (name.size() >= sizeof v.name || v.components < 1 || v.components > 4) return false;
    std::memcpy(v.name, name.data(), name.size());
    code->varyings.push_back(v);
  }
  const uint32_t constants = r.u32();
  if (!r.ok || constants > 4096) return false;
  table->constants.clear();
  for (uint32_t i = 0; i < constants && r.ok; ++i) {
    ShaderConstant k{};
    k.name = r.text();
    k.offset = r.u32();
    const uint32_t base = r.u32();
    k.rows = r.u8();
    k.columns = r.u8();
    k.matrix = r.u32() != 0;
    k.transposed = r.u32() != 0;
    k.elements = r.u32();
    k.array_stride = r.u32();
    k.matrix_stride = r.u32();
    if (base > SHADER_UINT || k.rows < 1 || k.rows > 4 || k.columns < 1 || k.columns > 4 || k.elements < 1)
      return false;
    k.base = ShaderBaseType(base);
    table->constants.push_back(k);
  }
  return r.ok && r.pos == bytes.size() && code->glsl.find("void tl_main()") != std::string::npos;
}

// ---------------------------------------------------------------- disk

// XDG_CACHE_HOME when it is an absolute path, else ~/.cache; "" when neither
// is known.
std::filesystem::path cache_folder() {
  const char* xdg = std::getenv("XDG_CACHE_HOME");
  if (xdg != nullptr && xdg[0] == '/') return std::filesystem::path(xdg) / "tamberlune" / "shaders";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return std::filesystem::path(home) / ".cache" / "tamberlune" / "shaders";
  return {};
}

std::filesystem::path entry_path(uint64_t key) {
  const std::filesystem::path folder = cache_folder();
  if (folder.empty()) return {};
  char name[32];
  std::snprintf(name, sizeof name, "%016llx.glsl", static_cast<unsigned long long>(key));
  return folder / name;
}

bool read_entry(uint64_t key, ShaderCode* code, ShaderConstantTable* table) {
  const std::filesystem::path path = entry_path(key);
  if (path.empty()) return false;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  std::string header(kHeaderSize, '\0');
  bool ok = std::fread(header.data(), 1, kHeaderSize, f) == kHeaderSize && std::memcmp(header.data(), kMagic, 8) == 0;
  uint64_t stored_key = 0;
  uint32_t size = 0, sum = 0;
  if (ok) {
    std::memcpy(&stored_key, header.data() + 8, 8);
    std::memcpy(&size, header.data() + 16, 4);
    std::memcpy(&sum, header.data() + 20, 4);
    ok = stored_key == key && size <= kMaxPayload;
  }
  std::string payload;
  if (ok) {
    payload.resize(size);
    ok = std::fread(payload.data(), 1, size, f) == size && std::fgetc(f) == EOF && checksum(payload) == sum;
  }
  std::fclose(f);
  return ok && decode(payload, code, table);
}

// Written to a private file first and renamed over the entry, so a reader
// never sees half an entry. A folder that cannot be written loses only the
// saving.
void write_entry(uint64_t key, const ShaderCode& code, const ShaderConstantTable& table) {
  const std::filesystem::path path = entry_path(key);
  if (path.empty()) return;
  std::error_code ec;
  std::filesystem::create_directories(path.parent_path(), ec);
  if (ec) return;
  const std::string payload = encode(code, table);
  std::string header(kMagic, 8);
  header.append(reinterpret_cast<const char*>(&key), 8);
  const uint32_t size = uint32_t(payload.size()), sum = checksum(payload);
  header.append(reinterpret_cast<const char*>(&size), 4);
  header.append(reinterpret_cast<const char*>(&sum), 4);
  std::filesystem::path temp = path;
  temp += ".tmp" + std::to_string(::getpid());
  std::FILE* f = std::fopen(temp.c_str(), "wb");
  if (f == nullptr) return;
  bool ok = std::fwrite(header.data(), 1, header.size(), f) == header.size() &&
            std::fwrite(payload.data(), 1, payload.size(), f) == payload.size();
  ok = std::fclose(f) == 0 && ok;
  if (ok) std::filesystem::rename(temp, path, ec);
  if (!ok || ec) std::filesystem::remove(temp, ec);
}

}  // namespace

uint64_t shader_cache_key(const char* source, size_t size, const char* entry, const char* profile) {
  uint64_t h = 0xCBF29CE484222325ull;
  const std::string versions = std::to_string(GLSLANG_VERSION_MAJOR) + "." + std::to_string(GLSLANG_VERSION_MINOR) +
                               "." + std::to_string(GLSLANG_VERSION_PATCH) + " spvc " +
                               std::to_string(SPVC_C_API_VERSION_MAJOR) + "." +
                               std::to_string(SPVC_C_API_VERSION_MINOR);
  h = fnv1a_field(h, kTranslatorSettings, sizeof kTranslatorSettings - 1);
  h = fnv1a_field(h, versions.data(), versions.size());
  h = fnv1a_field(h, entry, std::strlen(entry));
  h = fnv1a_field(h, profile, std::strlen(profile));
  return fnv1a_field(h, source, size);
}

bool shader_cache_find(uint64_t key, ShaderCode* code, ShaderConstantTable* table) {
  std::lock_guard<std::mutex> guard(cache.lock);
  auto it = cache.entries.find(key);
  if (it == cache.entries.end()) {
    CachedShader loaded;
    if (!read_entry(key, &loaded.code, &loaded.table)) return false;
    it = cache.entries.emplace(key, std::move(loaded)).first;
  }
  *code = it->second.code;
  *table = it->second.table;
  return true;
}

void shader_cache_store(uint64_t key, const ShaderCode& code, const ShaderConstantTable& table) {
  std::lock_guard<std::mutex> guard(cache.lock);
  cache.entries[key] = CachedShader{code, table};
  write_entry(key, code, table);
}

void shader_cache_forget() {
  std::lock_guard<std::mutex> guard(cache.lock);
  cache.entries.clear();
}
