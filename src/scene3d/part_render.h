// The part renderer: registers the four 3D part classes as task types, fills
// the part-drawing state (render/world/part_state.h) with their ids and ends
// scene passes. Main thread only.
#pragma once

#include <cstdint>

#include "render/tasks/task.h"
#include "render/world/part_state.h"


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
// Stages 0 to 7 without a texture.
void part_render_unbind_textures();

// Sets the device up for drawing the 3D layers of a view (0 or 1): its
// transforms (light-view, mirror or normal), a directional light from the
// view's light, the default material and the view's fog range; the shader
// constants get the pass's five matrices and depth range. The caller ends
// the pass with part_render_reset_state.
void scenepass_apply_view(int view, int pass_index);

uint32_t mesh_part_type_id();
bool task_is_mesh_part(const Task* task);

// ARGB channel as 0.0..1.0.
float argb_float_red(uint32_t argb);
float argb_float_green(uint32_t argb);
float argb_float_blue(uint32_t argb);
float argb_float_alpha(uint32_t argb);
// Red, green and blue shifted right by n inside their bytes; alpha kept.
uint32_t argb_shift_channels(uint32_t argb, int n);
