// The overlays' arithmetic without a device: sheet cells of CP932 text,
// anchors, glyph counts and the face name from "font.cf".
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/sys/sys.h"
#include "render/text/fonts.h"
#include "render/text/text_queue.h"

namespace {

std::vector<int32_t> cells_of(const std::string& text) {
  std::vector<int32_t> out;
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  for (int32_t pos = 0; pos < int32_t(text.size());) {
    out.push_back(bitmap_font_next_cell(bytes, int32_t(text.size()), &pos, 32));
  }
  return out;
}

TEST(BitmapFontCells, CharactersMapToTheirSheetCells) {
  const struct {
    std::string text;
    std::vector<int32_t> cells;
  } cases[] = {
      {"A", {33}},
      {" ~", {0, 94}},
      {"\x82\x9e", {96}},      // the first two-byte cell
      {"\x82\x9d", {-1}},      // one before it falls on an ASCII cell
      {"\x82\x9f", {97}},      // "ぁ", the first hiragana
      {"\x82\xa0", {98}},      // "あ"
      {"\x82\xf1", {179}},     // "ん"
      {"\x83\x40", {258}},     // "ァ", one page on
      {"\x83\x96", {344}},     // "ヶ"
      {"\xb1" "A", {-1, 33}},  // half-width "ｱ" is one byte
      {"\x81\x42", {-1}},      // "。": a page before the sheet
      {"\x82\x4f", {-1}},      // "０" would fall on an ASCII cell
      {"\x82", {-1}},          // a lead byte at the end
      {"\x82\x0a" "A", {-1, -1, 33}},  // a lead byte before a byte that cannot follow it
      {"\t\x80\xa0\xfd", {-1, -1, -1, -1}},
  };
  for (const auto& c : cases) EXPECT_EQ(cells_of(c.text), c.cells) << c.text;
}

TEST(BitmapFontCells, GlyphCountsCountCharactersNotBytes) {
  const auto count = [](const std::string& s) {
    return bitmap_font_glyph_count(reinterpret_cast<const uint8_t*>(s.data()), int32_t(s.size()));
  };
  EXPECT_EQ(count(""), 0);
  EXPECT_EQ(count("LEVEL 1"), 7);
  EXPECT_EQ(count("\x82\xa0\x82\xa2" "A"), 3);
  EXPECT_EQ(count("\xb1\xb2\xb3"), 3);
}

TEST(FontDescs, OnlyTheFacesThereAreHaveDescriptions) {
  EXPECT_EQ(font_desc(-1), nullptr);
  EXPECT_NE(font_desc(0), nullptr);
  EXPECT_NE(font_desc(FONT_COUNT - 1), nullptr);
  EXPECT_EQ(font_desc(FONT_COUNT), nullptr);
}

TEST(TextAnchors, OffsetsFollowTheAnchorBits) {
  const struct {
    uint32_t anchor;
    float dx, dy;
  } cases[] = {
      {0, 0, 0},
      {TEXT_ANCHOR_END_X, -32, 0},
      {TEXT_ANCHOR_CENTRE_X, -16, 0},
      {TEXT_ANCHOR_END_X | TEXT_ANCHOR_CENTRE_X, -32, 0},
      {TEXT_ANCHOR_END_Y, 0, -16},
      {TEXT_ANCHOR_CENTRE_Y, 0, -8},
      {TEXT_ANCHOR_CENTRE_X | TEXT_ANCHOR_CENTRE_Y, -16, -8},
  };
  for (const auto& c : cases) {
    float dx = 1, dy = 1;
    text_anchor_offset(c.anchor, 8.0f, 16.0f, 4, &dx, &dy);
    EXPECT_EQ(dx, c.dx) << c.anchor;
    EXPECT_EQ(dy, c.dy) << c.anchor;
  }
}

class FaceNameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    old_dir = sys_get_current_dir();
    char tmpl[] = "/tmp/tl_font_XXXXXX";
    dir = ::mkdtemp(tmpl);
    ASSERT_TRUE(sys_set_current_dir(dir));
  }
  void TearDown() override {
    sys_set_current_dir(old_dir);
    std::system(("rm -rf '" + dir + "'").c_str());
  }
  std::string name_for(const std::string& contents) {
    std::ofstream("font.cf", std::ios::binary) << contents;
    char name[FONT_FACE_NAME_BYTES + 1];
    d3dx_font_face_name(name);
    return name;
  }
  std::string old_dir, dir;
};

TEST_F(FaceNameTest, TheFirstLineIsTrimmedAndBounded) {
  // "ＭＳ ゴシック"
  const std::string gothic = "\x82\x6c\x82\x72\x20\x83\x53\x83\x56\x83\x62\x83\x4e";
  EXPECT_EQ(name_for("Meiryo"), "Meiryo");
  EXPECT_EQ(name_for("  IPAGothic \r\n"), "IPAGothic");
  EXPECT_EQ(name_for(gothic + "\r\nsecond line"), gothic);
  EXPECT_EQ(name_for(std::string(40, 'x')), std::string(31, 'x'));
  // A two-byte character across byte 31 is left out whole.
  EXPECT_EQ(name_for(std::string(30, 'x') + "\x82\xa0"), std::string(30, 'x'));
  EXPECT_EQ(name_for(std::string("Sans\0junk", 9)), "Sans");
}

TEST_F(FaceNameTest, NothingUsableGivesTheDefaultFace) {
  EXPECT_EQ(name_for(""), kDefaultFontFace);
  EXPECT_EQ(name_for(" \r\n\r\nMeiryo"), kDefaultFontFace);
  ::unlink("font.cf");
  char name[FONT_FACE_NAME_BYTES + 1];
  d3dx_font_face_name(name);
  EXPECT_STREQ(name, kDefaultFontFace);
  ::mkdir("font.cf", 0755);  // a folder of that name cannot be read
  d3dx_font_face_name(name);
  EXPECT_STREQ(name, kDefaultFontFace);
}

}  // namespace
