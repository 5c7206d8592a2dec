// Screen-space hit tests: quads as oriented rectangles (separating axes),
// plus segment and line tests on the plane.
#pragma once

#include "math/vec.h"

// Corners in strip order: top-left 0, top-right 1, bottom-left 2,
// bottom-right 3. The rectangle is centred on the corners' average with axes
// along 0->1 and 1->3; corner 2 does not enter it.
struct Quad2D {
  Vec2 corner[4];
};

// Borders count as inside / overlapping in every test.
int quad2d_contains_point(const Quad2D* quad, const Vec2* p);
int quad2d_overlaps_circle(const Quad2D* quad, const Vec2* centre, float radius);
// The segment counts as a rectangle 0.02 wide.
int quad2d_overlaps_segment(const Quad2D* quad, const Vec2* a, const Vec2* b);
int quad2d_overlaps_quad(const Quad2D* q, const Quad2D* r);

// One separating axis: |axis.d| against the rectangle's projected radius
// (plus margin), and against the sum of two rectangles' projected radii.
int quad2d_axis_overlaps_point(const Vec2* half, const Vec2* axes, const Vec2* axis,
                               const Vec2* d, float margin);
int quad2d_axis_overlaps(const Vec2* half_a, const Vec2* half_b, const Vec2* axes_a,
                         const Vec2* axes_b, const Vec2* axis, const Vec2* d);

int circle_touches_segment(const Vec2* centre, float r, const Vec2* a, const Vec2* b);
// Foot of the perpendicular from p onto the line a-b; a line through two
// equal points counts as vertical.
Vec2* perpendicular_foot_2d(Vec2* out, const Vec2* a, const Vec2* b, const Vec2* p);
float vec2_distance_to_line(const Vec2* a, const Vec2* b, const Vec2* p);
// 0 left of a->b, 1 on the line (or NaN), 2 right.
int vec2_side_of_line(const Vec2* a, const Vec2* b, const Vec2* c);
int segments_straddle(const Vec2* a, const Vec2* b, const Vec2* c, const Vec2* d);
int segments_cross(const Vec2* a, const Vec2* b, const Vec2* c, const Vec2* d);
int segments_intersect(const Vec2* a, const Vec2* b, const Vec2* c, const Vec2* d);
// Intersection of two infinite lines; 0 and out = a0 when parallel.
int line2d_intersection(Vec2* out, const Vec2* a0, const Vec2* a1, const Vec2* b0,
                        const Vec2* b1);
// Intersection of the two segments' lines; 1 when it lies on both segments.
int segment2d_intersection(Vec2* out, const Vec2* a0, const Vec2* a1, const Vec2* b0,
                           const Vec2* b1);
