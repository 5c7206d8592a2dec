#include "assets/package_chunks.h"

#include <cmath>
#include <cstdio>

#include "assets/asset_names.h"
#include "assets/crops.h"
#include "assets/mesh_decoder.h"
#include "assets/model_records.h"
#include "assets/textures.h"
#include "platform/sys/sys.h"

namespace {

constexpr ChunkKind kChunkKinds[] = {
    {CHUNK_TAG_MESH, 0x02000000, 4, 5},         {CHUNK_TAG_BONE, 0x01000000, 6, 7},
    {CHUNK_TAG_ANIMATION, 0x02000000, 8, 9},    {CHUNK_TAG_COLLISION, 0x01000000, 10, 11},
    {CHUNK_TAG_TEXTURE, 0x01000000, 12, 13},    {CHUNK_TAG_CROP, 0x01000000, 14, 15},
    {CHUNK_TAG_SPHERE_SET, 0x01000000, 16, 17}, {CHUNK_TAG_CAMERA_PATH, 0x01000000, 18, 19},
};

MeshChunkDecoder mesh_decoder = decode_mesh_chunk;

// The handlers: true when the chunk is accepted.
bool handle_mesh(const ChunkContext& c, PayloadView p) {
  if (mesh_decoder) return mesh_decoder(c, p);
  std::fprintf(stderr, "tamberlune: package %s: \"MDL \" chunk skipped, no mesh decoder\n", c.package);
  return true;
}

bool handle_bone(const ChunkContext& c, PayloadView p) {
  if (p.size == 0) return true;
  std::string name;
  if (!validate_bone_stream(p, &name)) return false;
  return name.empty() || register_bone_tree(c.package, name.c_str(), p.data, p.size) != 0;
}

bool handle_animation(const ChunkContext& c, PayloadView p) {
  std::string name;
  return validate_animation_payload(p, &name) && register_animation(c.package, name.c_str(), p.data, p.size) != 0;
}

bool handle_collision(const ChunkContext& c, PayloadView p) {
  std::string name;
  return validate_collision_payload(p, &name) && register_collision(c.package, name.c_str(), p.data, p.size) != 0;
}

// A sphere set that cannot be stored is ignored; only a malformed one is refused.
bool handle_sphere_set(const ChunkContext& c, PayloadView p) {
  std::string name;
  if (!validate_sphere_set_payload(p, &name)) return false;
  register_sphere_set(c.package, name.c_str(), p.data, p.size);
  return true;
}

bool handle_camera_path(const ChunkContext& c, PayloadView p) {
  if (p.size == 0) return true;
  std::string name;
  return validate_camera_path_payload(p, &name) &&
         register_camera_path(c.package, name.c_str(), p.data, p.size) != 0;
}

bool handle_texture(const ChunkContext& c, PayloadView p) {
  uint32_t name_at = 0, data_at = 0, data_size = 0;
  if (!p.u32_at(0, &name_at) || !p.u32_at(4, &data_at) || !p.u32_at(8, &data_size)) return false;
  const char* name = name_at ? p.cstr_at(name_at) : nullptr;
  if (!name || !p.span_at(data_at, data_size, 1)) return false;
  const uint8_t mip = (c.flags >> 1) & 1u;
  if (c.loose_texture_root) {
    const std::string loose = std::string(c.loose_texture_root) + copy_base_name(name) + ".dds";
    if (FILE* f = sys_fopen(loose, "rb")) {
      std::fclose(f);
      return register_texture_from_file(c.package, loose.c_str(), mip) != 0;
    }
  }
  return register_texture_from_memory(c.package, name, p.data + data_at, data_size, mip) != 0;
}

// Every entry is checked before any is registered; a crop that cannot be
// stored is passed over.
bool handle_crop(const ChunkContext& c, PayloadView p) {
  uint32_t count = 0;
  if (!p.u32_at(0, &count) || !p.span_at(4, count, 32)) return false;
  for (int pass = 0; pass < 2; ++pass) {
    for (uint32_t i = 0; i < count; ++i) {
      const uint64_t e = 4 + 32ull * i;
      const char* crop = p.cstr_at(payload_u32(p, e));
      const char* texture = p.cstr_at(payload_u32(p, e + 4));
      float f[4] = {};
      for (int k = 0; k < 4; ++k) p.f32_at(e + 16 + 4u * k, &f[k]);
      if (pass == 0) {
        if (!crop || !texture) return false;
        for (const float x : f) {
          if (!std::isfinite(x)) return false;
        }
      } else {
        register_crop(c.package, crop, f[0], f[1], f[2], f[3], texture);
      }
    }
  }
  return true;
}

bool run_handler(uint32_t tag, const ChunkContext& c, PayloadView p) {
  switch (tag) {
    case CHUNK_TAG_MESH: return handle_mesh(c, p);
    case CHUNK_TAG_BONE: return handle_bone(c, p);
    case CHUNK_TAG_ANIMATION: return handle_animation(c, p);
    case CHUNK_TAG_COLLISION: return handle_collision(c, p);
    case CHUNK_TAG_TEXTURE: return handle_texture(c, p);
    case CHUNK_TAG_CROP: return handle_crop(c, p);
    case CHUNK_TAG_SPHERE_SET: return handle_sphere_set(c, p);
    case CHUNK_TAG_CAMERA_PATH: return handle_camera_path(c, p);
    default: return false;
  }
}

LoaderFault fault(int32_t code, std::string text) {
  LoaderFault f;
  f.code = code;
  f.text = std::move(text);
  return f;
}

}  // namespace

const ChunkKind* find_chunk_kind(uint32_t tag) {
  for (const ChunkKind& k : kChunkKinds) {
    if (k.tag == tag) return &k;
  }
  return nullptr;
}

void set_mesh_chunk_decoder(MeshChunkDecoder decoder) { mesh_decoder = decoder; }

std::string chunk_tag_text(uint32_t tag) {
  std::string s(4, '?');
  for (int i = 0; i < 4; ++i) {
    const auto ch = static_cast<unsigned char>(tag >> (8 * i));
    if (ch >= 0x20 && ch < 0x7F) s[i] = static_cast<char>(ch);
  }
  return s;
}

LoaderFault dispatch_package_chunk(const ChunkContext& context, uint32_t tag, uint32_t version, PayloadView payload) {
  const char* package = context.package ? context.package : "";
  const ChunkKind* kind = find_chunk_kind(tag);
  char text[128];
  if (!kind) {
    std::snprintf(text, sizeof text, "%s/%s/%08x", package, chunk_tag_text(tag).c_str(), tag);
    return fault(LOADER_FAULT_UNKNOWN_TAG, text);
  }
  if (version != kind->version) {
    std::snprintf(text, sizeof text, "%s/%08x/%08x", package, version, kind->version);
    return fault(kind->wrong_version_code, text);
  }
  if (!payload.data && payload.size != 0) return fault(kind->refused_code, package);
  if (!run_handler(tag, context, payload)) return fault(kind->refused_code, package);
  return LoaderFault{};
}

LoaderFault load_package_from_memory(const ChunkContext& context, PayloadView file) {
  uint64_t at = 0;
  while (at < file.size) {
    uint32_t tag = 0, version = 0, size = 0;
    if (!file.u32_at(at, &tag) || !file.u32_at(at + 4, &version) || !file.u32_at(at + 8, &size)) {
      return fault(LOADER_FAULT_SHORT_HEADER, "");
    }
    at += kChunkHeaderBytes;
    if (!file.span_at(at, size, 1)) return fault(LOADER_FAULT_SHORT_PAYLOAD, "");
    if (LoaderFault f = dispatch_package_chunk(context, tag, version, file.sub(at, size))) return f;
    at += size;
  }
  return LoaderFault{};
}
