// A path through 3D points smoothed by cubic Hermite segments, living in a
// caller-supplied buffer (4-byte aligned) whose size fixes its capacity; and a
// one-dimensional cubic spline through up to eight tabulated samples.
#pragma once

#include <cstdint>

#include "math/vec.h"

// Buffer header; the points follow it.
struct SplinePath {
  uint32_t size;       // the buffer's size in bytes
  int16_t count;
  int16_t capacity;    // (size - 12) / 28, at most 32767
  float total_length;  // sum of the segment lengths of all points but the last
};

struct SplinePoint {
  Vec3 position;
  Vec3 tangent;  // per unit of segment length
  float length;  // of the segment from this point to the next
};

static_assert(sizeof(SplinePath) == 12);
static_assert(sizeof(SplinePoint) == 28);

constexpr int kTableSplineMaxSamples = 8;

// Zeroes the buffer and lays out an empty path; returns the capacity. A
// buffer smaller than the header is refused: 0, nothing written.
int spline_init(void* buffer, uint32_t size);
int spline_capacity(uint32_t size);
SplinePoint* spline_points(SplinePath* path);
const SplinePoint* spline_points(const SplinePath* path);
float spline_total_length(const SplinePath* path);

// Append p; the previous point's segment becomes the distance to p (or the
// given length). Null, and nothing changed, when the path is full.
SplinePath* spline_add_point(SplinePath* path, const Vec3* p);
SplinePath* spline_add_point_length(SplinePath* path, const Vec3* p, float length);

// Tangent passes; each does nothing on a path of fewer than two points.
void spline_tangents_unit(SplinePath* path);
Vec3* spline_start_tangent(Vec3* out, const SplinePoint* points, int i);
Vec3* spline_end_tangent(Vec3* out, const SplinePoint* points, int i);
void spline_tangents_weighted(SplinePath* path);
void spline_tangents_c(SplinePath* path);
void spline_halve_tangents(SplinePath* path);
void spline_build_tangents(SplinePath* path);
void spline_build_tangents_b(SplinePath* path);
void spline_build_tangents_c(SplinePath* path);
void spline_refine_tangents(SplinePath* path);
void spline_halve_and_scale(SplinePath* path);

// Point at the fraction u of the total length / at distance d along the path
// (the end segments extend beyond the ends). (0, 0, 0) for an empty path, the
// point itself for a one-point path.
Vec3* spline_eval_fraction(Vec3* out, const SplinePath* path, float u);
Vec3* spline_eval_distance(Vec3* out, const SplinePath* path, float d);
// Cubic Hermite point; s is not clamped.
Vec3* hermite_eval(Vec3* out, const Vec3* p0, const Vec3* t0, const Vec3* p1, const Vec3* t1,
                   float s);

// Cubic spline through n (2..8) samples with increasing xs; 0 outside them or
// for other counts. Two samples give the straight line.
float table_spline_eval(const float* xs, const float* ys, int n, float x);
// Interval widths h[1..m] and second derivatives m2[0..m] for m = n - 1.
void table_spline_prepare(const float* xs, const float* ys, int m, float* h, float* m2);
