// Echo, reverb and compressor on a sound buffer, through the mixer's effect
// slots. Each buffer owns at most one effect, one slot and one dry filter.
//
// How the effects map:
// - echo: first tap 200 ms, feedback 50 %; the wet/dry mix sets the slot's
//   gain (wet) and a dry filter's gain (1 - wet).
// - reverb: the I3DL2 preset numbering (0..29) picks a row of the EAX reverb
//   presets; rows without a same-named preset take the nearest one.
// - compressor: the mixer's compressor has only on/off, so gain, threshold,
//   ratio and times are kept for inspection but not heard; it replaces the
//   dry sound, as an insert effect does.
#include <AL/efx-presets.h>

#include "platform/audio/audio_internal.h"

namespace {

// Preset rows in I3DL2 order. 0 (default) and 29 (plate) take GENERIC;
// small, medium and large room take ROOM, LIVINGROOM and AUDITORIUM; medium
// and large hall take CONCERTHALL.
const EFXEAXREVERBPROPERTIES kReverbPresets[30] = {
    EFX_REVERB_PRESET_GENERIC,         EFX_REVERB_PRESET_GENERIC,     EFX_REVERB_PRESET_PADDEDCELL,
    EFX_REVERB_PRESET_ROOM,            EFX_REVERB_PRESET_BATHROOM,    EFX_REVERB_PRESET_LIVINGROOM,
    EFX_REVERB_PRESET_STONEROOM,       EFX_REVERB_PRESET_AUDITORIUM,  EFX_REVERB_PRESET_CONCERTHALL,
    EFX_REVERB_PRESET_CAVE,            EFX_REVERB_PRESET_ARENA,       EFX_REVERB_PRESET_HANGAR,
    EFX_REVERB_PRESET_CARPETEDHALLWAY, EFX_REVERB_PRESET_HALLWAY,     EFX_REVERB_PRESET_STONECORRIDOR,
    EFX_REVERB_PRESET_ALLEY,           EFX_REVERB_PRESET_FOREST,      EFX_REVERB_PRESET_CITY,
    EFX_REVERB_PRESET_MOUNTAINS,       EFX_REVERB_PRESET_QUARRY,      EFX_REVERB_PRESET_PLAIN,
    EFX_REVERB_PRESET_PARKINGLOT,      EFX_REVERB_PRESET_SEWERPIPE,   EFX_REVERB_PRESET_UNDERWATER,
    EFX_REVERB_PRESET_ROOM,            EFX_REVERB_PRESET_LIVINGROOM,  EFX_REVERB_PRESET_AUDITORIUM,
    EFX_REVERB_PRESET_CONCERTHALL,     EFX_REVERB_PRESET_CONCERTHALL, EFX_REVERB_PRESET_GENERIC,
};

void load_reverb(const AudioEfx& e, ALuint effect, const EFXEAXREVERBPROPERTIES& r) {
  e.effecti(effect, AL_EFFECT_TYPE, AL_EFFECT_EAXREVERB);
  e.effectf(effect, AL_EAXREVERB_DENSITY, r.flDensity);
  e.effectf(effect, AL_EAXREVERB_DIFFUSION, r.flDiffusion);
  e.effectf(effect, AL_EAXREVERB_GAIN, r.flGain);
  e.effectf(effect, AL_EAXREVERB_GAINHF, r.flGainHF);
  e.effectf(effect, AL_EAXREVERB_GAINLF, r.flGainLF);
  e.effectf(effect, AL_EAXREVERB_DECAY_TIME, r.flDecayTime);
  e.effectf(effect, AL_EAXREVERB_DECAY_HFRATIO, r.flDecayHFRatio);
  e.effectf(effect, AL_EAXREVERB_DECAY_LFRATIO, r.flDecayLFRatio);
  e.effectf(effect, AL_EAXREVERB_REFLECTIONS_GAIN, r.flReflectionsGain);
  e.effectf(effect, AL_EAXREVERB_REFLECTIONS_DELAY, r.flReflectionsDelay);
  e.effectfv(effect, AL_EAXREVERB_REFLECTIONS_PAN, r.flReflectionsPan);
  e.effectf(effect, AL_EAXREVERB_LATE_REVERB_GAIN, r.flLateReverbGain);
  e.effectf(effect, AL_EAXREVERB_LATE_REVERB_DELAY, r.flLateReverbDelay);
  e.effectfv(effect, AL_EAXREVERB_LATE_REVERB_PAN, r.flLateReverbPan);
  e.effectf(effect, AL_EAXREVERB_ECHO_TIME, r.flEchoTime);
  e.effectf(effect, AL_EAXREVERB_ECHO_DEPTH, r.flEchoDepth);
  e.effectf(effect, AL_EAXREVERB_MODULATION_TIME, r.flModulationTime);
  e.effectf(effect, AL_EAXREVERB_MODULATION_DEPTH, r.flModulationDepth);
  e.effectf(effect, AL_EAXREVERB_AIR_ABSORPTION_GAINHF, r.flAirAbsorptionGainHF);
  e.effectf(effect, AL_EAXREVERB_HFREFERENCE, r.flHFReference);
  e.effectf(effect, AL_EAXREVERB_LFREFERENCE, r.flLFReference);
  e.effectf(effect, AL_EAXREVERB_ROOM_ROLLOFF_FACTOR, r.flRoomRolloffFactor);
  e.effecti(effect, AL_EAXREVERB_DECAY_HFLIMIT, r.iDecayHFLimit);
}

void detach(AudioSlot& s) {
  for (int i = 0; i < s.count; ++i) {
    alSource3i(s.sources[i], AL_AUXILIARY_SEND_FILTER, AL_EFFECTSLOT_NULL, 0, AL_FILTER_NULL);
    alSourcei(s.sources[i], AL_DIRECT_FILTER, AL_FILTER_NULL);
  }
}

}  // namespace

void audio_release_effect(AudioSlot& s) {
  AudioState& st = audio_state();
  if (!st.has_efx || !s.effect) return;
  detach(s);
  st.efx.delete_slots(1, &s.effect_slot);
  st.efx.delete_effects(1, &s.effect);
  st.efx.delete_filters(1, &s.dry_filter);
  s.effect = s.effect_slot = s.dry_filter = 0;
}

AudioResult audio_buffer_set_effect(AudioBuffer b, uint32_t kind, uint32_t level) {
  AudioState& st = audio_state();
  std::lock_guard<std::mutex> g(st.lock);
  AudioSlot* sp = audio_slot(b);
  if (!sp || !st.has_efx) return AUDIO_FAILED;
  AudioSlot& s = *sp;
  const AudioEfx& e = st.efx;
  alGetError();
  if (!s.effect) {
    e.gen_effects(1, &s.effect);
    e.gen_slots(1, &s.effect_slot);
    e.gen_filters(1, &s.dry_filter);
    if (alGetError() != AL_NO_ERROR) {
      audio_release_effect(s);
      return AUDIO_FAILED;
    }
    e.filteri(s.dry_filter, AL_FILTER_TYPE, AL_FILTER_LOWPASS);
    e.filterf(s.dry_filter, AL_LOWPASS_GAINHF, 1.0f);
  }

  AudioEffectParams p{};
  float wet = 1.0f;
  switch (kind) {
    case AUDIO_EFFECT_ECHO:
      p.echo_mix = level <= 100 ? static_cast<int>(level) : 0;
      wet = static_cast<float>(p.echo_mix) / 100.0f;
      e.effecti(s.effect, AL_EFFECT_TYPE, AL_EFFECT_ECHO);
      e.effectf(s.effect, AL_ECHO_DELAY, 0.2f);
      e.effectf(s.effect, AL_ECHO_LRDELAY, 0.0f);
      e.effectf(s.effect, AL_ECHO_DAMPING, 0.0f);
      e.effectf(s.effect, AL_ECHO_FEEDBACK, 0.5f);
      e.effectf(s.effect, AL_ECHO_SPREAD, 0.0f);
      break;
    case AUDIO_EFFECT_REVERB:
      p.reverb_preset = level <= 29 ? static_cast<int>(level) : 0;
      load_reverb(e, s.effect, kReverbPresets[p.reverb_preset]);
      break;
    case AUDIO_EFFECT_COMPRESSOR:
      p.compressor_threshold = level <= 60 ? -static_cast<int>(level) : 0;
      e.effecti(s.effect, AL_EFFECT_TYPE, AL_EFFECT_COMPRESSOR);
      e.effecti(s.effect, AL_COMPRESSOR_ONOFF, AL_TRUE);
      break;
    default:
      audio_release_effect(s);
      s.effect_params = AudioEffectParams{};
      return AUDIO_OK;
  }
  p.kind = static_cast<AudioEffectKind>(kind);
  // The reverb adds to the dry sound; echo splits it by the mix; the
  // compressor replaces it.
  float dry = kind == AUDIO_EFFECT_REVERB ? 1.0f : kind == AUDIO_EFFECT_ECHO ? 1.0f - wet : 0.0f;
  e.filterf(s.dry_filter, AL_LOWPASS_GAIN, dry);
  e.sloti(s.effect_slot, AL_EFFECTSLOT_EFFECT, static_cast<ALint>(s.effect));
  e.slotf(s.effect_slot, AL_EFFECTSLOT_GAIN, wet);
  for (int i = 0; i < s.count; ++i) {
    alSource3i(s.sources[i], AL_AUXILIARY_SEND_FILTER, static_cast<ALint>(s.effect_slot), 0, AL_FILTER_NULL);
    alSourcei(s.sources[i], AL_DIRECT_FILTER, static_cast<ALint>(s.dry_filter));
  }
  if (alGetError() != AL_NO_ERROR) {
    audio_release_effect(s);
    s.effect_params = AudioEffectParams{};
    return AUDIO_FAILED;
  }
  s.effect_params = p;
  return AUDIO_OK;
}

AudioEffectParams audio_buffer_effect(AudioBuffer b) {
  std::lock_guard<std::mutex> g(audio_state().lock);
  AudioSlot* s = audio_slot(b);
  return s ? s->effect_params : AudioEffectParams{};
}
