// A folder of the fuzzing process's own for the files a target must write
// before the code under test reads them. It is made on first use under
// $TMPDIR (or /tmp) and removed with what it holds when the process exits,
// so runs leave nothing behind.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

// The folder's path, or null when it cannot be made. A plain array, not a
// string, so that it still stands when the removal runs at exit.
inline const char* fuzz_scratch_folder() {
  static char folder[4096];
  static const bool made = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::snprintf(folder, sizeof folder, "%s/tl_fuzz_XXXXXX", tmp && *tmp ? tmp : "/tmp");
    if (!::mkdtemp(folder)) return false;
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(folder, ignored);
    });
    return true;
  }();
  return made ? folder : nullptr;
}
