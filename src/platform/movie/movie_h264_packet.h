// What the movie reader looks at inside an H.264 packet stored with start
// codes, from its bytes alone: whether it holds a picture, and whether that
// picture needs none before it (an instantaneous refresh, or intra slices),
// may begin a decode (a recovery point), or is one that others may
// refer to. Not part of the interface.
#pragma once

#include <cstddef>
#include <cstdint>

struct H264PacketLook {
  bool slice = false;      // holds a slice of a picture
  bool idr = false;        // an instantaneous refresh: nothing after it refers to anything before
  bool intra = false;      // its slices are intra
  bool reference = false;  // other pictures may refer to it
  bool recovery = false;   // a recovery point: decoding may begin here
};

H264PacketLook h264_packet_look(const uint8_t* data, size_t size);
