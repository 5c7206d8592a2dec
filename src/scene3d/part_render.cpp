#include "scene3d/part_render.h"

#include <cstring>

#include "scene3d/mesh_part.h"
#include "scene3d/part_classes.h"
#include "scene3d/part_records.h"

namespace {

PartRenderBlock block;

PartRenderBlock* set_override(int index, int32_t value) {
  block.overrides[index] = value;
  return &block;
}

float channel(uint32_t argb, int shift) { return static_cast<float>((argb >> shift) & 0xFF) / 255.0f; }

}  // namespace

void register_part_classes() {
  std::memset(&block, 0, sizeof(block));
  block.prim_type_id = static_cast<uint32_t>(
      task_type_register(prim_part_draw, prim_part_init, prim_part_release, nullptr, sizeof(PrimPart)));
  block.model_type_id = static_cast<uint32_t>(
      task_type_register(model_part_draw, model_part_init, model_part_release, nullptr, sizeof(ModelPart)));
  block.mesh_type_id = static_cast<uint32_t>(
      task_type_register(mesh_part_draw, mesh_part_init, mesh_part_release, nullptr, sizeof(MeshPart)));
  block.static_type_id = static_cast<uint32_t>(
      task_type_register(static_part_draw, static_part_init, static_part_release, nullptr, sizeof(StaticPart)));
  block.pass_index = 0;
  for (int32_t& o : block.overrides) o = -1;
}

void scenepass_release() {}

void scenepass_frame_hook() {}

const PartRenderBlock* part_render_block() { return &block; }

PartRenderBlock* part_render_set_override_0(int32_t value) { return set_override(0, value); }
PartRenderBlock* part_render_set_override_1(int32_t value) { return set_override(1, value); }
PartRenderBlock* part_render_set_override_2(int32_t value) { return set_override(2, value); }
PartRenderBlock* part_render_set_override_3(int32_t value) { return set_override(3, value); }
PartRenderBlock* part_render_set_override_4(int32_t value) { return set_override(4, value); }
PartRenderBlock* part_render_set_override_5(int32_t value) { return set_override(5, value); }
PartRenderBlock* part_render_set_override_6(int32_t value) { return set_override(6, value); }
int32_t part_render_get_override_2() { return block.overrides[2]; }
int32_t part_render_get_override_3() { return block.overrides[3]; }
int32_t part_render_get_override_5() { return block.overrides[5]; }
int32_t part_render_get_override_6() { return block.overrides[6]; }
int32_t part_render_get_pass_index() { return block.pass_index; }
void part_render_set_pass_index(int32_t pass_index) { block.pass_index = pass_index; }

void part_render_count_draw(uint32_t primitives) {
  ++block.draw_calls;
  block.primitives += primitives;
}

void part_render_count_batch() { ++block.batches; }

void part_render_zero_counters() {
  block.draw_calls = 0;
  block.batches = 0;
  block.primitives = 0;
}

void part_render_clear_overrides() {
  for (int32_t& o : block.overrides) o = -1;
}

uint32_t mesh_part_type_id() { return block.mesh_type_id; }

bool task_is_mesh_part(const Task* task) {
  return task != nullptr && block.mesh_type_id != 0 && task->type == block.mesh_type_id;
}

float argb_float_red(uint32_t argb) { return channel(argb, 16); }
float argb_float_green(uint32_t argb) { return channel(argb, 8); }
float argb_float_blue(uint32_t argb) { return channel(argb, 0); }
float argb_float_alpha(uint32_t argb) { return channel(argb, 24); }

uint32_t argb_shift_channels(uint32_t argb, int n) {
  const uint32_t r = ((argb >> 16) & 0xFF) >> n, g = ((argb >> 8) & 0xFF) >> n, b = (argb & 0xFF) >> n;
  return (argb & 0xFF000000u) | r << 16 | g << 8 | b;
}
