// HLSL through the real pipeline on the device: constants arrive with the
// matrix orientation of our math, the stages keep their own registers, and
// shaders mix with the fixed-function stages.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "math/mat4.h"
#include "platform/gpu/gpu_fixture.h"
#include "platform/shader/shader.h"

namespace {

struct ColourVertex {
  float x, y, z;
  uint32_t diffuse;
};
constexpr uint32_t kColourFvf = GPU_FVF_XYZ | GPU_FVF_DIFFUSE;

const char kVs[] = R"(
float4x4 m1;
float4 v4;   // added to the output colour
struct VsOut { float4 pos : POSITION; float4 col : COLOR0; };
VsOut VsMain(float4 p : POSITION, float4 c : COLOR0) {
  VsOut o;
  o.pos = mul(float4(p.xyz, 1), m1);
  o.col = c + v4;
  return o;
}
)";

const char kPs[] = R"(
float4 v4;   // the pixel colour, unrelated to the vertex stage's v4
float4 PsMain(float4 c : COLOR0) : COLOR0 { return v4; }
)";

const char kPsPassThrough[] = R"(
float4 PsMain(float4 c : COLOR0) : COLOR0 { return c; }
)";

struct Stage {
  ShaderCode* code = nullptr;
  ShaderConstantTable* table = nullptr;
  GpuShader* shader = nullptr;
  void build(GpuDevice* device, const char* src, const char* entry, const char* profile) {
    std::string errors;
    ASSERT_TRUE(shader_compile(src, std::strlen(src), "test", entry, profile, &code, &table, &errors)) << errors;
    ASSERT_EQ(shader_create(device, code, &shader), GPU_OK) << shader_code_glsl(code);
  }
  void release() {
    gpu_shader_release(shader);
    shader_code_release(code);
    shader_table_release(table);
    *this = Stage{};
  }
};

class ShaderPipeline : public GpuFixture {
 protected:
  void TearDown() override {
    vs.release();
    ps.release();
    GpuFixture::TearDown();
  }
  // A quad over x in [-1, 0] (the left half of the screen), whole height.
  void draw_left_half(uint32_t argb) {
    ColourVertex v[4] = {{-1, 1, 0.5f, argb}, {0, 1, 0.5f, argb}, {-1, -1, 0.5f, argb}, {0, -1, 0.5f, argb}};
    ASSERT_EQ(gpu_set_fvf(device, kColourFvf), GPU_OK);
    ASSERT_EQ(gpu_draw_primitive_up(device, GPU_PT_TRIANGLESTRIP, 2, v, sizeof(ColourVertex)), GPU_OK);
  }
  void clear() { ASSERT_EQ(gpu_clear(device, GPU_CLEAR_TARGET, 0xFF000000u, 1.0f, 0), GPU_OK); }
  void set_vs_matrix(const Mat4& m) {
    ASSERT_TRUE(shader_set_matrix(device, vs.table, shader_constant_by_name(vs.table, "m1"), m.m));
  }
  Stage vs, ps;
};

TEST_F(ShaderPipeline, TranslationRowOfTheMatrixMovesTheGeometry) {
  vs.build(device, kVs, "VsMain", "vs_1_1");
  ps.build(device, kPsPassThrough, "PsMain", "ps_2_0");
  gpu_set_vertex_shader(device, vs.shader);
  gpu_set_pixel_shader(device, ps.shader);
  Mat4 m;
  Vec3 right = {1, 0, 0};
  mat4_translation(&m, &right);
  set_vs_matrix(m);
  const float zero[4] = {0, 0, 0, 0};
  ASSERT_TRUE(shader_set_vector(device, vs.table, shader_constant_by_name(vs.table, "v4"), zero));
  clear();
  draw_left_half(0xFF00FF00u);
  // mul(v, M) applies the translation row: the quad lands on the right half.
  EXPECT_EQ(pixel(kWidth / 4, kHeight / 2), 0xFF000000u);
  EXPECT_EQ(pixel(kWidth * 3 / 4, kHeight / 2), 0xFF00FF00u);
  // Row vectors: a scale of x by 0.5 after the translation keeps the quad in [0, 0.5].
  Mat4 s, ms;
  mat4_identity(&s);
  s.m[0] = 0.5f;
  mat4_multiply(&ms, &s, &m);  // m first, then s
  set_vs_matrix(ms);
  clear();
  draw_left_half(0xFF00FF00u);
  EXPECT_EQ(pixel(kWidth * 5 / 8, kHeight / 2), 0xFF00FF00u);
  EXPECT_EQ(pixel(kWidth * 7 / 8, kHeight / 2), 0xFF000000u);
}

TEST_F(ShaderPipeline, EachStageKeepsItsOwnRegistersForLaterShaders) {
  vs.build(device, kVs, "VsMain", "vs_1_1");
  ps.build(device, kPs, "PsMain", "ps_2_0");
  Mat4 id;
  mat4_identity(&id);
  set_vs_matrix(id);
  const float vs_v4[4] = {1, 0, 0, 0}, ps_v4[4] = {0, 0, 1, 1};
  ASSERT_TRUE(shader_set_vector(device, vs.table, shader_constant_by_name(vs.table, "v4"), vs_v4));
  ASSERT_TRUE(shader_set_vector(device, ps.table, shader_constant_by_name(ps.table, "v4"), ps_v4));
  gpu_set_vertex_shader(device, vs.shader);
  gpu_set_pixel_shader(device, ps.shader);
  clear();
  draw_left_half(0xFF00FF00u);
  EXPECT_EQ(pixel(kWidth / 4, kHeight / 2), 0xFF0000FFu);

  // A shader made after the values were set reads them: they belong to the stage.
  Stage again;
  again.build(device, kPs, "PsMain", "ps_2_0");
  gpu_set_pixel_shader(device, again.shader);
  clear();
  draw_left_half(0xFF00FF00u);
  EXPECT_EQ(pixel(kWidth / 4, kHeight / 2), 0xFF0000FFu);
  again.release();
  EXPECT_EQ(gpu_get_pixel_shader(device), nullptr);  // released while bound: unbound

  // The fixed-function pixel stage after the vertex shader shows its colour output:
  // green from the vertex plus red from the vertex stage's v4.
  clear();
  draw_left_half(0xFF00FF00u);
  EXPECT_EQ(pixel(kWidth / 4, kHeight / 2), 0xFFFFFF00u);
}

TEST_F(ShaderPipeline, PixelShaderWithPretransformedVerticesAndAlphaTest) {
  ps.build(device, kPs, "PsMain", "ps_2_0");
  const float half[4] = {1, 0, 0, 0.25f};
  ASSERT_TRUE(shader_set_vector(device, ps.table, shader_constant_by_name(ps.table, "v4"), half));
  gpu_set_pixel_shader(device, ps.shader);
  clear();
  draw_quad(0, 0, 8, 8, 0xFFFFFFFFu);
  EXPECT_EQ(pixel(2, 2), 0xFFFF0000u);
  // The alpha test still applies after a pixel shader.
  gpu_set_render_state(device, GPU_RS_ALPHATESTENABLE, 1);
  gpu_set_render_state(device, GPU_RS_ALPHAFUNC, GPU_CMP_GREATER);
  gpu_set_render_state(device, GPU_RS_ALPHAREF, 0x80);
  clear();
  draw_quad(0, 0, 8, 8, 0xFFFFFFFFu);
  EXPECT_EQ(pixel(2, 2), 0xFF000000u);
}

TEST_F(ShaderPipeline, ConstantSettersRefuseMismatchesAndCutArrays) {
  const char src[] = R"(
float4 arr[2];
float4x4 mats[2];
int n;
float4 VsMain(float4 p : POSITION) : POSITION { return mul(p, mats[n]) + arr[n]; }
)";
  vs.build(device, src, "VsMain", "vs_1_1");
  const ShaderConstant* arr = shader_constant_by_name(vs.table, "arr");
  const ShaderConstant* mats = shader_constant_by_name(vs.table, "mats");
  const ShaderConstant* n = shader_constant_by_name(vs.table, "n");
  ASSERT_TRUE(arr && mats && n);
  float four[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  EXPECT_FALSE(shader_set_matrix(device, vs.table, arr, four));
  EXPECT_FALSE(shader_set_vector(device, vs.table, mats, four));
  EXPECT_FALSE(shader_set_vector(device, vs.table, nullptr, four));
  // Three elements into an array of two: the third does not spill into "mats".
  float before[4], after[4];
  uint32_t mats_at = shader_constant_register(mats) * 16;
  ASSERT_EQ(gpu_get_shader_constants(device, GPU_SHADER_VERTEX, mats_at, before, 16), GPU_OK);
  float three[12] = {1, 1, 1, 1, 2, 2, 2, 2, 9, 9, 9, 9};
  EXPECT_TRUE(shader_set_vector_array(device, vs.table, arr, three, 3));
  ASSERT_EQ(gpu_get_shader_constants(device, GPU_SHADER_VERTEX, mats_at, after, 16), GPU_OK);
  EXPECT_EQ(std::memcmp(before, after, 16), 0);
  // Column-major packing: register 0 of a matrix holds its first column.
  EXPECT_TRUE(shader_set_matrix(device, vs.table, mats, four));
  float reg0[4];
  ASSERT_EQ(gpu_get_shader_constants(device, GPU_SHADER_VERTEX, mats_at, reg0, 16), GPU_OK);
  EXPECT_EQ(reg0[0], 1.0f);
  EXPECT_EQ(reg0[1], 5.0f);
  EXPECT_EQ(reg0[2], 9.0f);
  EXPECT_EQ(reg0[3], 13.0f);
  // An int constant takes the integer.
  EXPECT_TRUE(shader_set_int(device, vs.table, n, 1));
  int32_t word = 0;
  ASSERT_EQ(gpu_get_shader_constants(device, GPU_SHADER_VERTEX, shader_constant_register(n) * 16, &word, 4), GPU_OK);
  EXPECT_EQ(word, 1);
}

// Each kind of constant takes a value converted to its own type (clamped to
// its range) in its first component, and arrays and row-major matrices land in the registers the
// compiled code reads.
TEST_F(ShaderPipeline, ConstantSettersConvertAndPlaceEachKind) {
  const char src[] = R"(
float4 f;
int4 i;
uint4 u;
float4x4 mats[2];
row_major float4x4 rm;
float4 VsMain(float4 p : POSITION) : POSITION { return mul(p, mats[i.x]) + mul(p, rm) + f + i + u; }
)";
  vs.build(device, src, "VsMain", "vs_3_0");
  const ShaderConstant* f = shader_constant_by_name(vs.table, "f");
  const ShaderConstant* i = shader_constant_by_name(vs.table, "i");
  const ShaderConstant* u = shader_constant_by_name(vs.table, "u");
  const ShaderConstant* mats = shader_constant_by_name(vs.table, "mats");
  const ShaderConstant* rm = shader_constant_by_name(vs.table, "rm");
  ASSERT_TRUE(f && i && u && mats && rm);
  auto word = [&](const ShaderConstant* k) {
    uint32_t w = 0;
    EXPECT_EQ(gpu_get_shader_constants(device, GPU_SHADER_VERTEX, shader_constant_register(k) * 16, &w, 4), GPU_OK);
    return w;
  };
  const struct {
    const char* name;
    const ShaderConstant* k;
    bool as_int;
    float value;
    uint32_t word;
  } scalars[] = {
      {"float from float", f, false, 0.25f, 0x3E800000u},
      {"float from int", f, true, -2, 0xC0000000u},
      {"int from float, cut", i, false, 3.7f, 3u},
      {"int from float, negative", i, false, -3.7f, uint32_t(-3)},
      {"int from a float beyond it", i, false, 3e9f, 0x7FFFFFFFu},
      {"int from a float below it", i, false, -3e9f, 0x80000000u},
      {"int from int", i, true, -5, uint32_t(-5)},
      {"uint from a negative float", u, false, -1, 0u},
      {"uint from float, cut", u, false, 2.5f, 2u},
      {"uint from a float beyond it", u, false, 5e9f, 0xFFFFFFFFu},
  };
  for (const auto& c : scalars) {
    EXPECT_TRUE(c.as_int ? shader_set_int(device, vs.table, c.k, int32_t(c.value))
                         : shader_set_float(device, vs.table, c.k, c.value))
        << c.name;
    EXPECT_EQ(word(c.k), c.word) << c.name;
  }
  float m[32];
  for (int e = 0; e < 16; ++e) m[e] = float(e + 1), m[16 + e] = float(e + 101);
  EXPECT_FALSE(shader_set_float(device, vs.table, mats, 1));
  EXPECT_FALSE(shader_set_int(device, vs.table, rm, 1));
  EXPECT_FALSE(shader_set_matrix_array(device, vs.table, mats, nullptr, 1));
  EXPECT_TRUE(shader_set_matrix_array(device, vs.table, mats, m, 2));
  EXPECT_TRUE(shader_set_matrix(device, vs.table, rm, m));
  const struct {
    const char* name;
    uint32_t reg;
    float want[4];
  } regs[] = {
      {"second matrix, first column", shader_constant_register(mats) + 4, {101, 105, 109, 113}},
      {"second matrix, last column", shader_constant_register(mats) + 7, {104, 108, 112, 116}},
      {"row-major, first row", shader_constant_register(rm), {1, 2, 3, 4}},
      {"row-major, last row", shader_constant_register(rm) + 3, {13, 14, 15, 16}},
  };
  for (const auto& r : regs) {
    float got[4] = {};
    ASSERT_EQ(gpu_get_shader_constants(device, GPU_SHADER_VERTEX, r.reg * 16, got, 16), GPU_OK);
    for (int c = 0; c < 4; ++c) EXPECT_EQ(got[c], r.want[c]) << r.name << " " << c;
  }
}

TEST_F(ShaderPipeline, EachStageTakesExactlyItsRegisters) {
  const struct {
    GpuShaderStage stage;
    uint32_t reg;
    GpuResult expect;
  } cases[] = {
      {GPU_SHADER_VERTEX, GPU_VS_CONSTANT_REGISTERS - 1, GPU_OK},
      {GPU_SHADER_VERTEX, GPU_VS_CONSTANT_REGISTERS, GPU_INVALID_CALL},
      {GPU_SHADER_PIXEL, GPU_PS_CONSTANT_REGISTERS - 1, GPU_OK},
      {GPU_SHADER_PIXEL, GPU_PS_CONSTANT_REGISTERS, GPU_INVALID_CALL},
  };
  const float v[4] = {1, 2, 3, 4};
  for (const auto& c : cases) {
    EXPECT_EQ(gpu_set_shader_constants(device, c.stage, c.reg * 16, v, 16), c.expect) << c.stage << " " << c.reg;
    float back[4] = {};
    EXPECT_EQ(gpu_get_shader_constants(device, c.stage, c.reg * 16, back, 16), c.expect) << c.stage << " " << c.reg;
    if (c.expect == GPU_OK) {
      EXPECT_EQ(std::memcmp(back, v, 16), 0) << c.stage << " " << c.reg;
    }
  }

  // The vertex stage's last register reaches the shader.
  // m1 takes registers 0-3 and pad the rest but one.
  const std::string src = "float4x4 m1;\nfloat4 pad[" + std::to_string(GPU_VS_CONSTANT_REGISTERS - 5) + "];\n" + R"(
float4 last;
struct VsOut { float4 pos : POSITION; float4 col : COLOR0; };
VsOut VsMain(float4 p : POSITION, float4 c : COLOR0) {
  VsOut o;
  o.pos = mul(float4(p.xyz, 1), m1) + pad[(int)c.r] * 0;
  o.col = last;
  return o;
}
)";
  vs.build(device, src.c_str(), "VsMain", "vs_4_0");
  ps.build(device, kPsPassThrough, "PsMain", "ps_2_0");
  const ShaderConstant* last = shader_constant_by_name(vs.table, "last");
  ASSERT_NE(last, nullptr);
  ASSERT_EQ(shader_constant_register(last), GPU_VS_CONSTANT_REGISTERS - 1);
  Mat4 id;
  mat4_identity(&id);
  set_vs_matrix(id);
  const float blue[4] = {0, 0, 1, 1};
  ASSERT_TRUE(shader_set_vector(device, vs.table, last, blue));
  gpu_set_vertex_shader(device, vs.shader);
  gpu_set_pixel_shader(device, ps.shader);
  clear();
  draw_left_half(0xFF00FF00u);
  EXPECT_EQ(pixel(kWidth / 4, kHeight / 2), 0xFF0000FFu);
}

}  // namespace
