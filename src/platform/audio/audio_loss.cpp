// Lost buffers: the output going away takes the samples with it; a buffer is
// restored once the device is connected, then filled again from its file.
#include <AL/alc.h>
#include <AL/alext.h>

#include "platform/audio/audio.h"
#include "platform/audio/audio_internal.h"

namespace {

using Guard = std::lock_guard<std::mutex>;

bool device_connected(AudioState& st) {
  if (!st.device) return false;
  if (!alcIsExtensionPresent(st.device, "ALC_EXT_disconnect")) return true;
  ALCint connected = ALC_TRUE;
  alcGetIntegerv(st.device, ALC_CONNECTED, 1, &connected);
  return connected != ALC_FALSE;
}

// Stops the sources and takes the buffers off them, so their data can change.
void detach(AudioSlot& s) {
  alSourceStopv(s.count, s.sources);
  for (int i = 0; i < s.count; ++i) alSourcei(s.sources[i], AL_BUFFER, 0);
}

void attach(AudioSlot& s) {
  for (int i = 0; i < s.count; ++i) alSourcei(s.sources[i], AL_BUFFER, static_cast<ALint>(s.buffers[i]));
}

}  // namespace

AudioResult audio_buffer_restore(AudioBuffer b) {
  AudioState& st = audio_state();
  Guard g(st.lock);
  AudioSlot* s = audio_slot(b);
  if (!s) return AUDIO_FAILED;
  if (!device_connected(st)) {
    s->lost = true;
    return AUDIO_LOST;
  }
  s->lost = false;
  return AUDIO_OK;
}

AudioResult audio_buffer_fill(AudioBuffer b, const WaveData& wave) {
  AudioState& st = audio_state();
  Guard g(st.lock);
  AudioSlot* s = audio_slot(b);
  if (!s) return AUDIO_FAILED;
  if (s->lost) return AUDIO_LOST;
  if (wave.frames != s->frames || wave.format.rate != s->rate ||
      wave.samples.size() < static_cast<size_t>(wave.frames) * wave.format.channels)
    return AUDIO_FAILED;
  alGetError();
  detach(*s);
  audio_upload_samples(*s, wave);
  attach(*s);
  s->pending_frame = 0;
  return alGetError() == AL_NO_ERROR ? AUDIO_OK : AUDIO_FAILED;
}

void audio_force_buffers_lost() {
  AudioState& st = audio_state();
  Guard g(st.lock);
  for (AudioSlot& s : st.slots) {
    if (!s.used) continue;
    detach(s);
    WaveData silence;
    silence.format.channels = 2;
    silence.format.rate = s.rate;
    silence.frames = s.frames;
    silence.samples.assign(static_cast<size_t>(s.frames) * 2, 0.0f);
    audio_upload_samples(s, silence);
    attach(s);
    s.lost = true;
  }
}
