// The matrix stack that composes transforms while a bone tree is walked or a
// model is instanced: 64 levels, level 0 the base. It is one global stack in
// the asset registry, so nested users must restore the depth they found.
#pragma once

#include <cstdint>

#include "math/mat4.h"

enum { MATRIX_STACK_LEVELS = 64 };

struct MatrixStack {
  int32_t depth;  // 0..63; the top is levels[depth]
  Mat4 levels[MATRIX_STACK_LEVELS];
};

// Depth 0, level 0 = identity.
void matrix_stack_reset();
// Copies the top to the next level; nothing at depth 63.
void matrix_stack_push();
// Nothing at depth 0.
void matrix_stack_pop();
// The top becomes m, or identity for null.
void matrix_stack_load(const Mat4* m);
// top = m x top: m's transform applies first, then the accumulated one.
void matrix_stack_multiply(const Mat4* m);
int32_t matrix_stack_depth();
Mat4* matrix_stack_top();
// The level below the top; null at depth 0.
Mat4* matrix_stack_parent();
