// The system's output level, through the ALSA mixer of the default card.
#include <alsa/asoundlib.h>

#include <cmath>
#include <string>

#include "platform/audio/audio.h"

namespace {

// The playback control a desktop's volume slider moves: "Master", else the
// first control with a playback volume.
snd_mixer_elem_t* find_volume_control(snd_mixer_t* mixer) {
  snd_mixer_elem_t* first = nullptr;
  for (snd_mixer_elem_t* e = snd_mixer_first_elem(mixer); e; e = snd_mixer_elem_next(e)) {
    if (!snd_mixer_selem_is_active(e) || !snd_mixer_selem_has_playback_volume(e)) continue;
    if (std::string(snd_mixer_selem_get_name(e)) == "Master") return e;
    if (!first) first = e;
  }
  return first;
}

}  // namespace

int audio_set_system_volume(float v, std::string* why) {
  if (!(v >= 0.0f)) v = 0.0f;
  if (v > 1.0f) v = 1.0f;
  snd_mixer_t* mixer = nullptr;
  int e = snd_mixer_open(&mixer, 0);
  if (e >= 0) e = snd_mixer_attach(mixer, "default");
  if (e >= 0) e = snd_mixer_selem_register(mixer, nullptr, nullptr);
  if (e >= 0) e = snd_mixer_load(mixer);
  snd_mixer_elem_t* control = e >= 0 ? find_volume_control(mixer) : nullptr;
  if (e >= 0 && !control) e = -ENODEV;
  if (e >= 0) {
    long lo = 0, hi = 0;
    e = snd_mixer_selem_get_playback_volume_range(control, &lo, &hi);
    if (e >= 0) e = snd_mixer_selem_set_playback_volume_all(control, lo + static_cast<long>((hi - lo) * v));
  }
  if (e < 0 && why) *why = snd_strerror(e);
  if (mixer) snd_mixer_close(mixer);
  return e < 0 ? e : 0;
}
