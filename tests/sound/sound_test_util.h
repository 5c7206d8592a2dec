// Helpers for the sound tests: wave files built in memory and level
// measurements on the mixer's loopback device.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/audio/audio.h"

// A 16-bit PCM wave file of the given interleaved samples.
inline std::vector<uint8_t> make_wav(int channels, uint32_t rate, const std::vector<int16_t>& samples) {
  const uint32_t bytes = static_cast<uint32_t>(samples.size() * 2);
  std::vector<uint8_t> out(44 + bytes);
  size_t at = 0;
  auto put = [&](uint32_t v, int n) {
    for (int i = 0; i < n; ++i) out[at++] = static_cast<uint8_t>(v >> (8 * i));
  };
  auto id = [&](const char* s) {
    for (int i = 0; i < 4; ++i) out[at++] = static_cast<uint8_t>(s[i]);
  };
  id("RIFF");
  put(36 + bytes, 4);
  id("WAVE");
  id("fmt ");
  put(16, 4);
  put(1, 2);
  put(static_cast<uint32_t>(channels), 2);
  put(rate, 4);
  put(rate * 2 * static_cast<uint32_t>(channels), 4);
  put(2 * static_cast<uint32_t>(channels), 2);
  put(16, 2);
  id("data");
  put(bytes, 4);
  for (int16_t s : samples) put(static_cast<uint16_t>(s), 2);
  return out;
}

// A constant level (half of full scale by default): easy to measure after
// any gain.
inline std::vector<uint8_t> make_dc_wav(uint32_t frames, int channels = 1, uint32_t rate = 44100,
                                        int16_t level = 16384) {
  return make_wav(channels, rate, std::vector<int16_t>(static_cast<size_t>(frames) * channels, level));
}

inline WaveData decode_wav(const std::vector<uint8_t>& bytes) {
  WaveData w;
  wave_decode(bytes.data(), bytes.size(), &w);
  return w;
}

struct Levels {
  float left, right;
};

// Renders `frames` frames on the loopback device and returns the mean
// absolute level of each side over the last half, after the mixer's gain
// ramps have settled.
inline Levels render_levels(int frames = 4096) {
  std::vector<float> buf(static_cast<size_t>(frames) * 2);
  audio_render(buf.data(), frames);
  Levels l{0.0f, 0.0f};
  const int from = frames / 2;
  for (int f = from; f < frames; ++f) {
    l.left += std::fabs(buf[2 * f]);
    l.right += std::fabs(buf[2 * f + 1]);
  }
  l.left /= static_cast<float>(frames - from);
  l.right /= static_cast<float>(frames - from);
  return l;
}

inline void render_frames(int frames) {
  std::vector<float> buf(static_cast<size_t>(frames) * 2);
  audio_render(buf.data(), frames);
}

inline float gain_of(int hundredths) { return std::pow(10.0f, static_cast<float>(hundredths) / 2000.0f); }
