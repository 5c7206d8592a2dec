#include "viewer/viewer_scene.h"

#include "shell/input.h"

// The viewer shows the cursor for good; its picture and points come with it.
void viewer_scene_init() { set_cursor_mode(1); }
int viewer_scene_update() { return 0; }
void viewer_scene_release() {}
