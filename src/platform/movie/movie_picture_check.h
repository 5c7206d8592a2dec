// What an intra picture's own bytes prove of it before it is decoded, for
// codecs whose decoders conceal damage without saying so. A JPEG must code
// every component its frame header declares in a scan: the decoder gives out
// a picture with no scan (its marker lost) as it finds it, which is whatever
// the reused buffer held, an earlier frame. Not part of the interface.
#pragma once

#include <cstddef>
#include <cstdint>

// Whether each image in the bytes (an interlaced movie stores two, one a
// field) has a frame header, and scans that code every component it
// declares, the markers found as the decoder finds them. False also for
// bytes holding no frame header at all.
bool jpeg_scans_whole(const uint8_t* data, size_t size);
