#include "render/overlay2d/overlay2d.h"

#include "render/overlay2d/text2d.h"

int overlay2d_register_types() {
  text2d_register_type();
  return sprite2d_register_type();
}

void overlay2d_shutdown() { text2d_shutdown(); }
