#include "sound/sound_manager.h"

#include <strings.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "math/mat4.h"
#include "platform/sys/sys.h"
#include "render/movie/movie_player.h"
#include "render/view/view_matrices.h"
#include "render/view/view_state.h"
#include "shell/services/settings_store.h"
#include "shell/services/shared_semaphore.h"
#include "shell/services/startup_config.h"
#include "sound/sound_manager_internal.h"
#include "sound/sound_messages.h"
#include "sound/voice_queue.h"

const char* const sound_bgm_names[SOUND_BGM_COUNT] = {"0"};
const char* const sound_se_names[SOUND_SE_COUNT] = {"0"};
const char* const sound_voice_names[SOUND_VOICE_COUNT] = {"0"};

namespace sound_detail {

std::recursive_mutex lock;
SoundManager* manager;
uint32_t frame_counter;
SoundCamera camera;


// Records the error in the manager; the first failure is the one worth
// reporting.
void sound_set_error(SoundManager* m, int code) {
  int none = 0;
  m->error.compare_exchange_strong(none, code);
}

uint32_t index_of(SoundId id) { return id & SOUND_ID_INDEX_MASK; }

// Path of a sound in a folder, rooted at the working folder recorded at
// start-up: the process's current folder may move under other modules.
std::string sound_path(const SoundManager* m, const std::string& folder, const char* name) {
  std::string rel = folder + name;
  if (!m->extension.empty()) rel += "." + m->extension;
  if (m->work_directory.empty()) return rel;
  return sys_join_path(m->work_directory, rel);
}

// Decodes a file; when this thread holds the sound lock only here, it lets
// go meanwhile, so the main thread's frame never waits for a file.
int read_wave_unlocked(Lock& g, const std::string& path, WaveData* w) {
  g.unlock();
  int e = dxsound_read_wave(path, w);
  g.lock();
  return e;
}

void report_load_failure(int code, const std::string& path) {
  std::fprintf(stderr, "tamberlune: sound file %s: %s\n", sys_map_path(path).c_str(),
               code == SOUND_ERROR_FILE ? "missing or not a wave file" : "cannot be played");
}

// Loads a released channel with the sound at index, or keeps it when it
// holds that sound already. True when the channel is loaded afterwards.
bool load_channel(Lock& g, DxSound* SoundManager::*channel, int SoundManager::*current, DxSound SoundManager::*object,
                  int index, const std::string& path, DxSoundMode mode, float volume) {
  SoundManager* m = manager;
  if (index != m->*current) {
    WaveData w;
    int e = read_wave_unlocked(g, path, &w);
    m = manager;
    if (!m) return false;
    if (!e) e = dxsound_create_buffer(&(m->*object), w, mode, volume);
    if (!e) (m->*object).source = path;
    if (e) {
      report_load_failure(e, path);
      sound_set_error(m, e);
      return false;
    }
    m->*channel = &(m->*object);
    m->*current = index;
  }
  return m->*channel != nullptr;
}

DxSound* se_slot(SoundManager* m, SoundId id) {
  uint32_t i = index_of(id);
  return (m && i < SOUND_SE_COUNT) ? m->se[i] : nullptr;
}

float clamp_unit(float v) { return v > 0.0f ? (v < 1.0f ? v : 1.0f) : 0.0f; }

int pan_level(float p) {
  if (!(p == p)) return -10000;
  float x = p * 10000.0f;
  return x < -10000.0f ? -10000 : x > 10000.0f ? 10000 : static_cast<int>(x);
}

// Stops the sound when the wanted effect flags differ from the applied ones,
// applies them and records them. They are recorded also when they did not
// take, so a sound whose effect fails is not stopped and retried (and the
// failure not reported again) at every play.
void apply_fx(SoundManager* m, DxSound* s, uint32_t flags) {
  uint32_t wanted = (flags & SOUND_FX_DEFAULT) ? m->default_fx : flags;
  if (wanted == s->fx_flags) return;
  dxsound_stop(s);
  dxsound_set_fx(s, wanted);
  s->fx_flags = wanted;
}

bool open_device(SoundManager* m, AudioDeviceKind kind) {
  std::string why;
  if (!audio_open(kind, &why)) {
    std::fprintf(stderr,
                 "tamberlune: no sound device: %s. Where none exists, run with ALSOFT_DRIVERS=null "
                 "for silent output.\n",
                 why.c_str());
    return false;
  }
  m->device_open = true;
  const float zero[3] = {0.0f, 0.0f, 0.0f};
  const float front[3] = {0.0f, 0.0f, 1.0f}, top[3] = {0.0f, 1.0f, 0.0f};
  audio_listener_set_velocity(zero);
  audio_listener_set_doppler(1.0f);
  audio_listener_set_position(zero);
  audio_listener_set_orientation(front, top);
  audio_listener_set_rolloff(0.01f);
  audio_commit();
  return true;
}

bool file_opens(const std::string& path) {
  FILE* f = sys_fopen(path, "rb");
  if (!f) return false;
  std::fclose(f);
  return true;
}

// Opens each effect, BGM and voice file of folder B (error 258 for any that
// does not open), and notes which voices folder A holds too.
void sound_check_files(SoundManager* m) {
  std::string reported;  // the tables may name one file several times; say it once
  auto check = [&](const char* name) {
    std::string path = sound_path(m, m->folder_b, name);
    if (file_opens(path)) return;
    if (path != reported) report_load_failure(SOUND_ERROR_FILE, path);
    reported = path;
    sound_set_error(m, SOUND_ERROR_FILE);
  };
  for (const char* n : sound_se_names) check(n);
  for (const char* n : sound_bgm_names) check(n);
  for (const char* n : sound_voice_names) check(n);
  for (int i = 0; i < SOUND_VOICE_COUNT; ++i)
    m->voice_in_folder_a[i] = file_opens(sound_path(m, m->folder_a, sound_voice_names[i])) ? 1 : 0;
}

// Loads every effect; the manager is ready once all are loaded.
void sound_preload_ses(SoundManager* m) {
  for (int i = 0; i < SOUND_SE_COUNT; ++i) {
    DxSound* s = new DxSound;
    std::string path = sound_path(m, m->folder_b, sound_se_names[i]);
    if (int e = dxsound_load_wave(s, path, sound_se_mode(sound_se_names[i]), m->se_volume)) {
      report_load_failure(e, path);
      sound_set_error(m, e);
      delete s;
      return;
    }
    s->persistent = 0;
    s->load_frequency = dxsound_get_frequency(s);
    m->se[i] = s;
  }
  m->ready = true;
}

// Sets the folders and the extension and opens the device (the volumes keep
// their start values); error 256 when the device does not open. The names
// are set whatever the device does, so the file check that follows a failed
// opening looks at the sound files themselves and names none as missing
// while they are there.
void sound_device_init(SoundManager* m, const SoundSetup& setup) {
  m->error = 0;
  m->folder_a = m->folder_b = ".\\";
  const char* ext = get_startup_string("SFEXT");
  m->extension = ext ? ext : "";
  if (!open_device(m, setup.device)) sound_set_error(m, SOUND_ERROR_DEVICE);
}

const float* command_position(const SoundCommand& c, float out[3]) {
  if (!c.has_position) return nullptr;
  out[0] = c.x;
  out[1] = c.y;
  out[2] = c.z;
  return out;
}

// The worker's table: one manager operation per opcode.
void run_command(const SoundCommand& c) {
  float p[3];
  switch (c.opcode) {
    case SOUND_OP_PLAY_BGM: sound_play_bgm(c.id); break;
    case SOUND_OP_RESTART_BGM: sound_restart_bgm(c.id); break;
    case SOUND_OP_STOP_BGM: sound_stop_bgm(); break;
    case SOUND_OP_RESUME_BGM: sound_resume_bgm(); break;
    case SOUND_OP_RELEASE_BGM: sound_release_bgm(); break;
    case SOUND_OP_BGM_VOLUME: sound_set_bgm_volume(c.value); break;
    case SOUND_OP_SE_VOLUME: sound_set_se_volume(c.id, c.value); break;
    case SOUND_OP_SE_RESTORE_VOLUME: sound_restore_se_volume(c.id); break;
    case SOUND_OP_PLAY_SE: sound_play_se(c.id, false, 0.0f, SOUND_FX_DEFAULT); break;
    case SOUND_OP_LOOP_SE: sound_play_se(c.id, true, 0.0f, SOUND_FX_DEFAULT); break;
    case SOUND_OP_RESTART_LOOP_SE: sound_play_se(c.id, true, 0.001f, SOUND_FX_DEFAULT); break;
    case SOUND_OP_STOP_SE: sound_stop_se(c.id); break;
    case SOUND_OP_STOP_NONLOOPING: sound_stop_nonlooping(); break;
    case SOUND_OP_STOP_EVERYTHING: sound_stop_everything(); break;
    case SOUND_OP_PLAY_SE_AT: sound_play_se_at(c.id, false, command_position(c, p), 0.0f, SOUND_FX_DEFAULT); break;
    case SOUND_OP_LOOP_SE_AT: sound_play_se_at(c.id, true, command_position(c, p), 0.0f, SOUND_FX_DEFAULT); break;
    case SOUND_OP_RESTART_SE_AT: sound_play_se_at(c.id, false, command_position(c, p), 0.001f, SOUND_FX_DEFAULT); break;
    case SOUND_OP_PLAY_SE_AT_FROM:
      sound_play_se_at(c.id, false, command_position(c, p), c.value, SOUND_FX_DEFAULT);
      break;
    case SOUND_OP_SE_FREQUENCY: sound_set_se_frequency(c.id, c.extra); break;
    case SOUND_OP_REWIND_SES: sound_rewind_ses(); break;
    case SOUND_OP_SE_MASTER_VOLUME: sound_set_se_master_volume(c.value); break;
    case SOUND_OP_PLAY_VOICE: sound_play_voice(c.id); break;
    case SOUND_OP_STOP_VOICE: sound_stop_voice(); break;
    case SOUND_OP_RELEASE_VOICE: sound_release_voice(); break;
    case SOUND_OP_VOICE_VOLUME: sound_set_voice_volume(c.value); break;
    case SOUND_OP_PLAY_AMBIENT: sound_play_ambient(c.id); break;
    case SOUND_OP_STOP_AMBIENT: sound_stop_ambient(); break;
    case SOUND_OP_RELEASE_AMBIENT: sound_release_ambient(); break;
    case SOUND_OP_AMBIENT_VOLUME: sound_set_ambient_volume(c.value); break;
    default: break;
  }
}

}  // namespace sound_detail

using namespace sound_detail;

std::recursive_mutex& sound_lock() { return lock; }

// ---- Life cycle -------------------------------------------------------------------

void sound_init() { sound_init_with({get_work_directory(), AUDIO_DEVICE_DEFAULT}); }

void sound_init_with(const SoundSetup& setup) {
  sound_shutdown();
  SoundManager* m = new SoundManager;
  {
    Guard g(lock);
    manager = m;
    camera = SoundCamera{};
    frame_counter = 0;
  }
  // Without its worker every command is dropped: sound is silent, the rest
  // of the program runs on, and the user is told why.
  sys_set_last_error(0);
  if (!sound_thread_start(run_command)) {
    const char* why = sys_get_last_error() == SHARED_SEMAPHORE_ERROR_FULL ? "has 64 users already, the most it serves"
                                                                          : "cannot be made in /dev/shm";
    std::fprintf(stderr, "tamberlune: sound cannot start: its semaphore \"sound\" %s\n", why);
  }
  {
    Guard g(lock);
    m->work_directory = setup.work_directory;
    sound_device_init(m, setup);
    sound_check_files(m);
    if (m->error == 0) sound_preload_ses(m);
    movie_player_init();
    voice_queue_reset();
    frame_counter = 0;
  }
  sound_post_command(SOUND_OP_PLAY_BGM, SOUND_ID_BGM | 0);
  sound_post_command(SOUND_OP_STOP_BGM, 0);
}

void sound_update() {
  sound_show_pending_messages();
  // The listener follows view 0's camera matrix (the inverse of its view
  // matrix, so mirrored views mirror it too); the worker only ever reads this
  // published copy.
  const Mat4* m = get_camera_matrix(0);
  Vec3 angles;
  mat4_to_euler(&angles, m);
  const float eye[3] = {m->m[12], m->m[13], m->m[14]};
  sound_set_listener_camera(eye, angles.y);
  SoundCamera c;
  {
    Guard g(lock);
    if (!manager) return;
    voice_queue_step();
    ++frame_counter;
    c = camera;
  }
  sound_listener_update(c.eye, c.yaw);
}

void sound_shutdown() {
  movie_player_shutdown();
  if (!manager) return;
  sound_thread_stop();
  sound_show_pending_messages();
  Guard g(lock);
  SoundManager* m = manager;
  sound_release_ambient();
  sound_release_voice();
  for (DxSound*& s : m->se) {
    delete s;
    s = nullptr;
  }
  sound_release_bgm();
  sound_release_voice();
  if (m->device_open) audio_close();
  manager = nullptr;
  delete m;
}

int sound_error_code() { return manager ? manager->error.load() : 0; }

void sound_stop_worker() { sound_thread_abort(); }

// ---- Listener ----------------------------------------------------------------------

void sound_set_listener_camera(const float eye[3], float yaw) {
  Guard g(lock);
  camera = {{eye[0], eye[1], eye[2]}, yaw};
}

SoundCamera sound_listener_camera() {
  Guard g(lock);
  return camera;
}

void sound_listener_update(const float position[3], float yaw) {
  Guard g(lock);
  if (!manager || !manager->device_open) return;
  const float front[3] = {std::sin(yaw), 0.0f, std::cos(yaw)}, top[3] = {0.0f, 1.0f, 0.0f};
  audio_listener_set_position(position);
  audio_listener_set_orientation(front, top);
  audio_commit();
}

void sound_listener_reset() {
  Guard g(lock);
  if (!manager || !manager->device_open) return;
  const float zero[3] = {0.0f, 0.0f, 0.0f};
  const float front[3] = {0.0f, 0.0f, 1.0f}, top[3] = {0.0f, 1.0f, 0.0f};
  audio_listener_set_velocity(zero);
  audio_listener_set_position(zero);
  audio_listener_set_orientation(front, top);
  audio_commit();
}

// ---- Levels -----------------------------------------------------------------------

int volume_to_attenuation(float v) {
  if (v == 0.0f) return AUDIO_VOLUME_MIN;
  const float level = (1.0f - v) * -6000.0f;
  if (!(level == level) || level < -1.0e9f) return AUDIO_VOLUME_MIN;
  if (level > 1.0e9f) return 1000000000;
  return static_cast<int>(level);
}

void sound_set_primary_volume(float v) {
  Guard g(lock);
  if (!manager) return;
  const int level = volume_to_attenuation(v);
  manager->master_level = static_cast<float>(level);
  if (manager->device_open) audio_listener_set_volume(level);
}

void sound_set_master_volume(float v) { sound_set_primary_volume(v); }

int sound_set_system_volume(float v) {
  std::string why;
  const int e = audio_set_system_volume(v, &why);
  if (e < 0) std::fprintf(stderr, "tamberlune: the system volume cannot be set: %s\n", why.c_str());
  return e;
}

const uint8_t* sound_read_file(const std::string& path, size_t* size) {
  static uint8_t buffer[SOUND_READ_FILE_MAX];
  std::vector<uint8_t> bytes;
  if (size) *size = 0;
  if (!sys_read_file(path, bytes, SOUND_READ_FILE_MAX)) return nullptr;
  if (bytes.size() >= 2 && bytes[0] == 'c' && bytes[1] == '.') return nullptr;
  std::copy(bytes.begin(), bytes.end(), buffer);
  if (size) *size = bytes.size();
  return buffer;
}

// ---- Names -------------------------------------------------------------------------

int sound_lookup_name(const char* name, const char* const* table, int count) {
  if (!name) return -1;
  const size_t length = std::strlen(name);
  for (int i = 0; i < count; ++i) {
    const char* dot = std::strchr(table[i], '.');
    const size_t cut = dot ? static_cast<size_t>(dot - table[i]) : std::strlen(table[i]);
    if (cut == length && strncasecmp(name, table[i], cut) == 0) return i;
  }
  return -1;
}

int64_t sound_bgm_id(const char* name) {
  int i = sound_lookup_name(name, sound_bgm_names, SOUND_BGM_COUNT);
  return i < 0 ? -1 : int64_t{i} + SOUND_ID_BGM;
}

int64_t sound_se_id(const char* name) { return sound_lookup_name(name, sound_se_names, SOUND_SE_COUNT); }

int64_t sound_voice_id(const char* name) {
  int i = sound_lookup_name(name, sound_voice_names, SOUND_VOICE_COUNT);
  return i < 0 ? -1 : int64_t{i} + SOUND_ID_VOICE;
}

std::string sound_file_name(const char* name) {
  Guard g(lock);
  return manager ? sound_path(manager, manager->folder_b, name) : std::string();
}

std::string sound_file_name_alt(const char* name) {
  Guard g(lock);
  return manager ? sound_path(manager, manager->folder_a, name) : std::string();
}

std::string sound_voice_file_name(int index) {
  Guard g(lock);
  if (!manager || index < 0 || index >= SOUND_VOICE_COUNT) return std::string();
  // Folder A holds the second language's voices, where the voice has one.
  int32_t language = 0;
  const bool alt = get_setting_int("golng", &language) && language == 1 && manager->voice_in_folder_a[index];
  return sound_path(manager, alt ? manager->folder_a : manager->folder_b, sound_voice_names[index]);
}

DxSoundMode sound_se_mode(const char* name) {
  if (name[0] != 's' && name[0] != 'i') return DXSOUND_3D;
  const size_t n = std::strlen(name);
  return (n >= 5 && name[2] == 'f' && name[3] == 'r' && name[4] == 'q') ? DXSOUND_FREQUENCY : DXSOUND_PLAIN;
}

DxSoundMode sound_bgm_mode(const char* name) {
  return (std::strlen(name) >= 4 && name[3] == 'P') ? DXSOUND_PAN : DXSOUND_PLAIN;
}

// ---- State -------------------------------------------------------------------------

bool sound_is_ready() {
  Guard g(lock);
  return manager && manager->ready;
}

uint32_t sound_frame_counter() {
  Guard g(lock);
  return frame_counter;
}

const DxSound* sound_bgm_channel() {
  Guard g(lock);
  return manager ? manager->bgm : nullptr;
}

const DxSound* sound_voice_channel() {
  Guard g(lock);
  return manager ? manager->voice : nullptr;
}

const DxSound* sound_ambient_channel() {
  Guard g(lock);
  return manager ? manager->ambient : nullptr;
}

const DxSound* sound_se_slot(int index) {
  Guard g(lock);
  return (manager && index >= 0 && index < SOUND_SE_COUNT) ? manager->se[index] : nullptr;
}

// ---- Stop notification --------------------------------------------------------------

namespace {

SoundStopEvent stop_event;
std::atomic<bool> stop_thread_run{false};
SysThread stop_thread;

}  // namespace

SoundStopEvent* sound_stop_event() { return &stop_event; }

void sound_stop_event_signal(SoundStopEvent* event) {
  {
    std::lock_guard<std::mutex> g(event->lock);
    event->signalled = true;
  }
  event->wake.notify_all();
}

bool sound_stop_event_wait(SoundStopEvent* event, uint32_t timeout_ms) {
  std::unique_lock<std::mutex> g(event->lock);
  if (!event->wake.wait_for(g, std::chrono::milliseconds(timeout_ms), [&] { return event->signalled; })) return false;
  event->signalled = false;
  return true;
}

bool sound_stop_thread_start() { return false; }

void sound_stop_thread_proc() {
  while (stop_thread_run.load()) {
    sound_stop_event_wait(&stop_event, 100);
    sys_sleep_ms(1);
  }
}

void sound_stop_thread_stop() {
  stop_thread_run = false;
  sound_stop_event_signal(&stop_event);
  if (stop_thread.joinable()) stop_thread.join();
}

void sound_stop_thread_idle(int) {}
