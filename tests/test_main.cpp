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
  setup_work_directory();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
