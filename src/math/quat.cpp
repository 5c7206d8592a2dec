#include "math/quat.h"

namespace {

// Row-major 3x3 product a x b (a applies first with row vectors).
void mul3(float* out, const float* a, const float* b) {
  float r[9];
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      r[i * 3 + j] = a[i * 3 + 0] * b[j] + a[i * 3 + 1] * b[3 + j] + a[i * 3 + 2] * b[6 + j];
    }
  }
  for (int k = 0; k < 9; ++k) out[k] = r[k];
}

void rot_x(float* r, float a) {
  const float c = std::cos(a), s = std::sin(a);
  const float v[9] = {1.0f, 0.0f, 0.0f, 0.0f, c, s, 0.0f, -s, c};
  for (int k = 0; k < 9; ++k) r[k] = v[k];
}

void rot_y(float* r, float a) {
  const float c = std::cos(a), s = std::sin(a);
  const float v[9] = {c, 0.0f, -s, 0.0f, 1.0f, 0.0f, s, 0.0f, c};
  for (int k = 0; k < 9; ++k) r[k] = v[k];
}

void rot_z(float* r, float a) {
  const float c = std::cos(a), s = std::sin(a);
  const float v[9] = {c, s, 0.0f, -s, c, 0.0f, 0.0f, 0.0f, 1.0f};
  for (int k = 0; k < 9; ++k) r[k] = v[k];
}

enum Axis { kX, kY, kZ };

// The quaternion of three elementary rotations applied in the order given.
Quat* quat_from_order(Quat* out, const Vec3* angles, Axis first, Axis second, Axis third) {
  const float a[3] = {angles->x, angles->y, angles->z};
  const Axis order[3] = {first, second, third};
  float m[9], r[9];
  for (int i = 0; i < 3; ++i) {
    const Axis ax = order[i];
    if (ax == kX) rot_x(r, a[0]);
    if (ax == kY) rot_y(r, a[1]);
    if (ax == kZ) rot_z(r, a[2]);
    if (i == 0) {
      for (int k = 0; k < 9; ++k) m[k] = r[k];
    } else {
      mul3(m, m, r);
    }
  }
  Mat4 mm{};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) mm.m[i * 4 + j] = m[i * 3 + j];
  }
  return quat_from_matrix(out, &mm);
}

float clamp_unit(float v) { return clamp(v, -1.0f, 1.0f); }

}  // namespace

Mat4* quat_to_rotation(Mat4* out, const Quat* q) {
  const float x = q->x, y = q->y, z = q->z, w = q->w;
  const float X = 2.0f * x, Y = 2.0f * y, Z = 2.0f * z;
  float* e = out->m;
  e[0] = 1.0f - (y * Y + z * Z);
  e[1] = x * Y + w * Z;
  e[2] = x * Z - w * Y;
  e[3] = 0.0f;
  e[4] = x * Y - w * Z;
  e[5] = 1.0f - (x * X + z * Z);
  e[6] = y * Z + w * X;
  e[7] = 0.0f;
  e[8] = x * Z + w * Y;
  e[9] = y * Z - w * X;
  e[10] = 1.0f - (x * X + y * Y);
  e[11] = 0.0f;
  return out;
}

Quat* quat_from_matrix(Quat* out, const Mat4* m) {
  const float* e = m->m;
  const float tr = e[0] + e[5] + e[10];
  if (tr > 0.0f) {
    const float s = std::sqrt(tr + 1.0f);
    const float k = 0.5f / s;
    return quat_set(out, (e[6] - e[9]) * k, (e[8] - e[2]) * k, (e[1] - e[4]) * k, s * 0.5f);
  }
  int i = 0;
  if (e[5] > e[0]) i = 1;
  if (e[10] > e[i * 5]) i = 2;
  if (i == 0) {
    const float s = std::sqrt(e[0] - (e[5] + e[10]) + 1.0f);
    const float k = 0.5f / s;
    return quat_set(out, s * 0.5f, (e[4] + e[1]) * k, (e[2] + e[8]) * k, (e[6] - e[9]) * k);
  }
  if (i == 1) {
    const float s = std::sqrt(e[5] - (e[10] + e[0]) + 1.0f);
    const float k = 0.5f / s;
    return quat_set(out, (e[4] + e[1]) * k, s * 0.5f, (e[9] + e[6]) * k, (e[8] - e[2]) * k);
  }
  const float s = std::sqrt(e[10] - (e[0] + e[5]) + 1.0f);
  const float k = 0.5f / s;
  return quat_set(out, (e[2] + e[8]) * k, (e[9] + e[6]) * k, s * 0.5f, (e[1] - e[4]) * k);
}

void quat_to_axis_angle(Vec3* axis, float* angle, const Quat* q) {
  // w may round past +-1 for a unit quaternion; acos would give NaN.
  const float a = 2.0f * std::acos(clamp_unit(q->w));
  if (angle) *angle = a;
  if (axis) {
    const Vec3 v{q->x, q->y, q->z};
    vec3_div_safe(axis, &v, std::sin(a * 0.5f));
  }
}

Quat* quat_rotation_arc(Quat* out, const Vec3* a, const Vec3* b) {
  // Work on unit directions so that short vectors turn like long ones.
  Vec3 an, bn;
  vec3_normalize(&an, a);
  vec3_normalize(&bn, b);
  if (vec3_length_sq(&an) == 0.0f || vec3_length_sq(&bn) == 0.0f) return quat_identity(out);
  Vec3 axis;
  vec3_cross(&axis, &an, &bn);
  const float d = clamp_unit(vec3_dot(&an, &bn));
  if (vec3_length(&axis) < 1e-6f) {
    if (d > 0.0f) return quat_identity(out);
    // Opposite directions: a half turn about any axis perpendicular to a;
    // take the one through the world axis least aligned with a.
    const float ax = std::fabs(an.x), ay = std::fabs(an.y), az = std::fabs(an.z);
    Vec3 e{0.0f, 0.0f, 1.0f};
    if (ax <= ay && ax <= az)
      e = Vec3{1.0f, 0.0f, 0.0f};
    else if (ay <= az)
      e = Vec3{0.0f, 1.0f, 0.0f};
    vec3_cross(&axis, &an, &e);
    vec3_normalize(&axis, &axis);
    return quat_set(out, axis.x, axis.y, axis.z, 0.0f);
  }
  vec3_normalize(&axis, &axis);
  const float theta = std::acos(d);
  if (theta < 1e-6f) return quat_identity(out);
  return quat_from_axis_angle(out, &axis, theta);
}

Quat* quat_from_euler(Quat* out, const Vec3* angles) {
  Mat4 m{};
  mat4_rotation_from_euler(&m, angles);
  return quat_from_matrix(out, &m);
}

Quat* quat_from_euler_zyx(Quat* out, const Vec3* angles) {
  return quat_from_order(out, angles, kZ, kY, kX);
}
Quat* quat_from_euler_xzy(Quat* out, const Vec3* angles) {
  return quat_from_order(out, angles, kX, kZ, kY);
}
Quat* quat_from_euler_yxz(Quat* out, const Vec3* angles) {
  return quat_from_order(out, angles, kY, kX, kZ);
}
Quat* quat_from_euler_xyz(Quat* out, const Vec3* angles) {
  return quat_from_order(out, angles, kX, kY, kZ);
}
Quat* quat_from_euler_yzx(Quat* out, const Vec3* angles) {
  return quat_from_order(out, angles, kY, kZ, kX);
}

Quat* quat_slerp(Quat* out, const Quat* q0, const Quat* q1, float t) {
  Quat a = *q0;
  const Quat b = *q1;
  float d = a.x * b.x + a.y * b.y + a.z * b.z + a.w * b.w;
  if (d < 0.0f) {
    a = Quat{-a.x, -a.y, -a.z, -a.w};
    d = -d;
  }
  float theta = 0.0f, s = 0.0f;
  if (d < 1.0f) {
    theta = std::acos(d);
    s = std::sin(theta);
  }
  if (s > -1e-9f && s < 1e-9f) {
    *out = a;
    return out;
  }
  const float w1 = std::sin(theta * t) / s;
  const float w0 = std::sin(theta - theta * t) / s;
  return quat_set(out, w0 * a.x + w1 * b.x, w0 * a.y + w1 * b.y, w0 * a.z + w1 * b.z,
                  w0 * a.w + w1 * b.w);
}

Quat* quat_conjugate_by(Quat* out, const Quat* r, const Quat* q) {
  Quat t, c;
  quat_multiply(&t, q, r);
  quat_conjugate(&c, q);
  return quat_multiply(out, &t, &c);
}

Quat* quat_log(Quat* out, const Quat* q) {
  const float theta = std::acos(clamp_unit(q->w));
  if (theta == 0.0f) return quat_set(out, 0.0f, 0.0f, 0.0f, 0.0f);
  const float k = theta / std::sin(theta);
  return quat_set(out, q->x * k, q->y * k, q->z * k, 0.0f);
}

Quat* quat_exp(Quat* out, const Vec3* v) {
  const float theta = std::sqrt(v->x * v->x + v->y * v->y + v->z * v->z);
  const float k = theta == 0.0f ? 1.0f : std::sin(theta) / theta;
  return quat_set(out, v->x * k, v->y * k, v->z * k, std::cos(theta));
}

Mat4* quat_rotation_derivative(Mat4* out, const Quat* a, const Quat* b) {
  float* e = out->m;
  const Quat p = *a, q = *b;
  e[0] = -4.0f * (p.y * q.y + p.z * q.z);
  e[5] = -4.0f * (p.x * q.x + p.z * q.z);
  e[10] = -4.0f * (p.x * q.x + p.y * q.y);
  e[1] = 2.0f * (p.x * q.y + p.y * q.x + p.w * q.z + p.z * q.w);
  e[4] = 2.0f * (p.x * q.y + p.y * q.x - p.w * q.z - p.z * q.w);
  e[2] = 2.0f * (p.x * q.z + p.z * q.x - p.w * q.y - p.y * q.w);
  e[8] = 2.0f * (p.x * q.z + p.z * q.x + p.w * q.y + p.y * q.w);
  e[6] = 2.0f * (p.y * q.z + p.z * q.y + p.w * q.x + p.x * q.w);
  e[9] = 2.0f * (p.y * q.z + p.z * q.y - p.w * q.x - p.x * q.w);
  e[3] = e[7] = e[11] = e[12] = e[13] = e[14] = 0.0f;
  e[15] = 1.0f;
  return out;
}

float* quat_exp_jacobian(float* col_x, float* col_y, float* col_z, const Vec3* v) {
  const float theta = std::sqrt(v->x * v->x + v->y * v->y + v->z * v->z);
  float sinc, k;
  if (theta < 1e-4f) {
    // Limits of sin(t)/t and cos(t)/t^2 - sin(t)/t^3 as t goes to 0.
    sinc = 1.0f;
    k = -1.0f / 3.0f;
  } else {
    const float s = std::sin(theta), c = std::cos(theta);
    sinc = s / theta;
    k = c / (theta * theta) - s / (theta * theta * theta);
  }
  const float vv[3] = {v->x, v->y, v->z};
  float* cols[3] = {col_x, col_y, col_z};
  for (int j = 0; j < 3; ++j) {
    float* c = cols[j];
    c[0] = vv[0] * vv[j] * k;
    c[1] = vv[1] * vv[j] * k;
    c[2] = vv[2] * vv[j] * k;
    c[3] = -vv[j] * sinc;
    c[j] += sinc;
  }
  return col_z;
}

Quat* quat_normalize(Quat* out, const Quat* q) {
  const float sq = q->x * q->x + q->y * q->y + q->z * q->z + q->w * q->w;
  if (sq == 0.0f) return quat_identity(out);
  const float k = 1.0f / std::sqrt(sq);
  return quat_set(out, q->x * k, q->y * k, q->z * k, q->w * k);
}
