// The two views (0 and 1) and the screen-size words of the graphics state.
//
// A view is everything needed to look at the 3D world: a camera (placement,
// projection, viewport, two fog ranges, a shake), a directional light with
// timed transitions and a timed override, two extra lights with their own
// matrices, and a clip plane for the mirror pass. The derived matrices and
// frustums are built lazily (view_matrices.h): setters that change them mark
// the view dirty, and every getter that reads derived data rebuilds a dirty,
// enabled view first.
//
// Every operation takes the view number (0 or 1) first; light indices are 0
// or 1. Neither is checked: callers pass constants. Main thread only.
#pragma once

#include <cstdint>

#include "math/mat4.h"
#include "math/plane.h"
#include "math/vec.h"

constexpr int kViewCount = 2;
constexpr int kExtraLightCount = 2;
constexpr int kViewMatrixSlotCount = 22;
constexpr int kViewFrustumCount = 5;

struct ViewMatrices {
  Mat4 slots[kViewMatrixSlotCount];
};

// The six planes of one view volume, in the order of
// frustum_planes_from_matrix.
struct ViewFrustum {
  Plane planes[kFrustumPlaneCount];
};

struct Camera {
  int32_t enabled;  // matrices are rebuilt only for an enabled view
  int32_t dirty;
  // 0 position and angles, 1 look-at, 2 camera-to-world matrix given,
  // 3 view matrix given; any other value gives the identity.
  int32_t mode;
  Vec3 position;  // rewritten by every rebuild in modes other than 0
  Vec3 angles;    // (pitch, yaw, roll) radians, as mat4_from_position_euler
  Vec3 target;
  Vec3 up;
  Mat4 matrix;  // mode 2/3 input; modes 0/1: the rebuilt camera-to-world matrix
  float fov;    // vertical, radians
  float centre_x, centre_y;
  float near, far;
  float far_limit;  // never above far; the far plane of the second projection
  int32_t viewport_x, viewport_y, viewport_width, viewport_height;
  float aspect;
  int32_t fog_enabled;
  float fog_start, fog_end;
  uint32_t fog_colour;
  float fog_colour_float4[4];
  int32_t fog_frames_remaining, fog_total;
  float fog_from_start, fog_from_end;
  uint32_t fog_from_colour;
  float fog_target_start, fog_target_end;
  uint32_t fog_target_colour;
  int32_t fog2_enabled;
  float fog2_start, fog2_end;
  int32_t shake_frames;
  int32_t shake_priority;  // lower value = stronger claim
  float shake_amplitude_x, shake_amplitude_y;
  float shake_decay;
  float shake_offset_x, shake_offset_y;  // this frame's, written by the frame driver
  Frustum frustum;                       // extents of the last rebuild
};

struct LightBlock {
  Vec3 direction;  // kept normalised
  Vec3 axis;       // kept normalised
  uint32_t colours[4];
};

struct Light {
  LightBlock current;  // what readers get; recomputed every frame
  LightBlock base;
  LightBlock target;
  LightBlock override_block;
  float colour_float4[4][4];  // the current colours as floats
  int32_t frames_remaining;
  int32_t total;
  int32_t override_frames;
};

struct ExtraLight {
  int32_t enabled;
  int32_t type;  // 0: stored projection; otherwise fitted around a sphere ahead of the camera
  Vec3 position;
  Vec3 direction;
  uint32_t colour;
  float colour_float4[4];
  float distance;  // sphere fit: light distance back from the sphere's centre
  float focus;     // sphere fit: the centre's distance ahead of the camera
  float radius;    // sphere fit: the sphere's radius
  float fov, near, far;
  float parameter;
};

struct ClipPlane {
  int32_t mode;
  Vec3 point;
  Vec3 normal;
  Plane plane;
};

struct ViewState {
  ViewMatrices matrices;
  ViewFrustum frustums[kViewFrustumCount];
  Camera camera;
  Light light;
  ExtraLight extra_lights[kExtraLightCount];
  ClipPlane clip_plane;
  int32_t extra_light_count;
};

// The view's record, for the frame driver's per-frame steps (shake, light
// and fog transitions, extra-light count) and the matrix rebuild.
ViewState* view_state(int view);

// ---------------------------------------------------------------- screen words

// Graphics start-up: the back-buffer size and the layout descriptor
// {layout width, layout height, virtual width, virtual height, orientation};
// a size of 0, or a null descriptor, takes the back-buffer size.
void view_set_screen(int back_buffer_width, int back_buffer_height, const int layout[5]);
int get_back_buffer_width();
int get_back_buffer_height();
int get_layout_width();
int get_layout_height();
int get_virtual_screen_width();
int get_virtual_screen_height();
int get_screen_orientation();
void gfx_set_clear_colour(uint32_t argb);
uint32_t gfx_get_clear_colour();
void set_current_view(int view);
int get_current_view();
void set_current_light_index(int light);
int get_current_light_index();
int get_extra_light_count(int view);
// Back-buffer pixel to virtual-screen pixel, and to -1..1 with y up. Null
// outputs are skipped.
void pixel_to_virtual_screen(int* out_x, int* out_y, int x, int y);
void pixel_to_normalized_screen(float* out_x, float* out_y, int x, int y);

// Both views to their defaults (start-up and component reset).
void init_view_defaults();

// ---------------------------------------------------------------- camera

void set_view_enabled(int view, int enabled);
int view_is_enabled(int view);
void set_camera_mode(int view, int mode);
int get_camera_mode(int view);
void set_camera_position_angles(int view, const Vec3* position, const Vec3* angles);
// A null up stores (0, 1, 0); up is not normalised.
void set_camera_look_at(int view, const Vec3* eye, const Vec3* target, const Vec3* up);
void set_camera_matrix(int view, const Mat4* matrix);
void set_camera_fov(int view, float fov);
float get_camera_fov(int view);
void set_projection_center(int view, float cx, float cy);
float get_projection_center_x(int view);
float get_projection_center_y(int view);
// far limit = min(limit, far).
void set_near_far(int view, float near, float far, float limit);
void set_near(int view, float near);
void set_far(int view, float far);  // does not re-clamp the far limit
void set_far_limit(int view, float limit);
float get_near(int view);
float get_far(int view);
float get_far_limit(int view);
// A width or height of 0 is stored as 1; the aspect as given.
void set_viewport(int view, int x, int y, int width, int height, float aspect);
// The aspect from the stored width and height.
void set_viewport_rect(int view, int x, int y, int width, int height);
void get_viewport(int view, int* x, int* y, int* width, int* height);
float get_viewport_aspect(int view);
const Vec3* get_camera_eye(int view);     // rebuilds
const Vec3* get_camera_angles(int view);  // rebuilds
const Vec3* get_camera_look_at_target(int view);
const Vec3* get_camera_up(int view);
const Mat4* get_camera_world_matrix(int view);  // rebuilds
const Frustum* get_camera_frustum(int view);    // rebuilds
// Replaces the running shake unless one runs with a lower (stronger)
// priority value.
void start_camera_shake(int view, int frames, float amplitude_x, float amplitude_y, float decay,
                        int priority);
float get_shake_offset_x(int view);
float get_shake_offset_y(int view);

// ---------------------------------------------------------------- fog

// The plain setters end a running fog transition.
void set_fog_enable(int view, int enabled);
void set_fog_start(int view, float start);
void set_fog_end(int view, float end);
void set_fog_color(int view, uint32_t argb);
// Transitions over frames (the frame driver steps them); frames of 0 or
// less apply the value at once.
void fog_transition_start(int view, float value, int frames);
void fog_transition_end(int view, float value, int frames);
void fog_transition_color(int view, uint32_t argb, int frames);
int get_fog_enable(int view);
float get_fog_start(int view);
float get_fog_end(int view);
uint32_t get_fog_color(int view);
const float* get_fog_color_float4(int view);
void set_fog2_enable(int view, int enabled);
void set_fog2_start(int view, float start);
void set_fog2_end(int view, float end);
int get_fog2_enable(int view);
float get_fog2_start(int view);
float get_fog2_end(int view);

// ---------------------------------------------------------------- light

// The plain setters change the base block and cancel a running transition.
void set_light_direction(int view, const Vec3* direction);
void set_light_axis(int view, const Vec3* axis);  // null gives (0, 1, 0)
void set_light_color(int view, int index, uint32_t argb);
// With frames 0 the base block changes at once.
void light_transition_direction(int view, const Vec3* direction, int frames);
void light_transition_axis(int view, const Vec3* axis, int frames);
void light_transition_color(int view, int index, uint32_t argb, int frames);
void light_copy_base_to_target(int view);
void light_override_direction(int view, const Vec3* direction, int frames);
void light_override_color(int view, int index, uint32_t argb, int frames);
// Sets the override axis and ends the override (frames 0).
void light_override_axis(int view, const Vec3* axis);
void light_copy_base_to_override(int view);
const LightBlock* get_light_record(int view);
const Vec3* get_light_axis(int view);
uint32_t get_light_color(int view, int index);
const float* get_light_color_float4(int view, int index);

inline void set_light_color0(int view, uint32_t c) { set_light_color(view, 0, c); }
inline void set_light_color1(int view, uint32_t c) { set_light_color(view, 1, c); }
inline void set_light_color2(int view, uint32_t c) { set_light_color(view, 2, c); }
inline void set_light_color3(int view, uint32_t c) { set_light_color(view, 3, c); }
inline void light_transition_color0(int view, uint32_t c, int f) { light_transition_color(view, 0, c, f); }
inline void light_transition_color1(int view, uint32_t c, int f) { light_transition_color(view, 1, c, f); }
inline void light_transition_color2(int view, uint32_t c, int f) { light_transition_color(view, 2, c, f); }
inline void light_transition_color3(int view, uint32_t c, int f) { light_transition_color(view, 3, c, f); }
inline void light_override_color0(int view, uint32_t c, int f) { light_override_color(view, 0, c, f); }
inline void light_override_color1(int view, uint32_t c, int f) { light_override_color(view, 1, c, f); }
inline void light_override_color2(int view, uint32_t c, int f) { light_override_color(view, 2, c, f); }
inline void light_override_color3(int view, uint32_t c, int f) { light_override_color(view, 3, c, f); }
inline uint32_t get_light_color0(int view) { return get_light_color(view, 0); }
inline uint32_t get_light_color1(int view) { return get_light_color(view, 1); }
inline uint32_t get_light_color2(int view) { return get_light_color(view, 2); }
inline uint32_t get_light_color3(int view) { return get_light_color(view, 3); }
inline const float* get_light_color0_float4(int view) { return get_light_color_float4(view, 0); }
inline const float* get_light_color1_float4(int view) { return get_light_color_float4(view, 1); }
inline const float* get_light_color2_float4(int view) { return get_light_color_float4(view, 2); }
inline const float* get_light_color3_float4(int view) { return get_light_color_float4(view, 3); }

// ---------------------------------------------------------------- extra lights

void set_extra_light_enable(int view, int light, int enabled);
int get_extra_light_enable(int view, int light);
void set_extra_light_type(int view, int light, int type);
int get_extra_light_type(int view, int light);
void set_extra_light_position(int view, int light, const Vec3* position);
const Vec3* get_extra_light_position(int view, int light);
void set_extra_light_direction(int view, int light, const Vec3* direction);  // normalised
const Vec3* get_extra_light_direction(int view, int light);
void set_extra_light_color(int view, int light, uint32_t argb);
uint32_t get_extra_light_color(int view, int light);
const float* get_extra_light_color_float4(int view, int light);
void set_extra_light_fit(int view, int light, float distance, float focus, float radius);
float get_extra_light_distance(int view, int light);
float get_extra_light_focus(int view, int light);
float get_extra_light_radius(int view, int light);
void set_extra_light_projection(int view, int light, float fov, float near, float far);
float get_extra_light_near(int view, int light);  // rebuilds
float get_extra_light_far(int view, int light);   // rebuilds
void set_extra_light_param(int view, int light, float value);
float get_extra_light_param(int view, int light);

// ---------------------------------------------------------------- clip plane

void set_clip_plane_mode(int view, int mode);
int get_clip_plane_mode(int view);
// A null point gives the origin, a null normal (0, 1, 0).
void set_clip_plane(int view, const Vec3* point, const Vec3* normal);
const Plane* get_clip_plane(int view);
const Vec3* get_clip_plane_point(int view);
const Vec3* get_clip_plane_normal(int view);
