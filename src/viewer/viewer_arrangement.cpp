#include "viewer/viewer_arrangement.h"

#include <algorithm>
#include <string>

#include "assets/textures.h"
#include "platform/sys/sys.h"
#include "platform/window/window.h"
#include "viewer/viewer_messages.h"
#include "viewer/viewer_picture.h"
#include "viewer/viewer_points.h"
#include "viewer/viewer_state.h"

namespace {

// Stored positions are any finite numbers; the layout is a few thousand
// pixels. Keeping them within this keeps every later product and cast finite.
constexpr float kMaxCoordinate = 1.0e6f;

float clamp_coordinate(float v) { return std::clamp(v, -kMaxCoordinate, kMaxCoordinate); }

}  // namespace

bool viewer_apply_arrangement(SaveArrangement&& a) {
  // The picture is decoded once, before anything shown is dropped.
  TextureObject prepared{};
  if (!picture_prepare(a.picture, &prepared)) return false;
  ViewerState& s = viewer_state();
  viewer_set_order_mode(a.order);
  points_destroy_all();
  const int count = std::min(static_cast<int>(a.points.size()), kViewerPointSlots);
  for (int i = 0; i < count; ++i) {
    const SavePoint& p = a.points[static_cast<size_t>(i)];
    Task* t = point_create(s.owner);
    s.points[i] = t;
    if (!t) continue;
    point_set_number(t, p.number);
    point_set_effect(t, p.effect);
    point_set_effect_speed(t, p.effect_speed);
    point_set_effect_level(t, p.effect_level);
    point_set_time(t, p.time);
    point_load_stored_dialogue(t, p.dialogue_path, p.stored_path);
  }
  picture_show_prepared(std::move(a.picture), &prepared);
  PictureFit fit;
  picture_fit(s.picture, &fit);
  for (int i = 0; i < count; ++i) {
    Task* t = s.points[i];
    if (!t) continue;
    const SavePoint& p = a.points[static_cast<size_t>(i)];
    point_set_position(t, clamp_coordinate(p.x * fit.width), clamp_coordinate(p.y * fit.height));
    point_set_radius(t, std::clamp(p.radius * fit.height, 1.0f, kMaxCoordinate));
  }
  return true;
}

void save_load(const char* name) {
  SaveArrangement a;
  std::string path;
  if (save_load_arrangement(name, a, &path) == SAVE_OK && !viewer_apply_arrangement(std::move(a))) {
    window_message_box_utf8(sys_path_lines(path, kSysMessageColumns), kMsgFileNotLoaded);
  }
  if (!viewer_state().picture) {
    window_message_box_utf8(sys_path_lines(path, kSysMessageColumns), kMsgFileNotLoaded);
    picture_show_blank();
  }
}

SaveArrangement viewer_build_arrangement() {
  const ViewerState& s = viewer_state();
  SaveArrangement a;
  a.order = s.order;
  a.picture = s.picture_bytes;
  PictureFit fit;
  picture_fit(s.picture, &fit);
  for (Task* t : s.points) {
    if (!t) continue;
    const PointRecord* r = point_get_record(t);
    SavePoint p;
    p.x = r->centre_x / fit.width;
    p.y = r->centre_y / fit.height;
    p.radius = r->radius / fit.height;
    p.number = r->number;
    p.effect = r->effect;
    p.effect_speed = r->effect_speed;
    p.effect_level = r->effect_level;
    p.time = r->time;
    if (r->dialogue_path) p.dialogue_path = r->dialogue_path;
    if (r->stored_dialogue_path) p.stored_path = r->stored_dialogue_path;
    a.points.push_back(std::move(p));
  }
  return a;
}

void viewer_save() { save_store_arrangement(viewer_build_arrangement()); }
