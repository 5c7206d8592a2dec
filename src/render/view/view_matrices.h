// The matrices and frustums each view derives from its camera, extra lights
// and clip plane, and the projection of world points to the screen and back.
//
// Slots, per view (A x B applies A first):
//   0 view V (world to camera)       1 camera CW = inverse of V
//   2 projection P                   3 P x V
//   4 V x P (world to clip)          5 V x P2, P2 cut at the far limit
//   6+l  light l view VL             8+l  light l camera CL
//   10+l light l projection PL       12+l PL x VL       14+l VL x PL
//   16 mirror view MV = R x V        17 inverse of MV
//   18 mirror projection MP          19 MP x MV         20 MV x MP
//   21 never written
// Frustums: 0 from slot 4, 1 from slot 5, 2 + l from slot 14 + l, 4 from 20.
//
// Every getter rebuilds an enabled, dirty view first and returns the address
// of the cached value inside the view state: a later rebuild overwrites it.
// A disabled view keeps what it had (zero until its first rebuild).
#pragma once

#include "math/mat4.h"
#include "math/plane.h"
#include "math/vec.h"
#include "render/view/view_state.h"

enum ViewMatrixSlot {
  kSlotView = 0,
  kSlotCamera = 1,
  kSlotProjection = 2,
  kSlotProjView = 3,
  kSlotViewProj = 4,
  kSlotViewProjFarLimit = 5,
  kSlotLightView = 6,
  kSlotLightCamera = 8,
  kSlotLightProjection = 10,
  kSlotLightProjView = 12,
  kSlotLightViewProj = 14,
  kSlotMirrorView = 16,
  kSlotMirrorViewInverse = 17,
  kSlotMirrorProjection = 18,
  kSlotMirrorProjView = 19,
  kSlotMirrorViewProj = 20,
  kSlotUnused = 21,
};

// Rebuilds when the view is enabled and dirty; otherwise does nothing.
void update_view_matrices(int view);

const Mat4* get_view_matrix_slot(int view, int slot);
const Plane* get_view_frustum(int view, int frustum);

inline const Mat4* get_view_matrix(int v) { return get_view_matrix_slot(v, 0); }
inline const Mat4* get_camera_matrix(int v) { return get_view_matrix_slot(v, 1); }
inline const Mat4* get_projection_matrix(int v) { return get_view_matrix_slot(v, 2); }
inline const Mat4* get_proj_view_matrix(int v) { return get_view_matrix_slot(v, 3); }
inline const Mat4* get_matrix_slot4(int v) { return get_view_matrix_slot(v, 4); }
inline const Mat4* get_matrix_slot5(int v) { return get_view_matrix_slot(v, 5); }
inline const Mat4* get_light_matrix_a(int v, int l) { return get_view_matrix_slot(v, 6 + l); }
inline const Mat4* get_light_matrix_b(int v, int l) { return get_view_matrix_slot(v, 8 + l); }
inline const Mat4* get_light_matrix_c(int v, int l) { return get_view_matrix_slot(v, 10 + l); }
inline const Mat4* get_light_matrix_d(int v, int l) { return get_view_matrix_slot(v, 12 + l); }
inline const Mat4* get_light_matrix_e(int v, int l) { return get_view_matrix_slot(v, 14 + l); }
inline const Mat4* get_matrix_slot16(int v) { return get_view_matrix_slot(v, 16); }
inline const Mat4* get_matrix_slot17(int v) { return get_view_matrix_slot(v, 17); }
inline const Mat4* get_matrix_slot18(int v) { return get_view_matrix_slot(v, 18); }
inline const Mat4* get_matrix_slot19(int v) { return get_view_matrix_slot(v, 19); }
inline const Mat4* get_matrix_slot20(int v) { return get_view_matrix_slot(v, 20); }
inline const Mat4* get_matrix_slot21(int v) { return get_view_matrix_slot(v, 21); }

// The same for the current view (set_current_view).
inline const Mat4* get_current_view_matrix() { return get_view_matrix(get_current_view()); }
inline const Mat4* get_current_camera_matrix() { return get_camera_matrix(get_current_view()); }
inline const Mat4* get_current_projection_matrix() {
  return get_projection_matrix(get_current_view());
}
inline const Mat4* get_current_proj_view_matrix() {
  return get_proj_view_matrix(get_current_view());
}
inline const Mat4* get_current_matrix_slot4() { return get_matrix_slot4(get_current_view()); }
inline const Mat4* get_current_matrix_slot5() { return get_matrix_slot5(get_current_view()); }
inline const Mat4* get_current_light_matrix_a(int l) {
  return get_light_matrix_a(get_current_view(), l);
}
inline const Mat4* get_current_light_matrix_b(int l) {
  return get_light_matrix_b(get_current_view(), l);
}
inline const Mat4* get_current_light_matrix_c(int l) {
  return get_light_matrix_c(get_current_view(), l);
}
inline const Mat4* get_current_light_matrix_d(int l) {
  return get_light_matrix_d(get_current_view(), l);
}
inline const Mat4* get_current_light_matrix_e(int l) {
  return get_light_matrix_e(get_current_view(), l);
}
inline const Mat4* get_current_matrix_slot16() { return get_matrix_slot16(get_current_view()); }
inline const Mat4* get_current_matrix_slot17() { return get_matrix_slot17(get_current_view()); }
inline const Mat4* get_current_matrix_slot18() { return get_matrix_slot18(get_current_view()); }
inline const Mat4* get_current_matrix_slot19() { return get_matrix_slot19(get_current_view()); }
inline const Mat4* get_current_matrix_slot20() { return get_matrix_slot20(get_current_view()); }
inline const Mat4* get_current_matrix_slot21() { return get_matrix_slot21(get_current_view()); }

// Six planes each.
inline const Plane* get_view_frustum_0(int v) { return get_view_frustum(v, 0); }
inline const Plane* get_view_frustum_1(int v) { return get_view_frustum(v, 1); }
inline const Plane* get_light_frustum(int v, int l) { return get_view_frustum(v, 2 + l); }
inline const Plane* get_view_frustum_4(int v) { return get_view_frustum(v, 4); }

// Result codes of the projections.
constexpr int kProjectInFront = 0;
constexpr int kProjectBehind = -1;   // inside the screen, behind the camera
constexpr int kProjectOutside = -2;  // outside the screen, or the view disabled

// World point to normalised device x, y (-1..1, y up) through slot 4. A
// disabled view writes nothing.
int project_to_ndc(int view, float* out_x, float* out_y, const Vec3* point);
// The same mapped to viewport pixels (the viewport's own x, y not added);
// the outputs are written whatever the result.
int project_to_screen(int view, float* out_x, float* out_y, const Vec3* point);

// World-space unit direction of the ray through the screen fraction (fx, fy)
// (0, 0 = top-left) of the extents f.
Vec3* unproject_ndc(int view, const Frustum* f, Vec3* out, float fx, float fy);
Vec3* unproject_fraction(int view, Vec3* out, float fx, float fy);
// Null when the viewport has no size.
Vec3* unproject_viewport(int view, Vec3* out, float fx, float fy);
// The world point on the near plane at (fx, fy) in -1..1 from the centre, and
// the unit direction from the camera to it. Either output may be null.
void unproject_centred(int view, Vec3* out_point, Vec3* out_direction, float fx, float fy);
