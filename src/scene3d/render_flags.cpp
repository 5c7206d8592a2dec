#include "scene3d/render_flags.h"

uint32_t node_flags_as_render_flags(uint32_t n) {
  // Bits 1-7 drop to 0-6; blend and cull (8-15) to 7-14; alpha reference,
  // z compare, filter and fill (16-25) to 19-28, past billboard and sphere cull.
  return ((n >> 1) & 0x7Fu) | (((n >> 8) & 0xFFu) << 7) | (((n >> 16) & 0x3FFu) << 19);
}

uint32_t part_state_key(uint32_t f, uint32_t tag) {
  return ((f >> 1) & 1u) | ((f >> 4) & 1u) << 1 | render_flags_blend(f) << 2 | render_flags_cull(f) << 7 |
         render_flags_alpha_ref(f) << 10 | ((f >> 3) & 1u) << 13 | render_flags_zfunc(f) << 14 |
         ((f >> 2) & 1u) << 17 | (tag & 0x3FFFu) << 18;
}

float part_distance_sq(const Vec3* a, const Vec3* b) {
  const float dx = a->x - b->x, dy = a->y - b->y, dz = a->z - b->z;
  return dx * dx + dy * dy + dz * dz;
}
