// Shared helpers of the viewer file tests.
#pragma once

#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
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

// While it lives, this thread is held to the files' permissions as any user
// is: a root that may read every file gives up that right, so that a file
// of mode 000 cannot be read here either.
struct PermissionsHold {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct saved[2]{};
  bool dropped = false;
  PermissionsHold() {
    if (::syscall(SYS_capget, &header, saved) != 0) return;
    __user_cap_data_struct held[2] = {saved[0], saved[1]};
    held[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
    dropped = ::syscall(SYS_capset, &header, held) == 0;
  }
  ~PermissionsHold() {
    if (dropped) ::syscall(SYS_capset, &header, saved);
  }
  PermissionsHold(const PermissionsHold&) = delete;
  PermissionsHold& operator=(const PermissionsHold&) = delete;
};

// CP932 bytes of a UTF-8 literal.
inline std::string sj(const char* utf8) { return sys_utf8_to_cp932(utf8); }

// The text of the first message box with this caption (UTF-8) said on
// stderr: the rest of its first line and the lines up to the next message.
// *widest, when given, gets the width of its widest line in the box's
// columns (a CP932 byte a column). "" when no such box was said.
inline std::string said_box(const std::string& said, const std::string& caption, size_t* widest = nullptr) {
  const std::string head = "tamberlune: " + caption + ": ";
  if (widest) *widest = 0;
  size_t at = said.find(head);
  if (at == std::string::npos) return "";
  at += head.size();
  const size_t end = said.find("\ntamberlune: ", at);
  std::string text = said.substr(at, end == std::string::npos ? std::string::npos : end - at);
  if (!text.empty() && text.back() == '\n') text.pop_back();
  for (size_t start = 0; widest && start <= text.size();) {
    size_t stop = text.find('\n', start);
    if (stop == std::string::npos) stop = text.size();
    *widest = std::max(*widest, sys_utf8_to_cp932(text.substr(start, stop - start)).size());
    start = stop + 1;
  }
  return text;
}

// The lines of a box's text joined again.
inline std::string joined(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), '\n'), text.end());
  return text;
}

inline std::string read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace viewer_test
