// The viewer, scene 0 of the scene runner.
#pragma once

void viewer_scene_init();
int viewer_scene_update();
void viewer_scene_release();
