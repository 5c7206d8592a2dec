// Whole files written so that a failure never harms the file that was there,
// and a file replaced keeps who may read and write it.
#include "platform/sys/sys.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>

namespace {

// Creates a file of a short name in folder ("" or ending in '/') for
// writing: the target's own name plus a suffix could pass the file system's
// 255-byte limit on a name. O_EXCL makes it this writer's alone; the mode is
// the one fopen would give the target.
int open_temporary(const std::string& folder, std::string& tmp) {
  const std::string stem = folder + ".tl" + std::to_string(::getpid()) + "-";
  for (int i = 0; i < 100; ++i) {
    tmp = stem + std::to_string(i) + ".tmp";
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

bool write_all(int fd, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = EIO;  // a write that takes nothing would never end
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// The names of the extended attributes of the file at path (or open on fd
// when path is ""); a file system without them has none.
bool attribute_names(const std::string& path, int fd, std::vector<std::string>& names) {
  names.clear();
  std::vector<char> list;
  for (;;) {
    const ssize_t size = path.empty() ? ::flistxattr(fd, nullptr, 0) : ::listxattr(path.c_str(), nullptr, 0);
    if (size < 0) return errno == ENOTSUP;
    list.resize(static_cast<size_t>(size));
    const ssize_t got = path.empty() ? ::flistxattr(fd, list.data(), list.size())
                                     : ::listxattr(path.c_str(), list.data(), list.size());
    if (got >= 0) {
      list.resize(static_cast<size_t>(got));
      break;
    }
    if (errno != ERANGE) return false;  // ERANGE: the list grew meanwhile
  }
  for (size_t at = 0; at < list.size();) {
    const size_t end = std::find(list.begin() + static_cast<std::ptrdiff_t>(at), list.end(), '\0') - list.begin();
    if (end > at) names.emplace_back(list.data() + at, end - at);
    at = end + 1;
  }
  return true;
}

// The value of one attribute of the file at path (or open on fd when path is
// "").
bool attribute_value(const std::string& path, int fd, const std::string& name, std::string& value) {
  for (;;) {
    const ssize_t size = path.empty() ? ::fgetxattr(fd, name.c_str(), nullptr, 0)
                                      : ::getxattr(path.c_str(), name.c_str(), nullptr, 0);
    if (size < 0) return false;
    value.resize(static_cast<size_t>(size));
    const ssize_t got = path.empty() ? ::fgetxattr(fd, name.c_str(), value.data(), value.size())
                                     : ::getxattr(path.c_str(), name.c_str(), value.data(), value.size());
    if (got >= 0) {
      value.resize(static_cast<size_t>(got));
      return true;
    }
    if (errno != ERANGE) return false;
  }
}

// Gives the new file open on fd who may read and write it as the file at
// old_path has it: owner and group, permissions, then the extended
// attributes exactly as there (the access control list among them, as
// system.posix_acl_access, after the permissions: setting the list sets the
// group's bits to its mask). An attribute the folder gave the new file (an
// access list from the folder's default one) goes unless the old file has
// it. False when any of it cannot be given: only the old file itself then
// keeps them all.
bool keep_access(int fd, const std::string& old_path, const struct stat& old) {
  if (::fchown(fd, old.st_uid, old.st_gid) != 0) return false;
  std::vector<std::string> wanted, given;
  if (!attribute_names(old_path, -1, wanted) || !attribute_names("", fd, given)) return false;
  for (const std::string& name : given)
    if (std::find(wanted.begin(), wanted.end(), name) == wanted.end() && ::fremovexattr(fd, name.c_str()) != 0)
      return false;
  if (::fchmod(fd, old.st_mode & 0777) != 0) return false;
  for (const std::string& name : wanted) {
    std::string value, there;
    if (!attribute_value(old_path, -1, name, value)) return false;
    // One the system gave the new file as it is (a security label) is not
    // set again: this user may not have the right to.
    if (attribute_value("", fd, name, there) && there == value) continue;
    if (::fsetxattr(fd, name.c_str(), value.data(), value.size(), 0) != 0) return false;
  }
  return true;
}

// Writes the file at host itself, which keeps its owner, group, permissions,
// attributes and hard links. Room for the whole of it is reserved first
// (beyond its end too, its size unchanged), so that a full disk refuses it
// before a byte changes.
bool write_in_place(const std::string& host, const void* data, size_t size, SysWriteError& e) {
  e.fault = SYS_WRITE_IN_PLACE;
  const int fd = ::open(host.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) {
    e.error = errno;
    return false;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    e.error = errno;
  } else if (!S_ISREG(st.st_mode)) {
    e.error = EINVAL;  // no longer the file it was: nothing of it is written
  } else if (size > 0 && ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size)) != 0) {
    e.error = errno;
  } else {
    e.fault = SYS_WRITE_PART_WRITTEN;
    if (!write_all(fd, data, size) || ::ftruncate(fd, static_cast<off_t>(size)) != 0 || ::fsync(fd) != 0)
      e.error = errno;
  }
  if (::close(fd) != 0 && e.error == 0) e.error = errno;
  if (e.error == 0) e.fault = SYS_WRITE_FOLDER;
  return e.error == 0;
}

// Writes a new file beside the target and renames it over it; false with
// *in_place set where the file there must be written in place instead. A
// sticky folder (as /tmp) lets only a file's owner, or one who may act as
// its owner, replace it: a new file given another user's file's owner and
// permissions needs that right too, so such a file is written in place.
bool write_beside(const std::string& host, const struct stat* old, const void* data, size_t size, SysWriteError& e,
                  bool* in_place) {
  const std::string folder = host.substr(0, host.rfind('/') + 1);
  std::string tmp;
  const int fd = open_temporary(folder, tmp);
  if (fd < 0) {
    e.error = errno;
    return false;
  }
  // A new file keeps the mode open gave it, the user's umask applied.
  *in_place = old && !keep_access(fd, host, *old);
  if (!*in_place && (!write_all(fd, data, size) || ::fsync(fd) != 0)) e.error = errno;
  if (::close(fd) != 0 && e.error == 0) e.error = errno;
  if (!*in_place && e.error == 0 && std::rename(tmp.c_str(), host.c_str()) != 0) e.error = errno;
  if (*in_place || e.error != 0) ::unlink(tmp.c_str());
  return !*in_place && e.error == 0;
}

}  // namespace

std::string sys_write_target(const std::string& path) {
  // As many links as the system itself follows before it gives up.
  constexpr int kMaxLinks = 40;
  std::string host = sys_map_path(path);
  for (int links = 0; links <= kMaxLinks; ++links) {
    struct stat st;
    if (::lstat(host.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return host;
    std::vector<char> buf(static_cast<size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1);
    const ssize_t n = ::readlink(host.c_str(), buf.data(), buf.size());
    // A link that changed meanwhile, or cannot be read: the write meets it.
    if (n <= 0 || static_cast<size_t>(n) >= buf.size()) return host;
    const std::string target(buf.data(), static_cast<size_t>(n));
    host = target[0] == '/' ? target : host.substr(0, host.rfind('/') + 1) + target;
  }
  return {};
}

bool sys_write_file(const std::string& path, const void* data, size_t size, SysWriteError* error) {
  SysWriteError e;
  const std::string host = sys_write_target(path);
  struct stat old;
  const bool replaces = !host.empty() && ::stat(host.c_str(), &old) == 0 && S_ISREG(old.st_mode);
  bool in_place = false;
  if (host.empty()) {
    e.error = ELOOP;
  } else if (replaces && ::faccessat(AT_FDCWD, host.c_str(), W_OK, AT_EACCESS) != 0) {
    e.error = errno;
    e.fault = old.st_uid == ::geteuid() ? SYS_WRITE_READ_ONLY : SYS_WRITE_OTHERS_FILE;
  } else if (!write_beside(host, replaces ? &old : nullptr, data, size, e, &in_place) && in_place) {
    write_in_place(host, data, size, e);
  }
  if (error) *error = e;
  return e.error == 0;
}
