// Coarse table sine for effects that take many sines per frame: one read of a
// 65536-entry table, no library call. Everything else uses the exact
// library sine.
#pragma once

#include <cstdint>

// Entry i holds sin(2*pi*i/65536), the angle rounded to single precision
// before the sine is taken. Filled once before main runs; never written again.
extern const float* const g_sine_table;

constexpr float kSineRadianScale = 10430.21875f;  // 65535 / (2 pi)
constexpr float kSineDegreeScale = 182.04167f;    // 65535 / 360
constexpr float kSineCosOffset = 16384.0f;

// Truncates toward zero and keeps the low 16 bits, so negative angles wrap to
// the top of the table. The conversion goes through 64 bits so that angles
// beyond the 32-bit range still wrap; NaN and values beyond 64 bits read
// entry 0.
inline uint32_t sine_index(float scaled) {
  const bool in_range = scaled > -9.2e18f && scaled < 9.2e18f;
  const int64_t i = in_range ? static_cast<int64_t>(scaled) : 0;
  return static_cast<uint32_t>(i) & 0xFFFFu;
}

inline float fast_sin(float radians) { return g_sine_table[sine_index(radians * kSineRadianScale)]; }

inline float fast_cos(float radians) {
  return g_sine_table[sine_index(radians * kSineRadianScale + kSineCosOffset)];
}

inline float fast_sin_deg(float degrees) {
  return g_sine_table[sine_index(degrees * kSineDegreeScale)];
}

inline float fast_cos_deg(float degrees) {
  return g_sine_table[sine_index(degrees * kSineDegreeScale + kSineCosOffset)];
}
