// Screen effects: while PLAY is on, the current point's EFFECT shakes or
// pulses the picture, as a pure function of the frame count and the point's
// EF SPD and EF LV (0..20, 10 = normal).
#pragma once

#include <cstdint>

struct EffectOutput {
  float dx, dy;
  float scale_x_add, scale_y_add;
};

constexpr int kEffectCount = 6;

// Effect 0 and unknown effects give all zero.
EffectOutput effect_apply(int effect, uint32_t t, int speed, int level);
int effect_count();
// The CP932 display name; "" for an unknown effect.
const char* effect_get_name(int effect);

// Below 10 a tenth per step plus 0.1; 1 at 10; above 10 the level adds 0.5
// per step and the speed 0.2.
float effect_level_factor(int level);
float effect_speed_factor(int speed);
