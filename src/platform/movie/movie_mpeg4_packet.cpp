#include "platform/movie/movie_mpeg4_packet.h"

#include "platform/movie/movie_bit_reader.h"

namespace {

constexpr uint8_t kPictureCode = 0xB6;
constexpr uint8_t kLayerCodes = 0x20;  // 0x20 to 0x2F
// The largest picture that can be a not-coded one with its time stamp's
// length unknown.
constexpr size_t kMaxNotCoded = 19;

bool start_code_at(const uint8_t* d, size_t n, size_t i) {
  return i + 3 < n && d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1;
}

// The bits of a time increment, from the layer header whose fields begin at
// `d` (after its start code); 0 when it cannot be read. *low_delay and
// *resolution_out as Mpeg4PacketLook says.
int layer_time_bits(const uint8_t* d, size_t n, int* low_delay, int64_t* resolution_out) {
  BitReader r{d, n};
  r.bits(1 + 8);  // random access, object type
  int verid = 1;
  if (r.bit() != 0) {
    verid = static_cast<int>(r.bits(4));
    r.bits(3);
  }
  if (r.bits(4) == 15) r.bits(16);  // aspect ratio, and its own width and height
  if (r.bit() != 0) {               // control parameters: chroma format, low delay, buffer model
    r.bits(2);
    *low_delay = static_cast<int>(r.bit());
    if (r.bit() != 0) r.bits(79);
  }
  const uint32_t shape = r.bits(2);
  if (shape == 3 && verid != 1) r.bits(4);
  r.bit();
  const uint32_t resolution = r.bits(16);
  if (r.ended() || resolution == 0) return 0;
  *resolution_out = resolution;
  int bits = 1;
  while ((1u << bits) < resolution) ++bits;
  return bits;
}

// Whether the picture whose fields begin at `d` (after its start code) is
// coded: type, seconds ('1's ended by '0'), marker, increment, marker, flag.
bool picture_coded(const uint8_t* d, size_t n, int time_bits) {
  BitReader r{d, n};
  r.bits(2);
  for (int seconds = 0; r.bit() != 0 && seconds < 64; ++seconds) {
  }
  r.bits(1 + time_bits + 1);
  return r.ended() || r.bit() != 0;
}

}  // namespace

Mpeg4PacketLook mpeg4_packet_look(const uint8_t* d, size_t n, int time_bits) {
  Mpeg4PacketLook look;
  int pictures = 0;
  bool in_layer = false;
  for (size_t i = 0; i < n; ++i) {
    if (!start_code_at(d, n, i)) continue;
    if (in_layer) look.layer_end = i;
    in_layer = false;
    const uint8_t code = d[i + 3];
    if ((code & 0xF0) == kLayerCodes && look.layer_end == 0) {
      look.layer_begin = i;
      in_layer = true;
      look.time_bits = layer_time_bits(d + i + 4, n - i - 4, &look.low_delay, &look.time_resolution);
      if (look.time_bits != 0) time_bits = look.time_bits;
    } else if (code == kPictureCode && ++pictures == 1) {
      look.first_type = static_cast<Mpeg4PictureType>(i + 4 < n ? d[i + 4] >> 6 : 0);
      look.first_coded = time_bits != 0 ? picture_coded(d + i + 4, n - i - 4, time_bits) : n > kMaxNotCoded;
    } else if (code == kPictureCode && pictures == 2) {
      look.second_picture = i;
    }
  }
  if (in_layer) look.layer_end = n;
  return look;
}

Mpeg4PictureStamp mpeg4_first_picture_stamp(const uint8_t* d, size_t n, int time_bits) {
  Mpeg4PictureStamp stamp;
  for (size_t i = 0; i + 4 < n; ++i) {
    if (!start_code_at(d, n, i) || d[i + 3] != kPictureCode) continue;
    BitReader r{d + i + 4, n - i - 4};
    const auto type = static_cast<Mpeg4PictureType>(r.bits(2));
    stamp.found = true;
    if (time_bits == 0) {
      stamp.type = type;
      return stamp;
    }
    while (r.bit() != 0 && stamp.seconds < 64) ++stamp.seconds;
    const uint32_t before = r.bit();
    stamp.increment = r.bits(time_bits);
    stamp.timed = before == 1 && r.bit() == 1 && !r.overran() && stamp.seconds < 64;
    stamp.type = stamp.timed ? type : MPEG4_NONE;
    return stamp;
  }
  return stamp;
}

Mpeg4PictureType mpeg4_first_picture_checked(const uint8_t* d, size_t n, int time_bits) {
  return mpeg4_first_picture_stamp(d, n, time_bits).type;
}

Mpeg4PictureType mpeg4_first_picture(const uint8_t* d, size_t n) {
  for (size_t i = 0; i + 4 < n; ++i)
    if (start_code_at(d, n, i) && d[i + 3] == kPictureCode) return static_cast<Mpeg4PictureType>(d[i + 4] >> 6);
  return MPEG4_NONE;
}
