#include "math/quad2d.h"

namespace {

struct Rect2 {
  Vec2 centre;
  Vec2 axes[2];
  Vec2 half;
};

// A rectangle whose edge has no length would have a zero axis, on which every
// projection overlaps; the missing axis is then the perpendicular of the
// other, and a rectangle without any extent is its centre point.
void complete_axes(Rect2* r) {
  const bool e0 = r->axes[0].x != 0.0f || r->axes[0].y != 0.0f;
  const bool e1 = r->axes[1].x != 0.0f || r->axes[1].y != 0.0f;
  if (!e0 && !e1) {
    r->axes[0] = Vec2{1.0f, 0.0f};
    r->axes[1] = Vec2{0.0f, 1.0f};
  } else if (!e0) {
    r->axes[0] = Vec2{r->axes[1].y, -r->axes[1].x};
  } else if (!e1) {
    r->axes[1] = Vec2{-r->axes[0].y, r->axes[0].x};
  }
}

Rect2 quad_rect(const Quad2D* q) {
  const Vec2* c = q->corner;
  Rect2 r;
  r.centre = Vec2{(c[0].x + c[1].x + c[2].x + c[3].x) / 4.0f,
                  (c[0].y + c[1].y + c[2].y + c[3].y) / 4.0f};
  Vec2 e;
  vec2_normalize(&r.axes[0], vec2_sub(&e, &c[1], &c[0]));
  vec2_normalize(&r.axes[1], vec2_sub(&e, &c[3], &c[1]));
  r.half = Vec2{vec2_distance(&c[1], &c[0]) / 2.0f, vec2_distance(&c[3], &c[1]) / 2.0f};
  complete_axes(&r);
  return r;
}

Rect2 segment_rect(const Vec2* a, const Vec2* b) {
  Rect2 r;
  r.centre = Vec2{(a->x + b->x) / 2.0f, (a->y + b->y) / 2.0f};
  Vec2 d;
  vec2_sub(&d, a, b);
  const Vec2 across{-d.y, d.x};
  vec2_normalize(&r.axes[0], &d);
  vec2_normalize(&r.axes[1], &across);
  r.half = Vec2{vec2_length(&d) / 2.0f, 0.01f};
  complete_axes(&r);
  return r;
}

float projected_radius(const Vec2* axis, const Vec2* axes, const Vec2* half) {
  return std::fabs(vec2_dot(axis, &axes[0])) * half->x +
         std::fabs(vec2_dot(axis, &axes[1])) * half->y;
}

int rects_overlap(const Rect2* p, const Rect2* q, const Vec2* const* axes_order) {
  Vec2 d;
  vec2_sub(&d, &p->centre, &q->centre);
  for (int i = 0; i < 4; ++i) {
    if (!quad2d_axis_overlaps(&p->half, &q->half, p->axes, q->axes, axes_order[i], &d)) return 0;
  }
  return 1;
}

}  // namespace

int quad2d_axis_overlaps_point(const Vec2* half, const Vec2* axes, const Vec2* axis,
                               const Vec2* d, float margin) {
  return std::fabs(vec2_dot(axis, d)) <= projected_radius(axis, axes, half) + margin ? 1 : 0;
}

int quad2d_axis_overlaps(const Vec2* half_a, const Vec2* half_b, const Vec2* axes_a,
                         const Vec2* axes_b, const Vec2* axis, const Vec2* d) {
  const float reach = projected_radius(axis, axes_a, half_a) + projected_radius(axis, axes_b, half_b);
  return std::fabs(vec2_dot(axis, d)) <= reach ? 1 : 0;
}

int quad2d_contains_point(const Quad2D* quad, const Vec2* p) {
  const Rect2 r = quad_rect(quad);
  Vec2 d;
  vec2_sub(&d, &r.centre, p);
  return quad2d_axis_overlaps_point(&r.half, r.axes, &r.axes[0], &d, 0.0f) &&
                 quad2d_axis_overlaps_point(&r.half, r.axes, &r.axes[1], &d, 0.0f)
             ? 1
             : 0;
}

int quad2d_overlaps_segment(const Quad2D* quad, const Vec2* a, const Vec2* b) {
  const Rect2 q = quad_rect(quad);
  const Rect2 s = segment_rect(a, b);
  const Vec2* order[4] = {&q.axes[0], &q.axes[1], &s.axes[1], &s.axes[0]};
  return rects_overlap(&q, &s, order);
}

int quad2d_overlaps_quad(const Quad2D* q, const Quad2D* r) {
  const Rect2 a = quad_rect(q);
  const Rect2 b = quad_rect(r);
  const Vec2* order[4] = {&a.axes[0], &a.axes[1], &b.axes[0], &b.axes[1]};
  return rects_overlap(&a, &b, order);
}

int quad2d_overlaps_circle(const Quad2D* quad, const Vec2* centre, float radius) {
  static const int kPerimeter[4] = {0, 1, 3, 2};
  const Vec2* c = quad->corner;
  int cleared = 0;
  for (int i = 0; i < 4; ++i) {
    const Vec2* p = &c[kPerimeter[i]];
    const Vec2* q = &c[kPerimeter[(i + 1) % 4]];
    const Vec2* r = &c[kPerimeter[(i + 2) % 4]];
    if (circle_touches_segment(centre, radius, p, q)) return 1;
    Vec2 f, n, w;
    perpendicular_foot_2d(&f, p, q, centre);
    vec2_normalize(&n, vec2_sub(&n, r, q));
    if (vec2_dot(&n, vec2_sub(&w, centre, &f)) - radius >= 0.0f) ++cleared;
  }
  return cleared == 4 ? 1 : 0;
}

int circle_touches_segment(const Vec2* centre, float r, const Vec2* a, const Vec2* b) {
  Vec2 e, w;
  vec2_sub(&e, b, a);
  vec2_sub(&w, centre, a);
  const float t = vec2_dot(&e, &w);
  float d2;
  if (t < 0.0f) {
    d2 = vec2_length_sq(&w);
  } else {
    const float ee = vec2_dot(&e, &e);
    if (ee < t) {
      d2 = vec2_distance_sq(centre, b);
    } else {
      if (ee == 0.0f) return 0;
      d2 = vec2_dot(&w, &w) - t * t / ee;
    }
  }
  return r * r >= d2 ? 1 : 0;
}

// A vertical line (also two equal points) and a horizontal one give their
// foot exactly; other lines take the vector projection rather than slopes, so
// that nearly vertical edges keep their precision.
Vec2* perpendicular_foot_2d(Vec2* out, const Vec2* a, const Vec2* b, const Vec2* p) {
  if (a->x == b->x) return vec2_set(out, a->x, p->y);
  if (a->y == b->y) return vec2_set(out, p->x, a->y);
  Vec2 e, w;
  vec2_sub(&e, b, a);
  vec2_sub(&w, p, a);
  const float t = vec2_dot(&w, &e) / vec2_dot(&e, &e);
  return vec2_set(out, a->x + e.x * t, a->y + e.y * t);
}

float vec2_distance_to_line(const Vec2* a, const Vec2* b, const Vec2* p) {
  Vec2 e, w;
  vec2_sub(&e, b, a);
  vec2_sub(&w, p, a);
  const float len = vec2_length(&e);
  if (len == 0.0f) return 0.0f;
  return std::fabs(vec2_cross(&e, &w)) / len;
}

int vec2_side_of_line(const Vec2* a, const Vec2* b, const Vec2* c) {
  Vec2 e, w;
  vec2_sub(&e, b, a);
  vec2_sub(&w, c, a);
  const float k = vec2_cross(&e, &w);
  if (k > 0.0f) return 0;
  if (k < 0.0f) return 2;
  return 1;
}

int segments_straddle(const Vec2* a, const Vec2* b, const Vec2* c, const Vec2* d) {
  return vec2_side_of_line(a, b, c) != vec2_side_of_line(a, b, d) ? 1 : 0;
}

int segments_cross(const Vec2* a, const Vec2* b, const Vec2* c, const Vec2* d) {
  if (vec2_side_of_line(a, b, c) == vec2_side_of_line(a, b, d)) return 0;
  return vec2_side_of_line(c, d, a) != vec2_side_of_line(c, d, b) ? 1 : 0;
}

int segments_intersect(const Vec2* a, const Vec2* b, const Vec2* c, const Vec2* d) {
  const float u = b->y - a->y, v = a->x - b->x, k = -(u * a->x + v * a->y);
  if ((u * c->x + v * c->y + k) * (u * d->x + v * d->y + k) > 0.0f) return 0;
  const float u2 = d->y - c->y, v2 = c->x - d->x, k2 = -(u2 * c->x + v2 * c->y);
  return (u2 * a->x + v2 * a->y + k2) * (u2 * b->x + v2 * b->y + k2) <= 0.0f ? 1 : 0;
}

int line2d_intersection(Vec2* out, const Vec2* a0, const Vec2* a1, const Vec2* b0,
                        const Vec2* b1) {
  const Vec2 da{a1->x - a0->x, a1->y - a0->y};
  const Vec2 db{b1->x - b0->x, b1->y - b0->y};
  const float d1 = db.x * da.y - da.x * db.y;
  const float d2 = da.x * db.y - db.x * da.y;
  if (d1 == 0.0f || d2 == 0.0f) {
    vec2_set(out, a0->x, a0->y);
    return 0;
  }
  const float x = (da.x * (b1->x * b0->y - b0->x * b1->y) - db.x * (a1->x * a0->y - a0->x * a1->y)) / d1;
  const float y = (da.y * (b0->x * b1->y - b1->x * b0->y) - db.y * (a0->x * a1->y - a1->x * a0->y)) / d2;
  vec2_set(out, x, y);
  return 1;
}

namespace {

bool within(float v, float e0, float e1) {
  const float lo = e0 < e1 ? e0 : e1, hi = e0 < e1 ? e1 : e0;
  return v >= lo && v <= hi;
}

}  // namespace

int segment2d_intersection(Vec2* out, const Vec2* a0, const Vec2* a1, const Vec2* b0,
                           const Vec2* b1) {
  float x, y;
  const bool a_vertical = a0->x == a1->x;
  const bool b_vertical = b0->x == b1->x;
  if (a_vertical) {
    if (b_vertical) {
      vec2_set(out, 0.0f, 0.0f);
      return 0;
    }
    const float mb = (b1->y - b0->y) / (b1->x - b0->x);
    x = a0->x;
    y = mb * x + (b1->y - mb * b1->x);
  } else {
    const float ma = (a1->y - a0->y) / (a1->x - a0->x);
    const float ca = a1->y - ma * a1->x;
    if (b_vertical) {
      x = b0->x;
      y = ma * x + ca;
    } else {
      const float mb = (b1->y - b0->y) / (b1->x - b0->x);
      if (ma == mb) {
        vec2_set(out, 0.0f, 0.0f);
        return 0;
      }
      const float cb = b1->y - mb * b1->x;
      x = (ca - cb) / -(ma - mb);
      y = ma * x + ca;
    }
  }
  vec2_set(out, x, y);
  const bool on_a = within(x, a0->x, a1->x) && within(y, a0->y, a1->y);
  const bool on_b = within(x, b0->x, b1->x) && within(y, b0->y, b1->y);
  return on_a && on_b ? 1 : 0;
}
