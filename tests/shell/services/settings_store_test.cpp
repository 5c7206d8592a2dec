#include "shell/services/settings_store.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <set>
#include <sstream>

#include "temp_dir.h"

namespace {

std::string read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void write_all(const std::string& path, const std::string& body) { std::ofstream(path, std::ios::binary) << body; }

std::string le_bytes(uint32_t v) {
  return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                     static_cast<char>(v >> 24)};
}

class SettingsTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::string prefix = dir.path + "/GAME";
  std::string copy(int i) const { return prefix + std::to_string(i) + ".CFG"; }
  std::string check(int i) const { return prefix + std::to_string(i) + ".CRC"; }
  // A copy and its check file holding the CRC of body.
  void write_copy(int i, const std::string& body) {
    write_all(copy(i), body);
    write_all(check(i), le_bytes(crc32(body.data(), body.size())));
  }
  void SetUp() override { free_settings(); }
  void TearDown() override { free_settings(); }
};

TEST(SettingsCrc, KnownVectors) {
  struct {
    const char* text;
    uint32_t crc;
  } cases[] = {{"", 0}, {"abc", 0x352441C2u}, {"123456789", 0xCBF43926u}};
  for (const auto& c : cases) EXPECT_EQ(crc32(c.text, std::strlen(c.text)), c.crc) << '"' << c.text << '"';
}

TEST_F(SettingsTest, EveryValueTypeSurvivesSaveAndLoad) {
  const float kNaN = std::numeric_limits<float>::quiet_NaN();
  ASSERT_TRUE(load_settings(prefix.c_str(), nullptr, 0));
  set_setting_int("neg", -2147483647 - 1);
  set_setting_int("big", 2147483647);
  set_setting_float("tenth", 0.1f);
  set_setting_float("tiny", 1e-7f);
  set_setting_float("huge", -3.4e38f);
  set_setting_float("nan", kNaN);
  set_setting_string("spaced", "two words  and more");
  set_setting_string("empty", "");
  set_setting_string("name with space", "x");
  set_setting_string("last", "kept");
  ASSERT_TRUE(save_settings());
  free_settings();
  ASSERT_TRUE(load_settings(prefix.c_str(), nullptr, 0));

  int32_t i = 0;
  EXPECT_EQ(get_setting_int("neg", &i), 1);
  EXPECT_EQ(i, -2147483647 - 1);
  EXPECT_EQ(get_setting_int_or("big", 0), 2147483647);
  struct {
    const char* name;
    float value;
  } floats[] = {{"tenth", 0.1f}, {"tiny", 1e-7f}, {"huge", -3.4e38f}};
  for (const auto& f : floats) {
    float v = 0;
    EXPECT_EQ(get_setting_float(f.name, &v), 1) << f.name;
    EXPECT_EQ(v, f.value) << f.name << " comes back bit for bit";
  }
  float n = 0;
  EXPECT_EQ(get_setting_float("nan", &n), 1);
  EXPECT_TRUE(std::isnan(n));
  struct {
    const char* name;
    const char* text;
  } texts[] = {{"spaced", "two words  and more"}, {"empty", ""}, {"name with space", "x"}, {"last", "kept"}};
  for (const auto& t : texts) {
    ASSERT_NE(get_setting_string(t.name), nullptr) << t.name;
    EXPECT_STREQ(get_setting_string(t.name), t.text) << t.name;
  }
  EXPECT_EQ(get_setting_count(), 10) << "no stray entries from split text values";
}

TEST_F(SettingsTest, FirstValidCopyWinsAndDamageFallsBack) {
  // Per case: how copy 0 and copy 1 are left, and the value that loads.
  enum Damage { GOOD, FLIPPED_BYTE, NO_CHECK, SHORT_CHECK, LONG_CHECK, MISSING, TRUNCATED };
  struct {
    Damage d0, d1;
    int32_t expect;  // 7 default, 100 copy 0, 200 copy 1
  } cases[] = {
      {GOOD, GOOD, 100},         {FLIPPED_BYTE, GOOD, 200}, {NO_CHECK, GOOD, 200}, {SHORT_CHECK, GOOD, 200},
      {MISSING, GOOD, 200},      {TRUNCATED, GOOD, 200},    {GOOD, MISSING, 100},  {FLIPPED_BYTE, NO_CHECK, 7},
      {MISSING, MISSING, 7},     {TRUNCATED, SHORT_CHECK, 7},
      {LONG_CHECK, GOOD, 100},  // the check is its first four bytes
  };
  const int32_t seven = 7;
  const SettingKeyDef table[] = {{"life", SETTING_INT, &seven, 1}};
  for (const auto& c : cases) {
    free_settings();
    for (int i = 0; i < 2; ++i) {
      std::remove(copy(i).c_str());
      std::remove(check(i).c_str());
      std::string body = std::string("life\t0\t") + (i == 0 ? "100" : "200") + "\n";
      write_copy(i, body);
      switch (i == 0 ? c.d0 : c.d1) {
        case GOOD: break;
        case FLIPPED_BYTE: write_all(copy(i), "life\t0\t900\n"); break;
        case NO_CHECK: std::remove(check(i).c_str()); break;
        case SHORT_CHECK: write_all(check(i), read_all(check(i)).substr(0, 3)); break;
        case LONG_CHECK: write_all(check(i), read_all(check(i)) + "tail"); break;
        case TRUNCATED: write_all(copy(i), body.substr(0, 8)); break;
        case MISSING:
          // A missing copy has CRC 0; a zero check file must not make it valid.
          std::remove(copy(i).c_str());
          write_all(check(i), le_bytes(0));
          break;
      }
    }
    ASSERT_TRUE(load_settings(prefix.c_str(), table, 1));
    EXPECT_EQ(get_setting_int_or("life", -1), c.expect) << "case " << c.d0 << "," << c.d1;
    for (int i = 0; i < 2; ++i) {
      std::string body = read_all(copy(i));
      EXPECT_EQ(read_all(check(i)), le_bytes(crc32(body.data(), body.size()))) << "both copies rewritten valid";
      EXPECT_EQ(body, "life\t0\t" + std::to_string(c.expect) + "\n");
    }
  }
}

TEST_F(SettingsTest, BadFilesAreRefusedOrSkippedLineByLine) {
  struct {
    const char* what;
    std::string body;
    bool oversize;
    int32_t expect_a;  // -1: key absent
  } cases[] = {
      {"binary", std::string("a\t0\t5\n\0\xff\x01\n", 11), false, -1},
      {"oversized", "a\t0\t5\n", true, -1},
      {"bad type word", "a\tx\t5\nb\t0\t1\n", false, -1},
      {"unknown type", "a\t9\t5\n", false, -1},
      {"int with junk", "a\t0\t5x\n", false, -1},
      {"no tabs", "a 0 5\n", false, -1},
      {"empty name", "\t0\t5\n", false, -1},
      {"good line after bad ones", "junk\n\t\t\na\t1\t\na\t0\t5", false, 5},
      {"crlf line ends", "a\t0\t6\r\n", false, 6},
  };
  for (const auto& c : cases) {
    free_settings();
    std::string body = c.body;
    if (c.oversize) body += std::string(SETTINGS_FILE_MAX_BYTES, '#');
    write_copy(0, body);
    std::remove(copy(1).c_str());
    std::remove(check(1).c_str());
    ASSERT_TRUE(load_settings(prefix.c_str(), nullptr, 0)) << c.what;
    EXPECT_EQ(get_setting_int_or("a", -1), c.expect_a) << c.what;
  }
}

TEST_F(SettingsTest, SavedNumbersIgnoreTheLocale) {
  const char* old = std::setlocale(LC_NUMERIC, nullptr);
  std::string saved = old ? old : "C";
  if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) {
    // Build a decimal-comma locale into the test folder when none is installed.
    std::string cmd = "localedef -i de_DE -f UTF-8 '" + dir.path + "/de_DE.UTF-8' >/dev/null 2>&1";
    if (std::system(cmd.c_str()) == 0) ::setenv("LOCPATH", dir.path.c_str(), 1);
  }
  bool comma = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
  ::unsetenv("LOCPATH");
  if (!comma) GTEST_SKIP() << "no locale with a decimal comma";
  ASSERT_STREQ(std::localeconv()->decimal_point, ",");
  ASSERT_TRUE(load_settings(prefix.c_str(), nullptr, 0));
  set_setting_float("f", 1.5f);
  ASSERT_TRUE(save_settings());
  std::string body = read_all(copy(0));
  free_settings();
  write_copy(0, "g\t1\t2.25\n");
  load_settings(prefix.c_str(), nullptr, 0);
  float g = 0;
  EXPECT_EQ(get_setting_float("g", &g), 1);
  std::setlocale(LC_NUMERIC, saved.c_str());
  EXPECT_EQ(body, "f\t1\t1.5\n");
  EXPECT_EQ(g, 2.25f);
}

TEST_F(SettingsTest, DefaultsFillOnlyMissingKeysAndResetsFollowTheFlag) {
  write_copy(0, "sndvol\t0\t3\ngunf\t0\t9\n");
  const SettingKeyDef* table = get_settings_key_table();
  int count = get_settings_key_count();
  ASSERT_EQ(count, 66);
  ASSERT_TRUE(load_settings(prefix.c_str(), table, count));
  EXPECT_EQ(get_setting_int_or("sndvol", -1), 3) << "a loaded key keeps its value";
  EXPECT_EQ(get_setting_int_default("sndvol"), 16);
  EXPECT_EQ(get_setting_int_or("ioacmax", -1), 44000) << "a missing key takes its default";
  EXPECT_EQ(get_setting_count(), 66);
  set_setting_int("gunf", 5);  // not flagged
  set_setting_int("life", 1);  // flagged
  ASSERT_TRUE(reset_flagged_settings(table, count));
  EXPECT_EQ(get_setting_int_or("sndvol", -1), 16);
  EXPECT_EQ(get_setting_int_or("life", -1), 7);
  EXPECT_EQ(get_setting_int_or("gunf", -1), 5);
  // The partial reset spares exactly the device, network, alarm and
  // calibration keys; every other key returns to its default.
  const std::set<std::string> spared = {
      "ioacmax", "ioacmin", "iobrmax", "iobrmin", "iostmax", "iostmin", "ioabcflag", "iostcflag", "networkid",
      "al0",     "al1",     "al2",     "al3",     "gunf",    "c1f",     "c2f",       "c11x",      "c11y",
      "c12x",    "c12y",    "c13x",    "c13y",    "c14x",    "c14y",    "c15x",      "c15y",      "c21x",
      "c21y",    "c22x",    "c22y",    "c23x",    "c23y",    "c24x",    "c24y",      "c25x",      "c25y"};
  for (int i = 0; i < count; ++i) set_setting_int(table[i].name, 12345);
  ASSERT_TRUE(reset_flagged_settings(table, count));
  int kept = 0;
  for (int i = 0; i < count; ++i) {
    const bool spare = spared.count(table[i].name) != 0;
    kept += spare;
    EXPECT_EQ(get_setting_int_or(table[i].name, -1), spare ? 12345 : get_setting_int_default(table[i].name))
        << table[i].name;
  }
  EXPECT_EQ(kept, int(spared.size()));
  ASSERT_TRUE(reset_all_settings(table, count));
  EXPECT_EQ(get_setting_int_or("gunf", -1), 0);
  set_setting_int("godiff", 9);
  EXPECT_EQ(reset_setting_int("godiff"), 3);
  EXPECT_EQ(get_setting_int_or("godiff", -1), 3);

  // Rows of every type: a missing key takes its default as value and as
  // default; a loaded one keeps its value and takes the default.
  free_settings();
  write_copy(0, "speed\t1\t0.5\n");
  const float quarter = 0.25f, two = 2.0f;
  const SettingKeyDef typed[] = {{"speed", SETTING_FLOAT, &quarter, 1},
                                 {"gain", SETTING_FLOAT, &two, 0},
                                 {"title", SETTING_TEXT, "KT", 1}};
  ASSERT_TRUE(load_settings(prefix.c_str(), typed, 3));
  float f = 0;
  EXPECT_EQ(get_setting_float("speed", &f), 1);
  EXPECT_EQ(f, 0.5f);
  EXPECT_EQ(get_setting_float("gain", &f), 1);
  EXPECT_EQ(f, 2.0f);
  EXPECT_STREQ(get_setting_string("title"), "KT");
  EXPECT_EQ(std::get<float>(find_setting("speed")->default_value), 0.25f);
  EXPECT_EQ(std::get<std::string>(find_setting("title")->default_value), "KT");
  set_setting_float("gain", 9.0f);
  set_setting_string("title", "other");
  ASSERT_TRUE(reset_flagged_settings(typed, 3));
  EXPECT_EQ(get_setting_float("speed", &f), 1);
  EXPECT_EQ(f, 0.25f);
  EXPECT_EQ(get_setting_float("gain", &f), 1);
  EXPECT_EQ(f, 9.0f) << "not flagged";
  EXPECT_STREQ(get_setting_string("title"), "KT");
  EXPECT_EQ(read_all(copy(1)), read_all(copy(0))) << "the reset is saved to both copies";
  EXPECT_EQ(read_all(copy(0)), "speed\t1\t0.25\ngain\t1\t9\ntitle\t2\tKT\n");
}

TEST_F(SettingsTest, QueriesAndRetyping) {
  int32_t out = 42;
  EXPECT_EQ(get_setting_int("golng", &out), 0);
  EXPECT_EQ(out, 42) << "a missing key leaves the caller's value";
  EXPECT_EQ(get_setting_int("golng", nullptr), 0);

  set_setting_int("k", 5);
  set_setting_string("k", "now text");
  EXPECT_EQ(get_setting_int("k", &out), 0);
  EXPECT_STREQ(get_setting_string("k"), "now text");
  set_setting_float("k", 2.5f);
  EXPECT_EQ(get_setting_string("k"), nullptr);
  float f = 0;
  EXPECT_EQ(get_setting_float("k", &f), 1);
  EXPECT_EQ(f, 2.5f);
  EXPECT_EQ(reset_setting_int("k"), 0) << "not an integer key";
  EXPECT_EQ(get_setting_int_default("k"), 0);
  EXPECT_EQ(find_setting("K"), nullptr) << "names compare with case";
  const int n = get_setting_count();
  ASSERT_GT(n, 0);
  EXPECT_EQ(get_setting_at(-1), nullptr);
  EXPECT_NE(get_setting_at(0), nullptr);
  EXPECT_NE(get_setting_at(n - 1), nullptr);
  EXPECT_EQ(get_setting_at(n), nullptr) << "one past the last entry";

  // Names and texts that could not come back from the file are refused.
  EXPECT_FALSE(set_setting_int("", 1));
  EXPECT_FALSE(set_setting_int("a\tb", 1));
  EXPECT_FALSE(set_setting_string("t", "line\nbreak"));
  EXPECT_FALSE(set_setting_string("t", nullptr));
  EXPECT_EQ(find_setting("t"), nullptr);
  EXPECT_FALSE(save_settings()) << "nothing to save to before a load";
  ASSERT_TRUE(set_setting_int_default("only_default", 4));
  EXPECT_EQ(get_setting_int("only_default", &out), 0) << "a default is no value";
  EXPECT_EQ(settings_to_text().find("only_default"), std::string::npos) << "a key without a value is not written";
  add_setting_entry("x\ny")->value = 3;
  EXPECT_EQ(settings_to_text().find('y'), std::string::npos) << "an entry no line can hold is not written";
}

TEST_F(SettingsTest, FileHelpers) {
  write_all(copy(0), "abc");
  EXPECT_EQ(shell_get_file_size(copy(0)), 3u);
  EXPECT_EQ(shell_get_file_size(copy(1)), 0u);
  ASSERT_TRUE(write_settings_crc(copy(0), check(0)));
  EXPECT_EQ(read_all(check(0)), le_bytes(0x352441C2u));
  EXPECT_FALSE(write_settings_crc(copy(1), check(1)));
  EXPECT_TRUE(flush_file_to_disk(copy(0)));
  EXPECT_FALSE(flush_file_to_disk(copy(1)));
  EXPECT_EQ(shell_get_file_size(copy(1)), 0u) << "flushing never creates a file";
}

}  // namespace
