// Transform: position, per-axis scale and rotation kept apart so they can be
// edited and blended one by one. Its matrix is diag(scale) x R(rotation) with
// the position as row 3: a point is scaled, then rotated, then moved.
#pragma once

#include "math/mat4.h"
#include "math/quat.h"
#include "math/vec.h"

struct Transform {
  Vec3 position;
  Vec3 scale;
  Quat rotation;
};

static_assert(sizeof(Transform) == 10 * sizeof(float));

Transform* transform_init(Transform* t);
Transform* transform_copy(Transform* out, const Transform* t);
Transform* transform_set_rotation(Transform* t, const Quat* q);
Transform* transform_set_rotation_euler(Transform* t, const Vec3* angles);
Transform* transform_set_scale(Transform* t, const Vec3* s);
Transform* transform_set_position_euler(Transform* t, const Vec3* pos, const Vec3* angles);

// quat_to_rotation of q with row 3 = (pos, 1); pos may be null.
Mat4* mat4_from_quat_position(Mat4* out, const Quat* q, const Vec3* pos);
Mat4* transform_to_matrix(Mat4* out, const Transform* t);
// Scale from the row lengths; the rotation from the rows with the scale
// divided out, so it is a unit quaternion.
Transform* transform_from_matrix(Transform* out, const Mat4* m);

Transform* transform_translate_local(Transform* out, const Transform* t, const Vec3* v);
Transform* transform_rotate_euler_local(Transform* out, const Transform* t, const Vec3* angles);
Transform* transform_turn_rotation(Transform* out, const Transform* t, const Quat* q);
Transform* transform_scale(Transform* out, const Transform* t, const Vec3* s);
// b applies first, then a.
Transform* transform_multiply(Transform* out, const Transform* a, const Transform* b);
// t applies first, then m.
Transform* transform_then_matrix(Transform* out, const Mat4* m, const Transform* t);
// m applies first, then t.
Transform* matrix_then_transform(Transform* out, const Transform* t, const Mat4* m);
Transform* transform_lerp(Transform* out, const Transform* a, const Transform* b, float s);
// Outputs may be null.
void transform_get_position_euler(Vec3* pos, Vec3* angles, const Transform* t);
void transform_decompose(Vec3* pos, Vec3* angles, Vec3* scale, const Transform* t);
Mat4* transform_rotation_log_derivative(Mat4* out, const Transform* a, const Transform* b);
