#include "sound/dx_sound.h"

#include <cmath>
#include <new>

#include "sound/sound_manager.h"
#include "sound/sound_messages.h"

namespace {

// エラー
const char kMsgError[] = "\x83\x47\x83\x89\x81\x5b";
// 最低品質でも失敗しました
const char kMsgEvenLowestQualityFailed[] =
    "\x8d\xc5\x92\xe1\x95\x69\x8e\xbf\x82\xc5\x82\xe0\x8e\xb8\x94\x73\x82\xb5\x82\xdc\x82\xb5\x82\xbd";

}  // namespace

DxSound::~DxSound() { dxsound_destruct(this); }

void dxsound_construct(DxSound* s) { new (s) DxSound; }
void dxsound_destruct(DxSound* s) { dxsound_release(s); }
void dxsound_destroy(DxSound* s, uint32_t flags) {
  if (flags & 1u) {
    delete s;
  } else {
    dxsound_destruct(s);
  }
}
void dxsound_ignore(DxSound*) {}

int dxsound_read_wave(const std::string& path, WaveData* out) {
  switch (wave_load(path, out)) {
    case WAVE_OK:
      return 0;
    case WAVE_NOT_FOUND:
      return SOUND_ERROR_FILE;
    default:
      return SOUND_ERROR_BUFFER;
  }
}

int dxsound_create_buffer(DxSound* s, const WaveData& wave, DxSoundMode mode, float volume) {
  dxsound_release(s);
  s->buffer = audio_buffer_create(wave, static_cast<AudioMode>(mode));
  if (!s->buffer) return SOUND_ERROR_BUFFER;
  s->format = wave.format;
  s->buffer_size = wave.data_bytes;
  s->fx_flags = 0;
  s->mode = mode;
  s->volume_base = mode == DXSOUND_3D ? 0 : -250;
  dxsound_set_volume(s, volume);
  if (mode == DXSOUND_3D) {
    const float zero[3] = {0.0f, 0.0f, 0.0f};
    audio_buffer_set_velocity(s->buffer, zero);
    audio_buffer_set_position(s->buffer, zero);
    audio_buffer_set_distances(s->buffer, DXSOUND_3D_MIN_DISTANCE, DXSOUND_3D_MAX_DISTANCE);
  }
  return 0;
}

int dxsound_load_wave(DxSound* s, const std::string& path, DxSoundMode mode, float volume) {
  WaveData wave;
  if (int e = dxsound_read_wave(path, &wave)) {
    dxsound_release(s);
    return e;
  }
  const int e = dxsound_create_buffer(s, wave, mode, volume);
  if (!e) s->source = path;
  return e;
}

int dxsound_fill_buffer(DxSound* s) {
  if (!s->buffer) return SOUND_ERROR_BUFFER;
  WaveData wave;
  if (int e = dxsound_read_wave(s->source, &wave)) return e;
  return audio_buffer_fill(s->buffer, wave) == AUDIO_OK ? 0 : SOUND_ERROR_BUFFER;
}

int dxsound_restore_if_lost(DxSound* s) {
  if (!(audio_buffer_status(s->buffer) & AUDIO_STATUS_LOST)) return 0;
  if (audio_buffer_restore(s->buffer) != AUDIO_OK) return SOUND_ERROR_BUFFER;
  return dxsound_fill_buffer(s);
}

void dxsound_release(DxSound* s) {
  if (s->buffer) {
    audio_buffer_stop(s->buffer);
    audio_buffer_set_frame(s->buffer, 0);
    audio_buffer_destroy(s->buffer);
  }
  s->buffer = 0;
  s->format = WaveFormat{};
  s->buffer_size = 0;
  s->source.clear();
}

bool dxsound_loaded(const DxSound* s) { return s->buffer != 0; }

int dxsound_play(DxSound* s, bool looping) {
  if (!s->buffer || dxsound_restore_if_lost(s) != 0) return -1;
  const AudioResult r = audio_buffer_play(s->buffer, looping);
  if (r == AUDIO_LOST) dxsound_restore_if_lost(s);
  return r == AUDIO_OK ? 0 : -1;
}

int dxsound_stop(DxSound* s) {
  if (!s->buffer) return 0;
  const bool was_playing = dxsound_is_playing(s);
  audio_buffer_stop(s->buffer);
  if (was_playing && s->stop_event) sound_stop_event_signal(s->stop_event);
  return 0;
}

int dxsound_set_stop_notification(DxSound* s, SoundStopEvent* event) {
  s->stop_event = event;
  return 0;
}

bool dxsound_is_playing(const DxSound* s) { return (audio_buffer_status(s->buffer) & AUDIO_STATUS_PLAYING) != 0; }

uint32_t dxsound_get_status(const DxSound* s) { return audio_buffer_status(s->buffer); }

uint32_t dxsound_get_frequency(const DxSound* s) { return audio_buffer_frequency(s->buffer); }

int dxsound_set_frequency(DxSound* s, uint32_t hz) {
  hz = hz < 100 ? 100 : hz > 200000 ? 200000 : hz;
  return audio_buffer_set_frequency(s->buffer, hz) == AUDIO_OK ? 0 : -1;
}

float dxsound_get_volume(const DxSound* s) {
  if (!s->buffer) return 0.0f;
  const int range = -6000 - s->volume_base;
  if (range == 0) return 0.0f;
  float v = 1.0f - static_cast<float>(audio_buffer_volume(s->buffer) - s->volume_base) / static_cast<float>(range);
  return v < 0.0f ? 0.0f : v > 1.0f ? 1.0f : v;
}

int dxsound_volume_level(int32_t base, float v) {
  const float drop = (1.0f - v) * 6000.0f;
  // Outside the device's range (or not a number) the level is clamped rather
  // than refused, so a mute always mutes.
  if (!(drop < 20000.0f)) return AUDIO_VOLUME_MIN;
  if (drop < -20000.0f) return AUDIO_VOLUME_MAX;
  int level = base - static_cast<int>(drop);
  return level < AUDIO_VOLUME_MIN ? AUDIO_VOLUME_MIN : level > AUDIO_VOLUME_MAX ? AUDIO_VOLUME_MAX : level;
}

int dxsound_set_volume(DxSound* s, float v) {
  if (!s->buffer) return -1;
  return audio_buffer_set_volume(s->buffer, dxsound_volume_level(s->volume_base, v)) == AUDIO_OK ? 0 : -1;
}

int dxsound_set_position(DxSound* s, float f) {
  if (!s->buffer) return -1;
  if (!(f > 0.0f)) f = 0.0f;
  if (f > 0.99f) f = 0.99f;
  const uint32_t frames = audio_buffer_frames(s->buffer);
  return audio_buffer_set_frame(s->buffer, static_cast<uint32_t>(static_cast<double>(frames) * f)) == AUDIO_OK ? 0
                                                                                                                : -1;
}

int dxsound_set_pan(DxSound* s, int pan) {
  if (s->mode != DXSOUND_PAN || !s->buffer) return -1;
  pan = pan < -10000 ? -10000 : pan > 10000 ? 10000 : pan;
  return audio_buffer_set_pan(s->buffer, pan) == AUDIO_OK ? 0 : -1;
}

int dxsound_set_3d_position(DxSound* s, const float* position) {
  if (s->mode != DXSOUND_3D || !s->buffer) return 1;
  float p[3];
  if (position) {
    p[0] = position[0];
    p[1] = position[1];
    p[2] = position[2];
  } else {
    // Two units ahead of the camera, along the way it faces.
    const SoundCamera c = sound_listener_camera();
    p[0] = c.eye[0] + 2.0f * std::sin(c.yaw);
    p[1] = c.eye[1];
    p[2] = c.eye[2] + 2.0f * std::cos(c.yaw);
  }
  audio_buffer_set_position(s->buffer, p);
  return 1;
}

uint32_t dxsound_buffer_size(const DxSound* s) { return s->buffer_size; }

int dxsound_set_fx(DxSound* s, uint32_t flags) {
  return dxsound_apply_fx(s, flags & 0xFF000000u, flags & 0x00FFFFFFu);
}

int dxsound_apply_fx(DxSound* s, uint32_t kind, uint32_t level) {
  if (!s->buffer) return -1;
  if (audio_buffer_set_effect(s->buffer, kind, level) == AUDIO_OK) return 0;
  if (kind == AUDIO_EFFECT_REVERB) sound_message_box(kMsgEvenLowestQualityFailed, kMsgError);
  return -1;
}
