#include "platform/sys/sys.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

bool exists(const std::string& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0;
}

// Finds the entry of folder dir whose name equals name without regard to case.
bool find_nocase(const std::string& dir, const std::string& name, std::string& found) {
  DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
  if (!d) return false;
  bool ok = false;
  while (dirent* e = ::readdir(d)) {
    if (::strcasecmp(e->d_name, name.c_str()) == 0) {
      found = e->d_name;
      ok = true;
      break;
    }
  }
  ::closedir(d);
  return ok;
}

// The host spelling of a system path: '\' to '/' (on the CP932 bytes, so that
// a trail byte of 0x5C as in "ソ" or "表" is never taken for a separator),
// the drive letter dropped, then UTF-8.
std::string host_spelling(const std::string& path) {
  std::string slashed;
  slashed.reserve(path.size());
  for (size_t i = 0; i < path.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(path[i]);
    if (sys_is_cp932_lead(c) && i + 1 < path.size()) {
      slashed += path[i];
      slashed += path[++i];
    } else {
      slashed += (c == '\\') ? '/' : path[i];
    }
  }
  if (slashed.size() >= 2 && slashed[1] == ':' && std::isalpha(static_cast<unsigned char>(slashed[0])))
    slashed.erase(0, 2);
  return sys_cp932_to_utf8(slashed);
}

// The host path itself when it exists, else each missing component replaced
// by its case-insensitive match.
std::string match_case(const std::string& host) {
  if (host.empty() || exists(host)) return host;
  std::string out;
  size_t pos = 0;
  if (host[0] == '/') {
    out = "/";
    pos = 1;
  }
  while (pos <= host.size()) {
    size_t next = host.find('/', pos);
    if (next == std::string::npos) next = host.size();
    std::string comp = host.substr(pos, next - pos);
    if (!comp.empty()) {
      std::string candidate = out + comp;
      std::string found;
      if (!exists(candidate) && comp != "." && comp != ".." && find_nocase(out, comp, found)) candidate = out + found;
      out = candidate;
      if (next < host.size()) out += '/';
    } else if (next < host.size() && !out.empty() && out.back() != '/') {
      out += '/';
    }
    pos = next + 1;
  }
  return out;
}

// A host path made absolute against folder base ("" for the current one).
std::string absolute(const std::string& host, const std::string& base = "") {
  if (!host.empty() && host[0] == '/') return host;
  std::string dir = base.empty() ? sys_get_current_dir() : base;
  if (dir.empty()) return host;
  if (dir.back() != '/') dir += '/';
  size_t start = 0;
  while (host.compare(start, 2, "./") == 0) start += 2;
  return dir + host.substr(start);
}

// The part of host path `path` below host folder `dir`; false when it does
// not lie below it.
bool below(const std::string& path, std::string dir, std::string& rel) {
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  const std::string prefix = dir == "/" ? dir : dir + "/";
  if (path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0) return false;
  rel = path.substr(prefix.size());
  return true;
}

// The path with every symbolic link resolved, "" when it cannot be.
std::string real_path(const std::string& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (!real) return {};
  std::string out(real);
  std::free(real);
  return out;
}

}  // namespace

bool sys_is_host_path(const std::string& path) { return !path.empty() && path[0] == '/'; }

std::string sys_map_path(const std::string& path) {
  return match_case(sys_is_host_path(path) ? path : host_spelling(path));
}

std::string sys_host_path(const std::string& path) { return absolute(sys_map_path(path)); }

std::string sys_host_path_from_cp932(const std::string& cp932, const std::string& base_dir) {
  return match_case(absolute(host_spelling(cp932), base_dir));
}

std::string sys_join_path(const std::string& host_dir, const std::string& system_path) {
  std::string rel = host_spelling(system_path);
  if (host_dir.empty() || (!rel.empty() && rel[0] == '/')) return match_case(rel);
  std::string dir = host_dir;
  if (dir.back() != '/') dir += '/';
  return match_case(dir + rel);
}

bool sys_path_to_cp932(const std::string& path, std::string& cp932) {
  if (!sys_is_host_path(path)) {
    cp932 = path;
    return true;
  }
  if (path.find('\\') != std::string::npos) return false;
  std::string converted = sys_utf8_to_cp932(path);
  if (sys_cp932_to_utf8(converted) != path) return false;
  cp932 = std::move(converted);
  return true;
}

bool sys_stored_path(const std::string& path, const std::string& dir, std::string& cp932) {
  std::string rel;
  // A chooser may name a file through a link to the folder, or the folder
  // through a link: the same file is below it all the same.
  const bool inside = sys_is_host_path(path) && !dir.empty() &&
                      (below(path, dir, rel) || below(real_path(path), real_path(dir), rel));
  if (!inside) return sys_path_to_cp932(path, cp932);
  std::string stored;
  if (!sys_path_to_cp932("/" + rel, stored)) return false;
  // '/' is never the trail byte of a double-byte character.
  std::replace(stored.begin(), stored.end(), '/', '\\');
  cp932 = "." + stored;
  return true;
}

namespace {

// Breaks text over lines of at most `columns` bytes: after a '/' where that
// leaves the line at least half full, else between two characters, whose
// lengths `char_bytes` tells ('/' is never part of a longer one).
template <typename CharBytes>
std::string break_lines(const std::string& text, size_t columns, CharBytes char_bytes) {
  std::string out;
  size_t start = 0;
  while (text.size() - start > columns) {
    size_t end = start;
    size_t after_slash = start;
    while (end + char_bytes(end) - start <= columns) {
      end += char_bytes(end);
      if (text[end - 1] == '/') after_slash = end;
    }
    if (after_slash > start && after_slash - start >= columns / 2) end = after_slash;
    if (end == start) end += char_bytes(start);  // a character wider than a line stands alone
    out.append(text, start, end - start);
    out += '\n';
    start = end;
  }
  out.append(text, start, std::string::npos);
  return out;
}

}  // namespace

std::string sys_host_text_lines(const std::string& text, size_t columns) {
  return break_lines(text, columns, [&](size_t i) -> size_t {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    return std::min(length, text.size() - i);
  });
}

std::string sys_path_lines(const std::string& path, size_t columns) {
  if (sys_is_host_path(path)) return sys_host_text_lines(path, columns);
  return sys_cp932_to_utf8(sys_cp932_text_lines(path, columns));
}

std::string sys_cp932_text_lines(const std::string& text, size_t columns) {
  std::string out;
  size_t start = 0;
  for (;;) {
    const size_t end = std::min(text.find('\n', start), text.size());
    const std::string line = text.substr(start, end - start);
    out += break_lines(line, columns, [&](size_t i) -> size_t {
      return sys_is_cp932_lead(static_cast<unsigned char>(line[i])) && i + 1 < line.size() ? 2 : 1;
    });
    if (end == text.size()) return out;
    out += '\n';
    start = end + 1;
  }
}

std::string sys_executable_dir() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "";
  buf[n] = 0;
  std::string p(buf);
  size_t slash = p.rfind('/');
  return slash == std::string::npos ? "" : p.substr(0, slash + 1);
}

bool sys_set_current_dir(const std::string& path) { return ::chdir(sys_map_path(path).c_str()) == 0; }

std::string sys_get_current_dir() {
  std::vector<char> buf(PATH_MAX);
  if (!::getcwd(buf.data(), buf.size())) return "";
  return buf.data();
}

bool sys_is_directory(const std::string& path) {
  struct stat st;
  return ::stat(sys_map_path(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool sys_is_file(const std::string& path) {
  struct stat st;
  return ::stat(sys_map_path(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

FILE* sys_fopen(const std::string& path, const char* mode) {
  std::string host = sys_map_path(path);
  struct stat st;
  if (::stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return nullptr;
  return std::fopen(host.c_str(), mode);
}

uint64_t get_file_size(const std::string& path) {
  struct stat st;
  if (::stat(sys_map_path(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  return static_cast<uint64_t>(st.st_size);
}

bool sys_read_file(const std::string& path, std::vector<uint8_t>& out, uint64_t max_bytes) {
  FILE* f = sys_fopen(path, "rb");
  if (!f) return false;
  struct stat st;
  bool ok = ::fstat(::fileno(f), &st) == 0 && S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) <= max_bytes;
  if (ok) {
    out.resize(static_cast<size_t>(st.st_size));
    ok = out.empty() || std::fread(out.data(), 1, out.size(), f) == out.size();
  }
  std::fclose(f);
  return ok;
}

namespace {

std::string work_directory;

}  // namespace

void setup_work_directory() { setup_work_directory_from(sys_executable_dir()); }

void setup_work_directory_from(const std::string& dir) {
  if (!dir.empty()) sys_set_current_dir(dir);
  if (!sys_is_directory("./text")) sys_set_current_dir("..");
  work_directory = sys_get_current_dir();
}

const std::string& get_work_directory() { return work_directory; }
