// Shared between the world-space sprite's files: the type record the draw
// counts into, and the sprite record of a task.
#pragma once

#include "render/world/sprite3d.h"

Sprite3dType* sprite3d_type_record();

inline Sprite3d* sprite3d_of(Task* task) { return task_data<Sprite3d>(task); }
