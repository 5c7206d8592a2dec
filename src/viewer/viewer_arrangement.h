// Arrangements in the scene: LOAD puts a ".sav" file's points, ORDER flag and
// picture into the viewer; SAVE writes the viewer's as one.
#pragma once

#include "viewer/save_file.h"

// LOAD: reads ".\sav\<name>", or asks for a file when name is null. A file
// that is refused, or whose picture does not decode, changes nothing.
void save_load(const char* name);
// Replaces the points, ORDER flag and picture with the arrangement's (its
// picture is taken over). Positions become layout pixels of the fitted
// picture. False, changing nothing, when the picture does not decode.
bool viewer_apply_arrangement(SaveArrangement&& arrangement);
// The viewer's points, ORDER flag and picture bytes as an arrangement:
// positions as fractions of the fitted picture, in slot order.
SaveArrangement viewer_build_arrangement();
// SAVE: asks for a file and writes the arrangement to it.
void viewer_save();
