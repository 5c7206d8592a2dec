#include <gtest/gtest.h>

#include <string>

#include "assets/texture_list.h"

namespace {

TexList parse(const std::string& text) {
  TexList list{};
  texlist_parse(&list, text.data(), text.size());
  return list;
}

TEST(TexList, KeywordsCommentsAndCrops) {
  const TexList l = parse(
      "# a comment *cat hidden\n"
      "*cat menu\n"
      "  @tex menu.png *size 200 100\r"
      "  *crop 0 50 100 50 button #also hidden *cat x\n"
      "cat plain  *tex second.png\n"
      "*cat other *tex a.png *tex b.png *crop 1 1 1 1 nosize");
  ASSERT_EQ(texlist_category_count(&l), 2);
  EXPECT_STREQ(texlist_category_name(&l, 0), "menu");
  EXPECT_EQ(texlist_texture_count(&l, 0), 2);
  EXPECT_STREQ(texlist_texture_file(&l, 0, 1), "second.png");
  ASSERT_EQ(texlist_crop_count(&l, 0), 1);
  const TexListCrop* c = texlist_crop(&l, 0, 0);
  EXPECT_EQ(c->name, "button");
  EXPECT_EQ(c->texture_file, "menu.png");
  EXPECT_FLOAT_EQ(c->u, 0.0f);
  EXPECT_FLOAT_EQ(c->v, 0.5f);
  EXPECT_FLOAT_EQ(c->width, 0.5f);
  EXPECT_FLOAT_EQ(c->height, 0.5f);
  EXPECT_EQ(texlist_texture_count(&l, 1), 2);
  EXPECT_EQ(texlist_crop_count(&l, 1), 0);  // b.png has no size
  EXPECT_EQ(l.rejected, 1);
  EXPECT_NE(texlist_find_category(&l, "other"), nullptr);
  EXPECT_EQ(texlist_find_category(&l, "OTHER"), nullptr);
  EXPECT_EQ(texlist_category_name(&l, 2), nullptr);
  EXPECT_EQ(texlist_crop(&l, 0, 1), nullptr);
  EXPECT_EQ(texlist_texture_file(&l, -1, 0), nullptr);

  // A crop's last number and its name written together read apart. The
  // texture after it has no size of its own, not t.png's: its crop is refused.
  const TexList joined = parse("*cat c *tex t.png *size 8 4 *crop 2 1 4 2half *tex u.png *crop 0 0 1 1 m");
  ASSERT_EQ(texlist_crop_count(&joined, 0), 1);
  EXPECT_EQ(texlist_crop(&joined, 0, 0)->name, "half");
  EXPECT_FLOAT_EQ(texlist_crop(&joined, 0, 0)->u, 0.25f);
  EXPECT_FLOAT_EQ(texlist_crop(&joined, 0, 0)->v, 0.25f);
  EXPECT_FLOAT_EQ(texlist_crop(&joined, 0, 0)->height, 0.5f);
  EXPECT_EQ(joined.rejected, 1);
}

// Entries without a place or with arguments that do not read are left out,
// and the tokens after them still count.
TEST(TexList, OddInputIsLeftOutWithoutHarm) {
  struct Case {
    const char* name;
    std::string text;
    int categories, textures, crops, rejected;
  };
  const std::string long_token(300, 'x');
  static const char kBinary[] = "\0\xff*cat\0 \x80\x81 *cat z\0";
  const Case cases[] = {
      {"texture before any category", "*tex a.png *cat c", 1, 0, 0, 1},
      {"crop before any texture", "*cat c *crop 0 0 1 1 n", 1, 0, 0, 1},
      {"crop of a zero size", "*cat c *tex a *size 0 10 *crop 0 0 1 1 n", 1, 1, 0, 1},
      {"size that does not read", "*cat c *tex a *size ten 10 *crop 0 0 1 1 n", 1, 1, 0, 2},
      {"keyword as an argument", "*cat c *tex a *size 4 *cat d", 2, 1, 0, 1},
      {"crop with a bad number", "*cat c *tex a *size 4 4 *crop 0 nan? 1 1 n", 1, 1, 0, 1},
      {"non-finite number", "*cat c *tex a *size 4 4 *crop 0 inf 1 1 n", 1, 1, 0, 1},
      {"overlong tokens", "*cat " + long_token + " *cat ok *tex " + long_token, 1, 0, 0, 2},
      {"ends inside an entry", "*cat c *tex a *size 4 4 *crop 1 2", 1, 1, 0, 1},
      {"size at the largest integer", "*cat c *tex a *size 2147483647 1", 1, 1, 0, 0},
      {"size one past the largest integer", "*cat c *tex a *size 2147483648 1", 1, 1, 0, 1},
      {"size at the smallest integer taken", "*cat c *tex a *size -2147483647 1", 1, 1, 0, 0},
      {"size at the 32-bit minimum", "*cat c *tex a *size -2147483648 1", 1, 1, 0, 1},
      {"a bare keyword is no keyword", "cat c tex a", 0, 0, 0, 0},
      {"a number reads from its token's start", "*cat c *tex a *size 64 32px *crop 16 8 32 16 n", 1, 1, 1, 0},
      {"the rest of a number's token is read next", "*cat c *tex a *size 4 4*crop 0 0 1 1 n", 1, 1, 1, 0},
      {"a number with nothing before its rest", "*cat c *tex a *size px4 4 *crop 0 0 1 1 n", 1, 1, 0, 2},
      {"comment ends at LF", "#note *cat x\n*cat c", 1, 0, 0, 0},
      {"comment ends at CR", "#note *cat x\r*cat c", 1, 0, 0, 0},
      {"comment word alone on its line", "#\r\n*cat c\n#-----\n*tex a", 1, 1, 0, 0},
      {"comment ends at character 26", "*cat c #note *cat x\x1a *cat d", 2, 0, 0, 0},
      {"character 26 ending a comment is no part of the next word", "# note \x1a*cat ui\n*tex a.png", 1, 1, 0, 0},
      {"comment runs to the end", "*cat c # *cat x *tex y", 1, 0, 0, 0},
      {"comment inside an entry", "*cat c *tex a *size 4 4 *crop 0 0 #1 1 n\n 2 2 m", 1, 1, 0, 1},
      {"empty", "", 0, 0, 0, 0},
      {"binary", std::string(kBinary, sizeof(kBinary) - 1), 1, 0, 0, 0},
      {"name of zero bytes", std::string("*cat \0\0ex", 9), 0, 0, 0, 1},
      {"zero byte ends a name", std::string("*cat c\0d *tex \0x *tex a\0.png", 28), 1, 1, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TexList l = parse(c.text);
    ASSERT_EQ(texlist_category_count(&l), c.categories);
    int textures = 0, crops = 0;
    for (int i = 0; i < c.categories; ++i) {
      textures += texlist_texture_count(&l, i);
      crops += texlist_crop_count(&l, i);
    }
    EXPECT_EQ(textures, c.textures);
    EXPECT_EQ(crops, c.crops);
    EXPECT_EQ(l.rejected, c.rejected);
    for (int i = 0; i < c.categories; ++i) {
      EXPECT_EQ(texlist_find_category(&l, texlist_category_name(&l, i)), &l.categories[size_t(i)]);
    }
  }
}

}  // namespace
