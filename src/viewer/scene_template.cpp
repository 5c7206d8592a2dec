#include "viewer/scene_template.h"

#include <cstring>

#include "render/graphics/graphics.h"
#include "render/view/view_state.h"
#include "sound/positional_requests.h"

namespace {

TemplateSceneState state;

}  // namespace

void template_scene_init() {
  std::memset(&state, 0, sizeof state);
  gfx_reset_components();
  sound_requests_init();
  set_projection_center(0, 0.5f, 0.5f);
}

int template_scene_update() {
  sound_requests_flush();
  ++state.frames;
  return 0;
}

void template_scene_release() {
  sound_requests_release();
  gfx_clear_components();
}

void template_scene_reset_views() { gfx_reset_views(); }

const TemplateSceneState* template_scene_state() { return &state; }
