#include <cstring>

#include "render/overlay2d/overlay_device.h"
#include "render/overlay2d/prim2d.h"

namespace {

int line_type = 0;
int tri_type = 0;

LineData* line_data(Task* task) {
  if (task == nullptr || line_type == 0 || task->type != line_type) return nullptr;
  return task_data<LineData>(task);
}

TriangleData* tri_data(Task* task) {
  if (task == nullptr || tri_type == 0 || task->type != tri_type) return nullptr;
  return task_data<TriangleData>(task);
}

void line2d_on_create(Task* task) {
  LineData* l = task_data<LineData>(task);
  l->colour0 = l->colour1 = 0xFFFFFFFFu;
  l->flags = 1;
  task_set_layer(task, kPrim2dDefaultLayer);
}

void tri2d_on_create(Task* task) {
  TriangleData* t = task_data<TriangleData>(task);
  t->colour[0] = t->colour[1] = t->colour[2] = 0xFFFFFFFFu;
  t->flags = 1;
  task_set_layer(task, kPrim2dDefaultLayer);
}

uint32_t no_key(Task*) { return 0; }

// Batches one run into list primitives of `per` vertices each.
template <typename Fill>
void draw_run(Task* const* entries, int count, GpuPrimitive primitive, int per, Fill fill) {
  ScreenVertex* vertices = overlay_vertex_scratch();
  uint32_t last_blend = 1;
  int pending = 0;
  auto flush = [&] {
    if (pending > 0) overlay_draw_list(primitive, pending, vertices);
    pending = 0;
  };
  for (int i = 0; i < count; ++i) {
    const uint32_t blend = fill(entries[i], nullptr) & kPrim2dBlendMask;
    if (blend != last_blend || pending >= kPrim2dBatch) {
      flush();
      if (blend != last_blend) {
        overlay_set_blend(blend);
        last_blend = blend;
      }
    }
    fill(entries[i], &vertices[pending * per]);
    ++pending;
  }
  flush();
}

void put(ScreenVertex* v, const float p[3], uint32_t colour) {
  v->x = p[0];
  v->y = p[1];
  v->diffuse = colour;
}

}  // namespace

int line2d_register_type() {
  line_type = task_type_register(line2d_draw_batch, line2d_on_create, nullptr, no_key,
                                 sizeof(LineData));
  return line_type;
}

int tri2d_register_type() {
  tri_type = task_type_register(tri2d_draw_batch, tri2d_on_create, nullptr, no_key,
                                sizeof(TriangleData));
  return tri_type;
}

int line2d_get_type() { return line_type; }
int tri2d_get_type() { return tri_type; }
void line2d_shutdown() {}
void tri2d_shutdown() {}

Task* line2d_draw(uint32_t owner, float x0, float y0, uint32_t colour0, float x1, float y1,
                  uint32_t colour1, uint8_t layer) {
  Task* task = task_create(owner);
  if (task == nullptr) return nullptr;
  task_set_type(task, line_type);
  line2d_set_points(task, x0, y0, x1, y1);
  line2d_set_colours(task, colour0, colour1);
  line2d_show(task);
  task_set_one_frame(task);
  task_set_layer(task, layer);
  return task;
}

Task* tri2d_draw(uint32_t owner, float x0, float y0, uint32_t colour0, float x1, float y1,
                 uint32_t colour1, float x2, float y2, uint32_t colour2, uint8_t layer) {
  Task* task = task_create(owner);
  if (task == nullptr) return nullptr;
  task_set_type(task, tri_type);
  tri2d_set_points(task, x0, y0, x1, y1, x2, y2);
  tri2d_set_colours(task, colour0, colour1, colour2);
  line2d_show(task);
  task_set_one_frame(task);
  task_set_layer(task, layer);
  return task;
}

void line2d_set_points(Task* task, float x0, float y0, float x1, float y1) {
  if (LineData* l = line_data(task)) {
    const float p0[3] = {x0, y0, 0.0f};
    const float p1[3] = {x1, y1, 0.0f};
    std::memcpy(l->p0, p0, sizeof(p0));
    std::memcpy(l->p1, p1, sizeof(p1));
  }
}

void tri2d_set_points(Task* task, float x0, float y0, float x1, float y1, float x2, float y2) {
  if (TriangleData* t = tri_data(task)) {
    const float p[3][3] = {{x0, y0, 0.0f}, {x1, y1, 0.0f}, {x2, y2, 0.0f}};
    std::memcpy(t->p, p, sizeof(p));
  }
}

void line2d_set_colours(Task* task, uint32_t colour0, uint32_t colour1) {
  if (LineData* l = line_data(task)) {
    l->colour0 = colour0;
    l->colour1 = colour1;
  }
}

void tri2d_set_colours(Task* task, uint32_t colour0, uint32_t colour1, uint32_t colour2) {
  if (TriangleData* t = tri_data(task)) {
    t->colour[0] = colour0;
    t->colour[1] = colour1;
    t->colour[2] = colour2;
  }
}

void line2d_set_blend(Task* task, uint32_t blend) {
  if (LineData* l = line_data(task)) l->flags = (l->flags & ~kPrim2dBlendMask) | (blend & kPrim2dBlendMask);
}

void tri2d_set_blend(Task* task, uint32_t blend) {
  if (TriangleData* t = tri_data(task)) t->flags = (t->flags & ~kPrim2dBlendMask) | (blend & kPrim2dBlendMask);
}

void line2d_show(Task* task) {
  if (line_data(task) != nullptr || tri_data(task) != nullptr) task_set_visible(task, true);
}

// Vertices sit exactly on the given coordinates: unlike sprites, lines and
// triangles take no half-pixel offset.
void line2d_draw_batch(Task* const* entries, int count) {
  overlay_begin_untextured();
  draw_run(entries, count, GPU_PT_LINELIST, 2, [](Task* task, ScreenVertex* out) {
    const LineData* l = task_data<LineData>(task);
    if (out != nullptr) {
      put(&out[0], l->p0, l->colour0);
      put(&out[1], l->p1, l->colour1);
    }
    return l->flags;
  });
}

// Fog is turned off as for lines: pre-transformed triangles must not take
// the fog a previous 3D draw left on.
void tri2d_draw_batch(Task* const* entries, int count) {
  overlay_begin_untextured();
  draw_run(entries, count, GPU_PT_TRIANGLELIST, 3, [](Task* task, ScreenVertex* out) {
    const TriangleData* t = task_data<TriangleData>(task);
    if (out != nullptr) {
      for (int k = 0; k < 3; ++k) put(&out[k], t->p[k], t->colour[k]);
    }
    return t->flags;
  });
}
