// The sound manager: the device and listener, the start-up file checks and
// effect preload, the BGM, voice and ambient channels, the sound-effect
// slots, levels and name tables, and the error code the shell polls.
//
// One lock, the sound lock, guards everything here, the sound buffers and
// the voice queue; the worker thread (command ring) and the main thread
// (frame update, voice queue) both come through it. Loading a file decodes
// it outside the lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <condition_variable>
#include <mutex>
#include <string>

#include "platform/audio/audio.h"
#include "sound/dx_sound.h"
#include "sound/sound_command.h"

// ---- Life cycle (the shell) -----------------------------------------------------

// Creates the manager and starts the worker, opens the default device, checks
// every sound file, preloads the effects and posts "play BGM 0, stop BGM".
void sound_init();
// Once per frame on the main thread: the messages the worker raised, the
// voice queue, the frame counter and the listener, which takes view 0's
// camera.
void sound_update();
// Stops the worker, shows what messages it left, and releases every buffer
// and the device.
void sound_shutdown();
// Nonzero once the sound system failed: 256 device, 257 buffer, 258 missing file.
int sound_error_code();
// Stops the worker thread at once; the fatal exit calls it before the process ends.
void sound_stop_worker();

// Where sound_init looks and what it opens; sound_init uses the recorded
// working folder and the default device.
struct SoundSetup {
  std::string work_directory;  // host path; sound paths are relative to it
  AudioDeviceKind device;
};
void sound_init_with(const SoundSetup& setup);

// ---- Listener camera --------------------------------------------------------------

// View 0's camera as the main thread last published it: the eye point and
// the yaw (y of the camera matrix's Euler angles), in radians.
struct SoundCamera {
  float eye[3];
  float yaw;
};
// The camera the worker places sounds against; sound_update publishes view
// 0's camera here every frame.
void sound_set_listener_camera(const float eye[3], float yaw);
SoundCamera sound_listener_camera();
void sound_listener_update(const float position[3], float yaw);
void sound_listener_reset();

// ---- BGM ----------------------------------------------------------------------------

void sound_play_bgm(SoundId id);
void sound_restart_bgm(SoundId id);
void sound_resume_bgm();
void sound_stop_bgm();
void sound_release_bgm();
void sound_set_bgm_volume(float v);
void sound_set_bgm_pan(float p);

// ---- Voice and ambient --------------------------------------------------------------

void sound_play_voice(SoundId id);
void sound_stop_voice();
void sound_release_voice();
void sound_set_voice_volume(float v);
bool sound_is_voice_playing();
uint32_t sound_get_voice_status();
void sound_play_ambient(SoundId id);
void sound_stop_ambient();
void sound_release_ambient();
void sound_set_ambient_volume(float v);

// ---- Sound effects (index = id AND 0xFFFFFF) ---------------------------------------

// Effect flags with this bit select the manager's default flags.
enum : uint32_t { SOUND_FX_DEFAULT = 0x1000000u };
void sound_play_se(SoundId id, bool looping, float start, uint32_t fx_flags);
void sound_play_se_at(SoundId id, bool looping, const float* position, float start, uint32_t fx_flags);
void sound_stop_se(SoundId id);
void sound_set_se_volume(SoundId id, float v);
void sound_scale_se_volume(SoundId id, float scale);
void sound_restore_se_volume(SoundId id);
void sound_set_se_master_volume(float v);
void sound_set_se_frequency(SoundId id, uint32_t hz);
uint32_t sound_get_se_frequency(SoundId id);
void sound_set_se_pan(SoundId id, float p);
void sound_rewind_ses();
void sound_prime_ses();
void sound_set_default_fx(uint32_t flags);

// ---- All channels ------------------------------------------------------------------

void sound_stop_nonlooping();
void sound_stop_everything();
void sound_reset_all();

// ---- Levels ----------------------------------------------------------------------------

// -10000 for 0, else trunc((1 - v) x -6000) hundredths of a decibel.
int volume_to_attenuation(float v);
void sound_set_primary_volume(float v);
void sound_set_master_volume(float v);
// The system's output level (both channels) to v in 0..1 through the system
// mixer: 0, or a negative error when there is no mixer or it refuses.
int sound_set_system_volume(float v);

// ---- Whole files ------------------------------------------------------------------

enum : size_t { SOUND_READ_FILE_MAX = 1u << 20 };
// Reads a whole file into the manager's one static buffer and returns it, with
// its length in *size; the next call overwrites it. Null for a missing file,
// one larger than SOUND_READ_FILE_MAX, or one that begins with "c.". Any other,
// an "SP" file with its 4-byte head among them, is read whole.
const uint8_t* sound_read_file(const std::string& path, size_t* size);

// ---- Names ---------------------------------------------------------------------------

enum { SOUND_BGM_COUNT = 1, SOUND_SE_COUNT = 1, SOUND_VOICE_COUNT = 1 };
extern const char* const sound_bgm_names[SOUND_BGM_COUNT];
extern const char* const sound_se_names[SOUND_SE_COUNT];
extern const char* const sound_voice_names[SOUND_VOICE_COUNT];
// Index of the first entry equal to name (case-insensitive), each entry cut
// at its first '.'; -1 when none.
int sound_lookup_name(const char* name, const char* const* table, int count);
int64_t sound_bgm_id(const char* name);  // index + 0x80000000, or -1
int64_t sound_se_id(const char* name);   // the index, or -1
int64_t sound_voice_id(const char* name);  // index + 0x40000000, or -1
// Path of a sound as the sys layer opens it: working folder, sound folder,
// name, '.', extension (no dot when the extension is empty).
std::string sound_file_name(const char* name);
// The same in folder A, where second-language voices lie.
std::string sound_file_name_alt(const char* name);
// Folder A when the "golng" setting is 1 and the voice's file was found
// there at start-up, else folder B.
std::string sound_voice_file_name(int index);
// The mode an effect of that name loads in: names starting with s or i are
// plain, and frequency-controlled with "frq" at characters 2 to 4; every
// other name is 3D. A BGM loads with pan control when its fourth character
// is P, else plain.
DxSoundMode sound_se_mode(const char* name);
DxSoundMode sound_bgm_mode(const char* name);

// The sound lock. Recursive: manager operations call one another under it.
std::recursive_mutex& sound_lock();

// ---- State for the frame code and tests --------------------------------------------------

bool sound_is_ready();
uint32_t sound_frame_counter();
// The channel and slot objects (null while nothing is loaded there). Read
// them only while the worker is idle.
const DxSound* sound_bgm_channel();
const DxSound* sound_voice_channel();
const DxSound* sound_ambient_channel();
const DxSound* sound_se_slot(int index);

// ---- Stop notification --------------------------------------------------------------

// The sound system's stop event: a buffer asked to (dxsound_set_stop_notification)
// signals it when it stops playing; a waiter takes the signal.
struct SoundStopEvent {
  std::mutex lock;
  std::condition_variable wake;
  bool signalled = false;
};
SoundStopEvent* sound_stop_event();
void sound_stop_event_signal(SoundStopEvent* event);
// Waits up to timeout_ms for the signal and takes it; false on time-out.
bool sound_stop_event_wait(SoundStopEvent* event, uint32_t timeout_ms);
// The stop-notification thread: its starter starts nothing and answers false;
// its procedure waits on the stop event while the run flag is set, sleeping
// 1 ms after each wake-up; its stop clears the flag and waits up to 1 s for
// the thread.
bool sound_stop_thread_start();
void sound_stop_thread_proc();
void sound_stop_thread_stop();
// Takes one argument and does nothing.
void sound_stop_thread_idle(int);
