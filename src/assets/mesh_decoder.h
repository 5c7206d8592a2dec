// The mesh decoder: turns an "MDL " payload (separate attribute pools with
// one index per triangle corner into each pool) into vertex streams with one
// entry per distinct corner, a 16-bit index buffer, materials, bones, bounds
// and, for normal-mapped meshes, tangents. Every offset and index is checked
// against the payload first; a payload that fails is refused whole.
#pragma once

#include <cstdint>
#include <vector>

#include "assets/asset_handle.h"
#include "assets/payload_view.h"
#include "math/mat4.h"

constexpr uint32_t kMeshPayloadVersion = 0x02000000;
constexpr uint32_t kMeshHeaderBytes = 112;  // 28 u32 words
constexpr uint32_t kMeshMaterialBytes = 16;
constexpr uint32_t kMeshSkinBytes = 20;  // 4 u8 bone indices, 4 f32 weights
constexpr uint32_t kMeshBoneMatrixBytes = 64;
// From this triangle count on, corners are not welded and no index buffer
// is made.
constexpr uint32_t kMeshUnweldedTriangles = 65535;
// The device takes 16-bit indices, so a welded mesh may have this many
// vertices at most; more are expanded without an index buffer.
constexpr uint32_t kMeshMaxIndexedVertices = 65535;
// Queue flag bit 0: add the smoothed-normal coordinate set.
constexpr uint32_t kMeshFlagSmoothedNormals = 1u << 0;
// Positions closer than this (squared) share their smoothed normal.
constexpr float kMeshSmoothDistanceSq = 2.5e-5f;

struct DecodedCoordSet {
  std::vector<float> data;
  int32_t components;
};

struct DecodedBone {
  const char* name;  // inside the payload
  uint32_t hash;
  Mat4 matrix;
};

struct DecodedMaterial {
  uint32_t words[3];  // passed on unchanged to the device mesh
  const char* packages[4];
  const char* texture_names[4];  // slot 0: inside the payload, null when untextured
  AssetHandle textures[4];
  int32_t slot_count;
};

struct DecodedMesh {
  std::vector<float> positions;  // x, y, z per vertex
  std::vector<float> normals;    // empty without a normal stream
  std::vector<uint32_t> colours;
  DecodedCoordSet coord_sets[2];  // 0: texture coordinates (2), 1: smoothed normals (3)
  std::vector<float> skin_weights;  // 4 per vertex
  std::vector<uint8_t> skin_indices;
  std::vector<float> tangents;  // x, y, z, w (handedness) per vertex
  std::vector<DecodedBone> bones;
  std::vector<uint16_t> indices;  // empty for an unwelded mesh
  std::vector<DecodedMaterial> materials;
  uint32_t vertex_count;
  uint32_t index_count;
  uint32_t skin_influences;  // 4 when skinned, else 0
  uint32_t bone_count;
  uint32_t material_count;
  uint32_t coord_set_count;
  float sphere[6];  // centre x, y, z, the fourth value, radius, squared radius
  float box[6];     // minimum x, y, z, maximum x, y, z
};

// What a valid payload holds, as checked by validate_mesh_payload.
struct MeshPayloadLayout {
  uint32_t triangles;
  const char* name;
  bool positions, normals, coords, skin, colours;
  uint32_t bones;      // 0 unless both bone tables are present
  uint32_t materials;
};

// Checks the whole layout: the header and material table fit, the name and
// every texture and bone name end inside the payload, every used index
// stream fits and indexes inside its pool. Skin bone indices are not held
// to the bone count (unused slots carry 255); the device mesh clamps them.
// A payload without triangles or positions is refused too.
bool validate_mesh_payload(PayloadView payload, MeshPayloadLayout* layout);

// Both decoders validate first and leave out empty when the payload fails.
// flags: the loader's queue flags; tags: the mesh name's tag bits.
bool decode_mesh_welded(DecodedMesh* out, const char* package, PayloadView payload, uint32_t flags, uint32_t tags);
bool decode_mesh_unwelded(DecodedMesh* out, const char* package, PayloadView payload, uint32_t flags,
                          uint32_t tags);
// Welded below kMeshUnweldedTriangles triangles, else unwelded.
bool decode_mesh(DecodedMesh* out, const char* package, PayloadView payload, uint32_t flags, uint32_t tags);
void free_decoded_mesh(DecodedMesh* mesh);

struct ChunkContext;
// The "MDL " chunk handler: strips the name's tags, decodes and registers
// the mesh. False only for a malformed payload; an empty payload, a mesh
// without triangles, or one the registry cannot hold, is passed over.
bool decode_mesh_chunk(const ChunkContext& context, PayloadView payload);
