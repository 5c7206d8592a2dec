// Reading helpers shared by the motion player and the spring bones: the walk
// over a bone tree's node stream and the track table of an animation. Both
// read the registry's payload copies through bounds-checked views.
#pragma once

#include <cstdint>

#include "assets/model_records.h"
#include "assets/payload_view.h"
#include "math/mat4.h"

struct BoneStreamOp {
  uint32_t op;
  uint64_t at;  // offset of the operation word
};

// Calls fn(op) for each operation up to the end operation or the end of the
// view; fn returns false to stop early. Unknown operations are one word.
template <typename Fn>
void bone_stream_walk(const PayloadView& v, Fn fn) {
  uint64_t at = 0;
  uint32_t op = 0;
  while (v.u32_at(at, &op) && op != BONE_OP_END) {
    if (!fn(BoneStreamOp{op, at})) return;
    switch (op) {
      case BONE_OP_NODE: at += 12; break;
      case BONE_OP_MATRIX: at += 4 + 64; break;
      default: at += 4; break;
    }
  }
}

// The 16 floats at offset; false (out untouched) when they lie outside.
inline bool payload_mat4(const PayloadView& v, uint64_t offset, Mat4* out) {
  if (offset == 0 || !v.span_at(offset, 16, 4)) return false;
  for (int i = 0; i < 16; ++i) v.f32_at(offset + 4u * i, &out->m[i]);
  return true;
}

// Name and hash of a node operation; name null for an unnamed node.
inline const char* bone_node_name(const PayloadView& v, uint64_t at, uint32_t* hash) {
  const uint32_t name_at = payload_u32(v, at + 4);
  *hash = payload_u32(v, at + 8);
  return name_at != 0 ? v.cstr_at(name_at) : nullptr;
}
