#include "assets/mesh_records.h"

#include <algorithm>
#include <string>
#include <vector>

#include "assets/asset_names.h"
#include "assets/mesh_decoder.h"
#include "assets/model_records.h"
#include "assets/registry_internal.h"
#include "assets/textures.h"
#include "render/device/shaders.h"

namespace {

AssetRegistry& reg() { return registry_block(); }

const char* cursor_of(const ByteBuffer& b) { return b.start ? b.start + b.used : nullptr; }

// Interns a texture name into the material name buffer; an empty name is
// stored as null. False when the buffer is full.
bool intern_slot_name(const std::string& name, const char** out) {
  *out = nullptr;
  if (name.empty()) return true;
  *out = buffer_copy_name(&reg().material_entries.names, name);
  return *out != nullptr;
}

// Fills the material entries from the decoded materials at the pools' next
// free records; false when a name does not fit.
bool fill_materials(MaterialEntry* out, const DecodedMesh& m, const char* package, uint32_t tags) {
  const char* maps_package = nullptr;
  if (tags & NAME_TAG_NORMAL_MAP) {
    maps_package = intern_package_name((std::string(package ? package : "") + "_NRM").c_str());
    if (!maps_package) return false;
  }
  for (uint32_t i = 0; i < m.material_count; ++i) {
    const DecodedMaterial& d = m.materials[i];
    MaterialEntry& e = out[i];
    e = MaterialEntry{};
    for (int k = 0; k < 3; ++k) e.words[k] = d.words[k];
    e.slot_count = d.slot_count;
    const std::string base = d.texture_names[0] ? copy_base_name(d.texture_names[0]) : std::string();
    e.packages[0] = package;
    if (!intern_slot_name(base, &e.texture_names[0])) return false;
    if (tags & NAME_TAG_NORMAL_MAP) {
      e.slot_count = 2;
      e.packages[1] = maps_package;
      if (!intern_slot_name(base.empty() ? base : base + "_normal", &e.texture_names[1])) return false;
      if (tags & NAME_TAG_SPECULAR_MAP) {
        e.slot_count = 3;
        e.packages[2] = maps_package;
        if (!intern_slot_name(base.empty() ? base : base + "_specular", &e.texture_names[2])) return false;
      }
    }
  }
  return true;
}

bool fill_bones(BoneEntry* out, const DecodedMesh& m) {
  for (uint32_t i = 0; i < m.bone_count; ++i) {
    const DecodedBone& d = m.bones[i];
    out[i] = BoneEntry{};
    out[i].name_hash = d.hash;
    out[i].offset = d.matrix;
    if (d.name && !(out[i].name = buffer_copy_name(&reg().bone_entries.names, d.name))) return false;
  }
  return true;
}

}  // namespace

std::vector<uint8_t> clamp_bone_indices(const std::vector<uint8_t>& indices, uint32_t bone_count) {
  const uint8_t last = static_cast<uint8_t>(bone_count == 0 ? 0 : std::min<uint32_t>(bone_count - 1, 255));
  std::vector<uint8_t> out(indices);
  for (uint8_t& i : out) i = std::min(i, last);
  return out;
}

namespace {

bool build_buffers(MeshObject* o, const DecodedMesh& m) {
  MeshData d{};
  d.positions = m.positions.data();
  d.normals = m.normals.empty() ? nullptr : m.normals.data();
  d.colours = m.colours.empty() ? nullptr : m.colours.data();
  std::vector<uint8_t> bone_indices;
  if (m.skin_influences) {
    d.weights = m.skin_weights.data();
    bone_indices = clamp_bone_indices(m.skin_indices, m.bone_count);
    d.bone_indices = bone_indices.data();
    d.weight_count = int(m.skin_influences);
  }
  int sets = 0;
  for (uint32_t s = 0; s < m.coord_set_count && s < 2; ++s) {
    d.texcoords[sets] = m.coord_sets[s].data.data();
    d.texcoord_sizes[sets++] = m.coord_sets[s].components;
  }
  if (!m.tangents.empty()) {
    d.texcoords[sets] = m.tangents.data();
    d.texcoord_sizes[sets++] = 4;
  }
  d.indices = m.indices.empty() ? nullptr : m.indices.data();
  d.vertex_count = m.vertex_count;
  d.index_count = m.index_count;
  d.fvf_index = -1;
  if (!gfx_build_mesh_buffers(&o->buffers, d)) return false;
  o->buffers.fvf_index = find_fvf_index(o->buffers.fvf);
  o->stride = o->buffers.stride;
  o->bytes = int64_t(o->buffers.vertex_count) * o->stride + int64_t(o->buffers.index_count) * 2;
  return true;
}

void fill_info(MeshInfo* info, const DecodedMesh& m, uint32_t tags) {
  *info = MeshInfo{};
  for (int k = 0; k < 3; ++k) {
    info->centre[k] = m.sphere[k];
    info->box_min[k] = m.box[k];
    info->box_max[k] = m.box[3 + k];
  }
  info->value = m.sphere[3];
  info->radius = m.sphere[4];
  info->radius_squared = m.sphere[5];
  info->vertex_count = m.vertex_count;
  info->index_count = m.index_count;
  info->material_count = m.material_count;
  info->bone_count = m.bone_count;
  info->tag_flags = tags;
}

}  // namespace

AssetHandle register_mesh(const char* package, const char* name, const DecodedMesh& m, uint32_t tags) {
  AssetRegistry& r = reg();
  if (m.vertex_count == 0 || m.positions.empty()) return 0;
  const std::string base = copy_base_name(name);
  const Registration g = begin_registration(r.meshes, package, base);
  if (g.index < 0) return g.handle;
  auto& mats = r.material_entries;
  auto& bones = r.bone_entries;
  // The entries a mesh needs must all be free before anything is built.
  const bool room = (m.material_count == 0 || mats.records) && (m.bone_count == 0 || bones.records) &&
                    int64_t(mats.count) + m.material_count <= mats.capacity &&
                    int64_t(bones.count) + m.bone_count <= bones.capacity;
  const char* material_names = cursor_of(mats.names);
  const char* bone_names = cursor_of(bones.names);
  MeshRecord& rec = r.meshes.records[g.index];
  MaterialEntry* mat_out = m.material_count ? mats.records + mats.count : nullptr;
  BoneEntry* bone_out = m.bone_count ? bones.records + bones.count : nullptr;
  if (!room || !fill_materials(mat_out, m, g.package, tags) || !fill_bones(bone_out, m) ||
      !build_buffers(&rec.object, m)) {
    buffer_rewind(&mats.names, material_names);
    buffer_rewind(&bones.names, bone_names);
    rec = MeshRecord{};
    abandon_registration(r.meshes, g);
    return 0;
  }
  rec.object.materials = mat_out;
  rec.object.bones = bone_out;
  rec.object.bone_source = ShaderBoneSource{bone_out, int32_t(m.bone_count)};
  fill_info(&rec.object.info, m, tags);
  rec.info = &rec.object.info;
  mats.count += int32_t(m.material_count);
  bones.count += int32_t(m.bone_count);
  if (mats.count > mats.peak_count) mats.peak_count = mats.count;
  if (bones.count > bones.peak_count) bones.peak_count = bones.count;
  r.mesh_bytes += rec.object.bytes;
  return finish_registration(r.meshes, g);
}

void unregister_mesh(int32_t index) {
  AssetRegistry& r = reg();
  MeshRecord& rec = r.meshes.records[index];
  MeshObject& o = rec.object;
  r.mesh_bytes -= o.bytes;
  for (int32_t i = int32_t(o.info.material_count) - 1; o.materials && i >= 0; --i)
    for (int32_t s = o.materials[i].slot_count - 1; s >= 0; --s)
      buffer_rewind(&r.material_entries.names, o.materials[i].texture_names[s]);
  for (int32_t i = int32_t(o.info.bone_count) - 1; o.bones && i >= 0; --i)
    buffer_rewind(&r.bone_entries.names, o.bones[i].name);
  gfx_release_mesh_buffers(&o.buffers);
  buffer_rewind(&r.meshes.names, rec.head.name);
  rec = MeshRecord{};
}

void resolve_mesh_textures() {
  AssetRegistry& r = reg();
  for (int32_t i = 0; i < r.meshes.count; ++i) {
    MeshObject& o = r.meshes.records[i].object;
    o.info.first_texture = 0;
    for (uint32_t k = 0; o.materials && k < o.info.material_count; ++k) {
      MaterialEntry& e = o.materials[k];
      for (int32_t s = 0; s < e.slot_count && s < 4; ++s) {
        const char* name = e.texture_names[s];
        e.textures[s] = (name && *name) ? find_texture(e.packages[s], name) : 0;
        if (e.textures[s] == 0 && name && *name) {
          if (s == 1 && (o.info.tag_flags & NAME_TAG_NORMAL_MAP))
            e.textures[s] = r.default_textures[DEFAULT_TEXTURE_NORMAL];
          if (s == 2 && (o.info.tag_flags & NAME_TAG_SPECULAR_MAP))
            e.textures[s] = r.default_textures[DEFAULT_TEXTURE_BLACK];
        }
      }
      if (o.info.first_texture == 0 && e.slot_count > 0) o.info.first_texture = e.textures[0];
    }
  }
}

const MeshObject* get_mesh_object(AssetHandle handle) {
  const MeshRecord* r = get_mesh_record(handle);
  return r ? &r->object : nullptr;
}

const MeshInfo* get_mesh_info(AssetHandle handle) {
  const MeshRecord* r = get_mesh_record(handle);
  return r ? r->info : nullptr;
}

uint32_t get_mesh_tag_flags(AssetHandle handle) {
  const MeshRecord* r = get_mesh_record(handle);
  return r ? r->object.info.tag_flags : 0;
}

AssetHandle create_blank_mesh(const char* package, const char* name, uint32_t triangles) {
  if (triangles == 0 || triangles > kMeshMaxIndexedVertices / 3) return 0;
  DecodedMesh m{};
  m.vertex_count = triangles * 3;
  m.positions.assign(size_t(m.vertex_count) * 3, 0.0f);
  m.normals.assign(size_t(m.vertex_count) * 3, 0.0f);
  m.coord_sets[0].data.assign(size_t(m.vertex_count) * 2, 0.0f);
  m.coord_sets[0].components = 2;
  m.coord_set_count = 1;
  m.materials.resize(1);
  m.materials[0].words[0] = 0;
  m.materials[0].words[1] = 0;
  m.materials[0].words[2] = triangles - 1;
  m.material_count = 1;
  return register_mesh(package, name, m, 0);
}

const UnitCubeData* get_unit_cube_data() {
  // Per face: its normal and its four corners, counter-clockwise seen from
  // outside; two triangles (0, 1, 2) and (0, 2, 3) each.
  static const float kFaces[6][3] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
  static UnitCubeData cube = [] {
    UnitCubeData c{};
    int v = 0;
    for (const auto& n : kFaces) {
      // Two axes across the face, so that u x w points along the normal.
      const float u[3] = {n[1] + n[2] != 0 ? 1.0f : 0.0f, n[0] != 0 ? 1.0f : 0.0f, 0.0f};
      float w[3] = {n[1] * u[2] - n[2] * u[1], n[2] * u[0] - n[0] * u[2], n[0] * u[1] - n[1] * u[0]};
      const float su[4] = {-0.5f, 0.5f, 0.5f, -0.5f}, sw[4] = {-0.5f, -0.5f, 0.5f, 0.5f};
      float corner[4][3];
      for (int k = 0; k < 4; ++k)
        for (int a = 0; a < 3; ++a) corner[k][a] = n[a] * 0.5f + u[a] * su[k] + w[a] * sw[k];
      for (int k : {0, 1, 2, 0, 2, 3}) {
        for (int a = 0; a < 3; ++a) {
          c.positions[v][a] = corner[k][a];
          c.normals[v][a] = n[a];
        }
        ++v;
      }
    }
    c.vertex_count = v;
    return c;
  }();
  return &cube;
}
