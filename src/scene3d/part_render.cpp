#include "scene3d/part_render.h"

#include "scene3d/mesh_part.h"
#include "scene3d/part_classes.h"
#include "scene3d/part_records.h"

namespace {

float channel(uint32_t argb, int shift) { return static_cast<float>((argb >> shift) & 0xFF) / 255.0f; }

}  // namespace

void register_part_classes() {
  const auto prim = static_cast<uint32_t>(
      task_type_register(prim_part_draw, prim_part_init, prim_part_release, nullptr, sizeof(PrimPart)));
  const auto model = static_cast<uint32_t>(
      task_type_register(model_part_draw, model_part_init, model_part_release, nullptr, sizeof(ModelPart)));
  const auto mesh = static_cast<uint32_t>(
      task_type_register(mesh_part_draw, mesh_part_init, mesh_part_release, nullptr, sizeof(MeshPart)));
  const auto stat = static_cast<uint32_t>(
      task_type_register(static_part_draw, static_part_init, static_part_release, nullptr, sizeof(StaticPart)));
  part_render_reset_block(prim, model, mesh, stat);
}

void scenepass_release() {}

void scenepass_frame_hook() {}

uint32_t mesh_part_type_id() { return part_render_block()->mesh_type_id; }

bool task_is_mesh_part(const Task* task) {
  const uint32_t mesh = part_render_block()->mesh_type_id;
  return task != nullptr && mesh != 0 && task->type == mesh;
}

float argb_float_red(uint32_t argb) { return channel(argb, 16); }
float argb_float_green(uint32_t argb) { return channel(argb, 8); }
float argb_float_blue(uint32_t argb) { return channel(argb, 0); }
float argb_float_alpha(uint32_t argb) { return channel(argb, 24); }

uint32_t argb_shift_channels(uint32_t argb, int n) {
  const uint32_t r = ((argb >> 16) & 0xFF) >> n, g = ((argb >> 8) & 0xFF) >> n, b = (argb & 0xFF) >> n;
  return (argb & 0xFF000000u) | r << 16 | g << 8 | b;
}
