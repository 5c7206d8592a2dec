#include "viewer/point_panel.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/sys/sys.h"
#include "platform/window/file_dialog.h"
#include "platform/window/window.h"
#include "render/overlay2d/sprite2d.h"
#include "render/text/text_queue.h"
#include "viewer/viewer_effects.h"
#include "viewer/viewer_input.h"
#include "viewer/viewer_messages.h"
#include "viewer/viewer_points.h"
#include "viewer/viewer_state.h"

namespace {

constexpr uint8_t kPanelLayer = 12;
constexpr uint32_t kCellColour = 0xFF808080;
constexpr uint32_t kCellHoverColour = 0xFFFFC080;
constexpr uint32_t kLabelClickColour = 0xFFFF0000;
constexpr uint32_t kLabelTextColour = 0xFF004000;
constexpr uint32_t kValueTextColour = 0xFF000000;
constexpr uint32_t kArrowColour = 0xFF000000;
constexpr uint32_t kArrowHoverColour = 0xFFFF8000;
constexpr uint32_t kArrowHeldColour = 0xFFFF0000;
constexpr int kArrowZone = 16;
constexpr int kValueTextOffset = 26;

// Where a row handler draws: the value cell.
struct Cell {
  Task* task;
  bool hovered;
  int x, y, width, height;
};

using RowHandler = bool (*)(const Cell& cell);

struct PanelRow {
  bool enabled;
  bool clickable_label;
  int value_width;
  const char* label;
  RowHandler handler;
};

void value_cell(const Cell& c) {
  sprite2d_draw_rect(c.task->owner, c.hovered ? kCellHoverColour : kCellColour, static_cast<float>(c.x),
                     static_cast<float>(c.y), static_cast<float>(c.width), static_cast<float>(c.height - 1), 0, 0,
                     1, 1, kPanelLayer);
}

bool mouse_in_zone(int x0) {
  const int mx = viewer_input().x;
  return mx >= x0 && mx <= x0 + kArrowZone;
}

void draw_arrow(const Cell& c, int x0, const char* text) {
  uint32_t colour = kArrowColour;
  if (c.hovered && mouse_in_zone(x0)) colour = viewer_input().left_held ? kArrowHeldColour : kArrowHoverColour;
  text_queue_printf(viewer_text_main(), 0, 0, 16.0f, x0 + 2, c.y + 2, colour, "%s", text);
}

// Draws "<=", the value and "=>", and returns the step a click gives: -1, +1
// or 0.
int arrows(const Cell& c, int right, const char* value, bool value_cp932) {
  value_cell(c);
  draw_arrow(c, c.x, "<=");
  draw_arrow(c, c.x + right, "=>");
  text_queue_printf(value_cp932 ? viewer_text_cp932() : viewer_text_main(), 0, 0, 16.0f, c.x + kValueTextOffset,
                    c.y + 2, kValueTextColour, "%s", value);
  if (!c.hovered || !viewer_input().left_pressed) return 0;
  if (mouse_in_zone(c.x)) return -1;
  if (mouse_in_zone(c.x + right)) return 1;
  return 0;
}

// The stepped value: left wraps into [0, count - 1], right counts on modulo
// count.
uint8_t step(uint8_t value, int direction, int count) {
  if (direction < 0) return static_cast<uint8_t>(wrap_into_range(value - 1, 0, count - 1));
  if (direction > 0) return static_cast<uint8_t>((value + 1) % count);
  return value;
}

std::string two_digits(int v) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d", v);
  return text;
}

bool row_name(const Cell& c) {
  value_cell(c);
  if (c.hovered && viewer_input().left_pressed) {
    std::string path, no_file;
    // A cancel says nothing, and a dialog that could not ask has said why.
    if (file_dialog_open({{kFilterDialogue, "*.txt"}}, ".\\text\\", path, &no_file)) {
      point_load_dialogue_file(c.task, path.c_str());
    } else if (!no_file.empty()) {
      window_message_box_utf8(sys_path_lines(no_file, kSysMessageColumns), kMsgFileNotFound);
    }
  }
  const char* name = point_get_dialogue_name(c.task);
  text_queue_printf(viewer_text_cp932(), 0, 2, 16.0f, c.x + 2, c.y + 2, kValueTextColour, "%s", name ? name : "");
  return false;
}

bool row_number(const Cell& c) {
  const uint8_t v = point_get_number(c.task);
  point_set_number(c.task, step(v, arrows(c, 48, two_digits(v + 1).c_str(), false), kPointMaxNumber + 1));
  return false;
}

bool row_time(const Cell& c) {
  const uint8_t v = point_get_time(c.task);
  const std::string shown = v == 0 ? std::string("RANDOM") : two_digits(v) + " SEC";
  point_set_time(c.task, step(v, arrows(c, 80, shown.c_str(), false), 100));
  return false;
}

bool row_effect(const Cell& c) {
  const uint8_t v = point_get_effect(c.task);
  point_set_effect(c.task, step(v, arrows(c, 112, effect_get_name(v), true), kEffectCount));
  return false;
}

bool row_effect_speed(const Cell& c) {
  const uint8_t v = point_get_effect_speed(c.task);
  point_set_effect_speed(c.task, step(v, arrows(c, 48, two_digits(v).c_str(), false), 21));
  return false;
}

bool row_effect_level(const Cell& c) {
  const uint8_t v = point_get_effect_level(c.task);
  point_set_effect_level(c.task, step(v, arrows(c, 48, two_digits(v).c_str(), false), 21));
  return false;
}

// The point stays, panel open, until the viewer removes it next frame.
bool row_delete(const Cell& c) {
  if (c.hovered && viewer_input().left_pressed) point_get_record(c.task)->deleted = 1;
  return false;
}

bool row_close(const Cell& c) { return c.hovered && viewer_input().left_pressed; }

const PanelRow kRows[kPointPanelRows] = {
    {true, false, 200, "NAME", row_name},
    {true, false, 200, "NUMBER", row_number},
    {true, false, 200, "TIME", row_time},
    {true, false, 200, "EFEECT", row_effect},
    {true, false, 200, "EF SPD", row_effect_speed},
    {true, false, 200, "EF LV", row_effect_level},
    {true, false, 0, "DELETE", row_delete},
    {true, true, 0, "CLOSE", row_close},
};

int label_width() {
  size_t longest = 0;
  for (const PanelRow& r : kRows) longest = std::max(longest, std::strlen(r.label));
  return static_cast<int>(longest + 2) * 8;
}

}  // namespace

bool point_panel_update(Task* task, int x, int y) {
  const ViewerInput& in = viewer_input();
  const int lw = label_width();
  bool close = false;
  for (int i = 0; i < kPointPanelRows; ++i) {
    const PanelRow& row = kRows[i];
    const int yi = y + kPointPanelRowHeight * i;
    const bool hovered = x <= in.x && in.x <= x + lw + 1 + row.value_width && yi <= in.y &&
                         in.y < yi + kPointPanelRowHeight;
    uint32_t colour = hovered ? kCellHoverColour : kCellColour;
    if (row.clickable_label && hovered && in.left_pressed) colour = kLabelClickColour;
    if (!row.enabled) colour = kCellColour;
    sprite2d_draw_rect(task->owner, colour, static_cast<float>(x), static_cast<float>(yi), static_cast<float>(lw),
                       static_cast<float>(kPointPanelRowHeight - 1), 0, 0, 1, 1, kPanelLayer);
    text_queue_printf(viewer_text_main(), TEXT_ANCHOR_CENTRE_X | TEXT_ANCHOR_CENTRE_Y, 0, 16.0f,
                      static_cast<int>(static_cast<float>(x) + static_cast<float>(lw) * 0.5f), yi + 1 + 10,
                      kLabelTextColour, "%s", row.label);
    const Cell cell{task, hovered, x + lw + 1, yi, row.value_width, kPointPanelRowHeight};
    if (row.handler(cell)) close = true;
  }
  return !close;
}
