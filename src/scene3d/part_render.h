// The part renderer: registers the four 3D part classes as task types and
// owns the one record through which a scene pass steers how every part is
// drawn (type ids, shader pass index, seven overrides, per-frame counters).
// Main thread only.
#pragma once

#include <cstdint>

#include "render/tasks/task.h"

struct PartRenderBlock {
  uint32_t mesh_type_id;
  uint32_t static_type_id;
  uint32_t model_type_id;
  uint32_t prim_type_id;
  int32_t pass_index;  // 0..3, handed to the shader binding with every part
  // -1 is "not in force". 0 cull and 1 fog are in force at any other value;
  // 2 alpha reference, 4 single stage, 5 light-view pass and 6 mirror pass
  // only at 1. 3 is read by the world-space sprite.
  int32_t overrides[7];
  uint32_t draw_calls;  // raised by primitive parts during the render
  uint32_t batches;
  uint32_t primitives;
};
static_assert(sizeof(PartRenderBlock) == 15 * 4);

// Graphics start-up: clears the block, registers PrimPart, ModelPart,
// MeshPart and StaticPart in that order (ids 8 to 11 after the seven engine
// types), pass index 0, every override -1.
void register_part_classes();
// Graphics shutdown: the block stays as it is.
void scenepass_release();
// Per frame, before the task updates.
void scenepass_frame_hook();
// Frame render, before the draw list is built: the three counters and the
// world-space sprite's frame counters to 0.
void part_render_reset_counters();
// Ends a scene pass: overrides to -1, fog and lighting off, stages 0 to 7
// unbound.
void part_render_reset_state();

// Sets the device up for drawing the 3D layers of a view (0 or 1): its
// transforms (light-view, mirror or normal), a directional light from the
// view's light, the default material and the view's fog range; the shader
// constants get the pass's five matrices and depth range. The caller ends
// the pass with part_render_reset_state.
void scenepass_apply_view(int view, int pass_index);

const PartRenderBlock* part_render_block();
// Each setter returns the block.
PartRenderBlock* part_render_set_override_0(int32_t value);
PartRenderBlock* part_render_set_override_1(int32_t value);
PartRenderBlock* part_render_set_override_2(int32_t value);
PartRenderBlock* part_render_set_override_3(int32_t value);
PartRenderBlock* part_render_set_override_4(int32_t value);
PartRenderBlock* part_render_set_override_5(int32_t value);
PartRenderBlock* part_render_set_override_6(int32_t value);
int32_t part_render_get_override_2();
int32_t part_render_get_override_3();
int32_t part_render_get_override_5();
int32_t part_render_get_override_6();
int32_t part_render_get_pass_index();
void part_render_set_pass_index(int32_t pass_index);
// Every override back to -1 (not in force).
void part_render_clear_overrides();
// Counters of the primitive parts' drawing.
void part_render_count_draw(uint32_t primitives);
void part_render_count_batch();
// The three counters alone.
void part_render_zero_counters();

uint32_t mesh_part_type_id();
bool task_is_mesh_part(const Task* task);

// ARGB channel as 0.0..1.0.
float argb_float_red(uint32_t argb);
float argb_float_green(uint32_t argb);
float argb_float_blue(uint32_t argb);
float argb_float_alpha(uint32_t argb);
// Red, green and blue shifted right by n inside their bytes; alpha kept.
uint32_t argb_shift_channels(uint32_t argb, int n);
