#include "math/spline.h"

#include <cstring>
#include <new>

#include "math/mat4.h"

namespace {

constexpr uint32_t kHeaderSize = sizeof(SplinePath);
constexpr uint32_t kPointSize = sizeof(SplinePoint);

// (p[i+1] - p[i]) * 3 / len - t, halved; a segment without length adds no
// chord term.
Vec3* end_condition(Vec3* out, const Vec3* from, const Vec3* to, float len, const Vec3* t) {
  Vec3 chord{0.0f, 0.0f, 0.0f};
  if (len != 0.0f) {
    vec3_sub(&chord, to, from);
    vec3_scale(&chord, &chord, 3.0f / len);
  }
  vec3_sub(out, &chord, t);
  return vec3_scale(out, out, 0.5f);
}

bool has_segments(const SplinePath* path) { return path->capacity > 0 && path->count >= 2; }

}  // namespace

int spline_capacity(uint32_t size) {
  if (size < kHeaderSize) return 0;
  const uint32_t cap = (size - kHeaderSize) / kPointSize;
  return cap > 32767 ? 32767 : static_cast<int>(cap);
}

int spline_init(void* buffer, uint32_t size) {
  if (buffer == nullptr || size < kHeaderSize) return 0;
  std::memset(buffer, 0, size);
  const int cap = spline_capacity(size);
  auto* path = new (buffer) SplinePath{size, 0, static_cast<int16_t>(cap), 0.0f};
  auto* bytes = reinterpret_cast<unsigned char*>(path) + kHeaderSize;
  for (int i = 0; i < cap; ++i) new (bytes + i * kPointSize) SplinePoint{};
  return cap;
}

SplinePoint* spline_points(SplinePath* path) {
  return reinterpret_cast<SplinePoint*>(reinterpret_cast<unsigned char*>(path) + kHeaderSize);
}

const SplinePoint* spline_points(const SplinePath* path) {
  return reinterpret_cast<const SplinePoint*>(reinterpret_cast<const unsigned char*>(path) +
                                              kHeaderSize);
}

float spline_total_length(const SplinePath* path) { return path->total_length; }

SplinePath* spline_add_point_length(SplinePath* path, const Vec3* p, float length) {
  if (path->capacity <= 0 || path->count >= path->capacity) return nullptr;
  SplinePoint* pts = spline_points(path);
  if (path->count > 0) {
    pts[path->count - 1].length = length;
    path->total_length += length;
  } else {
    path->total_length = 0.0f;
  }
  pts[path->count].position = *p;
  ++path->count;
  return path;
}

SplinePath* spline_add_point(SplinePath* path, const Vec3* p) {
  if (path->capacity <= 0 || path->count >= path->capacity) return nullptr;
  float length = 0.0f;
  if (path->count > 0) length = std::sqrt(vec3_distance_sq(&spline_points(path)[path->count - 1].position, p));
  return spline_add_point_length(path, p, length);
}

Vec3* spline_start_tangent(Vec3* out, const SplinePoint* points, int i) {
  return end_condition(out, &points[i].position, &points[i + 1].position, points[i].length,
                       &points[i + 1].tangent);
}

Vec3* spline_end_tangent(Vec3* out, const SplinePoint* points, int i) {
  return end_condition(out, &points[i - 1].position, &points[i].position, points[i - 1].length,
                       &points[i - 1].tangent);
}

void spline_tangents_unit(SplinePath* path) {
  if (!has_segments(path)) return;
  SplinePoint* pts = spline_points(path);
  const int n = path->count;
  for (int i = 1; i <= n - 2; ++i) {
    Vec3 a, b, t;
    vec3_sub(&a, &pts[i + 1].position, &pts[i].position);
    vec3_normalize(&a, &a);
    vec3_sub(&b, &pts[i - 1].position, &pts[i].position);
    vec3_normalize(&b, &b);
    vec3_sub(&t, &a, &b);
    vec3_normalize(&pts[i].tangent, &t);
  }
  spline_start_tangent(&pts[0].tangent, pts, 0);
  spline_end_tangent(&pts[n - 1].tangent, pts, n - 1);
}

void spline_tangents_weighted(SplinePath* path) {
  if (!has_segments(path)) return;
  SplinePoint* pts = spline_points(path);
  const int n = path->count;
  Vec3 pending;
  spline_start_tangent(&pending, pts, 0);
  for (int i = 1; i <= n - 2; ++i) {
    // The end condition at i reads t[i-1] before it is replaced, so every
    // estimate uses the previous pass's tangents. (Weighting this one
    // estimate by the two neighbouring lengths would leave it unchanged.)
    Vec3 e;
    spline_end_tangent(&e, pts, i);
    pts[i - 1].tangent = pending;
    pending = e;
  }
  Vec3 last;
  spline_end_tangent(&last, pts, n - 1);
  pts[n - 1].tangent = last;
  pts[n - 2].tangent = pending;
}

void spline_tangents_c(SplinePath* path) {
  if (!has_segments(path)) return;
  SplinePoint* pts = spline_points(path);
  for (int i = 1; i <= path->count - 2; ++i) {
    const float chord_a = std::sqrt(vec3_distance_sq(&pts[i].position, &pts[i - 1].position));
    const float chord_b = std::sqrt(vec3_distance_sq(&pts[i + 1].position, &pts[i].position));
    const float a = pts[i - 1].length == 0.0f ? 1.0f : chord_a / pts[i - 1].length;
    const float b = pts[i].length == 0.0f ? 1.0f : chord_b / pts[i].length;
    const float sum = a + b;
    const float k = sum == 0.0f ? 1.0f : 4.0f * a * b / (sum * sum);
    vec3_scale(&pts[i].tangent, &pts[i].tangent, k);
  }
}

void spline_halve_tangents(SplinePath* path) {
  if (path->capacity <= 0) return;
  SplinePoint* pts = spline_points(path);
  for (int i = 0; i < path->count; ++i) vec3_scale(&pts[i].tangent, &pts[i].tangent, 0.5f);
}

void spline_build_tangents(SplinePath* path) {
  spline_tangents_unit(path);
  for (int k = 0; k < 3; ++k) spline_tangents_weighted(path);
}

void spline_build_tangents_b(SplinePath* path) {
  spline_tangents_unit(path);
  spline_tangents_weighted(path);
  spline_tangents_c(path);
}

void spline_build_tangents_c(SplinePath* path) {
  spline_tangents_unit(path);
  for (int k = 0; k < 3; ++k) {
    spline_tangents_weighted(path);
    spline_tangents_c(path);
  }
}

void spline_refine_tangents(SplinePath* path) {
  spline_tangents_weighted(path);
  spline_tangents_c(path);
}

void spline_halve_and_scale(SplinePath* path) {
  spline_halve_tangents(path);
  spline_tangents_c(path);
}

Vec3* hermite_eval(Vec3* out, const Vec3* p0, const Vec3* t0, const Vec3* p1, const Vec3* t1,
                   float s) {
  static const Mat4 kBasis = {{2.0f, -2.0f, 1.0f, 1.0f, -3.0f, 3.0f, -2.0f, -1.0f, 0.0f, 0.0f,
                               1.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f}};
  Mat4 g = {{p0->x, p0->y, p0->z, 0.0f, p1->x, p1->y, p1->z, 0.0f, t0->x, t0->y, t0->z, 0.0f,
             t1->x, t1->y, t1->z, 0.0f}};
  mat4_multiply(&g, &g, &kBasis);
  const Vec3 powers{s * s * s, s * s, s};
  return mat4_transform_point(out, &g, &powers);
}

Vec3* spline_eval_distance(Vec3* out, const SplinePath* path, float d) {
  if (path->capacity <= 0 || path->count <= 0) return vec3_set(out, 0.0f, 0.0f, 0.0f);
  const SplinePoint* pts = spline_points(path);
  if (path->count == 1) return vec3_copy(out, &pts[0].position);
  float s = 0.0f;
  int i = 0;
  for (;;) {
    if (d <= s + pts[i].length) break;
    if (i >= path->count - 2) break;
    s += pts[i].length;
    ++i;
  }
  const float len = pts[i].length;
  // A segment without length stands for its start point.
  if (len == 0.0f) return vec3_copy(out, &pts[i].position);
  const float local = (d - s) / len;
  Vec3 t0, t1;
  vec3_scale(&t0, &pts[i].tangent, len);
  vec3_scale(&t1, &pts[i + 1].tangent, len);
  return hermite_eval(out, &pts[i].position, &t0, &pts[i + 1].position, &t1, local);
}

Vec3* spline_eval_fraction(Vec3* out, const SplinePath* path, float u) {
  return spline_eval_distance(out, path, u * path->total_length);
}

void table_spline_prepare(const float* xs, const float* ys, int m, float* h, float* m2) {
  for (int k = 1; k <= m; ++k) {
    h[k] = xs[k] - xs[k - 1];
    if (h[k] == 0.0f) return;
  }
  float d[kTableSplineMaxSamples] = {}, u[kTableSplineMaxSamples] = {},
        r[kTableSplineMaxSamples] = {};
  for (int k = 1; k <= m - 1; ++k) {
    u[k] = h[k + 1] / h[k];
    d[k] = 2.0f * (1.0f + u[k]);
    r[k] = 6.0f * ((ys[k + 1] - ys[k]) / (h[k] * h[k + 1]) - (ys[k] - ys[k - 1]) / (h[k] * h[k]));
  }
  if (m < 2) return;
  d[1] += 1.0f;
  d[m - 1] += u[m - 1];
  u[1] = u[1] / d[1];
  r[1] = r[1] / d[1];
  for (int k = 2; k <= m - 1; ++k) {
    const float w = 1.0f / (d[k] - u[k - 1]);
    u[k] = u[k] * w;
    r[k] = (r[k] - r[k - 1]) * w;
  }
  m2[m - 1] = r[m - 1];
  for (int k = m - 2; k >= 1; --k) m2[k] = r[k] - u[k] * m2[k + 1];
  m2[0] = m2[1];
  m2[m] = m2[m - 1];
}

float table_spline_eval(const float* xs, const float* ys, int n, float x) {
  if (n < 2 || n > kTableSplineMaxSamples) return 0.0f;
  if (x < xs[0] || x > xs[n - 1]) return 0.0f;
  for (int k = 0; k < n; ++k) {
    if (x == xs[k]) return ys[k];
  }
  float lx[kTableSplineMaxSamples], ly[kTableSplineMaxSamples];
  for (int k = 0; k < n; ++k) {
    lx[k] = xs[k];
    ly[k] = ys[k];
  }
  // Zeroed so that two samples, or a solve stopped by equal xs, give straight
  // lines instead of reading unset values.
  float h[kTableSplineMaxSamples] = {}, m2[kTableSplineMaxSamples] = {};
  table_spline_prepare(lx, ly, n - 1, h, m2);
  for (int k = 1; k < n; ++k) {
    if (lx[k - 1] <= x && x < lx[k]) {
      const float a = lx[k] - x, b = x - lx[k - 1], hk = lx[k] - lx[k - 1];
      return (m2[k - 1] * a * a * a + m2[k] * b * b * b + (6.0f * ly[k - 1] - hk * hk * m2[k - 1]) * a +
              (6.0f * ly[k] - hk * hk * m2[k]) * b) /
             hk / 6.0f;
    }
  }
  return 0.0f;
}
