#include "viewer/viewer_input.h"

#include "shell/services/input.h"

namespace {

void read_shell_input(ViewerInput* out) {
  get_mouse_pos_backbuffer(&out->x, &out->y);
  out->left_pressed = is_key_pressed(VK_LBUTTON) != 0;
  out->left_held = is_key_down(VK_LBUTTON) != 0;
  out->right_pressed = is_key_pressed(VK_RBUTTON) != 0;
  out->space_pressed = is_key_pressed(VK_SPACE) != 0;
}

ViewerInputSource source = read_shell_input;
ViewerInput sample;

}  // namespace

void viewer_input_set_source(ViewerInputSource s) { source = s ? s : read_shell_input; }

void viewer_input_capture() {
  sample = ViewerInput{};
  source(&sample);
}

const ViewerInput& viewer_input() { return sample; }
