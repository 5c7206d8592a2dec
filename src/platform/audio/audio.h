// Sound output shaped the way the sound system expects a 3D sound device to
// behave: one process-wide device with a listener, and whole-file sound
// buffers that play without restarting, stop without rewinding, and take
// volumes in hundredths of a decibel. Coordinates are left-handed (+x right,
// +y up, +z forward); the layer converts them for the mixer.
//
// Every call is safe from any thread; callers that keep state of their own
// around these calls guard it themselves.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// ---- Device -----------------------------------------------------------------

enum AudioDeviceKind {
  AUDIO_DEVICE_DEFAULT,   // the system's default output
  AUDIO_DEVICE_LOOPBACK,  // no output: audio_render pulls the mix (tests)
};

// Opens the device and makes its context current for the whole process.
// On failure returns false and says why in *why.
bool audio_open(AudioDeviceKind kind, std::string* why);
// Destroys every buffer still alive, then the context and the device.
void audio_close();
bool audio_is_open();
// True when the echo, reverb and compressor effects are available.
bool audio_has_effects();
// Loopback device only: mixes `frames` stereo float frames (left, right) at
// the device rate into out. False on any other device.
bool audio_render(float* out, int frames);
enum { AUDIO_LOOPBACK_RATE = 44100 };

// Sets the level of the system's output (the default card's master control)
// to v in 0..1 of its range: 0, or a negative error with *why said, when no
// mixer or control exists or it refuses.
int audio_set_system_volume(float v, std::string* why);

// ---- Listener -----------------------------------------------------------------

void audio_listener_set_position(const float position[3]);
void audio_listener_set_orientation(const float front[3], const float top[3]);
void audio_listener_set_velocity(const float velocity[3]);
void audio_listener_set_doppler(float factor);
// Distance roll-off of every 3D buffer, now and later.
void audio_listener_set_rolloff(float factor);
// Overall level in hundredths of a decibel (0 loudest, -10000 silent).
void audio_listener_set_volume(int hundredths_db);
// Applies the position changes made since the last commit: a 3D buffer
// farther from the listener than its maximum distance falls silent.
void audio_commit();

// ---- Volume arithmetic ----------------------------------------------------------

enum { AUDIO_VOLUME_MIN = -10000, AUDIO_VOLUME_MAX = 0 };
// Linear gain of a level, clamped to the device range; 0 at the minimum.
float audio_gain_from_hundredths(int hundredths_db);

// ---- Wave files ------------------------------------------------------------------

// The format record of a wave file, as its "fmt " chunk holds it.
struct WaveFormat {
  uint16_t tag;
  uint16_t channels;
  uint32_t rate;
  uint32_t bytes_per_second;
  uint16_t block_align;
  uint16_t bits;
  std::vector<uint8_t> extra;  // the bytes after the 16-byte record (non-PCM tags)
};

// A decoded wave file: interleaved float samples.
struct WaveData {
  WaveFormat format;
  uint32_t data_bytes;  // size of the "data" chunk, bounded by the file
  uint32_t frames;
  std::vector<float> samples;
};

enum WaveStatus {
  WAVE_OK,
  WAVE_NOT_FOUND,    // missing, unreadable, not RIFF/WAVE, short "fmt ", no "data"
  WAVE_UNPLAYABLE,   // a wave file whose samples cannot be decoded, or none
};

// The steps of reading one: the file's bytes, refusing one that is missing,
// larger than WAVE_MAX_FILE_BYTES or not RIFF/WAVE; its "fmt " record; its
// "data" chunk decoded into out (whose format the previous step filled).
WaveStatus wave_file_open(const std::string& host_path, std::vector<uint8_t>* bytes);
WaveStatus wave_read_format(const uint8_t* bytes, size_t size, WaveFormat* out);
WaveStatus wave_file_read_data(const uint8_t* bytes, size_t size, WaveData* out);
// Reads and decodes a whole wave file (host path). Files above max_bytes are
// refused as unplayable.
WaveStatus wave_load(const std::string& host_path, WaveData* out);
// The same from bytes in memory.
WaveStatus wave_decode(const uint8_t* bytes, size_t size, WaveData* out);
enum : uint64_t { WAVE_MAX_FILE_BYTES = UINT64_C(1) << 28 };

// ---- Sound buffers ---------------------------------------------------------------

enum AudioMode {
  AUDIO_MODE_PLAIN = 0,      // both channels at full level
  AUDIO_MODE_3D = 1,         // mono, placed in space, frequency control
  AUDIO_MODE_PAN = 2,        // pan control
  AUDIO_MODE_FREQUENCY = 3,  // frequency control
};

// Handle of a sound buffer; 0 is no buffer. A handle goes stale when its
// buffer is destroyed, and calls on a stale handle do nothing.
using AudioBuffer = uint32_t;

enum AudioStatusBits : uint32_t { AUDIO_STATUS_PLAYING = 1, AUDIO_STATUS_LOST = 2, AUDIO_STATUS_LOOPING = 4 };

enum AudioResult {
  AUDIO_OK = 0,
  AUDIO_FAILED = -1,       // no such buffer or the device refused
  AUDIO_UNSUPPORTED = -2,  // the buffer's mode lacks that control
  AUDIO_LOST = -3,         // the buffer lost its samples: restore and fill it first
};

enum AudioEffectKind : uint32_t {
  AUDIO_EFFECT_NONE = 0,
  AUDIO_EFFECT_ECHO = 0x10000000,
  AUDIO_EFFECT_REVERB = 0x20000000,
  AUDIO_EFFECT_COMPRESSOR = 0x40000000,
};

// The parameters an effect was applied with, after range checks.
struct AudioEffectParams {
  AudioEffectKind kind;
  int echo_mix;              // wet/dry percent, 0..100
  int reverb_preset;         // 0..29
  int compressor_threshold;  // dB, -60..0
};

// A buffer for the decoded file in the given mode; 0 when the device refused
// or none is open. The buffer starts stopped at frame 0 and at 0 dB.
AudioBuffer audio_buffer_create(const WaveData& wave, AudioMode mode);
void audio_buffer_destroy(AudioBuffer b);
bool audio_buffer_valid(AudioBuffer b);
AudioMode audio_buffer_mode(AudioBuffer b);
uint32_t audio_buffer_frames(AudioBuffer b);
uint32_t audio_buffer_rate(AudioBuffer b);  // the file's sample rate

// Plays from the current frame; a playing buffer keeps playing where it is
// and only takes the new looping choice.
AudioResult audio_buffer_play(AudioBuffer b, bool looping);
// Stops and keeps the current frame, so a later play resumes there.
AudioResult audio_buffer_stop(AudioBuffer b);
uint32_t audio_buffer_status(AudioBuffer b);

// A buffer whose output went away (the device disconnected) reports
// AUDIO_STATUS_LOST and refuses to play until restored; its samples are gone,
// so it must be filled again from its file.
AudioResult audio_buffer_restore(AudioBuffer b);
// Puts a decoded file's samples into the buffer again, from frame 0. The
// file must be the one the buffer was made from (same frames and rate).
AudioResult audio_buffer_fill(AudioBuffer b, const WaveData& wave);
// Drops every live buffer's samples as a lost output would (tests).
void audio_force_buffers_lost();
AudioResult audio_buffer_set_frame(AudioBuffer b, uint32_t frame);
uint32_t audio_buffer_frame(AudioBuffer b);

// Level in hundredths of a decibel, clamped to -10000..0.
AudioResult audio_buffer_set_volume(AudioBuffer b, int hundredths_db);
int audio_buffer_volume(AudioBuffer b);
// Pan in hundredths of a decibel taken off the far side, clamped to
// -10000 (left only) .. 10000 (right only). Pan mode only.
AudioResult audio_buffer_set_pan(AudioBuffer b, int pan);
int audio_buffer_pan(AudioBuffer b);
// Playback rate in Hz; the file's rate plays at normal speed. 3D and
// frequency modes only; the caller clamps the range.
AudioResult audio_buffer_set_frequency(AudioBuffer b, uint32_t hz);
uint32_t audio_buffer_frequency(AudioBuffer b);

// 3D mode only.
AudioResult audio_buffer_set_position(AudioBuffer b, const float position[3]);
bool audio_buffer_position(AudioBuffer b, float out[3]);
AudioResult audio_buffer_set_velocity(AudioBuffer b, const float velocity[3]);
AudioResult audio_buffer_set_distances(AudioBuffer b, float min_distance, float max_distance);

// Applies one effect (kind and level as the sound system encodes them) or,
// for any other kind, removes the effects. Fails when effects are missing.
AudioResult audio_buffer_set_effect(AudioBuffer b, uint32_t kind, uint32_t level);
AudioEffectParams audio_buffer_effect(AudioBuffer b);

// Number of buffers alive (tests check that nothing leaks).
int audio_buffer_count();
