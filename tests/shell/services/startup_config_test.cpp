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
  const std::string c1022(1022, 'c'), c1023(1023, 'c');
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
      // After its first word a comment also ends at Ctrl-Z, a NUL or a 0xFF
      // byte, and the rest of that line is read as words. A comment word is
      // still a word: one of 1024 characters ends the reading.
      {"ctrl-z", "#note \x1aK 1\nN 2\n", {{"K", "1"}, {"N", "2"}}},
      {"NUL", std::string("#note \0K 1\nN 2\n", 15), {{"K", "1"}, {"N", "2"}}},
      {"0xFF", "#note \xffK 1\nN 2\n", {{"K", "1"}, {"N", "2"}}},
      {"0xFF after a word", "# a \xff K 1\n", {{"K", "1"}, {"a", nullptr}}},
      {"0xFF inside the comment word", "#no\xffK 1\nN 2\n", {{"K", nullptr}, {"N", "2"}}},
      {"0xFF in a value", "K a\xff" "b\n", {{"K", "a\xff" "b"}}},
      {"comment word of 1023", "#" + c1022 + "\nK 1\n", {{"K", "1"}}},
      {"comment word of 1024", "A 1\n#" + c1023 + "\nK 1\n", {{"A", "1"}, {"K", nullptr}}},
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

// Every way a comment can be written ends at its own line, whatever the line
// ends are, and the key on the next line is read.
TEST(StartupConfig, CommentFormsEndAtTheirLine) {
  const char* forms[] = {"#", "#-----", "#client-size", "# client size", "#a #b", "##"};
  const char* line_ends[] = {"\n", "\r\n", "\r"};
  TempDir t;
  for (const char* eol : line_ends) {
    const std::string e = eol;
    for (const char* form : forms) {
      const std::string f = form;
      struct {
        const char* where;
        std::string text;
      } layouts[] = {
          {"first line", f + e + "CLIENTW 700" + e + "B 2" + e},
          {"after a pair", "A 1" + e + f + e + "CLIENTW 700" + e + "B 2" + e},
          {"after a pair on its line", "A 1 " + f + e + "CLIENTW 700" + e + "B 2"},
          {"lines in a row", f + e + f + e + "CLIENTW 700" + e + "B 2" + e},
          {"before a blank line", f + e + e + "CLIENTW 700 B 2"},
      };
      for (const auto& l : layouts) {
        load_startup_config(t.file("KT52.CF", l.text));
        const char* w = get_startup_string("CLIENTW");
        EXPECT_STREQ(w ? w : "(absent)", "700") << '"' << form << "\" " << l.where << " eol " << int(e.back());
        const char* b = get_startup_string("B");
        EXPECT_STREQ(b ? b : "(absent)", "2") << '"' << form << "\" " << l.where << " eol " << int(e.back());
      }
    }
  }
  // A comment on the last line, with or without its line end, ends the file.
  for (const char* tail : {"#", "#note", "# note", "#\n", "#note\r\n"}) {
    load_startup_config(t.file("KT52.CF", std::string("A 1\n") + tail));
    EXPECT_STREQ(get_startup_string("A"), "1") << tail;
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
                              "PLUS +5\nTWICE --5\nSLASH 1/\nCOLON 9:\nSPACED 1\xa0\n"
                              "MAX 2147483647\nOVER 2147483648\nMIN -2147483648\nUNDER -2147483649\n"
                              "ZEROS 000000000000800\nNEGZERO -0\n"));
  struct {
    const char* key;
    int found;
    int value;
  } cases[] = {
      {"P", 1, 12}, {"N", 1, -5}, {"PX", 0, 0}, {"MID", 0, 0}, {"BIG", 0, 0}, {"NINE", 1, 999999999},
      {"DASH", 0, 0}, {"ABSENT", 0, 0},
      // Any number of digits whose value fits a signed 32-bit integer.
      {"TEN", 1, 1000000000}, {"NEGNINE", 1, -999999999}, {"NEGTEN", 1, -1000000000},
      {"MAX", 1, 2147483647}, {"OVER", 0, 0}, {"MIN", 1, -2147483647 - 1}, {"UNDER", 0, 0},
      {"ZEROS", 1, 800}, {"NEGZERO", 1, 0},
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
