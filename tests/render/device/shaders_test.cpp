// Vertex formats, slot selection, material colours and fog factors, without a device.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "render/device/render_states.h"
#include "render/device/shaders.h"
#include "render/view/view_matrices.h"
#include "render/view/view_state.h"

namespace {

struct Element {
  uint16_t offset;
  uint8_t type, usage, index;
};

TEST(VertexFormats, DeclarationsAndStridesFollowTheCodes) {
  struct Case {
    uint32_t fvf;
    uint32_t stride;
    std::vector<Element> elements;
  } cases[] = {
      {0x244, 36,
       {{0, GPU_DECL_FLOAT4, GPU_USAGE_POSITIONT, 0}, {16, GPU_DECL_COLOR, GPU_USAGE_COLOR, 0},
        {20, GPU_DECL_FLOAT2, GPU_USAGE_TEXCOORD, 0}, {28, GPU_DECL_FLOAT2, GPU_USAGE_TEXCOORD, 1}}},
      {0x40212, 44,
       {{0, GPU_DECL_FLOAT3, GPU_USAGE_POSITION, 0}, {12, GPU_DECL_FLOAT3, GPU_USAGE_NORMAL, 0},
        {24, GPU_DECL_FLOAT2, GPU_USAGE_TEXCOORD, 0}, {32, GPU_DECL_FLOAT3, GPU_USAGE_TEXCOORD, 1}}},
      {0x1118, 40,
       {{0, GPU_DECL_FLOAT3, GPU_USAGE_POSITION, 0}, {12, GPU_DECL_FLOAT1, GPU_USAGE_BLENDWEIGHT, 0},
        {16, GPU_DECL_UBYTE4, GPU_USAGE_BLENDINDICES, 0}, {20, GPU_DECL_FLOAT3, GPU_USAGE_NORMAL, 0},
        {32, GPU_DECL_FLOAT2, GPU_USAGE_TEXCOORD, 0}}},
      {0x844, 84, {}},
      {0x342, 40, {}},
      {0x112, 32, {}},
      {0x111E, 52, {}},  // four weights, then the indices
      {0x501458, 76, {}},
  };
  for (const Case& c : cases) {
    GpuVertexElement e[20];
    int n = fvf_declaration(c.fvf, e, 20);
    ASSERT_GT(n, 0) << std::hex << c.fvf;
    EXPECT_EQ(e[n - 1].stream, 0xFF);
    EXPECT_EQ(fvf_declaration_stride(e), c.stride) << std::hex << c.fvf;
    EXPECT_EQ(fvf_declaration_stride(e), gpu_fvf_stride(c.fvf)) << std::hex << c.fvf;
    for (size_t i = 0; i < c.elements.size(); ++i) {
      EXPECT_EQ(e[i].offset, c.elements[i].offset) << std::hex << c.fvf << " element " << i;
      EXPECT_EQ(e[i].type, c.elements[i].type) << std::hex << c.fvf << " element " << i;
      EXPECT_EQ(e[i].usage, c.elements[i].usage) << std::hex << c.fvf << " element " << i;
      EXPECT_EQ(e[i].usage_index, c.elements[i].index) << std::hex << c.fvf << " element " << i;
    }
    if (!c.elements.empty()) {
      EXPECT_EQ(n, int(c.elements.size()) + 1);
    }
  }
  GpuVertexElement small[3];
  EXPECT_EQ(fvf_declaration(0x244, small, 3), 0);  // no room
  EXPECT_EQ(fvf_declaration(0x40, small, 3), 0);   // no position
}

TEST(VertexFormats, TableLookups) {
  EXPECT_EQ(find_fvf_index(0x244), 0);
  EXPECT_EQ(find_fvf_index(0x112), 3);  // stands at 3 and 9
  EXPECT_EQ(find_fvf_index(0x50145E), 49);
  EXPECT_EQ(find_fvf_index(0x999), -1);  // not found is not the screen format
  EXPECT_EQ(fvf_code(9), 0x112u);
  EXPECT_EQ(fvf_code(-1), 0u);
  EXPECT_EQ(fvf_code(kFvfCount), 0u);
  for (int i = 0; i < kFvfCount; ++i) {
    GpuVertexElement e[20];
    EXPECT_GT(fvf_declaration(fvf_code(i), e, 20), 0) << i;
  }
}

TEST(ShaderSelection, ModesPointLightsAndLighting) {
  struct Case {
    int mode;
    bool lights, lighting;
    int vertex, skinned, pixel;
  } cases[] = {
      {0, false, false, 0, 1, 0}, {0, true, true, 0, 1, 0},  {1, true, true, 4, 5, 2}, {1, true, false, 2, 3, 1},
      {1, false, true, 2, 3, 1},  {2, true, true, 8, 9, 4},  {2, false, true, 6, 7, 3},
  };
  for (const Case& c : cases) {
    const int* k = shader_combination(c.mode, c.lights, c.lighting);
    EXPECT_EQ(k[0], c.vertex) << c.mode << c.lights << c.lighting;
    EXPECT_EQ(k[1], c.skinned) << c.mode << c.lights << c.lighting;
    EXPECT_EQ(k[2], c.pixel) << c.mode << c.lights << c.lighting;
  }
}

class ShaderState : public ::testing::Test {
 protected:
  void SetUp() override {
    init_view_defaults();
    set_current_view(0);
    gfx_invalidate_render_cache();
  }
  void preset(int lighting, int fog) { gfx_set_render_preset(lighting, 1, 3, fog, 0, 0, 0, 0, 0); }
  int draw(int mode, const ShaderMaterial* m, const ShaderPointLight* lights = nullptr, int count = 0,
           int format = 12, int kind = 0) {
    return begin_mesh_draw(mode, nullptr, kind, format, nullptr, m, nullptr, nullptr, 1.0f, lights, count);
  }
};

TEST_F(ShaderState, BeginMeshDrawSelectsSlotsAndRefusesBadInput) {
  ShaderPointLight l[4] = {};
  for (ShaderPointLight& p : l) p.first = 5;
  preset(1, 0);
  ASSERT_EQ(draw(1, nullptr, l, 2), 1);
  EXPECT_EQ(shader_set()->last_vertex, 4);
  EXPECT_EQ(shader_set()->last_pixel, 2);
  EXPECT_EQ(shader_set()->mode, 1);
  preset(0, 0);
  ASSERT_EQ(draw(-1, nullptr, l, 2), 1);  // the mode is kept
  EXPECT_EQ(shader_set()->last_vertex, 2);
  EXPECT_EQ(shader_set()->last_pixel, 1);
  // More lights than the shaders hold are cut to three.
  ASSERT_EQ(draw(1, nullptr, l, 4), 1);
  EXPECT_EQ(shader_set()->light_count, 3);
  ASSERT_EQ(draw(1, nullptr, l, -2), 1);
  EXPECT_EQ(shader_set()->light_count, 0);
  // Refused: nothing changes.
  ASSERT_EQ(draw(0, nullptr), 1);
  EXPECT_EQ(draw(3, nullptr), 0);
  EXPECT_EQ(draw(1, nullptr, nullptr, 0, 12, 4), 0);
  EXPECT_EQ(draw(1, nullptr, nullptr, 0, find_fvf_index(0x999)), 0);
  EXPECT_EQ(draw(1, nullptr, nullptr, 0, kFvfCount), 0);
  EXPECT_EQ(shader_set()->mode, 0);
  EXPECT_EQ(shader_set()->last_vertex, 0);
}

TEST_F(ShaderState, PointLightsAreTakenIntoModelSpace) {
  ShaderPointLight l[2] = {};
  l[0].position = Vec3{12, 3, 0};
  l[0].first = 5;
  l[0].second = 7;
  const float colour[4] = {0.1f, 0.2f, 0.3f, 0.4f};
  std::memcpy(l[0].colour, colour, sizeof colour);
  l[1].position = Vec3{-1, -2, -3};
  // The model stands at (10, 0, 0), turned a quarter of yaw (its z along +x).
  Mat4 world;
  const Vec3 at{10, 0, 0}, turn{0, 1.5707963f, 0};
  mat4_from_position_euler(&world, &at, &turn);
  ASSERT_EQ(begin_mesh_draw(1, nullptr, 0, 12, &world, nullptr, nullptr, nullptr, 1.0f, l, 1), 1);
  const ShaderSet* s = shader_set();
  const float want[4] = {0, 3, 2, 5};  // w: the first scalar
  const float params[4] = {5, 7, 0, 0};
  for (int i = 0; i < 4; ++i) {
    EXPECT_NEAR(s->light_position[0][i], want[i], 1e-5f) << i;
    EXPECT_EQ(s->light_colour[0][i], colour[i]) << i;
    EXPECT_EQ(s->light_params[0][i], params[i]) << i;
    EXPECT_EQ(s->light_position[1][i], 0.0f) << "past the count: zeroed";
  }
  // Without a world matrix the world position stands.
  ASSERT_EQ(begin_mesh_draw(1, nullptr, 0, 12, nullptr, nullptr, nullptr, nullptr, 1.0f, l, 2), 1);
  EXPECT_EQ(s->light_position[0][0], 12.0f);
  EXPECT_EQ(s->light_position[1][2], -3.0f);
  EXPECT_EQ(s->inverse_world, nullptr);
}

TEST_F(ShaderState, TextureProjectionMapsTheLightsViewToTextureCoordinates) {
  // The fitted light 1 looks at (0, 0, 0.2): there its texture coordinates
  // are the middle; a step along the light's up is higher on its texture.
  shader_set_view_matrices(get_view_matrix(0), get_camera_matrix(0), get_projection_matrix(0), get_matrix_slot4(0),
                           get_proj_view_matrix(0));
  const Mat4& m = shader_set()->texture_projection[1];
  const Mat4* light = get_light_matrix_b(0, 1);
  const Vec3 centre{0, 0, 0.2f};
  const Vec3 above{centre.x + light->m[4], centre.y + light->m[5], centre.z + light->m[6]};
  for (const Vec3* p : {&centre, &above}) {
    const float* e = m.m;
    const float u = p->x * e[0] + p->y * e[4] + p->z * e[8] + e[12];
    const float v = p->x * e[1] + p->y * e[5] + p->z * e[9] + e[13];
    const float w = p->x * e[3] + p->y * e[7] + p->z * e[11] + e[15];
    EXPECT_NEAR(u / w, 0.5f, 1e-4f);
    if (p == &centre) EXPECT_NEAR(v / w, 0.5f, 1e-4f);
    else EXPECT_LT(v / w, 0.45f);
  }
}

TEST_F(ShaderState, MaterialColours) {
  ViewState* v = view_state(0);
  const float light[4][4] = {{0.5f, 0.5f, 0.5f, 1}, {0.25f, 0.25f, 0.25f, 1}, {1, 0.5f, 0, 1}, {1, 1, 1, 1}};
  std::memcpy(v->light.colour_float4, light, sizeof light);
  ShaderMaterial m{0xFF804020, 0x80FF0000, 0x00010203, 0x40FFFFFF, 0.05f, 2.0f};
  preset(1, 0);
  ASSERT_EQ(draw(0, &m), 1);
  const ShaderSet* s = shader_set();
  float a = 128.0f / 255.0f * 2.0f, e0 = 1.0f / 255.0f;
  EXPECT_FLOAT_EQ(s->c[0][0], a * 0.5f + e0);           // ambient x light 0 + emissive
  EXPECT_FLOAT_EQ(s->c[1][0], a * 0.25f + e0);          // ambient x light 1 + emissive
  EXPECT_FLOAT_EQ(s->c[2][0], 2.0f * 1.0f);             // diffuse x light 2
  EXPECT_FLOAT_EQ(s->c[2][3], 128.0f / 255.0f);         // alpha is not scaled
  EXPECT_FLOAT_EQ(s->c4[0], 2.0f);                      // c4: the diffuse before the light
  EXPECT_FLOAT_EQ(s->c[3][3], 0.1f);                    // the power, raised to 0.1
  m.power = 8;
  draw(0, &m);
  EXPECT_FLOAT_EQ(s->c[3][3], 8.0f);
  preset(0, 0);
  draw(0, &m);
  EXPECT_FLOAT_EQ(s->c[0][0], 1.0f);
  EXPECT_FLOAT_EQ(s->c[0][3], 0.0f);
  EXPECT_FLOAT_EQ(s->c[2][3], 1.0f);
  EXPECT_FLOAT_EQ(s->c[3][3], 0.1f);
  draw(0, nullptr);
  EXPECT_FLOAT_EQ(s->c[2][0], 1.0f);
  EXPECT_FLOAT_EQ(s->c[0][0], 0.0f);
  EXPECT_FLOAT_EQ(s->c[3][3], 0.1f);
}

TEST_F(ShaderState, FogFactors) {
  set_far(0, 500);
  set_fog_enable(0, 1);
  set_fog_start(0, 10);
  set_fog_end(0, 110);
  set_fog2_enable(0, 0);
  shader_frame_constants();
  const ShaderSet* s = shader_set();
  EXPECT_FLOAT_EQ(s->fog_on[0][0], -0.01f);
  EXPECT_FLOAT_EQ(s->fog_on[0][1], 1.1f);
  EXPECT_FLOAT_EQ(s->fog_on[0][2], -1.0f);  // second range off: far .. far + 1
  EXPECT_FLOAT_EQ(s->fog_on[0][3], 501.0f);
  EXPECT_FLOAT_EQ(s->fog_off[0][0], -1.0f);
  EXPECT_FLOAT_EQ(s->fog_off[0][1], 501.0f);
  // At the start the value is 1, at the end 0.
  EXPECT_NEAR(10 * s->fog_on[0][0] + s->fog_on[0][1], 1.0f, 1e-6f);
  EXPECT_NEAR(110 * s->fog_on[0][0] + s->fog_on[0][1], 0.0f, 1e-6f);
  // Equal start and end give finite factors.
  set_fog_start(0, 50);
  set_fog_end(0, 50);
  shader_frame_constants();
  EXPECT_TRUE(std::isfinite(s->fog_on[0][0]));
  EXPECT_TRUE(std::isfinite(s->fog_on[0][1]));
}

TEST(ShaderMath, Helpers) {
  float f[4];
  shader_float4_from_argb(f, 0x80FF0033);
  EXPECT_FLOAT_EQ(f[0], 1.0f);
  EXPECT_FLOAT_EQ(f[2], 0.2f);
  EXPECT_FLOAT_EQ(f[3], 128.0f / 255.0f);
  shader_float4_from_argb_scaled(f, 0xFF808080, 2.0f);
  EXPECT_FLOAT_EQ(f[0], 256.0f / 255.0f);
  EXPECT_FLOAT_EQ(f[3], 1.0f);
  Vec3 zero = {0, 0, 0}, out;
  shader_vec3_normalize(&out, &zero);
  EXPECT_EQ(out.x, 0.0f);
  EXPECT_EQ(shader_argb_alpha(0x12345678), 0x12u);
  EXPECT_EQ(shader_argb_green(0x12345678), 0x56u);
  EXPECT_EQ(shader_argb_red(0x12345678), 0x34u);
  EXPECT_EQ(shader_argb_blue(0x12345678), 0x78u);

  // Every component of each helper, from values that tell them apart.
  const float a[4] = {1, 2, 3, 4}, b[4] = {5, 6, 7, 8}, c[4] = {0.5f, 0.25f, 0.125f, 0.0625f};
  const Vec3 v = {1, 2, 3}, side = {3, 4, 0};
  float set[4], copy[4], scale[4], mul[4], mul_add[4], from3[4], argb[4], scaled[4];
  EXPECT_EQ(shader_float4_set(set, 1, 2, 3, 4), set);
  shader_float4_copy(copy, a);
  shader_float4_scale3(scale, a, 2);
  shader_float4_mul(mul, a, b);
  shader_float4_mul_add(mul_add, a, b, c);
  shader_float4_from_vec3(from3, &v, 9);
  shader_float4_from_argb(argb, 0x33CC6600);
  shader_float4_from_argb_scaled(scaled, 0x33CC6600, 0.5f);
  const struct {
    const char* name;
    const float* got;
    float want[4];
  } rows[] = {
      {"set", set, {1, 2, 3, 4}},
      {"copy", copy, {1, 2, 3, 4}},
      {"scale3 keeps w", scale, {2, 4, 6, 4}},
      {"mul", mul, {5, 12, 21, 32}},
      {"mul_add", mul_add, {5.5f, 12.25f, 21.125f, 32.0625f}},
      {"from vec3", from3, {1, 2, 3, 9}},
      {"from argb", argb, {0.8f, 0.4f, 0, 0.2f}},
      {"from argb scaled keeps alpha", scaled, {0.4f, 0.2f, 0, 0.2f}},
  };
  for (const auto& r : rows)
    for (int i = 0; i < 4; ++i) EXPECT_FLOAT_EQ(r.got[i], r.want[i]) << r.name << " " << i;
  Vec3 unit;
  EXPECT_EQ(shader_vec3_normalize(&unit, &side), &unit);
  EXPECT_FLOAT_EQ(unit.x, 0.6f);
  EXPECT_FLOAT_EQ(unit.y, 0.8f);
  EXPECT_EQ(unit.z, 0.0f);
  Vec3 set3;
  shader_vec3_set(&set3, 7, 8, 9);
  EXPECT_EQ(set3.x, 7.0f);
  EXPECT_EQ(set3.y, 8.0f);
  EXPECT_EQ(set3.z, 9.0f);
}

}  // namespace
