// Mesh records: the device vertex and index buffers of a decoded mesh, with
// its materials (texture slots resolved by name once a load queue has run
// empty) and bones, in the registry's mesh, material-entry and bone-entry
// pools.
#pragma once

#include <cstdint>
#include <vector>

#include "assets/asset_handle.h"
#include "render/device/gfx_resources.h"
#include "render/device/shaders.h"

struct DecodedMesh;
struct MaterialEntry;
struct ShaderBone;
using BoneEntry = ShaderBone;

// What the 3D parts read about a mesh. Bounds come first: centre x, y, z,
// the fourth sphere value, radius, squared radius, then the box.
struct MeshInfo {
  float centre[3];
  float value;  // the fourth sphere value of the file
  float radius;
  float radius_squared;
  float box_min[3];
  float box_max[3];
  uint32_t vertex_count;
  uint32_t index_count;
  uint32_t material_count;
  uint32_t bone_count;
  uint32_t tag_flags;  // NAME_TAG_NORMAL_MAP, NAME_TAG_SPECULAR_MAP
  AssetHandle first_texture;  // slot 0 of the first textured material, 0 when none
};

// The device mesh. Material and bone entries are ranges of the registry's
// entry pools; the buffers' texture-coordinate sets are, in order, the
// texture coordinates, the smoothed normals (when asked for) and the
// tangents (normal-mapped meshes, 4 components).
struct MeshObject {
  MeshBuffers buffers;
  MaterialEntry* materials;
  BoneEntry* bones;
  ShaderBoneSource bone_source;  // the bones and their count; a skinned draw's bone source
  uint32_t stride;
  int64_t bytes;  // vertex and index memory counted for the mesh
  MeshInfo info;
};

// Registers the decoded mesh under the base name of name: interns its
// texture names (with tag NRx a "_normal" slot in the package "<package>_NRM",
// with SPx as well a "_specular" slot) and bone names, then builds the
// device buffers. The handle of an existing mesh of this package and name;
// 0, with nothing changed, when the pools, their name buffers or the device
// cannot take it.
AssetHandle register_mesh(const char* package, const char* name, const DecodedMesh& mesh, uint32_t tags);
// The vertex bone indices as the device mesh takes them: an index past the
// mesh's bones (255 in an unused influence slot, any index in a mesh without
// bones) becomes its last bone, or 0, so no palette is read past its end.
std::vector<uint8_t> clamp_bone_indices(const std::vector<uint8_t>& indices, uint32_t bone_count);

// Fills every material slot's texture by package and name; a missing normal
// map takes the default "nrm" texture and a missing specular map "bl". Run
// after every load queue, so handles never outlive a release.
void resolve_mesh_textures();

// Registers a mesh of 3 x triangles zero vertices (positions, normals, one
// texture-coordinate set), no index buffer and one untextured material
// whose words are 0, 0, triangles - 1. 0 for no triangles, more than a
// 16-bit vertex count holds, or when register_mesh refuses it.
AssetHandle create_blank_mesh(const char* package, const char* name, uint32_t triangles);

// A unit cube round the origin (corners at +-0.5) as a triangle list of 36
// vertices with face normals, counter-clockwise seen from outside.
struct UnitCubeData {
  float positions[36][3];
  float normals[36][3];
  int32_t vertex_count;
};
const UnitCubeData* get_unit_cube_data();

// Null or 0 for an invalid handle.
const MeshObject* get_mesh_object(AssetHandle handle);
const MeshInfo* get_mesh_info(AssetHandle handle);
uint32_t get_mesh_tag_flags(AssetHandle handle);
