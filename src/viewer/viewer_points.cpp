#include "viewer/viewer_points.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/sys/sys.h"
#include "render/overlay2d/prim2d.h"
#include "viewer/dialogue_box.h"
#include "viewer/point_panel.h"
#include "viewer/viewer_input.h"
#include "viewer/viewer_state.h"

namespace {

constexpr uint8_t kCircleLayer = 16;
constexpr uint8_t kHoveredCircleLayer = 15;
constexpr uint32_t kColourPlain = 0xFF008000;
constexpr uint32_t kColourHovered = 0xFFFF0000;
constexpr uint32_t kColourOwnPanel = 0xFFFF8000;
constexpr float kTwoPi = 6.2831855f;

Task** slots() { return viewer_state().points; }

void draw_ring(uint32_t owner, float cx, float cy, float r, int chords, uint32_t colour, uint8_t layer) {
  for (int i = 0; i < chords; ++i) {
    const float a0 = static_cast<float>(i) * kTwoPi / static_cast<float>(chords);
    const float a1 = static_cast<float>(i + 1) * kTwoPi / static_cast<float>(chords);
    line2d_draw(owner, cx + r * std::cos(a0), cy + r * std::sin(a0), colour, cx + r * std::cos(a1),
                cy + r * std::sin(a1), colour, layer);
  }
}

void draw_point(Task* task, const PointRecord* p) {
  uint32_t colour = p->hovered ? kColourHovered : kColourPlain;
  if (p->panel_open) colour = kColourOwnPanel;
  if (point_other_panel_open(task)) colour = kColourPlain;
  const uint8_t layer = p->hovered ? kHoveredCircleLayer : kCircleLayer;
  const uint32_t owner = task->owner;
  const float hx = p->centre_x + p->handle_offset_x, hy = p->centre_y + p->handle_offset_y;
  draw_ring(owner, p->centre_x, p->centre_y, p->radius, 16, colour, layer);
  draw_ring(owner, hx, hy, p->handle_size, 8, colour, layer);
  line2d_draw(owner, p->centre_x, p->centre_y, colour, hx, hy, colour, layer);
}

void free_dialogue(PointRecord* p) {
  deffile_free_list(p->dialogue);
  delete[] p->dialogue_path;
  delete[] p->stored_dialogue_path;
  p->dialogue = nullptr;
  p->dialogue_path = nullptr;
  p->stored_dialogue_path = nullptr;
  p->shown_line = nullptr;
}

// A heap copy of a text, for the record's owned paths.
char* copy_text(const std::string& text) {
  char* copy = new char[text.size() + 1];
  std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

// The mouse counts for highlighting only inside the picture area.
bool mouse_in_picture_area(const ViewerInput& in) {
  return in.x >= 0 && static_cast<float>(in.x) <= viewer_width() && static_cast<float>(in.y) >= kViewerBarHeight;
}

}  // namespace

int wrap_into_range(int value, int lo, int hi) {
  if (hi == lo) return lo;
  const int span = hi - lo + 1;
  while (value < lo) value += span;
  while (value > hi) value -= span;
  return value;
}

int clamp_int(int value, int lo, int hi) { return value < lo ? lo : std::min(value, hi); }

float distance_sq_2d(float x0, float y0, float x1, float y1) {
  const float dx = x1 - x0, dy = y1 - y0;
  return dx * dx + dy * dy;
}

float distance_2d(float x0, float y0, float x1, float y1) { return std::sqrt(distance_sq_2d(x0, y0, x1, y1)); }

Task* point_create(uint32_t owner) {
  Task* task = task_create(owner);
  if (!task) return nullptr;
  task_set_update_callback(task, point_task_update);
  task_set_destroy_callback(task, point_task_release);
  PointRecord* p = point_get_record(task);
  *p = PointRecord{};
  p->visible = 1;
  p->radius = viewer_width() * 0.05f;
  p->handle_size = viewer_width() * 0.01f;
  p->handle_offset_x = p->radius - p->handle_size;
  p->effect_speed = 10;
  p->effect_level = 10;
  return task;
}

PointRecord* point_get_record(Task* task) { return task ? task_data<PointRecord>(task) : nullptr; }

void point_set_position(Task* task, float x, float y) {
  PointRecord* p = point_get_record(task);
  p->centre_x = x;
  p->centre_y = y;
}

float point_get_x(Task* task) { return point_get_record(task)->centre_x; }
float point_get_y(Task* task) { return point_get_record(task)->centre_y; }
float point_get_radius(Task* task) { return point_get_record(task)->radius; }

void point_set_radius(Task* task, float r) {
  PointRecord* p = point_get_record(task);
  p->radius = r;
  p->handle_offset_x = r - p->handle_size;
}

uint8_t point_get_number(Task* task) { return point_get_record(task)->number; }
void point_set_number(Task* task, uint8_t v) { point_get_record(task)->number = v; }
uint8_t point_get_time(Task* task) { return point_get_record(task)->time; }
void point_set_time(Task* task, uint8_t v) { point_get_record(task)->time = v; }
uint8_t point_get_effect(Task* task) { return point_get_record(task)->effect; }
void point_set_effect(Task* task, uint8_t v) { point_get_record(task)->effect = v; }
uint8_t point_get_effect_speed(Task* task) { return point_get_record(task)->effect_speed; }
void point_set_effect_speed(Task* task, uint8_t v) { point_get_record(task)->effect_speed = v; }
uint8_t point_get_effect_level(Task* task) { return point_get_record(task)->effect_level; }
void point_set_effect_level(Task* task, uint8_t v) { point_get_record(task)->effect_level = v; }

bool point_load_dialogue_file(Task* task, const char* path) {
  PointRecord* p = point_get_record(task);
  // A file that cannot be read or is refused leaves the point's dialogue as
  // it was: the user has been told why, and loses nothing.
  DialogueList* dialogue = deffile_parse_file(path);
  if (!dialogue) return false;
  free_dialogue(p);
  p->dialogue = dialogue;
  dialogue_box_prepare(p->dialogue);
  p->dialogue_path = copy_text(path);
  return true;
}

bool point_load_stored_dialogue(Task* task, const std::string& path, const std::string& stored) {
  const bool loaded = !path.empty() && point_load_dialogue_file(task, path.c_str());
  PointRecord* p = point_get_record(task);
  delete[] p->stored_dialogue_path;
  p->stored_dialogue_path = stored.empty() ? nullptr : copy_text(stored);
  return loaded;
}

const char* point_get_dialogue_name(Task* task) { return deffile_list_get_name(point_get_record(task)->dialogue, 0); }
const char* point_get_dialogue_path(Task* task) { return point_get_record(task)->dialogue_path; }

void point_pick_dialogue_line(Task* task) {
  PointRecord* p = point_get_record(task);
  p->shown_line = deffile_list_pick_text(p->dialogue, 0, viewer_get_level());
}

void point_clear_line(Task* task) { point_get_record(task)->shown_line = nullptr; }

void point_task_release(Task* task) {
  free_dialogue(point_get_record(task));
  // A point killed with its owner leaves no stale slot behind.
  for (int i = 0; i < kViewerPointSlots; ++i)
    if (slots()[i] == task) slots()[i] = nullptr;
}

uint32_t point_task_update(Task* task) {
  PointRecord* p = point_get_record(task);
  const ViewerInput& in = viewer_input();
  const float W = viewer_width(), H = viewer_height();
  const float mx = static_cast<float>(in.x), my = static_cast<float>(in.y);
  const float hx = p->centre_x + p->handle_offset_x, hy = p->centre_y + p->handle_offset_y;

  if (p->hovered && !point_other_panel_open(task)) {
    if (distance_2d(mx, my, hx, hy) < p->handle_size && !p->dragging_centre && !p->panel_open) {
      p->grabbed = p->dragging_handle = 1;
    } else if (in.left_pressed && !p->panel_open) {
      p->drag_offset_x = static_cast<int16_t>(std::clamp(p->centre_x - mx, -32768.0f, 32767.0f));
      p->drag_offset_y = static_cast<int16_t>(std::clamp(p->centre_y - my, -32768.0f, 32767.0f));
      p->grabbed = p->dragging_centre = 1;
    } else if (in.right_pressed && !in.left_held) {
      points_close_panels();
      p->panel_x = static_cast<int16_t>(clamp_int(in.x, 0, static_cast<int>(W - point_panel_width)));
      p->panel_y = static_cast<int16_t>(clamp_int(in.y, 0, static_cast<int>(H - point_panel_height)));
      p->panel_open = 1;
    }
  }

  if (!in.left_held) {
    p->dragging_handle = p->dragging_centre = p->grabbed = 0;
  } else if (p->dragging_handle) {
    const float d = mx - p->centre_x;
    const float sign = d > 0 ? 1.0f : -1.0f;
    const float length = std::min(std::fabs(d), W * 0.5f);
    p->handle_offset_x = sign * length;
    p->radius = length + p->handle_size;
  } else if (p->dragging_centre) {
    p->centre_x = mx + p->drag_offset_x;
    p->centre_y = my + p->drag_offset_y;
  }

  const bool playing = viewer_is_playing();
  if (p->visible && !playing) draw_point(task, p);
  if (!playing) {
    if (p->panel_open) p->panel_open = point_panel_update(task, p->panel_x, p->panel_y) ? 1 : 0;
  } else {
    p->panel_open = 0;
  }
  if (playing && p->shown_line && p->shown_line[0]) dialogue_box_draw(task->owner, p->shown_line);
  return 0;
}

int point_find_free_slot() {
  for (int i = 0; i < kViewerPointSlots; ++i)
    if (!slots()[i]) return i;
  return -1;
}

int points_count() {
  int n = 0;
  for (int i = 0; i < kViewerPointSlots; ++i) n += slots()[i] ? 1 : 0;
  return n;
}

int point_pick_random() {
  const int count = points_count();
  if (count == 0) return -1;
  int r = sys_rand() % count;
  for (int i = 0; i < kViewerPointSlots; ++i) {
    if (slots()[i] && r-- == 0) return i;
  }
  return -1;
}

int point_next_in_order(int32_t* cursor) {
  // Used slots by NUMBER from 0 to 15, ties in slot order. A point whose
  // NUMBER lies beyond (a ".sav" may store any byte) is never visited.
  int order[kViewerPointSlots];
  int count = 0;
  for (int number = 0; number <= kPointMaxNumber; ++number)
    for (int i = 0; i < kViewerPointSlots; ++i)
      if (slots()[i] && point_get_number(slots()[i]) == number) order[count++] = i;
  if (count == 0) return -1;
  const int at = (*cursor % count + count) % count;
  *cursor = (at + 1) % count;
  return order[at];
}

int point_pick_highlighted() {
  for (int i = 0; i < kViewerPointSlots; ++i)
    if (slots()[i] && point_get_record(slots()[i])->grabbed) return i;
  const ViewerInput& in = viewer_input();
  if (!mouse_in_picture_area(in)) return -1;
  const float mx = static_cast<float>(in.x), my = static_cast<float>(in.y);
  for (int i = 0; i < kViewerPointSlots; ++i) {
    if (!slots()[i]) continue;
    const PointRecord* p = point_get_record(slots()[i]);
    if (distance_2d(mx, my, p->centre_x + p->handle_offset_x, p->centre_y + p->handle_offset_y) <= p->handle_size)
      return i;
  }
  int best = -1;
  float best_radius = 99999.0f;
  for (int i = 0; i < kViewerPointSlots; ++i) {
    if (!slots()[i]) continue;
    const PointRecord* p = point_get_record(slots()[i]);
    if (distance_2d(mx, my, p->centre_x, p->centre_y) <= p->radius && p->radius < best_radius) {
      best = i;
      best_radius = p->radius;
    }
  }
  return best;
}

void points_set_hovered(int slot) {
  for (int i = 0; i < kViewerPointSlots; ++i)
    if (slots()[i]) point_get_record(slots()[i])->hovered = i == slot ? 1 : 0;
}

void points_remove_deleted() {
  for (int i = 0; i < kViewerPointSlots; ++i) {
    Task* t = slots()[i];
    if (t && point_get_record(t)->deleted) {
      slots()[i] = nullptr;
      task_kill(t);
    }
  }
}

void points_destroy_all() {
  for (int i = 0; i < kViewerPointSlots; ++i) {
    Task* t = slots()[i];
    slots()[i] = nullptr;
    task_kill(t);
  }
}

void points_close_panels() {
  for (int i = 0; i < kViewerPointSlots; ++i)
    if (slots()[i]) point_get_record(slots()[i])->panel_open = 0;
}

bool point_other_panel_open(Task* task) {
  for (int i = 0; i < kViewerPointSlots; ++i)
    if (slots()[i] && slots()[i] != task && point_get_record(slots()[i])->panel_open) return true;
  return false;
}
