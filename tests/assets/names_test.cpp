#include <gtest/gtest.h>

#include <string>

#include "assets/asset_names.h"

namespace {

TEST(AssetNames, BaseName) {
  const struct {
    const char* path;
    const char* base;
  } cases[] = {
      {"c:\\data\\pic.tga", "pic"},
      {"pic", "pic"},
      {"pic.png", "pic"},
      {"dir\\pic.jpg", "pic"},
      {"a/b\\c.d.e", "c"},
      {"dir.x/name", "name"},
      {"dir\\", ""},
      {"", ""},
      {nullptr, ""},
      // CP932 "ソ" ends in the byte of '\': it is part of the name.
      {"\x83\x5c.png", "\x83\x5c"},
      {"d\\\x95\x5c\x8e\xa6.bmp", "\x95\x5c\x8e\xa6"},
  };
  for (const auto& c : cases) EXPECT_EQ(copy_base_name(c.path), c.base) << (c.path ? c.path : "(null)");
  EXPECT_EQ(copy_directory("c:\\data\\pic.tga"), "c:\\data");
  EXPECT_EQ(copy_directory("pic.tga"), "");
}

TEST(AssetNames, StripTags) {
  const struct {
    const char* name;
    const char* stripped;
    uint32_t bits;
  } cases[] = {
      {"body_NRx_SPx", "body", 3},
      {"body_SPx_NRx", "body_NRx", 2},  // no tag is tried again after SPx
      {"body_NRxy", "body_NRxy", 0},
      {"body_NRx", "body", 1},
      {"body_NRx_tail", "body_tail", 1},
      {"_SPx", "", 2},
      {"plain", "plain", 0},
      {"", "", 0},
  };
  for (const auto& c : cases) {
    std::string out = "junk";
    EXPECT_EQ(strip_name_tags(&out, c.name), c.bits) << c.name;
    EXPECT_EQ(out, c.stripped) << c.name;
  }
  std::string out = "junk";
  EXPECT_EQ(strip_name_tags(&out, nullptr), 0u);
  EXPECT_EQ(out, "");
  // In place.
  std::string name = "arm_NRx_SPx";
  EXPECT_EQ(strip_name_tags(&name, name.c_str()), 3u);
  EXPECT_EQ(name, "arm");
}

TEST(AssetNames, TagsSuffixesAndJoins) {
  EXPECT_TRUE(name_has_tag("lamp_nd", "nd"));
  EXPECT_TRUE(name_has_tag("lamp_nd_x", "nd"));
  EXPECT_FALSE(name_has_tag("lamp_ndx", "nd"));
  EXPECT_FALSE(name_has_tag("lampnd", "nd"));
  EXPECT_FALSE(name_has_tag(nullptr, "nd"));
  EXPECT_EQ(replace_name_suffix("door_main", "tnd"), "door_tnd");
  EXPECT_EQ(replace_name_suffix("door", "tnd"), "door_tnd");
  EXPECT_EQ(replace_name_suffix(nullptr, "tnd"), "");
  EXPECT_EQ(join_with_underscore("tex", "normal"), "tex_normal");
  EXPECT_EQ(join_with_underscore(nullptr, "normal"), "");
}

}  // namespace
