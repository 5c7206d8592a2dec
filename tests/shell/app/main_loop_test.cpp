#include <gtest/gtest.h>
#include <signal.h>

#include <iterator>

#include "platform/sys/sys.h"
#include "platform/window/window.h"
#include "render/device/gfx_device.h"
#include "shell/app/app.h"
#include "shell/app/main_window.h"
#include "shell/app/scene_runner.h"
#include "render/view/view_state.h"
#include "shell/services/input.h"

void test_hide_window(PlatformWindow* window);
bool test_cursor_shown();
void test_push_event(PlatformWindow* window, int kind, int a, int b);

namespace {

// How the process takes a signal: at its default, ignored, or handled.
const char* signal_disposition(int signal) {
  struct sigaction now {};
  if (::sigaction(signal, nullptr, &now) != 0) return "unknown";
  return now.sa_handler == SIG_DFL ? "default" : now.sa_handler == SIG_IGN ? "ignored" : "handled";
}

// Each row: the end signals ignored when the window system starts, the others
// at their default. While it runs it handles each one at its default (SDL
// SIGTERM and SIGINT, the window layer SIGHUP and SIGQUIT); its shutdown
// leaves each as it found it: one it never handled keeps its disposition.
TEST(WindowSystem, ShutdownLeavesEachEndSignalAsItFoundIt) {
  const int signals[] = {SIGHUP, SIGQUIT, SIGTERM, SIGINT};
  const struct {
    const char* what;
    bool ignored[std::size(signals)];
  } rows[] = {
      {"SIGHUP ignored", {true, false, false, false}},
      {"SIGQUIT ignored", {false, true, false, false}},
      {"SIGHUP and SIGQUIT ignored", {true, true, false, false}},
      {"SIGTERM and SIGINT ignored", {false, false, true, true}},
  };
  struct sigaction before[std::size(signals)];
  for (size_t i = 0; i < std::size(signals); ++i) ::sigaction(signals[i], nullptr, &before[i]);
  for (const auto& r : rows) {
    for (size_t i = 0; i < std::size(signals); ++i) ::signal(signals[i], r.ignored[i] ? SIG_IGN : SIG_DFL);
    ASSERT_TRUE(window_system_init()) << r.what;
    for (size_t i = 0; i < std::size(signals); ++i)
      EXPECT_STREQ(signal_disposition(signals[i]), r.ignored[i] ? "ignored" : "handled")
          << r.what << ", running, signal " << signals[i];
    window_system_shutdown();
    for (size_t i = 0; i < std::size(signals); ++i)
      EXPECT_STREQ(signal_disposition(signals[i]), r.ignored[i] ? "ignored" : "default")
          << r.what << ", after shutdown, signal " << signals[i];
  }
  for (size_t i = 0; i < std::size(signals); ++i) ::sigaction(signals[i], &before[i], nullptr);
}

// Drives the real start-up, loop passes and shutdown on an offscreen window.
TEST(MainLoop, MessagesPauseFramesAndDestroyEndsTheLoop) {
  ASSERT_TRUE(app_startup(nullptr));
  EXPECT_GT(get_client_width(), 0);

  bool ran = false;
  // Drain what the window system reported at start-up.
  for (int i = 0; i < 1000 && app_loop_pass(&ran) && !ran;) ++i;
  ASSERT_TRUE(ran);

  window_post_message(WindowMessage{WINDOW_MSG_OTHER, 7, 9});
  ASSERT_TRUE(app_loop_pass(&ran));
  EXPECT_FALSE(ran) << "a pass that takes a message runs no frame";
  EXPECT_EQ(get_app_msg()->code, uint32_t(WINDOW_MSG_OTHER));
  EXPECT_EQ(get_app_msg()->wparam, 7);
  EXPECT_EQ(get_app_msg()->lparam, 9);

  window_post_message(WindowMessage{WINDOW_MSG_DESTROY, 0, 0});
  ASSERT_TRUE(app_loop_pass(&ran)) << "destroy is dispatched, then quit is posted";
  EXPECT_FALSE(app_loop_pass(&ran)) << "quit ends the loop";
  app_shutdown();
  WindowRecord* rec = get_window_record(0);
  EXPECT_EQ(rec->window, nullptr);
  // Without a window the record keeps what it holds and sizes read as zero.
  rec->stored_rect = {1, 2, 3, 4};
  store_window_rect(0);
  restore_windowed_style(0);
  keep_client_aspect(0, 640, 480, false);
  EXPECT_EQ(rec->stored_rect.left, 1);
  EXPECT_EQ(rec->stored_rect.bottom, 4);
  EXPECT_EQ(get_window_client_width(0), 0);
  EXPECT_EQ(get_window_client_height(0), 0);
  EXPECT_EQ(get_window_record(1), nullptr);
  EXPECT_EQ(get_window_client_width(1), 0);
}

// The running program, between passes of its loop.
class AppLoop : public ::testing::Test {
 protected:
  PlatformWindow* window = nullptr;
  int cw = 0, ch = 0;  // the client size chosen at start-up

  void SetUp() override {
    ASSERT_TRUE(app_startup(nullptr));
    window = get_window_record(0)->window;
    cw = get_client_width();
    ch = get_client_height();
    drain();
  }
  void TearDown() override { app_shutdown(); }

  // Passes until one runs a frame: every message waiting has been handled.
  void drain() {
    bool ran = false;
    for (int i = 0; i < 1000 && !ran; ++i) ASSERT_TRUE(app_loop_pass(&ran));
    ASSERT_TRUE(ran);
  }
  // A mouse move through the window's own message path.
  void move_mouse(int x, int y) {
    window_post_message(WindowMessage{WINDOW_MSG_MOUSEMOVE, 0,
                                      int64_t(uint16_t(int16_t(x))) | (int64_t(uint16_t(int16_t(y))) << 16)});
    bool ran = true;
    ASSERT_TRUE(app_loop_pass(&ran));
    ASSERT_FALSE(ran);
  }
  void client(int* w, int* h) { window_get_client_size(window, w, h); }
};

TEST_F(AppLoop, TheLayoutIsTheClientSizeChosenAtStartUp) {
  int w, h;
  client(&w, &h);
  EXPECT_EQ(w, cw);
  EXPECT_EQ(h, ch);
  EXPECT_EQ(get_virtual_screen_width(), cw);
  EXPECT_EQ(get_virtual_screen_height(), ch);
  EXPECT_EQ(get_window_client_width(0), cw);
  EXPECT_EQ(get_window_client_height(0), ch);
  EXPECT_NE(cw, ch) << "the cases below need a layout that is not square";
}

// What the window system reports becomes the program's messages; messages
// the program posts come first.
TEST_F(AppLoop, WindowSystemEventsBecomeMessages) {
  enum { QUIT, CLOSE, SIZE, MOVED, MOTION, WHEEL, KEY, BUTTON };
  const struct {
    int kind, a, b;
    uint32_t code;
    int64_t wparam, lparam;
  } cases[] = {
      {QUIT, 0, 0, WINDOW_MSG_DESTROY, 0, 0},
      {CLOSE, 0, 0, WINDOW_MSG_DESTROY, 0, 0},
      {SIZE, 0, 0, WINDOW_MSG_SIZE, 0, 0},
      {MOVED, 0, 0, WINDOW_MSG_OTHER, 0, 0},
      {MOTION, 300, 200, WINDOW_MSG_MOUSEMOVE, 0, 0xC8012C},
      {MOTION, -2, -3, WINDOW_MSG_MOUSEMOVE, 0, 0xFFFDFFFE},
      {WHEEL, 2, 0, WINDOW_MSG_MOUSEWHEEL, 240, 0},
      {WHEEL, 1, 1, WINDOW_MSG_MOUSEWHEEL, -120, 0},
      {KEY, 0, 0, WINDOW_MSG_KEY, 0, 0},
      {BUTTON, 0, 0, WINDOW_MSG_KEY, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "kind " << c.kind << " " << c.a << "," << c.b);
    test_push_event(window, c.kind, c.a, c.b);
    WindowMessage m, last;
    int taken = 0;
    while (window_peek_message(&m)) last = m, ++taken;
    ASSERT_GT(taken, 0);
    EXPECT_EQ(last.code, c.code);
    EXPECT_EQ(last.wparam, c.wparam);
    EXPECT_EQ(last.lparam, c.lparam);
  }
  test_push_event(window, MOTION, 1, 1);
  window_post_quit(3);
  WindowMessage m;
  ASSERT_TRUE(window_peek_message(&m));
  EXPECT_EQ(m.code, uint32_t(WINDOW_MSG_QUIT));
  EXPECT_EQ(m.wparam, 3);
  while (window_peek_message(&m)) EXPECT_NE(m.code, uint32_t(WINDOW_MSG_QUIT));
  EXPECT_EQ(window_dispatch(nullptr, m), 0);
}

TEST_F(AppLoop, MouseIsScaledFromTheClientAndHeldInsideIt) {
  // A client twice the layout's size on both sides: the aspect holds, so the
  // window keeps the size.
  window_set_client_size(window, 2 * cw, 2 * ch);
  drain();
  int w, h;
  client(&w, &h);
  ASSERT_EQ(w, 2 * cw);
  ASSERT_EQ(h, 2 * ch);
  struct {
    int x, y;          // client pixels the message carries
    int cx, cy;        // the mouse record's client position
    int lx, ly;        // the layout position read back
  } cases[] = {
      {200, 100, 200, 100, 100, 50},
      {2 * cw - 1, 2 * ch - 1, 2 * cw - 1, 2 * ch - 1, cw - 1, ch - 1},
      {-5, -7, 0, 0, 0, 0},  // left of and above the client: its edge
      {2 * cw + 50, 2 * ch + 9, 2 * cw - 1, 2 * ch - 1, cw - 1, ch - 1},
      {3, 2 * ch + 9, 3, 2 * ch - 1, 1, ch - 1},
  };
  int px = get_mouse_state()->x, py = get_mouse_state()->y;
  for (const auto& c : cases) {
    move_mouse(c.x, c.y);
    EXPECT_EQ(get_mouse_state()->x, c.cx) << c.x << "," << c.y;
    EXPECT_EQ(get_mouse_state()->y, c.cy) << c.x << "," << c.y;
    int x = -1, y = -1;
    get_mouse_pos_backbuffer(&x, &y);
    EXPECT_EQ(x, c.lx) << c.x << "," << c.y;
    EXPECT_EQ(y, c.ly) << c.x << "," << c.y;
    get_mouse_prev_pos(&x, &y);
    EXPECT_EQ(x, px);
    EXPECT_EQ(y, py);
    px = c.cx;
    py = c.cy;
  }

  // A client of another aspect scales each side by its own ratio, until its
  // size message brings the width back to the layout's aspect.
  window_set_client_size(window, 2 * cw, ch);
  move_mouse(300, 90);
  int x = -1, y = -1;
  get_mouse_pos_backbuffer(&x, &y);
  EXPECT_EQ(x, 150);
  EXPECT_EQ(y, 90);
  drain();
  client(&w, &h);
  EXPECT_EQ(w, cw);
  EXPECT_EQ(h, ch);
}

TEST_F(AppLoop, SizeMessagesKeepTheLayoutAspect) {
  struct {
    int w, h;     // size given to the window
    int want_w;   // width after its size message
  } cases[] = {
      {cw + 4, ch, cw + 4},  // within 5 pixels: left alone
      {cw + 6, ch, cw},
      {cw - 6, ch, cw},      // the same width asked for again from another size
      {cw + 6, ch, cw},
      {cw / 2 + 40, ch / 2, int(int64_t(cw) * (ch / 2) / ch)},  // the width follows the height
      {cw, ch, cw},
  };
  for (const auto& c : cases) {
    window_set_client_size(window, c.w, c.h);
    drain();
    int w, h;
    client(&w, &h);
    EXPECT_EQ(w, c.want_w) << c.w << "x" << c.h;
    EXPECT_EQ(h, c.h) << c.w << "x" << c.h << ": the height is never changed";
  }
}

// The viewer shows the cursor; each mode sets the window system's cursor
// from the next frame on, also back to shown.
TEST_F(AppLoop, CursorFollowsItsMode) {
  for (int i = 0; i < 2; ++i) drain();  // the viewer's init runs on the second frame
  EXPECT_EQ(get_mouse_state()->cursor_mode, 1) << "the viewer sets mode 1";
  EXPECT_TRUE(test_cursor_shown());
  const struct {
    int mode;
    bool move;
    bool shown;
  } steps[] = {{2, false, false}, {1, false, true}, {2, true, false}, {0, true, true}, {0, false, true}};
  for (const auto& s : steps) {
    set_cursor_mode(s.mode);
    if (s.move) move_mouse(10, 10);
    drain();
    EXPECT_EQ(test_cursor_shown(), s.shown) << "mode " << s.mode;
    EXPECT_EQ(is_cursor_hidden(), s.shown ? 0 : 1) << "mode " << s.mode;
  }
}

// The program's random sequence moves on once per frame, never on a pass
// that handles a message.
TEST_F(AppLoop, EachFrameDrawsOneRandomNumber) {
  sys_rand_reset();
  int frames = 0;
  for (int i = 0; i < 12; ++i) {
    if (i % 3 == 0) window_post_message(WindowMessage{WINDOW_MSG_OTHER, 0, 0});
    bool ran = false;
    ASSERT_TRUE(app_loop_pass(&ran));
    frames += ran;
  }
  ASSERT_GE(frames, 6);
  uint32_t state = 1;
  for (int i = 0; i <= frames; ++i) state = state * 214013u + 2531011u;
  EXPECT_EQ(sys_rand(), int((state >> 16) & 0x7FFF)) << frames << " frames";
}

TEST_F(AppLoop, RequestQuitEndsTheLoopBeforeTheNextMessage) {
  request_quit();
  window_post_message(WindowMessage{WINDOW_MSG_OTHER, 5, 0});
  bool ran = true;
  EXPECT_FALSE(app_loop_pass(&ran));
  EXPECT_FALSE(ran);
  WindowMessage m;
  ASSERT_TRUE(window_peek_message(&m)) << "the waiting message is left";
  EXPECT_EQ(m.wparam, 5);
}

// A device reset puts the window at the stored rectangle's corner (the
// screen's until store_window_rect runs) with the size it was made with,
// without sizing border, and shows it.
TEST_F(AppLoop, AfterADeviceResetTheWindowIsFixedAtItsStoredCorner) {
  const WindowRecord* rec = get_window_record(0);
  EXPECT_EQ(rec->client_width, cw);
  EXPECT_EQ(rec->client_height, ch);
  EXPECT_EQ(rec->style, uint32_t(MAIN_WINDOW_STYLE));
  EXPECT_TRUE(window_is_resizable(window));
  EXPECT_TRUE(window_is_shown(window));

  struct {
    bool store;    // store_window_rect at (sx, sy) before the reset
    int sx, sy;
  } steps[] = {{false, 0, 0}, {true, 55, 66}, {false, 55, 66}};
  for (const auto& s : steps) {
    if (s.store) {
      window_set_position(window, s.sx, s.sy);
      store_window_rect(0);
      EXPECT_EQ(rec->stored_rect.left, s.sx);
      EXPECT_EQ(rec->stored_rect.top, s.sy);
      EXPECT_EQ(rec->stored_rect.right, s.sx + cw);
      EXPECT_EQ(rec->stored_rect.bottom, s.sy + ch);
    }
    window_set_position(window, 30, 40);
    window_set_client_size(window, 2 * cw, 2 * ch);
    drain();
    test_hide_window(window);
    ASSERT_FALSE(window_is_shown(window));

    gpu_debug_lose_device(gfx_device(), GpuLossScript{0, true, 0});
    drain();
    EXPECT_FALSE(gfx_device_ptr()->lost);
    int x, y, w, h;
    window_get_position(window, &x, &y);
    client(&w, &h);
    EXPECT_EQ(x, s.sx);
    EXPECT_EQ(y, s.sy);
    EXPECT_EQ(w, cw);
    EXPECT_EQ(h, ch);
    EXPECT_FALSE(window_is_resizable(window)) << "no sizing border, no maximise box";
    EXPECT_TRUE(window_is_shown(window));
    drain();
  }
}

}  // namespace
