#include "render/overlay2d/sprite3d.h"

#include <cstring>

namespace {

Sprite3dType type_record;

Sprite3d* sprite(Task* task) { return task_data<Sprite3d>(task); }

void set_pairs(float (*uv)[2], float u0, float v0, float u1, float v1, float u2, float v2, float u3, float v3) {
  const float values[8] = {u0, v0, u1, v1, u2, v2, u3, v3};
  for (int i = 0; i < 4; ++i) {
    uv[i][0] = values[2 * i];
    uv[i][1] = values[2 * i + 1];
  }
}

}  // namespace

int sprite3d_register_type() {
  type_record = Sprite3dType{};
  // The draw callback joins with the world-space sprite drawing; until then
  // the draw list passes over these tasks (their layer is never drawn by the
  // frame render).
  type_record.type_id =
      static_cast<uint32_t>(task_type_register(nullptr, sprite3d_on_create, nullptr, nullptr, sizeof(Sprite3d)));
  return static_cast<int>(type_record.type_id);
}

void sprite3d_shutdown() {}

int sprite3d_get_type() { return static_cast<int>(type_record.type_id); }
uint32_t sprite3d_get_drawn_count() { return type_record.sprites_drawn; }
uint32_t sprite3d_get_batch_count() { return type_record.batches_drawn; }

void sprite3d_reset_frame_counters() {
  type_record.sprites_drawn = 0;
  type_record.batches_drawn = 0;
}

void sprite3d_on_create(Task* task) {
  Sprite3d* s = sprite(task);
  std::memset(static_cast<void*>(s), 0, sizeof(*s));
  s->head.blend = 1;
  s->head.zfunc = 3;
  s->head.param_a = 1.0f;
  Sprite3dBillboard& b = s->billboard;
  b.width = b.height = 1.0f;
  b.uv0[2] = b.uv0[3] = 1.0f;
  b.pivot_x = b.pivot_y = 0.5f;
  b.scale_x = b.scale_y = 1.0f;
  b.colour = 0xFFFFFFFFu;
  task_set_layer(task, kSprite3dLayer);
}

void sprite3d_init_mode1(Task* task) {
  Sprite3d* s = sprite(task);
  s->head.mode = 1;
  s->head.texture0 = s->head.texture1 = 0;
  Sprite3dBeam& b = s->beam;
  std::memset(static_cast<void*>(&b), 0, sizeof(b));
  b.side_width = 1.0f;
  set_pairs(b.uv0, 0, 0, 1, 0, 0, 1, 1, 1);
  set_pairs(b.uv1, 0, 0, 1, 0, 0, 1, 1, 1);
  b.start_colour = b.end_colour = 0xFFFFFFFFu;
}

void sprite3d_init_mode2(Task* task) {
  Sprite3d* s = sprite(task);
  s->head.mode = 2;
  s->head.texture0 = s->head.texture1 = 0;
  Sprite3dQuad& q = s->quad;
  std::memset(static_cast<void*>(&q), 0, sizeof(q));
  set_pairs(q.uv0, 0, 0, 0, 1, 1, 0, 1, 1);
  set_pairs(q.uv1, 0, 0, 0, 1, 1, 0, 1, 1);
  for (uint32_t& c : q.colours) c = 0xFFFFFFFFu;
  q.scale = Vec3{1, 1, 1};
}

void sprite3d_show(Task* task) { task_set_visible(task, true); }
