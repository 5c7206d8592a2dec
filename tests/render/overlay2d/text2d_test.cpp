#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "assets/asset_registry.h"
#include "assets/crops.h"
#include "assets/textures.h"
#include "render/device/gfx_resources.h"
#include "render/overlay2d/text2d.h"
#include "render/tasks/task.h"

namespace {

constexpr int kGlyphs = 95;

// A font "abc" of 95 glyph crops on a 256 x 64 texture: glyph i at
// u = i / 100, width 0.01, height 0.5 (so 32 pixels tall, 2.56 wide).
class Text2dTest : public ::testing::Test {
 protected:
  void SetUp() override {
    init_asset_registry();
    tasks_init();
    for (int i = 0; i < 2; ++i) task_type_register(nullptr, nullptr, nullptr, nullptr, 16);
    ASSERT_EQ(text2d_register_type(), 3);
    const AssetHandle tex = create_texture("fnt", "abc_tex", 0, 0, 0);
    ASSERT_NE(tex, 0u);
    // No device here: the record stands for a texture of that size.
    get_texture_object(tex)->width = 256;
    get_texture_object(tex)->height = 64;
    for (int i = 0; i < kGlyphs; ++i) {
      char name[16];
      std::snprintf(name, sizeof(name), "abc_%04d", i);
      const AssetHandle crop = register_crop("fnt", name, i / 100.0f, 0, 0.01f, 0.5f, "abc_tex");
      ASSERT_NE(crop, 0u);
      if (i == 0) first_ = crop;
    }
    // A crop of a longer font name right behind the run.
    register_crop("fnt", "abcd_0000", 0, 0, 0.01f, 0.5f, "abc_tex");
    task_ = text_create(1, "fnt", "abc", 32, 0xFF00FF00u, 100, 50, 1, 1, 0, 20);
    ASSERT_NE(task_, nullptr);
  }
  void TearDown() override {
    tasks_shutdown();
    shutdown_asset_registry();
  }
  int place(const char* s, ScreenVertex* out, const uint32_t* shadow = nullptr, float dx = 0, float dy = 0) {
    text_set_string(task_, s);
    return text_place_glyphs(task_, out, 128, dx, dy, shadow);
  }
  const TextData* data() { return task_data<TextData>(task_); }

  AssetHandle first_ = 0;
  Task* task_ = nullptr;
  ScreenVertex v_[4 * 128];
};

TEST_F(Text2dTest, FontTakesItsOwnRunOfCrops) {
  EXPECT_EQ(data()->first_crop, first_);
  EXPECT_EQ(data()->end_crop, first_ + kGlyphs);
  EXPECT_FLOAT_EQ(data()->glyph_height, 32.0f);
  EXPECT_EQ(text_get_glyph_height(task_), 32);
  EXPECT_EQ(task_->layer, 20);
  // A font that does not exist leaves the text as it was.
  text_set_font(task_, "fnt", "nope", 40);
  EXPECT_EQ(data()->first_crop, first_);
  EXPECT_EQ(data()->first_code, 32);
}

TEST_F(Text2dTest, CharactersMapToCropsAndOutsideOnesAreSkipped) {
  ASSERT_EQ(place("A", v_), 1);
  // Glyph 33 is the crop at u 0.33, 0.01 wide and 0.5 tall.
  const float uv[4][2] = {{0.33f, 0}, {0.34f, 0}, {0.33f, 0.5f}, {0.34f, 0.5f}};
  for (int k = 0; k < 4; ++k) {
    EXPECT_FLOAT_EQ(v_[k].tu0, uv[k][0]) << k;
    EXPECT_FLOAT_EQ(v_[k].tv0, uv[k][1]) << k;
  }
  EXPECT_EQ(place("\x1f", v_), 0);
  // Code 32 + 95 = 127 lies past the font; it does not move the pen.
  ASSERT_EQ(place("\x7f" "A", v_), 1);
  EXPECT_EQ(place("\x7e", v_), 1);
  float w = 0, h = 0;
  text_set_string(task_, "\x1f" "AB");
  text_measure(task_, &w, &h);
  EXPECT_FLOAT_EQ(w, 2 * 2.56f);
  EXPECT_FLOAT_EQ(h, 32.0f);
}

TEST_F(Text2dTest, FixedAdvanceAndAlignment) {
  text_set_height(task_, 20);
  text_set_advance(task_, 0.5f);
  float w = 0;
  text_set_string(task_, "AB");
  text_measure(task_, &w, nullptr);
  EXPECT_FLOAT_EQ(w, 20.0f);
  ASSERT_EQ(place("AB", v_), 2);
  EXPECT_FLOAT_EQ(v_[4].x - v_[0].x, 10.0f);

  struct Case {
    uint32_t flags;
    float ax, ay;
  } cases[] = {{0, 0, 0}, {2 | 8, 0.5f, 0.5f}, {1 | 4, 1, 1}, {3 | 12, 0.5f, 0.5f}};
  for (const Case& c : cases) {
    text_set_alignment(task_, c.flags);
    EXPECT_EQ(data()->anchor_x, c.ax);
    EXPECT_EQ(data()->anchor_y, c.ay);
  }
  // Centred: the text's middle is at its position (the half-pixel offset
  // aside).
  text_set_alignment(task_, 2 | 8);
  ASSERT_EQ(place("AB", v_), 2);
  const float left = v_[0].x, right = v_[5].x;
  EXPECT_NEAR((left + right) / 2, 100.0f - 0.5f, 1e-3f);
}

TEST_F(Text2dTest, ScaleAndAngleShapeTheLayout) {
  // The line height follows the horizontal scale, the glyphs' own heights
  // the vertical one.
  text_set_scale(task_, 2, 1);
  text_set_string(task_, "A");
  float w = 0, h = 0;
  text_measure(task_, &w, &h);
  EXPECT_FLOAT_EQ(w, 2 * 2.56f);
  EXPECT_FLOAT_EQ(h, 64.0f);
  ASSERT_EQ(place("A", v_), 1);
  EXPECT_FLOAT_EQ(v_[2].y - v_[0].y, 32.0f);
  EXPECT_NEAR(v_[1].x - v_[0].x, 2 * 2.56f, 1e-4f);

  // A quarter turn about the position (100, 50): (a, b) from it goes to
  // (b, -a).
  text_set_scale(task_, 1, 1);
  text_set_angle(task_, 1.5707964f);
  ASSERT_EQ(place("A", v_), 1);
  EXPECT_NEAR(v_[0].x, 100 - 0.5f, 1e-3f);
  EXPECT_NEAR(v_[0].y, 50 + 0.5f, 1e-3f);
  EXPECT_NEAR(v_[3].x, 100 + 31.5f, 1e-3f);
  EXPECT_NEAR(v_[3].y, 50 - 2.06f, 1e-3f);
}

TEST_F(Text2dTest, ShadowIsTheTextMovedAndRecoloured) {
  ScreenVertex plain[8], shadow[8];
  ASSERT_EQ(place("AB", plain), 2);
  const uint32_t black = 0xFF000000u;
  ASSERT_EQ(place("AB", shadow, &black, 3, 4), 2);
  for (int i = 0; i < 8; ++i) {
    EXPECT_FLOAT_EQ(shadow[i].x, plain[i].x + 3);
    EXPECT_FLOAT_EQ(shadow[i].y, plain[i].y + 4);
    EXPECT_EQ(shadow[i].diffuse, black);
    EXPECT_EQ(plain[i].diffuse, 0xFF00FF00u);
  }
}

TEST_F(Text2dTest, SettersReachTheirOwnFields) {
  text_set_position(task_, 1, 2);
  text_set_height(task_, 3);
  text_set_anchor(task_, 0.25f, 0.75f);
  text_set_scale(task_, 4, 5);
  text_set_angle(task_, 0.5f);
  text_set_advance(task_, 0.6f);
  text_set_colour(task_, 0x11223344u);
  text_set_blend(task_, 7);
  const uint8_t params[2] = {0xAB, 0xCD};
  text_set_shader(task_, 2, params, 2);
  text_set_shadow_offset(task_, 8, 9);
  text_set_shadow_colour(task_, 0x55667788u);
  const TextData* t = data();
  const float got[] = {t->x, t->y, t->char_height, t->anchor_x, t->anchor_y, t->scale_x, t->scale_y, t->angle,
                       t->advance_factor, t->shadow_x, t->shadow_y};
  const float want[] = {1, 2, 3, 0.25f, 0.75f, 4, 5, 0.5f, 0.6f, 8, 9};
  for (size_t i = 0; i < sizeof want / sizeof want[0]; ++i) EXPECT_EQ(got[i], want[i]) << i;
  EXPECT_EQ(t->colour, 0x11223344u);
  EXPECT_EQ(t->blend, 7);
  EXPECT_EQ(t->shader_selector, 2);
  EXPECT_EQ(t->shader_params[1], 0xCD);
  EXPECT_EQ(t->shadow_colour, 0x55667788u);
  EXPECT_EQ(t->flags & kTextShadow, 0u) << "offset and colour alone leave the shadow off";
  text_set_shadow_enabled(task_, true);
  EXPECT_EQ(t->flags & kTextShadow, kTextShadow);
  text_set_shadow_enabled(task_, false);
  EXPECT_EQ(t->flags & kTextShadow, 0u);
  text_set_shadow(task_, -1, -2, 0xFF010203u);
  EXPECT_EQ(t->flags & kTextShadow, kTextShadow);
  EXPECT_EQ(t->shadow_y, -2.0f);
  EXPECT_EQ(t->shadow_colour, 0xFF010203u);

  Task* simple = text_create_simple(2, "fnt", "abc", 33, 5, 6, 1 | 8, 25);
  ASSERT_NE(simple, nullptr);
  const TextData* st = task_data<TextData>(simple);
  EXPECT_EQ(st->first_crop, first_);
  EXPECT_EQ(st->first_code, 33);
  EXPECT_EQ(st->x, 5.0f);
  EXPECT_EQ(st->anchor_x, 1.0f);
  EXPECT_EQ(st->anchor_y, 0.5f);
  EXPECT_EQ(st->colour, 0xFFFFFFFFu);
  EXPECT_EQ(simple->layer, 25);
  EXPECT_EQ(simple->flags & kTaskLifetimeMask, 0u);
}

void grow_second(Task*, int index, GlyphAdjust* adjust, uintptr_t argument) {
  if (index == 1) {
    adjust->scale_y = static_cast<float>(argument);
    adjust->colour = 0xFFFF0000u;
  }
}

void copy_to_second(Task*, int index, GlyphAdjust* adjust, uintptr_t argument) {
  if (index == 1) *adjust = *reinterpret_cast<const GlyphAdjust*>(argument);
}

TEST_F(Text2dTest, GlyphCallbackAdjustsSingleGlyphs) {
  text_set_glyph_callback(task_, grow_second, 2);
  ASSERT_EQ(place("AA", v_), 2);
  EXPECT_FLOAT_EQ(v_[6].y - v_[4].y, 2 * (v_[2].y - v_[0].y));
  EXPECT_EQ(v_[4].diffuse, 0xFFFF0000u);
  EXPECT_EQ(v_[0].diffuse, 0xFF00FF00u);

  // Each field of the adjustment moves the second glyph's corners (top-left,
  // top-right, bottom-left, bottom-right) from where they stand unadjusted;
  // the glyph is 2.56 x 32 pixels about its centre.
  text_set_glyph_callback(task_, nullptr, 0);
  ScreenVertex plain[8];
  ASSERT_EQ(place("AA", plain), 2);
  struct Row {
    const char* what;
    GlyphAdjust adjust;
    float dx[4], dy[4];
  } rows[] = {
      {"x offset", {3, 0.0f, 1.0f, 1.0f, 0.0f, 0.5f, 0.5f, 0xFF00FF00u}, {3, 3, 3, 3}, {0, 0, 0, 0}},
      {"y offset", {0, 2.5f, 1.0f, 1.0f, 0.0f, 0.5f, 0.5f, 0xFF00FF00u}, {0, 0, 0, 0}, {2.5f, 2.5f, 2.5f, 2.5f}},
      {"wider from the left", {0, 0.0f, 2.0f, 1.0f, 0.0f, 0.0f, 0.5f, 0xFF00FF00u}, {0, 2.56f, 0, 2.56f}, {0, 0, 0, 0}},
      {"taller from the top", {0, 0.0f, 1.0f, 2.0f, 0.0f, 0.5f, 0.0f, 0xFF00FF00u}, {0, 0, 0, 0}, {0, 0, 32, 32}},
      // A quarter turn takes a corner (a, b) from the centre to (b, -a).
      {"quarter turn", {0, 0.0f, 1.0f, 1.0f, 1.5707964f, 0.5f, 0.5f, 0xFF00FF00u},
       {-14.72f, -17.28f, 17.28f, 14.72f}, {17.28f, 14.72f, -14.72f, -17.28f}},
  };
  for (const Row& r : rows) {
    text_set_glyph_callback(task_, copy_to_second, reinterpret_cast<uintptr_t>(&r.adjust));
    ASSERT_EQ(place("AA", v_), 2) << r.what;
    for (int k = 0; k < 4; ++k) {
      EXPECT_NEAR(v_[4 + k].x - plain[4 + k].x, r.dx[k], 1e-3f) << r.what << " corner " << k;
      EXPECT_NEAR(v_[4 + k].y - plain[4 + k].y, r.dy[k], 1e-3f) << r.what << " corner " << k;
      EXPECT_EQ(v_[k].x, plain[k].x) << r.what << ": the first glyph stays";
    }
  }
}

TEST_F(Text2dTest, StringsAreBounded) {
  const std::string s128(128, 'A'), s129(129, 'B');
  text_set_string(task_, s128.c_str());
  EXPECT_EQ(data()->length, 128);
  text_set_string(task_, s129.c_str());
  EXPECT_EQ(std::string(data()->string), s128);
  text_printf(task_, "%s%s", s128.c_str(), s128.c_str());
  EXPECT_EQ(std::string(data()->string).size(), 127u);
  text_set_string(task_, nullptr);
  EXPECT_EQ(data()->string[0], '\0');
  EXPECT_EQ(data()->length, 127);
  Task* once = text_draw_printf(2, "fnt", "abc", 32, 0xFFFFFFFFu, 0, 0, 1, 1, 0, 30, "%d", 42);
  ASSERT_NE(once, nullptr);
  EXPECT_STREQ(task_data<TextData>(once)->string, "42");
  EXPECT_EQ(once->flags & kTaskLifetimeMask, kTaskLifetimeOneFrame);
  EXPECT_EQ(once->layer, 30);
}

TEST_F(Text2dTest, AGlyphCropWithoutHeightIsSkipped) {
  register_crop("fnt", "flat_0000", 0, 0, 0.01f, 0.5f, "abc_tex");
  register_crop("fnt", "flat_0001", 0, 0, 0.01f, 0.0f, "abc_tex");
  text_set_font(task_, "fnt", "flat", 'a');
  ASSERT_EQ(place("bab", v_), 1);
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(std::isfinite(v_[i].x) && std::isfinite(v_[i].y));
  float w = -1;
  text_measure(task_, &w, nullptr);
  EXPECT_FLOAT_EQ(w, 2.56f);
}

TEST_F(Text2dTest, TextWithoutAFontOrTextureDrawsNothing) {
  Task* bare = task_create(1);
  task_set_type(bare, text_get_type());
  text_set_string(bare, "A");
  EXPECT_EQ(text_place_glyphs(bare, v_, 128, 0, 0, nullptr), 0);
  float w = -1;
  text_measure(bare, &w, nullptr);
  EXPECT_EQ(w, 0.0f);
}

}  // namespace
