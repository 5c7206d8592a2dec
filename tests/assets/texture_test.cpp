// Textures, crops and depth surfaces on the engine's device, headless.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "assets/asset_registry.h"
#include "assets/crops.h"
#include "assets/depth_surfaces.h"
#include "assets/presets.h"
#include "assets/textures.h"
#include "platform/gpu/gpu.h"
#include "platform/image/image.h"
#include "platform/image/image_samples.h"
#include "platform/window/window.h"
#include "render/device/gfx_device.h"
#include "render/device/gfx_resources.h"
#include "render/graphics/graphics.h"

namespace {

constexpr int kWidth = 128;  // room for a 100 x 50 picture drawn at its size
constexpr int kHeight = 64;

uint32_t address_u(const TextureObject* t) { return (t->flags >> TEXTURE_FLAG_U_SHIFT) & 7u; }
uint32_t address_v(const TextureObject* t) { return (t->flags >> TEXTURE_FLAG_V_SHIFT) & 7u; }

class Textures : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(window_system_init());
    window = window_create("asset test", kWidth, kHeight, nullptr);
    ASSERT_NE(window, nullptr);
    GfxDeviceParams p{};
    p.window = window;
    p.width = kWidth;
    p.height = kHeight;
    p.colour_bits = 32;
    gfx_install_device_hooks();
    ASSERT_EQ(gfx_device_init(p), 1);
    mark_asset_registry(&mark);
  }

  void TearDown() override {
    release_asset_registry_to_mark(&mark);
    gfx_device_shutdown();
    window_destroy(window);
    window_system_shutdown();
  }

  // Draws the texture 1:1 at (x, y) with point sampling (filter 0) or linear
  // (1) and reads the back buffer.
  std::vector<uint32_t> draw(AssetHandle texture, int x, int y, int w, int h, int filter = 0) {
    GpuDevice* d = gfx_device();
    gpu_clear(d, GPU_CLEAR_TARGET, 0, 1, 0);
    gpu_set_render_state(d, GPU_RS_LIGHTING, 0);
    gpu_set_render_state(d, GPU_RS_CULLMODE, GPU_CULL_NONE);
    gpu_set_render_state(d, GPU_RS_ZENABLE, 0);
    gpu_set_render_state(d, GPU_RS_ALPHABLENDENABLE, 0);
    gpu_set_stage_state(d, 0, GPU_TSS_COLOROP, GPU_TOP_MODULATE);
    gpu_set_stage_state(d, 0, GPU_TSS_COLORARG1, GPU_TA_TEXTURE);
    gpu_set_stage_state(d, 0, GPU_TSS_COLORARG2, GPU_TA_DIFFUSE);
    gfx_bind_texture(d, 0, get_texture_object(texture), filter);
    const TextureObject* t = get_texture_object(texture);
    const float u1 = float(w) / t->width, v1 = float(h) / t->height;
    const float l = x - 0.5f, top = y - 0.5f, r = x + w - 0.5f, b = y + h - 0.5f;
    const ScreenVertex v[4] = {{l, top, 0, 1, 0xFFFFFFFF, 0, 0, 0, 0},
                               {r, top, 0, 1, 0xFFFFFFFF, u1, 0, u1, 0},
                               {l, b, 0, 1, 0xFFFFFFFF, 0, v1, 0, v1},
                               {r, b, 0, 1, 0xFFFFFFFF, u1, v1, u1, v1}};
    const uint16_t index[6] = {0, 1, 2, 3, 2, 1};
    EXPECT_EQ(gpu_set_fvf(d, kScreenVertexFvf), GPU_OK);
    EXPECT_EQ(gpu_draw_indexed_primitive_up(d, GPU_PT_TRIANGLELIST, 0, 4, 2, index, GPU_FMT_INDEX16, v,
                                            sizeof(ScreenVertex)),
              GPU_OK);
    gfx_bind_texture(d, 0, nullptr, 0);
    std::vector<uint32_t> px(size_t(kWidth) * kHeight);
    GpuSurface* bb = nullptr;
    EXPECT_EQ(gpu_get_render_target(d, 0, &bb), GPU_OK);
    EXPECT_EQ(gpu_read_surface(d, bb, GpuRect{0, 0, kWidth, kHeight}, px.data()), GPU_OK);
    gpu_surface_release(bb);
    return px;
  }

  PlatformWindow* window = nullptr;
  RegistryMark mark{};
};

TEST_F(Textures, DefaultTexturesAreTheFirstSixHandles) {
  const struct {
    AssetHandle handle;
    const char* name;
    uint32_t texel;
  } defaults[] = {
      {get_white_texture(), "wh", 0xFFFFFFFF},   {get_black_texture(), "bl", 0xFF000000},
      {get_green_texture(), "gr", 0xFF00FF00},   {get_cyan_texture(), "cy", 0xFF00FFFF},
      {get_magenta_texture(), "mag", 0xFFFF00FF}, {get_normal_texture(), "nrm", 0xFF8080FF},
  };
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(defaults[i].handle, AssetHandle(i + 1));
    EXPECT_STREQ(get_texture_name(defaults[i].handle), defaults[i].name);
    EXPECT_STREQ(get_texture_package(defaults[i].handle), "disp");
    EXPECT_EQ(read_texture_texel(defaults[i].handle, 0, 0), defaults[i].texel) << defaults[i].name;
  }
  EXPECT_EQ(find_texture("disp", "nrm"), 6u);
}

TEST_F(Textures, PicturesFromMemoryAreDrawn) {
  const Picture png_source = sample_pure(8, 8);
  const Bytes png = write_png(png_source, PngKind::RGBA8);
  const Picture jpeg_source = sample_opaque(sample_gradient(8, 8));
  const Bytes jpeg = write_jpeg(jpeg_source, false, false);

  const AssetHandle a = register_texture_from_memory("t", "pic.png", png.data(), png.size(), 0);
  ASSERT_NE(a, 0u);
  EXPECT_STREQ(get_texture_name(a), "pic");
  // Same package and base name: the same texture.
  EXPECT_EQ(register_texture_from_memory("t", "dir\\pic.jpg", jpeg.data(), jpeg.size(), 0), a);
  const AssetHandle b = register_texture_from_memory("t", "photo.jpg", jpeg.data(), jpeg.size(), 0);
  ASSERT_NE(b, 0u);
  EXPECT_EQ(get_texture_record(b)->object.image_width, 8);

  std::vector<uint32_t> px = draw(a, 4, 6, 8, 8);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x)
      ASSERT_EQ(px[size_t(6 + y) * kWidth + 4 + x] & 0xFFFFFF, png_source.at(x, y) & 0xFFFFFF) << x << "," << y;

  DecodedImage decoded;
  ASSERT_EQ(image_decode_memory(jpeg.data(), jpeg.size(), &decoded), IMAGE_OK);
  px = draw(b, 20, 10, 8, 8);
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) {
      const uint32_t drawn = px[size_t(10 + y) * kWidth + 20 + x];
      ASSERT_EQ(drawn & 0xFFFFFF, decoded.argb[size_t(y) * 8 + x] & 0xFFFFFF) << x << "," << y;
      for (int shift = 0; shift < 24; shift += 8) {
        const int got = int(drawn >> shift & 0xFF), want = int(jpeg_source.at(x, y) >> shift & 0xFF);
        EXPECT_LE(std::abs(got - want), 8) << x << "," << y;
      }
    }
  }

  const Bytes junk(64, 0x5A);
  const int32_t before = count_textures();
  EXPECT_EQ(register_texture_from_memory("t", "junk.png", junk.data(), junk.size(), 0), 0u);
  EXPECT_EQ(count_textures(), before);
  EXPECT_EQ(find_texture("t", "junk"), 0u);
}

Picture stripes(int width, int height, bool vertical) {
  Picture p{width, height, {}};
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) p.argb.push_back(((vertical ? x : y) & 1) ? 0xFFFFFFFFu : 0xFF000000u);
  return p;
}

// 8 x 8 blocks of pure colours, which JPEG keeps exactly, in CMYK through
// every ink including black.
Picture colour_blocks(int width, int height) {
  const uint32_t colours[] = {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0xFFFFFF00u,
                              0xFF000000u, 0xFFFFFFFFu, 0xFF800040u, 0xFF40C0FFu};
  Picture p{width, height, {}};
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) p.argb.push_back(colours[(x / 8 + 3 * (y / 8)) % 8]);
  return p;
}

int worst_channel(uint32_t a, uint32_t b) {
  int worst = 0;
  for (int s = 0; s < 24; s += 8) worst = std::max(worst, std::abs(int(a >> s & 0xFF) - int(b >> s & 0xFF)));
  return worst;
}

// A picture becomes a texture of its own size and, drawn at that size with
// linear filtering, shows its own pixels: 1-pixel stripes stay black and
// white with no grey between, and CMYK JPEGs show their colours.
TEST_F(Textures, PicturesDrawAtTheirOwnSize) {
  const struct {
    const char* name;
    Picture picture;
    Bytes bytes;
    int tolerance;
  } cases[] = {
      {"vertical stripes", stripes(100, 50, true), write_png(stripes(100, 50, true), PngKind::RGB8), 0},
      {"horizontal stripes", stripes(100, 50, false), write_png(stripes(100, 50, false), PngKind::RGB8), 0},
      {"odd-sized stripes", stripes(37, 19, true), write_bmp(stripes(37, 19, true), {}), 0},
      {"cmyk jpeg", colour_blocks(96, 48), write_jpeg(colour_blocks(96, 48), false, false, JpegCmyk::Plain), 3},
      {"adobe cmyk jpeg", colour_blocks(96, 48), write_jpeg(colour_blocks(96, 48), true, false, JpegCmyk::Adobe), 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const AssetHandle h = register_texture_from_memory("t", c.name, c.bytes.data(), c.bytes.size(), 0);
    ASSERT_NE(h, 0u);
    const TextureObject* t = get_texture_object(h);
    EXPECT_EQ(t->width, c.picture.width);
    EXPECT_EQ(t->height, c.picture.height);
    EXPECT_EQ(t->image_width, c.picture.width);
    EXPECT_EQ(t->image_height, c.picture.height);
    const std::vector<uint32_t> px = draw(h, 3, 5, c.picture.width, c.picture.height, 1);
    int worst = 0;
    for (int y = 0; y < c.picture.height; ++y)
      for (int x = 0; x < c.picture.width; ++x)
        worst = std::max(worst, worst_channel(px[size_t(5 + y) * kWidth + 3 + x], c.picture.at(x, y)));
    EXPECT_LE(worst, c.tolerance);
    // The pixels read back from the texture are the picture's too.
    EXPECT_LE(worst_channel(read_texture_texel(h, c.picture.width - 1, c.picture.height - 1),
                            c.picture.at(c.picture.width - 1, c.picture.height - 1)),
              c.tolerance);
  }
}

// A texture made beforehand becomes a record under the picture's base name;
// a name already taken keeps its record and the made texture is let go.
TEST_F(Textures, MadeTexturesAreTakenOverOnce) {
  const Bytes png = write_png(sample_pure(6, 4), PngKind::RGB8);
  TextureObject made{};
  ASSERT_TRUE(gfx_create_texture_d3dx(&made, png.data(), png.size(), 0));
  const int32_t before = count_textures();
  const AssetHandle h = register_texture_object("t", "dir\\made.png", &made);
  ASSERT_NE(h, 0u);
  EXPECT_EQ(made.texture, nullptr) << "the record owns it now";
  EXPECT_STREQ(get_texture_name(h), "made");
  EXPECT_EQ(get_texture_object(h)->image_width, 6);
  EXPECT_EQ(count_textures(), before + 1);

  TextureObject again{};
  ASSERT_TRUE(gfx_create_texture_d3dx(&again, png.data(), png.size(), 0));
  EXPECT_EQ(register_texture_object("t", "made.jpg", &again), h);
  EXPECT_EQ(again.texture, nullptr);
  EXPECT_EQ(count_textures(), before + 1);
  TextureObject empty{};
  EXPECT_EQ(register_texture_object("t", "empty", &empty), 0u);
  EXPECT_EQ(register_texture_object("t", "none", nullptr), 0u);
  EXPECT_EQ(count_textures(), before + 1);
}

// A tall picture passes through the queue of decoded bands many times over,
// or (interlaced PNG) comes as one band taller than the queue's: every row
// lands in its own place. The JPEG's rows come in flat 8-row blocks, each
// its own colour, so that they survive the compression.
TEST_F(Textures, TallPicturesKeepTheirRowsInOrder) {
  Picture rows{7, 1000, {}};
  for (int y = 0; y < rows.height; ++y)
    for (int x = 0; x < rows.width; ++x) rows.argb.push_back(0xFF000000u | uint32_t(y * 2654435761u >> 8));
  Picture blocks{16, 2000, {}};
  for (int y = 0; y < blocks.height; ++y)
    for (int x = 0; x < blocks.width; ++x)
      blocks.argb.push_back(0xFF000000u | uint32_t(y / 8 % 16 * 16) << 16 | uint32_t(y / 128 * 16) << 8);
  const struct {
    const char* name;
    const Picture& picture;
    Bytes bytes;
    int tolerance;
  } cases[] = {
      {"png", rows, write_png(rows, PngKind::RGB8), 0},
      {"interlaced png", rows, write_png(rows, PngKind::RGB8_INTERLACED), 0},
      {"bmp", rows, write_bmp(rows, {}), 0},
      {"jpeg", blocks, write_jpeg(blocks, false, false), 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const AssetHandle h = register_texture_from_memory("t", "tall", c.bytes.data(), c.bytes.size(), 0);
    ASSERT_NE(h, 0u);
    for (int y = 0; y < c.picture.height; ++y) {
      const int x = y % c.picture.width;
      ASSERT_LE(worst_channel(read_texture_texel(h, x, y), c.picture.at(x, y)), c.tolerance) << y;
    }
    unregister_texture(h);
    release_asset_registry_to_mark(&mark);
    mark_asset_registry(&mark);
  }
}

// A picture beyond the device's texture limit is scaled down once to fit,
// aspect kept, and says so; one at the limit is not. The image size stays
// the picture's, so the viewer's fit shows it at its own proportions.
TEST_F(Textures, PicturesBeyondTheDeviceLimitAreScaledDownOnce) {
  constexpr uint32_t kLimit = 32;
  gpu_debug_limit_texture_side(gfx_device(), kLimit);
  const struct {
    int width, height, texture_width, texture_height;
  } cases[] = {
      {32, 16, 32, 16}, {33, 16, 32, 16}, {100, 50, 32, 16}, {10, 100, 3, 32}, {1, 1000, 1, 32}, {31, 32, 31, 32},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
    Picture solid{c.width, c.height, std::vector<uint32_t>(size_t(c.width) * c.height, 0xFF20A060u)};
    const Bytes png = write_png(solid, PngKind::RGB8);
    testing::internal::CaptureStderr();
    const std::string name = "big" + std::to_string(c.width) + "x" + std::to_string(c.height);
    const AssetHandle h = register_texture_from_memory("t", name.c_str(), png.data(), png.size(), 0);
    const std::string said = testing::internal::GetCapturedStderr();
    ASSERT_NE(h, 0u);
    const TextureObject* t = get_texture_object(h);
    EXPECT_EQ(t->width, c.texture_width);
    EXPECT_EQ(t->height, c.texture_height);
    EXPECT_EQ(t->image_width, c.width);
    EXPECT_EQ(t->image_height, c.height);
    const bool scaled = c.width != c.texture_width || c.height != c.texture_height;
    EXPECT_EQ(said.find("scaled down") != std::string::npos, scaled) << said;
    EXPECT_EQ(read_texture_texel(h, 0, 0), 0xFF20A060u);
    EXPECT_EQ(read_texture_texel(h, c.texture_width - 1, c.texture_height - 1), 0xFF20A060u);
  }
  // Two halves: each keeps its colour away from the seam.
  Picture halves{100, 50, {}};
  for (int y = 0; y < 50; ++y)
    for (int x = 0; x < 100; ++x) halves.argb.push_back(x < 50 ? 0xFFFF0000u : 0xFF0000FFu);
  const Bytes png = write_png(halves, PngKind::RGB8);
  testing::internal::CaptureStderr();
  const AssetHandle h = register_texture_from_memory("t", "halves", png.data(), png.size(), 0);
  testing::internal::GetCapturedStderr();
  ASSERT_NE(h, 0u);
  EXPECT_EQ(read_texture_texel(h, 14, 7), 0xFFFF0000u);
  EXPECT_EQ(read_texture_texel(h, 17, 7), 0xFF0000FFu);
  // 48 cells to 32: each texel is 2/3 of one cell and 1/3 of its neighbour,
  // red rising 5 a cell and green falling 5 a cell from 240, either way round.
  const struct {
    const char* name;
    int width, height;
  } sides[] = {{"across", 48, 1}, {"down", 1, 48}};
  const struct {
    int texel, red, green;
  } texels[] = {{0, 2, 238}, {1, 8, 232}, {30, 227, 13}, {31, 233, 7}};
  for (const auto& s : sides) {
    SCOPED_TRACE(s.name);
    Picture ramp{s.width, s.height, {}};
    for (int i = 0; i < 48; ++i) ramp.argb.push_back(0xFF000000u | uint32_t(5 * i) << 16 | uint32_t(240 - 5 * i) << 8);
    const Bytes bytes = write_png(ramp, PngKind::RGB8);
    testing::internal::CaptureStderr();
    const AssetHandle r = register_texture_from_memory("t", s.name, bytes.data(), bytes.size(), 0);
    testing::internal::GetCapturedStderr();
    ASSERT_NE(r, 0u);
    for (const auto& t : texels) {
      const bool across = s.width > 1;
      const uint32_t want = 0xFF000000u | uint32_t(t.red) << 16 | uint32_t(t.green) << 8;
      EXPECT_EQ(read_texture_texel(r, across ? t.texel : 0, across ? 0 : t.texel), want) << t.texel;
    }
  }
  gpu_debug_limit_texture_side(gfx_device(), 0);
}

TEST_F(Textures, ByteCountsFollowTheTextures) {
  const int64_t start = asset_texture_bytes();
  const Bytes png = write_png(sample_pure(8, 8), PngKind::RGBA8);
  const AssetHandle mip = register_texture_from_memory("t", "m.png", png.data(), png.size(), 1);
  ASSERT_NE(mip, 0u);
  EXPECT_EQ(asset_texture_bytes() - start, 256 + 256 * 3 / 8);

  const AssetHandle blank = create_texture("t", "a.b", 0, 4, 0);
  ASSERT_NE(blank, 0u);
  EXPECT_STREQ(get_texture_name(blank), "a.b");  // blank textures keep the name
  EXPECT_EQ(get_texture_object(blank)->texture, nullptr);

  const AssetHandle big = create_texture("t", "big", 64, 64, 0);
  ASSERT_NE(big, 0u);
  EXPECT_EQ(asset_texture_bytes() - start, 352 + 64 * 64 * 4);
  ASSERT_TRUE(set_texture_address_modes(big, TEXTURE_ADDRESS_CLAMP, TEXTURE_ADDRESS_WRAP));
  resize_texture(big, 16, 8, 0);
  EXPECT_EQ(get_texture_object(big)->width, 16);
  EXPECT_EQ(address_u(get_texture_object(big)), TEXTURE_ADDRESS_CLAMP);  // kept across the resize
  EXPECT_EQ(asset_texture_bytes() - start, 352 + 16 * 8 * 4);
  resize_texture(big, 0, 0, 0);
  EXPECT_EQ(get_texture_object(big)->texture, nullptr);
  EXPECT_EQ(address_u(get_texture_object(big)), TEXTURE_ADDRESS_CLAMP);
  EXPECT_EQ(get_texture_record(big), get_texture_record(find_texture("t", "big")));
  EXPECT_EQ(asset_texture_bytes() - start, 352);

  // A new format code makes the texture again in that format: R5G6B5 (code
  // 4) at 16 bits.
  resize_texture(big, 16, 8, 4);
  EXPECT_EQ(get_texture_object(big)->device_format, GPU_FMT_R5G6B5);
  EXPECT_EQ(get_texture_object(big)->bits, 16);
  EXPECT_EQ(asset_texture_bytes() - start, 352 + 16 * 8 * 2);
  // A picture with a mip chain, made again, counts its plain size only.
  resize_texture(mip, 4, 4, 0);
  EXPECT_EQ(asset_texture_bytes() - start, 4 * 4 * 4 + 16 * 8 * 2);

  release_asset_registry_to_mark(&mark);
  EXPECT_EQ(asset_texture_bytes(), start);
  EXPECT_EQ(count_textures(), 6);
}

// Depth format code 1 is D24S8; every other code D16. Each surface counts
// width x height x bits / 8 in the texture bytes, also after a resize.
TEST_F(Textures, DepthFormatCodes) {
  const struct {
    int32_t code;
    uint32_t format;
    uint8_t bits;
  } cases[] = {{0, GPU_FMT_D16, 16}, {1, GPU_FMT_D24S8, 32}, {2, GPU_FMT_D16, 16}, {-1, GPU_FMT_D16, 16},
               {75, GPU_FMT_D16, 16}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    const int64_t start = asset_texture_bytes();
    const std::string name = "depth" + std::to_string(c.code);
    const AssetHandle h = create_depth_surface("t", name.c_str(), 8, 4, c.code);
    ASSERT_NE(h, 0u);
    const DepthSurfaceObject* d = get_depth_surface_object(h);
    EXPECT_EQ(d->format, c.format);
    EXPECT_EQ(d->bits, c.bits);
    EXPECT_EQ(d->width, 8);
    EXPECT_EQ(d->height, 4);
    EXPECT_EQ(asset_texture_bytes() - start, 8 * 4 * c.bits / 8);
    // Made again in the other format.
    const int32_t other = c.code == 1 ? 0 : 1;
    resize_depth_surface(h, 2, 2, other);
    EXPECT_EQ(d->format, c.code == 1 ? uint32_t(GPU_FMT_D16) : uint32_t(GPU_FMT_D24S8));
    EXPECT_EQ(asset_texture_bytes() - start, 2 * 2 * d->bits / 8);
    resize_depth_surface(h, 0, 2, c.code);
    EXPECT_EQ(d->surface, nullptr);
    EXPECT_EQ(asset_texture_bytes(), start);
  }
}

TEST_F(Textures, ClampTagAndAddressModes) {
  const AssetHandle clamped = create_texture("t", "sky_clp", 4, 4, 0);
  const AssetHandle wrapped = create_texture("t", "skyclp", 4, 4, 0);
  ASSERT_NE(clamped, 0u);
  ASSERT_NE(wrapped, 0u);
  EXPECT_EQ(address_u(get_texture_object(clamped)), TEXTURE_ADDRESS_CLAMP);
  EXPECT_EQ(address_v(get_texture_object(clamped)), TEXTURE_ADDRESS_CLAMP);
  EXPECT_EQ(address_u(get_texture_object(wrapped)), TEXTURE_ADDRESS_WRAP);
  EXPECT_EQ(address_v(get_texture_object(wrapped)), TEXTURE_ADDRESS_WRAP);
  resize_texture(clamped, 8, 8, 0);
  EXPECT_EQ(address_v(get_texture_object(clamped)), TEXTURE_ADDRESS_CLAMP);
  EXPECT_FALSE(set_texture_address_modes(0, 1, 1));

  // Pictures look for the tag in their base name, not in the folder.
  const Bytes png = write_png(sample_pure(2, 2), PngKind::RGB8);
  const AssetHandle in_folder = register_texture_from_memory("t", "sea_clp\\pic.png", png.data(), png.size(), 0);
  const AssetHandle in_name = register_texture_from_memory("t", "dir\\sea_clp.png", png.data(), png.size(), 0);
  ASSERT_NE(in_folder, 0u);
  ASSERT_NE(in_name, 0u);
  EXPECT_EQ(address_u(get_texture_object(in_folder)), TEXTURE_ADDRESS_WRAP);
  EXPECT_EQ(address_v(get_texture_object(in_name)), TEXTURE_ADDRESS_CLAMP);

  // Textures clamped by name: those found get clamp in U and V, the rest
  // are left alone.
  const AssetHandle other = create_texture("u", "skyclp", 4, 4, 0);
  const char* names[] = {"skyclp", "missing"};
  clamp_named_textures("t", names, 2);
  EXPECT_EQ(address_u(get_texture_object(wrapped)), TEXTURE_ADDRESS_CLAMP);
  EXPECT_EQ(address_v(get_texture_object(wrapped)), TEXTURE_ADDRESS_CLAMP);
  EXPECT_EQ(address_u(get_texture_object(other)), TEXTURE_ADDRESS_WRAP);
  EXPECT_EQ(address_u(get_texture_object(in_folder)), TEXTURE_ADDRESS_WRAP);
}

TEST_F(Textures, PixelWritesStayInside) {
  const AssetHandle t = create_texture("t", "px", 4, 4, 0);
  ASSERT_NE(t, 0u);
  const uint32_t block[4] = {0xFF112233, 0xFF445566, 0xFF778899, 0xFFAABBCC};
  EXPECT_TRUE(write_texture_pixels(t, 2, 2, 2, 2, block));
  EXPECT_EQ(read_texture_texel(t, 3, 3), 0xFFAABBCCu);
  EXPECT_EQ(read_texture_texel(t, 99, -5), read_texture_texel(t, 3, 0));
  EXPECT_FALSE(write_texture_pixels(t, 3, 3, 2, 2, block));
  EXPECT_FALSE(write_texture_pixels(t, -1, 0, 2, 2, block));
  EXPECT_FALSE(write_texture_pixels(t, 0, 0, -2, 2, block));
  EXPECT_FALSE(write_texture_pixels(0, 0, 0, 1, 1, block));
  EXPECT_EQ(read_texture_texel(0, 0, 0), 0u);

  // Sources of 24 or 32 bits, blue first; 24-bit ones come in opaque.
  const uint8_t rgb[6] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
  EXPECT_TRUE(write_texture_rgb(t, 1, 0, 2, 1, rgb, 3));
  EXPECT_EQ(read_texture_texel(t, 1, 0), 0xFF030201u);
  EXPECT_EQ(read_texture_texel(t, 2, 0), 0xFF060504u);
  const uint8_t argb[4] = {0x10, 0x20, 0x30, 0x40};
  EXPECT_TRUE(write_texture_rgb(t, 0, 3, 1, 1, argb, 4));
  EXPECT_EQ(read_texture_texel(t, 0, 3) & 0xFFFFFFu, 0x302010u);
  EXPECT_FALSE(write_texture_rgb(t, 3, 0, 2, 1, rgb, 3));
  EXPECT_FALSE(write_texture_rgb(t, 0, -1, 1, 1, rgb, 3));
  EXPECT_FALSE(write_texture_rgb(0, 0, 0, 1, 1, rgb, 3));
  EXPECT_EQ(read_texture_texel(t, 3, 0), 0u);
}

TEST_F(Textures, Crops) {
  const AssetHandle tex = create_texture("t", "sheet", 64, 64, 0);
  ASSERT_NE(tex, 0u);
  const AssetHandle c = register_crop_of_texture("t", "half", 32, 0, 32, 32, tex);
  ASSERT_NE(c, 0u);
  const CropRecord* r = get_crop_record(c);
  EXPECT_EQ(r->texture, tex);
  EXPECT_FLOAT_EQ(r->u, 0.5f);
  EXPECT_FLOAT_EQ(r->v, 0.0f);
  EXPECT_FLOAT_EQ(r->width, 0.5f);
  EXPECT_FLOAT_EQ(r->height, 0.5f);

  // The movie slots flip a crop vertically.
  set_crop_pixels(c, 0, 64, 64, -64, tex);
  EXPECT_FLOAT_EQ(r->v, 1.0f);
  EXPECT_FLOAT_EQ(r->height, -1.0f);
  set_crop_pixels(c, 0, 0, 8, 8, 0);
  EXPECT_EQ(r->texture, 0u);
  EXPECT_EQ(r->u + r->v + r->width + r->height, 0.0f);

  // Across and down are fractions of the texture's own width and height.
  const AssetHandle wide = create_texture("t", "wide", 64, 32, 0);
  const AssetHandle tall = register_crop_of_texture("t", "tall", 16, 4, 8, 24, wide);
  ASSERT_NE(tall, 0u);
  const CropRecord* w = get_crop_record(tall);
  EXPECT_FLOAT_EQ(w->u, 0.25f);
  EXPECT_FLOAT_EQ(w->v, 0.125f);
  EXPECT_FLOAT_EQ(w->width, 0.125f);
  EXPECT_FLOAT_EQ(w->height, 0.75f);
  EXPECT_STREQ(get_crop_name(tall), "tall");
  set_crop_pixels(tall, 32, 8, 16, -8, wide);
  EXPECT_FLOAT_EQ(w->u, 0.5f);
  EXPECT_FLOAT_EQ(w->v, 0.25f);
  EXPECT_FLOAT_EQ(w->width, 0.25f);
  EXPECT_FLOAT_EQ(w->height, -0.25f);
  set_crop_pixels(0, 0, 0, 8, 8, wide);
  EXPECT_EQ(register_crop_of_texture("t", "none", 0, 0, 1, 1, 0), 0u);
  const AssetHandle empty = create_texture("t", "empty", 0, 0, 0);
  const AssetHandle zero = register_crop_of_texture("t", "zero", 5, 5, 5, 5, empty);
  ASSERT_NE(zero, 0u);
  EXPECT_EQ(get_crop_record(zero)->u, 0.0f);
  EXPECT_EQ(get_crop_record(zero)->height, 0.0f);

  const AssetHandle named = register_crop("t", "glyph.x", 0.25f, 0, 0.25f, 1, "dir\\sheet.png");
  EXPECT_EQ(get_crop_record(named)->texture, tex);
  EXPECT_EQ(find_crop("t", "glyph"), named);
  EXPECT_FLOAT_EQ(get_crop_record(named)->u, 0.25f);
  EXPECT_FLOAT_EQ(get_crop_record(named)->height, 1.0f);
  // The texture is looked for in the crop's own package only.
  const AssetHandle elsewhere = register_crop("u", "glyph", 0, 0, 1, 1, "sheet");
  ASSERT_NE(elsewhere, named);
  EXPECT_EQ(get_crop_record(elsewhere)->texture, 0u);
}

TEST_F(Textures, PoolsRefuseWhenFull) {
  for (int i = count_textures(); i < 50; ++i) ASSERT_NE(create_texture("t", std::to_string(i).c_str(), 1, 1, 0), 0u);
  EXPECT_EQ(create_texture("t", "late", 1, 1, 0), 0u);
  EXPECT_EQ(count_textures(), 50);
  for (int i = count_crops(); i < 100; ++i) ASSERT_NE(register_crop_of_texture("t", std::to_string(i).c_str(), 0, 0, 1, 1, 1), 0u);
  EXPECT_EQ(register_crop_of_texture("t", "late", 0, 0, 1, 1, 1), 0u);
  for (int i = count_depth_surfaces(); i < 16; ++i)
    ASSERT_NE(create_depth_surface("t", std::to_string(i).c_str(), 4, 4, 0), 0u);
  EXPECT_EQ(create_depth_surface("t", "late", 4, 4, 0), 0u);
}

TEST_F(Textures, NegativeSizesAreRefused) {
  const int32_t textures = count_textures(), surfaces = count_depth_surfaces();
  EXPECT_EQ(create_texture("t", "wide", -4, 4, 0), 0u);
  EXPECT_EQ(create_render_target_texture("t", "tall", 4, -1, 0), 0u);
  EXPECT_EQ(create_depth_surface("t", "deep", 4, -4, 0), 0u);
  EXPECT_EQ(count_textures(), textures);
  EXPECT_EQ(count_depth_surfaces(), surfaces);
}

// A texture taken out by hand is cleared and found no more, but keeps its
// place in the pool, so that the registry's release still removes every
// record registered after a mark. Only the newest gives back its name's
// bytes: an older one's lie under the names of newer records.
TEST_F(Textures, UnregisteredRecordsKeepTheirPlace) {
  const AssetHandle older = create_texture("t", "older", 4, 4, 0);
  const AssetHandle newer = create_texture("t", "newer", 4, 4, 0);
  const uint32_t names = get_asset_pool(ASSET_POOL_TEXTURES)->names.used;
  const int64_t bytes = asset_texture_bytes();
  unregister_texture(older);
  EXPECT_EQ(count_textures(), int32_t(newer));
  EXPECT_EQ(get_texture_object(older)->texture, nullptr);
  EXPECT_EQ(get_texture_name(older), nullptr);
  EXPECT_EQ(find_texture("t", "older"), 0u);
  EXPECT_EQ(asset_texture_bytes(), bytes - 4 * 4 * 4);
  EXPECT_EQ(get_asset_pool(ASSET_POOL_TEXTURES)->names.used, names);
  EXPECT_STREQ(get_texture_name(newer), "newer");

  RegistryMark before_next;
  mark_asset_registry(&before_next);
  const AssetHandle next = create_texture("t", "next", 4, 4, 0);
  EXPECT_EQ(next, newer + 1);
  unregister_texture(next);
  EXPECT_EQ(count_textures(), int32_t(next));
  EXPECT_EQ(find_texture("t", "next"), 0u);
  EXPECT_EQ(get_asset_pool(ASSET_POOL_TEXTURES)->names.used, names);
  // Made again, a texture of the old name is a new record, and a release to
  // the mark taken before "next" removes it.
  const AssetHandle again = create_texture("t", "older", 4, 4, 0);
  EXPECT_EQ(again, next + 1);
  EXPECT_STREQ(get_texture_name(again), "older");
  release_asset_registry_to_mark(&before_next);
  EXPECT_EQ(count_textures(), int32_t(newer));
  EXPECT_EQ(find_texture("t", "older"), 0u);
  EXPECT_EQ(find_texture("t", "newer"), newer);
  EXPECT_EQ(asset_texture_bytes(), bytes - 4 * 4 * 4);
  unregister_texture(0);
  unregister_texture(next);
  EXPECT_EQ(count_textures(), int32_t(newer));

  // A released depth surface keeps its record, name and handle; a resize
  // makes its surface again.
  const AssetHandle d1 = create_depth_surface("t", "d1", 8, 8, 1);
  const AssetHandle d2 = create_depth_surface("t", "d2", 8, 8, 0);
  const int64_t with_surfaces = asset_texture_bytes();
  release_depth_surface(d1);
  EXPECT_EQ(get_depth_surface_object(d1)->surface, nullptr);
  EXPECT_EQ(asset_texture_bytes(), with_surfaces - 8 * 8 * 4);
  EXPECT_STREQ(get_depth_surface_name(d2), "d2");
  release_depth_surface(d2);
  EXPECT_EQ(count_depth_surfaces(), int32_t(d2));
  EXPECT_STREQ(get_depth_surface_name(d2), "d2");
  EXPECT_EQ(find_depth_surface("t", "d2"), d2);
  EXPECT_EQ(asset_texture_bytes(), with_surfaces - 8 * 8 * 4 - 8 * 8 * 2);
  resize_depth_surface(d2, 4, 4, 0);
  EXPECT_NE(get_depth_surface_object(d2)->surface, nullptr);
  const AssetHandle d3 = create_depth_surface("t", "d3", 8, 8, 0);
  EXPECT_EQ(d3, d2 + 1);
  EXPECT_STREQ(get_depth_surface_name(d2), "d2");
}

TEST_F(Textures, DeviceLossRemakesRenderTargetsAndDepthSurfaces) {
  const AssetHandle target = create_render_target_texture("t", "view", 32, 16, 0);
  const AssetHandle managed = create_texture("t", "plain", 4, 4, 0);
  const AssetHandle depth = create_depth_surface("t", "dir\\z.bin", 32, 16, 1);
  ASSERT_NE(target, 0u);
  ASSERT_NE(depth, 0u);
  EXPECT_EQ(find_depth_surface("t", "z"), depth);
  EXPECT_EQ(address_u(get_texture_object(target)), TEXTURE_ADDRESS_CLAMP);
  GpuTexture* plain = get_texture_object(managed)->texture;

  release_device_textures();
  EXPECT_EQ(get_texture_object(target)->texture, nullptr);
  EXPECT_EQ(get_depth_surface_object(depth)->surface, nullptr);
  EXPECT_EQ(get_texture_object(managed)->texture, plain);
  restore_device_textures();

  const TextureObject* t = get_texture_object(target);
  EXPECT_NE(t->texture, nullptr);
  EXPECT_EQ(t->width, 32);
  EXPECT_EQ(t->height, 16);
  EXPECT_EQ(address_v(t), TEXTURE_ADDRESS_CLAMP);
  EXPECT_NE(get_depth_surface_object(depth)->surface, nullptr);
  EXPECT_EQ(get_depth_surface_object(depth)->width, 32);
  EXPECT_EQ(get_depth_surface_object(depth)->format, uint32_t(GPU_FMT_D24S8));
  EXPECT_EQ(find_texture("t", "view"), target);

  // Resized, a render target stays one, and a loss brings it back at its
  // new size.
  resize_texture(target, 8, 4, 0);
  EXPECT_EQ(get_texture_object(target)->kind, TEXTURE_KIND_RENDER_TARGET);
  EXPECT_NE(get_texture_object(target)->surface, nullptr) << "a render target keeps its surface";
  resize_depth_surface(depth, 8, 4, 0);
  release_device_textures();
  EXPECT_EQ(get_texture_object(target)->texture, nullptr);
  restore_device_textures();
  EXPECT_NE(get_texture_object(target)->texture, nullptr);
  EXPECT_EQ(get_texture_object(target)->width, 8);
  EXPECT_EQ(get_texture_object(target)->height, 4);
  EXPECT_EQ(get_depth_surface_object(depth)->height, 4);
  EXPECT_EQ(get_depth_surface_object(depth)->format, uint32_t(GPU_FMT_D16));
  EXPECT_EQ(get_texture_object(managed)->kind, TEXTURE_KIND_MANAGED);
}

}  // namespace
