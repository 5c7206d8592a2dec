// The font layer without a device: face matching, metrics, CP932 decoding,
// layout and rasterisation into memory.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/font/font.h"
#include "platform/font/font_internal.h"

namespace {

// "ＭＳ　Ｐゴシック"
const char kDefaultFace[] = "\x82\x6c\x82\x72\x81\x40\x82\x6f\x83\x53\x83\x56\x83\x62\x83\x4e";
// "あ", "ア"
const char kHiraganaA[] = "\x82\xa0";

struct Ink {
  int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;  // inclusive bounds
  int pixels = 0;
};

Ink ink_in(const std::vector<uint8_t>& cov, int width, int x0, int y0, int x1, int y1) {
  Ink ink;
  int height = int(cov.size()) / width;
  for (int y = y0; y < y1 && y < height; ++y) {
    for (int x = x0; x < x1 && x < width; ++x) {
      if (cov[size_t(y) * size_t(width) + size_t(x)] < 64) continue;
      ++ink.pixels;
      ink.left = std::min(ink.left, x);
      ink.right = std::max(ink.right, x);
      ink.top = std::min(ink.top, y);
      ink.bottom = std::max(ink.bottom, y);
    }
  }
  return ink;
}

FontParams japanese(int height, int width, const std::string& face) {
  return FontParams{height, width, 400, false, FONT_CHARSET_SHIFTJIS, FONT_QUALITY_ANTIALIASED, face};
}

struct FontHolder {
  PlatformFont* font = nullptr;
  explicit FontHolder(const FontParams& p) { EXPECT_EQ(font_create(nullptr, p, &font), GPU_OK); }
  ~FontHolder() { font_release(font); }
};

TEST(FontFace, WindowsJapaneseNamesMapToTheirFreeFaces) {
  const struct {
    std::string name;
    const char* family;
  } cases[] = {
      {kDefaultFace, "IPAPGothic"},
      {"MS PGothic", "IPAPGothic"},
      {"ms  pgothic", "IPAPGothic"},
      // "ＭＳ ゴシック" with a half-width space
      {"\x82\x6c\x82\x72\x20\x83\x53\x83\x56\x83\x62\x83\x4e", "IPAGothic"},
      {"MS Mincho", "IPAMincho"},
      {"\x83\x81\x83\x43\x83\x8a\x83\x49", "IPAPGothic"},  // "メイリオ"
      {"Arial", ""},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(font_substitute_family(c.name), c.family) << c.name;
}

TEST(FontFace, CodePagesDecodeWithHalfWidthKatakanaAsSingleBytes) {
  std::string text = std::string(kHiraganaA) + "A\xb1" + "\x83\x5c";  // あ A ｱ ソ
  std::vector<uint32_t> codes = font_decode_cp932(text.data(), text.size());
  EXPECT_EQ(codes, (std::vector<uint32_t>{0x3042, 'A', 0xFF71, 0x30BD}));
}

TEST(FontFace, DefaultFaceIsTheJapaneseGothicAtTheCellHeight) {
  FontHolder f(japanese(30, 15, kDefaultFace));
  ASSERT_NE(f.font, nullptr);
  EXPECT_EQ(font_family(f.font), "IPAPGothic");
  EXPECT_EQ(font_height(f.font), 30);
  EXPECT_GT(font_ascent(f.font), 20);
  EXPECT_LT(font_ascent(f.font), 30);
}

TEST(FontFace, UnknownFacesFallBackToAFaceWithKana) {
  FontHolder f(japanese(16, 8, "No Such Face Anywhere"));
  ASSERT_NE(f.font, nullptr);
  std::vector<uint8_t> cov;
  font_render_text(f.font, kHiraganaA, -1, 32, 16, &cov);
  EXPECT_GT(ink_in(cov, 32, 0, 0, 32, 16).pixels, 10);
}

TEST(FontFace, GlyphsLandInTheirCells) {
  // A full-width character advances twice the width, a half-width one once.
  FontHolder f(japanese(30, 15, kDefaultFace));
  const int w = 120, h = 70;
  std::vector<uint8_t> cov;
  std::string text = std::string(kHiraganaA) + "A\r\n" + kHiraganaA;
  EXPECT_EQ(font_render_text(f.font, text.c_str(), -1, w, h, &cov), 60);
  Ink a = ink_in(cov, w, 0, 0, 30, 30);
  // The proportional face draws its Latin letters at their own widths.
  Ink latin = ink_in(cov, w, 30, 0, 60, 30);
  Ink second = ink_in(cov, w, 0, 30, 30, 60);
  EXPECT_GT(a.pixels, 30);
  EXPECT_GT(latin.pixels, 20);
  EXPECT_GT(second.pixels, 30);
  EXPECT_EQ(ink_in(cov, w, 60, 0, w, h).pixels, 0);
  EXPECT_EQ(ink_in(cov, w, 0, 60, w, h).pixels, 0);
  // The second line is the first one cell lower.
  EXPECT_EQ(second.top, a.top + 30);
  EXPECT_EQ(second.left, a.left);
}

// A face kept in its own proportions draws a square as wide as it is tall.
TEST(FontFace, ProportionsHoldWithoutAWidth) {
  FontHolder f(japanese(200, 0, kDefaultFace));
  std::vector<uint8_t> cov;
  font_render_text(f.font, "\x81\xa1", -1, 220, 200, &cov);  // "■"
  const Ink square = ink_in(cov, 220, 0, 0, 220, 200);
  EXPECT_EQ(square.bottom - square.top, square.right - square.left);
}

TEST(FontFace, MissingGlyphsComeFromAnotherFace) {
  // A Latin face asked for kana finds them elsewhere, per glyph.
  FontParams p{16, 0, 400, false, FONT_CHARSET_DEFAULT, FONT_QUALITY_ANTIALIASED, "DejaVu Sans"};
  FontHolder f(p);
  ASSERT_NE(f.font, nullptr);
  EXPECT_EQ(font_family(f.font), "DejaVu Sans");
  std::vector<uint8_t> cov;
  font_render_text(f.font, kHiraganaA, -1, 32, 16, &cov);
  EXPECT_GT(ink_in(cov, 32, 0, 0, 32, 16).pixels, 10);
}

TEST(FontFace, BadParametersAreRefused) {
  PlatformFont* font = reinterpret_cast<PlatformFont*>(1);
  EXPECT_EQ(font_create(nullptr, japanese(0, 8, kDefaultFace), &font), GPU_INVALID_CALL);
  EXPECT_EQ(font, nullptr);
  EXPECT_EQ(font_create(nullptr, japanese(16, -1, kDefaultFace), &font), GPU_INVALID_CALL);
  // A font without a device lays out but cannot draw.
  FontHolder f(japanese(16, 8, kDefaultFace));
  EXPECT_EQ(font_draw_text(f.font, "A", -1, GpuRect{0, 0, 10, 10}, 0, 0xFFFFFFFFu), 0);
}

}  // namespace
