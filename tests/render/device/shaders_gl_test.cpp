// The shader slots on the real device: our shipped vxx and pxx compile at
// start-up, a lit, fogged, textured triangle looks the same through a
// shader slot and through the fixed-function stages, missing or broken
// sources fall back to the fixed-function stages, and a device reset
// rebuilds the slots.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "math/mat4.h"
#include "platform/window/window.h"
#include "render/device/gfx_device.h"
#include "render/device/render_states.h"
#include "render/device/shaders.h"
#include "render/graphics/graphics.h"
#include "render/view/view_state.h"
#include "shell/services/startup_config.h"

namespace {

namespace fs = std::filesystem;
constexpr int kW = 64, kH = 48;

struct LitVertex {
  float x, y, z;
  float nx, ny, nz;
  uint32_t diffuse;
  float u, v;
};
constexpr uint32_t kLitFvf = 0x152;  // XYZ | NORMAL | DIFFUSE | TEX1

// The shipped sources as the build lays them out in the working folder.
fs::path shipped_folder() { return fs::current_path() / "bin" / "kts"; }

class ShaderSlots : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(window_system_init());
    window = window_create("shader test", kW, kH, nullptr);
    ASSERT_NE(window, nullptr);
    const int layout[5] = {kW, kH, kW, kH, 0};
    view_set_screen(kW, kH, layout);
    init_view_defaults();
    set_current_view(0);
    GfxDeviceParams p{window, kW, kH, 32, 0, 0, shaders_release, shaders_init};
    gfx_install_device_hooks();
    ASSERT_EQ(gfx_device_init(p), 1);
    gfx_invalidate_render_cache();
    temp = fs::temp_directory_path() / ("tl_shaders_" + std::to_string(::getpid()));
    fs::create_directories(temp);
  }
  void TearDown() override {
    shaders_release();
    gfx_device_shutdown();
    window_destroy(window);
    window_system_shutdown();
    shutdown_startup_config();
    fs::remove_all(temp);
  }

  // Points "SHPATH" at a folder through a start-up file.
  void use_folder(const fs::path& folder) {
    fs::path cf = temp / "KT52.CF";
    std::ofstream(cf) << "SHPATH " << folder.string() << "/\n";
    load_startup_config(cf.string());
  }
  void write(const fs::path& file, const std::string& text) { std::ofstream(file) << text; }
  std::string read(const fs::path& file) {
    std::ifstream in(file);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  uint32_t pixel(int x, int y) {
    GpuSurface* bb = nullptr;
    gpu_get_render_target(gfx_device(), 0, &bb);
    uint32_t argb = 0;
    gpu_read_surface(gfx_device(), bb, GpuRect{x, y, x + 1, y + 1}, &argb);
    gpu_surface_release(bb);
    return argb;
  }

  PlatformWindow* window = nullptr;
  fs::path temp;
};

int channel_diff(uint32_t a, uint32_t b) {
  int d = 0;
  for (int s = 0; s < 32; s += 8) d = std::max(d, std::abs(int((a >> s) & 0xFF) - int((b >> s) & 0xFF)));
  return d;
}

TEST_F(ShaderSlots, ShippedSourcesCompileFromTheDefaultFolder) {
  ASSERT_TRUE(fs::exists("bin/kts/vxx")) << "data not laid out in " << fs::current_path();
  set_near_far(0, 2.0f, 50.0f, 50.0f);
  shaders_init();
  const ShaderSet* s = shader_set();
  EXPECT_EQ(s->near, 2.0f) << "view 0's depth range";
  EXPECT_EQ(s->far, 50.0f);
  EXPECT_EQ(s->vertex[0].loaded, 1);
  EXPECT_EQ(s->vertex[0].shader, nullptr);
  for (int i = 1; i < kVertexSlotCount; ++i) {
    EXPECT_EQ(s->vertex[i].loaded, 1) << i;
    EXPECT_NE(s->vertex[i].shader, nullptr) << i;
  }
  for (int i = 1; i < kPixelSlotCount; ++i) EXPECT_NE(s->pixel[i].shader, nullptr) << i;
  for (int i = 0; i < kFvfCount; ++i) EXPECT_NE(s->declarations[i], nullptr) << i;
  // The handles the slots fetched: common ones, then their light set.
  EXPECT_NE(s->vertex[2].handles[0], nullptr);                // m1
  EXPECT_NE(s->vertex[2].handles[11], nullptr);               // vlp
  EXPECT_NE(s->vertex[6].handles[11], nullptr);               // vadf
  EXPECT_EQ(s->vertex[1].handles[11], nullptr);               // slot 1 has no lights
  EXPECT_NE(s->pixel[1].handles[6], nullptr);                 // x
  EXPECT_NE(s->pixel[3].handles[8], nullptr);                 // fgs
}

TEST_F(ShaderSlots, LitFoggedTexturedTriangleMatchesTheFixedFunctionStages) {
  use_folder(shipped_folder());
  shaders_init();
  ASSERT_NE(shader_set()->vertex[2].shader, nullptr);
  GpuDevice* d = gfx_device();

  // The model stands 5 to the right: its vertices are 5 to the left of where
  // they are drawn, through the world and then the view x projection.
  Mat4 world, view, proj;
  const Vec3 right{5, 0, 0};
  mat4_translation(&world, &right);
  mat4_identity(&view);
  mat4_perspective_off_center(&proj, -1, 1, -1, 1, 1, 1000);
  Vec3 dir = {0.3f, -0.4f, 0.866f};
  ViewState* vs = view_state(0);
  vec3_normalize(&vs->light.current.direction, &dir);
  vs->light.current.axis = Vec3{0, 1, 0};
  const uint32_t colours[4] = {0xFF404040, 0xFF404040, 0xFFC0C0C0, 0xFF000000};
  for (int i = 0; i < 4; ++i) {
    vs->light.current.colours[i] = colours[i];
    shader_float4_from_argb(vs->light.colour_float4[i], colours[i]);
  }
  set_far(0, 1000);
  set_fog_enable(0, 1);
  set_fog_start(0, 10);
  set_fog_end(0, 110);
  shader_frame_constants();
  shader_set_view_matrices(&view, &view, &proj, &proj, &proj);

  GpuTexture* tex = nullptr;
  ASSERT_EQ(gpu_create_texture(d, 1, 1, 1, 0, GPU_FMT_A8R8G8B8, GPU_POOL_MANAGED, &tex), GPU_OK);
  GpuLockedRect lr;
  ASSERT_EQ(gpu_texture_lock(tex, 0, nullptr, &lr, 0), GPU_OK);
  *static_cast<uint32_t*>(lr.bits) = 0xFF80FFC0u;
  gpu_texture_unlock(tex, 0);
  gpu_set_texture(d, 0, tex);
  gpu_set_render_state(d, GPU_RS_FOGCOLOR, 0xFF0000FFu);
  gpu_set_render_state(d, GPU_RS_CULLMODE, GPU_CULL_NONE);

  const LitVertex tri[3] = {{-25, -20, 50, 0, 0, -1, 0xFFFFFFFF, 0, 0},
                            {-5, 30, 50, 0, 0, -1, 0xFFFFFFFF, 0, 0},
                            {15, -20, 50, 0, 0, -1, 0xFFFFFFFF, 0, 0}};
  ShaderMaterial m{0xFF808080, 0xFFFF8040, 0xFF101010, 0, 0, 1};
  int format = find_fvf_index(kLitFvf);
  ASSERT_GE(format, 0);

  // Through shader slots (mode 1, lighting and fog asked).
  gfx_set_render_preset(1, 1, 3, 1, 0, 0, 0, 0, 1);
  gpu_clear(d, GPU_CLEAR_TARGET, 0xFF000000u, 1, 0);
  ASSERT_EQ(begin_mesh_draw(1, nullptr, 0, format, &world, &m, nullptr, nullptr, 1.0f, nullptr, 0), 1);
  ASSERT_NE(gpu_get_vertex_shader(d), nullptr);
  ASSERT_NE(gpu_get_pixel_shader(d), nullptr);
  ASSERT_EQ(gpu_draw_primitive_up(d, GPU_PT_TRIANGLELIST, 1, tri, sizeof(LitVertex)), GPU_OK);
  uint32_t shaded = pixel(kW / 2, kH / 2);
  EXPECT_EQ(pixel(2, kH / 2), 0xFF000000u) << "the left edge of the screen stays clear";

  // Through the fixed-function stages with the same light, material and fog.
  gfx_set_render_preset(1, 1, 3, 1, 0, 0, 0, 0, 0);
  gpu_clear(d, GPU_CLEAR_TARGET, 0xFF000000u, 1, 0);
  ASSERT_EQ(begin_mesh_draw(0, nullptr, 0, format, &world, &m, nullptr, nullptr, 1.0f, nullptr, 0), 1);
  ASSERT_EQ(gpu_get_vertex_shader(d), nullptr);
  ASSERT_EQ(gpu_get_pixel_shader(d), nullptr);
  gpu_set_transform(d, GPU_TS_WORLD, world.m);
  gpu_set_transform(d, GPU_TS_VIEW, view.m);
  gpu_set_transform(d, GPU_TS_PROJECTION, proj.m);
  GpuLight light{};
  light.type = GPU_LIGHT_DIRECTIONAL;
  light.diffuse = {0xC0 / 255.0f, 0xC0 / 255.0f, 0xC0 / 255.0f, 1};
  light.ambient = {0x40 / 255.0f, 0x40 / 255.0f, 0x40 / 255.0f, 1};
  const Vec3& ld = vs->light.current.direction;
  light.direction[0] = ld.x;
  light.direction[1] = ld.y;
  light.direction[2] = ld.z;
  gpu_set_light(d, 0, light);
  gpu_light_enable(d, 0, true);
  GpuMaterial mat{};
  mat.ambient = {0x80 / 255.0f, 0x80 / 255.0f, 0x80 / 255.0f, 1};
  mat.diffuse = {1, 0x80 / 255.0f, 0x40 / 255.0f, 1};
  mat.emissive = {0x10 / 255.0f, 0x10 / 255.0f, 0x10 / 255.0f, 1};
  gpu_set_material(d, mat);
  gpu_set_render_state(d, GPU_RS_AMBIENT, 0);
  gpu_set_render_state(d, GPU_RS_COLORVERTEX, 0);
  gpu_set_render_state(d, GPU_RS_FOGVERTEXMODE, GPU_FOG_LINEAR);
  gpu_set_render_state(d, GPU_RS_FOGSTART, gpu_float_bits(10));
  gpu_set_render_state(d, GPU_RS_FOGEND, gpu_float_bits(110));
  ASSERT_EQ(gpu_draw_primitive_up(d, GPU_PT_TRIANGLELIST, 1, tri, sizeof(LitVertex)), GPU_OK);
  uint32_t fixed = pixel(kW / 2, kH / 2);

  EXPECT_NE(fixed, 0xFF000000u);
  EXPECT_LE(channel_diff(shaded, fixed), 2) << std::hex << shaded << " vs " << fixed;
  gpu_set_texture(d, 0, nullptr);
  gpu_texture_release(tex);
}

TEST_F(ShaderSlots, MissingOrBrokenSourcesFallBackToFixedFunction) {
  int format = find_fvf_index(kLitFvf);
  // No sources at all.
  use_folder(temp);
  shaders_init();
  const ShaderSet* s = shader_set();
  for (int i = 1; i < kVertexSlotCount; ++i) EXPECT_EQ(s->vertex[i].loaded, 0) << i;
  for (int i = 1; i < kPixelSlotCount; ++i) EXPECT_EQ(s->pixel[i].loaded, 0) << i;
  EXPECT_EQ(s->vertex[0].loaded, 1);
  ASSERT_EQ(begin_mesh_draw(2, nullptr, 0, format, nullptr, nullptr, nullptr, nullptr, 1.0f, nullptr, 0), 1);
  EXPECT_EQ(gpu_get_vertex_shader(gfx_device()), nullptr);
  EXPECT_EQ(gpu_get_pixel_shader(gfx_device()), nullptr);
  EXPECT_EQ(gpu_get_fvf(gfx_device()), kLitFvf);

  // A broken vertex source beside a good pixel source.
  write(temp / "vxx", "float4 VsMain( : POSITION {");
  write(temp / "pxx", read(shipped_folder() / "pxx"));
  shaders_init();
  for (int i = 1; i < kVertexSlotCount; ++i) EXPECT_EQ(s->vertex[i].shader, nullptr) << i;
  for (int i = 1; i < kPixelSlotCount; ++i) EXPECT_NE(s->pixel[i].shader, nullptr) << i;
  ASSERT_EQ(begin_mesh_draw(1, nullptr, 0, format, nullptr, nullptr, nullptr, nullptr, 1.0f, nullptr, 0), 1);
  EXPECT_EQ(gpu_get_vertex_shader(gfx_device()), nullptr);
  EXPECT_NE(gpu_get_pixel_shader(gfx_device()), nullptr);

  // A slot that fell back to the fixed-function stages takes the draw's
  // world matrix itself.
  Mat4 world;
  const Vec3 at{3, 4, 5};
  mat4_translation(&world, &at);
  ASSERT_EQ(begin_mesh_draw(1, nullptr, 0, format, &world, nullptr, nullptr, nullptr, 1.0f, nullptr, 0), 1);
  float held[16];
  gpu_get_transform(gfx_device(), GPU_TS_WORLD, held);
  EXPECT_EQ(held[12], 3.0f);
  EXPECT_EQ(held[14], 5.0f);

  // A format whose declaration could not be made draws through the
  // fixed-function stages with its code.
  write(temp / "vxx", read(shipped_folder() / "vxx"));
  shaders_init();
  ShaderSet* set = const_cast<ShaderSet*>(shader_set());
  gpu_vertex_decl_release(set->declarations[format]);
  set->declarations[format] = nullptr;
  ASSERT_EQ(begin_mesh_draw(1, nullptr, 0, format, nullptr, nullptr, nullptr, nullptr, 1.0f, nullptr, 0), 1);
  EXPECT_EQ(gpu_get_vertex_shader(gfx_device()), nullptr);
  EXPECT_EQ(gpu_get_fvf(gfx_device()), kLitFvf);

  // A folder that does not exist.
  use_folder(temp / "nowhere");
  shaders_init();
  EXPECT_EQ(s->vertex[1].loaded, 0);
  EXPECT_EQ(s->pixel[1].loaded, 0);
}

TEST_F(ShaderSlots, KeepRulesAndFormatAlwaysSet) {
  use_folder(shipped_folder());
  shaders_init();
  GpuDevice* d = gfx_device();
  int screen = find_fvf_index(0x244), lit = find_fvf_index(kLitFvf);
  ASSERT_EQ(begin_mesh_draw(0, nullptr, 0, lit, nullptr, nullptr, nullptr, nullptr, 1.0f, nullptr, 0), 1);
  EXPECT_EQ(gpu_get_fvf(d), kLitFvf);
  // Mode kept with the same slots: the shader binding stays, the format still changes.
  ASSERT_EQ(begin_mesh_draw(-1, nullptr, 0, screen, nullptr, nullptr, nullptr, nullptr, 1.0f, nullptr, 0), 1);
  EXPECT_EQ(gpu_get_fvf(d), 0x244u);
  ASSERT_EQ(begin_mesh_draw(1, nullptr, 0, lit, nullptr, nullptr, nullptr, nullptr, 1.0f, nullptr, 0), 1);
  GpuShader* vs = gpu_get_vertex_shader(d);
  EXPECT_EQ(vs, shader_set()->vertex[2].shader);
  // A mode given outright binds its shaders again; mode -1 keeps what is bound.
  gpu_set_vertex_shader(d, nullptr);
  ASSERT_EQ(begin_mesh_draw(1, nullptr, 0, lit, nullptr, nullptr, nullptr, nullptr, 1.0f, nullptr, 0), 1);
  EXPECT_EQ(gpu_get_vertex_shader(d), vs);
  gpu_set_vertex_shader(d, nullptr);
  ASSERT_EQ(begin_mesh_draw(-1, nullptr, 0, lit, nullptr, nullptr, nullptr, nullptr, 1.0f, nullptr, 0), 1);
  EXPECT_EQ(gpu_get_vertex_shader(d), nullptr);
  ASSERT_EQ(begin_mesh_draw(1, nullptr, 0, lit, nullptr, nullptr, nullptr, nullptr, 1.0f, nullptr, 0), 1);
  // A skeleton picks the skinned slot and fills the palette, cut at 128.
  static ShaderBone bones[130];
  ShaderBoneSource source{bones, 130};
  static ShaderSkeletonNode nodes[1];
  nodes[0].bone_index = 0;
  mat4_identity(&nodes[0].skin);
  nodes[0].skin.m[12] = 7;
  ShaderSkeleton skeleton{&source, nodes, 1};
  ASSERT_EQ(begin_mesh_draw(-1, nullptr, 0, lit, nullptr, nullptr, &source, &skeleton, 1.0f, nullptr, 0), 1);
  EXPECT_EQ(gpu_get_vertex_shader(d), shader_set()->vertex[3].shader);
  EXPECT_EQ(shader_set()->palette_count, kMaxShaderBones);
  EXPECT_EQ(shader_set()->palette[0].m[12], 7.0f);
  // A skeleton made for other bones is matched by hash and name: the bone's
  // offset (scale 2), then the node's pose (one along x). A bone whose name or
  // hash differs keeps the identity.
  static ShaderBone named[3];
  Mat4 twice;
  mat4_identity(&twice);
  twice.m[0] = twice.m[5] = twice.m[10] = 2;
  named[0] = {7, "arm", twice};
  named[1] = {7, "leg", twice};
  named[2] = {9, "arm", twice};
  ShaderBoneSource other{named, 3};
  static ShaderSkeletonNode arm[1];
  arm[0] = {7, "arm", -1, {}, {}};
  mat4_identity(&arm[0].pose);
  arm[0].pose.m[12] = 1;
  ShaderSkeleton by_name{&source, arm, 1};
  ASSERT_EQ(begin_mesh_draw(-1, nullptr, 0, lit, nullptr, nullptr, &other, &by_name, 1.0f, nullptr, 0), 1);
  ASSERT_EQ(shader_set()->palette_count, 3);
  const struct {
    int bone;
    float scale, x;
  } want[] = {{0, 2, 1}, {1, 1, 0}, {2, 1, 0}};
  for (const auto& w : want) {
    EXPECT_EQ(shader_set()->palette[w.bone].m[0], w.scale) << w.bone;
    EXPECT_EQ(shader_set()->palette[w.bone].m[12], w.x) << w.bone;
  }
}

TEST_F(ShaderSlots, DeviceResetRebuildsTheSlots) {
  use_folder(shipped_folder());
  shaders_init();
  GpuShader* before = shader_set()->vertex[1].shader;
  ASSERT_NE(before, nullptr);
  gfx_request_resize(kW, kH, 0);
  gfx_present();  // the reset runs the release and init callbacks
  const ShaderSet* s = shader_set();
  ASSERT_NE(s->vertex[1].shader, nullptr);
  ASSERT_NE(s->pixel[1].shader, nullptr);
  ASSERT_NE(s->declarations[0], nullptr);
  // The rebuilt slots draw.
  GpuDevice* d = gfx_device();
  Mat4 id;
  mat4_identity(&id);
  shader_set_view_matrices(&id, &id, &id, &id, &id);
  gfx_set_render_preset(0, 1, 3, 0, 0, 0, 0, 0, 1);
  gpu_set_render_state(d, GPU_RS_CULLMODE, GPU_CULL_NONE);
  gpu_clear(d, GPU_CLEAR_TARGET, 0xFF000000u, 1, 0);
  const LitVertex tri[3] = {{-1, -1, 0.5f, 0, 0, 0, 0xFFFFFFFF, 0, 0},
                            {-1, 3, 0.5f, 0, 0, 0, 0xFFFFFFFF, 0, 0},
                            {3, -1, 0.5f, 0, 0, 0, 0xFFFFFFFF, 0, 0}};
  ShaderMaterial m{0xFFFFFFFF, 0xFFFFFFFF, 0, 0, 0, 1};
  ASSERT_EQ(begin_mesh_draw(1, nullptr, 0, find_fvf_index(kLitFvf), nullptr, &m, nullptr, nullptr, 1.0f, nullptr, 0), 1);
  ASSERT_NE(gpu_get_vertex_shader(d), nullptr);
  ASSERT_EQ(gpu_draw_primitive_up(d, GPU_PT_TRIANGLELIST, 1, tri, sizeof(LitVertex)), GPU_OK);
  EXPECT_EQ(pixel(kW / 2, kH / 2), 0xFFFFFFFFu);  // lighting not asked: c0 = white
}

}  // namespace
