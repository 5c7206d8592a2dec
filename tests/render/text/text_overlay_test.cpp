// Both text overlays on a real device: queued commands become glyph pixels
// inside their anchored boxes, quads cut from the right sheet cells, and the
// queues end every draw rewound.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "assets/textures.h"
#include "platform/font/font.h"
#include "platform/font/font_internal.h"
#include "platform/window/window.h"
#include "render/device/gfx_device.h"
#include "render/device/gfx_resources.h"
#include "render/device/shaders.h"
#include "render/graphics/graphics.h"
#include "render/text/fonts.h"
#include "render/text/text_queue.h"
#include "render/view/view_state.h"

namespace {

size_t face_pending(const PlatformFont* face) { return face->pending.size(); }

// "こんにちは"
const char kGreeting[] = "\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd";

class TextOverlayTest : public ::testing::Test {
 protected:
  static constexpr int kWidth = 320, kHeight = 240;

  void SetUp() override {
    ASSERT_TRUE(window_system_init());
    window = window_create("text test", kWidth, kHeight, nullptr);
    ASSERT_NE(window, nullptr);
    const int layout[5] = {kWidth, kHeight, 1024, 768, 0};
    view_set_screen(kWidth, kHeight, layout);
    GfxDeviceParams p{window, kWidth, kHeight, 32, 0, 0, nullptr, nullptr};
    gfx_install_device_hooks();
    ASSERT_EQ(gfx_device_init(p), 1);
    device = gfx_device();
    d3dx_queue = text_queue_create(16384);
    main_queue = text_queue_create(65536);
    ASSERT_GE(d3dx_queue, 0);
    ASSERT_GE(main_queue, 0);
    fonts_init();
    gpu_begin_scene(device);
    gpu_clear(device, GPU_CLEAR_TARGET, 0xFF000000u, 1.0f, 0);
    gpu_trace_enable(device, true);
  }

  void TearDown() override {
    gpu_end_scene(device);
    fonts_shutdown();
    text_queue_destroy(d3dx_queue);
    text_queue_destroy(main_queue);
    gfx_device_shutdown();
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

  // Pixels whose channel (shift 16 red, 8 green, 0 blue) is lit, inside and
  // outside the box.
  static void count_lit(const std::vector<uint32_t>& px, int shift, const GpuRect& box, int* inside, int* outside) {
    *inside = *outside = 0;
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x) {
        if (((px[size_t(y) * kWidth + size_t(x)] >> shift) & 0xFF) <= 64) continue;
        bool in = x >= box.left && x < box.right && y >= box.top && y < box.bottom;
        ++*(in ? inside : outside);
      }
    }
  }

  size_t draws_so_far() {
    size_t count = 0;
    gpu_trace_current_frame(device, &count);
    return count;
  }

  PlatformWindow* window = nullptr;
  GpuDevice* device = nullptr;
  int d3dx_queue = -1, main_queue = -1;
};

TEST_F(TextOverlayTest, BothQueuesDrawInsideTheirBoxesAndRewind) {
  // Magenta bitmap text from (100, 200): 7 glyphs of 8 x 16.
  text_queue_printf(main_queue, 0, 0, 16.0f, 100, 200, 0xFFFF00FFu, "LEVEL %d", 1);
  // A green Japanese line centred on (160, 100) in font 1: 30.72 high, and
  // 15.36 wide per byte for its anchor.
  text_queue_printf(d3dx_queue, TEXT_ANCHOR_CENTRE_X | TEXT_ANCHOR_CENTRE_Y, 1, 16.0f, 160, 100, 0xFF00FF00u, "%s",
                    kGreeting);
  bitmap_font_draw(1, device, main_queue);
  d3dx_font_draw(1, device, d3dx_queue);
  std::vector<uint32_t> px = read_back();

  int inside, outside;
  count_lit(px, 0, GpuRect{100, 200, 100 + 7 * 8, 200 + 16}, &inside, &outside);
  EXPECT_GT(inside, 60);
  EXPECT_EQ(outside, 0);
  // Left at trunc(160 - 0.5 - 76.8) = 82, top at trunc(100 - 0.5 - 15.36) = 84;
  // five kana of at most 30 pixels each, one 30-pixel line.
  count_lit(px, 8, GpuRect{82, 84, 82 + 5 * 30, 84 + 30}, &inside, &outside);
  EXPECT_GT(inside, 150);
  EXPECT_EQ(outside, 0);

  EXPECT_EQ(text_queue_used(main_queue), 0);
  EXPECT_EQ(text_queue_used(d3dx_queue), 0);
  EXPECT_EQ(text_queue_data(main_queue)[0], 'E');
}

// The bitmap overlay sets every state it draws with: whatever the frame left
// set before, its text comes out the same.
TEST_F(TextOverlayTest, BitmapTextSetsEveryStateItDrawsWith) {
  const auto draw = [&] {
    gpu_clear(device, GPU_CLEAR_TARGET, 0xFF000000u, 1.0f, 0);
    text_queue_printf(main_queue, 0, 0, 16.0f, 100, 200, 0x80FF00FFu, "LEVEL 1");
    bitmap_font_draw(1, device, main_queue);
    return read_back();
  };
  const std::vector<uint32_t> plain = draw();
  const struct {
    bool stage;
    uint32_t state, value;
  } found[] = {
      {false, GPU_RS_ALPHABLENDENABLE, 0},          {false, GPU_RS_SRCBLEND, GPU_BLEND_ONE},
      {false, GPU_RS_DESTBLEND, GPU_BLEND_ONE},     {false, GPU_RS_CULLMODE, GPU_CULL_CW},
      {false, GPU_RS_CULLMODE, GPU_CULL_CCW},       {false, GPU_RS_FILLMODE, GPU_FILL_WIREFRAME},
      {false, GPU_RS_ZENABLE, 1},                   {false, GPU_RS_ZFUNC, GPU_CMP_NEVER},
      {false, GPU_RS_FOGENABLE, 1},                 {false, GPU_RS_LIGHTING, 1},
      {true, GPU_TSS_COLOROP, GPU_TOP_SELECTARG2},  {true, GPU_TSS_COLORARG1, GPU_TA_DIFFUSE},
      {true, GPU_TSS_COLORARG2, GPU_TA_TEXTURE},    {true, GPU_TSS_ALPHAOP, GPU_TOP_SELECTARG2},
      {true, GPU_TSS_ALPHAARG1, GPU_TA_DIFFUSE},    {true, GPU_TSS_ALPHAARG2, GPU_TA_TEXTURE},
  };
  for (const auto& f : found) {
    SCOPED_TRACE(testing::Message() << (f.stage ? "stage " : "render ") << f.state << " = " << f.value);
    if (f.stage) gpu_set_stage_state(device, 0, GpuStageState(f.state), f.value);
    else gpu_set_render_state(device, GpuRenderState(f.state), f.value);
    EXPECT_TRUE(draw() == plain);
  }
}

TEST_F(TextOverlayTest, FaceTextStandsHalfAPixelUpAndLeftOfItsPosition) {
  // The overlay's text at (50, 20) is the face's text drawn from (49, 19):
  // x - 0.5 and y - 0.5, truncated.
  text_queue_printf(d3dx_queue, 0, 0, 16.0f, 50, 20, 0xFFFFFFFFu, "%s", kGreeting);
  d3dx_font_draw(1, device, d3dx_queue);
  const std::vector<uint32_t> overlay = read_back();
  gpu_clear(device, GPU_CLEAR_TARGET, 0xFF000000u, 1.0f, 0);
  font_draw_text(d3dx_font(0), kGreeting, -1, GpuRect{49, 19, kWidth, kHeight}, FONT_DRAW_NOCLIP, 0xFFFFFFFFu);
  const std::vector<uint32_t> direct = read_back();
  int lit = 0;
  for (uint32_t p : direct) lit += (p & 0xFF) > 64;
  EXPECT_GT(lit, 20);
  EXPECT_TRUE(overlay == direct);
}

TEST_F(TextOverlayTest, GlyphAIsOneQuadFromItsCell) {
  text_queue_printf(main_queue, 0, 0, 16.0f, 100, 200, 0xFFFFFFFFu, "A");
  // A draw in another shading mode before: the overlay's own start puts the
  // shader set back into mode 0.
  ASSERT_EQ(begin_mesh_draw(2, nullptr, 0, find_fvf_index(kScreenVertexFvf), nullptr, nullptr, nullptr, nullptr, 1.0f,
                            nullptr, 0),
            1);
  gfx_bind_texture(device, 0, gfx_white_texture(), 1);
  bitmap_font_draw(1, device, main_queue);
  EXPECT_EQ(shader_set()->mode, 0);
  const ScreenVertex* v = gfx_vertex_scratch();
  const float expected[4][4] = {{99.5f, 199.5f, 264.0f / 512, 0.0f},
                                {107.5f, 199.5f, 272.0f / 512, 0.0f},
                                {99.5f, 215.5f, 264.0f / 512, 16.0f / 128},
                                {107.5f, 215.5f, 272.0f / 512, 16.0f / 128}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(v[i].x, expected[i][0]) << i;
    EXPECT_EQ(v[i].y, expected[i][1]) << i;
    EXPECT_EQ(v[i].tu0, expected[i][2]) << i;
    EXPECT_EQ(v[i].tv0, expected[i][3]) << i;
    EXPECT_EQ(v[i].diffuse, 0xFFFFFFFFu);
  }
  size_t count = 0;
  const GpuTraceDraw* draws = gpu_trace_current_frame(device, &count);
  ASSERT_EQ(count, 1u);
  EXPECT_EQ(draws[0].primitive_count, 2u);
  EXPECT_EQ(draws[0].vertex_count, 4u);
  const TextureObject* sheet = get_texture_object(bitmap_font_state()->textures[0]);
  ASSERT_NE(sheet, nullptr);
  EXPECT_EQ(draws[0].textures[0], gpu_texture_id(sheet->texture));
  // The font's point filter is set first, then binding the sheet leaves
  // linear filtering in force, also when the stage's cache already held it.
  EXPECT_EQ(draws[0].sampler_states[0][GPU_SAMP_MAGFILTER], uint32_t(GPU_FILTER_LINEAR));
  EXPECT_EQ(draws[0].sampler_states[0][GPU_SAMP_MINFILTER], uint32_t(GPU_FILTER_LINEAR));
  EXPECT_EQ(draws[0].sampler_states[0][GPU_SAMP_ADDRESSV], uint32_t(GPU_ADDRESS_CLAMP)) << "the sheet does not tile";
  EXPECT_EQ(draws[0].render_states[GPU_RS_ALPHABLENDENABLE], 1u);
  // The sheet is unbound again: stage 0 reads the white texture.
  EXPECT_EQ(gpu_get_texture(device, 0), gfx_white_texture()->texture);

  int inside, outside;
  count_lit(read_back(), 16, GpuRect{100, 200, 108, 216}, &inside, &outside);
  EXPECT_GT(inside, 8);
  EXPECT_EQ(outside, 0);
}

TEST_F(TextOverlayTest, AnchorsAndTwoByteCharactersPlaceTheQuads) {
  // Four bytes ending at x = 100: from 67.5 to 99.5.
  text_queue_printf(main_queue, TEXT_ANCHOR_END_X, 0, 16.0f, 100, 50, 0xFFFFFFFFu, "abcd");
  bitmap_font_draw(1, device, main_queue);
  const ScreenVertex* v = gfx_vertex_scratch();
  EXPECT_EQ(v[0].x, 67.5f);
  EXPECT_EQ(v[4 * 3 + 1].x, 99.5f);

  // "あい" is two glyphs: right-aligned by glyphs, cell 98 for "あ".
  text_queue_printf(main_queue, TEXT_ANCHOR_END_X, 0, 16.0f, 100, 50, 0xFFFFFFFFu, "\x82\xa0\x82\xa2");
  bitmap_font_draw(1, device, main_queue);
  EXPECT_EQ(v[0].x, 83.5f);
  EXPECT_EQ(v[5].x, 99.5f);
  EXPECT_EQ(v[0].tu0, 34.0f * 8 / 512);
  EXPECT_EQ(v[0].tv0, 16.0f / 128);
  // A kanji has no cell on the sheet: it draws nothing but keeps its place.
  const size_t before = draws_so_far();
  text_queue_printf(main_queue, 0, 0, 16.0f, 100, 50, 0xFFFFFFFFu, "\x82\xa0\x88\x9f\x82\xa0");
  bitmap_font_draw(1, device, main_queue);
  ASSERT_EQ(draws_so_far(), before + 1);
  size_t count = 0;
  EXPECT_EQ(gpu_trace_current_frame(device, &count)[count - 1].primitive_count, 4u);
  EXPECT_EQ(v[4].x, 99.5f + 16.0f);

  // Font 1 scales by its face's size now over its size at start-up
  // (30.72 / 24), and reads the same 64-column sheet: "A" is cell 33 of row 0.
  // Centred on (100, 50) in both axes.
  text_queue_printf(main_queue, TEXT_ANCHOR_CENTRE_X | TEXT_ANCHOR_CENTRE_Y, 1, 16.0f, 100, 50, 0xFFFFFFFFu, "A");
  bitmap_font_draw(1, device, main_queue);
  EXPECT_FLOAT_EQ(v[0].x, 99.5f - 5.12f);
  EXPECT_FLOAT_EQ(v[1].x, 99.5f + 5.12f);
  EXPECT_FLOAT_EQ(v[0].y, 49.5f - 10.24f);
  EXPECT_FLOAT_EQ(v[2].y, 49.5f + 10.24f);
  EXPECT_EQ(v[0].tu0, 33.0f * 8 / 512);
  EXPECT_EQ(v[0].tv0, 0.0f);
  // Ending at y: the text's bottom is on y.
  text_queue_printf(main_queue, TEXT_ANCHOR_END_Y, 2, 16.0f, 100, 50, 0xFFFFFFFFu, "A");
  bitmap_font_draw(1, device, main_queue);
  EXPECT_EQ(v[2].y, 49.5f);
  EXPECT_EQ(v[1].x, 107.5f);
}

TEST_F(TextOverlayTest, OverlongCommandsBadFontsAndDisabledDrawsDrawNothing) {
  text_queue_printf(main_queue, 0, 7, 16.0f, 10, 10, 0xFFFFFFFFu, "bad font");
  text_queue_printf(main_queue, 0, 0, 16.0f, 10, 30, 0xFFFFFFFFu, "drawn");
  text_queue_printf(main_queue, 0, 0, 16.0f, 10, 50, 0xFFFFFFFFu, "%s", std::string(1001, 'x').c_str());
  text_queue_printf(main_queue, 0, 0, 16.0f, 10, 70, 0xFFFFFFFFu, "after the long one");
  text_queue_printf(d3dx_queue, 0, -1, 16.0f, 10, 90, 0xFFFFFFFFu, "bad font");
  bitmap_font_draw(1, device, main_queue);
  d3dx_font_draw(1, device, d3dx_queue);
  // Only "drawn" reached the device.
  size_t count = 0;
  const GpuTraceDraw* draws = gpu_trace_current_frame(device, &count);
  ASSERT_EQ(count, 1u);
  EXPECT_EQ(draws[0].primitive_count, 2u * 5);
  EXPECT_EQ(text_queue_used(main_queue), 0);
  EXPECT_EQ(text_queue_used(d3dx_queue), 0);

  text_queue_printf(main_queue, 0, 0, 16.0f, 10, 10, 0xFFFFFFFFu, "hidden");
  text_queue_printf(d3dx_queue, 0, 2, 16.0f, 10, 10, 0xFFFFFFFFu, "hidden");
  bitmap_font_draw(0, device, main_queue);
  d3dx_font_draw(0, device, d3dx_queue);
  EXPECT_EQ(draws_so_far(), 1u);
  EXPECT_EQ(text_queue_used(main_queue), 0);
  EXPECT_EQ(text_queue_used(d3dx_queue), 0);
}

TEST_F(TextOverlayTest, FacesFollowTheScreenWidth) {
  // 0.03 x 1024 in single precision.
  EXPECT_EQ(font_desc(1)->glyph_size, 30.72f);
  ASSERT_NE(d3dx_font(1), nullptr);
  EXPECT_EQ(font_height(d3dx_font(1)), 30);
  ASSERT_NE(d3dx_font(3), nullptr);
  EXPECT_EQ(font_height(d3dx_font(3)), 64);
  // Regular upright anti-aliased Japanese faces, half-width characters half the cell.
  const int32_t heights[FONT_COUNT] = {16, 30, 16, 64};
  for (int f = 0; f < FONT_COUNT; ++f) {
    SCOPED_TRACE(f);
    const FontParams& p = d3dx_font(f)->params;
    EXPECT_EQ(p.height, heights[f]);
    EXPECT_EQ(p.width, heights[f] / 2);
    EXPECT_EQ(p.weight, 400);
    EXPECT_FALSE(p.italic);
    EXPECT_EQ(p.charset, uint32_t(FONT_CHARSET_SHIFTJIS));
    EXPECT_EQ(p.quality, uint32_t(FONT_QUALITY_ANTIALIASED));
  }
  // data/font.cf names the default face, which stands for the free gothic.
  EXPECT_EQ(font_family(d3dx_font(0)), "IPAPGothic");
  // Made again (as after a device reset): the old faces are given back,
  // which the leak checker of sanitized builds watches.
  d3dx_font_create();
  ASSERT_NE(d3dx_font(2), nullptr);
  d3dx_font_release();
  for (int f = 0; f < FONT_COUNT; ++f) EXPECT_EQ(d3dx_font(f), nullptr);
  // Released faces draw nothing and still rewind.
  text_queue_printf(d3dx_queue, 0, 1, 16.0f, 10, 10, 0xFFFFFFFFu, "x");
  d3dx_font_draw(1, device, d3dx_queue);
  EXPECT_EQ(draws_so_far(), 0u);
  EXPECT_EQ(text_queue_used(d3dx_queue), 0);
}

// Distinct kanji, two bytes each.
std::string kanji(int count) {
  std::string out;
  for (int i = 0; i < count; ++i) {
    out += char(0x88 + i / 94);
    out += char(0x9F + i % 94);
  }
  return out;
}

TEST_F(TextOverlayTest, PreparedLinesAreCutLikeDrawnOnesAndUploadedBeforeDrawing) {
  // The work buffer takes 515 bytes: 257 two-byte characters.
  const struct {
    const char* name;
    int characters;
    size_t placed;
  } cases[] = {{"short", 10, 10}, {"one under the cut", 257, 257}, {"one over", 258, 257}, {"long", 300, 257}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    d3dx_font_create();
    PlatformFont* face = d3dx_font(1);
    ASSERT_NE(face, nullptr);
    const std::string text = kanji(c.characters);
    d3dx_font_prepare_text(1, text.c_str());
    EXPECT_EQ(face_pending(face), c.placed);
    text_queue_printf(d3dx_queue, 0, 1, 16.0f, 10, 10, 0xFFFFFFFFu, "%s", text.c_str());
    d3dx_font_draw(1, device, d3dx_queue);
    EXPECT_EQ(face_pending(face), 0u);
  }
  d3dx_font_prepare_text(7, "no such face");
  d3dx_font_prepare_text(1, nullptr);
}

}  // namespace
