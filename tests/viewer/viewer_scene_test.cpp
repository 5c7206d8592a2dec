// The viewer's scene logic frame by frame: menu, points, panel, PLAY timing,
// LEVEL, LAG and ORDER, and the screen effects.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <set>
#include <string>
#include <tuple>

#include "math/sine.h"
#include "platform/window/file_dialog.h"
#include "shell/services/input.h"
#include "sound/sound_command.h"
#include "viewer/point_panel.h"
#include "viewer/viewer_arrangement.h"
#include "viewer/viewer_effects.h"
#include "viewer/viewer_menu.h"
#include "viewer_scene_fixture.h"
#include "viewer_test_util.h"

namespace {

using viewer_test::g_input;
using viewer_test::ViewerScene;

constexpr int kMenuLayer = 11;
constexpr uint32_t kButtonHover = 0xFFFF8040;

TEST_F(ViewerScene, MenuButtonsTheirPlacesAndTheEarlyReturn) {
  skip_first_update();
  // Per click: where, the command, how many buttons the bar drew.
  struct Case {
    int x, y;
    bool press;
    int command;
    int drawn;
  } cases[] = {
      {500, 300, true, MENU_NONE, 7},  // below the bar
      {1, 1, false, MENU_NONE, 7},     // hovering draws every button
      {1, 1, true, MENU_LOAD_CG, 1},   // LOAD CG's corner, bounds included
      {75, 15, true, MENU_POINT, 2},
      {74, 8, true, MENU_NONE, 7},     // the gap between LOAD CG and POINT
      {150, 8, true, MENU_LOAD, 3},
      {227, 8, true, MENU_SAVE, 4},
      {975, 8, true, MENU_PLAY, 5},    // W - 49
      {1023, 8, true, MENU_PLAY, 5},
      {925, 8, true, MENU_ORDER, 6},   // W - 99
      {875, 8, true, MENU_LAG, 7},     // W - 149
      {874, 8, true, MENU_NONE, 7},
      {900, 16, true, MENU_NONE, 7},   // y 1 to 15
  };
  for (const Case& c : cases) {
    tasks_reap_marked();
    text_queue_rewind(viewer_text_main());
    mouse(c.x, c.y);
    g_input.left_pressed = c.press;
    viewer_input_capture();
    EXPECT_EQ(menu_bar_update(viewer_state().owner), c.command) << c.x << "," << c.y;
    EXPECT_EQ(static_cast<int>(sprites(kMenuLayer).size()), c.drawn) << c.x << "," << c.y;
    EXPECT_EQ(static_cast<int>(texts(viewer_text_main()).size()), c.drawn) << c.x << "," << c.y;
  }
}

TEST_F(ViewerScene, MenuLabelsFollowTheState) {
  skip_first_update();
  mouse(500, 300);
  frame();
  auto labels = texts(viewer_text_main());
  ASSERT_EQ(labels.size(), 7u);
  const char* want[] = {"LOAD CG", "POINT", "LOAD", "SAVE", "PLAY", "RAMDOM", "LAG 1"};
  const int xs[] = {37, 99, 151, 203, 999, 949, 899};
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(labels[i].second, want[i]);
    EXPECT_EQ(labels[i].first.x, xs[i]) << want[i];
    EXPECT_EQ(labels[i].first.y, 8);
    EXPECT_EQ(labels[i].first.colour, 0xFF0000FFu);
    EXPECT_EQ(labels[i].first.anchor, uint32_t(TEXT_ANCHOR_CENTRE_X | TEXT_ANCHOR_CENTRE_Y));
  }
  // ORDER, then PLAY: the labels switch; the hovered button is orange.
  click(930, 8);
  frame();
  click(980, 8);
  frame();
  mouse(980, 8);
  frame();
  labels = texts(viewer_text_main());
  EXPECT_EQ(labels[4].second, "STOP");
  EXPECT_EQ(labels[5].second, "ORDER");
  int orange = 0;
  for (SpriteData* s : sprites(kMenuLayer)) orange += s->colour == kButtonHover;
  EXPECT_EQ(orange, 1);
}

TEST_F(ViewerScene, LagCyclesThroughZeroToFive) {
  skip_first_update();
  for (int want : {2, 3, 4, 5, 0, 1}) {
    click(880, 8);
    frame();
    EXPECT_EQ(viewer_get_lag(), want);
  }
}

TEST_F(ViewerScene, OrderModeWalksNumbersWithTiesInSlotOrderAndWraps) {
  skip_first_update();
  int32_t cursor = 0;
  EXPECT_EQ(point_next_in_order(&cursor), -1) << "no points, no current point";
  EXPECT_EQ(cursor, 0);
  // A ".sav" may store any byte as NUMBER: beyond 15 a point is never visited.
  point_set_number(add_point(0, 50, 300, 30), 16);
  EXPECT_EQ(point_next_in_order(&cursor), -1) << "only a point beyond the numbers";
  EXPECT_EQ(cursor, 0);
  const uint8_t numbers[] = {16, 2, 0, 200, 2, 1, 15};
  for (int i = 0; i < 7; ++i) point_set_number(add_point(i, 100.0f * i + 100, 300, 30), numbers[i]);
  const int want[] = {2, 5, 1, 4, 6, 2, 5, 1};
  for (int w : want) EXPECT_EQ(point_next_in_order(&cursor), w);
  // RAMDOM still picks them.
  bool picked[kViewerPointSlots] = {};
  for (int i = 0; i < 200; ++i) picked[point_pick_random()] = true;
  for (int slot = 0; slot < 7; ++slot) EXPECT_TRUE(picked[slot]) << slot;
}

TEST_F(ViewerScene, PlayInOrderVisitsThePointsByNumber) {
  skip_first_update();
  add_point(0, 200, 300, 30);
  add_point(1, 600, 300, 30);
  point_set_number(viewer_state().points[0], 1);
  for (Task* t : {viewer_state().points[0], viewer_state().points[1]}) point_set_time(t, 1);
  click(930, 8);  // ORDER
  frame();
  click(980, 8);  // PLAY
  frame();
  EXPECT_EQ(viewer_state().current, 1);
  EXPECT_EQ(viewer_state().frames_left, 60);
  for (int i = 0; i < 61; ++i) frame();
  EXPECT_EQ(viewer_state().current, 0);
  for (int i = 0; i < 61; ++i) frame();
  EXPECT_EQ(viewer_state().current, 1) << "the order wraps";
}

TEST_F(ViewerScene, SmallestCircleWinsTheHighlight) {
  skip_first_update();
  add_point(0, 300, 300, 100);
  add_point(1, 320, 300, 40);
  add_point(2, 330, 300, 40);  // same radius as slot 1: the lower slot wins
  add_point(3, 800, 300, 50);
  struct {
    int x, y, want;
  } cases[] = {
      {220, 300, 0},   // only the big circle
      {320, 300, 1},   // inside all three: smallest, lowest slot
      {800, 300, 3},
      {800, 351, -1},  // just outside
      {800, 350, 3},   // on the circle counts
      {300, 10, -1},   // over the menu bar
  };
  for (const auto& c : cases) {
    mouse(c.x, c.y);
    viewer_input_capture();
    EXPECT_EQ(point_pick_highlighted(), c.want) << c.x << "," << c.y;
  }
  // The handle of the big circle lies at its right edge, outside the small ones.
  const PointRecord* big = point_get_record(viewer_state().points[0]);
  mouse(static_cast<int>(300 + big->handle_offset_x), 300);
  viewer_input_capture();
  EXPECT_EQ(point_pick_highlighted(), 0) << "a handle under the mouse wins over smaller circles";
  // The handle's own edge counts as the handle, one pixel past it does not:
  // there the smaller circle drawn over the handle wins.
  PointRecord* handle = point_get_record(viewer_state().points[0]);
  handle->handle_size = 10;
  handle->handle_offset_x = 90;
  handle->handle_offset_y = 0;
  add_point(4, 390, 320, 30);
  const struct {
    int y, want;
  } edge[] = {{309, 0}, {310, 0}, {311, 4}};
  for (const auto& e : edge) {
    mouse(390, e.y);
    viewer_input_capture();
    EXPECT_EQ(point_pick_highlighted(), e.want) << "390," << e.y;
  }
  // A grabbed point keeps the highlight wherever the mouse goes.
  point_get_record(viewer_state().points[3])->grabbed = 1;
  mouse(320, 300);
  viewer_input_capture();
  EXPECT_EQ(point_pick_highlighted(), 3);
}

TEST_F(ViewerScene, DragMovesTheCentreAndTheHandleResizes) {
  skip_first_update();
  Task* t = add_point(0, 400, 400, 50);
  PointRecord* p = point_get_record(t);
  // Press on the circle off the handle, then move with the button held.
  click(390, 395);
  g_input.left_held = true;
  frame();
  EXPECT_TRUE(p->dragging_centre);
  mouse(500, 300);
  frame();
  EXPECT_FLOAT_EQ(p->centre_x, 510);
  EXPECT_FLOAT_EQ(p->centre_y, 305);
  g_input.left_held = false;
  frame();
  EXPECT_FALSE(p->grabbed);

  // The handle: held over it, then dragged left of the centre, far out.
  const float hx = p->centre_x + p->handle_offset_x;
  mouse(static_cast<int>(hx), 305);
  g_input.left_held = true;
  frame();
  EXPECT_TRUE(p->dragging_handle);
  mouse(510 - 100, 305);
  frame();
  EXPECT_FLOAT_EQ(p->handle_offset_x, -100);
  EXPECT_FLOAT_EQ(p->radius, 100 + p->handle_size);
  mouse(0, 305);
  frame();
  EXPECT_FLOAT_EQ(p->handle_offset_x, -510);
  mouse(1023, 305);
  frame();
  EXPECT_FLOAT_EQ(p->handle_offset_x, kW * 0.5f) << "the radius is limited to half the width";
  EXPECT_FLOAT_EQ(p->radius, kW * 0.5f + p->handle_size);
  g_input.left_held = false;
  frame();

  // A point far out of the screen (as a ".sav" may place one) keeps a drag
  // offset within its 16 bits.
  point_set_position(t, 60000, 400);
  point_set_radius(t, 90000);
  click(500, 400);
  g_input.left_held = true;
  frame();
  EXPECT_TRUE(p->dragging_centre);
  EXPECT_EQ(p->drag_offset_x, 32767);
  mouse(600, 400);
  frame();
  EXPECT_FLOAT_EQ(p->centre_x, 600 + 32767);
  g_input.left_held = false;
  frame();
}

TEST_F(ViewerScene, PanelOpensAtTheMousePushedInsideTheScreen) {
  skip_first_update();
  Task* a = add_point(0, 1000, 740, 40);
  Task* b = add_point(1, 100, 100, 40);
  struct {
    Task* point;
    int x, y, want_x, want_y;
  } cases[] = {
      {a, 1000, 750, kW - point_panel_width, kH - point_panel_height},
      {b, 90, 110, 90, 110},
      {a, 990, 730, kW - point_panel_width, kH - point_panel_height},
  };
  for (const auto& c : cases) {
    points_close_panels();
    mouse(c.x, c.y);
    g_input.right_pressed = true;
    frame();
    PointRecord* p = point_get_record(c.point);
    EXPECT_TRUE(p->panel_open);
    EXPECT_EQ(p->panel_x, c.want_x);
    EXPECT_EQ(p->panel_y, c.want_y);
  }
  // While a's panel is open, a right click on b opens nothing.
  mouse(100, 100);
  g_input.right_pressed = true;
  frame();
  EXPECT_FALSE(point_get_record(b)->panel_open);
  EXPECT_TRUE(point_get_record(a)->panel_open);
  // With the left button held a right click opens no panel either.
  points_close_panels();
  g_input.left_held = true;
  g_input.right_pressed = true;
  frame();
  EXPECT_FALSE(point_get_record(b)->panel_open);
  g_input.left_held = false;
  g_input.right_pressed = true;
  frame();
  EXPECT_TRUE(point_get_record(b)->panel_open);
  EXPECT_FALSE(point_get_record(a)->panel_open) << "opening one panel closes the others";
}

TEST_F(ViewerScene, PanelArrowsStepAndWrapTheSettings) {
  skip_first_update();
  Task* t = add_point(0, 300, 300, 40);
  PointRecord* p = point_get_record(t);
  p->panel_open = 1;
  p->panel_x = 400;
  p->panel_y = 200;
  const int value_x = 400 + 64 + 1;
  // Row, arrow zone offset (0 left, R right), the setting before and after.
  struct Case {
    int row, zone;
    uint8_t PointRecord::*field;
    uint8_t before, after;
  } cases[] = {
      {1, 48, &PointRecord::number, 15, 0},        {1, 0, &PointRecord::number, 0, 15},
      {2, 80, &PointRecord::time, 99, 0},          {2, 0, &PointRecord::time, 0, 99},
      {3, 112, &PointRecord::effect, 5, 0},        {3, 0, &PointRecord::effect, 0, 5},
      {4, 48, &PointRecord::effect_speed, 20, 0},  {4, 0, &PointRecord::effect_speed, 10, 9},
      {5, 48, &PointRecord::effect_level, 10, 11}, {5, 0, &PointRecord::effect_level, 0, 20},
  };
  for (const Case& c : cases) {
    p->*c.field = c.before;
    click(value_x + c.zone + 8, 200 + 20 * c.row + 10);
    frame();
    EXPECT_EQ(p->*c.field, c.after) << "row " << c.row << " zone " << c.zone;
  }
  // Shown values: NUMBER one up, TIME 0 as RANDOM, the effect's name.
  p->number = 4;
  p->time = 0;
  p->effect = 1;
  mouse(0, 700);
  frame();
  EXPECT_TRUE(has_text(viewer_text_main(), "05"));
  EXPECT_TRUE(has_text(viewer_text_main(), "RANDOM"));
  EXPECT_TRUE(has_text(viewer_text_cp932(), effect_get_name(1)));
  // DELETE marks the point; the next update removes it.
  click(410, 200 + 20 * 6 + 10);
  frame();
  EXPECT_TRUE(p->deleted);
  frame();
  EXPECT_EQ(viewer_state().points[0], nullptr);
  EXPECT_FALSE(task_is_alive(t));
}

TEST_F(ViewerScene, CloseRowClosesThePanel) {
  skip_first_update();
  PointRecord* p = point_get_record(add_point(0, 300, 300, 40));
  // The CLOSE row spans x 100..165 and y 240..259: a click just outside it
  // leaves the panel open.
  for (const auto& [x, y, closes] : {std::tuple{166, 250, false}, std::tuple{100, 260, false},
                                     std::tuple{165, 259, true}, std::tuple{100, 240, true}}) {
    p->panel_open = 1;
    p->panel_x = 100;
    p->panel_y = 100;
    click(x, y);
    frame();
    EXPECT_EQ(p->panel_open, closes ? 0 : 1) << x << "," << y;
  }
  // The DELETE row above it ends at the same edge.
  for (const auto& [x, deletes] : {std::pair{166, false}, std::pair{165, true}}) {
    p->panel_open = 1;
    click(x, 230);
    frame();
    EXPECT_EQ(p->deleted != 0, deletes) << x;
  }
}

// The panel's cells and texts: the hovered row's cells light up, the
// clickable CLOSE label turns red while pressed, the arrows change colour
// under the mouse, and each value sits where it belongs.
TEST_F(ViewerScene, PanelCellsAndTextsShowTheRowsAndTheirValues) {
  skip_first_update();
  viewer_test::TempDir dir;
  Task* t = add_point(0, 300, 300, 40);
  ASSERT_TRUE(point_load_dialogue_file(t, dir.write("n.txt", "#NAME\n[Mina]\n").c_str()));
  PointRecord* p = point_get_record(t);
  p->panel_open = 1;
  p->panel_x = 400;
  p->panel_y = 200;
  p->time = 5;
  const int vx = 400 + 64 + 1;
  mouse(vx + 48 + 4, 200 + 20 * 1 + 5);  // over NUMBER's right arrow
  frame();
  auto cells = [&] {
    std::vector<std::tuple<float, float, uint32_t>> out;
    for (SpriteData* s : sprites(12)) out.emplace_back(s->x, s->y, s->colour);
    return out;
  };
  auto colour_at = [&](float x, float y) {
    for (const auto& [cx, cy, c] : cells())
      if (cx == x && cy == y) return c;
    return 0u;
  };
  EXPECT_EQ(tasks_on(12), 14) << "eight labels and six value cells";
  EXPECT_EQ(colour_at(400, 220), 0xFFFFC080u);
  EXPECT_EQ(colour_at(vx, 220), 0xFFFFC080u);
  EXPECT_EQ(colour_at(400, 200), 0xFF808080u);
  EXPECT_EQ(colour_at(vx, 240), 0xFF808080u);
  auto text_at = [&](int queue, const std::string& what) {
    for (const auto& [c, text] : texts(queue))
      if (text == what) return c;
    return TextCommand{};
  };
  const TextCommand right = text_at(viewer_text_main(), "=>");
  EXPECT_EQ(right.x, vx + 48 + 2);
  EXPECT_EQ(right.y, 222);
  EXPECT_EQ(right.colour, 0xFFFF8000u) << "the arrow under the mouse";
  const TextCommand left = text_at(viewer_text_main(), "<=");
  EXPECT_EQ(left.x, vx + 2);
  EXPECT_EQ(left.y, 222);
  EXPECT_EQ(text_at(viewer_text_main(), "01").x, vx + 26);
  EXPECT_EQ(text_at(viewer_text_main(), "05 SEC").y, 242);
  const TextCommand label = text_at(viewer_text_main(), "EF LV");
  EXPECT_EQ(label.x, 400 + 32);
  EXPECT_EQ(label.y, 200 + 20 * 5 + 11);
  EXPECT_EQ(label.colour, 0xFF004000u);
  const TextCommand name = text_at(viewer_text_cp932(), "Mina");
  EXPECT_EQ(name.font, 2);
  EXPECT_EQ(name.x, vx + 2);
  EXPECT_EQ(name.colour, 0xFF000000u);
  g_input.left_held = true;
  frame();
  EXPECT_EQ(text_at(viewer_text_main(), "=>").colour, 0xFFFF0000u) << "held down";
  g_input.left_held = false;
  // Each row's label lights up under the mouse; it stays over CLOSE, the last.
  for (int row = 0; row < 8; ++row) {
    mouse(410, 200 + 20 * row + 5);
    frame();
    EXPECT_EQ(colour_at(400, 200 + 20.0f * row), 0xFFFFC080u) << "row " << row;
  }
  g_input.left_held = true;
  g_input.left_pressed = true;
  frame();
  EXPECT_EQ(colour_at(400, 340), 0xFFFF0000u) << "the clickable label pressed";
  g_input.left_held = false;
}

TEST_F(ViewerScene, NameRowReadsTheChosenDialogueFile) {
  skip_first_update();
  viewer_test::TempDir dir;
  Task* t = add_point(0, 300, 300, 40);
  PointRecord* p = point_get_record(t);
  p->panel_open = 1;
  p->panel_x = 400;
  p->panel_y = 200;
  const std::string answers =
      dir.write("answers.txt", dir.write("n.txt", "#NAME\n[Ken]\n") + "\n\n" + dir.path + "/gon\xC3\xA9.txt\n");
  ::setenv("TL_FILE_DIALOG_ANSWERS", answers.c_str(), 1);
  file_dialog_reset_answers();
  click(500, 205);
  frame();
  EXPECT_STREQ(point_get_dialogue_name(t), "Ken");
  ::testing::internal::CaptureStderr();
  click(500, 205);  // cancelled
  frame();
  std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(said.find("ファイルが見つかりません"), std::string::npos) << "a cancel says nothing: " << said;
  EXPECT_STREQ(point_get_dialogue_name(t), "Ken") << "a cancelled choice keeps the file";
  ::testing::internal::CaptureStderr();
  click(500, 205);  // a file that is not there: named as the file system spells it
  frame();
  said = ::testing::internal::GetCapturedStderr();
  ::unsetenv("TL_FILE_DIALOG_ANSWERS");
  EXPECT_NE(said.find("ファイルが見つかりません: " + dir.path + "/gon\xC3\xA9.txt\n"), std::string::npos) << said;
  EXPECT_STREQ(point_get_dialogue_name(t), "Ken");
  // No chooser at all: the one box says so, and no second one follows it.
  const std::string old_path = std::getenv("PATH") ? std::getenv("PATH") : "";
  ::setenv("PATH", dir.path.c_str(), 1);
  ::testing::internal::CaptureStderr();
  click(500, 205);
  frame();
  said = ::testing::internal::GetCapturedStderr();
  ::setenv("PATH", old_path.c_str(), 1);
  EXPECT_NE(said.find("zenity または kdialog が必要です"), std::string::npos) << said;
  EXPECT_EQ(said.find("ファイルが見つかりません"), std::string::npos) << said;
  EXPECT_STREQ(point_get_dialogue_name(t), "Ken");
}

TEST_F(ViewerScene, TimeZeroStaysSixtyToOneTwentyFramesAtLevelTwo) {
  skip_first_update();
  point_set_time(add_point(0, 500, 400, 40), 0);
  click(980, 8);
  frame();
  EXPECT_EQ(viewer_get_level(), 0);
  EXPECT_GE(viewer_state().frames_left, 120);
  EXPECT_LE(viewer_state().frames_left, 300);
  g_input.space_pressed = true;
  frame();
  EXPECT_EQ(viewer_get_level(), 1);
  EXPECT_EQ(viewer_state().frames_left, 6);
  int low = 1000, high = 0;
  for (int draw = 0; draw < 200; ++draw) {
    while (viewer_state().frames_left > 0) frame();
    frame();  // the next point is chosen
    low = std::min(low, viewer_state().frames_left);
    high = std::max(high, viewer_state().frames_left);
  }
  EXPECT_GE(low, 60);
  EXPECT_LE(high, 120);
  EXPECT_LT(low, 70);
  EXPECT_GT(high, 110);
  EXPECT_TRUE(has_text(viewer_text_main(), "LEVEL 2"));
}

// Each frame with frames_left at 0 chooses a point anew: the stay it gets is
// TIME x 60 frames, or at TIME 0 a random stay that depends on the LEVEL.
TEST_F(ViewerScene, StayFramesFollowTimeOrTheLevel) {
  skip_first_update();
  Task* t = add_point(0, 500, 400, 40);
  click(980, 8);
  frame();
  struct Case {
    int level;
    uint8_t time;
    int lo, hi;
  } cases[] = {{0, 0, 120, 300}, {1, 0, 60, 120}, {2, 0, 120, 300}, {0, 3, 180, 180}, {2, 99, 5940, 5940}};
  for (const Case& c : cases) {
    point_set_time(t, c.time);
    viewer_state().level = c.level;
    int low = 100000, high = 0;
    for (int draw = 0; draw < 1500; ++draw) {
      viewer_state().frames_left = 0;
      frame();
      low = std::min(low, viewer_state().frames_left);
      high = std::max(high, viewer_state().frames_left);
    }
    SCOPED_TRACE(testing::Message() << "level " << c.level << " time " << int(c.time));
    EXPECT_EQ(low, c.lo) << "both ends are reached, and nothing beyond";
    EXPECT_EQ(high, c.hi);
  }
}

// RAMDOM draws again when it picks the point shown before, at most twice: of
// two points the same one follows about one time in eight.
TEST_F(ViewerScene, RandomPickDrawsAgainAtMostTwiceWhenItRepeats) {
  skip_first_update();
  for (int i = 0; i < 2; ++i) point_set_time(add_point(i, 300.0f + 400 * i, 400, 40), 1);
  click(980, 8);
  frame();
  int repeats = 0;
  const int choices = 1600;
  for (int i = 0; i < choices; ++i) {
    const int before = viewer_state().current;
    viewer_state().frames_left = 0;
    frame();
    ASSERT_GE(viewer_state().current, 0);
    repeats += viewer_state().current == before;
  }
  EXPECT_GT(repeats, choices / 8 - 50);
  EXPECT_LT(repeats, choices / 8 + 50);
}

// While playing, the current point's effect runs on the frame count since
// PLAY with the point's EF SPD and EF LV, and each output moves halfway to its
// target every frame; the picture follows the eased offset.
TEST_F(ViewerScene, EffectOutputsAreEasedHalfwayEachFrame) {
  skip_first_update();
  // A point at the centre of the picture area whose circle fills its height:
  // camera and magnification stay where PLAY puts them.
  Task* t = add_point(0, kW * 0.5f, (kH - 16) * 0.5f + 16, (kH - 16) * 0.5f);
  point_set_time(t, 9);
  point_set_effect(t, 1);          // vertical shake
  point_set_effect_speed(t, 20);   // three times the rate
  point_set_effect_level(t, 0);    // a tenth of the strength
  click(980, 8);
  const double a = kH * 0.05 * 0.1;
  double eased = 0;
  for (int frame_no = 0; frame_no < 30; ++frame_no) {
    frame();
    const double target = std::fabs(a * std::sin(frame_no * 9.0 * M_PI / 180.0) + a * 0.5);
    eased += (target - eased) * 0.5;
    SCOPED_TRACE(frame_no);
    EXPECT_NEAR(viewer_state().eased_dy, eased, 1e-3);
    EXPECT_EQ(viewer_state().eased_dx, 0.0f);
    EXPECT_EQ(viewer_state().eased_scale_x, 0.0f);
    EXPECT_FLOAT_EQ(viewer_state().magnification, 1.0f);
    EXPECT_NEAR(viewer_state().history[0].y, 16 - eased, 1e-3) << "the picture moves up by the offset";
    EXPECT_NEAR(viewer_state().history[0].x, 0, 1e-3);
  }
  // A horizontal shake moves the picture right by its (negative) offset.
  point_set_effect(t, 3);
  viewer_state().eased_dy = 0;
  frame();
  EXPECT_LT(viewer_state().eased_dx, 0.0f);
  EXPECT_NEAR(viewer_state().history[0].x, -viewer_state().eased_dx, 1e-3);
  EXPECT_NEAR(viewer_state().history[0].y, 16, 1e-3);
  // A magnification pulse eases both scales alike.
  viewer_state().eased_dx = 0;
  point_set_effect(t, 5);
  viewer_state().eased_dy = 0;
  viewer_state().frame = 0;
  frame();
  EXPECT_NEAR(viewer_state().eased_scale_x, 0.1f * 0.2f * 0.5f, 1e-5);
  EXPECT_EQ(viewer_state().eased_scale_x, viewer_state().eased_scale_y);
  EXPECT_NEAR(viewer_state().eased_dy, 0, 1e-6);
}

TEST_F(ViewerScene, SpaceRaisesLevelUpToThreeAndPlayOrStopResetsIt) {
  skip_first_update();
  click(980, 8);
  frame();
  EXPECT_TRUE(has_text(viewer_text_main(), "LEVEL 1"));
  for (int want : {1, 2, 2}) {
    g_input.space_pressed = true;
    frame();
    EXPECT_EQ(viewer_get_level(), want);
    EXPECT_EQ(viewer_state().frames_left, 6) << "the next point comes six frames later";
  }
  EXPECT_TRUE(has_text(viewer_text_main(), "LEVEL 3"));
  auto level = texts(viewer_text_main()).back();
  EXPECT_EQ(level.first.x, kW - 58);
  EXPECT_EQ(level.first.y, kH - 18);
  EXPECT_EQ(level.first.colour, 0xFFFF0000u);
  // An effect half eased in when play stops.
  viewer_state().eased_dx = 1;
  viewer_state().eased_dy = 2;
  viewer_state().eased_scale_x = 3;
  viewer_state().eased_scale_y = 4;
  click(980, 8);  // STOP
  frame();
  EXPECT_EQ(viewer_state().eased_dx, 0.0f);
  EXPECT_EQ(viewer_state().eased_dy, 0.0f);
  EXPECT_EQ(viewer_state().eased_scale_x, 0.0f);
  EXPECT_EQ(viewer_state().eased_scale_y, 0.0f);
  EXPECT_EQ(viewer_get_level(), 0);
  EXPECT_FALSE(has_text(viewer_text_main(), "LEVEL 1"));
  EXPECT_FLOAT_EQ(viewer_state().magnification, 1.0f);
}

TEST_F(ViewerScene, NoPointsKeepTheCameraCentred) {
  skip_first_update();
  click(980, 8);
  for (int i = 0; i < 10; ++i) frame();
  EXPECT_EQ(viewer_state().current, -1);
  EXPECT_FLOAT_EQ(viewer_state().camera_x, kW * 0.5f);
  EXPECT_FLOAT_EQ(viewer_state().camera_y, (kH - 16) * 0.5f + 16);
  EXPECT_FLOAT_EQ(viewer_state().magnification, 1.0f);
}

TEST_F(ViewerScene, CameraEasesOntoThePointKeepingTheCircleOnScreen) {
  skip_first_update();
  add_point(0, 20, 700, 100);  // near the bottom-left corner
  click(980, 8);
  // A tenth of the way to the target each frame, the magnification a
  // twentieth of the way to the circle filling the picture area's height.
  double cx = kW * 0.5, cy = (kH - 16) * 0.5 + 16, mag = 1.0;
  for (int i = 0; i < 5; ++i) {
    frame();
    cx += (100 - cx) * 0.1;
    cy += (kH - 100 - cy) * 0.1;
    mag += ((kH - 16) / 200.0 - mag) * 0.05;
    EXPECT_NEAR(viewer_state().camera_x, cx, 1e-3) << i;
    EXPECT_NEAR(viewer_state().camera_y, cy, 1e-3) << i;
    EXPECT_NEAR(viewer_state().magnification, mag, 1e-5) << i;
    EXPECT_EQ(viewer_state().camera_radius, 100.0f);
  }
  for (int i = 0; i < 200; ++i) frame();
  EXPECT_NEAR(viewer_state().camera_x, 100, 0.5f);
  EXPECT_NEAR(viewer_state().camera_y, kH - 100, 0.5f);
  EXPECT_NEAR(viewer_state().magnification, (kH - 16) / 200.0f, 0.05f);
}

TEST_F(ViewerScene, PointRefusedAtSixteenAndWhilePlaying) {
  skip_first_update();
  for (int i = 0; i < kViewerPointSlots; ++i) {
    click(85, 8);
    frame();
  }
  EXPECT_EQ(points_count(), 16);
  click(85, 8);
  frame();
  EXPECT_EQ(points_count(), 16);
  points_destroy_all();
  click(980, 8);
  frame();
  click(85, 8);
  frame();
  EXPECT_EQ(points_count(), 0) << "no point is made while playing";
}

TEST_F(ViewerScene, PointIsMadeAtTheMouseWithItsDefaults) {
  skip_first_update();
  click(85, 8);  // POINT, the mouse still over the button
  frame();
  Task* t = viewer_state().points[0];
  ASSERT_NE(t, nullptr);
  const PointRecord* p = point_get_record(t);
  EXPECT_EQ(p->centre_x, 85.0f);
  EXPECT_EQ(p->centre_y, 8.0f);
  EXPECT_FLOAT_EQ(p->radius, kW * 0.05f);
  EXPECT_FLOAT_EQ(p->handle_size, kW * 0.01f);
  EXPECT_FLOAT_EQ(p->handle_offset_x, kW * 0.04f);
  EXPECT_EQ(p->handle_offset_y, 0.0f);
  EXPECT_EQ(p->visible, 1);
  EXPECT_EQ(p->effect_speed, 10);
  EXPECT_EQ(p->effect_level, 10);
  EXPECT_EQ(p->number + p->effect + p->time + p->reserved + p->deleted + p->panel_open, 0);
  EXPECT_EQ(p->dialogue, nullptr);
  EXPECT_EQ(t->owner, viewer_state().owner);
  // A point's task killed by anything else leaves its slot free.
  task_kill(t);
  EXPECT_EQ(viewer_state().points[0], nullptr);
  // The next POINT takes the lowest free slot.
  add_point(1, 50, 50, 10);
  add_point(3, 10, 10, 10);
  click(85, 8);
  frame();
  EXPECT_NE(viewer_state().points[0], nullptr);
  click(85, 8);
  frame();
  EXPECT_NE(viewer_state().points[2], nullptr);
  EXPECT_EQ(points_count(), 4);
}

// A sound worker that records the opcodes posted to it.
std::vector<uint32_t> posted_opcodes;
void record_opcode(const SoundCommand& c) { posted_opcodes.push_back(c.opcode); }

TEST_F(ViewerScene, InitSetsTheSceneUpAndReleaseTakesItDown) {
  posted_opcodes.clear();
  ASSERT_TRUE(sound_thread_start(record_opcode));
  set_cursor_mode(2);
  set_camera_mode(0, 2);
  set_camera_fov(0, 1.0f);
  set_fog_enable(0, 1);
  viewer_scene_init();
  ASSERT_TRUE(sound_thread_wait_idle(5000));
  EXPECT_EQ(posted_opcodes, std::vector<uint32_t>{2}) << "the BGM stops";
  EXPECT_EQ(get_mouse_state()->cursor_mode, 1);
  EXPECT_EQ(get_camera_mode(0), 0);
  EXPECT_FLOAT_EQ(get_camera_fov(0), 0.17453294f);
  EXPECT_EQ(get_fog_enable(0), 0);
  EXPECT_EQ(viewer_get_lag(), 1);
  EXPECT_EQ(viewer_state().run_state, 0);
  EXPECT_NE(viewer_state().owner, 0u);

  const uint32_t owner = viewer_state().owner;
  skip_first_update();
  add_point(0, 300, 300, 40);
  frame();
  ASSERT_GT(tasks_get_alive_count(), 0u);
  viewer_scene_release();
  ASSERT_TRUE(sound_thread_wait_idle(5000));
  sound_thread_stop();
  EXPECT_EQ(posted_opcodes, (std::vector<uint32_t>{2, 2}));
  EXPECT_EQ(tasks_get_alive_count(), 0u) << "every task of the owner is gone";
  EXPECT_EQ(handle_alloc(), owner) << "the owner handle is free again";
  viewer_scene_init();
}

TEST_F(ViewerScene, RefusedDialogueFileLeavesThePointsDialogueAsItWas) {
  skip_first_update();
  viewer_test::TempDir dir;
  Task* t = add_point(0, 300, 300, 40);
  const std::string good = dir.write("good.txt", "#NAME\n[Mina]\n#TEXT1\n[hello]\n");
  const std::string bad = dir.write("bad.txt", "#NAME\n[Mina]\n#SHOUT\n[hello]\n");
  const std::string loose = dir.write("loose.txt", "NAME\n[Mina]\n");
  EXPECT_TRUE(point_load_dialogue_file(t, good.c_str()));
  EXPECT_STREQ(point_get_dialogue_name(t), "Mina");
  for (const std::string& path : {bad, loose, dir.path + "/absent.txt"}) {
    EXPECT_FALSE(point_load_dialogue_file(t, path.c_str())) << path;
    EXPECT_STREQ(point_get_dialogue_name(t), "Mina") << path;
    EXPECT_EQ(point_get_dialogue_path(t), good) << path;
  }
}

TEST_F(ViewerScene, DialogueBoxShowsTheLineWhilePlaying) {
  skip_first_update();
  viewer_test::TempDir dir;
  Task* t = add_point(0, 300, 300, 40);
  point_set_time(t, 2);
  ASSERT_TRUE(point_load_dialogue_file(t, dir.write("d.txt", "#NAME\n[A]\n#TEXT1\n[line one]\n").c_str()));
  click(980, 8);
  frame();
  int shown = 0;
  for (const auto& [c, text] : texts(viewer_text_cp932())) {
    if (text != "line one") continue;
    ++shown;
    EXPECT_EQ(c.font, 1);
    EXPECT_EQ(c.x, kW / 2);
    EXPECT_EQ(c.y, static_cast<int>(kH * 0.91f));
    EXPECT_EQ(c.colour, 0xFFFF0080u) << "the first colour of the cycle";
  }
  EXPECT_EQ(shown, 1);
  EXPECT_EQ(tasks_on(16) + tasks_on(15), 0) << "no circles while playing";
  // The box: x0 = W 0.05, w = W 0.9, y0 = H 0.85, h = H 0.1, y1 = H 0.87;
  // the shade and the tinted band below the frame, which is the line's colour.
  const float x0 = kW * 0.05f, w = kW * 0.9f, y0 = kH * 0.85f, h = kH * 0.1f, y1 = kH * 0.87f;
  const uint32_t c = 0xFFFF0080u;
  struct Rect {
    uint32_t colour;
    float x, y, w, h;
  };
  const Rect fills[] = {{0x80000000u, x0 + 2, y1 + 1, w - 4, h - (y1 - y0) - 3},
                        {0x40FF0080u, x0 + 2, y0 + 2, w - 4, (y1 - y0) - 1}};
  const Rect frame_rects[] = {{c, x0 + 2, y0, w - 4, 2},     {c, x0 + 2, y0 + h - 2, w - 4, 2},
                              {c, x0, y0 + 2, 2, h - 4},     {c, x0 + w - 2, y0 + 2, 2, h - 4},
                              {c, x0, y1, w, 1}};
  auto same = [](const SpriteData* s, const Rect& r) {
    return s->colour == r.colour && std::fabs(s->x - r.x) < 1e-3f && std::fabs(s->y - r.y) < 1e-3f &&
           std::fabs(s->width * s->scale_x - r.w) < 1e-3f && std::fabs(s->height * s->scale_y - r.h) < 1e-3f;
  };
  for (const auto& [layer, rects, n] : {std::tuple{19, fills, 2}, std::tuple{18, frame_rects, 5}}) {
    const auto drawn = sprites(layer);
    ASSERT_EQ(static_cast<int>(drawn.size()), n) << layer;
    for (int i = 0; i < n; ++i) {
      const Rect& r = rects[i];
      EXPECT_TRUE(std::any_of(drawn.begin(), drawn.end(), [&](const SpriteData* s) { return same(s, r); }))
          << "layer " << layer << " rectangle " << i;
    }
  }
}

TEST_F(ViewerScene, DialogueColoursCycleOnePerPoint) {
  const uint32_t want[] = {0xFFFF0080u, 0xFFFFFF80u, 0xFF80FF80u, 0xFFC0C000u, 0xFF8080FFu, 0xFFFF0080u, 0xFFFFFF80u};
  for (uint32_t colour : want) {
    viewer_next_dialogue_colour();
    EXPECT_EQ(viewer_get_dialogue_colour(), colour);
  }
  // PLAY takes the next colour with every point it moves to.
  viewer_state_reset();
  viewer_scene_init();
  skip_first_update();
  point_set_time(add_point(0, 300, 300, 40), 1);
  click(980, 8);
  for (int point = 0; point < 6; ++point) {
    frame();
    EXPECT_EQ(viewer_get_dialogue_colour(), want[point]) << point;
    while (viewer_state().frames_left > 0) frame();
  }
}

// While playing: panels close, the line comes from the pool of the LEVEL at
// the time the point is chosen, only the current point shows its line, and
// an empty line shows no box.
TEST_F(ViewerScene, LinesWhilePlayingFollowTheLevelAndTheCurrentPoint) {
  skip_first_update();
  viewer_test::TempDir dir;
  Task* a = add_point(0, 300, 300, 40);
  Task* b = add_point(1, 700, 300, 40);
  ASSERT_TRUE(point_load_dialogue_file(a, dir.write("a.txt", "#NAME\n[A]\n#TEXT1\n[one]\n#TEXT2\n[two]\n#TEXT3\n[three]\n").c_str()));
  ASSERT_TRUE(point_load_dialogue_file(b, dir.write("b.txt", "#NAME\n[B]\n#TEXT1\n[]\n").c_str()));
  point_set_number(b, 1);
  point_get_record(a)->panel_open = 1;
  click(930, 8);  // ORDER: a, then b
  frame();
  click(980, 8);
  frame();
  EXPECT_FALSE(point_get_record(a)->panel_open) << "panels close while playing";
  EXPECT_EQ(tasks_on(12), 0);
  EXPECT_TRUE(has_text(viewer_text_cp932(), "one"));
  g_input.space_pressed = true;  // LEVEL 2: b comes six frames later
  frame();
  EXPECT_TRUE(has_text(viewer_text_cp932(), "one")) << "the line stays until the next point";
  for (int i = 0; i < 7; ++i) frame();
  EXPECT_EQ(viewer_state().current, 1);
  EXPECT_EQ(point_get_record(a)->shown_line, nullptr) << "the line of the point left behind is cleared";
  ASSERT_NE(point_get_record(b)->shown_line, nullptr);
  EXPECT_EQ(tasks_on(18) + tasks_on(19), 0) << "an empty line shows no box";
  EXPECT_FALSE(has_text(viewer_text_cp932(), ""));
  g_input.space_pressed = true;  // LEVEL 3: a again
  frame();
  for (int i = 0; i < 7; ++i) frame();
  EXPECT_EQ(viewer_state().current, 0);
  EXPECT_EQ(point_get_record(b)->shown_line, nullptr);
  EXPECT_TRUE(has_text(viewer_text_cp932(), "three"));
  EXPECT_EQ(tasks_on(18), 5);
  // A point made invisible draws no circle once stopped.
  click(980, 8);
  frame();
  point_get_record(b)->visible = 0;
  mouse(0, 700);
  frame();
  EXPECT_EQ(tasks_on(16), 25);
}

TEST_F(ViewerScene, CirclesAreDrawnWhileStoppedInTheirColours) {
  skip_first_update();
  add_point(0, 300, 300, 40);
  add_point(1, 700, 300, 40);
  mouse(300, 300);
  frame();
  // 16 chords, 8 handle chords and the spoke per point.
  EXPECT_EQ(tasks_on(15), 25) << "the hovered point";
  EXPECT_EQ(tasks_on(16), 25);
  auto colours = [](int layer) {
    std::set<std::pair<uint32_t, uint32_t>> out;
    for (Task* t = tasks_layer_head(layer); t; t = t->layer_next)
      out.insert({task_data<LineData>(t)->colour0, task_data<LineData>(t)->colour1});
    return out;
  };
  using Colours = std::set<std::pair<uint32_t, uint32_t>>;
  EXPECT_EQ(colours(15), (Colours{{0xFFFF0000u, 0xFFFF0000u}}));
  EXPECT_EQ(colours(16), (Colours{{0xFF008000u, 0xFF008000u}}));

  // The circle is 16 chords of the radius from angle 0, the handle 8 chords
  // of its size around its centre, and one spoke joins the two centres.
  const PointRecord* p = point_get_record(viewer_state().points[1]);
  const float hx = p->centre_x + p->handle_offset_x, hy = p->centre_y + p->handle_offset_y;
  int circle = 0, handle = 0, spoke = 0, from_angle_zero = 0;
  for (Task* t = tasks_layer_head(16); t; t = t->layer_next) {
    const LineData* l = task_data<LineData>(t);
    auto at = [&](const float* q, float cx, float cy, float r) {
      return std::fabs(distance_2d(q[0], q[1], cx, cy) - r) < 1e-3f;
    };
    const bool chord = at(l->p0, 700, 300, 40) && at(l->p1, 700, 300, 40) &&
                       distance_2d(l->p0[0], l->p0[1], l->p1[0], l->p1[1]) < 16;
    circle += chord;
    handle += at(l->p0, hx, hy, p->handle_size) && at(l->p1, hx, hy, p->handle_size);
    spoke += at(l->p0, 700, 300, 0) && at(l->p1, hx, hy, 0);
    from_angle_zero += chord && at(l->p0, 740, 300, 0);
  }
  EXPECT_EQ(circle, 16);
  EXPECT_EQ(handle, 8);
  EXPECT_EQ(spoke, 1);
  EXPECT_EQ(from_angle_zero, 1);

  // A point with its panel open is orange; with another's panel open, the
  // hovered point is plain green, still on the hovered layer.
  point_get_record(viewer_state().points[0])->panel_open = 1;
  point_get_record(viewer_state().points[0])->panel_x = 0;
  point_get_record(viewer_state().points[0])->panel_y = 500;
  mouse(700, 300);
  frame();
  EXPECT_EQ(colours(16), (Colours{{0xFFFF8000u, 0xFFFF8000u}}));
  EXPECT_EQ(colours(15), (Colours{{0xFF008000u, 0xFF008000u}}));
  mouse(300, 300);
  frame();
  EXPECT_EQ(colours(15), (Colours{{0xFFFF8000u, 0xFFFF8000u}})) << "its own panel outweighs the highlight";
}

TEST_F(ViewerScene, UndecodablePictureRefusesTheArrangement) {
  skip_first_update();
  add_point(0, 300, 300, 40);
  viewer_set_order_mode(0);
  SaveArrangement a;
  a.order = 1;
  a.picture = {'n', 'o', 't', ' ', 'a', ' ', 'p', 'i', 'c'};
  a.points.resize(3);
  EXPECT_FALSE(viewer_apply_arrangement(std::move(a)));
  EXPECT_EQ(points_count(), 1);
  EXPECT_EQ(viewer_get_order_mode(), 0);
}

// Effect outputs against the formulas, at the ends of EF SPD and EF LV.
TEST(ViewerEffects, FormulasAtTheEndsOfSpeedAndLevel) {
  const int layout[5] = {1024, 768, 1024, 768, 0};
  view_set_screen(1024, 768, layout);
  EXPECT_FLOAT_EQ(effect_level_factor(0), 0.1f);
  EXPECT_FLOAT_EQ(effect_level_factor(10), 1.0f);
  EXPECT_FLOAT_EQ(effect_level_factor(20), 6.0f);
  EXPECT_FLOAT_EQ(effect_speed_factor(0), 0.1f);
  EXPECT_FLOAT_EQ(effect_speed_factor(20), 3.0f);

  const float a_low = 768 * 0.05f * 0.1f, a_high = 768 * 0.05f * 6.0f;
  const float w_high = 1024 * 0.05f * 6.0f;
  struct Case {
    int effect;
    uint32_t t;
    int speed, level;
    EffectOutput want;
  } cases[] = {
      // Shakes start at a / 2.
      {1, 0, 10, 0, {0, a_low * 0.5f, 0, 0}},
      {1, 0, 10, 20, {0, a_high * 0.5f, 0, 0}},
      {2, 0, 10, 20, {w_high * 0.5f, 0, 0, 0}},
      {3, 0, 10, 20, {-w_high * 0.5f, 0, 0, 0}},
      // EF SPD 0: a tenth of the rate, 90 degrees after 300 frames.
      {1, 300, 0, 20, {0, a_high * 1.5f, 0, 0}},
      // EF SPD 20: three times, 90 degrees after 10 frames; 270 after 30.
      {1, 10, 20, 20, {0, a_high * 1.5f, 0, 0}},
      {1, 30, 20, 20, {0, a_high * 0.5f, 0, 0}},
      // Magnifications: 2 starts at 0.2 L, 1 peaks a quarter period on.
      {4, 0, 10, 20, {0, 0, 0, 0}},
      {5, 0, 10, 20, {0, 0, 1.2f, 1.2f}},
      {5, 0, 10, 0, {0, 0, 0.02f, 0.02f}},
      {4, 15, 10, 0, {0, 0, 0.02f, 0.02f}},
      {4, 5, 20, 20, {0, 0, 1.2f, 1.2f}},
      {4, 150, 0, 20, {0, 0, 1.2f, 1.2f}},
      {4, 45, 10, 20, {0, 0, 1.2f, 1.2f}},  // 270 degrees: the negative half folds up
      {5, 45, 10, 20, {0, 0, 0, 0}},
      {0, 77, 10, 10, {0, 0, 0, 0}},
      {9, 77, 10, 10, {0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    const EffectOutput e = effect_apply(c.effect, c.t, c.speed, c.level);
    const std::string at = "effect " + std::to_string(c.effect) + " t " + std::to_string(c.t) + " spd " +
                           std::to_string(c.speed) + " lv " + std::to_string(c.level);
    EXPECT_NEAR(e.dx, c.want.dx, 0.01f) << at;
    EXPECT_NEAR(e.dy, c.want.dy, 0.01f) << at;
    EXPECT_NEAR(e.scale_x_add, c.want.scale_x_add, 1e-3f) << at;
    EXPECT_NEAR(e.scale_y_add, c.want.scale_y_add, 1e-3f) << at;
  }
  EXPECT_EQ(effect_count(), 6);
  EXPECT_STREQ(effect_get_name(0), "\x96\xb3\x82\xb5");
  EXPECT_STREQ(effect_get_name(6), "");
}

TEST(ViewerPoints, WrapAndClamp) {
  struct {
    int v, lo, hi, wrap, clamp;
  } cases[] = {
      {-1, 0, 15, 15, 0}, {16, 0, 15, 0, 15}, {7, 0, 15, 7, 7}, {-22, 0, 20, 20, 0}, {5, 3, 3, 3, 3},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(wrap_into_range(c.v, c.lo, c.hi), c.wrap) << c.v;
    EXPECT_EQ(clamp_int(c.v, c.lo, c.hi), c.clamp) << c.v;
  }
}

}  // namespace
