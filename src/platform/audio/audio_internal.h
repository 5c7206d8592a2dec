// State shared by the audio layer's files: the device, the listener and the
// buffer pool, all under one lock.
#pragma once

#include <AL/al.h>
#include <AL/alc.h>
#include <AL/alext.h>
#include <AL/efx.h>

#include <mutex>

#include "platform/audio/audio.h"

struct AudioEfx {
  LPALGENEFFECTS gen_effects;
  LPALDELETEEFFECTS delete_effects;
  LPALEFFECTI effecti;
  LPALEFFECTF effectf;
  LPALEFFECTFV effectfv;
  LPALGENAUXILIARYEFFECTSLOTS gen_slots;
  LPALDELETEAUXILIARYEFFECTSLOTS delete_slots;
  LPALAUXILIARYEFFECTSLOTI sloti;
  LPALAUXILIARYEFFECTSLOTF slotf;
  LPALGENFILTERS gen_filters;
  LPALDELETEFILTERS delete_filters;
  LPALFILTERI filteri;
  LPALFILTERF filterf;
};

// One sound buffer. The pan mode plays its left and right halves on two
// sources, because the mixer has no per-channel level of its own.
struct AudioSlot {
  uint32_t generation;
  bool used;
  AudioMode mode;
  int count;  // sources in use, 1 or 2
  ALuint buffers[2];
  ALuint sources[2];
  uint32_t frames;
  uint32_t rate;
  uint32_t frequency;
  uint32_t pending_frame;  // where the next play starts while not playing
  bool looping;
  int volume;
  int pan;
  float position[3];
  float max_distance;
  bool muted;  // beyond the maximum distance
  bool lost;   // its samples are gone until restored and filled again
  ALuint effect, effect_slot, dry_filter;
  AudioEffectParams effect_params;
};

enum { AUDIO_SLOTS = 64 };

struct AudioState {
  std::mutex lock;
  ALCdevice* device;
  ALCcontext* context;
  bool loopback;
  LPALCRENDERSAMPLESSOFT render;
  bool has_efx;
  AudioEfx efx;
  float listener_position[3];
  float rolloff;
  AudioSlot slots[AUDIO_SLOTS];
};

AudioState& audio_state();
// Puts the file's samples into the slot's buffers, shaped for its mode. Call
// with the lock held and the buffers detached from the sources.
void audio_upload_samples(AudioSlot& s, const WaveData& wave);
// The live slot a handle names, or null. Call with the lock held.
AudioSlot* audio_slot(AudioBuffer b);
// Sets the sources' gains from volume, pan and the distance mute.
void audio_apply_gain(AudioSlot& s);
// Deletes a slot's sources, buffers and effect objects; the slot is free
// again. Call with the lock held.
void audio_free_slot(AudioSlot& s);
// Deletes a slot's effect objects. Call with the lock held.
void audio_release_effect(AudioSlot& s);
