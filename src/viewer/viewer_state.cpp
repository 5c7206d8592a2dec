#include "viewer/viewer_state.h"

#include "platform/sys/sys.h"
#include "render/graphics/graphics.h"
#include "sound/sound_command.h"

namespace {

ViewerState state;

// The dialogue box and its line take these colours in turn, one per point.
constexpr uint32_t kDialogueColours[] = {0xFFFF0080, 0xFFFFFF80, 0xFF80FF80, 0xFFC0C000, 0xFF8080FF};
constexpr int kDialogueColourCount = sizeof kDialogueColours / sizeof kDialogueColours[0];

}  // namespace

ViewerState& viewer_state() { return state; }

void viewer_state_reset() { state = ViewerState{}; }

float viewer_width() { return static_cast<float>(get_virtual_screen_width()); }
float viewer_height() { return static_cast<float>(get_virtual_screen_height()); }

int random_in_range(int lo, int hi) { return sys_rand() % (hi - lo + 1) + lo; }

bool viewer_is_playing() { return state.playing != 0; }

void viewer_set_playing(bool playing) {
  state.playing = playing ? 1 : 0;
  state.level = 0;
}

int viewer_get_level() { return state.level; }

uint32_t viewer_get_dialogue_colour() { return state.dialogue_colour; }

void viewer_next_dialogue_colour() {
  state.dialogue_colour = kDialogueColours[state.colour_index];
  state.colour_index = (state.colour_index + 1) % kDialogueColourCount;
}

int viewer_get_order_mode() { return state.order; }
void viewer_set_order_mode(int order) { state.order = order; }
int viewer_get_lag() { return state.lag; }

void viewer_post_sound_command(uint32_t opcode) { sound_post_command(opcode, 0); }

int viewer_text_main() { return gfx_text_buffer_main(); }
int viewer_text_cp932() { return gfx_text_buffer_d3dx(); }
