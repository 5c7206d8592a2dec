#include "shell/services/error_log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <vector>

#include "shell/services/system_info.h"
#include "temp_dir.h"

namespace {

std::string read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// "MM/DD/YY\tHH:MM:SS\t" and three codes: 9 stands for a digit, x for a
// lower-case hexadecimal digit.
bool matches_log_format(const std::string& line) {
  const std::string mask = "99/99/99\t99:99:99\txxxxxxxx\txxxxxxxx\txxxxxxxx";
  if (line.size() != mask.size()) return false;
  for (size_t i = 0; i < mask.size(); ++i) {
    char c = line[i];
    bool digit = c >= '0' && c <= '9';
    if (mask[i] == '9' ? !digit : mask[i] == 'x' ? !(digit || (c >= 'a' && c <= 'f')) : c != mask[i]) return false;
  }
  return true;
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
  std::string text = read_all(path);
  std::vector<std::string> codes;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    EXPECT_TRUE(matches_log_format(line)) << line;
    for (size_t at : {18u, 27u, 36u}) codes.push_back(line.substr(at, 8));
  }
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
