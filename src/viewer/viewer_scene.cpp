#include "viewer/viewer_scene.h"

#include "math/vec.h"
#include "platform/window/window.h"
#include "render/graphics/graphics.h"
#include "render/text/text_queue.h"
#include "shell/services/input.h"
#include "shell/services/startup_trace.h"
#include "sound/sound_manager.h"
#include "viewer/viewer_arrangement.h"
#include "viewer/viewer_effects.h"
#include "viewer/viewer_input.h"
#include "viewer/viewer_menu.h"
#include "viewer/viewer_messages.h"
#include "viewer/viewer_picture.h"
#include "viewer/viewer_points.h"
#include "viewer/viewer_state.h"

namespace {

constexpr uint32_t kSoundStopBgm = 2;
constexpr float kFieldOfView = 0.17453294f;  // 10 degrees
constexpr uint32_t kLevelColour = 0xFFFF0000;
constexpr int kSpaceSwitchFrames = 6;  // a space press moves on this soon

void centre_camera(ViewerState& s) {
  s.camera_x = viewer_width() * 0.5f;
  s.camera_y = (viewer_height() - kViewerBarHeight) * 0.5f + kViewerBarHeight;
}

void clear_eased(ViewerState& s) { s.eased_dx = s.eased_dy = s.eased_scale_x = s.eased_scale_y = 0; }

void command_point(ViewerState& s) {
  if (s.playing) return;
  const int slot = point_find_free_slot();
  if (slot < 0) {
    window_message_box(kMsgSixteenPoints, kMsgPointNotMade);
    return;
  }
  Task* t = point_create(s.owner);
  s.points[slot] = t;
  const ViewerInput& in = viewer_input();
  if (t) point_set_position(t, static_cast<float>(in.x), static_cast<float>(in.y));
}

void command_play(ViewerState& s) {
  s.frame = 0;
  viewer_set_playing(!s.playing);
  clear_eased(s);
  if (!s.playing) return;
  s.current = -1;
  centre_camera(s);
  s.magnification = 1.0f;
  s.frames_left = 0;
  s.order_cursor = 0;
  s.level = 0;
}

void dispatch(ViewerState& s, int command) {
  switch (command) {
    case MENU_LOAD_CG: load_cg_image(); break;
    case MENU_POINT: command_point(s); break;
    case MENU_PLAY: command_play(s); break;
    case MENU_LOAD:
      save_load(nullptr);
      viewer_set_playing(false);
      clear_eased(s);
      break;
    case MENU_SAVE: viewer_save(); break;
    case MENU_ORDER:
      s.order_cursor = 0;
      s.order = s.order ? 0 : 1;
      break;
    case MENU_LAG: s.lag = wrap_into_range(s.lag + 1, 0, kViewerMaxLag); break;
    default: break;
  }
}

// Frames on a point: its TIME, or a random stay that depends on LEVEL.
int stay_frames(int seconds, int level) {
  if (seconds) return seconds * 60;
  return level == 1 ? random_in_range(60, 120) : random_in_range(120, 300);
}

void choose_next_point(ViewerState& s) {
  const int previous = s.current;
  if (s.order) {
    s.current = point_next_in_order(&s.order_cursor);
  } else {
    s.current = point_pick_random();
    for (int i = 0; i < 2 && s.current == previous; ++i) s.current = point_pick_random();
  }
  for (Task* t : s.points)
    if (t) point_clear_line(t);
  int seconds = 0;
  if (s.current >= 0) {
    seconds = point_get_time(s.points[s.current]);
    point_pick_dialogue_line(s.points[s.current]);
  }
  viewer_next_dialogue_colour();
  s.frames_left = stay_frames(seconds, s.level);
}

// Eases the camera onto the current point, keeping its whole circle on screen.
void ease_to_point(ViewerState& s, Task* point) {
  const float W = viewer_width(), H = viewer_height();
  const float r = point_get_radius(point);
  float tx = point_get_x(point), ty = point_get_y(point);
  if (tx < r) tx = r;
  if (tx > W - r) tx = W - r;
  if (ty < r) ty = r;
  if (ty > H - r) ty = H - r;
  s.camera_x += (tx - s.camera_x) * 0.1f;
  s.camera_y += (ty - s.camera_y) * 0.1f;
  s.camera_radius = r;
  s.magnification += ((H - kViewerBarHeight) / (2 * r) - s.magnification) * 0.1f * 0.5f;
}

void play_step(ViewerState& s) {
  if (s.frames_left == 0) {
    choose_next_point(s);
  } else {
    --s.frames_left;
  }
  if (s.current >= 0 && s.points[s.current]) ease_to_point(s, s.points[s.current]);
  if (viewer_input().space_pressed) {
    if (s.level < kViewerMaxLevel) ++s.level;
    s.frames_left = kSpaceSwitchFrames;
  }
  text_queue_printf(viewer_text_main(), 0, 0, 16.0f, static_cast<int32_t>(viewer_width() - 56 - 2),
                    static_cast<int32_t>(viewer_height() - 16 - 2), kLevelColour, "LEVEL %d", s.level + 1);
}

void draw_picture(ViewerState& s) {
  EffectOutput e{};
  if (s.playing && s.current >= 0 && s.points[s.current]) {
    Task* p = s.points[s.current];
    e = effect_apply(point_get_effect(p), s.frame, point_get_effect_speed(p), point_get_effect_level(p));
  }
  if (s.playing) {
    s.eased_dx += (e.dx - s.eased_dx) * 0.5f;
    s.eased_dy += (e.dy - s.eased_dy) * 0.5f;
    s.eased_scale_x += (e.scale_x_add - s.eased_scale_x) * 0.5f;
    s.eased_scale_y += (e.scale_y_add - s.eased_scale_y) * 0.5f;
  }
  cg_draw(s.eased_dx, s.eased_dy, s.eased_scale_x, s.eased_scale_y);
}

}  // namespace

void viewer_scene_init() {
  viewer_state_reset();
  ViewerState& s = viewer_state();
  mark_asset_registry(&s.scene_mark);
  s.owner = handle_alloc();
  set_cursor_mode(1);
  viewer_post_sound_command(kSoundStopBgm);
  const Vec3 zero{0, 0, 0};
  set_camera_mode(0, 0);
  set_camera_position_angles(0, &zero, &zero);
  set_fog_enable(0, 0);
  set_camera_fov(0, kFieldOfView);
  gfx_set_render_enabled(1);
  mark_asset_registry(&s.picture_mark);
  s.lag = 1;
  s.wobble_x_scale = s.wobble_y_scale = 1.0f;
}

int viewer_scene_update() {
  ViewerState& s = viewer_state();
  gfx_set_render_enabled(1);
  viewer_input_capture();
  if (s.run_state == 0) {
    picture_show_blank();
    startup_trace_mark(STARTUP_PICTURE_BEGIN);
    save_load("sample01.sav");
    startup_trace_mark(STARTUP_PICTURE_END);
    s.run_state = 1;
  } else {
    dispatch(s, menu_bar_update(s.owner));
    points_remove_deleted();
    points_set_hovered(point_pick_highlighted());
    if (s.playing) play_step(s);
    if (!s.playing) {
      s.magnification = 1.0f;
      centre_camera(s);
    }
    draw_picture(s);
  }
  ++s.frame;
  return 0;
}

void viewer_scene_shutdown() { points_destroy_all(); }

void viewer_scene_release() {
  ViewerState& s = viewer_state();
  kill_owner(s.owner);
  handle_free(s.owner);
  release_asset_registry_to_mark(&s.scene_mark);
  viewer_post_sound_command(kSoundStopBgm);
  sound_stop_nonlooping();
  gfx_set_render_enabled(1);
  viewer_state_reset();
}
