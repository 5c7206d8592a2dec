// Distance and intersection queries between points, lines, segments, spheres,
// boxes and triangles. A segment is a start point a and a vector d (the end
// is a + d); distances are squared; tests return 1 or 0.
#pragma once

#include "math/vec.h"

float point_line_distance_sq(const Vec3* a, const Vec3* b, const Vec3* p);
float point_ray_distance_sq(const Vec3* p, const Vec3* d, const Vec3* a);
// Point c of the line a-b nearest to p and the offset p - c (either output
// may be null); 1 when c lies between a and b. With a == b, c is a.
int closest_point_on_line(Vec3* offset, Vec3* point, const Vec3* p, const Vec3* a,
                          const Vec3* b);
// Side of c relative to a->b on the x-z plane: 0, 1 on the line (or NaN), 2.
int xz_side_of_line(const Vec3* a, const Vec3* b, const Vec3* c);
int line_within_radius(const Vec3* p, const Vec3* d, const Vec3* a, float r);
int segment_sphere_test(const Vec3* a, const Vec3* d, const Vec3* c, float r);
// First crossing of the segment's line with the sphere, as a fraction of the
// segment (negative when a is inside), the point and the outward normal.
// Outputs may be null; nothing is written when the result is 0.
int segment_sphere_hit(const Vec3* a, const Vec3* d, const Vec3* c, float r, float* t,
                       Vec3* point, Vec3* normal);
int sphere_sphere_test(const Vec3* c1, float r1, const Vec3* c2, float r2);
// The box is given by any two opposite corners.
int segment_box_test(const Vec3* a, const Vec3* d, const Vec3* corner1, const Vec3* corner2);
// Hits on the front side only: the side the normal (p1 - p0) x (p2 - p1)
// points to. tri holds p0, p1, p2.
int segment_triangle_hit(Vec3* point, Vec3* normal, const Vec3* tri, const Vec3* a,
                         const Vec3* d);
