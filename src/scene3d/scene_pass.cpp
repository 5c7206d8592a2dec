#include "platform/gpu/gpu.h"
#include "render/device/gfx_device.h"
#include "render/device/shaders.h"
#include "render/view/view_matrices.h"
#include "render/view/view_state.h"
#include "scene3d/part_records.h"
#include "scene3d/part_render.h"

namespace {

GpuColorValue colour_value(uint32_t argb) {
  return GpuColorValue{argb_float_red(argb), argb_float_green(argb), argb_float_blue(argb), argb_float_alpha(argb)};
}

uint32_t float_bits(float f) { return gpu_float_bits(f); }

}  // namespace

void scenepass_apply_view(int view, int pass_index) {
  const bool light_view = part_render_get_override_5() == 1;
  const bool mirror = part_render_get_override_6() == 1;
  part_render_set_pass_index(pass_index);
  set_current_view(view);
  GpuDevice* device = gfx_device();

  const Mat4* projection;
  const Mat4* view_matrix;
  if (light_view) {
    const int light = get_current_light_index();
    projection = get_light_matrix_c(view, light);
    view_matrix = get_light_matrix_a(view, light);
    shader_set_view_matrices(view_matrix, get_light_matrix_b(view, light), projection,
                             get_light_matrix_e(view, light), get_light_matrix_d(view, light));
    shader_set_depth_range(get_extra_light_near(view, light), get_extra_light_far(view, light));
  } else if (mirror) {
    projection = get_matrix_slot18(view);
    view_matrix = get_matrix_slot16(view);
    shader_set_view_matrices(view_matrix, get_matrix_slot17(view), projection, get_matrix_slot20(view),
                             get_matrix_slot19(view));
    shader_set_depth_range(get_near(view), get_far(view));
  } else {
    projection = get_projection_matrix(view);
    view_matrix = get_view_matrix(view);
    shader_set_view_matrices(view_matrix, get_camera_matrix(view), projection, get_matrix_slot4(view),
                             get_proj_view_matrix(view));
    shader_set_depth_range(get_near(view), get_far(view));
  }
  gpu_set_transform(device, GPU_TS_PROJECTION, projection->m);
  gpu_set_transform(device, GPU_TS_VIEW, view_matrix->m);

  gpu_set_render_state(device, GPU_RS_LIGHTING, 1);
  gpu_set_render_state(device, GPU_RS_SHADEMODE, GPU_SHADE_GOURAUD);
  gpu_set_render_state(device, GPU_RS_AMBIENT, 0);

  const LightBlock* record = get_light_record(view);
  GpuLight light{};
  light.type = GPU_LIGHT_DIRECTIONAL;
  light.diffuse = colour_value(record->colours[2]);
  light.specular = colour_value(record->colours[3]);
  light.ambient = colour_value(record->colours[0]);
  light.position[1] = 1.0f;
  light.direction[0] = record->direction.x;
  light.direction[1] = record->direction.y;
  light.direction[2] = record->direction.z;
  light.range = 1.0f;
  gpu_light_enable(device, 0, true);
  gpu_set_light(device, 0, light);

  const ColourBlock& c = kDefaultColourBlock;
  GpuMaterial material{};
  material.diffuse = colour_value(c.diffuse);
  material.ambient = colour_value(c.ambient);
  material.specular = colour_value(c.specular);
  material.emissive = colour_value(c.emissive);
  material.power = c.power;
  gpu_set_material(device, material);

  gpu_set_render_state(device, GPU_RS_FOGCOLOR, argb_shift_channels(get_fog_color(view), 0));
  gpu_set_render_state(device, GPU_RS_FOGSTART, float_bits(get_fog_start(view)));
  gpu_set_render_state(device, GPU_RS_FOGEND, float_bits(get_fog_end(view)));
  gpu_set_render_state(device, GPU_RS_FOGTABLEMODE, GPU_FOG_LINEAR);
  gpu_set_render_state(device, GPU_RS_FOGVERTEXMODE, GPU_FOG_NONE);
  gpu_set_render_state(device, GPU_RS_RANGEFOGENABLE, 0);
}
