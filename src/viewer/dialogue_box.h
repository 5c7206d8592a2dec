// The dialogue box: a framed band near the bottom of the layout with the
// current point's line in it, in the current dialogue colour.
#pragma once

#include <cstdint>

// One frame of the box with the line (CP932) under the owner.
void dialogue_box_draw(uint32_t owner, const char* line);

struct DialogueList;

// Rasterises the glyphs of every line of the dialogue with the box's font,
// so the frame that first shows a line does no rasterising.
void dialogue_box_prepare(const DialogueList* dialogue);
