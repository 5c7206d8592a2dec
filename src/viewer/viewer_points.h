// Points: circles the user places on the picture, each a task under the
// viewer's owner, kept in the 16 slots of the ViewerState. A point can be
// dragged by its centre, resized by its handle, and set up in its panel
// (right click); while PLAY is on it shows its dialogue line.
#pragma once

#include <cstdint>
#include <string>

#include "render/tasks/task.h"
#include "viewer/dialogue_file.h"

struct PointRecord {
  uint8_t reserved;
  uint8_t visible;  // the circle is drawn only while set
  uint8_t hovered;  // the highlighted point
  uint8_t grabbed;  // being dragged or resized
  uint8_t dragging_centre;
  uint8_t dragging_handle;
  uint8_t panel_open;
  uint8_t deleted;       // removed at the next viewer update
  uint8_t number;        // NUMBER 0..15, the order in ORDER mode
  uint8_t effect;        // EFFECT 0..5
  uint8_t time;          // seconds on this point, 0 = random
  uint8_t effect_speed;  // EF SPD 0..20
  uint8_t effect_level;  // EF LV 0..20
  float centre_x, centre_y;
  float radius;
  float handle_size;  // radius of the resize handle
  int16_t drag_offset_x, drag_offset_y;
  int16_t panel_x, panel_y;
  const char* shown_line;  // the line shown while playing, owned by dialogue
  float handle_offset_x, handle_offset_y;  // handle centre from the circle centre
  DialogueList* dialogue;                  // owned
  char* dialogue_path;                     // owned, an absolute host path
  // Owned: the path as the ".sav" the point came from stored it (CP932),
  // written back as it stands, also when its file could not be read; null
  // once NAME has chosen a file.
  char* stored_dialogue_path;
};

// Null when no task is free.
Task* point_create(uint32_t owner);
PointRecord* point_get_record(Task* task);

void point_set_position(Task* task, float x, float y);
float point_get_x(Task* task);
float point_get_y(Task* task);
float point_get_radius(Task* task);
// Also puts the handle on the circle's right edge.
void point_set_radius(Task* task, float r);
uint8_t point_get_number(Task* task);
void point_set_number(Task* task, uint8_t v);
uint8_t point_get_time(Task* task);
void point_set_time(Task* task, uint8_t v);
uint8_t point_get_effect(Task* task);
void point_set_effect(Task* task, uint8_t v);
uint8_t point_get_effect_speed(Task* task);
void point_set_effect_speed(Task* task, uint8_t v);
uint8_t point_get_effect_level(Task* task);
void point_set_effect_level(Task* task, uint8_t v);

// Reads a dialogue file for the point in place of the one it had. A file that
// is missing or refused leaves the point's dialogue as it was. Returns
// whether one was read.
bool point_load_dialogue_file(Task* task, const char* path);
// The dialogue of a point read from a ".sav": the file at path (a host
// path, "" for none) is read as above, and stored, the path as the file
// stored it, is kept whether or not it could be, for SAVE to write back.
bool point_load_stored_dialogue(Task* task, const std::string& path, const std::string& stored);
// The NAME of the dialogue file's speaker, or null.
const char* point_get_dialogue_name(Task* task);
const char* point_get_dialogue_path(Task* task);
void point_pick_dialogue_line(Task* task);
void point_clear_line(Task* task);

// The per-frame callback of a point and its own destroy callback.
uint32_t point_task_update(Task* task);
void point_task_release(Task* task);

// Slot operations over the ViewerState's 16 slots, in slot order.
int point_find_free_slot();
int point_pick_random();
constexpr int kPointMaxNumber = 15;  // NUMBER runs 0..15 (shown 1..16)

// The used slots whose NUMBER is 0..15, listed by NUMBER (ties in slot
// order): the entry at cursor, which then moves on, wrapping. -1, with the
// cursor left as it was, when no point is listed.
int point_next_in_order(int32_t* cursor);
int point_pick_highlighted();
void points_set_hovered(int slot);
void points_remove_deleted();
void points_destroy_all();
void points_close_panels();
bool point_other_panel_open(Task* task);
int points_count();

// hi == lo gives lo; else value is brought into [lo, hi] by whole turns.
int wrap_into_range(int value, int lo, int hi);
int clamp_int(int value, int lo, int hi);
float distance_sq_2d(float x0, float y0, float x1, float y1);
float distance_2d(float x0, float y0, float x1, float y1);
