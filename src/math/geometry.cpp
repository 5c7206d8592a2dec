#include "math/geometry.h"

namespace {

// |e|^2 - (u.e)^2/|u|^2, never below 0.
float line_distance_sq(const Vec3* u, const Vec3* e) {
  const float uu = u->x * u->x + u->y * u->y + u->z * u->z;
  if (uu == 0.0f) return 0.0f;
  const float t = vec3_dot(u, e);
  const float d = vec3_dot(e, e) - t * t / uu;
  return d < 0.0f ? 0.0f : d;
}

bool between(float v, float lo, float hi) { return v >= lo && v <= hi; }

float min_f(float a, float b) { return a < b ? a : b; }
float max_f(float a, float b) { return a < b ? b : a; }

}  // namespace

float point_line_distance_sq(const Vec3* a, const Vec3* b, const Vec3* p) {
  Vec3 u, e;
  vec3_sub(&u, b, a);
  vec3_sub(&e, a, p);
  return line_distance_sq(&u, &e);
}

float point_ray_distance_sq(const Vec3* p, const Vec3* d, const Vec3* a) {
  Vec3 e;
  vec3_sub(&e, p, a);
  return line_distance_sq(d, &e);
}

int closest_point_on_line(Vec3* offset, Vec3* point, const Vec3* p, const Vec3* a,
                          const Vec3* b) {
  Vec3 u, w, c;
  vec3_sub(&u, b, a);
  vec3_sub(&w, p, a);
  const float uu = vec3_dot(&u, &u);
  const float t = uu == 0.0f ? 0.0f : vec3_dot(&w, &u) / uu;
  vec3_lerp(&c, a, b, t);
  const Vec3 src = *p;
  if (point) *point = c;
  if (offset) vec3_sub(offset, &src, &c);
  return t >= 0.0f && t <= 1.0f ? 1 : 0;
}

int xz_side_of_line(const Vec3* a, const Vec3* b, const Vec3* c) {
  const float k = (b->x - a->x) * (c->z - a->z) - (b->z - a->z) * (c->x - a->x);
  if (k > 0.0f) return 0;
  if (k < 0.0f) return 2;
  return 1;
}

int line_within_radius(const Vec3* p, const Vec3* d, const Vec3* a, float r) {
  if (d->x == 0.0f && d->y == 0.0f && d->z == 0.0f) return 0;
  return point_ray_distance_sq(p, d, a) <= r * r ? 1 : 0;
}

int segment_sphere_test(const Vec3* a, const Vec3* d, const Vec3* c, float r) {
  Vec3 e;
  vec3_sub(&e, c, a);
  const float t = vec3_dot(d, &e);
  const float rr = r * r;
  if (t < 0.0f) return vec3_length_sq(&e) <= rr ? 1 : 0;
  const float len = vec3_length_sq(d);
  if (len <= t) {
    Vec3 end;
    vec3_add(&end, a, d);
    return vec3_distance_sq(&end, c) <= rr ? 1 : 0;
  }
  return vec3_length_sq(&e) - t * t / len <= rr ? 1 : 0;
}

int segment_sphere_hit(const Vec3* a, const Vec3* d, const Vec3* c, float r, float* t,
                       Vec3* point, Vec3* normal) {
  if (!segment_sphere_test(a, d, c, r)) return 0;
  Vec3 e, u;
  vec3_sub(&e, a, c);
  vec3_normalize(&u, d);
  const float b = vec3_dot(&u, &e);
  float disc = b * b - vec3_length_sq(&e) + r * r;
  // The test above passed, so a slightly negative discriminant is rounding
  // at a grazing touch: take the tangent point.
  if (disc < 0.0f) disc = 0.0f;
  const float k = -b - std::sqrt(disc);
  Vec3 hit;
  vec3_madd(&hit, a, &u, k);
  const float len = vec3_length(d);
  if (t) *t = k / (len == 0.0f ? 1.0f : len);
  if (normal) {
    Vec3 n;
    vec3_sub(&n, &hit, c);
    vec3_normalize(normal, &n);
  }
  if (point) *point = hit;
  return 1;
}

int sphere_sphere_test(const Vec3* c1, float r1, const Vec3* c2, float r2) {
  const float s = r1 + r2;
  return vec3_distance_sq(c1, c2) <= s * s ? 1 : 0;
}

int segment_box_test(const Vec3* a, const Vec3* d, const Vec3* corner1, const Vec3* corner2) {
  // Either corner may be the larger on each axis.
  const float lo[3] = {min_f(corner1->x, corner2->x), min_f(corner1->y, corner2->y),
                       min_f(corner1->z, corner2->z)};
  const float hi[3] = {max_f(corner1->x, corner2->x), max_f(corner1->y, corner2->y),
                       max_f(corner1->z, corner2->z)};
  const float s[3] = {a->x, a->y, a->z};
  const float e[3] = {a->x + d->x, a->y + d->y, a->z + d->z};
  const auto inside = [&](const float* p) {
    return between(p[0], lo[0], hi[0]) && between(p[1], lo[1], hi[1]) &&
           between(p[2], lo[2], hi[2]);
  };
  if (inside(s) || inside(e)) return 1;
  // Faces in the order y high, y low, x high, x low, z high, z low.
  static const int kAxes[3] = {1, 0, 2};
  for (int axis : kAxes) {
    for (int side = 0; side < 2; ++side) {
      const float plane = side == 0 ? hi[axis] : lo[axis];
      if (!between(plane, min_f(s[axis], e[axis]), max_f(s[axis], e[axis]))) continue;
      if (s[axis] == e[axis]) continue;  // lies in the face plane: the ends decide
      const float k = (plane - s[axis]) / (s[axis] - e[axis]);
      bool hit = true;
      for (int other = 0; other < 3; ++other) {
        if (other == axis) continue;
        const float v = k * (s[other] - e[other]) + s[other];
        hit = hit && between(v, lo[other], hi[other]);
      }
      if (hit) return 1;
    }
  }
  return 0;
}

int segment_triangle_hit(Vec3* point, Vec3* normal, const Vec3* tri, const Vec3* a,
                         const Vec3* d) {
  const Vec3 &p0 = tri[0], &p1 = tri[1], &p2 = tri[2];
  Vec3 e0, e1, n;
  vec3_sub(&e0, &p1, &p0);
  vec3_sub(&e1, &p2, &p1);
  vec3_cross(&n, &e0, &e1);
  vec3_normalize(&n, &n);
  float s = vec3_dot(d, &n);
  if (s > 0.0f) return 0;
  if (s > -1e-5f) s = -1e-5f;
  Vec3 w;
  vec3_sub(&w, &p0, a);
  const float t = vec3_dot(&w, &n) / s;
  if (t < 0.0f || t > 1.0f) return 0;
  Vec3 hit;
  vec3_madd(&hit, a, d, t);
  const Vec3* corners[3] = {&p0, &p1, &p2};
  for (int i = 0; i < 3; ++i) {
    const Vec3* from = corners[i];
    const Vec3* to = corners[(i + 1) % 3];
    Vec3 edge, rel, c;
    vec3_sub(&edge, to, from);
    vec3_sub(&rel, &hit, from);
    vec3_cross(&c, &edge, &rel);
    if (vec3_dot(&c, &n) < 0.0f) return 0;
  }
  if (point) *point = hit;
  if (normal) *normal = n;
  return 1;
}
