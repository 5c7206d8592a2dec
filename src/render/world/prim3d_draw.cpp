#include <cstring>

#include "math/mat4.h"
#include "platform/gpu/gpu.h"
#include "render/device/gfx_device.h"
#include "render/device/gfx_resources.h"
#include "render/device/render_states.h"
#include "render/device/shaders.h"
#include "render/world/prim3d.h"

namespace {

constexpr int kCompareUnset = -1;

struct BatchState {
  bool lines;
  int points_per_primitive;
  int pending;
  uint32_t blend;
  uint32_t depth_write;
  int depth_func;
};

Prim3dVertex* scratch() { return reinterpret_cast<Prim3dVertex*>(gfx_scratch_array()); }
static_assert(kPrim3dBatch * 3 * sizeof(Prim3dVertex) <= GFX_SCRATCH_ARRAY_BYTES);

void state(GpuRenderState s, uint32_t value) { gpu_set_render_state(gfx_device(), s, value); }

// Shading mode 0 through the shader module, so the mode and slots it keeps
// for later draws are the fixed-function ones the device now holds.
void begin(BatchState* b, bool lines) {
  Mat4 identity;
  mat4_identity(&identity);
  GpuDevice* device = gfx_device();
  gpu_set_transform(device, GPU_TS_WORLD, identity.m);
  begin_mesh_draw(0, nullptr, 0, find_fvf_index(kPrim3dFvf), nullptr, nullptr, nullptr, nullptr, 1.0f, nullptr, 0);
  state(GPU_RS_ALPHABLENDENABLE, 1);
  state(GPU_RS_SRCBLEND, GPU_BLEND_SRCALPHA);
  state(GPU_RS_DESTBLEND, GPU_BLEND_INVSRCALPHA);
  state(GPU_RS_ZWRITEENABLE, 1);
  state(GPU_RS_CULLMODE, GPU_CULL_NONE);
  state(GPU_RS_FILLMODE, GPU_FILL_SOLID);
  state(GPU_RS_FOGENABLE, 0);
  gfx_bind_texture(device, 0, nullptr, 1);
  state(GPU_RS_LIGHTING, 0);
  *b = BatchState{lines, lines ? 2 : 3, 0, 1, 1, kCompareUnset};
}

void flush(BatchState* b) {
  if (b->pending == 0) return;
  gpu_draw_primitive_up(gfx_device(), b->lines ? GPU_PT_LINELIST : GPU_PT_TRIANGLELIST,
                        static_cast<uint32_t>(b->pending), scratch(), sizeof(Prim3dVertex));
  b->pending = 0;
}

// Starts a new batch when a state differs from the one in force or the
// batch is full, and sets the states that differ.
void prepare(BatchState* b, uint32_t flags) {
  const uint32_t blend = flags & kPrim3dBlendMask;
  const uint32_t depth_write = (flags & kPrim3dDepthWrite) ? 1 : 0;
  const int depth_func = static_cast<int>((flags & kPrim3dDepthFuncMask) >> kPrim3dDepthFuncShift);
  if (blend == b->blend && depth_write == b->depth_write && depth_func == b->depth_func &&
      b->pending < kPrim3dBatch) {
    return;
  }
  flush(b);
  if (blend != b->blend) {
    const GfxBlendPair pair = gfx_blend_pair_by_index(static_cast<int>(blend));
    state(GPU_RS_SRCBLEND, pair.source);
    state(GPU_RS_DESTBLEND, pair.destination);
    b->blend = blend;
  }
  if (depth_write != b->depth_write) {
    state(GPU_RS_ZWRITEENABLE, depth_write);
    b->depth_write = depth_write;
  }
  if (depth_func != b->depth_func) {
    state(GPU_RS_ZFUNC, gfx_zfunc_by_index(depth_func));
    b->depth_func = depth_func;
  }
}

// Position and colour; the texture pairs keep what the array holds.
void put(Prim3dVertex* v, const Vec3* p, uint32_t colour) {
  v->x = p->x;
  v->y = p->y;
  v->z = p->z;
  v->diffuse = colour;
}

}  // namespace

void line3d_draw_batch(Task* const* entries, int count) {
  BatchState b;
  begin(&b, true);
  for (int i = 0; i < count; ++i) {
    const Line3D* l = task_data<Line3D>(entries[i]);
    prepare(&b, l->flags);
    Prim3dVertex* v = scratch() + 2 * b.pending;
    put(&v[0], &l->p0, l->colour0);
    put(&v[1], &l->p1, l->colour1);
    ++b.pending;
  }
  flush(&b);
}

void tri3d_draw_batch(Task* const* entries, int count) {
  BatchState b;
  begin(&b, false);
  for (int i = 0; i < count; ++i) {
    const Tri3D* t = task_data<Tri3D>(entries[i]);
    prepare(&b, t->flags);
    Prim3dVertex* v = scratch() + 3 * b.pending;
    for (int k = 0; k < 3; ++k) put(&v[k], &t->p[k], t->colour[k]);
    ++b.pending;
  }
  flush(&b);
}
