// Fields of a part's RenderFlags word and of a static node's NodeFlags word
// (the same fields one bit higher behind an enabled bit), and the state key
// by which opaque parts are sorted so equal states draw next to each other.
#pragma once

#include <cstdint>

#include "math/vec.h"

struct Task;

enum : uint32_t {
  kRenderFlagDistanceSorted = 1u << 0,
  kRenderFlagLighting = 1u << 1,
  kRenderFlagLightSpheres = 1u << 2,
  kRenderFlagZWrite = 1u << 3,
  kRenderFlagFog = 1u << 4,
  kRenderFlagLightView = 1u << 5,
  kRenderFlagMirror = 1u << 6,
};

inline uint32_t flags_field(uint32_t word, int shift, int width) { return (word >> shift) & ((1u << width) - 1u); }
inline uint32_t flags_with_field(uint32_t word, int shift, int width, uint32_t value) {
  const uint32_t mask = ((1u << width) - 1u) << shift;
  return (word & ~mask) | ((value << shift) & mask);
}

inline uint32_t render_flags_blend(uint32_t f) { return flags_field(f, 7, 5); }
inline uint32_t render_flags_cull(uint32_t f) { return flags_field(f, 12, 3); }
inline uint32_t render_flags_billboard(uint32_t f) { return flags_field(f, 15, 3); }
inline uint32_t render_flags_alpha_ref(uint32_t f) { return flags_field(f, 19, 3); }
inline uint32_t render_flags_zfunc(uint32_t f) { return flags_field(f, 22, 3); }
inline uint32_t render_flags_filter(uint32_t f) { return flags_field(f, 25, 2); }
inline uint32_t render_flags_fill(uint32_t f) { return flags_field(f, 27, 2); }

enum : uint32_t {
  kNodeFlagEnabled = 1u << 0,
  kNodeFlagDistanceSorted = 1u << 1,
  kNodeFlagLighting = 1u << 2,
  kNodeFlagLightSpheres = 1u << 3,
  kNodeFlagZWrite = 1u << 4,
  kNodeFlagFog = 1u << 5,
  kNodeFlagLightView = 1u << 6,
  kNodeFlagMirror = 1u << 7,
};

// A node word in the RenderFlags layout (enabled bit dropped, billboard and
// sphere cull zero), so both share the state key and the preset.
uint32_t node_flags_as_render_flags(uint32_t node_flags);

// The state key of a part: its lighting, fog, blend, cull, alpha-reference,
// z-write, z-compare and light-sphere fields under the low 14 bits of the
// given tag (the shading mode for parts, the owning task's pool index for
// static nodes).
uint32_t part_state_key(uint32_t render_flags, uint32_t tag);

float part_distance_sq(const Vec3* a, const Vec3* b);
