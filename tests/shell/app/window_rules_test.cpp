#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/sys/sys.h"
#include "shell/app/app.h"
#include "shell/app/main_window.h"
#include "shell/app/window_icon.h"
#include "shell/services/startup_config.h"
#include "temp_dir.h"

namespace {

// The icon's shapes at their edges: the tile's rounded corners, the bubble,
// its dots and its tail.
TEST(WindowIcon, ShapesEndOnTheirPixels) {
  constexpr uint32_t T = 0xFF1E3A6Eu, W = 0xFFFFFFFFu;
  const struct {
    int x, y;
    uint32_t argb;
  } cases[] = {
      {0, 0, 0},    {0, 5, 0},    {0, 6, T},    {31, 25, T},  {31, 26, 0},  {16, 0, T},
      {16, 5, T},   {16, 6, W},   {4, 13, T},   {5, 13, W},   {27, 13, W},  {28, 13, T},
      {10, 12, T},  {10, 15, W},  {10, 13, T},  {11, 13, T},  {12, 13, W},  {16, 13, T},  {22, 13, T},  {24, 13, W},
      {8, 22, T},   {9, 22, W},   {11, 22, W},  {12, 22, T},  {9, 24, W},   {10, 24, T},
  };
  uint32_t icon[WINDOW_ICON_SIZE * WINDOW_ICON_SIZE];
  draw_window_icon(icon);
  for (const auto& c : cases) EXPECT_EQ(icon[c.y * WINDOW_ICON_SIZE + c.x], c.argb) << c.x << "," << c.y;
}

TEST(ClientSize, ScreenSizeBoundaries) {
  struct {
    int w, h, cw, ch;
  } cases[] = {
      {1920, 1080, 1280, 1024}, {1281, 1025, 1280, 1024}, {1280, 1024, 1024, 768}, {1025, 769, 1024, 768},
      {1024, 768, 800, 600},   {801, 601, 800, 600},     {801, 600, 640, 480},    {800, 601, 640, 480},
      {320, 200, 640, 480},
  };
  for (const auto& c : cases) {
    ClientSize s = choose_client_size(c.w, c.h);
    EXPECT_EQ(s.width, c.cw) << c.w << "x" << c.h;
    EXPECT_EQ(s.height, c.ch) << c.w << "x" << c.h;
  }
}

// "CLIENTW" and "CLIENTH" replace each side alone, and only with a size a
// window can have.
TEST(ClientSize, OverridesFromTheConfiguration) {
  struct {
    const char* config;
    int w, h;
  } cases[] = {
      {"", 1024, 768},
      {"CLIENTW 700\n", 700, 768},
      {"CLIENTH 500\n", 1024, 500},
      {"CLIENTW 1 CLIENTH 16384\n", 1, 16384},
      {"CLIENTW 0 CLIENTH 16385\n", 1024, 768},
      {"CLIENTW -640 CLIENTH 480px\n", 1024, 768},
      {"clientw 700\n", 1024, 768},
  };
  TempDir t;
  for (const auto& c : cases) {
    load_startup_config(t.file("KT52.CF", c.config));
    ClientSize s = apply_client_overrides({1024, 768});
    EXPECT_EQ(s.width, c.w) << c.config;
    EXPECT_EQ(s.height, c.h) << c.config;
  }
  load_startup_config(t.path + "/none");
}

// The message-box key and the error box nothing calls: the box's text is the
// message with its source place, shown on stderr as well.
TEST(ErrorBox, MessageBoxKeyAndText) {
  struct {
    const char* config;
    bool enabled;
  } cases[] = {{"", false}, {"MESSAGEBOX 1\n", true}, {"MESSAGEBOX -3\n", true}, {"MESSAGEBOX 0\n", false},
               {"MESSAGEBOX yes\n", false}};
  TempDir t;
  for (const auto& c : cases) {
    load_startup_config(t.file("KT52.CF", c.config));
    EXPECT_EQ(is_messagebox_enabled(), c.enabled) << c.config;
  }
  load_startup_config(t.path + "/none");

  ::testing::internal::CaptureStderr();
  show_error_box("cannot read", "viewer.cpp", 42);
  const std::string long_message(3000, 'm');
  show_error_box(long_message.c_str(), "f.cpp", -1);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Tamberlune: cannot read[viewer.cpp:42]\n"), std::string::npos) << err;
  EXPECT_NE(err.find(long_message + "[f.cpp:-1]\n"), std::string::npos) << "a long message is kept whole";
}

TEST(Region, FirstUpperCaseLetter) {
  struct {
    const char* text;
    int region;
  } cases[] = {{"J", 2}, {"JAPAN", 2}, {"j", 0}, {"A", 3}, {"U", 1}, {"E", 0}, {"X", 0}, {"", 0}, {nullptr, 0}};
  for (const auto& c : cases) EXPECT_EQ(region_from_text(c.text), c.region) << (c.text ? c.text : "null");
}

TEST(ClientAspect, WidthFollowsHeight) {
  struct {
    int w, h, lw, lh;
    bool maximised;
    bool resize;
    int outer_w, x;
  } cases[] = {
      {1024 + 4, 768, 1024, 768, false, false, 0, 0},  // 4 px off: left alone
      {1024 + 6, 768, 1024, 768, false, true, 1024, 0},
      {1000, 600, 1024, 768, false, true, 800, 0},
      {1000, 600, 1024, 768, true, true, 800, (1920 - 800) / 2},  // maximised: centred at the top
      {1000, 0, 1024, 768, false, false, 0, 0},                   // minimised
      {1000, 600, 1024, 0, false, false, 0, 0},
  };
  for (const auto& c : cases) {
    AspectRequest r = client_aspect_request(c.w, c.h, c.lw, c.lh, c.maximised, 1920);
    EXPECT_EQ(r.resize, c.resize) << c.w << "x" << c.h;
    if (!r.resize) continue;
    EXPECT_EQ(r.outer_width, c.outer_w);
    EXPECT_EQ(r.outer_height, c.h) << "the height never changes";
    EXPECT_EQ(r.move, c.maximised);
    if (c.maximised) {
      EXPECT_EQ(r.x, c.x);
      EXPECT_EQ(r.y, 0);
    }
  }
}

// A size reported again unchanged after a request means the window manager
// refused it: it is not asked for again until the window has another size.
TEST(ClientAspect, ARefusedRequestIsNotRepeated) {
  WindowRecord rec{};
  struct {
    int w, h;
    bool resize;
  } steps[] = {
      {830, 600, true},   {830, 600, false}, {830, 600, false},  // refused: asked once
      {820, 600, true},                                         // the user drags on
      {800, 600, false},                                        // granted
      {830, 600, true},   {803, 600, false}, {830, 600, true},
      {830, 300, true},   {830, 300, false},
  };
  for (const auto& s : steps) {
    AspectRequest r = keep_client_aspect_request(&rec, s.w, s.h, 800, 600, false, 1920);
    EXPECT_EQ(r.resize, s.resize) << s.w << "x" << s.h;
    if (r.resize) {
      EXPECT_EQ(r.outer_width, 800 * s.h / 600);
    }
  }
}

TEST(WorkDirectory, ParentWhenNoTextFolder) {
  TempDir t;
  const std::string bin = t.path + "/bin/";
  ::mkdir(bin.c_str(), 0755);
  std::string saved = sys_get_current_dir();

  setup_work_directory_from(bin);
  EXPECT_EQ(get_work_directory(), t.path) << "no text folder: the parent";

  t.file("bin/text", "a plain file is no folder");
  setup_work_directory_from(bin);
  EXPECT_EQ(get_work_directory(), t.path);

  std::remove((bin + "text").c_str());
  ::mkdir((bin + "text").c_str(), 0755);
  setup_work_directory_from(bin);
  EXPECT_EQ(get_work_directory(), t.path + "/bin");

  sys_set_current_dir(saved);
}

}  // namespace
