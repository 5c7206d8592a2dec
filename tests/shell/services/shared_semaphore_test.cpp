#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "platform/sys/sys.h"
#include "shell/services/shared_semaphore.h"

namespace {

// The numbers the semaphore calls give back, as callers compare them.
constexpr uint32_t kTimeout = 258;
constexpr uint32_t kInvalid = 87;

// Named semaphores of a test run live in a scope of its own (set up by the
// tests' main), so parallel runs never meet; a test ends with nothing of that
// scope left in /dev/shm.
class SharedSemaphores : public ::testing::Test {
 protected:
  const std::string scope = std::getenv("TL_TEST_SEMAPHORE_SCOPE");

  void TearDown() override { EXPECT_EQ(entries(), std::vector<std::string>{}); }

  // The objects of this scope in /dev/shm.
  std::vector<std::string> entries() const {
    std::vector<std::string> found;
    DIR* d = ::opendir("/dev/shm");
    if (!d) return found;
    const std::string suffix = "." + scope;
    while (dirent* e = ::readdir(d)) {
      const std::string n = e->d_name;
      if (n.size() > suffix.size() && n.compare(n.size() - suffix.size(), suffix.size(), suffix) == 0)
        found.push_back(n);
    }
    ::closedir(d);
    std::sort(found.begin(), found.end());
    return found;
  }

  // The objects those names lead to.
  std::vector<ino_t> objects() const {
    std::vector<ino_t> found;
    for (const std::string& n : entries()) {
      struct stat st {};
      found.push_back(::stat(("/dev/shm/" + n).c_str(), &st) == 0 ? st.st_ino : 0);
    }
    return found;
  }
};

// A forked process running part of a test. It talks through two pipes, one
// byte at a time, uses no GoogleTest (its reports belong to the parent) and
// ends with _exit, its status saying whether its part went as expected.
class Child {
 public:
  template <typename Body>
  explicit Child(Body body) {
    int down[2], up[2];
    if (::pipe(down) != 0 || ::pipe(up) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(down[1]);
      ::close(up[0]);
      in_ = down[0];
      out_ = up[1];
      ::_exit(body(*this) ? 0 : 1);
    }
    ::close(down[0]);
    ::close(up[1]);
    out_ = down[1];
    in_ = up[0];
  }
  ~Child() {
    if (pid_ > 0) kill();
    ::close(in_);
    ::close(out_);
  }
  bool started() const { return pid_ > 0; }
  void tell(char c) const { (void)!::write(out_, &c, 1); }
  // The next byte from the other side; 0 when it has gone or, in the parent,
  // said nothing for 10 seconds (a protocol that hangs).
  char hear() const {
    pollfd p{in_, POLLIN, 0};
    char c = 0;
    if (pid_ != 0 && ::poll(&p, 1, 10000) != 1) return 0;
    return ::read(in_, &c, 1) == 1 ? c : 0;
  }
  // True when the child ended normally with success.
  bool finish() {
    int status = 0;
    const bool ok = ::waitpid(pid_, &status, 0) == pid_ && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    pid_ = -1;
    return ok;
  }
  void kill() {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int in_ = -1, out_ = -1;
};

TEST_F(SharedSemaphores, MutexBetweenTwoThreads) {
  SharedSemaphore* s = create_shared_semaphore(1, 1, "sound");
  ASSERT_NE(s, nullptr);
  long counter = 0;
  auto work = [&] {
    for (int i = 0; i < 100000; ++i) {
      ASSERT_EQ(wait_shared_semaphore(s, SHARED_SEMAPHORE_INFINITE), 0u);
      ++counter;
      ASSERT_EQ(release_shared_semaphore(s, 1, nullptr), 1);
    }
  };
  std::thread a(work), b(work);
  a.join();
  b.join();
  EXPECT_EQ(counter, 200000);
  close_shared_semaphore(s);
}

TEST_F(SharedSemaphores, SameNameSharesTheCountAndGoesWithItsLastUser) {
  EXPECT_EQ(open_shared_semaphore("disp"), nullptr);
  EXPECT_EQ(entries(), std::vector<std::string>{});
  SharedSemaphore* a = create_shared_semaphore(1, 1, "disp");
  // Made again, the name keeps its count: this initial 0 changes nothing.
  SharedSemaphore* b = create_shared_semaphore(0, 1, "disp");
  SharedSemaphore* c = open_shared_semaphore("disp");
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(entries(), (std::vector<std::string>{"QMX_MSECT_EVT_disp." + scope, "QMX_MSECT_MMF_disp." + scope}));
  ASSERT_EQ(wait_shared_semaphore(b, 0), 0u);
  EXPECT_EQ(wait_shared_semaphore(a, 10), kTimeout);
  EXPECT_EQ(wait_shared_semaphore(c, 0), kTimeout);
  int previous = -1;
  EXPECT_EQ(release_shared_semaphore(c, 1, &previous), 1);
  EXPECT_EQ(previous, 0);
  EXPECT_EQ(wait_shared_semaphore(a, 0), 0u);
  close_shared_semaphore(a);
  close_shared_semaphore(b);
  EXPECT_EQ(entries().size(), 2u);
  close_shared_semaphore(c);
  EXPECT_EQ(open_shared_semaphore("disp"), nullptr);
}

TEST_F(SharedSemaphores, Refusals) {
  struct {
    int initial, maximum;
    const char* name;
    bool ok;
    uint32_t error;
  } cases[] = {
      {1, 1, "sixteen_chars_ok", true, 0},
      {1, 1, "seventeen_chars_x", false, kInvalid},
      {2, 1, nullptr, false, kInvalid},
      {-1, 1, nullptr, false, kInvalid},
      {0, 0, nullptr, false, kInvalid},
      {0, 3, nullptr, true, 0},
      // A name the shared-memory namespace cannot hold makes nothing.
      {1, 1, "a/b", false, 0},
  };
  for (const auto& c : cases) {
    sys_set_last_error(0);
    SharedSemaphore* s = create_shared_semaphore(c.initial, c.maximum, c.name);
    EXPECT_EQ(s != nullptr, c.ok) << c.initial << "/" << c.maximum;
    EXPECT_EQ(sys_get_last_error(), c.error) << c.initial << "/" << c.maximum;
    close_shared_semaphore(s);
  }
  EXPECT_EQ(open_shared_semaphore(nullptr), nullptr);
  EXPECT_EQ(open_shared_semaphore("seventeen_chars_x"), nullptr);
}

TEST_F(SharedSemaphores, ReleasingAFullSemaphoreFailsAndKeepsTheCount) {
  SharedSemaphore* s = create_shared_semaphore(1, 1, nullptr);
  int previous = -1;
  sys_set_last_error(0);
  EXPECT_EQ(release_shared_semaphore(s, 1, &previous), 0);
  EXPECT_EQ(previous, 1);
  EXPECT_EQ(sys_get_last_error(), kInvalid);
  EXPECT_EQ(release_shared_semaphore(s, -1, nullptr), 0);
  EXPECT_EQ(wait_shared_semaphore(s, 0), 0u);
  EXPECT_EQ(wait_shared_semaphore(s, 20), kTimeout);
  close_shared_semaphore(s);
}

TEST_F(SharedSemaphores, ReleaseRaisesTheCountUpToItsMaximumOnly) {
  SharedSemaphore* s = create_shared_semaphore(1, 3, "count");
  ASSERT_NE(s, nullptr);
  // A count that would pass the largest integer is refused like any other.
  EXPECT_EQ(release_shared_semaphore(s, INT32_MAX, nullptr), 0);
  EXPECT_EQ(release_shared_semaphore(s, 3, nullptr), 0);
  int previous = -1;
  EXPECT_EQ(release_shared_semaphore(s, 2, &previous), 1);
  EXPECT_EQ(previous, 1);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(wait_shared_semaphore(s, 0), 0u) << i;
  EXPECT_EQ(wait_shared_semaphore(s, 0), kTimeout);
  close_shared_semaphore(s);
}

TEST_F(SharedSemaphores, ANameServesAtMost64HandlesAtOnce) {
  std::vector<SharedSemaphore*> handles;
  for (int i = 0; i < 64; ++i) handles.push_back(create_shared_semaphore(1, 1, "many"));
  EXPECT_EQ(std::count(handles.begin(), handles.end(), nullptr), 0);
  EXPECT_EQ(create_shared_semaphore(1, 1, "many"), nullptr);
  close_shared_semaphore(handles.back());
  handles.back() = create_shared_semaphore(1, 1, "many");
  EXPECT_NE(handles.back(), nullptr);
  for (SharedSemaphore* h : handles) close_shared_semaphore(h);
}

TEST_F(SharedSemaphores, ObjectsLeftBehindAreTakenUpOrLeftAlone) {
  // What a maker that ended right after making the section object leaves (an
  // event and an empty section), and sections of another size (a build that
  // laid them out otherwise), unused or still in use.
  const struct {
    const char* what;
    off_t section_size;
    bool in_use;
    bool made;
  } cases[] = {
      {"half made", 0, false, true},
      {"another size", 1568, false, true},
      {"another size in use", 1568, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    int section = -1;
    for (const char* kind : {"EVT", "MMF"}) {
      const std::string name = std::string("/QMX_MSECT_") + kind + "_half." + scope;
      const int fd = ::shm_open(name.c_str(), O_CREAT | O_RDWR, 0600);
      ASSERT_GE(fd, 0);
      ASSERT_EQ(::ftruncate(fd, kind[0] == 'E' ? off_t(sizeof(uint32_t)) : c.section_size), 0);
      if (kind[0] == 'M') section = fd;
      else ::close(fd);
    }
    if (c.in_use) {
      struct flock held = {.l_type = F_WRLCK, .l_whence = SEEK_SET, .l_start = 3, .l_len = 1, .l_pid = 0};
      ASSERT_EQ(::fcntl(section, F_OFD_SETLK, &held), 0);
    }
    EXPECT_EQ(open_shared_semaphore("half"), nullptr);
    SharedSemaphore* s = create_shared_semaphore(1, 1, "half");
    EXPECT_EQ(s != nullptr, c.made);
    if (s) {
      EXPECT_EQ(wait_shared_semaphore(s, 0), 0u);
      EXPECT_EQ(wait_shared_semaphore(s, 0), kTimeout);
      close_shared_semaphore(s);
    }
    ::close(section);
    for (const char* kind : {"EVT", "MMF"}) ::shm_unlink(("/QMX_MSECT_" + std::string(kind) + "_half." + scope).c_str());
  }
}

TEST_F(SharedSemaphores, MutexBetweenProcesses) {
  // Read and written in separate steps, so that rounds that overlap lose
  // counts.
  struct Shared {
    std::atomic<long> counter;
    std::atomic<int> inside, overlaps;
  };
  void* block = ::mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(block, MAP_FAILED);
  Shared* shared = new (block) Shared{};
  // Held open for many rounds, or made and closed in every round by four
  // processes, so that processes join while the last user leaves and the
  // names come and go under them; every make and wait must succeed.
  const struct {
    int rounds;
    bool reopen;
    int children;
  } cases[] = {{20000, false, 2}, {1000, true, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reopen ? "made and closed in every round" : "held open");
    shared->counter = 0;
    // Every eighth round yields inside: without exclusion another process
    // then runs between the read and the write.
    auto rounds = [shared, c] {
      SharedSemaphore* s = nullptr;
      bool ok = true;
      for (int i = 0; ok && i < c.rounds; ++i) {
        if (!s) s = create_shared_semaphore(1, 1, "sound");
        ok = s && wait_shared_semaphore(s, SHARED_SEMAPHORE_INFINITE) == 0;
        if (!ok) break;
        if (shared->inside.exchange(1)) shared->overlaps.fetch_add(1);
        const long v = shared->counter.load();
        if (i % 8 == 0) sys_yield();
        shared->counter.store(v + 1);
        shared->inside.store(0);
        ok = release_shared_semaphore(s, 1, nullptr) == 1;
        if (c.reopen) {
          close_shared_semaphore(s);
          s = nullptr;
        }
      }
      close_shared_semaphore(s);
      return ok;
    };
    auto body = [&rounds](Child& self) {
      self.tell('r');
      return self.hear() == 'g' && rounds();
    };
    std::vector<std::unique_ptr<Child>> children;
    for (int i = 0; i < c.children; ++i) {
      children.push_back(std::make_unique<Child>(body));
      ASSERT_TRUE(children.back()->started());
      ASSERT_EQ(children.back()->hear(), 'r');
    }
    for (const auto& child : children) child->tell('g');
    EXPECT_TRUE(rounds());
    for (const auto& child : children) EXPECT_TRUE(child->finish());
    EXPECT_EQ(shared->counter.load(), (c.children + 1) * c.rounds);
    EXPECT_EQ(shared->overlaps.load(), 0);
    EXPECT_EQ(entries(), std::vector<std::string>{});
  }
  ::munmap(shared, sizeof(Shared));
}

TEST_F(SharedSemaphores, AReleaseInOneProcessWakesAWaiterInTheOther) {
  // Two count-0 semaphores passed back and forth: in every round a waiter in
  // one process is woken by a release in the other. Were a wake-up lost, the
  // waiter would go on only at its next periodic look at the count, and the
  // rounds would take minutes instead of milliseconds.
  constexpr int kRounds = 2000;
  SharedSemaphore* ping = create_shared_semaphore(0, 1, "ping");
  SharedSemaphore* pong = create_shared_semaphore(0, 1, "pong");
  ASSERT_NE(ping, nullptr);
  ASSERT_NE(pong, nullptr);
  Child child([](Child& self) {
    // The names exist: their counts stay 0 whatever this asks for.
    SharedSemaphore* in = create_shared_semaphore(1, 1, "ping");
    SharedSemaphore* out = create_shared_semaphore(1, 1, "pong");
    bool ok = in && out;
    self.tell('r');
    for (int i = 0; ok && i < kRounds; ++i)
      ok = wait_shared_semaphore(in, SHARED_SEMAPHORE_INFINITE) == 0 && release_shared_semaphore(out, 1, nullptr) == 1;
    close_shared_semaphore(in);
    close_shared_semaphore(out);
    return ok;
  });
  ASSERT_TRUE(child.started());
  ASSERT_EQ(child.hear(), 'r');
  EXPECT_EQ(wait_shared_semaphore(pong, 0), kTimeout);
  for (int i = 0; i < kRounds; ++i) {
    ASSERT_EQ(release_shared_semaphore(ping, 1, nullptr), 1);
    ASSERT_EQ(wait_shared_semaphore(pong, SHARED_SEMAPHORE_INFINITE), 0u);
  }
  EXPECT_TRUE(child.finish());
  // The child took every unit passed to it.
  EXPECT_EQ(wait_shared_semaphore(ping, 0), kTimeout);
  close_shared_semaphore(ping);
  close_shared_semaphore(pong);
}

TEST_F(SharedSemaphores, AProcessKilledHoldingTheSemaphoreDoesNotHangTheOther) {
  enum Holds { UNIT, SPIN_LOCK };
  const struct {
    Holds holds;
    bool joins_after;         // the test opens the name only once the holder is dead
    uint32_t waits_again_ms;  // the second wait of the handle holding the unit given back
  } cases[] = {{UNIT, false, 0}, {SPIN_LOCK, false, 0}, {UNIT, true, 0}, {SPIN_LOCK, true, 0},
               // Long enough for the wait to look for ended holders: its own
               // unit is not one of theirs.
               {UNIT, true, 300}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.holds == UNIT ? "unit" : "spin lock") + (c.joins_after ? ", joins after" : "") +
                 ", waits again " + std::to_string(c.waits_again_ms) + " ms");
    SharedSemaphore* s = c.joins_after ? nullptr : create_shared_semaphore(1, 1, "sound");
    Child child([holds = c.holds](Child& self) {
      SharedSemaphore* mine = create_shared_semaphore(1, 1, "sound");
      if (!mine) return false;
      if (holds == UNIT && wait_shared_semaphore(mine, SHARED_SEMAPHORE_INFINITE) != 0) return false;
      if (holds == SPIN_LOCK) lock_semaphore_section(mine);
      self.tell('h');
      self.hear();  // killed while waiting here
      return false;
    });
    ASSERT_TRUE(child.started());
    ASSERT_EQ(child.hear(), 'h');
    if (s && c.holds == UNIT) {
      EXPECT_EQ(wait_shared_semaphore(s, 0), kTimeout);
    }
    child.kill();
    if (!s) s = create_shared_semaphore(1, 1, "sound");
    ASSERT_NE(s, nullptr);
    // Would never return if the ended process kept its unit or its lock; a
    // joiner has the unit back at once.
    EXPECT_EQ(wait_shared_semaphore(s, c.joins_after ? 0u : uint32_t(SHARED_SEMAPHORE_INFINITE)), 0u);
    EXPECT_EQ(wait_shared_semaphore(s, c.waits_again_ms), kTimeout);
    // Given back once: the count is at its maximum again after one release.
    EXPECT_EQ(release_shared_semaphore(s, 1, nullptr), 1);
    EXPECT_EQ(release_shared_semaphore(s, 1, nullptr), 0);
    close_shared_semaphore(s);
  }
}

TEST_F(SharedSemaphores, NamesOutliveEveryUserButTheLast) {
  // Whichever closes last removes the names, also when the other was killed
  // or ended without shutting down (leaving its names as it ends, holding a
  // unit), and also when it closes while the other has left so but not yet
  // ended; a make that fails (no address space left to map the objects)
  // removes nothing.
  enum Ends {
    CHILD_CLOSES_FIRST,
    PARENT_CLOSES_FIRST,
    CHILD_KILLED,
    CHILD_ENDS_FIRST,
    PARENT_CLOSES_BEFORE_CHILD_ENDS,
    PARENT_CLOSES_WHILE_CHILD_ENDS,
    CHILD_CANNOT_MAP
  };
  for (Ends ends : {CHILD_CLOSES_FIRST, PARENT_CLOSES_FIRST, CHILD_KILLED, CHILD_ENDS_FIRST,
                    PARENT_CLOSES_BEFORE_CHILD_ENDS, PARENT_CLOSES_WHILE_CHILD_ENDS, CHILD_CANNOT_MAP}) {
    SCOPED_TRACE(ends);
    SharedSemaphore* s = create_shared_semaphore(1, 1, "disp");
    ASSERT_NE(s, nullptr);
    const std::vector<ino_t> made = objects();
    Child child([ends](Child& self) {
      if (ends == CHILD_CANNOT_MAP) {
        // What the make allocates besides its mappings comes from the heap.
        std::free(std::malloc(1 << 16));
        unsigned long pages = 0;
        std::FILE* statm = std::fopen("/proc/self/statm", "r");
        const bool read = statm && std::fscanf(statm, "%lu", &pages) == 1;
        if (statm) std::fclose(statm);
        const rlimit none_more{pages * ::sysconf(_SC_PAGESIZE), pages * ::sysconf(_SC_PAGESIZE)};
        if (!read || ::setrlimit(RLIMIT_AS, &none_more) != 0) return false;
        self.tell(create_shared_semaphore(1, 1, "disp") ? 'o' : 'x');
        if (self.hear() != 'c') return false;
        self.tell('c');
        return true;
      }
      SharedSemaphore* mine = create_shared_semaphore(1, 1, "disp");
      self.tell(mine ? 'o' : 'x');
      if (self.hear() != 'c') return false;
      if (ends == CHILD_CLOSES_FIRST || ends == PARENT_CLOSES_FIRST) {
        close_shared_semaphore(mine);
      } else {
        if (wait_shared_semaphore(mine, SHARED_SEMAPHORE_INFINITE) != 0) return false;
        shared_semaphore_leave_all();
      }
      self.tell('c');
      return ends != PARENT_CLOSES_WHILE_CHILD_ENDS || self.hear() == 'e';
    });
    ASSERT_TRUE(child.started());
    ASSERT_EQ(child.hear(), ends == CHILD_CANNOT_MAP ? 'x' : 'o');
    if (ends == PARENT_CLOSES_FIRST || ends == PARENT_CLOSES_BEFORE_CHILD_ENDS) {
      close_shared_semaphore(s);
      s = nullptr;
      EXPECT_EQ(entries().size(), 2u);
    }
    if (ends == CHILD_KILLED) {
      child.kill();
    } else {
      child.tell('c');
      EXPECT_EQ(child.hear(), 'c');
      if (ends == PARENT_CLOSES_WHILE_CHILD_ENDS) {
        close_shared_semaphore(s);
        s = nullptr;
        child.tell('e');
      }
      EXPECT_TRUE(child.finish());
    }
    if (s) {
      EXPECT_EQ(entries().size(), 2u);
      EXPECT_EQ(objects(), made) << "the names lead elsewhere";
      EXPECT_EQ(wait_shared_semaphore(s, SHARED_SEMAPHORE_INFINITE), 0u);
      close_shared_semaphore(s);
    }
    EXPECT_EQ(entries(), std::vector<std::string>{});
  }
}

// A child of the test below reports each step of joining and leaving and
// goes on only when told.
Child* stepping = nullptr;

void report_step(SharedSemaphoreStep at) {
  static const char letters[] = {'G', 'B', 'S', 'U'};
  stepping->tell(letters[at]);
  stepping->hear();
}

TEST_F(SharedSemaphores, JoiningAndLeavingNeverActInsideEachOther) {
  // Two processes, one held at a step of joining or leaving while the other
  // acts: whichever comes last must end up on the objects the names reach. A
  // move starts a join ('j') or a leave ('l'), or goes on with the one held
  // (0), until the process reaches the step to hold at ('G' taking the gate,
  // 'B' finding it held by the other, 'S' taking its slot, 'U' removing the
  // names) or is done.
  struct Move {
    int who;
    char command, hold;
  };
  const struct {
    const char* what;
    std::vector<Move> moves;
  } cases[] = {
      {"the last user leaves before a joiner takes the gate", {{0, 'j', 0}, {1, 'j', 'G'}, {0, 'l', 0}, {1, 0, 0}}},
      {"the last user leaves while a joiner takes its slot",
       {{0, 'j', 0}, {1, 'j', 'S'}, {0, 'l', 'B'}, {1, 0, 0}, {0, 0, 0}}},
      {"a joiner comes while the last user removes the names",
       {{0, 'j', 0}, {0, 'l', 'U'}, {1, 'j', 'B'}, {0, 0, 0}, {1, 0, 0}}},
  };
  auto body = [](Child& self) {
    stepping = &self;
    shared_semaphore_set_step_hook(report_step);
    SharedSemaphore* s = nullptr;
    for (;;) {
      const char command = self.hear();
      if (command == 'j') {
        s = create_shared_semaphore(1, 1, "gate");
        self.tell(s ? 'J' : 'X');
      } else if (command == 'l') {
        close_shared_semaphore(s);
        s = nullptr;
        self.tell('L');
      } else {
        return true;
      }
    }
  };
  auto is_step = [](char c) { return c != 0 && std::strchr("GBSU", c) != nullptr; };
  // Sends a command, or the go-on to a held step, then answers every step
  // until the child holds at `hold` or is done: the letter where it stopped.
  auto drive = [is_step](Child& child, char command, char hold) {
    child.tell(command);
    for (;;) {
      const char at = child.hear();
      if (at == hold || !is_step(at)) return at;
      child.tell('g');
    }
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Child a(body), b(body);
    Child* children[] = {&a, &b};
    char held[] = {0, 0};
    for (const Move& m : c.moves) {
      if (m.command || is_step(held[m.who]))
        held[m.who] = drive(*children[m.who], m.command ? m.command : 'g', m.hold);
    }
    EXPECT_EQ(held[0], 'L');
    ASSERT_EQ(held[1], 'J');
    EXPECT_EQ(entries(), (std::vector<std::string>{"QMX_MSECT_EVT_gate." + scope, "QMX_MSECT_MMF_gate." + scope}));
    EXPECT_EQ(drive(b, 'l', 0), 'L');
    for (Child* child : children) {
      child->tell('q');
      EXPECT_TRUE(child->finish());
    }
  }
}

TEST_F(SharedSemaphores, AnUnnamedSemaphoreStaysInItsProcess) {
  SharedSemaphore* s = create_shared_semaphore(1, 1, nullptr);
  ASSERT_NE(s, nullptr);
  Child child([s](Child& self) {
    self.tell(wait_shared_semaphore(s, 0) == 0 ? 't' : 'x');
    return true;
  });
  ASSERT_TRUE(child.started());
  EXPECT_EQ(child.hear(), 't');
  EXPECT_TRUE(child.finish());
  EXPECT_EQ(wait_shared_semaphore(s, 0), 0u);
  close_shared_semaphore(s);
}

}  // namespace
