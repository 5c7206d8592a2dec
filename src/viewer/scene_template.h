// The scene template: the smallest scene with the shape of a SceneEntry.
// It resets the graphics components, sets up view 0 and the positional sound
// requests, and resolves the requests every frame. No scene table refers to
// it; a new scene starts from a copy of it.
#pragma once

#include <cstdint>

// The scene's own record, zeroed at init.
struct TemplateSceneState {
  uint32_t frames;  // updates run since init
  uint32_t words[17];
};
static_assert(sizeof(TemplateSceneState) == 72);

void template_scene_init();
// Resolves this frame's sound requests; never finishes (returns 0).
int template_scene_update();
void template_scene_release();
void template_scene_reset_views();

const TemplateSceneState* template_scene_state();
