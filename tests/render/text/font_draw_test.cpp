// Drawing fonts on a real device: glyph pixels inside their box, clipping,
// the device states left as they were, and glyphs prepared ahead of the
// frame that draws them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/font/font.h"
#include "platform/font/font_internal.h"
#include "platform/gpu/gpu.h"
#include "platform/window/window.h"

namespace {

// "ＭＳ　Ｐゴシック", "あいう"
const char kDefaultFace[] = "\x82\x6c\x82\x72\x81\x40\x82\x6f\x83\x53\x83\x56\x83\x62\x83\x4e";
const char kKana[] = "\x82\xa0\x82\xa2\x82\xa4";

// More distinct kanji than one atlas holds at 30 pixels.
std::string many_kanji() {
  std::string many;
  for (int lead = 0x88; lead <= 0x97; ++lead) {
    for (int trail = 0x9F; trail <= 0xFC; ++trail) {
      many += char(lead);
      many += char(trail);
    }
  }
  return many;
}

class FontDrawTest : public ::testing::Test {
 protected:
  static constexpr int kWidth = 256, kHeight = 128;

  void SetUp() override {
    ASSERT_TRUE(window_system_init());
    window = window_create("font test", kWidth, kHeight, nullptr);
    ASSERT_NE(window, nullptr);
    GpuPresentParams p{};
    p.windowed = true;
    p.swap_effect = GPU_SWAP_COPY;
    p.window = window;
    p.presentation_interval = GPU_PRESENT_INTERVAL_IMMEDIATE;
    ASSERT_EQ(gpu_device_create(GPU_DEVICE_HAL, window, GPU_CREATE_HARDWARE_VP, &p, &device), GPU_OK);
    FontParams fp{30, 15, 400, false, FONT_CHARSET_SHIFTJIS, FONT_QUALITY_ANTIALIASED, kDefaultFace};
    ASSERT_EQ(font_create(device, fp, &font), GPU_OK);
    gpu_begin_scene(device);
    gpu_clear(device, GPU_CLEAR_TARGET, 0xFF000000u, 1.0f, 0);
  }
  void TearDown() override {
    font_release(font);
    gpu_device_release(device);
    window_destroy(window);
    window_system_shutdown();
  }

  std::vector<uint32_t> read_back() {
    std::vector<uint32_t> px(size_t(kWidth) * kHeight);
    GpuSurface* bb = nullptr;
    EXPECT_EQ(gpu_get_render_target(device, 0, &bb), GPU_OK);
    EXPECT_EQ(gpu_read_surface(device, bb, GpuRect{0, 0, kWidth, kHeight}, px.data()), GPU_OK);
    gpu_surface_release(bb);
    return px;
  }

  // Lit pixels (green above 64) inside and outside the box.
  void count_ink(const std::vector<uint32_t>& px, const GpuRect& box, int* inside, int* outside) {
    *inside = *outside = 0;
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x) {
        if (((px[size_t(y) * kWidth + size_t(x)] >> 8) & 0xFF) <= 64) continue;
        bool in = x >= box.left && x < box.right && y >= box.top && y < box.bottom;
        ++*(in ? inside : outside);
      }
    }
  }

  // Draws the text in opaque green over black at (left, top) and compares
  // every pixel with the glyph coverage the font rasterises in memory.
  void expect_matches_raster(const char* text, int left, int top) {
    gpu_clear(device, GPU_CLEAR_TARGET, 0xFF000000u, 1.0f, 0);
    font_draw_text(font, text, -1, GpuRect{left, top, kWidth, kHeight}, FONT_DRAW_NOCLIP, 0xFF00FF00u);
    std::vector<uint32_t> px = read_back();
    std::vector<uint8_t> coverage;
    font_render_text(font, text, -1, kWidth - left, kHeight - top, &coverage);
    int mismatches = 0;
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x) {
        int want = 0;
        if (x >= left && y >= top) want = coverage[size_t(y - top) * size_t(kWidth - left) + size_t(x - left)];
        int got = int((px[size_t(y) * kWidth + size_t(x)] >> 8) & 0xFF);
        if (std::abs(got - want) > 2) ++mismatches;
      }
    }
    EXPECT_EQ(mismatches, 0) << text;
  }

  PlatformWindow* window = nullptr;
  GpuDevice* device = nullptr;
  PlatformFont* font = nullptr;
};

TEST_F(FontDrawTest, GlyphsLandInsideTheirBox) {
  // Three full-width kana of 2 x 15 pixels in a cell 30 high.
  EXPECT_EQ(font_draw_text(font, kKana, -1, GpuRect{20, 40, kWidth, kHeight}, FONT_DRAW_NOCLIP, 0xFF00FF00u), 30);
  int inside, outside;
  count_ink(read_back(), GpuRect{20, 40, 20 + 90, 40 + 30}, &inside, &outside);
  EXPECT_GT(inside, 150);
  EXPECT_EQ(outside, 0);
}

TEST_F(FontDrawTest, TextOutsideTheRectangleIsClippedUnlessAskedNotTo) {
  font_draw_text(font, kKana, -1, GpuRect{20, 40, 50, 55}, 0, 0xFF00FF00u);
  int inside, outside;
  count_ink(read_back(), GpuRect{20, 40, 50, 55}, &inside, &outside);
  EXPECT_GT(inside, 10);
  EXPECT_EQ(outside, 0);
}

TEST_F(FontDrawTest, ColourAlphaBlendsOverTheTarget) {
  font_draw_text(font, "\x81\xa1", -1, GpuRect{10, 10, kWidth, kHeight}, FONT_DRAW_NOCLIP, 0x80FF0000u);  // "■"
  std::vector<uint32_t> px = read_back();
  // The middle of the filled square: half of full red over black.
  uint32_t mid = px[size_t(25) * kWidth + 25];
  EXPECT_NEAR(int((mid >> 16) & 0xFF), 128, 4);
  EXPECT_EQ((mid >> 8) & 0xFF, 0u);
}

TEST_F(FontDrawTest, DeviceStatesAreLeftAsFound) {
  GpuTexture* tex = nullptr;
  ASSERT_EQ(gpu_create_texture(device, 4, 4, 1, 0, GPU_FMT_A8R8G8B8, GPU_POOL_MANAGED, &tex), GPU_OK);
  const uint32_t fvf = GPU_FVF_XYZRHW | GPU_FVF_DIFFUSE | gpu_fvf_tex(2);
  gpu_set_render_state(device, GPU_RS_ALPHABLENDENABLE, 0);
  gpu_set_render_state(device, GPU_RS_SRCBLEND, GPU_BLEND_ONE);
  gpu_set_render_state(device, GPU_RS_ZENABLE, 1);
  gpu_set_render_state(device, GPU_RS_CULLMODE, GPU_CULL_CW);
  gpu_set_stage_state(device, 0, GPU_TSS_COLOROP, GPU_TOP_ADD);
  gpu_set_stage_state(device, 1, GPU_TSS_COLOROP, GPU_TOP_MODULATE);
  gpu_set_sampler_state(device, 0, GPU_SAMP_MAGFILTER, GPU_FILTER_LINEAR);
  gpu_set_sampler_state(device, 0, GPU_SAMP_ADDRESSU, GPU_ADDRESS_WRAP);
  gpu_set_texture(device, 0, tex);
  gpu_set_fvf(device, fvf);
  uint32_t before[GPU_RS_COUNT];
  for (uint32_t i = 0; i < GPU_RS_COUNT; ++i) before[i] = gpu_get_render_state(device, GpuRenderState(i));

  font_draw_text(font, kKana, -1, GpuRect{0, 0, kWidth, kHeight}, FONT_DRAW_NOCLIP, 0xFFFFFFFFu);

  for (uint32_t i = 0; i < GPU_RS_COUNT; ++i) EXPECT_EQ(gpu_get_render_state(device, GpuRenderState(i)), before[i]) << i;
  EXPECT_EQ(gpu_get_stage_state(device, 0, GPU_TSS_COLOROP), uint32_t(GPU_TOP_ADD));
  EXPECT_EQ(gpu_get_stage_state(device, 1, GPU_TSS_COLOROP), uint32_t(GPU_TOP_MODULATE));
  EXPECT_EQ(gpu_get_sampler_state(device, 0, GPU_SAMP_MAGFILTER), uint32_t(GPU_FILTER_LINEAR));
  EXPECT_EQ(gpu_get_sampler_state(device, 0, GPU_SAMP_ADDRESSU), uint32_t(GPU_ADDRESS_WRAP));
  EXPECT_EQ(gpu_get_texture(device, 0), tex);
  EXPECT_EQ(gpu_get_fvf(device), fvf);
  gpu_set_texture(device, 0, nullptr);
  gpu_texture_release(tex);
}

TEST_F(FontDrawTest, DrawnPixelsMatchTheRasterisedGlyphs) {
  expect_matches_raster(kKana, 17, 33);
}

TEST_F(FontDrawTest, AFullAtlasStartsOverAndKeepsDrawing) {
  const std::string many = many_kanji();
  uint32_t generation = font->atlas_generation;
  font_draw_text(font, many.c_str(), -1, GpuRect{0, 0, kWidth, kHeight}, 0, 0xFF00FF00u);
  EXPECT_GT(font->atlas_generation, generation);
  // Glyphs placed after the atlas started over still sample their own texels.
  expect_matches_raster(kKana, 5, 70);
  expect_matches_raster(many.substr(many.size() - 6).c_str(), 5, 70);
}

TEST_F(FontDrawTest, PreparedTextIsUploadedOnceAndDrawsWithoutPlacingGlyphs) {
  // "ABC", the kana, and a line long enough to fill more than one shelf.
  std::string shelves;
  for (int c = 0x889F; c < 0x889F + 60; ++c) {
    shelves += char(c >> 8);
    shelves += char(c & 0xFF);
  }
  const struct {
    const char* name;
    std::string text;
    size_t glyphs;
  } cases[] = {{"ascii", "ABC", 3}, {"kana", kKana, 3}, {"two shelves", shelves, 60}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    font_prepare_text(font, c.text.c_str(), -1);
    EXPECT_EQ(font->pending.size(), c.glyphs);
    font_prepare_text(font, c.text.c_str(), -1);
    EXPECT_EQ(font->pending.size(), c.glyphs) << "a glyph is placed once";
    font_upload_glyphs(font);
    EXPECT_TRUE(font->pending.empty());
    const int32_t shelf_x = font->shelf_x, shelf_y = font->shelf_y;
    const uint32_t generation = font->atlas_generation;
    expect_matches_raster(c.text.c_str(), 3, 20);
    EXPECT_EQ(font->shelf_x, shelf_x) << "nothing was placed while drawing";
    EXPECT_EQ(font->shelf_y, shelf_y);
    EXPECT_EQ(font->atlas_generation, generation);
  }
}

TEST_F(FontDrawTest, TextPreparedBeforeTheAtlasStartedOverStillDraws) {
  font_prepare_text(font, kKana, -1);
  const uint32_t generation = font->atlas_generation;
  const std::string many = many_kanji();
  font_prepare_text(font, many.c_str(), -1);
  EXPECT_GT(font->atlas_generation, generation);
  font_upload_glyphs(font);
  expect_matches_raster(kKana, 5, 70);
}

TEST_F(FontDrawTest, LayoutsStayRightPastTheLayoutCache) {
  // The first text, then as many others as the cache holds, one less, and one more.
  for (int others : {kFontLayoutEntries - 1, kFontLayoutEntries, kFontLayoutEntries + 1}) {
    SCOPED_TRACE(others);
    expect_matches_raster(kKana, 2, 2);
    for (int i = 0; i < others; ++i) {
      const std::string text = "line " + std::to_string(others) + "." + std::to_string(i);
      font_draw_text(font, text.c_str(), -1, GpuRect{0, 0, kWidth, kHeight}, FONT_DRAW_NOCLIP, 0xFF00FF00u);
    }
    expect_matches_raster(kKana, 40, 60);
    expect_matches_raster("ABC", 40, 60);
  }
}

TEST_F(FontDrawTest, TheAtlasGrowsKeepingTheGlyphsItHolds) {
  // Kanji of a 30-pixel font take cells of about 28 pixels: 36 to a shelf of
  // the 1024-pixel width; the first 128 rows hold four shelves.
  const struct {
    const char* name;
    int glyphs;
    int32_t height;
  } cases[] = {{"fits the first height", 100, 128}, {"one growth", 200, 256}, {"three growths", 700, 1024}};
  const std::string many = many_kanji();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    font_release(font);
    FontParams fp{30, 15, 400, false, FONT_CHARSET_SHIFTJIS, FONT_QUALITY_ANTIALIASED, kDefaultFace};
    ASSERT_EQ(font_create(device, fp, &font), GPU_OK);
    font_prepare_text(font, kKana, -1);
    font_upload_glyphs(font);
    const uint32_t generation = font->atlas_generation;
    font_prepare_text(font, many.substr(0, size_t(c.glyphs) * 2).c_str(), -1);
    font_upload_glyphs(font);
    EXPECT_EQ(font->atlas_width, 1024);
    EXPECT_EQ(font->atlas_height, c.height);
    EXPECT_EQ(font->atlas_generation, generation) << "growing keeps every glyph placed";
    expect_matches_raster(kKana, 5, 70);
    expect_matches_raster(many.substr(size_t(c.glyphs) * 2 - 6, 6).c_str(), 5, 70);
  }
}

}  // namespace
