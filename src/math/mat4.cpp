#include "math/mat4.h"

#include "math/plane.h"
#include "math/quat.h"

namespace {

// YPR(angles) = Rz(z) x Rx(x) x Ry(y), row-major 3x3.
void ypr3(float* r, const Vec3* a) {
  const float sx = std::sin(a->x), cx = std::cos(a->x);
  const float sy = std::sin(a->y), cy = std::cos(a->y);
  const float sz = std::sin(a->z), cz = std::cos(a->z);
  r[0] = sy * sx * sz + cy * cz;
  r[1] = cx * sz;
  r[2] = cy * sx * sz - sy * cz;
  r[3] = sy * sx * cz - cy * sz;
  r[4] = cx * cz;
  r[5] = cy * sx * cz + sy * sz;
  r[6] = sy * cx;
  r[7] = -sx;
  r[8] = cy * cx;
}

void set_rotation3(Mat4* out, const float* r) {
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) out->m[i * 4 + j] = r[i * 3 + j];
    out->m[i * 4 + 3] = 0.0f;
  }
}

void set_row3(Mat4* out, const Vec3* pos) {
  out->m[12] = pos ? pos->x : 0.0f;
  out->m[13] = pos ? pos->y : 0.0f;
  out->m[14] = pos ? pos->z : 0.0f;
  out->m[15] = 1.0f;
}

// out = R x m for a 3x3 R: rows 0..2 mixed over all four columns, row 3 kept.
Mat4* rotate_rows(Mat4* out, const Mat4* m, const float* r) {
  const Mat4 c = *m;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 4; ++j) {
      out->m[i * 4 + j] = r[i * 3 + 0] * c.m[j] + r[i * 3 + 1] * c.m[4 + j] + r[i * 3 + 2] * c.m[8 + j];
    }
  }
  for (int j = 12; j < 16; ++j) out->m[j] = c.m[j];
  return out;
}

Vec3 row(const Mat4* m, int i) { return Vec3{m->m[i * 4], m->m[i * 4 + 1], m->m[i * 4 + 2]}; }

void set_row(Mat4* m, int i, const Vec3* v, float w) {
  m->m[i * 4] = v->x;
  m->m[i * 4 + 1] = v->y;
  m->m[i * 4 + 2] = v->z;
  m->m[i * 4 + 3] = w;
}

// The 3x3 part with each row divided by its length, so that rotations are
// read from a pure rotation even when the rows carry scale.
Mat4 unscaled_rotation(const Mat4* m) {
  Mat4 r = *m;
  for (int i = 0; i < 3; ++i) {
    const Vec3 v = row(m, i);
    const float len = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    if (len > 0.0f) {
      for (int j = 0; j < 3; ++j) r.m[i * 4 + j] /= len;
    }
  }
  return r;
}

Mat4* perspective_or_identity(Mat4* out, bool ok) {
  if (ok) return out;
  mat4_identity(out);
  return nullptr;
}

}  // namespace

// ---------------------------------------------------------------- construction

Mat4* mat4_reset_rotation(Mat4* m) {
  const float x = m->m[12], y = m->m[13], z = m->m[14];
  mat4_identity(m);
  m->m[12] = x;
  m->m[13] = y;
  m->m[14] = z;
  return m;
}

Mat4* mat4_copy_rotation(Mat4* out, const Mat4* m) {
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) out->m[i * 4 + j] = m->m[i * 4 + j];
  }
  return out;
}

Mat4* mat4_rotation_from_euler(Mat4* out, const Vec3* angles) {
  float r[9];
  ypr3(r, angles);
  set_rotation3(out, r);
  return out;
}

Mat4* mat4_from_position_euler(Mat4* out, const Vec3* pos, const Vec3* angles) {
  mat4_rotation_from_euler(out, angles);
  set_row3(out, pos);
  return out;
}

Mat4* mat4_from_position_euler_values(Mat4* out, float px, float py, float pz, float ax,
                                      float ay, float az) {
  const Vec3 pos{px, py, pz}, angles{ax, ay, az};
  return mat4_from_position_euler(out, &pos, &angles);
}

Mat4* mat4_rotation_axis_angle(Mat4* out, const Vec3* pos, const Vec3* axis, float angle) {
  Vec3 n;
  vec3_normalize(&n, axis);
  Quat q;
  quat_from_axis_angle(&q, &n, angle);
  const Vec3 p = pos ? *pos : Vec3{0.0f, 0.0f, 0.0f};
  quat_to_rotation(out, &q);
  set_row3(out, &p);
  return out;
}

Mat4* mat4_from_up_vector(Mat4* out, const Vec3* pos, const Vec3* up) {
  const Vec3 p = pos ? *pos : Vec3{0.0f, 0.0f, 0.0f};
  Vec3 r1{0.0f, 1.0f, 0.0f};
  if (up) vec3_normalize(&r1, up);
  Vec3 h{r1.z, r1.x, r1.y};
  vec3_normalize(&h, &h);
  Vec3 r0;
  vec3_cross(&r0, &r1, &h);
  if (vec3_length_sq(&r0) == 0.0f) {
    // The rotated vector is parallel to up when its components are equal:
    // take the world axis least aligned with up instead.
    const float ax = std::fabs(r1.x), ay = std::fabs(r1.y), az = std::fabs(r1.z);
    if (ax <= ay && ax <= az)
      h = Vec3{1.0f, 0.0f, 0.0f};
    else if (ay <= az)
      h = Vec3{0.0f, 1.0f, 0.0f};
    else
      h = Vec3{0.0f, 0.0f, 1.0f};
    vec3_cross(&r0, &r1, &h);
  }
  Vec3 r2;
  vec3_cross(&r2, &r0, &r1);
  vec3_normalize(&r0, &r0);
  vec3_normalize(&r2, &r2);
  set_row(out, 0, &r0, 0.0f);
  set_row(out, 1, &r1, 0.0f);
  set_row(out, 2, &r2, 0.0f);
  set_row3(out, &p);
  return out;
}

Mat4* mat4_reflection(Mat4* out, const Plane* plane) {
  Plane p;
  plane_normalize(&p, plane);
  const float n[3] = {p.a, p.b, p.c};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) out->m[i * 4 + j] = (i == j ? 1.0f : 0.0f) - 2.0f * n[i] * n[j];
    out->m[i * 4 + 3] = 0.0f;
  }
  out->m[12] = -2.0f * p.d * p.a;
  out->m[13] = -2.0f * p.d * p.b;
  out->m[14] = -2.0f * p.d * p.c;
  out->m[15] = 1.0f;
  return out;
}

Mat4* mat4_shadow(Mat4* out, const Vec3* light, const Plane* plane, int directional) {
  Plane p;
  plane_normalize(&p, plane);
  const float pv[4] = {p.a, p.b, p.c, p.d};
  Mat4 r;
  if (directional) {
    Vec3 l;
    vec3_normalize(&l, light);
    const float lv[3] = {l.x, l.y, l.z};
    const float k = -(p.a * l.x + p.b * l.y + p.c * l.z);
    for (int i = 0; i < 4; ++i) {
      for (int j = 0; j < 3; ++j) r.m[i * 4 + j] = pv[i] * lv[j] + (i == j ? k : 0.0f);
      r.m[i * 4 + 3] = 0.0f;
    }
    r.m[15] = k;
  } else {
    const float lv[3] = {light->x, light->y, light->z};
    const float k = p.a * light->x + p.b * light->y + p.c * light->z + p.d;
    for (int i = 0; i < 4; ++i) {
      for (int j = 0; j < 3; ++j) r.m[i * 4 + j] = -pv[i] * lv[j] + (i == j ? k : 0.0f);
      r.m[i * 4 + 3] = -pv[i];
    }
    r.m[15] = -p.d + k;
  }
  *out = r;
  return out;
}

Mat4* mat4_look_at_dir(Mat4* out, const Vec3* eye, const Vec3* dir, const Vec3* up, int flip) {
  Vec3 f, u{0.0f, 1.0f, 0.0f}, r;
  vec3_normalize(&f, dir);
  if (flip) vec3_negate(&f, &f);
  if (up) vec3_normalize(&u, up);
  vec3_cross(&r, &u, &f);
  if (r.x == 0.0f && r.y == 0.0f && r.z == 0.0f) r.x += 1e-5f;
  vec3_cross(&u, &f, &r);
  vec3_normalize(&r, &r);
  vec3_normalize(&u, &u);
  const Vec3 e = eye ? *eye : Vec3{0.0f, 0.0f, 0.0f};
  set_row(out, 0, &r, 0.0f);
  set_row(out, 1, &u, 0.0f);
  set_row(out, 2, &f, 0.0f);
  set_row(out, 3, &e, 1.0f);
  return out;
}

Mat4* mat4_look_at(Mat4* out, const Vec3* eye, const Vec3* target, const Vec3* up, int flip) {
  const Vec3 e = eye ? *eye : Vec3{0.0f, 0.0f, 0.0f};
  const Vec3 t = target ? *target : Vec3{0.0f, 0.0f, 0.0f};
  Vec3 dir;
  vec3_sub(&dir, &t, &e);
  return mat4_look_at_dir(out, &e, &dir, up, flip);
}

Mat4* mat4_look_at_dir_keep_up(Mat4* out, const Vec3* eye, const Vec3* dir, const Vec3* up,
                               int flip) {
  Vec3 f, u{0.0f, 1.0f, 0.0f}, r;
  vec3_normalize(&f, dir);
  if (flip) vec3_negate(&f, &f);
  if (up && !(up->x == 0.0f && up->y == 0.0f && up->z == 0.0f)) vec3_normalize(&u, up);
  vec3_cross(&r, &u, &f);
  if (r.x == 0.0f && r.y == 0.0f && r.z == 0.0f) {
    r = Vec3{1.0f, 0.0f, 0.0f};
    f = Vec3{0.0f, 0.0f, 1.0f};
  } else {
    vec3_cross(&f, &r, &u);
    vec3_normalize(&r, &r);
    vec3_normalize(&f, &f);
  }
  const Vec3 e = eye ? *eye : Vec3{0.0f, 0.0f, 0.0f};
  set_row(out, 0, &r, 0.0f);
  set_row(out, 1, &u, 0.0f);
  set_row(out, 2, &f, 0.0f);
  set_row(out, 3, &e, 1.0f);
  return out;
}

Mat4* mat4_look_at_keep_up(Mat4* out, const Vec3* eye, const Vec3* target, const Vec3* up,
                           int flip) {
  const Vec3 e = eye ? *eye : Vec3{0.0f, 0.0f, 0.0f};
  const Vec3 t = target ? *target : Vec3{0.0f, 0.0f, 0.0f};
  Vec3 dir;
  vec3_sub(&dir, &t, &e);
  return mat4_look_at_dir_keep_up(out, &e, &dir, up, flip);
}

Mat4* mat4_perspective_off_center(Mat4* out, float l, float r, float b, float t, float n,
                                  float f) {
  if (r == l || t == b || f == n) return perspective_or_identity(out, false);
  *out = Mat4{};
  out->m[0] = 2.0f * n / (r - l);
  out->m[5] = 2.0f * n / (t - b);
  out->m[8] = (l + r) / (l - r);
  out->m[9] = (t + b) / (b - t);
  out->m[10] = f / (f - n);
  out->m[11] = 1.0f;
  out->m[14] = n * f / (n - f);
  return out;
}

Mat4* mat4_ortho_off_center(Mat4* out, float l, float r, float b, float t, float n, float f) {
  if (r == l || t == b || f == n) return perspective_or_identity(out, false);
  *out = Mat4{};
  out->m[0] = 2.0f / (r - l);
  out->m[5] = 2.0f / (t - b);
  out->m[10] = 1.0f / (f - n);
  out->m[12] = (l + r) / (l - r);
  out->m[13] = (t + b) / (b - t);
  out->m[14] = n / (n - f);
  out->m[15] = 1.0f;
  return out;
}

Mat4* mat4_oblique_clip_projection(Mat4* out, const Mat4* proj, const Mat4* view,
                                   const Plane* plane) {
  Plane p;
  plane_normalize(&p, plane);
  Mat4 m;
  mat4_multiply(&m, proj, view);
  if (!mat4_invert(&m, &m)) return mat4_copy(out, proj);
  mat4_transpose(&m, &m);
  Plane q;
  plane_transform(&q, &m, &p);
  if (q.d == 0.0f) return mat4_copy(out, proj);
  plane_normalize(&q, &q);
  if (q.d > 0.0f) {
    vec4_negate(&q, &q);
    q.d += 1.0f;
  }
  Mat4 n;
  mat4_identity(&n);
  n.m[2] = q.a;
  n.m[6] = q.b;
  n.m[10] = q.c;
  n.m[14] = q.d;
  return mat4_multiply(out, &n, proj);
}

Mat4* mat4_remap_axes(Mat4* out, const Mat4* m) {
  const Mat4 c = *m;
  for (int j = 0; j < 4; ++j) {
    out->m[j] = c.m[8 + j];
    out->m[4 + j] = -c.m[j];
    out->m[8 + j] = -c.m[4 + j];
    out->m[12 + j] = c.m[12 + j];
  }
  return out;
}

Mat4* mat4_unremap_axes(Mat4* out, const Mat4* m) {
  const Mat4 c = *m;
  for (int j = 0; j < 4; ++j) {
    out->m[j] = -c.m[4 + j];
    out->m[4 + j] = -c.m[8 + j];
    out->m[8 + j] = c.m[j];
    out->m[12 + j] = c.m[12 + j];
  }
  return out;
}

Mat4* mat4_normalize_rows(Mat4* out, const Mat4* m) {
  const Mat4 c = *m;
  for (int i = 0; i < 3; ++i) {
    Vec3 v = row(&c, i);
    vec3_normalize(&v, &v);
    set_row(out, i, &v, c.m[i * 4 + 3]);
  }
  for (int j = 12; j < 16; ++j) out->m[j] = c.m[j];
  return out;
}

// ---------------------------------------------------------------- products

Mat4* mat4_transpose(Mat4* out, const Mat4* m) {
  const Mat4 c = *m;
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) out->m[i * 4 + j] = c.m[j * 4 + i];
  }
  return out;
}

Mat4* mat4_invert(Mat4* out, const Mat4* m) {
  const float* a = m->m;
  // 2x2 minors of the lower and upper row pairs.
  const float s0 = a[0] * a[5] - a[4] * a[1];
  const float s1 = a[0] * a[6] - a[4] * a[2];
  const float s2 = a[0] * a[7] - a[4] * a[3];
  const float s3 = a[1] * a[6] - a[5] * a[2];
  const float s4 = a[1] * a[7] - a[5] * a[3];
  const float s5 = a[2] * a[7] - a[6] * a[3];
  const float c5 = a[10] * a[15] - a[14] * a[11];
  const float c4 = a[9] * a[15] - a[13] * a[11];
  const float c3 = a[9] * a[14] - a[13] * a[10];
  const float c2 = a[8] * a[15] - a[12] * a[11];
  const float c1 = a[8] * a[14] - a[12] * a[10];
  const float c0 = a[8] * a[13] - a[12] * a[9];
  const float det = s0 * c5 - s1 * c4 + s2 * c3 + s3 * c2 - s4 * c1 + s5 * c0;

  // Singular when the determinant is negligible against the largest volume
  // rows of these lengths could span. For an affine matrix (last column
  // 0, 0, 0, w) only the 3x3 part and w count: its translation, however far,
  // takes no part in the determinant and must not make it look negligible.
  const bool affine = a[3] == 0.0f && a[7] == 0.0f && a[11] == 0.0f;
  const int rows = affine ? 3 : 4;
  float bound = affine ? std::fabs(a[15]) : 1.0f;
  for (int i = 0; i < rows; ++i) {
    const float w = affine ? 0.0f : a[i * 4 + 3];
    bound *= std::sqrt(a[i * 4] * a[i * 4] + a[i * 4 + 1] * a[i * 4 + 1] + a[i * 4 + 2] * a[i * 4 + 2] + w * w);
  }
  const float det3 =
      a[0] * (a[5] * a[10] - a[6] * a[9]) - a[1] * (a[4] * a[10] - a[6] * a[8]) + a[2] * (a[4] * a[9] - a[5] * a[8]);
  const float volume = affine ? det3 * a[15] : det;
  if (!(std::fabs(volume) > bound * 1e-6f) || !std::isfinite(det)) {
    mat4_identity(out);
    return nullptr;
  }
  const float k = 1.0f / det;
  Mat4 r;
  r.m[0] = (a[5] * c5 - a[6] * c4 + a[7] * c3) * k;
  r.m[1] = (-a[1] * c5 + a[2] * c4 - a[3] * c3) * k;
  r.m[2] = (a[13] * s5 - a[14] * s4 + a[15] * s3) * k;
  r.m[3] = (-a[9] * s5 + a[10] * s4 - a[11] * s3) * k;
  r.m[4] = (-a[4] * c5 + a[6] * c2 - a[7] * c1) * k;
  r.m[5] = (a[0] * c5 - a[2] * c2 + a[3] * c1) * k;
  r.m[6] = (-a[12] * s5 + a[14] * s2 - a[15] * s1) * k;
  r.m[7] = (a[8] * s5 - a[10] * s2 + a[11] * s1) * k;
  r.m[8] = (a[4] * c4 - a[5] * c2 + a[7] * c0) * k;
  r.m[9] = (-a[0] * c4 + a[1] * c2 - a[3] * c0) * k;
  r.m[10] = (a[12] * s4 - a[13] * s2 + a[15] * s0) * k;
  r.m[11] = (-a[8] * s4 + a[9] * s2 - a[11] * s0) * k;
  r.m[12] = (-a[4] * c3 + a[5] * c1 - a[6] * c0) * k;
  r.m[13] = (a[0] * c3 - a[1] * c1 + a[2] * c0) * k;
  r.m[14] = (-a[12] * s3 + a[13] * s1 - a[14] * s0) * k;
  r.m[15] = (a[8] * s3 - a[9] * s1 + a[10] * s0) * k;
  *out = r;
  return out;
}

Mat4* mat4_translate_local(Mat4* out, const Mat4* m, const Vec3* v) {
  const Mat4 c = *m;
  *out = c;
  for (int j = 0; j < 3; ++j) out->m[12 + j] = c.m[12 + j] + v->x * c.m[j] + v->y * c.m[4 + j] + v->z * c.m[8 + j];
  return out;
}

Mat4* mat4_rotate_x_local(Mat4* out, const Mat4* m, float a) {
  const float c = std::cos(a), s = std::sin(a);
  const float r[9] = {1.0f, 0.0f, 0.0f, 0.0f, c, s, 0.0f, -s, c};
  return rotate_rows(out, m, r);
}

Mat4* mat4_rotate_y_local(Mat4* out, const Mat4* m, float a) {
  const float c = std::cos(a), s = std::sin(a);
  const float r[9] = {c, 0.0f, -s, 0.0f, 1.0f, 0.0f, s, 0.0f, c};
  return rotate_rows(out, m, r);
}

Mat4* mat4_rotate_z_local(Mat4* out, const Mat4* m, float a) {
  const float c = std::cos(a), s = std::sin(a);
  const float r[9] = {c, s, 0.0f, -s, c, 0.0f, 0.0f, 0.0f, 1.0f};
  return rotate_rows(out, m, r);
}

Mat4* mat4_rotate_euler_local(Mat4* out, const Mat4* m, const Vec3* angles) {
  float r[9];
  ypr3(r, angles);
  return rotate_rows(out, m, r);
}

Mat4* mat4_rotate_axis_local(Mat4* out, const Mat4* m, const Vec3* pos, const Vec3* axis,
                             float angle) {
  Mat4 r;
  mat4_rotation_axis_angle(&r, pos, axis, angle);
  return mat4_multiply(out, m, &r);
}

Mat4* mat4_apply_position_euler(Mat4* m, const Mat4* /*ignored*/, const Vec3* pos,
                                const Vec3* angles) {
  mat4_translate_local(m, m, pos);
  return mat4_rotate_euler_local(m, m, angles);
}

Mat4* mat4_scale_rows(Mat4* out, const Mat4* m, const Vec3* s) {
  const Mat4 c = *m;
  const float k[3] = {s->x, s->y, s->z};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 4; ++j) out->m[i * 4 + j] = c.m[i * 4 + j] * k[i];
  }
  for (int j = 12; j < 16; ++j) out->m[j] = c.m[j];
  return out;
}

Vec3* euler_after_matrix(Vec3* out, const Mat4* m, const Vec3* angles) {
  Mat4 r;
  mat4_identity(&r);
  mat4_rotation_from_euler(&r, angles);
  mat4_multiply(&r, &r, m);
  return mat4_to_euler(out, &r);
}

Mat4* mat4_interpolate(Mat4* out, const Mat4* a, const Mat4* b, float t) {
  if (t == 0.0f) return mat4_copy(out, a);
  if (t == 1.0f) return mat4_copy(out, b);
  Vec3 sa, sb;
  mat4_axis_scales(&sa, a);
  mat4_axis_scales(&sb, b);
  const Mat4 ra = unscaled_rotation(a), rb = unscaled_rotation(b);
  Quat qa, qb, q;
  quat_normalize(&qa, quat_from_matrix(&qa, &ra));
  quat_normalize(&qb, quat_from_matrix(&qb, &rb));
  quat_slerp(&q, &qa, &qb, t);
  quat_normalize(&q, &q);
  const Vec3 s{lerp(sa.x, sb.x, t), lerp(sa.y, sb.y, t), lerp(sa.z, sb.z, t)};
  const float tx = lerp(a->m[12], b->m[12], t);
  const float ty = lerp(a->m[13], b->m[13], t);
  const float tz = lerp(a->m[14], b->m[14], t);
  quat_to_rotation(out, &q);
  out->m[12] = tx;
  out->m[13] = ty;
  out->m[14] = tz;
  out->m[15] = 1.0f;
  return mat4_scale_rows(out, out, &s);
}

int mat4_differs(const Mat4* a, const Mat4* b, float tol) {
  for (int k = 0; k < 16; ++k) {
    if (std::fabs(a->m[k] - b->m[k]) > tol) return 1;
  }
  return 0;
}

int mat4_differs_from_identity(const Mat4* m, float tol) {
  Mat4 id;
  mat4_identity(&id);
  return mat4_differs(m, &id, tol);
}

// ---------------------------------------------------------------- vectors

void mat4_transform_points4(Vec3* out0, Vec3* out1, Vec3* out2, Vec3* out3, const Mat4* m,
                            const Vec3* p0, const Vec3* p1, const Vec3* p2, const Vec3* p3) {
  const Mat4 c = *m;
  const Vec3 q[4] = {*p0, *p1, *p2, *p3};
  mat4_transform_point(out0, &c, &q[0]);
  mat4_transform_point(out1, &c, &q[1]);
  mat4_transform_point(out2, &c, &q[2]);
  mat4_transform_point(out3, &c, &q[3]);
}

void mat4_transform_directions4(Vec3* out0, Vec3* out1, Vec3* out2, Vec3* out3, const Mat4* m,
                                const Vec3* d0, const Vec3* d1, const Vec3* d2,
                                const Vec3* d3) {
  const Mat4 c = *m;
  const Vec3 q[4] = {*d0, *d1, *d2, *d3};
  mat4_transform_direction(out0, &c, &q[0]);
  mat4_transform_direction(out1, &c, &q[1]);
  mat4_transform_direction(out2, &c, &q[2]);
  mat4_transform_direction(out3, &c, &q[3]);
}

void mat4_transform_vec2s4(Vec3* out0, Vec3* out1, Vec3* out2, Vec3* out3, const Mat4* m,
                           const Vec2* q0, const Vec2* q1, const Vec2* q2, const Vec2* q3) {
  const Vec3 d[4] = {{q0->x, q0->y, 0.0f}, {q1->x, q1->y, 0.0f}, {q2->x, q2->y, 0.0f},
                     {q3->x, q3->y, 0.0f}};
  mat4_transform_directions4(out0, out1, out2, out3, m, &d[0], &d[1], &d[2], &d[3]);
}

// ---------------------------------------------------------------- decompositions

Vec3* mat4_axis_scales(Vec3* out, const Mat4* m) {
  const float* e = m->m;
  return vec3_set(out, std::sqrt(e[0] * e[0] + e[1] * e[1] + e[2] * e[2]),
                  std::sqrt(e[4] * e[4] + e[5] * e[5] + e[6] * e[6]),
                  std::sqrt(e[8] * e[8] + e[9] * e[9] + e[10] * e[10]));
}

float mat4_max_axis_scale(const Mat4* m) {
  const float* e = m->m;
  const float a = e[0] * e[0] + e[1] * e[1] + e[2] * e[2];
  const float b = e[4] * e[4] + e[5] * e[5] + e[6] * e[6];
  const float c = e[8] * e[8] + e[9] * e[9] + e[10] * e[10];
  float mx = a > b ? a : b;
  mx = mx > c ? mx : c;
  return fast_sqrt(mx);
}

void mat4_to_position_euler(Vec3* pos, Vec3* angles, const Mat4* m) {
  if (angles) mat4_to_euler(angles, m);
  if (pos) vec3_set(pos, m->m[12], m->m[13], m->m[14]);
}

void mat4_decompose_euler(Vec3* pos, Vec3* angles, Vec3* scale, const Mat4* m) {
  if (angles) {
    const Mat4 r = unscaled_rotation(m);
    mat4_to_euler(angles, &r);
  }
  if (scale) mat4_axis_scales(scale, m);
  if (pos) vec3_set(pos, m->m[12], m->m[13], m->m[14]);
}

Vec3* mat4_to_euler(Vec3* out, const Mat4* m) {
  const float* e = m->m;
  if (e[9] <= -1.0f) return vec3_set(out, kHalfPi, 0.0f, -std::atan2(e[4], e[0]));
  if (e[9] >= 1.0f) return vec3_set(out, -kHalfPi, 0.0f, -std::atan2(e[4], e[0]));
  return vec3_set(out, std::asin(-e[9]), std::atan2(e[8], e[10]), std::atan2(e[1], e[5]));
}

Vec3* mat4_to_euler_zyx(Vec3* out, const Mat4* m) {
  const float* e = m->m;
  if (e[8] <= -1.0f) return vec3_set(out, 0.0f, -kHalfPi, std::atan2(e[1], e[5]));
  if (e[8] >= 1.0f) return vec3_set(out, 0.0f, kHalfPi, std::atan2(e[1], e[5]));
  return vec3_set(out, std::atan2(-e[9], e[10]), std::asin(e[8]), std::atan2(-e[4], e[0]));
}

Vec3* mat4_to_euler_xzy(Vec3* out, const Mat4* m) {
  const float* e = m->m;
  if (e[1] <= -1.0f) return vec3_set(out, std::atan2(e[6], e[10]), 0.0f, -kHalfPi);
  if (e[1] >= 1.0f) return vec3_set(out, std::atan2(e[6], e[10]), 0.0f, kHalfPi);
  return vec3_set(out, std::atan2(-e[9], e[5]), std::atan2(-e[2], e[0]), std::asin(e[1]));
}

Vec3* mat4_to_euler_yxz(Vec3* out, const Mat4* m) {
  const float* e = m->m;
  if (e[6] <= -1.0f) return vec3_set(out, -kHalfPi, std::atan2(e[8], e[0]), 0.0f);
  if (e[6] >= 1.0f) return vec3_set(out, kHalfPi, std::atan2(e[8], e[0]), 0.0f);
  return vec3_set(out, std::asin(e[6]), std::atan2(-e[2], e[10]), std::atan2(-e[4], e[5]));
}

Vec3* mat4_to_euler_xyz(Vec3* out, const Mat4* m) {
  const float* e = m->m;
  if (e[2] <= -1.0f) return vec3_set(out, -std::atan2(e[9], e[5]), kHalfPi, 0.0f);
  if (e[2] >= 1.0f) return vec3_set(out, -std::atan2(e[9], e[5]), -kHalfPi, 0.0f);
  return vec3_set(out, std::atan2(e[6], e[10]), std::asin(-e[2]), std::atan2(e[1], e[0]));
}
