// Motion players: binding a bone tree and an animation, the 16.16 clock with
// loops and cross-fades, the key sampler, mirroring and root motion, and the
// per-update pose of the bone chain.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "assets/asset_registry.h"
#include "assets/matrix_stack.h"
#include "math/transform.h"
#include "render/device/shaders.h"
#include "scene3d/animation.h"
#include "scene3d/bone_stream.h"

namespace {

constexpr uint32_t kLastFrameBack = kMotionOneFrame;  // end - this = start of the last frame
// Longest animation whose length in frames still fits the 16.16 clock.
constexpr uint32_t kMaxFrames = 0xFFFF;

uint32_t root_index(const MotionPlayer* p) { return p->flags >> kMotionRootIndexShift; }

uint32_t track_count(const PayloadView& a) { return payload_u32(a, 0); }

uint32_t track_offset(const PayloadView& a, uint32_t i) { return payload_u32(a, payload_u32(a, 12) + 4ull * i); }

uint16_t find_track(const PayloadView& a, const char* name, uint32_t hash) {
  if (name == nullptr) return kBoneNoTrack;
  const uint32_t n = std::min<uint32_t>(track_count(a), kBoneNoTrack);
  for (uint32_t i = 0; i < n; ++i) {
    const uint32_t t = track_offset(a, i);
    if (payload_u32(a, t + 4ull) != hash) continue;
    const char* track_name = a.cstr_at(payload_u32(a, t));
    if (track_name != nullptr && std::strcmp(track_name, name) == 0) return static_cast<uint16_t>(i);
  }
  return kBoneNoTrack;
}

// Where the clock stands between two keys.
struct SamplePoint {
  uint32_t key;
  uint32_t next;
  float t;
};

// The second key is the next frame, held at the last one. Blending towards
// key + whole speed + 1 would skip frames at speeds of one and more.
SamplePoint sample_point(const MotionPlayer* p) {
  const uint32_t frames = p->end >> 16;
  SamplePoint s;
  s.key = p->time >> 16;
  s.next = frames == 0 ? 0 : std::min(s.key + 1, frames - 1);
  s.t = static_cast<float>(p->time & 0xFFFFu) / 65536.0f;
  return s;
}

// A track's transform at the sample point; false for a missing track. Key
// indices are held to the track's own key count, so a short track repeats
// its last key instead of reading past its keys.
bool sample_track(const PayloadView& a, uint32_t track, const SamplePoint& s, Mat4* out) {
  if (a.data == nullptr || track >= track_count(a)) return false;
  const uint64_t t = track_offset(a, track);
  const uint32_t keys = payload_u32(a, t + 8);
  if (keys == 0) return false;
  const uint32_t k0 = std::min(s.key, keys - 1), k1 = std::min(s.next, keys - 1);
  Mat4 m0;
  if (!payload_mat4(a, t + 12 + uint64_t{kAnimationKeyBytes} * k0, &m0)) return false;
  if (s.t == 0.0f) {
    *out = m0;
    return true;
  }
  Mat4 m1;
  if (!payload_mat4(a, t + 12 + uint64_t{kAnimationKeyBytes} * k1, &m1)) return false;
  mat4_interpolate(out, &m0, &m1, s.t);
  return true;
}

bool sample_bone(const MotionPlayer* p, const PayloadView& a, const BonePose* b, const SamplePoint& s, Mat4* out) {
  const bool mirrored = (p->flags & kMotionMirrored) != 0;
  if (!sample_track(a, mirrored ? b->mirror_track : b->track, s, out)) return false;
  if (mirrored) anim_mirror_matrix(out, out, b->parent == nullptr);
  return true;
}

void apply_root_lock(uint32_t mode, Mat4* sample) {
  switch (mode) {
    case 1:
      sample->m[12] = 0.0f;
      sample->m[14] = 0.0f;
      break;
    case 2: sample->m[12] = sample->m[13] = sample->m[14] = 0.0f; break;
    case 3: mat4_reset_rotation(sample); break;
    default: break;
  }
}

// Advances or sets the clock. Steps are taken in signed 64-bit arithmetic so
// that reverse play below zero wraps like any other, and a loop is counted
// when the time actually wraps, once per pass whatever the speed.
void advance_time(MotionPlayer* p, int32_t frame) {
  if (p->end == 0) {
    p->time = 0;
    return;
  }
  const bool reverse = (p->flags & kMotionReverse) != 0;
  const int64_t end = p->end, start = p->start, last = end - kLastFrameBack;
  int64_t t = p->time;
  if (frame < 0) t += reverse ? -int64_t{p->speed} : int64_t{p->speed};
  else t = int64_t{frame} << 16;
  if (p->flags & kMotionLoop) {
    const int64_t loop_point = p->loop_point;
    const int64_t low = (loop_point > start && t >= loop_point) ? loop_point : start;
    if (p->loop_limit != kMotionEndless && p->loop_limit <= p->loops_done) {
      t = std::max(std::min(t, last), low);
    } else {
      if (reverse ? t < low : t > end - 1) ++p->loops_done;
      if (low > end - 0x10001) {
        t = low;
      } else if (t < low || t > end - 1) {
        const int64_t range = end - low;
        t = low + (((t - low) % range) + range) % range;
      }
    }
  } else {
    t = std::max(std::min(t, last), start);
  }
  p->time = static_cast<uint32_t>(std::clamp<int64_t>(t, 0, end - 1));
}

void set_root_positions(MotionPlayer* p, bool reset) {
  Mat4 m;
  Vec3 pos{0.0f, 0.0f, 0.0f};
  if (motion_root_matrix(p, &m) != nullptr) pos = Vec3{m.m[12], m.m[13], m.m[14]};
  if (reset) {
    p->root_pos = p->root_pos_prev = pos;
  } else {
    p->root_pos_prev = p->root_pos;
    p->root_pos = pos;
  }
}

void apply_override(BonePose* b, const Mat4* winv) {
  const uint32_t kind = (b->flags & kBoneKindMask) >> kBoneKindShift;
  Mat4 m;
  switch (kind) {
    case kBoneOverrideIk:
      bone_solve_ik(b, winv);
      matrix_stack_load(&b->pose);
      break;
    case kBoneOverrideLookAt:
      bone_solve_look_at(b, winv);
      matrix_stack_load(&b->pose);
      break;
    case kBoneOverrideLocal:
      mat4_multiply(&m, &b->pose, &b->override_matrix);
      if (b->weight == 1.0f) b->pose = m;
      else mat4_interpolate(&b->pose, &b->pose, &m, b->weight);
      matrix_stack_load(&b->pose);
      break;
    case kBoneOverrideWorld:
      mat4_multiply(&m, winv, &b->override_matrix);
      if (b->weight == 1.0f) b->pose = m;
      else mat4_interpolate(&b->pose, &b->pose, &m, b->weight);
      break;
    default: break;
  }
  b->flags &= ~kBoneKindMask;
}

void apply_skin(MotionPlayer* p, const ShaderBoneSource* mesh) {
  p->skin_mesh = mesh;
  if (mesh == nullptr || mesh->bones == nullptr) return;
  for (int32_t i = 0; i < mesh->count; ++i) {
    const ShaderBone& e = mesh->bones[i];
    for (BonePose* b = p->bones; b != nullptr; b = b->next) {
      if (b->name == nullptr || b->name_hash != e.name_hash || e.name == nullptr || std::strcmp(b->name, e.name) != 0) {
        continue;
      }
      b->mesh_bone = static_cast<uint16_t>(std::min<int32_t>(i, kBoneNoTrack - 1));
      mat4_multiply(&b->skin, &b->pose, &e.offset);
      break;
    }
  }
}

}  // namespace

int anim_mirror_name(char* out, size_t cap, const char* name) {
  if (out == nullptr || name == nullptr) return 0;
  const size_t len = std::strlen(name);
  if (len + 1 > cap) return 0;
  int result = 1;
  const char* mark = std::strstr(name, "_L_");
  if (mark == nullptr) {
    mark = std::strstr(name, "_R_");
    result = 2;
  }
  if (mark == nullptr) return 0;
  std::memcpy(out, name, len + 1);
  out[mark - name + 1] = result == 1 ? 'R' : 'L';
  return result;
}

Mat4* anim_mirror_matrix(Mat4* out, const Mat4* m, bool top_level) {
  Transform t;
  transform_from_matrix(&t, m);
  if (top_level) {
    t.position.z = -t.position.z;
    t.rotation.x = -t.rotation.x;
    t.rotation.y = -t.rotation.y;
  } else {
    t.position.y = -t.position.y;
    t.rotation.x = -t.rotation.x;
    t.rotation.z = -t.rotation.z;
  }
  return transform_to_matrix(out, &t);
}

uint32_t motion_bind(MotionPlayer* p, int32_t tree, int32_t anim) {
  if (p == nullptr) return 0;
  if (tree == 0 && anim == 0) {
    bone_chain_free(p->bones);
    p->bones = p->bones_last = nullptr;
    p->bone_tree = p->animation = 0;
    return 0;
  }
  uint32_t tree_handle = p->bone_tree;
  if (tree >= 0) {
    if (get_bone_tree_record(static_cast<AssetHandle>(tree)) == nullptr) return 0;
    tree_handle = static_cast<uint32_t>(tree);
  }
  const BoneTreeRecord* rec = get_bone_tree_record(tree_handle);
  if (rec == nullptr) return 0;
  if (tree_handle != p->bone_tree || p->bones == nullptr) {
    bone_chain_free(p->bones);
    p->bones = bone_chain_alloc(rec->node_count, &p->bones_last);
    if (p->bones == nullptr) p->bones_last = nullptr;
    p->bone_tree = tree_handle;
  }
  uint32_t first = 0;
  if (p->animation == 0) {
    p->fade_left = 0;
    first = 1;
  } else {
    p->fade_left = p->fade_length;
  }
  if (anim >= 0) p->animation = static_cast<uint32_t>(anim);
  p->flags = (p->flags & ~(kMotionNodeCountMask | kMotionRootIndexMask | kMotionUpdated)) |
             (static_cast<uint32_t>(rec->node_count) & kMotionNodeCountMask) | kMotionRootNone;
  p->time = p->start;
  p->loops_done = 0;
  p->root_rest = 0;

  const PayloadView a = animation_view(p->animation);
  const bool animated = get_animation_record(p->animation) != nullptr;
  p->end = animated ? std::min(payload_u32(a, 4), kMaxFrames) << 16 : 0;

  const PayloadView v = bone_tree_view(tree_handle);
  uint32_t node = 0;
  bool root_found = false;
  BonePose* current = p->bones;
  BonePose* last = nullptr;
  BonePose* parent = nullptr;
  bone_stream_walk(v, [&](const BoneStreamOp& o) {
    switch (o.op) {
      case BONE_OP_MATRIX:
        if (!root_found) p->root_rest = static_cast<uint32_t>(o.at + 4);
        break;
      case BONE_OP_NODE: {
        uint32_t hash = 0;
        const char* name = bone_node_name(v, o.at, &hash);
        if (!root_found && name != nullptr && rec->head.name != nullptr && hash == rec->head.name_hash &&
            std::strcmp(name, rec->head.name) == 0) {
          root_found = true;
          if (node < 255) p->flags = (p->flags & ~kMotionRootIndexMask) | (node << kMotionRootIndexShift);
        }
        if (current != nullptr) {
          current->snapshot = current->pose;
          current->track = current->mirror_track = 0;
          if (animated) {
            current->track = find_track(a, name, hash);
            char mirrored[kPayloadNameMax + 1];
            current->mirror_track = anim_mirror_name(mirrored, sizeof(mirrored), name) != 0
                                        ? find_track(a, mirrored, hash_name(mirrored))
                                        : current->track;
          }
          current->name = name;
          current->name_hash = hash;
          current->parent = parent;
          last = current;
          current = current->next;
        }
        ++node;
        break;
      }
      case BONE_OP_PUSH: parent = last; break;
      case BONE_OP_POP: parent = parent != nullptr ? parent->parent : nullptr; break;
      default: break;
    }
    return true;
  });
  return first;
}

void anim_update_player(MotionPlayer* p, const Mat4* world, int32_t frame, const ShaderBoneSource* mesh,
                        uint16_t exclude, uint32_t first) {
  if (p == nullptr || p->bones == nullptr || get_bone_tree_record(p->bone_tree) == nullptr) return;
  Mat4 w, winv;
  if (world != nullptr) w = *world;
  else mat4_identity(&w);
  mat4_identity(&winv);
  const uint32_t kinds_needing_inverse = (1u << (10 + kBoneOverrideIk)) | (1u << (10 + kBoneOverrideLookAt)) |
                                         (1u << (10 + kBoneOverrideWorld));
  if ((p->flags & kinds_needing_inverse) || (p->flags & kMotionSprings)) mat4_invert(&winv, &w);

  const bool fading = first == 0 && p->fade_left != 0;
  float weight = 0.0f;
  if (fading && p->fade_length != 0) {
    const float f = std::clamp(static_cast<float>(p->fade_length - p->fade_left) / static_cast<float>(p->fade_length),
                               0.0f, 1.0f);
    weight = (1.0f - std::cos(3.1415927410125732f * f)) * 0.5f;
  }

  advance_time(p, frame);
  const SamplePoint s = sample_point(p);
  const PayloadView a = get_animation_record(p->animation) != nullptr ? animation_view(p->animation) : PayloadView{};
  const PayloadView v = bone_tree_view(p->bone_tree);
  const uint32_t root = root_index(p);
  const uint32_t lock = (p->flags & kMotionRootLockMask) >> kMotionRootLockShift;
  const bool overrides = (p->flags & kMotionOverrideMask) != 0;

  const int32_t depth = matrix_stack_depth();
  matrix_stack_push();
  matrix_stack_load(nullptr);
  matrix_stack_push();
  BonePose* b = p->bones;
  uint32_t node = 0;
  bone_stream_walk(v, [&](const BoneStreamOp& o) {
    if (o.op == BONE_OP_PUSH) {
      matrix_stack_push();
    } else if (o.op == BONE_OP_POP) {
      matrix_stack_pop();
    } else if (o.op == BONE_OP_MATRIX) {
      Mat4 rest;
      if (payload_mat4(v, o.at + 4, &rest)) matrix_stack_multiply(&rest);
      if (b == nullptr) return true;
      Mat4* top = matrix_stack_top();
      b->skin = *top;
      b->mesh_bone = kBoneNoTrack;
      b->flags &= ~kBoneWorldValid;
      Mat4 sample;
      if (a.data != nullptr && sample_bone(p, a, b, s, &sample)) {
        if (root != 255 && node == root) {
          apply_root_lock(lock, &sample);
          if (lock < 4) matrix_stack_multiply(&sample);
        } else {
          matrix_stack_multiply(&sample);
        }
      }
      if (fading) {
        mat4_interpolate(&b->pose, &b->snapshot, top, weight);
      } else if (first != 0) {
        b->pose = *top;
        b->snapshot = b->pose;
      } else {
        b->snapshot = b->pose;
        b->pose = *top;
      }
      if (overrides) apply_override(b, &winv);
      b = b->next;
      ++node;
    }
    return true;
  });
  while (matrix_stack_depth() > depth) matrix_stack_pop();

  if (p->fade_left != 0) --p->fade_left;
  p->flags = (p->flags & ~(kMotionFading | kMotionOverrideMask)) | (fading ? uint32_t{kMotionFading} : 0u);

  for (BonePose* r = p->bones; r != nullptr; r = r->next) {
    if (r->flags & kBoneWorldValid) continue;
    mat4_multiply(&r->world, &w, &r->pose);
    r->flags |= kBoneWorldValid;
  }
  if (p->flags & kMotionSprings) spring_bones_step(p, &winv, exclude);

  const bool reset = (p->flags & kMotionUpdated) == 0 || uint64_t{p->time} <= uint64_t{p->start} + p->speed;
  set_root_positions(p, reset);
  apply_skin(p, mesh);
  p->flags |= kMotionUpdated;
}

Mat4* motion_root_matrix(const MotionPlayer* p, Mat4* out) {
  if (p == nullptr || out == nullptr) return nullptr;
  const uint32_t root = root_index(p);
  const BonePose* b = root < 255 ? bone_chain_nth(p->bones, static_cast<int>(root)) : nullptr;
  if (b == nullptr) return nullptr;
  Mat4 sample;
  const PayloadView a = get_animation_record(p->animation) != nullptr ? animation_view(p->animation) : PayloadView{};
  if (a.data == nullptr || !sample_bone(p, a, b, sample_point(p), &sample)) mat4_identity(&sample);
  Mat4 rest;
  if (!payload_mat4(bone_tree_view(p->bone_tree), p->root_rest, &rest)) mat4_identity(&rest);
  mat4_multiply(out, &rest, &sample);
  return out;
}

Vec3* motion_root_delta(const MotionPlayer* p, Vec3* out) {
  if (out == nullptr) return nullptr;
  if (p == nullptr) return vec3_set(out, 0.0f, 0.0f, 0.0f);
  return vec3_sub(out, &p->root_pos, &p->root_pos_prev);
}

bool motion_is_playing(const MotionPlayer* p, uint32_t count) {
  if (p == nullptr) return false;
  if (p->flags & kMotionLoop) return p->loops_done <= count;
  return int64_t{p->time} < int64_t{p->end} - kLastFrameBack;
}

bool motion_is_playing_to_limit(const MotionPlayer* p) {
  return p != nullptr && motion_is_playing(p, p->loop_limit);
}

bool motion_at_start(const MotionPlayer* p) {
  return p != nullptr && p->time >= p->start && uint64_t{p->time} < uint64_t{p->start} + kMotionOneFrame;
}

bool motion_at_end(const MotionPlayer* p) {
  return p != nullptr && p->end != 0 && int64_t{p->end} - kLastFrameBack <= int64_t{p->time} &&
         p->time <= p->end - 1;
}

void motion_set_loop(MotionPlayer* p, uint32_t on) {
  if (p != nullptr) p->flags = (p->flags & ~kMotionLoop) | ((on & 1u) ? uint32_t{kMotionLoop} : 0u);
}

void motion_set_mirror(MotionPlayer* p, uint32_t on) {
  if (p != nullptr) p->flags = (p->flags & ~kMotionMirrored) | ((on & 1u) ? uint32_t{kMotionMirrored} : 0u);
}

void motion_set_reverse(MotionPlayer* p, uint32_t on) {
  if (p != nullptr) p->flags = (p->flags & ~kMotionReverse) | ((on & 1u) ? uint32_t{kMotionReverse} : 0u);
}

void motion_set_loop_limit(MotionPlayer* p, uint32_t count) {
  if (p != nullptr) p->loop_limit = count;
}

void motion_set_root_lock(MotionPlayer* p, uint32_t mode) {
  if (p != nullptr) p->flags = (p->flags & ~kMotionRootLockMask) | ((mode & 7u) << kMotionRootLockShift);
}

uint32_t motion_set_speed(MotionPlayer* p, float frames_per_update) {
  if (p == nullptr) return 0;
  // !(v > 0) also catches NaN.
  const float v = !(frames_per_update > 0.0f) ? 0.0f : std::min(frames_per_update, 65535.0f);
  p->speed = static_cast<uint32_t>(static_cast<double>(v) * 65536.0);
  return p->speed;
}

void motion_set_crossfade(MotionPlayer* p, int32_t updates) {
  if (p == nullptr) return;
  p->fade_length = static_cast<uint32_t>(std::max(updates, 0));
  if (p->fade_length == 0) p->fade_left = 0;
}

void motion_arm_crossfade(MotionPlayer* p) {
  if (p != nullptr) p->fade_left = p->fade_length;
}

void motion_set_time(MotionPlayer* p, uint32_t time) {
  if (p == nullptr) return;
  p->time = time;
  p->flags &= ~kMotionUpdated;
}

uint32_t motion_current_frame(const MotionPlayer* p) { return p != nullptr ? p->time >> 16 : 0; }
uint32_t motion_length(const MotionPlayer* p) { return p != nullptr ? p->end >> 16 : 0; }
uint32_t motion_node_count(const MotionPlayer* p) { return p != nullptr ? p->flags & kMotionNodeCountMask : 0; }
uint32_t motion_root_index(const MotionPlayer* p) { return p != nullptr ? root_index(p) : 255; }
bool motion_is_fading(const MotionPlayer* p) { return p != nullptr && (p->flags & kMotionFading) != 0; }
