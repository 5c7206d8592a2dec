#include "platform/movie/movie_h264_packet.h"

#include <algorithm>

#include "platform/movie/movie_bit_reader.h"

namespace {

constexpr int kSlice = 1;
constexpr int kIdrSlice = 5;
constexpr int kSei = 6;
constexpr uint32_t kRecoveryPoint = 6;
// Bytes of a unit's start enough for the fields read, before its escapes are
// taken out.
constexpr size_t kHead = 16;

// The first bytes of a unit without the escape bytes (00 00 03) that keep
// start codes out of it.
size_t unescape(const uint8_t* d, size_t n, uint8_t* out) {
  size_t got = 0;
  int zeros = 0;
  for (size_t i = 0; i < n && got < kHead; ++i) {
    if (zeros >= 2 && d[i] == 3) {
      zeros = 0;
      continue;
    }
    zeros = d[i] == 0 ? zeros + 1 : 0;
    out[got++] = d[i];
  }
  return got;
}

}  // namespace

H264PacketLook h264_packet_look(const uint8_t* d, size_t n) {
  H264PacketLook look;
  for (size_t i = 0; i + 3 < n; ++i) {
    if (d[i] != 0 || d[i + 1] != 0 || d[i + 2] != 1) continue;
    const uint8_t header = d[i + 3];
    const int type = header & 0x1F;
    uint8_t unit[kHead];
    const size_t got = unescape(d + i + 4, n - i - 4, unit);
    BitReader r{unit, got};
    if (type == kSlice || type == kIdrSlice) {
      // The first slice tells of its picture: the others share its kind.
      look.slice = true;
      look.idr = type == kIdrSlice;
      look.reference = (header >> 5) != 0;
      r.ue();  // first macroblock
      const uint32_t slice_type = r.ue() % 5;
      look.intra = slice_type == 2 || slice_type == 4;
      break;
    }
    if (type == kSei) {
      uint32_t payload = 0;
      for (uint32_t byte = 255; byte == 255 && !r.ended();) payload += byte = r.bits(8);
      look.recovery = look.recovery || payload == kRecoveryPoint;
    }
    i += 3;
  }
  return look;
}
