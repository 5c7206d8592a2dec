#include "render/world/prim3d.h"

#include <cmath>
#include <cstring>

#include "render/view/view_matrices.h"
#include "render/view/view_state.h"

namespace {

int line_type = 0;
int tri_type = 0;

constexpr uint32_t kDefaultLineFlags = 1u | kPrim3dDepthWrite | (7u << kPrim3dDepthFuncShift);
constexpr uint32_t kDefaultTriFlags = 1u | kPrim3dDepthWrite | (1u << kPrim3dDepthFuncShift);

Line3D* line(Task* task) {
  return task != nullptr && line_type != 0 && task->type == line_type ? task_data<Line3D>(task) : nullptr;
}

Tri3D* tri(Task* task) {
  return task != nullptr && tri_type != 0 && task->type == tri_type ? task_data<Tri3D>(task) : nullptr;
}

void set_bits(uint32_t* flags, uint32_t mask, uint32_t value) { *flags = (*flags & ~mask) | (value & mask); }

Task* make(uint32_t owner, int type) {
  if (type == 0) return nullptr;
  Task* task = task_create(owner);
  if (task != nullptr) task_set_type(task, type);
  return task;
}

}  // namespace

int line3d_register_type() {
  line_type = task_type_register(line3d_draw_batch, line3d_on_create, nullptr, nullptr, sizeof(Line3D));
  return line_type;
}

int tri3d_register_type() {
  tri_type = task_type_register(tri3d_draw_batch, tri3d_on_create, nullptr, tri3d_sort_key, sizeof(Tri3D));
  return tri_type;
}

int line3d_get_type() { return line_type; }
int tri3d_get_type() { return tri_type; }
void line3d_shutdown() {}
void tri3d_shutdown() {}

void line3d_on_create(Task* task) {
  Line3D* l = task_data<Line3D>(task);
  *l = Line3D{{0, 0, 0}, {0, 0, 0}, 0xFFFFFFFFu, 0xFFFFFFFFu, kDefaultLineFlags};
  task_set_layer(task, kPrim3dLayer);
}

void tri3d_on_create(Task* task) {
  Tri3D* t = task_data<Tri3D>(task);
  *t = Tri3D{{{0, 0, 0}, {0, 0, 0}, {0, 0, 0}}, {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu}, kDefaultTriFlags};
  task_set_layer(task, kPrim3dLayer);
}

Task* line3d_draw(uint32_t owner, const Vec3* p0, uint32_t colour0, const Vec3* p1, uint32_t colour1) {
  Task* task = make(owner, line_type);
  if (task == nullptr) return nullptr;
  line3d_set_points(task, p0, p1);
  line3d_set_colours(task, colour0, colour1);
  line3d_show(task);
  task_set_one_frame(task);
  return task;
}

Task* tri3d_draw(uint32_t owner, const Vec3* p0, uint32_t colour0, const Vec3* p1, uint32_t colour1,
                 const Vec3* p2, uint32_t colour2) {
  Task* task = make(owner, tri_type);
  if (task == nullptr) return nullptr;
  tri3d_set_points(task, p0, p1, p2);
  tri3d_set_colours(task, colour0, colour1, colour2);
  line3d_show(task);
  task_set_one_frame(task);
  return task;
}

void line3d_set_points(Task* task, const Vec3* p0, const Vec3* p1) {
  Line3D* l = line(task);
  if (l == nullptr || p0 == nullptr || p1 == nullptr) return;
  l->p0 = *p0;
  l->p1 = *p1;
}

void tri3d_set_points(Task* task, const Vec3* p0, const Vec3* p1, const Vec3* p2) {
  Tri3D* t = tri(task);
  if (t == nullptr || p0 == nullptr || p1 == nullptr || p2 == nullptr) return;
  t->p[0] = *p0;
  t->p[1] = *p1;
  t->p[2] = *p2;
}

void line3d_set_colours(Task* task, uint32_t colour0, uint32_t colour1) {
  if (Line3D* l = line(task)) {
    l->colour0 = colour0;
    l->colour1 = colour1;
  }
}

void tri3d_set_colours(Task* task, uint32_t colour0, uint32_t colour1, uint32_t colour2) {
  if (Tri3D* t = tri(task)) {
    t->colour[0] = colour0;
    t->colour[1] = colour1;
    t->colour[2] = colour2;
  }
}

void line3d_set_blend(Task* task, uint32_t index) {
  if (Line3D* l = line(task)) set_bits(&l->flags, kPrim3dBlendMask, index);
}

void tri3d_set_blend(Task* task, uint32_t index) {
  if (Tri3D* t = tri(task)) set_bits(&t->flags, kPrim3dBlendMask, index);
}

void line3d_set_depth_write(Task* task, uint32_t on) {
  if (Line3D* l = line(task)) set_bits(&l->flags, kPrim3dDepthWrite, (on & 1) << 5);
}

void tri3d_set_depth_write(Task* task, uint32_t on) {
  if (Tri3D* t = tri(task)) set_bits(&t->flags, kPrim3dDepthWrite, (on & 1) << 5);
}

void line3d_set_depth_func(Task* task, uint32_t index) {
  if (Line3D* l = line(task)) set_bits(&l->flags, kPrim3dDepthFuncMask, (index & 7) << kPrim3dDepthFuncShift);
}

void tri3d_set_depth_func(Task* task, uint32_t index) {
  if (Tri3D* t = tri(task)) set_bits(&t->flags, kPrim3dDepthFuncMask, (index & 7) << kPrim3dDepthFuncShift);
}

void line3d_show(Task* task) {
  if (task != nullptr) task_set_visible(task, true);
}

uint32_t tri3d_sort_key(Task* task) {
  const Tri3D* t = task_data<Tri3D>(task);
  const int view = get_current_view();
  const Mat4* camera = get_camera_matrix(view);
  const Vec3 eye{camera->m[12], camera->m[13], camera->m[14]};
  Vec3 centroid;
  vec3_add(&centroid, &t->p[0], &t->p[1]);
  vec3_add(&centroid, &centroid, &t->p[2]);
  vec3_scale(&centroid, &centroid, 0.3334f);
  const float far = get_far(view);
  // A view without a far distance has no depth to sort by.
  if (!(far > 0.0f)) return 0;
  const float d = std::sqrt(vec3_distance_sq(&centroid, &eye));
  float k = d / far;
  if (!(k > 0.0f)) k = 0.0f;
  if (k > 1.0f) k = 1.0f;
  return static_cast<uint32_t>(k * 65535.0f);
}
