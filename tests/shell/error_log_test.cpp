#include "shell/error_log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <sstream>

#include "shell/system_info.h"
#include "temp_dir.h"

namespace {

std::string read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool exists(const std::string& path) { return std::ifstream(path).good(); }

TEST(ErrorLog, LinesAppendInTheLogFormat) {
  TempDir dir;
  std::string path = dir.path + "/ERR.LOG";
  free_error_log_path();
  EXPECT_FALSE(write_error_log(1, 2, 3)) << "no path set";

  set_error_log_path(path.c_str());
  EXPECT_TRUE(write_error_log(0x1, 0xDEADBEEF, 0));
  EXPECT_TRUE(write_error_log(0xffffffff, 0x00abc000, 7));
  const std::regex line(R"(\d\d/\d\d/\d\d\t\d\d:\d\d:\d\d\t([0-9a-f]{8})\t([0-9a-f]{8})\t([0-9a-f]{8})\n)");
  std::string text = read_all(path);
  std::vector<std::string> codes;
  for (std::sregex_iterator it(text.begin(), text.end(), line), end; it != end; ++it)
    for (int g = 1; g <= 3; ++g) codes.push_back((*it)[g]);
  EXPECT_EQ(codes, (std::vector<std::string>{"00000001", "deadbeef", "00000000", "ffffffff", "00abc000", "00000007"}))
      << text;
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);

  // After the path is dropped (even twice) a write does nothing.
  free_error_log_path();
  free_error_log_path();
  EXPECT_EQ(get_error_log_path(), nullptr);
  EXPECT_FALSE(write_error_log(4, 5, 6));
  EXPECT_EQ(read_all(path), text);
}

TEST(ErrorLog, MissingFolderMakesNothing) {
  TempDir dir;
  std::string path = dir.path + "/no/such/ERR.LOG";
  set_error_log_path(path.c_str());
  EXPECT_FALSE(write_error_log(1, 2, 3));
  EXPECT_FALSE(exists(path));
  set_error_log_path(nullptr);
  EXPECT_EQ(get_error_log_path(), nullptr);
}

TEST(SystemInfo, MemoryFigures) {
  uint64_t total = get_total_phys_memory();
  EXPECT_GT(total, 0u);
  EXPECT_LE(get_avail_phys_memory(), total);
  EXPECT_EQ(get_sysinfo_value(), 0);
  EXPECT_EQ(get_sysinfo_value_2(), 0);
}

}  // namespace
