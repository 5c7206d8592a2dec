#include <gtest/gtest.h>

#include "platform/window/window.h"
#include "shell/app/app.h"
#include "shell/app/scene_runner.h"

namespace {

// Drives the real start-up, loop passes and shutdown on an offscreen window.
TEST(MainLoop, MessagesPauseFramesAndDestroyEndsTheLoop) {
  ASSERT_TRUE(app_startup(nullptr));
  EXPECT_GT(get_client_width(), 0);

  bool ran = false;
  // Drain what the window system reported at start-up.
  for (int i = 0; i < 1000 && app_loop_pass(&ran) && !ran;) ++i;
  ASSERT_TRUE(ran);

  window_post_message(WindowMessage{WINDOW_MSG_OTHER, 0, 0});
  ASSERT_TRUE(app_loop_pass(&ran));
  EXPECT_FALSE(ran) << "a pass that takes a message runs no frame";

  window_post_message(WindowMessage{WINDOW_MSG_DESTROY, 0, 0});
  ASSERT_TRUE(app_loop_pass(&ran)) << "destroy is dispatched, then quit is posted";
  EXPECT_FALSE(app_loop_pass(&ran)) << "quit ends the loop";
  app_shutdown();
}

}  // namespace
