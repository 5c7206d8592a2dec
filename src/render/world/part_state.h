// The part-drawing state: the one record through which a scene pass steers
// how every 3D part and world-space sprite is drawn (the part classes' type
// ids, the shader pass index, seven overrides, per-frame counters). The part
// classes fill it when they register; main thread only.
#pragma once

#include <cstdint>

struct PartRenderBlock {
  uint32_t mesh_type_id;
  uint32_t static_type_id;
  uint32_t model_type_id;
  uint32_t prim_type_id;
  int32_t pass_index;  // 0..3, handed to the shader binding with every part
  // -1 is "not in force". 0 cull and 1 fog are in force at any other value;
  // 2 alpha reference, 4 single stage, 5 light-view pass and 6 mirror pass
  // only at 1. 3 is read by the world-space sprite.
  int32_t overrides[7];
  uint32_t draw_calls;  // raised by primitive parts during the render
  uint32_t batches;
  uint32_t primitives;
};
static_assert(sizeof(PartRenderBlock) == 15 * 4);

// Clears the record to the registered type ids, pass index 0 and every
// override -1 (not in force).
void part_render_reset_block(uint32_t prim_type_id, uint32_t model_type_id, uint32_t mesh_type_id,
                             uint32_t static_type_id);

const PartRenderBlock* part_render_block();
// Each setter returns the block.
PartRenderBlock* part_render_set_override_0(int32_t value);
PartRenderBlock* part_render_set_override_1(int32_t value);
PartRenderBlock* part_render_set_override_2(int32_t value);
PartRenderBlock* part_render_set_override_3(int32_t value);
PartRenderBlock* part_render_set_override_4(int32_t value);
PartRenderBlock* part_render_set_override_5(int32_t value);
PartRenderBlock* part_render_set_override_6(int32_t value);
int32_t part_render_get_override_2();
int32_t part_render_get_override_3();
int32_t part_render_get_override_5();
int32_t part_render_get_override_6();
int32_t part_render_get_pass_index();
void part_render_set_pass_index(int32_t pass_index);
// Every override back to -1 (not in force).
void part_render_clear_overrides();
// Counters of the primitive parts' drawing.
void part_render_count_draw(uint32_t primitives);
void part_render_count_batch();
// The three counters alone.
void part_render_zero_counters();
