#include <gtest/gtest.h>

#include <cstring>

#include "part_scene_session.h"

#include "assets/asset_registry.h"
#include "assets/link_pool.h"
#include "assets/mesh_decoder.h"
#include "assets/mesh_records.h"
#include "assets/textures.h"
#include "render/graphics/graphics.h"
#include "render/tasks/task.h"
#include "render/view/view_matrices.h"
#include "render/view/view_state.h"
#include "scene3d/mesh_part.h"
#include "scene3d/part_api.h"
#include "scene3d/part_classes.h"
#include "scene3d/part_render.h"
#include "scene3d/render_flags.h"

namespace {

class PartClassesDraw : public PartSceneSession {
 protected:
  void SetUp() override {
    start_scene("part classes test");
    red = add_quad("red", 0xFFFF0000u, 0.0f);
    green = add_quad("green", 0xFF00FF00u, 0.0f);
    ASSERT_NE(red, 0u);
    ASSERT_NE(green, 0u);
    scenepass_apply_view(0, 0);
  }
  AssetHandle red = 0, green = 0;
};

// Unlit, unfogged, both faces drawn.
template <typename SetFlag, typename SetCull>
void plain_flags(Task* t, SetFlag set_flag, SetCull set_cull) {
  set_flag(t, 0);
  set_cull(t, 2);
}

struct HookCall {
  int type;
  int vertices;
};

// Draws the requested number of vertices: a fan of screen-covering
// triangles at the origin for type 0.
void batch_hook(Task* t, uintptr_t argument) {
  const HookCall* call = reinterpret_cast<const HookCall*>(argument);
  prim_batch_begin(t, call->type, 0);
  for (int k = 0; k < call->vertices; ++k) {
    const int corner = k % 3;
    prim_batch_add_xyz(t, corner == 1 ? 6.0f : -3.0f, corner == 2 ? 6.0f : -3.0f, 0.0f);
  }
  prim_batch_end(t);
}

TEST_F(PartClassesDraw, PrimitiveBatchesFlushWholePrimitives) {
  const struct {
    HookCall call;
    uint32_t draw_calls, primitives;
  } cases[] = {
      {{0, 3}, 1, 1},
      {{0, 4}, 1, 1},  // the unfinished triangle is not drawn
      {{0, 16384}, 1, 5461},
      {{1, 16384}, 1, 8192},
      {{1, 16386}, 2, 8193},
      {{2, 5}, 1, 5},
      {{0, 0}, 0, 0},
  };
  for (const auto& c : cases) {
    Task* t = create_prim_part(1, nullptr, batch_hook, reinterpret_cast<uintptr_t>(&c.call), kDrawnLayer);
    ASSERT_NE(t, nullptr);
    prim_part_set_flag_1(t, 0);
    prim_part_set_flag_4(t, 0);
    prim_part_set_flags_12_14(t, 2);
    prim_part_set_diffuse(t, 0xFF0000FFu);
    part_render_zero_counters();
    run_frame(0);
    const PartRenderBlock* b = part_render_block();
    EXPECT_EQ(b->draw_calls, c.draw_calls) << c.call.type << " " << c.call.vertices;
    EXPECT_EQ(b->primitives, c.primitives) << c.call.type << " " << c.call.vertices;
    EXPECT_EQ(b->batches, 1u);
    if (c.call.type == 0 && c.call.vertices > 0) {
      // The part's diffuse colour, blue, with the material's small ambient.
      const uint32_t p = pixel(kCx, kCy);
      EXPECT_EQ(p & 0xFFu, 0xFFu) << c.call.vertices;
      EXPECT_LT(p >> 16, 0x40u) << c.call.vertices;
    }
  }
}

void indexed_hook(Task* t, uintptr_t argument) {
  static PrimVertex vertices[4];
  prim_draw_indexed_vertices(t, 0, 0, vertices, 4, nullptr, static_cast<uint32_t>(argument));
}

TEST_F(PartClassesDraw, QuadIndexListIsNotReadPastItsEnd) {
  const struct {
    uint32_t indices, primitives;
  } cases[] = {{6, 2}, {24576, 8192}, {30000, 8192}};
  for (const auto& c : cases) {
    Task* t = create_prim_part(1, nullptr, indexed_hook, c.indices, kDrawnLayer);
    ASSERT_NE(t, nullptr);
    part_render_zero_counters();
    run_frame(0);
    EXPECT_EQ(part_render_block()->primitives, c.primitives) << c.indices;
  }
}

// What a batch hook saw: the template after begin, the vertices it wrote,
// the template after a reset, the batch's shape and stage 0's texture.
struct BatchSeen {
  AssetHandle texture;  // handed to begin
  PrimVertex begun, first, second, reset;
  uint16_t type, per_primitive, per_batch;
  GpuTexture* stage0;
};

void template_hook(Task* t, uintptr_t argument) {
  BatchSeen* seen = reinterpret_cast<BatchSeen*>(argument);
  const PrimPart* p = task_data<PrimPart>(t);
  prim_batch_begin(t, 1, seen->texture);
  seen->stage0 = gpu_get_texture(gfx_device(), 0);
  seen->begun = p->vertex_template;
  seen->type = p->batch_type;
  seen->per_primitive = p->vertices_per_primitive;
  seen->per_batch = p->primitives_per_batch;
  prim_batch_set_normal_xyz(t, 1, 2, 3);
  prim_batch_set_colour(t, 0x12345678u);
  prim_batch_set_uv_xy(t, 0.25f, 0.75f);
  prim_batch_add_xyz(t, 4, 5, 6);
  const Vec3 n{7, 8, 9}, at{-1, -2, -3};
  const float uv[2] = {0.5f, 0.125f};
  prim_batch_set_normal(t, &n);
  prim_batch_set_uv(t, uv);
  prim_batch_add_vertex(t, &at);
  seen->first = p->vertex_buffer[0];
  seen->second = p->vertex_buffer[1];
  prim_batch_reset_template(t, 0xFF00FF00u);
  seen->reset = p->vertex_template;
  prim_batch_end(t);
}

bool same_vertex(const PrimVertex& a, const PrimVertex& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST_F(PartClassesDraw, BatchesTakeTheTemplateTheirColourAndTheirTexture) {
  const AssetHandle own = create_texture("parts", "own", 4, 4, 0), given = create_texture("parts", "given", 4, 4, 0);
  const struct {
    const char* what;
    bool lit;
    AssetHandle texture;  // handed to begin
    AssetHandle bound;    // on stage 0 while the hook draws
  } cases[] = {
      {"unlit, the part's texture", false, 0, own},
      {"lit, a texture of its own", true, given, given},
  };
  for (const auto& c : cases) {
    BatchSeen seen{};
    seen.texture = c.texture;
    Mat4 at;
    mat4_identity(&at);
    at.m[12] = 10.0f;
    Task* t = create_prim_part(1, &at, template_hook, reinterpret_cast<uintptr_t>(&seen), kDrawnLayer);
    ASSERT_NE(t, nullptr);
    const Vec3 centre{1, 2, 3};
    prim_part_set_bounds(t, &centre, 1.0f);
    prim_part_set_flag_1(t, c.lit);
    prim_part_set_diffuse(t, 0xFF0000FFu);
    prim_part_set_texture(t, own);
    part_render_zero_counters();
    run_frame(0);
    const uint32_t colour = c.lit ? 0xFFFFFFFFu : 0xFF0000FFu;
    EXPECT_TRUE(same_vertex(seen.begun, {0, 0, 0, 0, 1, 0, colour, 0, 0})) << c.what;
    EXPECT_TRUE(same_vertex(seen.first, {4, 5, 6, 1, 2, 3, 0x12345678u, 0.25f, 0.75f})) << c.what;
    EXPECT_TRUE(same_vertex(seen.second, {-1, -2, -3, 7, 8, 9, 0x12345678u, 0.5f, 0.125f})) << c.what;
    EXPECT_TRUE(same_vertex(seen.reset, {0, 0, 0, 0, 1, 0, 0xFF00FF00u, 0, 0})) << c.what;
    EXPECT_EQ(seen.type, 1) << c.what;
    EXPECT_EQ(seen.per_primitive, 2) << c.what;
    EXPECT_EQ(seen.per_batch, 8192) << c.what;
    EXPECT_EQ(seen.stage0, get_texture_object(c.bound)->texture) << c.what;
    // Not sphere-culled, the part still placed its centre for the lights.
    EXPECT_EQ(task_data<PrimPart>(t)->world_centre.x, 11.0f) << c.what;
    EXPECT_EQ(task_data<PrimPart>(t)->world_centre.y, 2.0f) << c.what;
    const PartRenderBlock* b = part_render_block();
    EXPECT_EQ(b->draw_calls, 1u) << c.what;
    EXPECT_EQ(b->primitives, 1u) << c.what;
    EXPECT_EQ(b->batches, 1u) << c.what;
  }
}

void vertices_hook(Task* t, uintptr_t argument) {
  static PrimVertex vertices[7];
  prim_draw_vertices(t, static_cast<int>(argument), 0, vertices, 7);
}

TEST_F(PartClassesDraw, VertexListsDrawWholePrimitivesAndCountABatchEach) {
  const struct {
    int type;
    uint32_t primitives;
  } cases[] = {{0, 2}, {1, 3}, {2, 7}};
  for (const auto& c : cases) {
    ASSERT_NE(create_prim_part(1, nullptr, vertices_hook, static_cast<uintptr_t>(c.type), kDrawnLayer), nullptr);
    part_render_zero_counters();
    run_frame(0);
    const PartRenderBlock* b = part_render_block();
    EXPECT_EQ(b->primitives, c.primitives) << c.type;
    EXPECT_EQ(b->draw_calls, 1u) << c.type;
    EXPECT_EQ(b->batches, 1u) << c.type;
  }
}

TEST_F(PartClassesDraw, ModelPartDrawsItsModelAndSlots) {
  Task* t = create_model_part(1, nullptr, red, kDrawnLayer);
  ASSERT_NE(t, nullptr);
  plain_flags(t, model_part_set_flag_1, model_part_set_flags_12_14);
  model_part_set_flag_2(t, 0);
  model_part_set_flag_4(t, 0);
  run_frame(0);
  EXPECT_EQ(pixel(kCx, kCy), 0xFF0000u);

  // A slot at 3 units to the right, placed by its own matrix.
  Mat4 right;
  mat4_identity(&right);
  right.m[12] = 3.0f;
  model_part_set_slot_matrix(t, 4, green, &right);
  part_slot_set_flag_1(t, 4, 0);
  PartSlot* slot = model_part_slot(t, 4);
  ASSERT_NE(slot, nullptr);
  slot->flags = flags_with_field(slot->flags, 12, 3, 2);
  slot->flags &= ~(1u << 4);
  EXPECT_EQ(part_slot_mesh(t, 4), green);
  run_frame(0);
  EXPECT_EQ(pixel(kCx, kCy), 0xFF0000u);
  EXPECT_EQ(pixel(kCx + 18, kCy), 0x00FF00u);

  // Disabled, then released: no longer drawn.
  model_part_slot_enable(t, 4, 0);
  run_frame(0);
  EXPECT_EQ(pixel(kCx + 18, kCy), 0u);
  const int used = part_slot_count();
  model_part_release_slot(t, 4);
  EXPECT_EQ(part_slot_count(), used - 1);
  EXPECT_EQ(part_slot_mesh(t, 4), 0u);
  EXPECT_EQ(part_slot_diffuse(t, 4), 0xFFFFFFFFu);
  // Out-of-range indices do nothing.
  model_part_set_slot_matrix(t, 20, green, &right);
  model_part_set_slot_matrix(t, -1, green, &right);
  EXPECT_EQ(part_slot_count(), used - 1);

  // Far to the side: with sphere culling the part is not drawn at all,
  // without it the device still gets its draw.
  model_part_matrix(t)->m[12] = 100.0f;
  gpu_trace_enable(gfx_device(), true);
  for (bool culled : {true, false}) {
    model_part_set_flag_18(t, culled);
    run_frame(0);
    size_t n = 0;
    const GpuTraceDraw* draws = gpu_trace_last_frame(gfx_device(), &n);
    int quads = 0;
    for (size_t k = 0; k < n; ++k) quads += draws[k].primitive_count == 2;
    EXPECT_EQ(quads, culled ? 0 : 1) << culled;
  }
  gpu_trace_enable(gfx_device(), false);
  task_kill(t);
}

TEST_F(PartClassesDraw, StaticPartDrawsItsNodeChain) {
  // Enabled and z-writing, unlit and unfogged, both faces drawn.
  const uint32_t word = (kNodeFlagsDefault & ~(kNodeFlagLighting | kNodeFlagLightSpheres | kNodeFlagFog |
                                               (7u << 13))) | (2u << 13);
  link_chain_begin();
  ASSERT_TRUE(link_chain_append("parts", "green", &word));
  LinkNode* chain = nullptr;
  ASSERT_TRUE(link_chain_commit(&chain));
  Task* t = create_static_part(1, chain, kDrawnLayer);
  ASSERT_NE(t, nullptr);
  run_frame(0);
  EXPECT_EQ(pixel(kCx, kCy), 0x00FF00u);

  // A node left out of the normal pass draws nothing.
  chain->word &= ~kNodeFlagEnabled;
  run_frame(0);
  EXPECT_EQ(pixel(kCx, kCy), 0u);
  task_kill(t);
}

TEST_F(PartClassesDraw, SlotsWithTheSortedBitDrawLast) {
  Task* t = create_model_part(1, nullptr, 0, kDrawnLayer);
  ASSERT_NE(t, nullptr);
  Mat4 at_origin;
  mat4_identity(&at_origin);
  // Equal depths: the later slot wins; slot 0 (green) before slot 1 (red)
  // while both are in the first pass.
  for (int index = 0; index < 2; ++index) {
    model_part_set_slot_matrix(t, index, index == 0 ? green : red, &at_origin);
    part_slot_set_flag_1(t, index, 0);
    part_slot_set_flag_4(t, index, 0);
    part_slot_set_flags_12_14(t, index, 2);
  }
  run_frame(0);
  EXPECT_EQ(pixel(kCx, kCy), 0xFF0000u);
  part_slot_set_flag_0(t, 0, 1);
  run_frame(0);
  EXPECT_EQ(pixel(kCx, kCy), 0x00FF00u);
  task_kill(t);
}

TEST_F(PartClassesDraw, SortedStaticNodesDrawFarthestFirst) {
  const AssetHandle far_green = add_quad("far_green", 0xFF00FF00u, 5.0f);
  ASSERT_NE(far_green, 0u);
  // Distance-sorted, no z write: the drawing order alone decides.
  const uint32_t word = (kNodeFlagsDefault & ~(kNodeFlagLighting | kNodeFlagLightSpheres | kNodeFlagFog |
                                               kNodeFlagZWrite | (7u << 13))) |
                        (2u << 13) | kNodeFlagDistanceSorted;
  link_chain_begin();
  ASSERT_TRUE(link_chain_append("parts", "red", &word));
  ASSERT_TRUE(link_chain_append("parts", "far_green", &word));
  LinkNode* chain = nullptr;
  ASSERT_TRUE(link_chain_commit(&chain));
  Task* t = create_static_part(1, chain, kDrawnLayer);
  ASSERT_NE(t, nullptr);
  run_frame(0);
  EXPECT_EQ(pixel(kCx, kCy), 0xFF0000u);
  // Each node keeps the key it was sorted by: its squared distance from
  // the eye plus its inner radius.
  EXPECT_FLOAT_EQ(chain->value, 100.0f + 1.5f);
  EXPECT_FLOAT_EQ(chain->next->value, 225.0f + 1.5f);
  task_kill(t);
}

// Draws a green triangle over the middle of the view.
void green_hook(Task* t, uintptr_t) {
  prim_batch_begin(t, 0, 0);
  prim_batch_add_xyz(t, -3.0f, -3.0f, 0.0f);
  prim_batch_add_xyz(t, 6.0f, -3.0f, 0.0f);
  prim_batch_add_xyz(t, -3.0f, 6.0f, 0.0f);
  prim_batch_end(t);
}

// The operations a pass test sets mesh and model parts up with.
struct PassMember {
  Task* (*create)(uint32_t owner, const Mat4* matrix, uint32_t model, uint8_t layer);
  void (*lighting)(Task*, uint32_t);
  void (*cull)(Task*, uint32_t);
  void (*fog)(Task*, uint32_t);
  void (*light_view)(Task*, uint32_t);
  void (*mirror)(Task*, uint32_t);
  void (*pass_model)(Task*, uint32_t);
};
const PassMember mesh_member{create_mesh_part_persistent, mesh_part_set_flag_1, mesh_part_set_flags_12_14,
                             mesh_part_set_flag_4,        mesh_part_set_flag_5, mesh_part_set_flag_6,
                             mesh_part_set_pass_model};
const PassMember model_member{create_model_part,    model_part_set_flag_1, model_part_set_flags_12_14,
                              model_part_set_flag_4, model_part_set_flag_5, model_part_set_flag_6,
                              model_part_set_pass_model};

TEST_F(PartClassesDraw, LightViewAndMirrorPassesDrawTheirMembersWithPassModels) {
  // The current extra light looks from the camera's place along its view,
  // and the mirror's plane (x = 0) holds the origin: every part below
  // stands inside both passes' volumes.
  const Vec3 eye{0, 0, -10}, along{0, 0, 1}, origin{0, 0, 0}, x_axis{1, 0, 0};
  set_current_light_index(0);
  set_extra_light_type(0, 0, 0);
  set_extra_light_position(0, 0, &eye);
  set_extra_light_direction(0, 0, &along);
  set_extra_light_projection(0, 0, 1.57079633f, 1.0f, 200.0f);
  set_clip_plane(0, &origin, &x_axis);
  enum Class { kMesh, kModel, kStatic, kPrim };
  enum Pass { kNormal, kLightView, kMirror };
  const struct {
    Pass pass;
    bool light_bit, mirror_bit;
    uint32_t mesh_or_model, static_or_prim;  // the centre pixel
  } cases[] = {
      {kNormal, false, false, 0xFF0000, 0x00FF00},     // the LOD model
      {kLightView, true, false, 0x00FF00, 0x00FF00},   // the pass model
      {kLightView, false, true, 0, 0},                 // not a member
      {kMirror, false, true, 0x00FF00, 0x00FF00},
      {kMirror, true, false, 0, 0},
  };
  for (Class k : {kMesh, kModel, kStatic, kPrim}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(testing::Message() << "class " << k << ", pass " << c.pass << ", bits " << c.light_bit << " "
                                      << c.mirror_bit);
      Task* t = nullptr;
      if (k == kMesh || k == kModel) {
        const PassMember& m = k == kMesh ? mesh_member : model_member;
        t = m.create(1, nullptr, red, kDrawnLayer);
        plain_flags(t, m.lighting, m.cull);
        m.fog(t, 0);
        m.light_view(t, c.light_bit);
        m.mirror(t, c.mirror_bit);
        m.pass_model(t, green);
      } else if (k == kStatic) {
        const uint32_t word = (kNodeFlagsDefault & ~(kNodeFlagLighting | kNodeFlagLightSpheres | kNodeFlagFog |
                                                     (7u << 13))) |
                              (2u << 13) | (c.light_bit ? kNodeFlagLightView : 0u) |
                              (c.mirror_bit ? kNodeFlagMirror : 0u);
        link_chain_begin();
        ASSERT_TRUE(link_chain_append("parts", "green", &word));
        LinkNode* chain = nullptr;
        ASSERT_TRUE(link_chain_commit(&chain));
        t = create_static_part(1, chain, kDrawnLayer);
      } else {
        t = create_prim_part_persistent(1, nullptr, green_hook, 0, kDrawnLayer);
        plain_flags(t, prim_part_set_flag_1, prim_part_set_flags_12_14);
        prim_part_set_flag_4(t, 0);
        prim_part_set_flag_5(t, c.light_bit);
        prim_part_set_flag_6(t, c.mirror_bit);
        prim_part_set_diffuse(t, 0xFF00FF00u);
      }
      ASSERT_NE(t, nullptr);
      if (c.pass == kLightView) part_render_set_override_5(1);
      if (c.pass == kMirror) part_render_set_override_6(1);
      run_frame(0);
      part_render_clear_overrides();
      EXPECT_EQ(pixel(kCx, kCy), k == kMesh || k == kModel ? c.mesh_or_model : c.static_or_prim);
      task_kill(t);
    }
  }
}

}  // namespace
