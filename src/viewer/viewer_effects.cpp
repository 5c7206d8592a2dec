#include "viewer/viewer_effects.h"

#include <cmath>

#include "math/sine.h"
#include "viewer/viewer_state.h"

namespace {

using EffectFn = void (*)(uint32_t t, float speed, float level, EffectOutput* out);

// The sine of a phase that runs round `period` frames at normal speed; the
// angle is formed in double precision so that large frame counts keep their
// low digits.
float phase_sin(uint32_t t, float speed, double period) {
  return fast_sin_deg(static_cast<float>(static_cast<double>(t) * 360.0 * speed / period));
}

// The absolute value folds the negative half of the wave: the picture moves
// to one side of its rest position only, between 0 and 1.5 a.
float shake(uint32_t t, float speed, float a) { return std::fabs(a * phase_sin(t, speed, 120.0) + a * 0.5f); }

void vertical_shake(uint32_t t, float speed, float level, EffectOutput* out) {
  out->dy = shake(t, speed, viewer_height() * 0.05f * level);
}

void horizontal_shake_1(uint32_t t, float speed, float level, EffectOutput* out) {
  out->dx = shake(t, speed, viewer_width() * 0.05f * level);
}

void horizontal_shake_2(uint32_t t, float speed, float level, EffectOutput* out) {
  out->dx = -shake(t, speed, viewer_width() * 0.05f * level);
}

void magnify_1(uint32_t t, float speed, float level, EffectOutput* out) {
  float add = std::fabs(phase_sin(t, speed, 60.0)) * level * 0.2f;
  out->scale_x_add = out->scale_y_add = add;
}

void magnify_2(uint32_t t, float speed, float level, EffectOutput* out) {
  float add = (1.0f - std::fabs(phase_sin(t, speed, 60.0))) * level * 0.2f;
  out->scale_x_add = out->scale_y_add = add;
}

struct EffectEntry {
  const char* name;  // CP932
  EffectFn fn;
};

const EffectEntry kEffects[kEffectCount] = {
    {"\x96\xb3\x82\xb5", nullptr},                                         // 無し
    {"\x8f\xe3\x89\xba\x90\x55\x93\xae", vertical_shake},                  // 上下振動
    {"\x8d\xb6\x89\x45\x90\x55\x93\xae\x82\x50", horizontal_shake_1},      // 左右振動１
    {"\x8d\xb6\x89\x45\x90\x55\x93\xae\x82\x51", horizontal_shake_2},      // 左右振動２
    {"\x8a\x67\x91\xe5\x8f\x6b\x8f\xac\x82\x50", magnify_1},               // 拡大縮小１
    {"\x8a\x67\x91\xe5\x8f\x6b\x8f\xac\x82\x51", magnify_2},               // 拡大縮小２
};

}  // namespace

float effect_level_factor(int level) {
  if (level < 10) return static_cast<float>(level) / 10.0f + 0.1f;
  if (level == 10) return 1.0f;
  return static_cast<float>(level - 10) * 0.5f + 1.0f;
}

float effect_speed_factor(int speed) {
  if (speed < 10) return static_cast<float>(speed) / 10.0f + 0.1f;
  if (speed == 10) return 1.0f;
  return static_cast<float>(speed - 10) * 0.2f + 1.0f;
}

EffectOutput effect_apply(int effect, uint32_t t, int speed, int level) {
  EffectOutput out{};
  if (effect >= 0 && effect < kEffectCount && kEffects[effect].fn) {
    kEffects[effect].fn(t, effect_speed_factor(speed), effect_level_factor(level), &out);
  }
  return out;
}

int effect_count() { return kEffectCount; }

const char* effect_get_name(int effect) {
  return effect >= 0 && effect < kEffectCount ? kEffects[effect].name : "";
}
