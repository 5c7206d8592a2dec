#include "render/device/gfx_resources.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "render/device/gfx_device.h"
#include "render/device/render_states.h"

namespace {

constexpr uint64_t kStale = ~uint64_t(0);

// What a stage was last given. The texture is remembered by the device
// texture's id, which no later texture repeats, so a new texture in a reused
// record is always bound.
struct StageCache {
  int32_t u, v, filter, mip;
  uint64_t texture_id;
};

struct Resources {
  uint16_t quad_indices[GFX_QUAD_CAPACITY * 6];
  ScreenVertex vertices[GFX_VERTEX_SCRATCH_COUNT];
  uint8_t scratch[GFX_SCRATCH_ARRAY_BYTES];
  DepthSurfaceObject saved_back_buffer;
  DepthSurfaceObject saved_depth;
  TextureObject white;
  StageCache stages[GFX_STAGE_COUNT];
  DepthSurfaceObject current_target;
  DepthSurfaceObject* current_depth;
};

Resources res;

void gfx_init_scratch_buffers() {
  for (uint32_t q = 0; q < GFX_QUAD_CAPACITY; ++q) {
    uint16_t* i = &res.quad_indices[q * 6];
    uint16_t b = uint16_t(q * 4);
    i[0] = b;
    i[1] = uint16_t(b + 1);
    i[2] = uint16_t(b + 2);
    i[3] = uint16_t(b + 3);
    i[4] = uint16_t(b + 2);
    i[5] = uint16_t(b + 1);
  }
  for (ScreenVertex& v : res.vertices) {
    v = ScreenVertex{};
    v.z = 0.0f;
    v.rhw = 1.0f;
  }
}

void take_saved_records() {
  GpuDevice* d = gfx_device();
  res.saved_back_buffer = DepthSurfaceObject{};
  res.saved_depth = DepthSurfaceObject{};
  if (!d) return;
  GpuSurfaceDesc desc{};
  if (gpu_get_render_target(d, 0, &res.saved_back_buffer.surface) == GPU_OK &&
      gpu_surface_desc(res.saved_back_buffer.surface, &desc) == GPU_OK) {
    res.saved_back_buffer.format = desc.format;
    res.saved_back_buffer.bits = uint8_t(gfx_format_bits(desc.format));
  }
  if (gpu_get_depth_surface(d, &res.saved_depth.surface) == GPU_OK &&
      gpu_surface_desc(res.saved_depth.surface, &desc) == GPU_OK) {
    res.saved_depth.width = uint16_t(desc.width);
    res.saved_depth.height = uint16_t(desc.height);
    res.saved_depth.format = desc.format;
    res.saved_depth.bits = uint8_t(gfx_format_bits(desc.format));
  }
}

void release_saved_records() {
  gpu_surface_release(res.saved_back_buffer.surface);
  gpu_surface_release(res.saved_depth.surface);
  res.saved_back_buffer = DepthSurfaceObject{};
  res.saved_depth = DepthSurfaceObject{};
}

}  // namespace

const uint16_t* gfx_index_scratch() { return res.quad_indices; }
ScreenVertex* gfx_vertex_scratch() { return res.vertices; }
uint8_t* gfx_scratch_array() { return res.scratch; }
DepthSurfaceObject* gfx_saved_back_buffer_record() { return &res.saved_back_buffer; }
DepthSurfaceObject* gfx_saved_depth_record() { return &res.saved_depth; }
const TextureObject* gfx_white_texture() { return &res.white; }
const DepthSurfaceObject* gfx_current_target_record() { return &res.current_target; }
int gfx_target_width() { return res.current_target.width; }
int gfx_target_height() { return res.current_target.height; }
DepthSurfaceObject* gfx_current_depth_record() { return res.current_depth; }
void gfx_set_current_target_record(const DepthSurfaceObject& r) { res.current_target = r; }
void gfx_set_current_depth_record(DepthSurfaceObject* r) { res.current_depth = r; }

void gfx_invalidate_stage_cache() {
  for (StageCache& c : res.stages) c = StageCache{-1, -1, -1, -1, kStale};
}

void gfx_set_stage_filter(GpuDevice* d, int stage, int filter_index) {
  if (!d || stage < 0 || stage >= GFX_STAGE_COUNT) return;
  const uint32_t filter = gfx_filter_by_index(filter_index);
  gpu_set_sampler_state(d, uint32_t(stage), GPU_SAMP_MAGFILTER, filter);
  gpu_set_sampler_state(d, uint32_t(stage), GPU_SAMP_MINFILTER, filter);
  res.stages[stage].filter = filter_index;
}

void gfx_bind_texture(GpuDevice* d, int stage, const TextureObject* o, int filter_index) {
  if (!d || stage < 0 || stage >= GFX_STAGE_COUNT) return;
  StageCache& c = res.stages[stage];
  uint32_t s = uint32_t(stage);
  if (o && o->texture) {
    uint32_t filter = gfx_filter_by_index(filter_index);
    int32_t u = (o->flags >> TEXTURE_FLAG_U_SHIFT) & 7, v = (o->flags >> TEXTURE_FLAG_V_SHIFT) & 7;
    int32_t mip = o->flags & TEXTURE_FLAG_MIP_CHAIN;
    if (u != c.u) {
      gpu_set_sampler_state(d, s, GPU_SAMP_ADDRESSU, gfx_address_by_index(u));
      c.u = u;
    }
    if (v != c.v) {
      gpu_set_sampler_state(d, s, GPU_SAMP_ADDRESSV, gfx_address_by_index(v));
      c.v = v;
    }
    if (filter_index != c.filter) {
      gpu_set_sampler_state(d, s, GPU_SAMP_MAGFILTER, filter);
      gpu_set_sampler_state(d, s, GPU_SAMP_MINFILTER, filter);
      c.filter = filter_index;
    }
    if (mip != c.mip) {
      gpu_set_sampler_state(d, s, GPU_SAMP_MIPFILTER, mip ? filter : GPU_FILTER_NONE);
      c.mip = mip;
    }
    uint64_t id = gpu_texture_id(o->texture);
    if (id != c.texture_id) {
      gpu_set_texture(d, s, o->texture);
      c.texture_id = id;
    }
    return;
  }
  c.u = c.v = c.filter = c.mip = -1;
  if (c.texture_id != 0) {
    gpu_set_sampler_state(d, s, GPU_SAMP_MIPFILTER, GPU_FILTER_NONE);
    gpu_set_texture(d, s, stage == 0 ? res.white.texture : nullptr);
    c.texture_id = 0;
  }
}

void gfx_resources_init() {
  std::memset(&res, 0, sizeof res);
  gfx_invalidate_stage_cache();
  gfx_init_scratch_buffers();
  take_saved_records();
  if (gfx_create_texture(&res.white, 0, 1, 1)) {
    const uint32_t white = 0xFFFFFFFFu;
    gfx_copy_to_texture(&res.white, 0, 0, 1, 1, &white);
  }
  gfx_set_render_target_object(0, nullptr);
  gfx_set_render_target_object(1, nullptr);
  gfx_set_depth_surface(&res.saved_depth);
}

void gfx_resources_release() {
  release_saved_records();
  gfx_release_texture_pair(&res.white);
  res.current_target = DepthSurfaceObject{};
  res.current_depth = nullptr;
}

void gfx_on_lost_surfaces() { release_saved_records(); }

void gfx_on_reset_surfaces() {
  release_saved_records();
  take_saved_records();
}

void gfx_resources_noop() {}

// ---- Mesh buffers ----------------------------------------------------------------------------

uint32_t gfx_vertex_count_for_primitives(GpuPrimitive type, uint32_t count) {
  switch (type) {
    case GPU_PT_POINTLIST: return count;
    case GPU_PT_LINELIST: return 2 * count;
    case GPU_PT_LINESTRIP: return count + 1;
    case GPU_PT_TRIANGLELIST: return 3 * count;
    case GPU_PT_TRIANGLESTRIP:
    case GPU_PT_TRIANGLEFAN: return count + 2;
  }
  return 0;
}

bool gfx_build_mesh_buffers(MeshBuffers* b, const MeshData& m) {
  if (!b) return false;
  *b = MeshBuffers{};
  GpuDevice* d = gfx_device();
  if (!d || !m.positions || m.vertex_count == 0) return false;
  // 16-bit indices reach 65,536 vertices only.
  if (m.indices && m.vertex_count > 65536) return false;
  int weights = m.weights ? std::clamp(m.weight_count, 1, 4) : 0;
  if (weights && !m.bone_indices) return false;
  uint32_t fvf = weights ? (GPU_FVF_XYZB2 + uint32_t(weights - 1) * 2) | GPU_FVF_LASTBETA_UBYTE4 : GPU_FVF_XYZ;
  if (m.normals) fvf |= GPU_FVF_NORMAL;
  if (m.colours) fvf |= GPU_FVF_DIFFUSE;
  int sets = 0;
  static const uint32_t kSizeCode[5] = {0, 3, 0, 1, 2};
  while (sets < 4 && m.texcoords[sets] && m.texcoord_sizes[sets] >= 1 && m.texcoord_sizes[sets] <= 4) {
    fvf |= gpu_fvf_texcoord_size(uint32_t(sets), kSizeCode[m.texcoord_sizes[sets]]);
    ++sets;
  }
  fvf |= gpu_fvf_tex(uint32_t(sets));
  uint32_t stride = gpu_fvf_stride(fvf);
  if (uint64_t(m.vertex_count) * stride > 0x7FFFFFFFu || uint64_t(m.index_count) * 2 > 0x7FFFFFFFu) return false;

  GpuVertexBuffer* vb = nullptr;
  GpuIndexBuffer* ib = nullptr;
  if (gpu_create_vertex_buffer(d, m.vertex_count * stride, 0, 0, GPU_POOL_MANAGED, &vb) != GPU_OK) return false;
  if (m.indices && m.index_count &&
      gpu_create_index_buffer(d, m.index_count * 2, 0, GPU_FMT_INDEX16, GPU_POOL_MANAGED, &ib) != GPU_OK) {
    gpu_vertex_buffer_release(vb);
    return false;
  }
  void* vp = nullptr;
  if (gpu_vertex_buffer_lock(vb, 0, 0, &vp, 0) != GPU_OK) {
    gpu_vertex_buffer_release(vb);
    gpu_index_buffer_release(ib);
    return false;
  }
  uint8_t* out = static_cast<uint8_t*>(vp);
  float lo[3] = {INFINITY, INFINITY, INFINITY}, hi[3] = {-INFINITY, -INFINITY, -INFINITY};
  for (uint32_t i = 0; i < m.vertex_count; ++i) {
    uint8_t* v = out + size_t(i) * stride;
    auto put = [&v](const void* src, size_t n) {
      std::memcpy(v, src, n);
      v += n;
    };
    const float* p = m.positions + size_t(i) * 3;
    for (int k = 0; k < 3; ++k) {
      lo[k] = std::min(lo[k], p[k]);
      hi[k] = std::max(hi[k], p[k]);
    }
    put(p, 12);
    if (weights) {
      put(m.weights + size_t(i) * size_t(weights), size_t(weights) * 4);
      put(m.bone_indices + size_t(i) * 4, 4);
    }
    if (m.normals) put(m.normals + size_t(i) * 3, 12);
    if (m.colours) put(m.colours + i, 4);
    for (int s = 0; s < sets; ++s)
      put(m.texcoords[s] + size_t(i) * size_t(m.texcoord_sizes[s]), size_t(m.texcoord_sizes[s]) * 4);
  }
  gpu_vertex_buffer_unlock(vb);
  if (ib) {
    void* ip = nullptr;
    if (gpu_index_buffer_lock(ib, 0, 0, &ip, 0) != GPU_OK) {
      gpu_vertex_buffer_release(vb);
      gpu_index_buffer_release(ib);
      return false;
    }
    std::memcpy(ip, m.indices, size_t(m.index_count) * 2);
    gpu_index_buffer_unlock(ib);
  }
  b->vertex_buffer = vb;
  b->index_buffer = ib;
  b->fvf_index = m.fvf_index;
  b->fvf = fvf;
  b->stride = stride;
  b->vertex_count = m.vertex_count;
  b->index_count = ib ? m.index_count : 0;
  b->primitive_count = ib ? m.index_count / 3 : m.vertex_count / 3;
  std::memcpy(b->bounds_min, lo, sizeof lo);
  std::memcpy(b->bounds_max, hi, sizeof hi);
  float ext[3];
  for (int k = 0; k < 3; ++k) ext[k] = std::max(hi[k] - lo[k], 0.00001f);
  float big = std::max({ext[0], ext[1], ext[2]}), small = std::min({ext[0], ext[1], ext[2]});
  if (big >= 3.0f * small) b->packed |= MESH_PACKED_ELONGATED;
  return true;
}

void gfx_release_mesh_buffers(MeshBuffers* b) {
  if (!b) return;
  gpu_vertex_buffer_release(b->vertex_buffer);
  gpu_index_buffer_release(b->index_buffer);
  *b = MeshBuffers{};
}
