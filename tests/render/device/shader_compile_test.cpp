#include <gtest/gtest.h>

#include <string>

#include "platform/shader/shader.h"

namespace {

const char kVertex[] = R"(
float4x4 m1;
float4x4 m3[4];
row_major float4x4 rm;
float4 v8;
float4 va[3];
int ib;
struct VsIn { float4 pos : POSITION; float2 tc : TEXCOORD0; float4 col : COLOR0; };
struct VsOut { float4 pos : POSITION; float4 col : COLOR0; float2 tc : TEXCOORD0; float fog : FOG; };
VsOut VsMain(VsIn i) {
  VsOut o;
  o.pos = mul(float4(i.pos.xyz, 1), m1) + mul(i.pos, m3[1]) + mul(i.pos, rm);
  o.col = i.col;
  for (int k = 0; k < ib; ++k) o.col += va[k];
  o.tc = i.tc;
  o.fog = o.pos.z * v8.x + v8.y;
  return o;
}
)";

const char kPixel[] = R"(
sampler2D s0 : register(s0);
float4 v1;
float4 x[3];
int zx;
float4 PsMain(float4 col : COLOR0, float2 tc : TEXCOORD0) : COLOR0 {
  float4 c = col * tex2D(s0, tc) * v1;
  for (int k = 0; k < zx; ++k) c.rgb += x[k].rgb;
  return c;
}
)";

struct Compiled {
  ShaderCode* code = nullptr;
  ShaderConstantTable* table = nullptr;
  std::string errors;
  bool ok = false;
  Compiled(const char* src, const char* entry, const char* profile) {
    ok = shader_compile(src, std::char_traits<char>::length(src), "test", entry, profile, &code, &table, &errors);
  }
  ~Compiled() {
    shader_code_release(code);
    shader_table_release(table);
  }
};

}  // namespace

TEST(ShaderCompile, VertexTableFindsConstantsByNameWithTheirRegisters) {
  Compiled c(kVertex, "VsMain", "vs_1_1");
  ASSERT_TRUE(c.ok) << c.errors;
  EXPECT_EQ(shader_code_stage(c.code), GPU_SHADER_VERTEX);
  struct Row {
    const char* name;
    uint32_t reg, elements;
  } rows[] = {{"m1", 0, 1}, {"m3", 4, 4}, {"rm", 20, 1}, {"v8", 24, 1}, {"va", 25, 3}, {"ib", 28, 1}};
  for (const Row& r : rows) {
    const ShaderConstant* k = shader_constant_by_name(c.table, r.name);
    ASSERT_NE(k, nullptr) << r.name;
    EXPECT_EQ(shader_constant_register(k), r.reg) << r.name;
    EXPECT_EQ(shader_constant_elements(k), r.elements) << r.name;
  }
  EXPECT_EQ(shader_constant_by_name(c.table, "nothing"), nullptr);
  EXPECT_EQ(shader_constant_by_name(nullptr, "m1"), nullptr);
  std::string glsl = shader_code_glsl(c.code);
  EXPECT_NE(glsl.find("void tl_main()"), std::string::npos) << glsl;
  EXPECT_NE(glsl.find("tl_vs_constants"), std::string::npos) << glsl;
  EXPECT_EQ(glsl.find("#version"), std::string::npos);
}

TEST(ShaderCompile, PixelShaderNamesItsSamplerAfterItsRegister) {
  Compiled c(kPixel, "PsMain", "ps_2_0");
  ASSERT_TRUE(c.ok) << c.errors;
  EXPECT_EQ(shader_code_stage(c.code), GPU_SHADER_PIXEL);
  std::string glsl = shader_code_glsl(c.code);
  EXPECT_NE(glsl.find("sampler2D tl_s0"), std::string::npos) << glsl;
  EXPECT_NE(glsl.find("tl_ps_constants"), std::string::npos) << glsl;
  EXPECT_NE(shader_constant_by_name(c.table, "zx"), nullptr);
}

TEST(ShaderCompile, FailuresComeBackAsText) {
  struct Case {
    const char* what;
    const char* src;
    const char* entry;
    const char* profile;
    const char* expect;  // a piece of the message
  } cases[] = {
      {"syntax", "float4 VsMain( : POSITION { }", "VsMain", "vs_1_1", "test"},
      {"missing entry", kVertex, "Main", "vs_1_1", ""},
      {"unknown profile", kVertex, "VsMain", "gs_4_0", "profile"},
      {"too many registers for ps_2_0", "float4 big[40]; float4 PsMain() : COLOR0 { return big[39]; }", "PsMain",
       "ps_2_0", "registers"},
      {"too many registers for vs_4_0",
       "float4 big[513]; float4 VsMain(int i : BLENDINDICES) : POSITION { return big[i]; }", "VsMain", "vs_4_0",
       "registers"},
      {"unsupported vertex input", "float4 VsMain(float4 p : POSITION, float4 t : TEXCOORD9) : POSITION { return p + t; }",
       "VsMain", "vs_1_1", "TEXCOORD9"},
  };
  for (const Case& k : cases) {
    Compiled c(k.src, k.entry, k.profile);
    EXPECT_FALSE(c.ok) << k.what;
    EXPECT_EQ(c.code, nullptr) << k.what;
    EXPECT_EQ(c.table, nullptr) << k.what;
    EXPECT_FALSE(c.errors.empty()) << k.what;
    EXPECT_NE(c.errors.find(k.expect), std::string::npos) << k.what << ": " << c.errors;
  }
}

TEST(ShaderCompile, MissingFileIsAnError) {
  ShaderCode* code = reinterpret_cast<ShaderCode*>(1);
  std::string errors;
  EXPECT_FALSE(shader_compile_file("/nonexistent/vxx", "VsMain", "vs_1_1", &code, nullptr, &errors));
  EXPECT_EQ(code, nullptr);
  EXPECT_NE(errors.find("/nonexistent/vxx"), std::string::npos);
}
