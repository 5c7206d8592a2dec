// The 2D overlay task types and their registration at graphics start-up.
#pragma once

#include "render/overlay2d/prim2d.h"
#include "render/overlay2d/sprite2d.h"

// Registers the text type and the sprite type, in that order (ids 3 and 4
// after the line and the triangle). Returns the sprite's id.
int overlay2d_register_types();
void overlay2d_shutdown();
