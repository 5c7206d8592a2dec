// Every test program runs headless: offscreen video, OpenAL Soft's null
// device, message boxes only on stderr. Values already set are kept. Like the
// program, it works in the laid-out working folder found from its own
// location, wherever it is started.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/sys/sys.h"

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
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
