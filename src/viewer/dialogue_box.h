// The dialogue box: a framed band near the bottom of the layout with the
// current point's line in it, in the current dialogue colour.
#pragma once

#include <cstdint>

// One frame of the box with the line (CP932) under the owner.
void dialogue_box_draw(uint32_t owner, const char* line);
