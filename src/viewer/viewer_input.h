// The mouse and keys as the viewer reads them, sampled once per frame by the
// viewer's update; the point tasks of the same frame read the same sample.
#pragma once

struct ViewerInput {
  int x, y;             // mouse in layout pixels
  bool left_pressed;    // left button went down this frame
  bool left_held;
  bool right_pressed;   // right button went down this frame
  bool space_pressed;
};

// Where samples come from; tests substitute their own. Null restores the
// shell's keyboard and mouse.
using ViewerInputSource = void (*)(ViewerInput* out);
void viewer_input_set_source(ViewerInputSource source);

void viewer_input_capture();
const ViewerInput& viewer_input();
