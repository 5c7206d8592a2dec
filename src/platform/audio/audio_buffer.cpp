// Whole-file sound buffers on mixer sources.
#include <cmath>

#include "platform/audio/audio_internal.h"

namespace {

using Guard = std::lock_guard<std::mutex>;

// The samples as the mode plays them: mono for 3D, else stereo. Extra
// channels fold onto the two sides (even channels left, odd ones right).
std::vector<float> shape_samples(const WaveData& w, bool mono) {
  const int ch = w.format.channels;
  std::vector<float> out(static_cast<size_t>(w.frames) * (mono ? 1 : 2));
  for (uint32_t f = 0; f < w.frames; ++f) {
    const float* in = &w.samples[static_cast<size_t>(f) * ch];
    if (mono) {
      float sum = 0.0f;
      for (int c = 0; c < ch; ++c) sum += in[c];
      out[f] = sum / static_cast<float>(ch);
    } else if (ch == 1) {
      out[2 * f] = out[2 * f + 1] = in[0];
    } else {
      float side[2] = {0.0f, 0.0f};
      for (int c = 0; c < ch; ++c) side[c & 1] += in[c];
      int per_side[2] = {(ch + 1) / 2, ch / 2};
      out[2 * f] = side[0] / static_cast<float>(per_side[0]);
      out[2 * f + 1] = side[1] / static_cast<float>(per_side[1]);
    }
  }
  return out;
}

bool any_playing(const AudioSlot& s) {
  ALint state = AL_STOPPED;
  alGetSourcei(s.sources[0], AL_SOURCE_STATE, &state);
  return state == AL_PLAYING;
}

template <typename F>
AudioResult with_slot(AudioBuffer b, F f) {
  Guard g(audio_state().lock);
  AudioSlot* s = audio_slot(b);
  return s ? f(*s) : AUDIO_FAILED;
}

}  // namespace

void audio_apply_gain(AudioSlot& s) {
  float gain = s.muted ? 0.0f : audio_gain_from_hundredths(s.volume);
  if (s.mode == AUDIO_MODE_PAN) {
    // The far side loses |pan| hundredths of a decibel; the near side stays.
    alSourcef(s.sources[0], AL_GAIN, gain * (s.pan > 0 ? audio_gain_from_hundredths(-s.pan) : 1.0f));
    alSourcef(s.sources[1], AL_GAIN, gain * (s.pan < 0 ? audio_gain_from_hundredths(s.pan) : 1.0f));
    return;
  }
  if (s.mode == AUDIO_MODE_3D) {
    const float* l = audio_state().listener_position;
    float dx = s.position[0] - l[0], dy = s.position[1] - l[1], dz = s.position[2] - l[2];
    s.muted = std::sqrt(dx * dx + dy * dy + dz * dz) > s.max_distance;
    gain = s.muted ? 0.0f : audio_gain_from_hundredths(s.volume);
  }
  alSourcef(s.sources[0], AL_GAIN, gain);
}

void audio_upload_samples(AudioSlot& s, const WaveData& wave) {
  std::vector<float> pcm = shape_samples(wave, s.mode == AUDIO_MODE_3D);
  const ALsizei rate = static_cast<ALsizei>(wave.format.rate);
  if (s.mode == AUDIO_MODE_3D) {
    alBufferData(s.buffers[0], AL_FORMAT_MONO_FLOAT32, pcm.data(), static_cast<ALsizei>(pcm.size() * sizeof(float)),
                 rate);
  } else if (s.mode == AUDIO_MODE_PAN) {
    // Left half and right half as two stereo buffers, each silent on the other side.
    std::vector<float> side(pcm.size());
    for (int half = 0; half < 2; ++half) {
      for (size_t i = 0; i < pcm.size(); ++i) side[i] = ((i & 1) == static_cast<size_t>(half)) ? pcm[i] : 0.0f;
      alBufferData(s.buffers[half], AL_FORMAT_STEREO_FLOAT32, side.data(),
                   static_cast<ALsizei>(side.size() * sizeof(float)), rate);
    }
  } else {
    alBufferData(s.buffers[0], AL_FORMAT_STEREO_FLOAT32, pcm.data(), static_cast<ALsizei>(pcm.size() * sizeof(float)),
                 rate);
  }
}

AudioBuffer audio_buffer_create(const WaveData& wave, AudioMode mode) {
  AudioState& st = audio_state();
  Guard g(st.lock);
  if (!st.device || wave.frames == 0 || wave.format.channels == 0 ||
      wave.samples.size() < static_cast<size_t>(wave.frames) * wave.format.channels)
    return 0;
  int index = -1;
  for (int i = 0; i < AUDIO_SLOTS && index < 0; ++i)
    if (!st.slots[i].used) index = i;
  if (index < 0) return 0;

  AudioSlot& s = st.slots[index];
  uint32_t generation = (s.generation + 1) & 0xFFFFFF;
  s = AudioSlot{};
  s.generation = generation ? generation : 1;
  s.mode = mode;
  s.count = mode == AUDIO_MODE_PAN ? 2 : 1;
  s.frames = wave.frames;
  s.rate = wave.format.rate;
  s.frequency = wave.format.rate;
  s.max_distance = 1.0e9f;

  alGetError();
  alGenBuffers(s.count, s.buffers);
  alGenSources(s.count, s.sources);
  if (alGetError() != AL_NO_ERROR) {
    audio_free_slot(s);
    return 0;
  }
  audio_upload_samples(s, wave);
  for (int i = 0; i < s.count; ++i) {
    alSourcei(s.sources[i], AL_BUFFER, static_cast<ALint>(s.buffers[i]));
    if (mode == AUDIO_MODE_3D) {
      alSourcef(s.sources[i], AL_ROLLOFF_FACTOR, st.rolloff);
      alSourcef(s.sources[i], AL_REFERENCE_DISTANCE, 1.0f);
      alSourcef(s.sources[i], AL_MAX_DISTANCE, s.max_distance);
    } else {
      // Straight to the speakers at full level, as a plain buffer plays.
      alSourcei(s.sources[i], AL_DIRECT_CHANNELS_SOFT, AL_TRUE);
      alSourcei(s.sources[i], AL_SOURCE_RELATIVE, AL_TRUE);
      alSource3f(s.sources[i], AL_POSITION, 0.0f, 0.0f, 0.0f);
      alSourcef(s.sources[i], AL_ROLLOFF_FACTOR, 0.0f);
    }
  }
  if (alGetError() != AL_NO_ERROR) {
    audio_free_slot(s);
    return 0;
  }
  s.used = true;
  audio_apply_gain(s);
  return (s.generation << 8) | static_cast<uint32_t>(index);
}

void audio_free_slot(AudioSlot& s) {
  alSourceStopv(s.count, s.sources);
  audio_release_effect(s);
  alDeleteSources(s.count, s.sources);
  alDeleteBuffers(s.count, s.buffers);
  const uint32_t generation = s.generation;
  s = AudioSlot{};
  s.generation = generation;
}

void audio_buffer_destroy(AudioBuffer b) {
  Guard g(audio_state().lock);
  if (AudioSlot* s = audio_slot(b)) audio_free_slot(*s);
}

bool audio_buffer_valid(AudioBuffer b) {
  Guard g(audio_state().lock);
  return audio_slot(b) != nullptr;
}

AudioMode audio_buffer_mode(AudioBuffer b) {
  Guard g(audio_state().lock);
  AudioSlot* s = audio_slot(b);
  return s ? s->mode : AUDIO_MODE_PLAIN;
}

uint32_t audio_buffer_frames(AudioBuffer b) {
  Guard g(audio_state().lock);
  AudioSlot* s = audio_slot(b);
  return s ? s->frames : 0;
}

uint32_t audio_buffer_rate(AudioBuffer b) {
  Guard g(audio_state().lock);
  AudioSlot* s = audio_slot(b);
  return s ? s->rate : 0;
}

AudioResult audio_buffer_play(AudioBuffer b, bool looping) {
  return with_slot(b, [&](AudioSlot& s) {
    if (s.lost) return AUDIO_LOST;
    s.looping = looping;
    for (int i = 0; i < s.count; ++i) alSourcei(s.sources[i], AL_LOOPING, looping ? AL_TRUE : AL_FALSE);
    // Starting a playing source again would rewind it; a playing buffer only
    // takes the new looping choice.
    if (!any_playing(s)) {
      ALint state = AL_STOPPED;
      alGetSourcei(s.sources[0], AL_SOURCE_STATE, &state);
      if (state != AL_PAUSED)
        for (int i = 0; i < s.count; ++i) alSourcei(s.sources[i], AL_SAMPLE_OFFSET, static_cast<ALint>(s.pending_frame));
      alSourcePlayv(s.count, s.sources);
      s.pending_frame = 0;
    }
    return AUDIO_OK;
  });
}

AudioResult audio_buffer_stop(AudioBuffer b) {
  return with_slot(b, [&](AudioSlot& s) {
    if (any_playing(s)) alSourcePausev(s.count, s.sources);
    return AUDIO_OK;
  });
}

uint32_t audio_buffer_status(AudioBuffer b) {
  Guard g(audio_state().lock);
  AudioSlot* s = audio_slot(b);
  if (!s) return 0;
  const uint32_t lost = s->lost ? uint32_t{AUDIO_STATUS_LOST} : 0u;
  if (!any_playing(*s)) return lost;
  return AUDIO_STATUS_PLAYING | lost | (s->looping ? uint32_t{AUDIO_STATUS_LOOPING} : 0u);
}

AudioResult audio_buffer_set_frame(AudioBuffer b, uint32_t frame) {
  return with_slot(b, [&](AudioSlot& s) {
    if (frame >= s.frames) frame = s.frames - 1;
    ALint state = AL_STOPPED;
    alGetSourcei(s.sources[0], AL_SOURCE_STATE, &state);
    if (state == AL_PLAYING || state == AL_PAUSED) {
      for (int i = 0; i < s.count; ++i) alSourcei(s.sources[i], AL_SAMPLE_OFFSET, static_cast<ALint>(frame));
    } else {
      // A source that never played, or ran to its end, takes the offset when it starts.
      s.pending_frame = frame;
    }
    return AUDIO_OK;
  });
}

uint32_t audio_buffer_frame(AudioBuffer b) {
  Guard g(audio_state().lock);
  AudioSlot* s = audio_slot(b);
  if (!s) return 0;
  ALint state = AL_STOPPED;
  alGetSourcei(s->sources[0], AL_SOURCE_STATE, &state);
  if (state != AL_PLAYING && state != AL_PAUSED) return s->pending_frame;
  ALint offset = 0;
  alGetSourcei(s->sources[0], AL_SAMPLE_OFFSET, &offset);
  return static_cast<uint32_t>(offset);
}

AudioResult audio_buffer_set_volume(AudioBuffer b, int hundredths_db) {
  return with_slot(b, [&](AudioSlot& s) {
    s.volume = hundredths_db < AUDIO_VOLUME_MIN ? AUDIO_VOLUME_MIN
               : hundredths_db > AUDIO_VOLUME_MAX ? AUDIO_VOLUME_MAX
                                                  : hundredths_db;
    audio_apply_gain(s);
    return AUDIO_OK;
  });
}

int audio_buffer_volume(AudioBuffer b) {
  Guard g(audio_state().lock);
  AudioSlot* s = audio_slot(b);
  return s ? s->volume : AUDIO_VOLUME_MIN;
}

AudioResult audio_buffer_set_pan(AudioBuffer b, int pan) {
  return with_slot(b, [&](AudioSlot& s) {
    if (s.mode != AUDIO_MODE_PAN) return AUDIO_UNSUPPORTED;
    s.pan = pan < -10000 ? -10000 : pan > 10000 ? 10000 : pan;
    audio_apply_gain(s);
    return AUDIO_OK;
  });
}

int audio_buffer_pan(AudioBuffer b) {
  Guard g(audio_state().lock);
  AudioSlot* s = audio_slot(b);
  return s ? s->pan : 0;
}

AudioResult audio_buffer_set_frequency(AudioBuffer b, uint32_t hz) {
  return with_slot(b, [&](AudioSlot& s) {
    if (s.mode != AUDIO_MODE_3D && s.mode != AUDIO_MODE_FREQUENCY) return AUDIO_UNSUPPORTED;
    if (hz == 0) return AUDIO_FAILED;
    s.frequency = hz;
    alSourcef(s.sources[0], AL_PITCH, static_cast<float>(hz) / static_cast<float>(s.rate));
    return alGetError() == AL_NO_ERROR ? AUDIO_OK : AUDIO_FAILED;
  });
}

uint32_t audio_buffer_frequency(AudioBuffer b) {
  Guard g(audio_state().lock);
  AudioSlot* s = audio_slot(b);
  return s ? s->frequency : 0;
}

AudioResult audio_buffer_set_position(AudioBuffer b, const float p[3]) {
  return with_slot(b, [&](AudioSlot& s) {
    if (s.mode != AUDIO_MODE_3D) return AUDIO_UNSUPPORTED;
    for (int i = 0; i < 3; ++i) s.position[i] = p[i];
    alSource3f(s.sources[0], AL_POSITION, p[0], p[1], -p[2]);
    audio_apply_gain(s);
    return AUDIO_OK;
  });
}

bool audio_buffer_position(AudioBuffer b, float out[3]) {
  Guard g(audio_state().lock);
  AudioSlot* s = audio_slot(b);
  if (!s || s->mode != AUDIO_MODE_3D) return false;
  for (int i = 0; i < 3; ++i) out[i] = s->position[i];
  return true;
}

AudioResult audio_buffer_set_velocity(AudioBuffer b, const float v[3]) {
  return with_slot(b, [&](AudioSlot& s) {
    if (s.mode != AUDIO_MODE_3D) return AUDIO_UNSUPPORTED;
    alSource3f(s.sources[0], AL_VELOCITY, v[0], v[1], -v[2]);
    return AUDIO_OK;
  });
}

AudioResult audio_buffer_set_distances(AudioBuffer b, float min_distance, float max_distance) {
  return with_slot(b, [&](AudioSlot& s) {
    if (s.mode != AUDIO_MODE_3D) return AUDIO_UNSUPPORTED;
    s.max_distance = max_distance;
    alSourcef(s.sources[0], AL_REFERENCE_DISTANCE, min_distance);
    alSourcef(s.sources[0], AL_MAX_DISTANCE, max_distance);
    audio_apply_gain(s);
    return alGetError() == AL_NO_ERROR ? AUDIO_OK : AUDIO_FAILED;
  });
}

int audio_buffer_count() {
  Guard g(audio_state().lock);
  int n = 0;
  for (const AudioSlot& s : audio_state().slots) n += s.used ? 1 : 0;
  return n;
}
