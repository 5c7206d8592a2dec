#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "platform/sys/sys.h"
#include "temp_dir.h"

namespace {

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
  t.file("Bin/KT52.CF", "x");
  // "ソ" is 0x83 0x5C in CP932: its trail byte is not a separator.
  const std::string so_cp932 = "\x83\x5C";
  const std::string so_utf8 = "\xE3\x82\xBD";
  t.file(so_utf8 + ".txt", "y");

  struct Case {
    std::string in, out;
  } cases[] = {
      {"C:" + t.path + "\\Bin\\KT52.CF", t.path + "/Bin/KT52.CF"},
      {t.path + "/bin/kt52.cf", t.path + "/Bin/KT52.CF"},
      {"C:" + t.path + "\\bin\\KT52.CF", t.path + "/Bin/KT52.CF"},
      {"C:" + t.path + "\\" + so_cp932 + ".txt", t.path + "/" + so_utf8 + ".txt"},
      {t.path + "/missing/file", t.path + "/missing/file"},
      {t.path + "//bin//kt52.cf", t.path + "/Bin/KT52.CF"},  // doubled separators fold to one
  };
  for (const Case& c : cases) EXPECT_EQ(sys_map_path(c.in), c.out) << c.in;
}

// Paths from the operating system stay in its encoding: a folder named with
// accents, kana and a space must be entered, joined and stored without being
// converted a second time.
TEST(Sys, HostPathsAreNeverConvertedAgain) {
  TempDir t;
  const std::string dir = t.path + "/zo\xC3\xAB \xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88";  // "zoë テスト"
  ASSERT_EQ(::mkdir(dir.c_str(), 0755), 0);
  ::mkdir((dir + "/Text").c_str(), 0755);
  std::ofstream(dir + "/Text/a.txt") << "x";
  const std::string so_cp932 = "\x83\x5C";  // "ソ"
  std::ofstream(dir + "/Text/\xE3\x82\xBD.txt") << "y";

  struct Case {
    const char* what;
    std::string got, want;
  } cases[] = {
      {"host path as it is", sys_map_path(dir + "/Text/a.txt"), dir + "/Text/a.txt"},
      {"host path, other case", sys_map_path(dir + "/text/A.TXT"), dir + "/Text/a.txt"},
      {"system path below a host folder", sys_join_path(dir, "text\\" + so_cp932 + ".txt"),
       dir + "/Text/\xE3\x82\xBD.txt"},
      {"system path below a host folder, trailing slash", sys_join_path(dir + "/", ".\\Text\\a.txt"),
       dir + "/./Text/a.txt"},
      {"stored CP932 path that begins with '/'", sys_host_path_from_cp932(t.path + "/" + so_cp932),
       t.path + "/\xE3\x82\xBD"},
      {"stored relative path below a host folder, not the current one",
       sys_host_path_from_cp932(".\\text\\" + so_cp932 + ".txt", dir), dir + "/Text/\xE3\x82\xBD.txt"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.want) << c.what;

  const std::string cwd = sys_get_current_dir();
  // The program started from that folder takes it as its working folder.
  setup_work_directory_from(dir + "/");
  EXPECT_EQ(get_work_directory(), dir);
  EXPECT_EQ(sys_get_current_dir(), dir);
  EXPECT_TRUE(sys_is_directory(".\\text"));
  EXPECT_EQ(sys_host_path(".\\text\\a.txt"), dir + "/Text/a.txt");
  ASSERT_TRUE(sys_set_current_dir(cwd));
}

// A path below the folder given is stored relative to it, and then only
// what lies below the folder must be writable in CP932; any other path is
// stored whole.
TEST(Sys, OnlyPathsCP932CanWriteAreStored) {
  const std::string deep = "/" + std::string(300, 'd');
  struct Case {
    std::string in;
    bool ok;
    std::string out;
    std::string dir = "";  // the folder paths below it are stored relative to
  } cases[] = {
      {"/home/caf\xC3\xA9/a.txt", false, "unchanged"},  // CP932 has no accented Latin letters
      {"/home/\xE3\x83\x86/a.txt", true, "/home/\x83\x65/a.txt"},
      {"/home/\xF0\x9F\x98\x80/a.txt", false, "unchanged"},  // an emoji
      {".\\text\\\x83\x5C.txt", true, ".\\text\\\x83\x5C.txt"},  // a system path stays as it is
      {"/home/a\\b.txt", false, "unchanged"},  // read back, the '\' would be a separator
      {"/home/j\xC3\xBCrgen/prog/text/a.txt", true, ".\\text\\a.txt", "/home/j\xC3\xBCrgen/prog"},
      {"/home/j\xC3\xBCrgen/prog/text/a.txt", true, ".\\text\\a.txt", "/home/j\xC3\xBCrgen/prog/"},
      {"/home/w/text/\xE3\x82\xBD.txt", true, ".\\text\\\x83\x5C.txt", "/home/w"},
      {deep + "/text/a.txt", true, ".\\text\\a.txt", deep},
      {"/home/w/text/caf\xC3\xA9.txt", false, "unchanged", "/home/w"},
      {"/home/w/text/a\\b.txt", false, "unchanged", "/home/w"},
      {"/home/w2/a.txt", true, "/home/w2/a.txt", "/home/w"},  // beside the folder, not in it
      {"/home/j\xC3\xBCrgen/a.txt", false, "unchanged", "/home/j\xC3\xBCrgen/prog"},
  };
  for (const Case& c : cases) {
    std::string out = "unchanged";
    EXPECT_EQ(c.dir.empty() ? sys_path_to_cp932(c.in, out) : sys_stored_path(c.in, c.dir, out), c.ok) << c.in;
    EXPECT_EQ(out, c.out) << c.in;
  }
  // Broken over lines for a message box: after a '/' that leaves the line at
  // least half full, else at the width, never inside a character.
  EXPECT_EQ(sys_path_lines("/a/bcdefghijk", 8), "/a/bcdef\nghijk");
  EXPECT_EQ(sys_host_text_lines("\xE3\x83\x86\xE3\x83\x86.sav", 5), "\xE3\x83\x86\n\xE3\x83\x86.s\nav");
  // A name shown as the file system spells it, the letters CP932 cannot
  // write too; a system path in UTF-8.
  EXPECT_EQ(sys_path_lines("/x/gr\xC3\xBC\xC3\x9F" "e.txt", 80), "/x/gr\xC3\xBC\xC3\x9F" "e.txt");
  EXPECT_EQ(sys_path_lines(".\\text\\\x83\x5C.txt", 80), ".\\text\\\xE3\x82\xBD.txt");
  EXPECT_EQ(sys_path_lines("/tmp/abcdefgh", 8), "/tmp/\nabcdefgh");
  // A line quoted from a file: never broken inside a double-byte character,
  // its own line breaks kept.
  EXPECT_EQ(sys_cp932_text_lines("#" + std::string(9, 'a'), 4), "#aaa\naaaa\naa");
  EXPECT_EQ(sys_cp932_text_lines("a\x83\x65\x83\x65", 4), "a\x83\x65\n\x83\x65");
  EXPECT_EQ(sys_cp932_text_lines("abcde\nfg", 4), "abcd\ne\nfg");
}

TEST(Sys, FileSizeCountsRegularFilesOnly) {
  TempDir t;
  t.file("five", "12345");
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

// The names in a folder, in order.
std::vector<std::string> folder_names(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// The extended attributes of the file at path (through links), by name.
std::map<std::string, std::string> attributes(const std::string& path) {
  std::map<std::string, std::string> out;
  std::string names(4096, '\0');
  const ssize_t size = ::listxattr(path.c_str(), names.data(), names.size());
  for (size_t at = 0; size > 0 && at < static_cast<size_t>(size); at = names.find('\0', at) + 1) {
    const std::string name = names.c_str() + at;
    std::string value(4096, '\0');
    const ssize_t n = ::getxattr(path.c_str(), name.c_str(), value.data(), value.size());
    out[name] = value.substr(0, n < 0 ? 0 : static_cast<size_t>(n));
  }
  return out;
}

// An access control list as the kernel holds it: entries of a tag, the
// permissions and a user's or group's id (none for the owner, the group,
// the mask and the others).
std::string acl(std::initializer_list<std::array<uint32_t, 3>> entries) {
  std::string out = {2, 0, 0, 0};
  for (const auto& [tag, perm, id] : entries)
    for (uint32_t v : {tag | perm << 16, id}) out.append(reinterpret_cast<const char*>(&v), 4);
  return out;
}
constexpr uint32_t kNoId = 0xFFFFFFFF;

// Whatever the target's name, up to the file system's 255 bytes, the
// temporary file beside it fits, and none is left behind.
// A file replaced keeps its permissions, access control list and extended
// attributes, and gets none that the folder gives a new file; a new one
// gets those of any new file, the umask applied. A symbolic link is written
// through, to the file it names (a relative target read from the link's
// own folder, a chain of links followed to its end, a dangling link's
// target made), and stays a link; the permissions kept are the target's.
TEST(Sys, AtomicWriteReplacesWholeOrNothing) {
  TempDir t;
  t.file("target", "old");
  t.file("private", "old");
  t.file("shared", "old");
  ::chmod((t.path + "/private").c_str(), 0600);
  ::chmod((t.path + "/shared").c_str(), 0664);
  // 0600 with an entry that lets user 4321 read and write, and an attribute
  // of its own, and 0640 without either, in a folder whose default list
  // gives user 4322 more.
  ::mkdir((t.path + "/listed").c_str(), 0755);
  ::chmod(t.file("listed/acl", "old").c_str(), 0600);
  ::chmod(t.file("listed/plain", "old").c_str(), 0640);
  const std::string listed_acl = acl({{1, 6, kNoId}, {2, 6, 4321}, {4, 0, kNoId}, {0x10, 6, kNoId}, {0x20, 0, kNoId}});
  const bool acls = ::setxattr((t.path + "/listed/acl").c_str(), "system.posix_acl_access", listed_acl.data(),
                               listed_acl.size(), 0) == 0 &&
                    ::setxattr((t.path + "/listed/acl").c_str(), "user.note", "kept", 4, 0) == 0;
  const std::string folder_acl = acl({{1, 7, kNoId}, {2, 7, 4322}, {4, 5, kNoId}, {0x10, 7, kNoId}, {0x20, 5, kNoId}});
  ::setxattr((t.path + "/listed").c_str(), "system.posix_acl_default", folder_acl.data(), folder_acl.size(), 0);
  ::mkdir((t.path + "/other").c_str(), 0755);
  t.file("other/linked", "old");
  ::chmod((t.path + "/other/linked").c_str(), 0640);
  ::symlink("other/linked", (t.path + "/link").c_str());
  ::symlink("link", (t.path + "/chain").c_str());
  ::symlink("../private", (t.path + "/other/up").c_str());
  ::symlink((t.path + "/other/up").c_str(), (t.path + "/absolute").c_str());
  ::symlink("other/made", (t.path + "/dangling").c_str());
  ::symlink("loop", (t.path + "/loop").c_str());
  const mode_t mask = ::umask(0);
  ::umask(mask);
  const std::string longest(255, 'n');
  struct Case {
    std::string name;
    bool ok;
    int error;
    mode_t mode;  // after the write
    std::string written = "";  // the file written through the link name
  } cases[] = {
      {"target", true, 0, 0666 & ~mask},
      {longest, true, 0, 0666 & ~mask},
      {longest + "n", false, ENAMETOOLONG, 0},
      {"no/such/folder/x", false, ENOENT, 0},
      {"private", true, 0, 0600},
      {"shared", true, 0, 0664},
      {"link", true, 0, 0640, "other/linked"},
      {"chain", true, 0, 0640, "other/linked"},
      {"absolute", true, 0, 0600, "private"},
      {"dangling", true, 0, 0666 & ~mask, "other/made"},
      {"loop", false, ELOOP, 0},
      {"listed/acl", true, 0, acls ? 0660u : 0600u},  // the group's bits are the list's mask
      {"listed/plain", true, 0, 0640},
  };
  for (const Case& c : cases) {
    t.file("other/linked", "old");
    t.file("private", "old");
    const auto before = attributes(t.path + "/" + c.name);
    SysWriteError error;
    error.error = -1;
    EXPECT_EQ(sys_write_file(t.path + "/" + c.name, "new!", 4, &error), c.ok) << c.name.size();
    EXPECT_EQ(error.error, c.error) << c.name.size();
    if (c.ok) {
      EXPECT_EQ(attributes(t.path + "/" + c.name), before) << c.name;
    }
    EXPECT_EQ(get_file_size(t.path + "/" + c.name), c.ok ? 4u : 0u) << c.name.size();
    struct stat st {};
    if (c.ok) {
      EXPECT_EQ(::stat((t.path + "/" + c.name).c_str(), &st), 0);
    }
    EXPECT_EQ(st.st_mode & 0777, c.mode) << c.name;
    if (c.written.empty()) continue;
    EXPECT_EQ(get_file_size(t.path + "/" + c.written), 4u) << c.name;
    struct stat link {};
    EXPECT_EQ(::lstat((t.path + "/" + c.name).c_str(), &link), 0);
    EXPECT_TRUE(S_ISLNK(link.st_mode)) << c.name << " is a link no more";
  }
  EXPECT_EQ(sys_write_target(t.path + "/chain"), t.path + "/other/linked");
  EXPECT_EQ(sys_write_target(t.path + "/loop"), "");
  for (const char* name : {"link", "chain", "absolute", "dangling", "loop", "other/linked", "other/up", "other/made"})
    std::remove((t.path + "/" + name).c_str());
  ::rmdir((t.path + "/other").c_str());
  // Another user's file stays theirs where the writer may give it to them.
  const std::string theirs = t.file("theirs", "old");
  if (::chown(theirs.c_str(), 4321, 4321) == 0) {
    ASSERT_TRUE(sys_write_file(theirs, "new!", 4));
    struct stat st {};
    ASSERT_EQ(::stat(theirs.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 4321u);
    EXPECT_EQ(st.st_gid, 4321u);
  }
  std::remove(theirs.c_str());
  EXPECT_EQ(folder_names(t.path + "/listed"), (std::vector<std::string>{"acl", "plain"}));
  std::remove((t.path + "/listed/acl").c_str());
  std::remove((t.path + "/listed/plain").c_str());
  ::rmdir((t.path + "/listed").c_str());
  EXPECT_EQ(folder_names(t.path), (std::vector<std::string>{longest, "private", "shared", "target"}));
}

TEST(Sys, Cp932RoundTripKeepsBackslashAndTilde) {
  const std::string cp932 = "a\\b~\x82\xa0";  // "a\b~あ"
  EXPECT_EQ(sys_cp932_to_utf8(cp932), "a\\b~\xE3\x81\x82");
  EXPECT_EQ(sys_utf8_to_cp932(sys_cp932_to_utf8(cp932)), cp932);
  EXPECT_EQ(sys_cp932_to_utf8("\x82"), "?") << "a lone lead byte";
}

}  // namespace

// Large blocks come zero-filled and writable to their last byte, whatever
// their size against the page sizes; nothing, or more than any system has,
// is no block.
TEST(Sys, LargeBlocksAreZeroedAndWholeOrNone) {
  EXPECT_EQ(sys_alloc_large(0), nullptr);
  EXPECT_EQ(sys_alloc_large(SIZE_MAX), nullptr);
  EXPECT_EQ(sys_alloc_large(SIZE_MAX / 2), nullptr);
  for (const size_t bytes : {size_t(1), size_t(4097), size_t(3) << 20, (size_t(5) << 20) + 12}) {
    SCOPED_TRACE(bytes);
    auto* block = static_cast<unsigned char*>(sys_alloc_large(bytes));
    ASSERT_NE(block, nullptr);
    const size_t ats[] = {0, bytes / 2, bytes - 1};
    for (const size_t at : ats) EXPECT_EQ(block[at], 0) << at;
    for (const size_t at : ats) block[at] = 0xA5;
    for (const size_t at : ats) EXPECT_EQ(block[at], 0xA5) << at;
    sys_free_large(block, bytes);
  }
  sys_free_large(nullptr, 0);
}

TEST(Sys, SharedMemoryOpensByNameAndHoldsItsByteLocksPerOpening) {
  const std::string name = "/tl_sys_test." + std::to_string(::getpid());
  SysSharedMemory a, b, c;
  EXPECT_FALSE(sys_shared_open(&a, name, 64, false));
  ASSERT_TRUE(sys_shared_open(&a, name, 64, true));
  static_cast<char*>(a.data)[63] = 'x';
  // Another size is refused; the same name and size is the same memory.
  EXPECT_FALSE(sys_shared_open(&b, name, 128, true));
  ASSERT_TRUE(sys_shared_open(&b, name, 64, false));
  EXPECT_EQ(static_cast<char*>(b.data)[63], 'x');
  // Two openings in one process exclude each other; closing one frees its
  // bytes.
  EXPECT_TRUE(sys_shared_try_lock(a, 5));
  EXPECT_TRUE(sys_shared_locked_elsewhere(b, 5));
  EXPECT_FALSE(sys_shared_locked_elsewhere(a, 5));
  EXPECT_FALSE(sys_shared_try_lock(b, 5));
  EXPECT_TRUE(sys_shared_try_lock(b, 6));
  sys_shared_close(&a);
  EXPECT_FALSE(sys_shared_locked_elsewhere(b, 5));
  EXPECT_TRUE(sys_shared_lock(b, 5));
  // Removed, the name is free for a new object; the open one stays readable.
  sys_shared_unlink(name);
  EXPECT_FALSE(sys_shared_linked(b));
  EXPECT_EQ(static_cast<char*>(b.data)[63], 'x');
  ASSERT_TRUE(sys_shared_open(&c, name, 64, true));
  EXPECT_EQ(static_cast<char*>(c.data)[63], 0);
  EXPECT_TRUE(sys_shared_linked(c));
  sys_shared_unlink(name);
  sys_shared_close(&b);
  sys_shared_close(&c);
  // Private memory: no name, no other holder.
  ASSERT_TRUE(sys_shared_open(&a, "", 64, false));
  EXPECT_TRUE(sys_shared_try_lock(a, 0));
  EXPECT_FALSE(sys_shared_locked_elsewhere(a, 0));
  EXPECT_TRUE(sys_shared_linked(a));
  sys_shared_close(&a);
}

// Both clocks read the same monotonic time, and every sleep lasts at least
// what it was asked for.
TEST(Sys, ClocksAgreeAndSleepsLastTheirLength) {
  EXPECT_EQ(sys_perf_frequency(), 1000000000);
  const int64_t before = sys_perf_counter();
  const uint32_t ms = sys_ms_clock();
  const int64_t after = sys_perf_counter();
  EXPECT_LE(before, after);
  EXPECT_LE(int32_t(uint32_t(before / 1000000) - ms), 0);
  EXPECT_GE(int32_t(uint32_t(after / 1000000) - ms), 0);

  sys_sleep_ms(15);
  EXPECT_GE(int32_t(sys_ms_clock() - ms), 15);
  const int64_t wake = sys_perf_counter() + 12000000;
  sys_sleep_until(wake);
  EXPECT_GE(sys_perf_counter(), wake);
  sys_sleep_ms(0);
  sys_sleep_until(0);
}

// Leaves the stack below the caller full of slashes, so that a
// name read there without its terminator shows.
[[gnu::noinline]] void fill_stack() {
  volatile char junk[16384];
  for (size_t i = 0; i < sizeof junk; ++i) junk[i] = '/';
}

TEST(Sys, ExecutableDirIsTheFolderOfTheRunningProgram) {
  char exe[4096];
  const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  ASSERT_GT(n, 0);
  std::string want(exe, size_t(n));
  want.erase(want.rfind('/') + 1);
  fill_stack();
  EXPECT_EQ(sys_executable_dir(), want);
}

TEST(Sys, FutexWaitSleepsOnlyWhileTheWordHoldsItsValue) {
  uint32_t word = 0;
  EXPECT_TRUE(sys_futex_wait(&word, 1, 60000));
  EXPECT_FALSE(sys_futex_wait(&word, 0, 1));
}
