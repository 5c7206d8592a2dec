// What the movie reader looks at inside an MPEG-4 (part 2) packet, from its
// bytes alone, in one pass over its start codes: the video object layer
// header that sets the picture size, a second picture stored after the first
// (packed B-frames), and the marker of a writer that packs them. Not part of
// the interface.
#pragma once

#include <cstddef>
#include <cstdint>

struct Mpeg4PacketLook {
  size_t layer_begin = 0, layer_end = 0;  // the layer header, start code to next start code; equal: none
  size_t second_picture = 0;              // where a second picture begins; 0: none
  // User data by which the writer says it packs B-frames ("DivX", version,
  // build, then 'p'): the decoder then unpacks them itself.
  bool says_packed = false;
};

// Looks at a packet, or at the stream's header data.
Mpeg4PacketLook mpeg4_packet_look(const uint8_t* data, size_t size);
