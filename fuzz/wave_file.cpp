// Sound files as the sound tables name them: any bytes either decode to
// samples that fit the announced frames or are refused.
#include <cstddef>
#include <cstdint>

#include "platform/audio/audio.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  WaveData wave;
  if (wave_decode(data, size, &wave) == WAVE_OK && wave.samples.empty()) __builtin_trap();
  return 0;
}
