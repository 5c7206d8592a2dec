// Operating-system services: paths and files, the working folder, clocks,
// sleeping, threads and locks, the last-error slot, CP932 text and the
// program's random generator. Everything above the platform layer reaches
// the operating system through here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// ---- Text -----------------------------------------------------------------

// CP932 (Shift-JIS as Windows writes it) to UTF-8 and back. Bytes that do not
// convert become '?'.
std::string sys_cp932_to_utf8(const std::string& cp932);
std::string sys_utf8_to_cp932(const std::string& utf8);
// True when byte b starts a two-byte CP932 character.
inline bool sys_is_cp932_lead(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
// True when byte c ends a comment line of the system's word-list files
// ("KT52.CF", "tex.lst"): a line feed, a carriage return, or the Ctrl-Z (26)
// that editors for Windows leave as an end mark. The ending byte belongs to the
// comment, so that reading goes on after it.
inline bool sys_ends_comment_line(int c) { return c == '\n' || c == '\r' || c == 26; }

// ---- Paths and files ----------------------------------------------------------

// Two spellings of a path meet here. A system path is what the system builds
// or stores: CP932, '\' separators, maybe a drive letter (".\sav\a.sav",
// "C:\x\text\a.txt"). A host path comes from the operating system (the
// program's folder, a file chosen in a dialog): UTF-8 as the file system
// holds it, always absolute, so it begins with '/', which no system path
// does. Every file operation below takes either; a host path is used as it
// stands and never converted, so a folder like "/home/zoë/テスト/" works.
bool sys_is_host_path(const std::string& path);
// The host spelling of a path: a host path as it is; a system path with '/'
// separators, UTF-8, no drive letter, and each component matched without
// regard to case when the exact name does not exist.
std::string sys_map_path(const std::string& path);
// As sys_map_path, made absolute against the current folder.
std::string sys_host_path(const std::string& path);
// A CP932 path read from a file, always taken as a system path (even one that
// begins with '/'), as an absolute host path; a relative one lies below the
// host folder base_dir, or the current folder when base_dir is "".
std::string sys_host_path_from_cp932(const std::string& cp932, const std::string& base_dir = "");
// A system path below a host folder, as a host path.
std::string sys_join_path(const std::string& host_dir, const std::string& system_path);
// The path as the system stores it: a system path as it is, a host path
// converted to CP932. False when a host path holds characters CP932 cannot
// write, or a '\', which would be read back as a separator, so that no path
// is stored that cannot be read back.
bool sys_path_to_cp932(const std::string& path, std::string& cp932);
// The same, but a host path inside the host folder dir is stored relative to
// it, as the system's own files store theirs (".\text\a.txt"), so that it
// keeps naming its file when the folder is moved or copied, and however deep
// the folder lies. Only what lies below dir must be writable in CP932 then.
bool sys_stored_path(const std::string& path, const std::string& dir, std::string& cp932);
// The columns a line of a message may take: a message box is as wide as its
// longest line, and 80 columns keep it well inside the smallest screen.
constexpr size_t kSysMessageColumns = 80;
// A host text (a file name as the file system writes it) broken over lines
// of at most columns columns, a byte a column: after a '/' where that leaves
// the line at least half full, else between two characters, never inside a
// UTF-8 character.
std::string sys_host_text_lines(const std::string& text, size_t columns);
// A path as the file system spells it, in UTF-8, to show in a message whose
// subject is that very name: a letter CP932 cannot write (ü, é) shows as it
// is, not as '?'. Broken over lines as above.
std::string sys_path_lines(const std::string& path, size_t columns);
// A CP932 text (a line quoted from a file, a path the system stores) broken
// over lines of at most columns columns the same way (a double-byte
// character takes two), never inside a double-byte character; the line
// breaks it holds are kept.
std::string sys_cp932_text_lines(const std::string& text, size_t columns);
// The folder holding the running program, "" when it cannot be read.
std::string sys_executable_dir();
bool sys_set_current_dir(const std::string& path);
std::string sys_get_current_dir();
// The program's working folder: dir, or its parent when dir holds no "text"
// folder (the data lies beside the program, or one folder up from a build
// folder). The folder is made current and recorded; every layer asks
// get_work_directory for it.
void setup_work_directory_from(const std::string& dir);
// The same from the running program's own folder.
void setup_work_directory();
const std::string& get_work_directory();
bool sys_is_directory(const std::string& path);
// A regular file is there, whether or not this program may read it.
bool sys_is_file(const std::string& path);
// fopen on the mapped path. A folder never opens as a file.
FILE* sys_fopen(const std::string& path, const char* mode);
// Size of a regular file in bytes; 0 for a folder, a missing file or one that
// cannot be read.
uint64_t get_file_size(const std::string& path);
// Reads a regular file whole, refusing one larger than max_bytes.
bool sys_read_file(const std::string& path, std::vector<uint8_t>& out, uint64_t max_bytes = UINT64_C(1) << 31);
// The file a write to path lands on: path itself, or, where path is a
// symbolic link, the file it names, followed through a chain of links (a
// relative target read from the folder of the link that holds it), so that
// a write goes through a link and leaves it a link, as editors write. A
// dangling link gives the file it names, which the write then makes. ""
// when the chain does not end (ELOOP).
std::string sys_write_target(const std::string& path);
// What a write that failed was at, beside the errno of the step that failed.
enum SysWriteFault {
  SYS_WRITE_FOLDER,        // the new file beside the target: made, written or renamed over it
  SYS_WRITE_READ_ONLY,     // the file there may not be written by this user; it is never replaced
  SYS_WRITE_OTHERS_FILE,   // the same, of a file that belongs to another user
  SYS_WRITE_IN_PLACE,      // writing in place found no room or no way to reserve it; the file is as it was
  SYS_WRITE_PART_WRITTEN,  // writing in place stopped part-way: the file holds part of the new bytes
};
struct SysWriteError {
  int error = 0;  // errno, 0 after a write that succeeded
  SysWriteFault fault = SYS_WRITE_FOLDER;
};
// Writes a whole file at the target (sys_write_target), so that a link
// written through stays a link. Mostly through a temporary file beside the
// target, flushed to disk and renamed over it: a failed write never harms
// an existing file. A file replaced so keeps its permissions, owner, group,
// access control list and extended attributes (0600 stays 0600, an entry
// for another user stays); a new file gets the mode any new file gets, the
// umask applied. A file this user may not write is never replaced. Where
// the new file cannot be given the old one's owner, group or attributes
// (another user's file that this one may write, also in a sticky folder),
// the file itself is written in place, which keeps them all, after room for
// the whole of it has been reserved, so that a full disk stops it before it
// changes anything.
// On failure *error, when given, says why.
bool sys_write_file(const std::string& path, const void* data, size_t size, SysWriteError* error = nullptr);

// Flushes the stream and the file's data to disk.
bool sys_flush_to_disk(FILE* f);
// Physical memory in bytes (available, total); false when it cannot be read.
bool sys_memory_status(uint64_t* available, uint64_t* total);
// The local calendar time now.
struct tm sys_local_time();

// ---- Large blocks -------------------------------------------------------------

// Zero-filled memory for a large short-lived buffer, asking the system to
// back it with huge pages: its first touch then costs a page fault per 2 MB
// instead of one per 4 KB. Null when there is no memory; freed with the size
// it was asked for.
void* sys_alloc_large(size_t bytes);
void sys_free_large(void* block, size_t bytes);

// ---- Clocks and sleeping ----------------------------------------------------

uint32_t sys_ms_clock();         // milliseconds, wraps after 2^32
int64_t sys_perf_counter();      // monotonic counts
int64_t sys_perf_frequency();    // counts per second
void sys_sleep_ms(uint32_t ms);  // 0 yields the processor
void sys_sleep_until(int64_t counter);  // until sys_perf_counter() reaches counter
void sys_yield();

// ---- Threads and locks ------------------------------------------------------

using SysThread = std::thread;
using CriticalSection = std::mutex;

// ---- Memory shared between processes -------------------------------------------

// An object in shared memory named "/name" (one flat namespace for the whole
// machine), mapped whole. With an empty name it is memory private to this
// process instead (a child made by fork gets a copy).
struct SysSharedMemory {
  int fd = -1;
  void* data = nullptr;
  size_t size = 0;
};
// Opens the named object and maps its size bytes. With create a missing one
// is made, and an empty one is given its size (zero-filled). False when it
// does not exist (without create), cannot be opened, or holds another size.
bool sys_shared_open(SysSharedMemory* m, const std::string& name, size_t size, bool create);
// Unmaps and closes it; the byte locks it held are released, also where a
// forked child shares the opening.
void sys_shared_close(SysSharedMemory* m);
// Removes the name: those that have the object open keep it, the next open of
// the name makes a new one.
void sys_shared_unlink(const std::string& name);
// Removes the name of an object laid out otherwise (neither empty nor of size
// bytes) on which no opening holds a byte lock; false, changing nothing, for
// any other object or one that cannot be opened.
bool sys_shared_unlink_stale(const std::string& name, size_t size);
// True while the object can still be reached by its name (private memory
// always can).
bool sys_shared_linked(const SysSharedMemory& m);
// Byte locks on an object: a byte index is locked by one opening of it at a
// time (two openings in one process are two holders), and released when that
// opening closes or its process ends, however it ends. Private memory has no
// other holder: its locks always succeed and are never held elsewhere.
bool sys_shared_try_lock(const SysSharedMemory& m, uint32_t index);
// A shared hold of a byte: any number of openings may share it, and while one
// does, no opening can lock the byte alone.
bool sys_shared_share_lock(const SysSharedMemory& m, uint32_t index);
bool sys_shared_lock(const SysSharedMemory& m, uint32_t index);  // waits for it
void sys_shared_unlock(const SysSharedMemory& m, uint32_t index);
bool sys_shared_locked_elsewhere(const SysSharedMemory& m, uint32_t index);
// Sleeps while *word (in shared or private memory) holds expected, until a
// wake on the word or timeout_ms pass; false when the time ran out.
bool sys_futex_wait(uint32_t* word, uint32_t expected, uint32_t timeout_ms);
// Wakes up to count threads, of any process, sleeping on the word.
void sys_futex_wake(uint32_t* word, int count);
// The user the program runs as.
uint32_t sys_user_id();
// This process; a child made by fork has its own.
uint32_t sys_process_id();

// ---- Last error -------------------------------------------------------------

enum : uint32_t { SYS_ERROR_INVALID_PARAMETER = 87, SYS_WAIT_TIMEOUT = 258 };
void sys_set_last_error(uint32_t code);
uint32_t sys_get_last_error();

// ---- Random generator ---------------------------------------------------------

// The program's one random generator: state starts at 1 and is never seeded,
// so every run draws the same sequence. Result 0..32767.
int sys_rand();
void sys_rand_reset();  // back to the start state (tests)
