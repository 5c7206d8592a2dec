// What an intra picture's own bytes prove of it before it is decoded, for
// codecs whose decoders conceal damage without saying so. A JPEG must code
// every component its frame header declares in a scan: the decoder gives out
// a picture with no scan (its marker lost) as it finds it, which is whatever
// the reused buffer held, an earlier frame. An FFV1 picture of a stream whose
// pictures carry slice checksums (version 3 and later, the header data says)
// must have every slice's CRC hold, its slices tiling the picture from its
// end: the decoder fills a slice that fails from the picture before. Not
// part of the interface.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/movie/movie_library.h"

// Whether each image in the bytes (an interlaced movie stores two, one a
// field) has a frame header, and scans that code every component it
// declares, the markers found as the decoder finds them. False also for
// bytes holding no frame header at all.
bool jpeg_scans_whole(const uint8_t* data, size_t size);

// Whether an FFV1 stream's pictures carry slice CRCs, read from its header
// data (the codec's extradata); false where it holds none, is of a version
// without them, or cannot be read.
bool ffv1_slice_crcs(const MovieApi* av, const uint8_t* extradata, size_t size);
// Whether an FFV1 picture with slice CRCs is whole: its slices, each ending
// in its size and CRC, tile it from its end to its start, and each one's CRC
// holds.
bool ffv1_slices_whole(const MovieApi* av, const uint8_t* data, size_t size);
