#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/sys/sys.h"

namespace {

// A fresh folder under /tmp, removed at the end of the test.
struct TempDir {
  std::string path;
  TempDir() {
    char tmpl[] = "/tmp/tl_sys_XXXXXX";
    path = ::mkdtemp(tmpl);
  }
  ~TempDir() { std::system(("rm -rf '" + path + "'").c_str()); }
  void write(const std::string& rel, const std::string& body) const { std::ofstream(path + "/" + rel) << body; }
};

TEST(Sys, RandomSequenceMatchesTheRuntimeGenerator) {
  sys_rand_reset();
  // The first values of the classic generator with seed 1.
  const int expected[] = {41, 18467, 6334, 26500, 19169};
  for (int v : expected) EXPECT_EQ(sys_rand(), v);
  sys_rand_reset();
  EXPECT_EQ(sys_rand(), 41);
}

TEST(Sys, PathsMapSeparatorsDrivesAndCaseButNotTrailBytes) {
  TempDir t;
  ::mkdir((t.path + "/Bin").c_str(), 0755);
  t.write("Bin/KT52.CF", "x");
  // "ソ" is 0x83 0x5C in CP932: its trail byte is not a separator.
  const std::string so_cp932 = "\x83\x5C";
  const std::string so_utf8 = "\xE3\x82\xBD";
  t.write(so_utf8 + ".txt", "y");

  struct Case {
    std::string in, out;
  } cases[] = {
      {t.path + "\\Bin\\KT52.CF", t.path + "/Bin/KT52.CF"},
      {t.path + "/bin/kt52.cf", t.path + "/Bin/KT52.CF"},
      {"C:" + t.path + "\\bin\\KT52.CF", t.path + "/Bin/KT52.CF"},
      {t.path + "\\" + so_cp932 + ".txt", t.path + "/" + so_utf8 + ".txt"},
      {t.path + "/missing/file", t.path + "/missing/file"},
  };
  for (const Case& c : cases) EXPECT_EQ(sys_map_path(c.in), c.out) << c.in;
}

TEST(Sys, FileSizeCountsRegularFilesOnly) {
  TempDir t;
  t.write("five", "12345");
  ::mkdir((t.path + "/folder").c_str(), 0755);
  EXPECT_EQ(get_file_size(t.path + "/five"), 5u);
  EXPECT_EQ(get_file_size(t.path + "/folder"), 0u);
  EXPECT_EQ(get_file_size(t.path + "/absent"), 0u);
  EXPECT_EQ(sys_fopen(t.path + "/folder", "rb"), nullptr);

  std::vector<uint8_t> bytes;
  EXPECT_TRUE(sys_read_file(t.path + "/five", bytes));
  EXPECT_EQ(bytes.size(), 5u);
  EXPECT_FALSE(sys_read_file(t.path + "/five", bytes, 4)) << "over the limit is refused";
  EXPECT_TRUE(sys_read_file(t.path + "/five", bytes, 5)) << "a file of the limit itself is read";
  EXPECT_EQ(bytes.size(), 5u);
  EXPECT_FALSE(sys_read_file(t.path + "/folder", bytes));
}

TEST(Sys, AtomicWriteReplacesWholeOrNothing) {
  TempDir t;
  t.write("target", "old");
  ASSERT_TRUE(sys_write_file_atomic(t.path + "/target", "new!", 4));
  EXPECT_EQ(get_file_size(t.path + "/target"), 4u);
  EXPECT_FALSE(sys_write_file_atomic(t.path + "/no/such/folder/x", "a", 1));
  EXPECT_EQ(get_file_size(t.path + "/target.tmp"), 0u);
}

TEST(Sys, Cp932RoundTripKeepsBackslashAndTilde) {
  const std::string cp932 = "a\\b~\x82\xa0";  // "a\b~あ"
  EXPECT_EQ(sys_cp932_to_utf8(cp932), "a\\b~\xE3\x81\x82");
  EXPECT_EQ(sys_utf8_to_cp932(sys_cp932_to_utf8(cp932)), cp932);
  EXPECT_EQ(sys_cp932_to_utf8("\x82"), "?") << "a lone lead byte";
}

}  // namespace
