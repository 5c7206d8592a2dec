// Mat4: 16 floats, row-major, used with row vectors. A point transforms as
// (p, 1) x M, so rows 0..2 are the images of the axes and the translation
// sits in m12..m14. Left-handed; projections map view depth to 0 at the near
// plane and 1 at the far plane.
//
// Products are written in the order of application: in A x B, A applies
// first. mat4_multiply(out, a, b) computes b x a. Euler angles are
// (x pitch, y yaw, z roll) composed as YPR = Rz(z) x Rx(x) x Ry(y).
//
// Every operation reads all its inputs before writing, so out may be one of
// the inputs.
#pragma once

#include "math/vec.h"

struct Mat4 {
  float m[16];
};

struct Vec4 {
  float x, y, z, w;
};

struct Plane;

// ---------------------------------------------------------------- hot paths

inline Mat4* mat4_identity(Mat4* out) {
  for (int k = 0; k < 16; ++k) out->m[k] = (k % 5 == 0) ? 1.0f : 0.0f;
  return out;
}

inline Mat4* mat4_copy(Mat4* out, const Mat4* m) {
  *out = *m;
  return out;
}

// b x a: b applies first, then a.
inline Mat4* mat4_multiply(Mat4* out, const Mat4* a, const Mat4* b) {
  const Mat4 ca = *a, cb = *b;
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) {
      out->m[i * 4 + j] = cb.m[i * 4 + 0] * ca.m[0 + j] + cb.m[i * 4 + 1] * ca.m[4 + j] +
                          cb.m[i * 4 + 2] * ca.m[8 + j] + cb.m[i * 4 + 3] * ca.m[12 + j];
    }
  }
  return out;
}

inline Mat4* mat4_translation(Mat4* out, const Vec3* p) {
  mat4_identity(out);
  out->m[12] = p->x;
  out->m[13] = p->y;
  out->m[14] = p->z;
  return out;
}

// (p, 1) x m, first three components, no divide by w.
inline Vec3* mat4_transform_point(Vec3* out, const Mat4* m, const Vec3* p) {
  const float* e = m->m;
  return vec3_set(out, p->x * e[0] + p->y * e[4] + p->z * e[8] + e[12],
                  p->x * e[1] + p->y * e[5] + p->z * e[9] + e[13],
                  p->x * e[2] + p->y * e[6] + p->z * e[10] + e[14]);
}

// v x the 3x3 part (no translation).
inline Vec3* mat4_transform_direction(Vec3* out, const Mat4* m, const Vec3* v) {
  const float* e = m->m;
  return vec3_set(out, v->x * e[0] + v->y * e[4] + v->z * e[8],
                  v->x * e[1] + v->y * e[5] + v->z * e[9],
                  v->x * e[2] + v->y * e[6] + v->z * e[10]);
}

// (x, y, z, w) = (p, 1) x m; x and y are divided by |w| (when w is not
// exactly 0), z never.
inline Vec3* mat4_project_point(Vec3* out, const Mat4* m, const Vec3* p) {
  const float* e = m->m;
  const float x = p->x * e[0] + p->y * e[4] + p->z * e[8] + e[12];
  const float y = p->x * e[1] + p->y * e[5] + p->z * e[9] + e[13];
  const float z = p->x * e[2] + p->y * e[6] + p->z * e[10] + e[14];
  const float w = p->x * e[3] + p->y * e[7] + p->z * e[11] + e[15];
  if (w == 0.0f) return vec3_set(out, x, y, z);
  const float k = 1.0f / std::fabs(w);
  return vec3_set(out, x * k, y * k, z);
}

inline Vec4* vec4_copy(Vec4* out, const Vec4* v) {
  *out = *v;
  return out;
}

// The 4-vector v x m.
inline Vec4* vec4_transform(Vec4* out, const Mat4* m, const Vec4* v) {
  const float* e = m->m;
  const Vec4 c = *v;
  out->x = c.x * e[0] + c.y * e[4] + c.z * e[8] + c.w * e[12];
  out->y = c.x * e[1] + c.y * e[5] + c.z * e[9] + c.w * e[13];
  out->z = c.x * e[2] + c.y * e[6] + c.z * e[10] + c.w * e[14];
  out->w = c.x * e[3] + c.y * e[7] + c.z * e[11] + c.w * e[15];
  return out;
}

// ---------------------------------------------------------------- construction

Mat4* mat4_reset_rotation(Mat4* m);                      // all but m12..m14 to identity
Mat4* mat4_copy_rotation(Mat4* out, const Mat4* m);      // the 3x3 part only
Mat4* mat4_rotation_from_euler(Mat4* out, const Vec3* angles);  // row 3 untouched
Mat4* mat4_from_position_euler(Mat4* out, const Vec3* pos, const Vec3* angles);
Mat4* mat4_from_position_euler_values(Mat4* out, float px, float py, float pz, float ax,
                                      float ay, float az);
// Rotation by angle about the normalised axis; pos may be null.
Mat4* mat4_rotation_axis_angle(Mat4* out, const Vec3* pos, const Vec3* axis, float angle);
// A frame whose y axis is up (null: +y); pos may be null.
Mat4* mat4_from_up_vector(Mat4* out, const Vec3* pos, const Vec3* up);
Mat4* mat4_reflection(Mat4* out, const Plane* plane);
Mat4* mat4_shadow(Mat4* out, const Vec3* light, const Plane* plane, int directional);

// Camera-to-world matrices (rows right, up, forward, eye); the view matrix is
// their inverse. Null eye or target count as the origin, null up as +y.
Mat4* mat4_look_at(Mat4* out, const Vec3* eye, const Vec3* target, const Vec3* up, int flip);
Mat4* mat4_look_at_dir(Mat4* out, const Vec3* eye, const Vec3* dir, const Vec3* up, int flip);
// Variant that keeps the given up vector exactly as row 1.
Mat4* mat4_look_at_keep_up(Mat4* out, const Vec3* eye, const Vec3* target, const Vec3* up,
                           int flip);
Mat4* mat4_look_at_dir_keep_up(Mat4* out, const Vec3* eye, const Vec3* dir, const Vec3* up,
                               int flip);

// Left-handed projections with depth 0..1. A zero-width, zero-height or
// zero-depth volume writes the identity and returns null.
Mat4* mat4_perspective_off_center(Mat4* out, float l, float r, float b, float t, float n,
                                  float f);
Mat4* mat4_ortho_off_center(Mat4* out, float l, float r, float b, float t, float n, float f);
// proj with its near plane replaced by the world plane (mirror pass).
Mat4* mat4_oblique_clip_projection(Mat4* out, const Mat4* proj, const Mat4* view,
                                   const Plane* plane);

Mat4* mat4_remap_axes(Mat4* out, const Mat4* m);    // rows (r2, -r0, -r1, r3)
Mat4* mat4_unremap_axes(Mat4* out, const Mat4* m);  // rows (-r1, -r2, r0, r3)
Mat4* mat4_normalize_rows(Mat4* out, const Mat4* m);

// ---------------------------------------------------------------- products

Mat4* mat4_transpose(Mat4* out, const Mat4* m);
// General inverse. A singular matrix writes the identity and returns null, so
// the caller can keep its previous matrix.
Mat4* mat4_invert(Mat4* out, const Mat4* m);

Mat4* mat4_translate_local(Mat4* out, const Mat4* m, const Vec3* v);  // T(v) x m
Mat4* mat4_rotate_x_local(Mat4* out, const Mat4* m, float a);         // Rx(a) x m
Mat4* mat4_rotate_y_local(Mat4* out, const Mat4* m, float a);
Mat4* mat4_rotate_z_local(Mat4* out, const Mat4* m, float a);
Mat4* mat4_rotate_euler_local(Mat4* out, const Mat4* m, const Vec3* angles);  // YPR x m
Mat4* mat4_rotate_axis_local(Mat4* out, const Mat4* m, const Vec3* pos, const Vec3* axis,
                             float angle);
// In place: m = YPR(angles) x T(pos) x m. The second argument is not read.
Mat4* mat4_apply_position_euler(Mat4* m, const Mat4* ignored, const Vec3* pos,
                                const Vec3* angles);
Mat4* mat4_scale_rows(Mat4* out, const Mat4* m, const Vec3* s);  // diag(s, 1) x m
// Euler angles of m followed by the rotation given by angles.
Vec3* euler_after_matrix(Vec3* out, const Mat4* m, const Vec3* angles);
// Blend of two rigid-with-scale matrices: scales and translation linearly,
// rotation spherically.
Mat4* mat4_interpolate(Mat4* out, const Mat4* a, const Mat4* b, float t);
int mat4_differs(const Mat4* a, const Mat4* b, float tol);
int mat4_differs_from_identity(const Mat4* m, float tol);

// ---------------------------------------------------------------- vectors

void mat4_transform_points4(Vec3* out0, Vec3* out1, Vec3* out2, Vec3* out3, const Mat4* m,
                            const Vec3* p0, const Vec3* p1, const Vec3* p2, const Vec3* p3);
void mat4_transform_directions4(Vec3* out0, Vec3* out1, Vec3* out2, Vec3* out3, const Mat4* m,
                                const Vec3* d0, const Vec3* d1, const Vec3* d2,
                                const Vec3* d3);
// Four Vec2 taken as (x, y, 0) through the 3x3 part.
void mat4_transform_vec2s4(Vec3* out0, Vec3* out1, Vec3* out2, Vec3* out3, const Mat4* m,
                           const Vec2* q0, const Vec2* q1, const Vec2* q2, const Vec2* q3);

// ---------------------------------------------------------------- decompositions

Vec3* mat4_axis_scales(Vec3* out, const Mat4* m);  // lengths of rows 0..2
float mat4_max_axis_scale(const Mat4* m);
// pos = row 3, angles = mat4_to_euler(m); either output may be null.
void mat4_to_position_euler(Vec3* pos, Vec3* angles, const Mat4* m);
// The angles are taken from the rows with their scales divided out.
void mat4_decompose_euler(Vec3* pos, Vec3* angles, Vec3* scale, const Mat4* m);

// Inverse of the rotation order named (in order of application). At a pole
// the angle applied last is 0 and the one applied first takes the whole turn.
Vec3* mat4_to_euler(Vec3* out, const Mat4* m);  // Z, X, Y (YPR)
Vec3* mat4_to_euler_zyx(Vec3* out, const Mat4* m);
Vec3* mat4_to_euler_xzy(Vec3* out, const Mat4* m);
Vec3* mat4_to_euler_yxz(Vec3* out, const Mat4* m);
Vec3* mat4_to_euler_xyz(Vec3* out, const Mat4* m);
