// A bone tree drawn as one-frame 3D lines: each bone from its parent, with
// short axis lines at its end, posed by a motion player or in the rest
// pose the tree stores.
#include "assets/model_records.h"
#include "render/world/prim3d.h"
#include "scene3d/animation.h"
#include "scene3d/bone_stream.h"
#include "scene3d/part_classes.h"

namespace {

constexpr int kLevels = 128;
constexpr float kAxisLength = 0.1f;
constexpr uint32_t kRed = 0xFFFF0000u, kGreen = 0xFF00FF00u, kBlue = 0xFF0000FFu;

Vec3 row(const Mat4& m, int r) { return Vec3{m.m[r * 4], m.m[r * 4 + 1], m.m[r * 4 + 2]}; }

void line(uint32_t owner, const Vec3* a, uint32_t colour_a, const Vec3* b, uint32_t colour_b) {
  Task* t = line3d_draw(owner, a, colour_a, b, colour_b);
  if (t != nullptr) line3d_set_depth_write(t, 0);
}

void bone_lines(uint32_t owner, const Mat4& parent, const Mat4& node) {
  const Vec3 from = row(parent, 3), at = row(node, 3);
  line(owner, &from, kRed, &at, kGreen);
  const uint32_t colours[3] = {kRed, kGreen, kBlue};
  for (int axis = 0; axis < 3; ++axis) {
    Vec3 end = row(node, axis);
    vec3_scale(&end, &end, kAxisLength);
    vec3_add(&end, &end, &at);
    line(owner, &at, colours[axis], &end, colours[axis]);
  }
}

}  // namespace

void draw_bone_tree_lines(uint32_t owner, AssetHandle tree, const Mat4* base, uint32_t label,
                          const MotionPlayer* poses) {
  if (get_bone_tree_record(tree) == nullptr || label != 0) return;
  const PayloadView stream = bone_tree_view(tree);
  Mat4 top[kLevels], node[kLevels];
  bool named[kLevels] = {};
  int depth = 0;
  if (base != nullptr) top[0] = *base;
  else mat4_identity(&top[0]);
  const BonePose* pose = nullptr;
  bool first_matrix = true;
  bone_stream_walk(stream, [&](const BoneStreamOp& op) {
    switch (op.op) {
      case BONE_OP_MATRIX: {
        Mat4 local;
        if (payload_mat4(stream, op.at + 4, &local)) mat4_multiply(&top[depth], &top[depth], &local);
        if (poses != nullptr) pose = first_matrix ? poses->bones : (pose != nullptr ? pose->next : nullptr);
        first_matrix = false;
        break;
      }
      case BONE_OP_NODE:
        node[depth] = poses != nullptr && pose != nullptr ? pose->world : top[depth];
        named[depth] = true;
        break;
      case BONE_OP_PUSH:
        if (depth + 1 < kLevels) {
          top[depth + 1] = top[depth];
          named[depth + 1] = false;
          ++depth;
        }
        break;
      case BONE_OP_POP:
        if (depth == 0) break;
        if (named[depth] && named[depth - 1]) bone_lines(owner, node[depth - 1], node[depth]);
        --depth;
        break;
      default: break;
    }
    return true;
  });
}

void model_part_draw_skeleton(Task* part, uint32_t, bool posed) {
  ModelPart* p = task_data<ModelPart>(part);
  if (p->motion == nullptr) return;
  draw_bone_tree_lines(part->owner, p->motion->bone_tree, &p->world, 0, posed ? p->motion : nullptr);
}
