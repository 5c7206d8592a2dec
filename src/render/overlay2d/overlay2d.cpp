#include "render/overlay2d/overlay2d.h"

int overlay2d_register_types() {
  // The text type registers first and takes the id before the sprite's. Until
  // it exists its slot is held by an empty entry, so the ids after it stay
  // where graphics start-up expects them.
  task_type_register(nullptr, nullptr, nullptr, nullptr, 0);
  return sprite2d_register_type();
}

void overlay2d_shutdown() {}
