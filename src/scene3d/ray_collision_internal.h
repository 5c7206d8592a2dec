// Shared between the collider pools and the model searches of the ray
// collision module; not for other callers.
#pragma once

#include "scene3d/ray_collision.h"

// The candidate list and the node ring live in the module's block, so model
// queries do not nest.
RayCollisionBlock* raycol_block();
