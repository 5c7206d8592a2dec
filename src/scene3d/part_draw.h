// Shared drawing state of the part classes: the draw lists and their sorts,
// the render states of a part batch, and part_draw_mesh, which draws one
// mesh for mesh parts, model parts and their slots. The lists, bounds stacks
// and caches are static and reused by every draw callback; nothing here
// allocates while drawing.
#pragma once

#include <cstdint>

#include "assets/asset_handle.h"
#include "assets/mesh_records.h"
#include "math/mat4.h"
#include "math/plane.h"
#include "platform/gpu/gpu.h"
#include "render/device/gfx_resources.h"
#include "render/tasks/task.h"

struct ColourBlock;
struct MotionPlayer;
struct ShaderPointLight;

constexpr int kPartListCapacity = 4096;
// Pending ranges of the sorts. A range is pushed only while a larger one is
// split, so 32 covers far more than any 4096-record sort can need.
constexpr int kPartSortStackSize = 32;
constexpr int kPartSortInsertionRun = 10;

// What a part reads of a mesh: its device object (buffers, materials,
// bones) and the bounds culling uses. A material's first two words give its
// range: the first triangle and the triangle count.
struct PartMesh {
  const MeshObject* object;
  bool unlit;          // no normals: drawn with lighting off
  bool normal_mapped;  // its shading mode is 2
  Vec3 centre;         // bounding sphere in model space
  float inner_radius;  // round the centre
  float outer_radius;  // round the model's origin, holding the inner sphere
  float far_bias;      // taken off the squared distance before the far test
};
// False for 0, or a handle without a device object (the part then draws
// nothing).
bool part_mesh_get(uint32_t model, PartMesh* out);

// The lists. The state-sorted list becomes the drawing order once the other
// two are appended.
struct PartLists {
  int state_count;
  int front_count;  // z-writing distance-sorted parts, from the front
  int back_count;   // parts without z write, from index 4095 down
};
Task** part_sort_scratch();
int32_t* part_sort_stack_lo();
int32_t* part_sort_stack_hi();
void part_lists_begin(PartLists* lists);
// Puts the task in its list by its flags; mesh parts give their state key
// (written into the user word when the task joins the state-sorted list).
void part_lists_add(PartLists* lists, Task* task, uint32_t render_flags, bool use_state_key, uint32_t state_key);
// Sorts the state-sorted list (by state key descending, or by distance
// nearest first), both distance parts farthest first, and appends them;
// returns the merged count.
int part_lists_finish(PartLists* lists, bool by_state_key);

// An explicit-stack quicksort with a middle pivot that leaves runs of up to
// ten records to one final insertion sort. before(a, b): a comes first.
template <typename T, typename Before>
void part_quicksort(T* a, int count, Before before) {
  if (count < 2) return;
  int32_t* stack_lo = part_sort_stack_lo();
  int32_t* stack_hi = part_sort_stack_hi();
  int pending = 0;
  int lo = 0, hi = count - 1;
  for (;;) {
    while (hi - lo > kPartSortInsertionRun) {
      const T pivot = a[(lo + hi) / 2];
      int i = lo, j = hi;
      for (;;) {
        while (before(a[i], pivot)) ++i;
        while (before(pivot, a[j])) --j;
        if (i < j) {
          const T t = a[i];
          a[i] = a[j];
          a[j] = t;
          ++i;
          --j;
        } else {
          break;
        }
      }
      // Continue with the shorter part and keep the longer one pending, so
      // the stack never holds more than log2(count) ranges.
      if (i - lo <= hi - j) {
        if (hi - j > kPartSortInsertionRun && pending < kPartSortStackSize) {
          stack_lo[pending] = j + 1;
          stack_hi[pending] = hi;
          ++pending;
        }
        hi = i - 1;
      } else {
        if (i - lo > kPartSortInsertionRun && pending < kPartSortStackSize) {
          stack_lo[pending] = lo;
          stack_hi[pending] = i - 1;
          ++pending;
        }
        lo = j + 1;
      }
    }
    if (pending == 0) break;
    --pending;
    lo = stack_lo[pending];
    hi = stack_hi[pending];
  }
  for (int k = 1; k < count; ++k) {
    const T v = a[k];
    int m = k;
    while (m > 0 && before(v, a[m - 1])) {
      a[m] = a[m - 1];
      --m;
    }
    a[m] = v;
  }
}

void part_sort_by_state_key(Task** tasks, int count);
void mesh_part_sort_by_distance(Task** tasks, int count);
void model_part_sort_by_distance(Task** tasks, int count);

// What the batch states depend on.
enum PartBatchKind { kPartBatchMesh, kPartBatchStatic, kPartBatchModel, kPartBatchPrim };
// Render states set once before the first part of a batch.
void part_batch_begin(PartBatchKind kind, int view);
// After the last part: stages unbound, unlit shaders for the mesh vertex
// format, alpha test off.
void part_batch_end();
// The batch's last-model cache (-1 after part_batch_begin).
int32_t* part_batch_last_model();

// The pass and override flags a draw callback reads once from the block.
struct PartPassFlags {
  bool light_view;
  bool mirror;
  bool fog_override;   // override 1 in force
  bool cull_override;  // override 0 in force
  bool alpha_override;
  bool single_stage;
};

// Where the current pass looks from, its culling planes and squared far
// limit.
struct PartEye {
  Vec3 position;
  const Plane* planes;
  float far_sq;
};
PartEye part_pass_eye(int view, const PartPassFlags& pass);
// Up to kPartLightCount light spheres near the sphere; returns how many.
constexpr int kPartLightCount = 3;
int part_query_lights(ShaderPointLight* out, int view, const Vec3* centre, float radius);
PartPassFlags part_pass_flags();

int part_begin_draw_unlit(int mode, const void* shader_data, int pass_index, int fvf_index, const Mat4* world);
int part_begin_draw_lit(int mode, const void* shader_data, int pass_index, int fvf_index, const Mat4* world,
                        const ColourBlock* colours, const ShaderPointLight* lights, int light_count);

// Draws one mesh (owner not used). The world matrix is rewritten in place by
// billboarding. The last-model cache skips rebinding the buffers. With a
// bone source (a posed player) a mesh that has bones is drawn skinned.
void part_draw_mesh(GpuDevice* device, Task* owner, uint32_t model, uint32_t texture_override, Mat4* world,
                    const MotionPlayer* bones, const ColourBlock* colours, const uint32_t* flags,
                    const PartPassFlags& pass, int mode, const void* shader_data, int32_t* last_model, float alpha,
                    const ShaderPointLight* lights, int light_count);
