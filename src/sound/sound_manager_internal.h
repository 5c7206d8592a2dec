// What the sound manager's files share: the manager record, the one lock
// over manager, buffers and voice queue, and the helpers the channel
// operations use. Only src/sound/sound_*.cpp include it.
#pragma once

#include <atomic>
#include <bit>
#include <cstdint>
#include <mutex>
#include <string>

#include "sound/dx_sound.h"
#include "sound/sound_manager.h"

namespace sound_detail {

struct SoundManager {
  float master_level = 0.0f;
  float bgm_volume = std::bit_cast<float>(0x3F599999u);  // 0.84999996: the BGM plays at -1150
  float se_volume = 0.85f;
  bool device_open = false;
  std::atomic<int> error{0};
  DxSound* se[SOUND_SE_COUNT] = {};
  // The channel objects, and the channels while something is loaded in them.
  DxSound bgm_channel, voice_channel, ambient_channel;
  DxSound* bgm = nullptr;
  DxSound* voice = nullptr;
  DxSound* ambient = nullptr;
  bool bgm_playing = false, voice_playing = false, ambient_playing = false;
  int bgm_index = -1, voice_index = -1, ambient_index = -1;
  uint32_t default_fx = 0;
  bool ready = false;
  std::string work_directory;
  std::string folder_a = ".\\", folder_b = ".\\";
  std::string extension;
  uint8_t voice_in_folder_a[SOUND_VOICE_COUNT] = {};
};

extern std::recursive_mutex lock;
extern SoundManager* manager;

using Guard = std::lock_guard<std::recursive_mutex>;
using Lock = std::unique_lock<std::recursive_mutex>;

void sound_set_error(SoundManager* m, int code);
uint32_t index_of(SoundId id);
std::string sound_path(const SoundManager* m, const std::string& folder, const char* name);
bool load_channel(Lock& g, DxSound* SoundManager::*channel, int SoundManager::*current, DxSound SoundManager::*object,
                  int index, const std::string& path, DxSoundMode mode, float volume);
DxSound* se_slot(SoundManager* m, SoundId id);
float clamp_unit(float v);
int pan_level(float p);
void apply_fx(SoundManager* m, DxSound* s, uint32_t flags);

}  // namespace sound_detail
