// The viewer's one state record and its small accessors: play state, LEVEL,
// ORDER, LAG, the dialogue colour cycle and the camera that PLAY eases.
#pragma once

#include <cstdint>
#include <vector>

#include "assets/asset_registry.h"
#include "render/tasks/task.h"

constexpr int kViewerPointSlots = 16;
constexpr int kViewerHistory = 5;   // afterimages kept
constexpr int kViewerMaxLag = 5;
constexpr int kViewerMaxLevel = 2;  // LEVEL 0..2, shown as 1..3
constexpr float kViewerBarHeight = 16.0f;

// One frame's placement of the picture.
struct PicturePlacement {
  float x, y, scale_x, scale_y;
};

struct ViewerState {
  uint8_t run_state;  // 0 until the first update has run
  uint8_t playing;
  RegistryMark scene_mark;
  RegistryMark picture_mark;  // registry counts before the current picture
  uint32_t owner;             // owner of every task the viewer makes
  uint32_t frame;             // frames since init, or since PLAY/STOP
  AssetHandle picture;        // "my_tex", 0 = none
  int32_t current;            // slot of the current point while playing, -1 none
  int32_t frames_left;        // frames until the next point
  float camera_x, camera_y;   // layout point shown at the centre of the picture area
  float camera_radius;
  float magnification;        // 1 = fitted
  Task* points[kViewerPointSlots];
  int32_t level;
  uint32_t dialogue_colour;
  int32_t colour_index;
  std::vector<uint8_t> picture_bytes;  // the shown picture's file, kept for SAVE
  float wobble_x_scale, wobble_y_scale;
  int32_t order;  // nonzero: ORDER by NUMBER; zero: random
  int32_t order_cursor;
  float eased_dx, eased_dy, eased_scale_x, eased_scale_y;
  PicturePlacement history[kViewerHistory];  // newest first
  int32_t lag;  // afterimages drawn, 0..5
};

ViewerState& viewer_state();
// Back to the state of a fresh init: everything zero, the picture bytes freed.
void viewer_state_reset();

// The layout size of this frame (the picture area lies below the menu bar).
float viewer_width();
float viewer_height();

// rand() mod (hi - lo + 1), plus lo.
int random_in_range(int lo, int hi);

bool viewer_is_playing();
// Also puts LEVEL back to its first value.
void viewer_set_playing(bool playing);
int viewer_get_level();
uint32_t viewer_get_dialogue_colour();
void viewer_next_dialogue_colour();
int viewer_get_order_mode();
void viewer_set_order_mode(int order);
int viewer_get_lag();
// Posts a sound command (sound id 0); the viewer stops the BGM with opcode 2.
void viewer_post_sound_command(uint32_t opcode);

// The two text queues: the main (bitmap font) and the CP932 (D3DX font) one.
int viewer_text_main();
int viewer_text_cp932();
