// The palette of a paletted movie stream: the one its header holds, changed
// from a position on by the palette change chunks ("NNpc") stored among its
// pictures, each setting a run of entries. The palette a picture is decoded
// with is the header's with every change stored before it made in turn,
// whatever order the pictures are read in. Not part of the interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct MoviePaletteChange {
  int64_t at;                    // the change chunk's data in the file
  uint8_t first;                 // the first entry it sets
  std::vector<uint32_t> colours; // ARGB, alpha 255
};

// Reads a change chunk's data (first entry, count with 0 for 256, flags,
// then red, green, blue and a flag byte each); false when the bytes are too
// few for what they claim.
bool movie_palette_change_read(const uint8_t* data, size_t size, int64_t at, MoviePaletteChange* out);
// Makes in *palette (256 entries, else nothing is made) the changes that
// lie in [from, to), of `changes` sorted by where they lie; whether any did.
// A decode begun at a picture makes those before it in the header's
// palette, and each picture after those since the one before it.
bool movie_palette_apply(std::vector<uint32_t>* palette, const std::vector<MoviePaletteChange>& changes,
                         int64_t from, int64_t to);
