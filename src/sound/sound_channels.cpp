// The channel operations of the sound manager: BGM, voice, ambient, the
// sound effects and the operations over every channel, each under the
// manager's lock.
#include <cstring>

#include "sound/sound_manager.h"
#include "sound/sound_manager_internal.h"
#include "sound/voice_queue.h"

using namespace sound_detail;

// ---- BGM ----------------------------------------------------------------------------

void sound_play_bgm(SoundId id) {
  Lock g(lock);
  SoundManager* m = manager;
  const uint32_t index = index_of(id);
  if (!m || !m->ready || index >= SOUND_BGM_COUNT) return;
  if (m->bgm_index != static_cast<int>(index)) sound_release_bgm();
  const char* name = sound_bgm_names[index];
  if (!load_channel(g, &SoundManager::bgm, &SoundManager::bgm_index, &SoundManager::bgm_channel,
                    static_cast<int>(index), sound_path(m, m->folder_b, name), sound_bgm_mode(name), m->bgm_volume))
    return;
  m = manager;
  dxsound_set_position(m->bgm, 0.0f);
  dxsound_play(m->bgm, true);
  m->bgm_playing = true;
}

void sound_restart_bgm(SoundId id) {
  sound_play_bgm(id);
  Guard g(lock);
  if (!manager || !manager->bgm) return;
  dxsound_set_position(manager->bgm, 0.0f);
  dxsound_play(manager->bgm, true);
}

void sound_resume_bgm() {
  Guard g(lock);
  if (manager && manager->bgm) dxsound_play(manager->bgm, true);
}

void sound_stop_bgm() {
  Guard g(lock);
  if (manager && manager->bgm) dxsound_stop(manager->bgm);
}

void sound_release_bgm() {
  Guard g(lock);
  SoundManager* m = manager;
  if (!m) return;
  m->bgm_playing = false;
  dxsound_release(&m->bgm_channel);
  m->bgm = nullptr;
  m->bgm_index = -1;
}

void sound_set_bgm_volume(float v) {
  Guard g(lock);
  if (manager && manager->bgm) dxsound_set_volume(manager->bgm, v);
}

void sound_set_bgm_pan(float p) {
  Guard g(lock);
  if (manager && manager->bgm) dxsound_set_pan(manager->bgm, pan_level(p));
}

// ---- Voice and ambient ------------------------------------------------------------

void sound_play_voice(SoundId id) {
  Lock g(lock);
  SoundManager* m = manager;
  const uint32_t index = index_of(id);
  if (!m || !m->ready || !(id & SOUND_ID_VOICE) || index >= SOUND_VOICE_COUNT) return;
  if (m->voice_index != static_cast<int>(index)) sound_release_voice();
  if (!load_channel(g, &SoundManager::voice, &SoundManager::voice_index, &SoundManager::voice_channel,
                    static_cast<int>(index), sound_voice_file_name(static_cast<int>(index)), DXSOUND_PLAIN,
                    m->se_volume))
    return;
  m = manager;
  dxsound_set_position(m->voice, 0.0f);
  dxsound_play(m->voice, false);
  m->voice_playing = true;
}

void sound_stop_voice() {
  Guard g(lock);
  if (manager && manager->voice_playing && manager->voice) dxsound_stop(manager->voice);
}

void sound_release_voice() {
  Guard g(lock);
  SoundManager* m = manager;
  if (!m) return;
  m->voice_playing = false;
  dxsound_release(&m->voice_channel);
  m->voice = nullptr;
  m->voice_index = -1;
}

void sound_set_voice_volume(float v) {
  Guard g(lock);
  if (manager && manager->voice_playing && manager->voice) dxsound_set_volume(manager->voice, v);
}

bool sound_is_voice_playing() {
  Guard g(lock);
  SoundManager* m = manager;
  return m && m->ready && m->voice_playing && m->voice && dxsound_is_playing(m->voice);
}

uint32_t sound_get_voice_status() {
  Guard g(lock);
  SoundManager* m = manager;
  return (m && m->ready && m->voice) ? dxsound_get_status(m->voice) : 0;
}

void sound_play_ambient(SoundId id) {
  Lock g(lock);
  SoundManager* m = manager;
  const uint32_t index = index_of(id);
  if (!m || !m->ready || !(id & SOUND_ID_VOICE) || index >= SOUND_VOICE_COUNT) return;
  if (m->ambient_index != static_cast<int>(index)) sound_release_ambient();
  if (!load_channel(g, &SoundManager::ambient, &SoundManager::ambient_index, &SoundManager::ambient_channel,
                    static_cast<int>(index), sound_path(m, m->folder_b, sound_voice_names[index]), DXSOUND_PLAIN,
                    m->se_volume))
    return;
  m = manager;
  dxsound_set_position(m->ambient, 0.0f);
  dxsound_play(m->ambient, true);
  m->ambient_playing = true;
}

void sound_stop_ambient() {
  Guard g(lock);
  if (manager && manager->ambient_playing && manager->ambient) dxsound_stop(manager->ambient);
}

void sound_release_ambient() {
  Guard g(lock);
  SoundManager* m = manager;
  if (!m) return;
  m->ambient_playing = false;
  dxsound_release(&m->ambient_channel);
  m->ambient = nullptr;
  m->ambient_index = -1;
}

void sound_set_ambient_volume(float v) {
  Guard g(lock);
  if (manager && manager->ambient_playing && manager->ambient) dxsound_set_volume(manager->ambient, v);
}

// ---- Sound effects ----------------------------------------------------------------

void sound_play_se(SoundId id, bool looping, float start, uint32_t fx_flags) {
  Guard g(lock);
  SoundManager* m = manager;
  DxSound* s = se_slot(m, id);
  if (!s || !m->ready) return;
  // A looping request from 0.0 leaves a loop that already plays alone.
  if (!(looping && start == 0.0f)) {
    dxsound_set_position(s, start);
    dxsound_stop(s);
  }
  apply_fx(m, s, fx_flags);
  dxsound_set_3d_position(s, nullptr);
  dxsound_play(s, looping);
}

void sound_play_se_at(SoundId id, bool looping, const float* position, float start, uint32_t fx_flags) {
  Guard g(lock);
  SoundManager* m = manager;
  DxSound* s = se_slot(m, id);
  if (!s || !m->ready) return;
  // Stopping is immediate here, so there is no wait for the buffer to settle.
  if (start != 0.0f) {
    dxsound_stop(s);
    dxsound_set_position(s, start);
  }
  dxsound_set_3d_position(s, position);
  apply_fx(m, s, fx_flags);
  dxsound_play(s, looping);
}

void sound_stop_se(SoundId id) {
  Guard g(lock);
  if (DxSound* s = se_slot(manager, id)) {
    dxsound_stop(s);
    dxsound_set_position(s, 0.001f);
  }
}

void sound_set_se_volume(SoundId id, float v) {
  Guard g(lock);
  if (DxSound* s = se_slot(manager, id)) dxsound_set_volume(s, clamp_unit(v));
}

void sound_scale_se_volume(SoundId id, float scale) {
  Guard g(lock);
  if (DxSound* s = se_slot(manager, id)) dxsound_set_volume(s, clamp_unit(manager->se_volume * scale));
}

void sound_restore_se_volume(SoundId id) {
  Guard g(lock);
  if (DxSound* s = se_slot(manager, id))
    dxsound_set_volume(s, 1.0f - static_cast<float>(s->volume_base) / -6000.0f);
}

void sound_set_se_master_volume(float v) {
  Guard g(lock);
  if (!manager) return;
  for (DxSound* s : manager->se) {
    if (!s) continue;
    s->volume_base = volume_to_attenuation(v);
    dxsound_set_volume(s, v);
  }
}

void sound_set_se_frequency(SoundId id, uint32_t hz) {
  Guard g(lock);
  if (DxSound* s = se_slot(manager, id)) dxsound_set_frequency(s, hz);
}

uint32_t sound_get_se_frequency(SoundId id) {
  Guard g(lock);
  DxSound* s = se_slot(manager, id);
  return s ? dxsound_get_frequency(s) : 0;
}

void sound_set_se_pan(SoundId id, float p) {
  Guard g(lock);
  if (DxSound* s = se_slot(manager, id)) dxsound_set_pan(s, pan_level(p));
}

void sound_rewind_ses() {
  Guard g(lock);
  if (!manager) return;
  for (DxSound* s : manager->se)
    if (s) dxsound_set_position(s, 0.0f);
}

void sound_prime_ses() {
  Guard g(lock);
  if (!manager || !manager->ready) return;
  for (DxSound* s : manager->se) {
    if (!s) continue;
    dxsound_set_position(s, 0.0f);
    dxsound_play(s, false);
    dxsound_stop(s);
  }
}

void sound_set_default_fx(uint32_t flags) {
  Guard g(lock);
  if (manager) manager->default_fx = flags;
}

// ---- All channels -----------------------------------------------------------------

void sound_stop_nonlooping() {
  Guard g(lock);
  if (!manager) return;
  for (DxSound* s : manager->se)
    if (s && s->persistent == 0) dxsound_stop(s);
  sound_stop_ambient();
  sound_stop_voice();
  voice_queue_clear();
}

void sound_stop_everything() {
  Guard g(lock);
  if (!manager) return;
  for (DxSound* s : manager->se)
    if (s) dxsound_stop(s);
  sound_stop_ambient();
  sound_stop_voice();
  sound_stop_bgm();
  voice_queue_clear();
}

void sound_reset_all() {
  Guard g(lock);
  sound_stop_everything();
  if (manager) manager->default_fx = 0;
}
