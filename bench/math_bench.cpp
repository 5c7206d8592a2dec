// Per-frame math paths: the table sine of the screen effects, the view
// rebuild (look-at, inverse, projection, product, frustum planes) and the
// matrix blend of the animation code.
#include <benchmark/benchmark.h>

#include "math/math.h"

namespace {

void BM_FastSinDeg(benchmark::State& state) {
  float angle = 0.0f, sum = 0.0f;
  for (auto _ : state) {
    sum += fast_sin_deg(angle);
    angle += 1.37f;
  }
  benchmark::DoNotOptimize(sum);
}
BENCHMARK(BM_FastSinDeg);

void BM_LibrarySin(benchmark::State& state) {
  float angle = 0.0f, sum = 0.0f;
  for (auto _ : state) {
    sum += std::sin(angle * (kPi / 180.0f));
    angle += 1.37f;
  }
  benchmark::DoNotOptimize(sum);
}
BENCHMARK(BM_LibrarySin);

void BM_ViewRebuild(benchmark::State& state) {
  Vec3 eye{0, 2, -10};
  const Vec3 target{0, 0, 0};
  Frustum f;
  frustum_from_fov(&f, 0.8f, 16.0f / 9.0f, 0.5f, 0.5f, 1.0f, 1000.0f);
  Mat4 cam, view, proj, vp;
  Plane planes[kFrustumPlaneCount];
  for (auto _ : state) {
    eye.x += 1e-3f;
    mat4_look_at(&cam, &eye, &target, nullptr, 0);
    mat4_invert(&view, &cam);
    mat4_perspective_from_frustum(&proj, &f);
    mat4_multiply(&vp, &proj, &view);
    frustum_planes_from_matrix(planes, &vp);
    benchmark::DoNotOptimize(planes);
  }
}
BENCHMARK(BM_ViewRebuild);

void BM_Mat4Multiply(benchmark::State& state) {
  Mat4 a, b;
  mat4_from_position_euler_values(&a, 1, 2, 3, 0.1f, 0.2f, 0.3f);
  mat4_from_position_euler_values(&b, -1, 0, 4, 0.4f, -0.2f, 0.1f);
  for (auto _ : state) {
    mat4_multiply(&a, &a, &b);
    benchmark::DoNotOptimize(a);
  }
}
BENCHMARK(BM_Mat4Multiply);

void BM_Mat4Interpolate(benchmark::State& state) {
  Mat4 a, b, out;
  mat4_from_position_euler_values(&a, 1, 2, 3, 0.1f, 0.2f, 0.3f);
  mat4_from_position_euler_values(&b, -1, 0, 4, 0.4f, -0.2f, 0.1f);
  float t = 0.0f;
  for (auto _ : state) {
    t = t > 0.99f ? 0.01f : t + 0.01f;
    mat4_interpolate(&out, &a, &b, t);
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_Mat4Interpolate);

}  // namespace

BENCHMARK_MAIN();
