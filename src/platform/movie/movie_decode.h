// Decoding a movie's pictures in order from a key: each chunk read and sent
// to the decoder (MPEG-4 B-frames packed into the chunk before unpacked to
// their own positions, the decoder drained before a layer of another picture
// size, a key checked by decoding it alone before a decode begins at it),
// and each frame out placed at its position (movie_frame_order.h) and judged
// for damage (movie_damage.h). Not part of the interface.
#pragma once

#include <cstddef>
#include <cstdint>

struct MovieFile;

// Begins a decode at the key of `segment`.
void decode_start(MovieFile* f, size_t segment);
// The next frame out of the decoder into f->frame, with the entry whose
// position it fills in *entry (-1 when unknown); false at the end of the
// stream, on an error, or when the key the decode began at begins nothing
// (f->restart).
bool decode_next_frame(MovieFile* f, int64_t* entry);
// Frees what the decoding holds.
void decode_release(MovieFile* f);
