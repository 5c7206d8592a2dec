// One playable sound: a whole wave file in one sound buffer, in one of four
// modes, with its volume base, effect flags and the file's format. The sound
// manager owns one per sound-effect slot and one per channel (BGM, voice,
// ambient). A DxSound has no lock: its callers hold the sound lock.
#pragma once

#include <cstdint>
#include <string>

#include "platform/audio/audio.h"

struct SoundStopEvent;

enum DxSoundMode : uint32_t {
  DXSOUND_PLAIN = 0,
  DXSOUND_3D = 1,
  DXSOUND_PAN = 2,
  DXSOUND_FREQUENCY = 3,
};

// Sound error codes recorded by the manager.
enum : int { SOUND_ERROR_DEVICE = 256, SOUND_ERROR_BUFFER = 257, SOUND_ERROR_FILE = 258 };

struct DxSound {
  AudioBuffer buffer = 0;
  uint32_t persistent = 0;      // left playing by the stop-non-looping operation
  uint32_t load_frequency = 0;  // Hz right after preloading (sound effects)
  DxSoundMode mode = DXSOUND_PLAIN;
  int32_t volume_base = 0;      // hundredths of a decibel: 0 in 3D mode, else -250
  uint32_t fx_flags = 0;        // the effect flags last applied
  WaveFormat format{};
  uint32_t buffer_size = 0;     // bytes of the file's "data" chunk
  std::string source;           // the file the buffer was loaded from, to refill it
  SoundStopEvent* stop_event = nullptr;  // signalled when a playing buffer stops

  DxSound() = default;
  DxSound(const DxSound&) = delete;
  DxSound& operator=(const DxSound&) = delete;
  ~DxSound();
};

enum { DXSOUND_3D_MIN_DISTANCE = 2, DXSOUND_3D_MAX_DISTANCE = 100 };

// Construction and destruction by name: construct makes an empty object in
// place, destruct stops and releases it, destroy runs destruct and frees an
// object made by new when bit 0 of flags is set.
void dxsound_construct(DxSound* s);
void dxsound_destruct(DxSound* s);
void dxsound_destroy(DxSound* s, uint32_t flags);
// Takes one argument and does nothing.
void dxsound_ignore(DxSound* s);

// Reads and decodes a wave file; the slow half of loading, done without the
// sound lock. Returns 0, SOUND_ERROR_FILE or SOUND_ERROR_BUFFER.
int dxsound_read_wave(const std::string& path, WaveData* out);
// Makes the buffer from decoded samples: releases what was loaded, sets the
// volume base and volume v (0..1), and the 3D defaults in 3D mode. Returns 0
// or SOUND_ERROR_BUFFER.
int dxsound_create_buffer(DxSound* s, const WaveData& wave, DxSoundMode mode, float volume);
// Both of the above; the buffer remembers path to refill from.
int dxsound_load_wave(DxSound* s, const std::string& path, DxSoundMode mode, float volume);
// Reads the buffer's file again and puts its samples into the buffer: 0, or
// SOUND_ERROR_FILE / SOUND_ERROR_BUFFER.
int dxsound_fill_buffer(DxSound* s);
// When the buffer reports itself lost, restores it and fills it again from
// its file: 0, or the failure.
int dxsound_restore_if_lost(DxSound* s);
// Stops, rewinds and frees the buffer; the object is empty again.
void dxsound_release(DxSound* s);
bool dxsound_loaded(const DxSound* s);

// Restores a lost buffer first, then plays: 0, or -1 with nothing loaded or
// when the buffer is (still) lost.
int dxsound_play(DxSound* s, bool looping);
int dxsound_stop(DxSound* s);
bool dxsound_is_playing(const DxSound* s);
uint32_t dxsound_get_status(const DxSound* s);
uint32_t dxsound_get_frequency(const DxSound* s);
// Clamped to 100..200000 Hz; -1 in the plain and pan modes.
int dxsound_set_frequency(DxSound* s, uint32_t hz);
// The buffer's level as 0..1 over the 60 dB range below its base.
float dxsound_get_volume(const DxSound* s);
// Level = base - trunc((1 - v) x 6000) hundredths of a decibel, kept within
// the device's range.
int dxsound_set_volume(DxSound* s, float v);
// The level dxsound_set_volume gives for v.
int dxsound_volume_level(int32_t base, float v);
// Moves the play cursor to the fraction f (0..0.99; negative or NaN is 0).
int dxsound_set_position(DxSound* s, float f);
// Pan mode only: -10000..10000.
int dxsound_set_pan(DxSound* s, int pan);
// 3D mode only: the point, or 2 units in front of the listener's camera when
// null. Always 1, as the manager expects.
int dxsound_set_3d_position(DxSound* s, const float* position);
uint32_t dxsound_buffer_size(const DxSound* s);
// Applies the effect flags (kind in the top byte, level below): 0 when
// applied, -1 when not.
int dxsound_set_fx(DxSound* s, uint32_t flags);
// One effect of a kind (echo, reverb, compressor; any other removes them)
// at a level: 0 when applied, -1 when not.
int dxsound_apply_fx(DxSound* s, uint32_t kind, uint32_t level);
// Asks the buffer to signal event whenever it stops playing (null: no
// longer). Always 0.
int dxsound_set_stop_notification(DxSound* s, SoundStopEvent* event);
