// Decoding a movie's pictures in order from a key: each chunk read and sent
// to the decoder (MPEG-4 B-frames packed into the chunk before unpacked to
// their own positions, the decoder drained before a layer of another picture
// size, a key checked by decoding it alone before a decode begins at it, a
// picture's own bytes checked where its decoder would not tell damage, a
// damaged MPEG-4 B-frame, which nothing refers to, not decoded at all),
// and each frame out placed at its position (movie_frame_order.h) and judged
// for damage (movie_damage.h). Not part of the interface.
#pragma once

#include <cstddef>
#include <cstdint>

struct MovieFile;

// Begins a decode at the key of `segment`.
void decode_start(MovieFile* f, size_t segment);
enum class DecodeStep {
  Frame,  // a frame came out of the decoder
  Sent,   // the decode went on by a picture (sent, lost before it could be, or the drain begun), no frame out yet
  Ended,  // the end of the stream, an error, or the key the decode began at begins nothing (f->restart)
};

// Decodes on until the next frame out of the decoder, put into f->frame with
// the entry whose position it fills in *entry (-1 when unknown), or until the
// next picture is sent without one, so that the reader may judge after each
// picture whether decoding on can still give the frame it wants.
DecodeStep decode_next_frame(MovieFile* f, int64_t* entry);
// Frees what the decoding holds.
void decode_release(MovieFile* f);
