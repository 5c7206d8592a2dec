// The viewer, scene 0 of the scene runner: one picture below a menu bar, up
// to 16 points on it, and PLAY, which tours the points with camera easing,
// screen effects and dialogue lines.
#pragma once

void viewer_scene_init();
// One frame; the viewer never finishes, so this always returns 0.
int viewer_scene_update();
void viewer_scene_release();
