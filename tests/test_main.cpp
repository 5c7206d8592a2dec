// Every test program runs headless: offscreen video, OpenAL Soft's null
// device, message boxes only on stderr. Values already set are kept. Like the
// program, it works in the laid-out working folder found from its own
// location, wherever it is started, with a shader cache of its own.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/sys/sys.h"
#include "shell/services/shared_semaphore.h"

namespace {

// Removes the named semaphores of a scope that processes ending without
// closing them (death tests, killed children) left in /dev/shm.
void remove_semaphores_of(const std::string& scope) {
  DIR* d = ::opendir("/dev/shm");
  if (!d) return;
  const std::string suffix = "." + scope;
  while (dirent* e = ::readdir(d)) {
    const std::string n = e->d_name;
    if (n.rfind("QMX_MSECT_", 0) == 0 && n.size() > suffix.size() &&
        n.compare(n.size() - suffix.size(), suffix.size(), suffix) == 0)
      ::shm_unlink(("/" + n).c_str());
  }
  ::closedir(d);
}

}  // namespace

int main(int argc, char** argv) {
  setenv("SDL_VIDEODRIVER", "offscreen", 0);
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  setenv("ALSOFT_DRIVERS", "null", 0);
  setenv("TL_MESSAGEBOX", "stderr", 0);
  // The program's rule for its working folder (its own folder, else the one
  // above), without recording it: tests that need a recorded working folder
  // set their own.
  sys_set_current_dir(sys_executable_dir());
  if (!sys_is_directory("./text")) sys_set_current_dir("..");
  // Named semaphores of a test program are its own, shared only with the
  // processes it starts (a death test's runs the program again): the program
  // and other test runs never meet them.
  const bool started_by_a_test = std::getenv("TL_TEST_SEMAPHORE_SCOPE") != nullptr;
  setenv("TL_TEST_SEMAPHORE_SCOPE", ("test" + std::to_string(::getpid())).c_str(), 0);
  const std::string scope = std::getenv("TL_TEST_SEMAPHORE_SCOPE");
  shared_semaphore_set_scope(scope.c_str());
  // Translated shaders are kept on disk between runs: each test program
  // starts from an empty cache of its own, so every translation a test asks
  // for runs (the processes it starts share it).
  char cache_home[] = "/tmp/tl_test_cache_XXXXXX";
  const bool own_cache = !started_by_a_test && ::mkdtemp(cache_home) != nullptr;
  if (own_cache) setenv("XDG_CACHE_HOME", cache_home, 1);
  ::testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  if (!started_by_a_test) remove_semaphores_of(scope);
  if (own_cache) {
    std::error_code ignored;
    std::filesystem::remove_all(cache_home, ignored);
  }
  return result;
}
