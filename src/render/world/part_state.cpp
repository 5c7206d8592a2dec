#include "render/world/part_state.h"

#include <cstring>

namespace {

PartRenderBlock block;

PartRenderBlock* set_override(int index, int32_t value) {
  block.overrides[index] = value;
  return &block;
}

}  // namespace

void part_render_reset_block(uint32_t prim_type_id, uint32_t model_type_id, uint32_t mesh_type_id,
                             uint32_t static_type_id) {
  std::memset(&block, 0, sizeof(block));
  block.prim_type_id = prim_type_id;
  block.model_type_id = model_type_id;
  block.mesh_type_id = mesh_type_id;
  block.static_type_id = static_type_id;
  block.pass_index = 0;
  for (int32_t& o : block.overrides) o = -1;
}

const PartRenderBlock* part_render_block() { return &block; }

PartRenderBlock* part_render_set_override_0(int32_t value) { return set_override(0, value); }
PartRenderBlock* part_render_set_override_1(int32_t value) { return set_override(1, value); }
PartRenderBlock* part_render_set_override_2(int32_t value) { return set_override(2, value); }
PartRenderBlock* part_render_set_override_3(int32_t value) { return set_override(3, value); }
PartRenderBlock* part_render_set_override_4(int32_t value) { return set_override(4, value); }
PartRenderBlock* part_render_set_override_5(int32_t value) { return set_override(5, value); }
PartRenderBlock* part_render_set_override_6(int32_t value) { return set_override(6, value); }
int32_t part_render_get_override_2() { return block.overrides[2]; }
int32_t part_render_get_override_3() { return block.overrides[3]; }
int32_t part_render_get_override_5() { return block.overrides[5]; }
int32_t part_render_get_override_6() { return block.overrides[6]; }
int32_t part_render_get_pass_index() { return block.pass_index; }
void part_render_set_pass_index(int32_t pass_index) { block.pass_index = pass_index; }

void part_render_count_draw(uint32_t primitives) {
  ++block.draw_calls;
  block.primitives += primitives;
}

void part_render_count_batch() { ++block.batches; }

void part_render_zero_counters() {
  block.draw_calls = 0;
  block.batches = 0;
  block.primitives = 0;
}

void part_render_clear_overrides() {
  for (int32_t& o : block.overrides) o = -1;
}
