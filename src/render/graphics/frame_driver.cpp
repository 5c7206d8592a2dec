#include <algorithm>

#include "assets/device_bindings.h"
#include "math/color.h"
#include "math/vec.h"
#include "platform/gpu/gpu.h"
#include "platform/sys/sys.h"
#include "render/device/device_resources.h"
#include "render/device/gfx_device.h"
#include "render/device/render_states.h"
#include "render/device/shaders.h"
#include "render/graphics/graphics.h"
#include "render/movie/movie_textures.h"
#include "render/tasks/draw_list.h"
#include "render/tasks/task.h"
#include "render/text/fonts.h"
#include "render/text/text_queue.h"
#include "render/views/render_views.h"
#include "scene3d/collision_world.h"
#include "scene3d/light_spheres.h"
#include "scene3d/part_render.h"
#include "scene3d/ray_collision.h"
#include "scene3d/sphere_world.h"
#include "shell/services/shared_semaphore.h"

namespace {

// The frame render draws layers 10 to 39; the rest belong to passes this
// program does not run.
constexpr int kFirstDrawnLayer = 10;
constexpr int kLastDrawnLayer = 39;
constexpr int kClearAll = 5;  // target, depth and stencil: whatever is bound
// The 3D-view layer pass: a scene range drawn on the whole back buffer,
// view 0's range and its overlay layer inside its 3D pass, then a range on
// top of everything.
constexpr int kSceneFirstLayer = 55, kSceneLastLayer = 63;
constexpr int kViewFirstLayer = 46, kViewLastLayer = 54;
constexpr int kViewOverlayLayer = 45;
constexpr int kScreenFirstLayer = 40, kScreenLastLayer = 44;

Vec3* normalized_lerp(Vec3* out, const Vec3* a, const Vec3* b, float t) {
  Vec3 v;
  vec3_lerp(&v, a, b, t);
  return vec3_normalize(out, &v);
}

void step_shake(Camera& c) {
  if (c.shake_frames < 1) {
    c.shake_offset_x = c.shake_offset_y = 0.0f;
    return;
  }
  c.shake_offset_x = view_random_range(-c.shake_amplitude_x, c.shake_amplitude_x);
  c.shake_offset_y = view_random_range(-c.shake_amplitude_y, c.shake_amplitude_y);
  c.shake_amplitude_x *= c.shake_decay;
  c.shake_amplitude_y *= c.shake_decay;
  --c.shake_frames;
}

void step_light(Light& l) {
  if (l.override_frames >= 1) {
    --l.override_frames;
    l.current = l.override_block;
  } else if (l.frames_remaining < 1) {
    l.current = l.base;
  } else if (--l.frames_remaining == 0) {
    l.base = l.target;
    l.current = l.base;
  } else {
    float t = gfx_transition_factor(l.frames_remaining, l.total);
    normalized_lerp(&l.current.direction, &l.base.direction, &l.target.direction, t);
    normalized_lerp(&l.current.axis, &l.base.axis, &l.target.axis, t);
    for (int i = 0; i < 4; ++i) l.current.colours[i] = argb_lerp(l.base.colours[i], l.target.colours[i], t);
  }
  for (int i = 0; i < 4; ++i) argb_to_float4(l.colour_float4[i], l.current.colours[i]);
}

void step_fog(Camera& c) {
  if (c.fog_frames_remaining <= 0) return;
  if (c.fog_frames_remaining == 1) {
    c.fog_start = c.fog_target_start;
    c.fog_end = c.fog_target_end;
    c.fog_colour = c.fog_target_colour;
  } else {
    float t = gfx_transition_factor(c.fog_frames_remaining, c.fog_total);
    c.fog_start = lerp(c.fog_from_start, c.fog_target_start, t);
    c.fog_end = lerp(c.fog_from_end, c.fog_target_end, t);
    c.fog_colour = argb_lerp(c.fog_from_colour, c.fog_target_colour, t);
  }
  argb_to_float4(c.fog_colour_float4, c.fog_colour);
  --c.fog_frames_remaining;
}

}  // namespace

float gfx_transition_factor(int32_t n, int32_t total) {
  if (total == 1) return 0.0f;
  return clamp01(static_cast<float>(total - n) / static_cast<float>(total - 1));
}

void gfx_step_view(int view) {
  ViewState* v = view_state(view);
  step_shake(v->camera);
  step_light(v->light);
  step_fog(v->camera);
  v->extra_light_count = 0;
  for (const ExtraLight& e : v->extra_lights)
    if (e.enabled) ++v->extra_light_count;
}

void run_frame(int arg) {
  for (int view = 0; view < kViewCount; ++view) gfx_step_view(view);

  scenepass_frame_hook();
  movie_tex_update();
  tasks_run_updates();
  sphereworld_update();
  collworld_step();
  raycol_update_frame();
  render_views_update();

  const GraphicsState* g = gfx_state();
  if (!g->render_enabled) {
    gfx_skip_render(g->window, arg);
  } else {
    lightsphere_update_frame();
    gfx_frame_handoff(g->window, arg);
  }

  movie_tex_acknowledge_frames();
  lightsphere_reap();
  tasks_reap_marked();
}

void gfx_skip_render(PlatformWindow*, int) {
  text_queue_rewind(gfx_text_buffer_d3dx());
  text_queue_rewind(gfx_text_buffer_main());
  sys_sleep_ms(0);
}

void gfx_render_frame(PlatformWindow*, int) {
  GfxDevice* dev = gfx_device_ptr();
  GpuDevice* device = dev->device;
  const uint32_t clear_colour = gfx_get_clear_colour() & 0x00FFFFFFu;
  shader_frame_constants();
  part_render_reset_counters();
  gpu_set_render_state(device, GPU_RS_SCISSORTESTENABLE, 1);
  draw_list_build();
  lightsphere_cull_views();
  if (!dev->lost && gpu_begin_scene(device) == GPU_OK) {
    render_views_draw_all();
    gfx_set_render_targets(0, 0, nullptr);
    gfx_set_scissor(-1);
    gfx_set_viewport(-1);
    gfx_clear(kClearAll, clear_colour);
    draw_list_draw_layers(kFirstDrawnLayer, kLastDrawnLayer);
    gfx_set_viewport(-1);
    bitmap_font_draw(1, device, gfx_text_buffer_main());
    d3dx_font_draw(1, device, gfx_text_buffer_d3dx());
    gpu_end_scene(device);
  } else {
    // Text queued for a frame that cannot be drawn is dropped with it.
    text_queue_rewind(gfx_text_buffer_main());
    text_queue_rewind(gfx_text_buffer_d3dx());
  }
  gfx_present();
}

namespace {

// The hand-off words are read and written only under "disp".
struct HandoffWords {
  int32_t flag, requested, done;
};

HandoffWords read_handoff(GfxDevice* dev) {
  wait_shared_semaphore(dev->disp, SHARED_SEMAPHORE_INFINITE);
  const HandoffWords w{dev->handoff_flag, dev->frames_requested, dev->frames_done};
  release_shared_semaphore(dev->disp, 1, nullptr);
  return w;
}

void count_handoff(GfxDevice* dev, int32_t* counter) {
  wait_shared_semaphore(dev->disp, SHARED_SEMAPHORE_INFINITE);
  ++*counter;
  release_shared_semaphore(dev->disp, 1, nullptr);
}

}  // namespace

// With the hand-off flag clear the main thread renders the frame itself;
// with it set the frame is requested and the render thread's step draws it,
// while the main thread waits for the frame to be done.
void gfx_frame_handoff(PlatformWindow* window, int arg) {
  GfxDevice* dev = gfx_device_ptr();
  if (dev->disp == nullptr || read_handoff(dev).flag == 0) {
    gfx_render_frame(window, arg);
    return;
  }
  count_handoff(dev, &dev->frames_requested);
  for (;;) {
    const HandoffWords w = read_handoff(dev);
    if (w.done == w.requested) break;
    sys_sleep_ms(0);
  }
}

void gfx_set_handoff_mode(int flag) {
  GfxDevice* dev = gfx_device_ptr();
  if (dev->disp == nullptr) return;
  wait_shared_semaphore(dev->disp, SHARED_SEMAPHORE_INFINITE);
  dev->handoff_flag = flag;
  dev->frames_requested = 0;
  dev->frames_done = 0;
  release_shared_semaphore(dev->disp, 1, nullptr);
}

int gfx_render_thread_step(PlatformWindow* window) {
  GfxDevice* dev = gfx_device_ptr();
  if (dev->disp == nullptr) return 0;
  HandoffWords w = read_handoff(dev);
  if (w.flag == 0) return 0;
  while (w.flag != 0 && w.done == w.requested) {
    sys_sleep_ms(0);
    w = read_handoff(dev);
  }
  // The flag went down with no frame pending: the main thread draws again,
  // so this thread must not.
  if (w.done == w.requested) return 0;
  gfx_render_frame(window, 0);
  count_handoff(dev, &dev->frames_done);
  return 1;
}

void gfx_draw_scene_layers() {
  gfx_set_scissor(-1);
  gfx_set_viewport(-1);
  draw_list_draw_layers(kSceneFirstLayer, kSceneLastLayer);
  if (view_is_enabled(0)) {
    gfx_set_viewport(0);
    gfx_set_scissor(0);
    scenepass_apply_view(0, 0);
    draw_list_draw_layers(kViewFirstLayer, kViewLastLayer);
    draw_list_draw_layers(kViewOverlayLayer, kViewOverlayLayer);
    part_render_reset_state();
  }
  gfx_set_scissor(-1);
  gfx_set_viewport(-1);
  draw_list_draw_layers(kScreenFirstLayer, kScreenLastLayer);
}
