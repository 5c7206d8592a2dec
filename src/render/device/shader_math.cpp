// Small float4 and ARGB helpers of the shader constants.
#include <cmath>

#include "render/device/shaders.h"

float* shader_float4_set(float* out, float x, float y, float z, float w) {
  out[0] = x;
  out[1] = y;
  out[2] = z;
  out[3] = w;
  return out;
}

float* shader_float4_from_vec3(float* out, const Vec3* v, float w) { return shader_float4_set(out, v->x, v->y, v->z, w); }

float* shader_float4_copy(float* out, const float* v) { return shader_float4_set(out, v[0], v[1], v[2], v[3]); }

float* shader_float4_scale3(float* out, const float* v, float factor) {
  return shader_float4_set(out, v[0] * factor, v[1] * factor, v[2] * factor, v[3]);
}

float* shader_float4_mul(float* out, const float* a, const float* b) {
  return shader_float4_set(out, a[0] * b[0], a[1] * b[1], a[2] * b[2], a[3] * b[3]);
}

float* shader_float4_mul_add(float* out, const float* a, const float* b, const float* c) {
  return shader_float4_set(out, a[0] * b[0] + c[0], a[1] * b[1] + c[1], a[2] * b[2] + c[2], a[3] * b[3] + c[3]);
}

uint32_t shader_argb_red(uint32_t argb) { return (argb >> 16) & 0xFF; }
uint32_t shader_argb_green(uint32_t argb) { return (argb >> 8) & 0xFF; }
uint32_t shader_argb_blue(uint32_t argb) { return argb & 0xFF; }
uint32_t shader_argb_alpha(uint32_t argb) { return argb >> 24; }

float* shader_float4_from_argb(float* out, uint32_t argb) {
  return shader_float4_set(out, float(shader_argb_red(argb)) / 255.0f, float(shader_argb_green(argb)) / 255.0f,
                           float(shader_argb_blue(argb)) / 255.0f, float(shader_argb_alpha(argb)) / 255.0f);
}

float* shader_float4_from_argb_scaled(float* out, uint32_t argb, float factor) {
  return shader_float4_scale3(out, shader_float4_from_argb(out, argb), factor);
}

Vec3* shader_vec3_set(Vec3* out, float x, float y, float z) {
  out->x = x;
  out->y = y;
  out->z = z;
  return out;
}

Vec3* shader_vec3_normalize(Vec3* out, const Vec3* v) {
  float len = std::sqrt(v->x * v->x + v->y * v->y + v->z * v->z);
  if (len == 0.0f) return shader_vec3_set(out, 0.0f, 0.0f, 0.0f);
  return shader_vec3_set(out, v->x / len, v->y / len, v->z / len);
}
