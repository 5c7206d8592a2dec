// The audio device, its context and the listener.
#include <cmath>
#include <cstdio>

#include "platform/audio/audio_internal.h"

namespace {

AudioState state;

template <typename T>
bool load_proc(T* out, const char* name) {
  *out = reinterpret_cast<T>(alGetProcAddress(name));
  return *out != nullptr;
}

bool load_efx(AudioEfx& e) {
  return load_proc(&e.gen_effects, "alGenEffects") && load_proc(&e.delete_effects, "alDeleteEffects") &&
         load_proc(&e.effecti, "alEffecti") && load_proc(&e.effectf, "alEffectf") &&
         load_proc(&e.effectfv, "alEffectfv") && load_proc(&e.gen_slots, "alGenAuxiliaryEffectSlots") &&
         load_proc(&e.delete_slots, "alDeleteAuxiliaryEffectSlots") &&
         load_proc(&e.sloti, "alAuxiliaryEffectSloti") && load_proc(&e.slotf, "alAuxiliaryEffectSlotf") &&
         load_proc(&e.gen_filters, "alGenFilters") && load_proc(&e.delete_filters, "alDeleteFilters") &&
         load_proc(&e.filteri, "alFilteri") && load_proc(&e.filterf, "alFilterf");
}

void close_locked() {
  for (AudioSlot& s : state.slots)
    if (s.used) audio_free_slot(s);
  alcMakeContextCurrent(nullptr);
  if (state.context) alcDestroyContext(state.context);
  if (state.device) alcCloseDevice(state.device);
  state.context = nullptr;
  state.device = nullptr;
  state.loopback = false;
  state.render = nullptr;
  state.has_efx = false;
}

}  // namespace

AudioState& audio_state() { return state; }

AudioSlot* audio_slot(AudioBuffer b) {
  uint32_t index = b & 0xFF;
  if (b == 0 || index >= AUDIO_SLOTS) return nullptr;
  AudioSlot& s = state.slots[index];
  return (s.used && s.generation == (b >> 8)) ? &s : nullptr;
}

bool audio_open(AudioDeviceKind kind, std::string* why) {
  std::lock_guard<std::mutex> g(state.lock);
  if (state.device) close_locked();
  auto fail = [&](const char* text) {
    if (why) *why = text;
    close_locked();
    return false;
  };
  ALCint attrs[16];
  int n = 0;
  if (kind == AUDIO_DEVICE_LOOPBACK) {
    if (!alcIsExtensionPresent(nullptr, "ALC_SOFT_loopback")) return fail("the mixer has no loopback device");
    auto open_loopback =
        reinterpret_cast<LPALCLOOPBACKOPENDEVICESOFT>(alcGetProcAddress(nullptr, "alcLoopbackOpenDeviceSOFT"));
    state.render = reinterpret_cast<LPALCRENDERSAMPLESSOFT>(alcGetProcAddress(nullptr, "alcRenderSamplesSOFT"));
    state.device = open_loopback ? open_loopback(nullptr) : nullptr;
    if (!state.device || !state.render) return fail("the loopback device cannot be opened");
    state.loopback = true;
    // Sample-exact output: no head-related filtering, no limiter.
    const ALCint loopback_attrs[] = {ALC_FORMAT_CHANNELS_SOFT, ALC_STEREO_SOFT, ALC_FORMAT_TYPE_SOFT, ALC_FLOAT_SOFT,
                                     ALC_HRTF_SOFT, ALC_FALSE, ALC_OUTPUT_LIMITER_SOFT, ALC_FALSE};
    for (ALCint a : loopback_attrs) attrs[n++] = a;
  } else {
    state.device = alcOpenDevice(nullptr);
    if (!state.device) return fail("the default output cannot be opened");
  }
  attrs[n++] = ALC_FREQUENCY;
  attrs[n++] = AUDIO_LOOPBACK_RATE;
  attrs[n++] = 0;
  state.context = alcCreateContext(state.device, attrs);
  if (!state.context || !alcMakeContextCurrent(state.context)) return fail("the sound device refused a context");
  if (!alIsExtensionPresent("AL_EXT_FLOAT32") || !alIsExtensionPresent("AL_SOFT_direct_channels"))
    return fail("the mixer lacks float samples or direct channels");
  state.has_efx = alcIsExtensionPresent(state.device, "ALC_EXT_EFX") && load_efx(state.efx);
  alDistanceModel(AL_INVERSE_DISTANCE_CLAMPED);
  state.rolloff = 1.0f;
  for (float& v : state.listener_position) v = 0.0f;
  alGetError();
  return true;
}

void audio_close() {
  std::lock_guard<std::mutex> g(state.lock);
  if (state.device) close_locked();
}

bool audio_is_open() {
  std::lock_guard<std::mutex> g(state.lock);
  return state.device != nullptr;
}

bool audio_has_effects() {
  std::lock_guard<std::mutex> g(state.lock);
  return state.has_efx;
}

bool audio_render(float* out, int frames) {
  std::lock_guard<std::mutex> g(state.lock);
  if (!state.loopback || frames < 0) return false;
  state.render(state.device, out, frames);
  return true;
}

float audio_gain_from_hundredths(int hundredths_db) {
  if (hundredths_db <= AUDIO_VOLUME_MIN) return 0.0f;
  if (hundredths_db >= AUDIO_VOLUME_MAX) return 1.0f;
  return std::pow(10.0f, static_cast<float>(hundredths_db) / 2000.0f);
}

void audio_listener_set_position(const float p[3]) {
  std::lock_guard<std::mutex> g(state.lock);
  if (!state.device) return;
  for (int i = 0; i < 3; ++i) state.listener_position[i] = p[i];
  alListener3f(AL_POSITION, p[0], p[1], -p[2]);
}

void audio_listener_set_orientation(const float front[3], const float top[3]) {
  std::lock_guard<std::mutex> g(state.lock);
  if (!state.device) return;
  const ALfloat o[6] = {front[0], front[1], -front[2], top[0], top[1], -top[2]};
  alListenerfv(AL_ORIENTATION, o);
}

void audio_listener_set_velocity(const float v[3]) {
  std::lock_guard<std::mutex> g(state.lock);
  if (state.device) alListener3f(AL_VELOCITY, v[0], v[1], -v[2]);
}

void audio_listener_set_doppler(float factor) {
  std::lock_guard<std::mutex> g(state.lock);
  if (state.device) alDopplerFactor(factor);
}

void audio_listener_set_rolloff(float factor) {
  std::lock_guard<std::mutex> g(state.lock);
  if (!state.device) return;
  state.rolloff = factor;
  for (AudioSlot& s : state.slots)
    if (s.used && s.mode == AUDIO_MODE_3D) alSourcef(s.sources[0], AL_ROLLOFF_FACTOR, factor);
}

void audio_listener_set_volume(int hundredths_db) {
  std::lock_guard<std::mutex> g(state.lock);
  if (state.device) alListenerf(AL_GAIN, audio_gain_from_hundredths(hundredths_db));
}

void audio_commit() {
  std::lock_guard<std::mutex> g(state.lock);
  if (!state.device) return;
  for (AudioSlot& s : state.slots)
    if (s.used && s.mode == AUDIO_MODE_3D) audio_apply_gain(s);
}
