// Model parts built from the model presets of the asset store: the mesh,
// bone tree, first animation, colours and slots a preset names, put
// together on one model part; and switching a part's motion by animation
// name.
#pragma once

#include <cstdint>

#include "math/mat4.h"
#include "render/tasks/task.h"

// A persistent model part of the owner on the layer, with the preset's mesh,
// bone tree and the first animation of its package or animation package,
// its specular colour and power, light-view membership (flag 5) and its
// slots. Null for an unknown preset or a full task pool.
Task* create_preset_model(uint32_t owner, const Mat4* matrix, const char* preset, uint8_t layer);
// Plays the animation of that name from the package of the part's current
// animation; false (nothing changed) when there is none.
bool set_part_motion_by_name(Task* part, const char* animation);
