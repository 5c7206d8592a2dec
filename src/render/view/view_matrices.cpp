#include "render/view/view_matrices.h"

#include <cmath>

namespace {

// A x B in the order of application: A first.
Mat4 then(const Mat4& a, const Mat4& b) {
  Mat4 out;
  mat4_multiply(&out, &b, &a);
  return out;
}

Mat4 inverse(const Mat4& m) {
  Mat4 out;
  mat4_invert(&out, &m);
  return out;
}

Mat4 off_center(const Frustum& f, float far) {
  Mat4 out;
  mat4_perspective_off_center(&out, f.left, f.right, f.bottom, f.top, f.near, far);
  return out;
}

void planes_of(ViewFrustum* out, const Mat4& m) { frustum_planes_from_matrix(out->planes, &m); }

// Camera placement by mode: camera-to-world and view matrix.
void place_camera(Camera& c, Mat4* cw, Mat4* v) {
  switch (c.mode) {
    case 0:
      mat4_from_position_euler(cw, &c.position, &c.angles);
      *v = inverse(*cw);
      c.matrix = *cw;
      break;
    case 1:
      mat4_look_at(cw, &c.position, &c.target, &c.up, 0);
      *v = inverse(*cw);
      c.matrix = *cw;
      break;
    case 2:
      *cw = c.matrix;
      *v = inverse(*cw);
      break;
    case 3:
      *v = c.matrix;
      *cw = inverse(*v);
      break;
    default:
      mat4_identity(cw);
      mat4_identity(v);
      break;
  }
}

void build_extra_light(ViewState& s, int l, const Mat4& cw) {
  ExtraLight& e = s.extra_lights[l];
  if (e.type != 0) {
    // A radius that reaches the light would put the near plane at or behind
    // it; the projection then fits from just outside the sphere.
    const float r = e.radius;
    const float d = r >= e.distance ? r + 0.001f : e.distance;
    e.fov = 2.0f * std::asin(r / d);
    e.near = d - r;
    e.far = d + r;
  }
  Frustum fl;
  frustum_from_fov(&fl, e.fov, 1.0f, 0.5f, 0.5f, e.near, e.far);
  const Mat4 pl = off_center(fl, fl.far);

  Mat4 cl;
  Vec3 angles;
  vec3_to_angles(&angles, &e.direction);
  if (e.type == 0) {
    const Vec3 pitch_yaw{angles.x, angles.y, 0.0f};
    mat4_from_position_euler(&cl, &e.position, &pitch_yaw);
  } else {
    const Vec3 cam_pos{cw.m[12], cw.m[13], cw.m[14]};
    const Vec3 forward{cw.m[8], cw.m[9], cw.m[10]};
    Vec3 centre;
    vec3_madd(&centre, &cam_pos, &forward, e.focus);
    Vec3 eye;
    vec3_madd(&eye, &centre, &e.direction, -e.distance);
    e.position = eye;
    const Vec3 y_axis{0.0f, 1.0f, 0.0f};
    Vec3 up;
    vec3_orbit(&up, &y_axis, angles.x, angles.y, 1.0f);
    mat4_look_at(&cl, &eye, &centre, &up, 0);
  }
  const Mat4 vl = inverse(cl);
  s.matrices.slots[kSlotLightView + l] = vl;
  s.matrices.slots[kSlotLightCamera + l] = cl;
  s.matrices.slots[kSlotLightProjection + l] = pl;
  s.matrices.slots[kSlotLightProjView + l] = then(pl, vl);
  s.matrices.slots[kSlotLightViewProj + l] = then(vl, pl);
  planes_of(&s.frustums[2 + l], s.matrices.slots[kSlotLightViewProj + l]);
}

const Mat4& camera_to_world_for_rays(int view) {
  const ViewState& s = *view_state(view);
  // In modes 3 and above the matrix field is not a camera-to-world matrix;
  // the rebuilt slot 1 is, in every mode.
  if (s.camera.mode >= 0 && s.camera.mode <= 2) return s.camera.matrix;
  return s.matrices.slots[kSlotCamera];
}

}  // namespace

void update_view_matrices(int view) {
  ViewState& s = *view_state(view);
  Camera& c = s.camera;
  if (c.enabled == 0 || c.dirty == 0) return;

  Mat4 cw, v;
  place_camera(c, &cw, &v);

  Frustum f;
  frustum_from_fov(&f, c.fov, c.aspect, c.centre_x, c.centre_y, c.near, c.far);
  c.frustum = f;
  const Mat4 p = off_center(f, f.far);
  const Mat4 p2 = off_center(f, c.far_limit);

  Mat4* slots = s.matrices.slots;
  slots[kSlotView] = v;
  slots[kSlotCamera] = cw;
  slots[kSlotProjection] = p;
  slots[kSlotProjView] = then(p, v);
  slots[kSlotViewProj] = then(v, p);
  slots[kSlotViewProjFarLimit] = then(v, p2);

  for (int l = 0; l < kExtraLightCount; ++l) build_extra_light(s, l, cw);

  Mat4 r;
  mat4_reflection(&r, &s.clip_plane.plane);
  const Mat4 mv = then(r, v);
  Mat4 mp;
  mat4_oblique_clip_projection(&mp, &p, &mv, &s.clip_plane.plane);
  slots[kSlotMirrorView] = mv;
  slots[kSlotMirrorViewInverse] = inverse(mv);
  slots[kSlotMirrorProjection] = mp;
  slots[kSlotMirrorProjView] = then(mp, mv);
  slots[kSlotMirrorViewProj] = then(mv, mp);

  planes_of(&s.frustums[0], slots[kSlotViewProj]);
  planes_of(&s.frustums[1], slots[kSlotViewProjFarLimit]);
  planes_of(&s.frustums[4], slots[kSlotMirrorViewProj]);

  if (c.mode != 0) mat4_to_position_euler(&c.position, &c.angles, &cw);
  c.dirty = 0;
}

const Mat4* get_view_matrix_slot(int view, int slot) {
  update_view_matrices(view);
  return &view_state(view)->matrices.slots[slot];
}

const Plane* get_view_frustum(int view, int frustum) {
  update_view_matrices(view);
  return view_state(view)->frustums[frustum].planes;
}

int project_to_ndc(int view, float* out_x, float* out_y, const Vec3* point) {
  if (!view_is_enabled(view)) return kProjectOutside;
  const float* m = get_matrix_slot4(view)->m;
  const Vec3& p = *point;
  float x = p.x * m[0] + p.y * m[4] + p.z * m[8] + m[12];
  float y = p.x * m[1] + p.y * m[5] + p.z * m[9] + m[13];
  const float w = p.x * m[3] + p.y * m[7] + p.z * m[11] + m[15];
  if (w != 0.0f) {
    x /= w;
    y /= w;
  }
  if (out_x != nullptr) *out_x = x;
  if (out_y != nullptr) *out_y = y;
  if (x < -1.0f || x > 1.0f || y < -1.0f || y > 1.0f) return kProjectOutside;
  return w >= 0.0f ? kProjectInFront : kProjectBehind;
}

int project_to_screen(int view, float* out_x, float* out_y, const Vec3* point) {
  float x = 0.0f, y = 0.0f;
  const int result = project_to_ndc(view, &x, &y, point);
  int width = 0, height = 0;
  get_viewport(view, nullptr, nullptr, &width, &height);
  if (out_x != nullptr) *out_x = (x * 0.5f + 0.5f) * static_cast<float>(width);
  if (out_y != nullptr) *out_y = (-y * 0.5f + 0.5f) * static_cast<float>(height);
  return result;
}

Vec3* unproject_ndc(int view, const Frustum* f, Vec3* out, float fx, float fy) {
  Vec3 v{f->left + (f->right - f->left) * fx, f->top + (f->bottom - f->top) * fy, f->near};
  vec3_normalize(&v, &v);
  update_view_matrices(view);
  return mat4_transform_direction(out, &camera_to_world_for_rays(view), &v);
}

Vec3* unproject_fraction(int view, Vec3* out, float fx, float fy) {
  return unproject_ndc(view, get_camera_frustum(view), out, fx, fy);
}

Vec3* unproject_viewport(int view, Vec3* out, float fx, float fy) {
  update_view_matrices(view);
  int width = 0, height = 0;
  get_viewport(view, nullptr, nullptr, &width, &height);
  if (width == 0 || height == 0) return nullptr;
  return unproject_fraction(view, out, fx, fy);
}

void unproject_centred(int view, Vec3* out_point, Vec3* out_direction, float fx, float fy) {
  update_view_matrices(view);
  const Camera& c = view_state(view)->camera;
  const Frustum& f = c.frustum;
  const Vec3 q{(f.right - f.left) * 0.5f * fx, (f.top - f.bottom) * 0.5f * fy, c.near};
  const Mat4& cw = camera_to_world_for_rays(view);
  Vec3 world;
  mat4_transform_point(&world, &cw, &q);
  if (out_point != nullptr) *out_point = world;
  if (out_direction != nullptr) {
    const Vec3 eye{cw.m[12], cw.m[13], cw.m[14]};
    vec3_direction_between(out_direction, &eye, &world);
  }
}
