#include "assets/matrix_stack.h"

#include "assets/registry_internal.h"

namespace {

MatrixStack& stack() { return registry_block().matrices; }

}  // namespace

void matrix_stack_reset() {
  stack().depth = 0;
  mat4_identity(&stack().levels[0]);
}

void matrix_stack_push() {
  MatrixStack& s = stack();
  if (s.depth >= MATRIX_STACK_LEVELS - 1) return;
  s.levels[s.depth + 1] = s.levels[s.depth];
  ++s.depth;
}

void matrix_stack_pop() {
  if (stack().depth > 0) --stack().depth;
}

void matrix_stack_load(const Mat4* m) {
  Mat4* top = matrix_stack_top();
  if (m) {
    *top = *m;
  } else {
    mat4_identity(top);
  }
}

void matrix_stack_multiply(const Mat4* m) {
  Mat4* top = matrix_stack_top();
  mat4_multiply(top, top, m);
}

int32_t matrix_stack_depth() { return stack().depth; }

Mat4* matrix_stack_top() { return &stack().levels[stack().depth]; }

Mat4* matrix_stack_parent() { return stack().depth > 0 ? &stack().levels[stack().depth - 1] : nullptr; }
