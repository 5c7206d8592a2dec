// Shared helpers of the viewer file tests.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/sys/sys.h"

namespace viewer_test {

// A fresh folder under /tmp with a "text" folder in it, removed at the end.
struct TempDir {
  std::string path;
  TempDir() {
    char tmpl[] = "/tmp/tl_viewer_XXXXXX";
    path = ::mkdtemp(tmpl);
    ::mkdir((path + "/text").c_str(), 0755);
    // Message boxes go to stderr only.
    ::setenv("TL_MESSAGEBOX", "stderr", 1);
  }
  ~TempDir() { std::system(("rm -rf '" + path + "'").c_str()); }
  std::string write(const std::string& rel, const std::string& body) const {
    std::ofstream(path + "/" + rel, std::ios::binary) << body;
    return path + "/" + rel;
  }
};

// CP932 bytes of a UTF-8 literal.
inline std::string sj(const char* utf8) { return sys_utf8_to_cp932(utf8); }

inline std::string read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace viewer_test
