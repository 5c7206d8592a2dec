// The engine's shared device resources: the 2D vertex scratch and the quad
// index list, the scratch array, the white texture, the saved back-buffer
// and depth records, the current target and depth records, texture binding
// per stage with its cache. The engine's registry mark: assets/device_bindings.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/gpu/gpu.h"
#include "render/device/device_resources.h"

// The vertex of all 2D drawing: pre-transformed position, colour, two
// texture-coordinate sets (36 bytes).
struct ScreenVertex {
  float x, y, z, rhw;
  uint32_t diffuse;
  float tu0, tv0;
  float tu1, tv1;
};
static_assert(sizeof(ScreenVertex) == 36);
constexpr uint32_t kScreenVertexFvf = GPU_FVF_XYZRHW | GPU_FVF_DIFFUSE | gpu_fvf_tex(2);

enum {
  GFX_QUAD_CAPACITY = 4096,
  GFX_VERTEX_SCRATCH_COUNT = 16384,
  GFX_SCRATCH_ARRAY_BYTES = 655360,
  GFX_STAGE_COUNT = 8,
};

// Quad q holds 4q, 4q+1, 4q+2, 4q+3, 4q+2, 4q+1.
const uint16_t* gfx_index_scratch();
// z 0 and rhw 1 preset; 2D drawing writes the other fields.
ScreenVertex* gfx_vertex_scratch();
uint8_t* gfx_scratch_array();

DepthSurfaceObject* gfx_saved_back_buffer_record();
DepthSurfaceObject* gfx_saved_depth_record();
const TextureObject* gfx_white_texture();
// Render target 0 as last bound: its surface and size.
const DepthSurfaceObject* gfx_current_target_record();
int gfx_target_width();
int gfx_target_height();
// The bound depth record, null when none.
DepthSurfaceObject* gfx_current_depth_record();
// Kept by the render-target binding of the device resources.
void gfx_set_current_target_record(const DepthSurfaceObject& record);
void gfx_set_current_depth_record(DepthSurfaceObject* record);

// Binds the object's texture on the stage with filter index 0 point or
// 1 linear, sending only the sampler states and texture that differ from the
// stage's cache. No object, or an empty one, binds the white texture on
// stage 0 and nothing on the others.
void gfx_bind_texture(GpuDevice* device, int stage, const TextureObject* object, int filter_index);
// Sets the stage's magnification and minification filters (index 0 point,
// 1 linear) and notes them in the stage's cache.
void gfx_set_stage_filter(GpuDevice* device, int stage, int filter_index);
// Marks every stage's cache stale (after a reset, the device's defaults).
void gfx_invalidate_stage_cache();

void gfx_resources_init();
void gfx_resources_release();
void gfx_resources_noop();

// Vertex and index buffers of a mesh.
struct MeshBuffers {
  GpuVertexBuffer* vertex_buffer;
  GpuIndexBuffer* index_buffer;
  int32_t fvf_index;
  uint32_t fvf;
  uint32_t stride;
  uint32_t vertex_count, index_count, primitive_count;
  float bounds_min[3], bounds_max[3];
  uint32_t packed;  // bit 20: elongated (largest extent at least 3 times the smallest)
};
enum : uint32_t { MESH_PACKED_ELONGATED = 1u << 20 };

// What a mesh gives its buffers. Positions are three floats per vertex;
// weights (1 to 4 per vertex) come with four bone indices per vertex.
struct MeshData {
  const float* positions;
  const float* normals;         // 3 per vertex, or null
  const uint32_t* colours;      // ARGB per vertex, or null
  const float* weights;         // weight_count per vertex, or null
  const uint8_t* bone_indices;  // 4 per vertex with weights
  int weight_count;
  const float* texcoords[4];  // texcoord_sizes[i] floats per vertex per set
  int texcoord_sizes[4];      // 1 to 4, 0 ends the sets
  const uint16_t* indices;
  uint32_t vertex_count, index_count;
  int fvf_index;
};
bool gfx_build_mesh_buffers(MeshBuffers* buffers, const MeshData& mesh);
void gfx_release_mesh_buffers(MeshBuffers* buffers);
uint32_t gfx_vertex_count_for_primitives(GpuPrimitive type, uint32_t count);
