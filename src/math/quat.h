// Rotation quaternions (x, y, z, w): a turn by angle a about the unit axis u
// is (sin(a/2) u, cos(a/2)). Their matrices follow the row-vector layout of
// Mat4. Results are not renormalised unless said.
#pragma once

#include "math/mat4.h"
#include "math/vec.h"

struct Quat {
  float x, y, z, w;
};

inline Quat* quat_set(Quat* out, float x, float y, float z, float w) {
  out->x = x;
  out->y = y;
  out->z = z;
  out->w = w;
  return out;
}

inline Quat* quat_identity(Quat* out) { return quat_set(out, 0.0f, 0.0f, 0.0f, 1.0f); }

// The axis is taken as given, not normalised.
inline Quat* quat_from_axis_angle(Quat* out, const Vec3* axis, float angle) {
  const float s = std::sin(angle * 0.5f);
  return quat_set(out, axis->x * s, axis->y * s, axis->z * s, std::cos(angle * 0.5f));
}

inline Quat* quat_conjugate(Quat* out, const Quat* q) {
  return quat_set(out, -q->x, -q->y, -q->z, q->w);
}

// Hamilton product a (x) b.
inline Quat* quat_multiply(Quat* out, const Quat* a, const Quat* b) {
  return quat_set(out, a->w * b->x + a->x * b->w + a->y * b->z - a->z * b->y,
                  a->w * b->y + a->y * b->w + a->z * b->x - a->x * b->z,
                  a->w * b->z + a->z * b->w + a->x * b->y - a->y * b->x,
                  a->w * b->w - a->x * b->x - a->y * b->y - a->z * b->z);
}

// Writes the rotation into the 3x3 part, zeroes m3, m7, m11; row 3 untouched.
Mat4* quat_to_rotation(Mat4* out, const Quat* q);
// Trace method over the 3x3 elements as they stand.
Quat* quat_from_matrix(Quat* out, const Mat4* m);
// Angle in 0..2pi and axis; either output may be null.
void quat_to_axis_angle(Vec3* axis, float* angle, const Quat* q);
// The shortest turn that carries direction a onto direction b; a half turn
// about a perpendicular axis when they are opposite; the identity when they
// are parallel or either is zero.
Quat* quat_rotation_arc(Quat* out, const Vec3* a, const Vec3* b);

// Euler angles (pitch, yaw, roll) in each axis order, named in the order of
// application; quat_from_euler is YPR (Z, X, Y).
Quat* quat_from_euler(Quat* out, const Vec3* angles);
Quat* quat_from_euler_zyx(Quat* out, const Vec3* angles);
Quat* quat_from_euler_xzy(Quat* out, const Vec3* angles);
Quat* quat_from_euler_yxz(Quat* out, const Vec3* angles);
Quat* quat_from_euler_xyz(Quat* out, const Vec3* angles);
Quat* quat_from_euler_yzx(Quat* out, const Vec3* angles);

// Along the shorter arc; returns (the possibly negated) q0 when the two are
// equal. Not renormalised.
Quat* quat_slerp(Quat* out, const Quat* q0, const Quat* q1, float t);
// q (x) r (x) conj(q): r with its axis turned by q.
Quat* quat_conjugate_by(Quat* out, const Quat* r, const Quat* q);
Quat* quat_log(Quat* out, const Quat* q);
Quat* quat_exp(Quat* out, const Vec3* v);
// Change of quat_to_rotation at a in direction b.
Mat4* quat_rotation_derivative(Mat4* out, const Quat* a, const Quat* b);
// Derivative of quat_exp at v, one column (four floats) per input component;
// returns the third column. Small vectors use the limits of the series.
float* quat_exp_jacobian(float* col_x, float* col_y, float* col_z, const Vec3* v);

// Unit quaternion, or the identity when q has no length.
Quat* quat_normalize(Quat* out, const Quat* q);
