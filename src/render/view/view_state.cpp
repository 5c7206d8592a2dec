#include "render/view/view_state.h"

#include <cmath>
#include <cstring>

#include "math/color.h"
#include "render/view/view_matrices.h"

namespace {

// The screen words and views of the graphics state.
struct ViewScreen {
  int back_buffer_width, back_buffer_height;
  int layout_width, layout_height;
  int virtual_width, virtual_height;
  int orientation;
  uint32_t clear_colour;
  int current_view;
  int current_light;
};

ViewScreen screen;
ViewState views[kViewCount];

constexpr Vec3 kUp{0.0f, 1.0f, 0.0f};
constexpr float kDefaultFov = 0.78539819f;  // pi / 4

Camera& cam(int view) { return views[view].camera; }
Light& light(int view) { return views[view].light; }
ExtraLight& extra(int view, int index) { return views[view].extra_lights[index]; }
void mark_dirty(int view) { views[view].camera.dirty = 1; }

Vec3 normalised(const Vec3* v) {
  Vec3 out;
  vec3_normalize(&out, v);
  return out;
}

Vec3 axis_or_up(const Vec3* axis) { return axis != nullptr ? normalised(axis) : kUp; }

void end_fog_transition(Camera& c) { c.fog_frames_remaining = 0; }

}  // namespace

ViewState* view_state(int view) { return &views[view]; }

// ---------------------------------------------------------------- screen words

void view_set_screen(int back_buffer_width, int back_buffer_height, const int layout[5]) {
  screen.back_buffer_width = back_buffer_width;
  screen.back_buffer_height = back_buffer_height;
  const int none[5] = {0, 0, 0, 0, 0};
  const int* d = layout != nullptr ? layout : none;
  screen.layout_width = d[0] != 0 ? d[0] : back_buffer_width;
  screen.layout_height = d[1] != 0 ? d[1] : back_buffer_height;
  screen.virtual_width = d[2] != 0 ? d[2] : back_buffer_width;
  screen.virtual_height = d[3] != 0 ? d[3] : back_buffer_height;
  screen.orientation = d[4];
}

int get_back_buffer_width() { return screen.back_buffer_width; }
int get_back_buffer_height() { return screen.back_buffer_height; }
int get_layout_width() { return screen.layout_width; }
int get_layout_height() { return screen.layout_height; }
int get_virtual_screen_width() { return screen.virtual_width; }
int get_virtual_screen_height() { return screen.virtual_height; }
int get_screen_orientation() { return screen.orientation; }
void gfx_set_clear_colour(uint32_t argb) { screen.clear_colour = argb; }
uint32_t gfx_get_clear_colour() { return screen.clear_colour; }
void set_current_view(int view) { screen.current_view = view; }
int get_current_view() { return screen.current_view; }
void set_current_light_index(int light) { screen.current_light = light; }
int get_current_light_index() { return screen.current_light; }
int get_extra_light_count(int view) { return views[view].extra_light_count; }

void pixel_to_virtual_screen(int* out_x, int* out_y, int x, int y) {
  static constexpr int kSignX[6] = {1, -1, 1, -1, -1, 1};
  static constexpr int kSignY[6] = {1, 1, -1, 1, -1, -1};
  const int o = screen.orientation >= 0 && screen.orientation < 6 ? screen.orientation : 0;
  const bool swap = o == 3 || o == 5;
  const int src_w = swap ? screen.back_buffer_height : screen.back_buffer_width;
  const int src_h = swap ? screen.back_buffer_width : screen.back_buffer_height;
  const int src_x = swap ? y : x;
  const int src_y = swap ? x : y;
  const int vw = screen.virtual_width;
  const int vh = screen.virtual_height;
  const int dx = (src_x - (src_w >> 1)) * kSignX[o];
  const int dy = (src_y - (src_h >> 1)) * kSignY[o];
  float s = 1.0f;
  const int ex = src_w - vw;
  const int ey = src_h - vh;
  // Sizes of 0 (before start-up) keep the unit scale rather than divide by 0.
  if ((ex < 0 || ey < 0) && src_w > 0 && src_h > 0 && vw > 0 && vh > 0) {
    if (ex > ey) {
      s = ey > 0 ? static_cast<float>(src_w) / static_cast<float>(vw)
                 : static_cast<float>(vh) / static_cast<float>(src_h);
    } else {
      s = ex > 0 ? static_cast<float>(src_h) / static_cast<float>(vh)
                 : static_cast<float>(vw) / static_cast<float>(src_w);
    }
  }
  if (out_x != nullptr) *out_x = static_cast<int>(static_cast<float>(dx) * s) + vw / 2;
  if (out_y != nullptr) *out_y = static_cast<int>(static_cast<float>(dy) * s) + vh / 2;
}

void pixel_to_normalized_screen(float* out_x, float* out_y, int x, int y) {
  int px = 0, py = 0;
  pixel_to_virtual_screen(&px, &py, x, y);
  const float vw = static_cast<float>(screen.virtual_width);
  const float vh = static_cast<float>(screen.virtual_height);
  if (out_x != nullptr) *out_x = vw != 0.0f ? (2.0f * static_cast<float>(px) - vw) / vw : 0.0f;
  if (out_y != nullptr) *out_y = vh != 0.0f ? (vh - 2.0f * static_cast<float>(py)) / vh : 0.0f;
}

// ---------------------------------------------------------------- defaults

void init_view_defaults() {
  for (int v = 0; v < kViewCount; ++v) {
    const Vec3 light_dir{1.0f, -1.0f, 1.0f};
    set_light_direction(v, &light_dir);
    set_light_axis(v, &kUp);
    set_light_color(v, 0, 0xFF646478u);
    set_light_color(v, 1, 0xFF646450u);
    set_light_color(v, 2, 0xFFFFFFFFu);
    set_light_color(v, 3, 0xFFFFFFFFu);
    light_copy_base_to_target(v);
    light_copy_base_to_override(v);
    light(v).frames_remaining = 0;
    light(v).override_frames = 0;

    set_fog_enable(v, 0);
    set_fog_start(v, 0.0f);
    set_fog_end(v, 100.0f);
    set_fog_color(v, 0xFFFFFFFFu);
    set_fog2_enable(v, 0);
    set_fog2_start(v, 0.0f);
    set_fog2_end(v, 0.0f);

    for (int l = 0; l < kExtraLightCount; ++l) {
      const Vec3 origin{0.0f, 0.0f, 0.0f};
      set_extra_light_enable(v, l, 0);
      set_extra_light_direction(v, l, &light_dir);
      set_extra_light_color(v, l, 0x8C323232u);
      set_extra_light_fit(v, l, 30.0f, 4.8f, 5.0f);
      set_extra_light_type(v, l, 1);
      set_extra_light_position(v, l, &origin);
      set_extra_light_param(v, l, 0.008f);
    }

    set_clip_plane_mode(v, 0);
    const Vec3 clip_point{0.0f, 0.1f, 0.0f};
    set_clip_plane(v, &clip_point, nullptr);

    set_view_enabled(v, v == 0 ? 1 : 0);
    set_camera_mode(v, 1);
    set_camera_fov(v, kDefaultFov);
    set_projection_center(v, 0.5f, 0.5f);
    const Vec3 eye{0.0f, 0.0f, 5.0f};
    const Vec3 target{0.0f, 0.0f, 0.0f};
    set_camera_look_at(v, &eye, &target, nullptr);
    set_viewport_rect(v, 0, 0, get_virtual_screen_width(), get_virtual_screen_height());
    set_near_far(v, 0.1f, 100.0f, 100.0f);
    // A running shake of a stronger claim would refuse the default one: a
    // reset ends it first.
    cam(v).shake_frames = 0;
    start_camera_shake(v, 0, 0.0f, 0.0f, 1.0f, 5);
  }
}

// ---------------------------------------------------------------- camera

void set_view_enabled(int view, int enabled) { cam(view).enabled = enabled; }
int view_is_enabled(int view) { return cam(view).enabled; }

void set_camera_mode(int view, int mode) {
  cam(view).mode = mode;
  mark_dirty(view);
}

int get_camera_mode(int view) { return cam(view).mode; }

void set_camera_position_angles(int view, const Vec3* position, const Vec3* angles) {
  cam(view).position = *position;
  cam(view).angles = *angles;
  mark_dirty(view);
}

void set_camera_look_at(int view, const Vec3* eye, const Vec3* target, const Vec3* up) {
  cam(view).position = *eye;
  cam(view).target = *target;
  cam(view).up = up != nullptr ? *up : kUp;
  mark_dirty(view);
}

void set_camera_matrix(int view, const Mat4* matrix) {
  cam(view).matrix = *matrix;
  mark_dirty(view);
}

void set_camera_fov(int view, float fov) {
  cam(view).fov = fov;
  mark_dirty(view);
}

float get_camera_fov(int view) { return cam(view).fov; }

void set_projection_center(int view, float cx, float cy) {
  cam(view).centre_x = cx;
  cam(view).centre_y = cy;
  mark_dirty(view);
}

float get_projection_center_x(int view) { return cam(view).centre_x; }
float get_projection_center_y(int view) { return cam(view).centre_y; }

void set_near_far(int view, float near, float far, float limit) {
  cam(view).near = near;
  cam(view).far = far;
  cam(view).far_limit = limit < far ? limit : far;
  mark_dirty(view);
}

void set_near(int view, float near) {
  cam(view).near = near;
  mark_dirty(view);
}

void set_far(int view, float far) {
  cam(view).far = far;
  mark_dirty(view);
}

void set_far_limit(int view, float limit) {
  cam(view).far_limit = limit < cam(view).far ? limit : cam(view).far;
  mark_dirty(view);
}

float get_near(int view) { return cam(view).near; }
float get_far(int view) { return cam(view).far; }
float get_far_limit(int view) { return cam(view).far_limit; }

void set_viewport(int view, int x, int y, int width, int height, float aspect) {
  Camera& c = cam(view);
  c.viewport_x = x;
  c.viewport_y = y;
  c.viewport_width = width != 0 ? width : 1;
  c.viewport_height = height != 0 ? height : 1;
  c.aspect = aspect;
  mark_dirty(view);
}

void set_viewport_rect(int view, int x, int y, int width, int height) {
  // The aspect comes from the stored size, so a height of 0 (stored as 1)
  // cannot give an infinite aspect.
  const int w = width != 0 ? width : 1;
  const int h = height != 0 ? height : 1;
  set_viewport(view, x, y, w, h, static_cast<float>(w) / static_cast<float>(h));
}

void get_viewport(int view, int* x, int* y, int* width, int* height) {
  const Camera& c = cam(view);
  if (x != nullptr) *x = c.viewport_x;
  if (y != nullptr) *y = c.viewport_y;
  if (width != nullptr) *width = c.viewport_width;
  if (height != nullptr) *height = c.viewport_height;
}

float get_viewport_aspect(int view) { return cam(view).aspect; }

const Vec3* get_camera_eye(int view) {
  update_view_matrices(view);
  return &cam(view).position;
}

const Vec3* get_camera_angles(int view) {
  update_view_matrices(view);
  return &cam(view).angles;
}

const Vec3* get_camera_look_at_target(int view) { return &cam(view).target; }
const Vec3* get_camera_up(int view) { return &cam(view).up; }

const Mat4* get_camera_world_matrix(int view) {
  update_view_matrices(view);
  return &cam(view).matrix;
}

const Frustum* get_camera_frustum(int view) {
  update_view_matrices(view);
  return &cam(view).frustum;
}

void start_camera_shake(int view, int frames, float amplitude_x, float amplitude_y, float decay,
                        int priority) {
  Camera& c = cam(view);
  if (c.shake_frames > 0 && c.shake_priority < priority) return;
  c.shake_frames = frames;
  c.shake_amplitude_x = amplitude_x;
  c.shake_amplitude_y = amplitude_y;
  c.shake_decay = decay;
  c.shake_priority = priority;
}

float get_shake_offset_x(int view) { return cam(view).shake_offset_x; }
float get_shake_offset_y(int view) { return cam(view).shake_offset_y; }

// ---------------------------------------------------------------- fog

void set_fog_enable(int view, int enabled) {
  cam(view).fog_enabled = enabled;
  end_fog_transition(cam(view));
}

void set_fog_start(int view, float start) {
  Camera& c = cam(view);
  c.fog_start = c.fog_from_start = c.fog_target_start = start;
  end_fog_transition(c);
}

void set_fog_end(int view, float end) {
  Camera& c = cam(view);
  c.fog_end = c.fog_from_end = c.fog_target_end = end;
  end_fog_transition(c);
}

void set_fog_color(int view, uint32_t argb) {
  Camera& c = cam(view);
  c.fog_colour = c.fog_from_colour = c.fog_target_colour = argb;
  argb_to_float4(c.fog_colour_float4, argb);
  end_fog_transition(c);
}

// A transition of no frames would never be stepped; it applies at once.
void fog_transition_start(int view, float value, int frames) {
  Camera& c = cam(view);
  if (frames <= 0) return set_fog_start(view, value);
  c.fog_frames_remaining = c.fog_total = frames;
  c.fog_from_start = c.fog_start;
  c.fog_target_start = value;
}

void fog_transition_end(int view, float value, int frames) {
  Camera& c = cam(view);
  if (frames <= 0) return set_fog_end(view, value);
  c.fog_frames_remaining = c.fog_total = frames;
  c.fog_from_end = c.fog_end;
  c.fog_target_end = value;
}

void fog_transition_color(int view, uint32_t argb, int frames) {
  Camera& c = cam(view);
  if (frames <= 0) return set_fog_color(view, argb);
  c.fog_frames_remaining = c.fog_total = frames;
  c.fog_from_colour = c.fog_colour;
  c.fog_target_colour = argb;
}

int get_fog_enable(int view) { return cam(view).fog_enabled; }
float get_fog_start(int view) { return cam(view).fog_start; }
float get_fog_end(int view) { return cam(view).fog_end; }
uint32_t get_fog_color(int view) { return cam(view).fog_colour; }
const float* get_fog_color_float4(int view) { return cam(view).fog_colour_float4; }
void set_fog2_enable(int view, int enabled) { cam(view).fog2_enabled = enabled; }
void set_fog2_start(int view, float start) { cam(view).fog2_start = start; }
void set_fog2_end(int view, float end) { cam(view).fog2_end = end; }
int get_fog2_enable(int view) { return cam(view).fog2_enabled; }
float get_fog2_start(int view) { return cam(view).fog2_start; }
float get_fog2_end(int view) { return cam(view).fog2_end; }

// ---------------------------------------------------------------- light

void set_light_direction(int view, const Vec3* direction) {
  light(view).base.direction = normalised(direction);
  light(view).frames_remaining = 0;
}

void set_light_axis(int view, const Vec3* axis) {
  light(view).base.axis = axis_or_up(axis);
  light(view).frames_remaining = 0;
}

void set_light_color(int view, int index, uint32_t argb) {
  light(view).base.colours[index & 3] = argb;
  light(view).frames_remaining = 0;
}

void light_transition_direction(int view, const Vec3* direction, int frames) {
  Light& l = light(view);
  (frames != 0 ? l.target : l.base).direction = normalised(direction);
  l.frames_remaining = l.total = frames;
}

void light_transition_axis(int view, const Vec3* axis, int frames) {
  Light& l = light(view);
  (frames != 0 ? l.target : l.base).axis = axis_or_up(axis);
  l.frames_remaining = l.total = frames;
}

void light_transition_color(int view, int index, uint32_t argb, int frames) {
  Light& l = light(view);
  (frames != 0 ? l.target : l.base).colours[index & 3] = argb;
  l.frames_remaining = l.total = frames;
}

void light_copy_base_to_target(int view) { light(view).target = light(view).base; }

void light_override_direction(int view, const Vec3* direction, int frames) {
  light(view).override_block.direction = normalised(direction);
  light(view).override_frames = frames;
}

void light_override_color(int view, int index, uint32_t argb, int frames) {
  light(view).override_block.colours[index & 3] = argb;
  light(view).override_frames = frames;
}

void light_override_axis(int view, const Vec3* axis) {
  light(view).override_block.axis = axis_or_up(axis);
  light(view).override_frames = 0;
}

void light_copy_base_to_override(int view) { light(view).override_block = light(view).base; }

const LightBlock* get_light_record(int view) { return &light(view).current; }
const Vec3* get_light_axis(int view) { return &light(view).current.axis; }
uint32_t get_light_color(int view, int index) { return light(view).current.colours[index & 3]; }

const float* get_light_color_float4(int view, int index) {
  return light(view).colour_float4[index & 3];
}

// ---------------------------------------------------------------- extra lights

void set_extra_light_enable(int view, int l, int enabled) { extra(view, l).enabled = enabled; }
int get_extra_light_enable(int view, int l) { return extra(view, l).enabled; }

void set_extra_light_type(int view, int l, int type) {
  extra(view, l).type = type;
  mark_dirty(view);
}

int get_extra_light_type(int view, int l) { return extra(view, l).type; }

void set_extra_light_position(int view, int l, const Vec3* position) {
  extra(view, l).position = *position;
  mark_dirty(view);
}

const Vec3* get_extra_light_position(int view, int l) { return &extra(view, l).position; }

void set_extra_light_direction(int view, int l, const Vec3* direction) {
  extra(view, l).direction = normalised(direction);
  mark_dirty(view);
}

const Vec3* get_extra_light_direction(int view, int l) { return &extra(view, l).direction; }

void set_extra_light_color(int view, int l, uint32_t argb) {
  extra(view, l).colour = argb;
  argb_to_float4(extra(view, l).colour_float4, argb);
}

uint32_t get_extra_light_color(int view, int l) { return extra(view, l).colour; }
const float* get_extra_light_color_float4(int view, int l) { return extra(view, l).colour_float4; }

void set_extra_light_fit(int view, int l, float distance, float focus, float radius) {
  extra(view, l).distance = distance;
  extra(view, l).focus = focus;
  extra(view, l).radius = radius;
  mark_dirty(view);
}

float get_extra_light_distance(int view, int l) { return extra(view, l).distance; }
float get_extra_light_focus(int view, int l) { return extra(view, l).focus; }
float get_extra_light_radius(int view, int l) { return extra(view, l).radius; }

void set_extra_light_projection(int view, int l, float fov, float near, float far) {
  extra(view, l).fov = fov;
  extra(view, l).near = near;
  extra(view, l).far = far;
  mark_dirty(view);
}

float get_extra_light_near(int view, int l) {
  update_view_matrices(view);
  return extra(view, l).near;
}

float get_extra_light_far(int view, int l) {
  update_view_matrices(view);
  return extra(view, l).far;
}

void set_extra_light_param(int view, int l, float value) { extra(view, l).parameter = value; }
float get_extra_light_param(int view, int l) { return extra(view, l).parameter; }

// ---------------------------------------------------------------- clip plane

void set_clip_plane_mode(int view, int mode) { views[view].clip_plane.mode = mode; }
int get_clip_plane_mode(int view) { return views[view].clip_plane.mode; }

void set_clip_plane(int view, const Vec3* point, const Vec3* normal) {
  ClipPlane& c = views[view].clip_plane;
  c.point = point != nullptr ? *point : Vec3{0.0f, 0.0f, 0.0f};
  c.normal = normal != nullptr ? normalised(normal) : kUp;
  plane_from_point_normal(&c.plane, &c.point, &c.normal);
  mark_dirty(view);
}

const Plane* get_clip_plane(int view) { return &views[view].clip_plane.plane; }
const Vec3* get_clip_plane_point(int view) { return &views[view].clip_plane.point; }
const Vec3* get_clip_plane_normal(int view) { return &views[view].clip_plane.normal; }
