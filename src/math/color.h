// ARGB colour words (alpha in bits 24..31) and their float form: four floats
// r, g, b, a, each the byte divided by 255.
#pragma once

#include <cstdint>

#include "math/vec.h"

inline uint32_t argb_pack(uint32_t r, uint32_t g, uint32_t b, uint32_t a) {
  return (a & 0xFF) << 24 | (r & 0xFF) << 16 | (g & 0xFF) << 8 | (b & 0xFF);
}

inline uint32_t argb_red(uint32_t c) { return (c >> 16) & 0xFF; }
inline uint32_t argb_green(uint32_t c) { return (c >> 8) & 0xFF; }
inline uint32_t argb_blue(uint32_t c) { return c & 0xFF; }
inline uint32_t argb_alpha(uint32_t c) { return c >> 24; }

inline float argb_red_unit(uint32_t c) { return static_cast<float>(argb_red(c)) / 255.0f; }
inline float argb_green_unit(uint32_t c) { return static_cast<float>(argb_green(c)) / 255.0f; }
inline float argb_blue_unit(uint32_t c) { return static_cast<float>(argb_blue(c)) / 255.0f; }
inline float argb_alpha_unit(uint32_t c) { return static_cast<float>(argb_alpha(c)) / 255.0f; }

// out[0..3] = r, g, b, a.
inline float* argb_to_float4(float* out, uint32_t c) {
  out[0] = argb_red_unit(c);
  out[1] = argb_green_unit(c);
  out[2] = argb_blue_unit(c);
  out[3] = argb_alpha_unit(c);
  return out;
}

// Clamped to 0..1, times 255, truncated. A NaN channel becomes 0 rather than
// reaching an undefined float-to-integer conversion.
inline uint32_t unit_to_byte(float v) {
  if (!(v == v)) return 0;
  return static_cast<uint32_t>(clamp01(v) * 255.0f);
}

inline uint32_t float4_to_argb(float r, float g, float b, float a) {
  return argb_pack(unit_to_byte(r), unit_to_byte(g), unit_to_byte(b), unit_to_byte(a));
}

inline uint32_t argb_lerp(uint32_t c0, uint32_t c1, float t) {
  t = clamp01(t);
  return float4_to_argb(lerp(argb_red_unit(c0), argb_red_unit(c1), t),
                        lerp(argb_green_unit(c0), argb_green_unit(c1), t),
                        lerp(argb_blue_unit(c0), argb_blue_unit(c1), t),
                        lerp(argb_alpha_unit(c0), argb_alpha_unit(c1), t));
}
