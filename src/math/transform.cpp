#include "math/transform.h"

Transform* transform_init(Transform* t) {
  t->position = Vec3{0.0f, 0.0f, 0.0f};
  t->scale = Vec3{1.0f, 1.0f, 1.0f};
  quat_identity(&t->rotation);
  return t;
}

Transform* transform_copy(Transform* out, const Transform* t) {
  *out = *t;
  return out;
}

Transform* transform_set_rotation(Transform* t, const Quat* q) {
  t->rotation = *q;
  return t;
}

Transform* transform_set_rotation_euler(Transform* t, const Vec3* angles) {
  quat_from_euler(&t->rotation, angles);
  return t;
}

Transform* transform_set_scale(Transform* t, const Vec3* s) {
  t->scale = *s;
  return t;
}

Transform* transform_set_position_euler(Transform* t, const Vec3* pos, const Vec3* angles) {
  t->position = *pos;
  quat_from_euler(&t->rotation, angles);
  return t;
}

Mat4* mat4_from_quat_position(Mat4* out, const Quat* q, const Vec3* pos) {
  const Vec3 p = pos ? *pos : Vec3{0.0f, 0.0f, 0.0f};
  quat_to_rotation(out, q);
  out->m[12] = p.x;
  out->m[13] = p.y;
  out->m[14] = p.z;
  out->m[15] = 1.0f;
  return out;
}

Mat4* transform_to_matrix(Mat4* out, const Transform* t) {
  const Transform c = *t;
  mat4_from_quat_position(out, &c.rotation, &c.position);
  return mat4_scale_rows(out, out, &c.scale);
}

Transform* transform_from_matrix(Transform* out, const Mat4* m) {
  Vec3 scale;
  mat4_axis_scales(&scale, m);
  Mat4 r = *m;
  const float s[3] = {scale.x, scale.y, scale.z};
  for (int i = 0; i < 3; ++i) {
    if (s[i] > 0.0f) {
      for (int j = 0; j < 3; ++j) r.m[i * 4 + j] /= s[i];
    }
  }
  Quat q;
  quat_normalize(&q, quat_from_matrix(&q, &r));
  out->position = Vec3{m->m[12], m->m[13], m->m[14]};
  out->scale = scale;
  out->rotation = q;
  return out;
}

Transform* transform_translate_local(Transform* out, const Transform* t, const Vec3* v) {
  Mat4 m;
  transform_to_matrix(&m, t);
  mat4_translate_local(&m, &m, v);
  return transform_from_matrix(out, &m);
}

Transform* transform_rotate_euler_local(Transform* out, const Transform* t, const Vec3* angles) {
  Mat4 m;
  transform_to_matrix(&m, t);
  mat4_rotate_euler_local(&m, &m, angles);
  return transform_from_matrix(out, &m);
}

Transform* transform_turn_rotation(Transform* out, const Transform* t, const Quat* q) {
  Quat r;
  quat_conjugate_by(&r, &t->rotation, q);
  *out = *t;
  out->rotation = r;
  return out;
}

Transform* transform_scale(Transform* out, const Transform* t, const Vec3* s) {
  *out = *t;
  vec3_mul(&out->scale, &t->scale, s);
  return out;
}

Transform* transform_multiply(Transform* out, const Transform* a, const Transform* b) {
  Mat4 ma, mb;
  transform_to_matrix(&ma, a);
  transform_to_matrix(&mb, b);
  mat4_multiply(&ma, &ma, &mb);
  return transform_from_matrix(out, &ma);
}

Transform* transform_then_matrix(Transform* out, const Mat4* m, const Transform* t) {
  Mat4 mt;
  transform_to_matrix(&mt, t);
  mat4_multiply(&mt, m, &mt);
  return transform_from_matrix(out, &mt);
}

Transform* matrix_then_transform(Transform* out, const Transform* t, const Mat4* m) {
  Mat4 mt;
  transform_to_matrix(&mt, t);
  mat4_multiply(&mt, &mt, m);
  return transform_from_matrix(out, &mt);
}

Transform* transform_lerp(Transform* out, const Transform* a, const Transform* b, float s) {
  const Transform ca = *a, cb = *b;
  vec3_lerp(&out->position, &ca.position, &cb.position, s);
  vec3_lerp(&out->scale, &ca.scale, &cb.scale, s);
  quat_slerp(&out->rotation, &ca.rotation, &cb.rotation, s);
  return out;
}

void transform_get_position_euler(Vec3* pos, Vec3* angles, const Transform* t) {
  transform_decompose(pos, angles, nullptr, t);
}

void transform_decompose(Vec3* pos, Vec3* angles, Vec3* scale, const Transform* t) {
  const Transform c = *t;
  if (angles) {
    Mat4 m;
    mat4_identity(&m);
    quat_to_rotation(&m, &c.rotation);
    mat4_to_euler(angles, &m);
  }
  if (pos) *pos = c.position;
  if (scale) *scale = c.scale;
}

Mat4* transform_rotation_log_derivative(Mat4* out, const Transform* a, const Transform* b) {
  Quat la, lb;
  quat_log(&la, &a->rotation);
  quat_log(&lb, &b->rotation);
  return quat_rotation_derivative(out, &la, &lb);
}
