#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "shell/services/startup_config.h"
#include "temp_dir.h"

namespace {

struct Expect {
  const char* key;
  const char* value;  // null: absent
};

struct ConfigCase {
  const char* name;
  std::string text;
  std::vector<Expect> expect;
};

TEST(StartupConfig, Grammar) {
  const std::string v126(126, 'v'), v127(127, 'v'), w1024(1024, 'w'), k126(126, 'k'), k127(127, 'k');
  std::string sixty_five;
  for (int i = 0; i < 65; ++i) sixty_five.append("K").append(std::to_string(i)).append(" ").append(std::to_string(i)).append("\n");

  const ConfigCase cases[] = {
      {"pairs across lines and on one line", "REGION\nJ CLIENTW 800 CLIENTH 600\n",
       {{"REGION", "J"}, {"CLIENTW", "800"}, {"CLIENTH", "600"}}},
      {"first of a repeated key wins", "A 1\nA 2\n", {{"A", "1"}}},
      {"comment line keeps its pair out", "# REGION J\nSFEXT .wav\n", {{"REGION", nullptr}, {"SFEXT", ".wav"}}},
      {"'#' inside a word is no comment", "KEY va#lue\n", {{"KEY", "va#lue"}}},
      {"'#' in value position is a value", "KEY #note\n", {{"KEY", "#note"}}},
      {"CRLF line ends", "A 1\r\nB 2\r\n# c\r\nC 3\r\n", {{"A", "1"}, {"B", "2"}, {"C", "3"}}},
      {"value of 126 accepted", "K " + v126 + "\nN 1\n", {{"K", v126.c_str()}, {"N", "1"}}},
      {"value of 127 ends the reading", "A 1\nK " + v127 + "\nN 1\n", {{"A", "1"}, {"K", nullptr}, {"N", nullptr}}},
      {"key of 126 accepted", k126 + " 5\nN 1\n", {{k126.c_str(), "5"}, {"N", "1"}}},
      {"key of 127 ends the reading", "A 1\n" + k127 + " 5\nN 1\n", {{"A", "1"}, {"N", nullptr}}},
      {"word of 1024 ends the reading", "A 1\n" + w1024 + " x\nN 1\n", {{"A", "1"}, {"N", nullptr}}},
      {"the 65th pair is never read", sixty_five, {{"K63", "63"}, {"K64", nullptr}}},
      {"key without a value at the end", "A 1\nLONELY", {{"A", "1"}, {"LONELY", nullptr}}},
      {"binary bytes are words like any", std::string("A \x01\xff\x80\n\0B 2\n", 12), {{"A", "\x01\xff\x80"}}},
      {"keys are case-sensitive", "region J\n", {{"REGION", nullptr}, {"region", "J"}}},
  };
  for (const ConfigCase& c : cases) {
    TempDir t;
    load_startup_config(t.file("KT52.CF", c.text));
    for (const Expect& e : c.expect) {
      const char* got = get_startup_string(e.key);
      if (e.value)
        EXPECT_STREQ(got, e.value) << c.name << ": " << e.key;
      else
        EXPECT_EQ(got, nullptr) << c.name << ": " << e.key;
    }
  }
}

TEST(StartupConfig, AbsentFileOrFolderLeavesEveryKeyAbsent) {
  TempDir t;
  load_startup_config(t.file("KT52.CF", "A 1\n"));
  ASSERT_NE(get_startup_string("A"), nullptr);
  load_startup_config(t.path + "/missing.cf");
  EXPECT_EQ(get_startup_string("A"), nullptr);
  ::mkdir((t.path + "/dir.cf").c_str(), 0755);
  load_startup_config(t.path + "/dir.cf");
  EXPECT_EQ(get_startup_string("A"), nullptr);
}

TEST(StartupConfig, IntegersAreStrictDecimal) {
  TempDir t;
  load_startup_config(t.file("KT52.CF",
                              "P 12\nN -5\nPX 800px\nMID 1-2\nBIG 99999999999\nNINE 999999999\nDASH -\n"
                              "TEN 1000000000\nNEGNINE -999999999\nNEGTEN -1000000000\nZERO 0\nLEAD 007\n"
                              "PLUS +5\nTWICE --5\nSLASH 1/\nCOLON 9:\nSPACED 1\xa0\n"));
  struct {
    const char* key;
    int found;
    int value;
  } cases[] = {
      {"P", 1, 12}, {"N", 1, -5}, {"PX", 0, 0}, {"MID", 0, 0}, {"BIG", 0, 0}, {"NINE", 1, 999999999},
      {"DASH", 0, 0}, {"ABSENT", 0, 0},
      // Nine digits at most, the sign not counted.
      {"TEN", 0, 0}, {"NEGNINE", 1, -999999999}, {"NEGTEN", 0, 0},
      {"ZERO", 1, 0}, {"LEAD", 1, 7},
      // Only '-' signs, once; the characters either side of the digits are no digits.
      {"PLUS", 0, 0}, {"TWICE", 0, 0}, {"SLASH", 0, 0}, {"COLON", 0, 0}, {"SPACED", 0, 0},
  };
  for (const auto& c : cases) {
    int v = 77;
    EXPECT_EQ(get_startup_int(c.key, &v), c.found) << c.key;
    EXPECT_EQ(v, c.value) << c.key;
    EXPECT_EQ(get_startup_int_or(c.key, -1), c.found ? c.value : -1) << c.key;
  }
}

}  // namespace
