// What the movie reader looks at inside an MPEG-4 (part 2) packet, from its
// bytes alone, in one pass over its start codes: the video object layer
// header that sets the picture size and the length of a picture's time
// stamp and may say the stream holds no B-frames, the first picture's coding
// type and whether it is coded at all (a not-coded picture repeats the one
// before, and packing writers store one as a placeholder), and a second
// picture stored after the first (packed B-frames). Not part of the
// interface.
#pragma once

#include <cstddef>
#include <cstdint>

enum Mpeg4PictureType { MPEG4_NONE = -1, MPEG4_I = 0, MPEG4_P = 1, MPEG4_B = 2, MPEG4_S = 3 };

struct Mpeg4PacketLook {
  size_t layer_begin = 0, layer_end = 0;  // the layer header, start code to next start code; equal: none
  int time_bits = 0;                       // from that header: bits of a picture's time increment; 0 none
  int64_t time_resolution = 0;             // from that header: increments a second; 0 none
  int low_delay = -1;                      // from that header: 1 it holds no B-frames, 0 it may; -1 not said
  Mpeg4PictureType first_type = MPEG4_NONE;
  bool first_coded = true;
  size_t second_picture = 0;  // where a second picture begins; 0: none
};

// Looks at a packet, or at the stream's header data. `time_bits` is what the
// last layer header said, 0 when none was seen: a picture's coded flag lies
// after its time stamp. Without it a lone picture of a few bytes counts as
// not coded, as only a not-coded one is that small.
Mpeg4PacketLook mpeg4_packet_look(const uint8_t* data, size_t size, int time_bits);
// Only the first picture's coding type, looking no further than its header.
Mpeg4PictureType mpeg4_first_picture(const uint8_t* data, size_t size);
// The same, MPEG4_NONE where the markers around its time stamp do not hold
// (damage reached its header), with the time increment `time_bits` long as
// the layer says; 0 when no layer was read, and the markers are not checked.
Mpeg4PictureType mpeg4_first_picture_checked(const uint8_t* data, size_t size, int time_bits);

// The first picture's time stamp: the seconds it adds to its time base and
// its increment within the second, where it was read with its markers.
struct Mpeg4PictureStamp {
  Mpeg4PictureType type = MPEG4_NONE;  // as mpeg4_first_picture_checked gives it
  bool found = false;                   // a picture's start code is there
  bool timed = false;
  int seconds = 0;
  uint32_t increment = 0;
};
Mpeg4PictureStamp mpeg4_first_picture_stamp(const uint8_t* data, size_t size, int time_bits);
