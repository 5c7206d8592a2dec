#include <fcntl.h>
#include <linux/futex.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "platform/sys/sys.h"

namespace {

// Byte locks are locks of the open file description, not of the process, so
// that two openings in one process exclude each other and the kernel drops
// them when the last descriptor of the opening closes, also at a crash.
// A length of 0 covers every byte from index on.
bool byte_lock(int fd, int command, short type, uint32_t index, short* found = nullptr, off_t length = 1) {
  struct flock l {};
  l.l_type = type;
  l.l_whence = SEEK_SET;
  l.l_start = off_t(index);
  l.l_len = length;
  int r;
  do {
    r = ::fcntl(fd, command, &l);
  } while (r != 0 && errno == EINTR && command == F_OFD_SETLKW);
  if (found) *found = l.l_type;
  return r == 0;
}

}  // namespace

bool sys_shared_open(SysSharedMemory* m, const std::string& name, size_t size, bool create) {
  *m = SysSharedMemory{};
  if (name.empty()) {
    void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return false;
    m->data = p;
    m->size = size;
    return true;
  }
  const int fd = ::shm_open(name.c_str(), O_RDWR | (create ? O_CREAT : 0), 0600);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0;
  // Two makers may both find it empty; both then give it the same size.
  if (ok && st.st_size == 0 && create) {
    ok = ::ftruncate(fd, off_t(size)) == 0;
  } else if (ok) {
    ok = st.st_size == off_t(size);
  }
  void* p = ok ? ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0) : MAP_FAILED;
  if (p == MAP_FAILED) {
    ::close(fd);
    return false;
  }
  m->fd = fd;
  m->data = p;
  m->size = size;
  return true;
}

void sys_shared_close(SysSharedMemory* m) {
  if (m->data) ::munmap(m->data, m->size);
  // Released by hand: a child forked meanwhile shares the opening, and its
  // copy of the descriptor would otherwise keep the locks held.
  if (m->fd >= 0) byte_lock(m->fd, F_OFD_SETLK, F_UNLCK, 0, nullptr, 0);
  if (m->fd >= 0) ::close(m->fd);
  *m = SysSharedMemory{};
}

void sys_shared_unlink(const std::string& name) { ::shm_unlink(name.c_str()); }

bool sys_shared_unlink_stale(const std::string& name, size_t size) {
  const int fd = ::shm_open(name.c_str(), O_RDWR, 0);
  if (fd < 0) return false;
  struct stat st {};
  // Any byte lock of any opening, over the whole object, counts as a user.
  short found = F_WRLCK;
  const bool stale = ::fstat(fd, &st) == 0 && st.st_size != 0 && st.st_size != off_t(size) &&
                     byte_lock(fd, F_OFD_GETLK, F_WRLCK, 0, &found, 0) && found == F_UNLCK;
  if (stale) ::shm_unlink(name.c_str());
  ::close(fd);
  return stale;
}

bool sys_shared_linked(const SysSharedMemory& m) {
  if (m.fd < 0) return true;
  struct stat st {};
  return ::fstat(m.fd, &st) == 0 && st.st_nlink > 0;
}

bool sys_shared_try_lock(const SysSharedMemory& m, uint32_t index) {
  return m.fd < 0 || byte_lock(m.fd, F_OFD_SETLK, F_WRLCK, index);
}

bool sys_shared_share_lock(const SysSharedMemory& m, uint32_t index) {
  return m.fd < 0 || byte_lock(m.fd, F_OFD_SETLK, F_RDLCK, index);
}

bool sys_shared_lock(const SysSharedMemory& m, uint32_t index) {
  return m.fd < 0 || byte_lock(m.fd, F_OFD_SETLKW, F_WRLCK, index);
}

void sys_shared_unlock(const SysSharedMemory& m, uint32_t index) {
  if (m.fd >= 0) byte_lock(m.fd, F_OFD_SETLK, F_UNLCK, index);
}

bool sys_shared_locked_elsewhere(const SysSharedMemory& m, uint32_t index) {
  if (m.fd < 0) return false;
  short found = F_UNLCK;
  // A byte that cannot be asked about counts as held: nothing is taken from
  // a holder that may still be there.
  return !byte_lock(m.fd, F_OFD_GETLK, F_WRLCK, index, &found) || found != F_UNLCK;
}

bool sys_futex_wait(uint32_t* word, uint32_t expected, uint32_t timeout_ms) {
  const struct timespec t {
    time_t(timeout_ms / 1000), long(timeout_ms % 1000) * 1000000L
  };
  // The word is not marked private: waiters and wakers may be in different
  // processes. A changed word or a signal ends the sleep early.
  if (::syscall(SYS_futex, word, FUTEX_WAIT, expected, &t, nullptr, 0) == 0) return true;
  return errno != ETIMEDOUT;
}

void sys_futex_wake(uint32_t* word, int count) { ::syscall(SYS_futex, word, FUTEX_WAKE, count, nullptr, nullptr, 0); }

uint32_t sys_user_id() { return uint32_t(::getuid()); }

uint32_t sys_process_id() { return uint32_t(::getpid()); }
