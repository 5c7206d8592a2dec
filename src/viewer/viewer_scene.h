// The viewer, scene 0 of the scene runner: one picture below a menu bar, up
// to 16 points on it, and PLAY, which tours the points with camera easing,
// screen effects and dialogue lines.
#pragma once

void viewer_scene_init();
// One frame; the viewer never finishes, so this always returns 0.
int viewer_scene_update();
void viewer_scene_release();
// At program end, where the scene's release does not run: frees what the
// points hold on the heap (their dialogue lists and paths) by destroying them.
void viewer_scene_shutdown();
