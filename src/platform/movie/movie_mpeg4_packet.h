// What the movie reader looks at inside an MPEG-4 (part 2) packet, from its
// bytes alone: the video object layer header that sets the picture size, and
// a second picture stored after the first (packed B-frames), and the marker
// of a writer that packs them. Not part of the interface.
#pragma once

#include <cstddef>
#include <cstdint>

struct Mpeg4Span {
  size_t begin, end;  // end == begin: none
};

// The packet's video object layer header, from its start code up to the
// next start code.
Mpeg4Span mpeg4_packet_layer(const uint8_t* data, size_t size);
// Where the packet's second picture begins, or 0 when it holds fewer.
size_t mpeg4_packet_second_picture(const uint8_t* data, size_t size);
// Whether the bytes (a packet, or the stream's header data) hold the user
// data by which a writer says it packs B-frames ("DivX" version, build, then
// 'p'): the decoder then unpacks them itself.
bool mpeg4_packet_says_packed(const uint8_t* data, size_t size);
