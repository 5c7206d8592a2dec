#include "platform/movie/movie_picture_check.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint8_t kSoi = 0xD8, kEoi = 0xD9, kSos = 0xDA, kRst0 = 0xD0, kRst7 = 0xD7;
constexpr int kMaxComponents = 4;

// The frame headers the decoder reads: baseline, extended, progressive and
// lossless Huffman JPEG, the arithmetic ones, and JPEG-LS.
bool frame_header(uint8_t m) {
  return (m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC) || m == 0xF7;
}

// Where the next marker lies from `at`, as the decoder finds one: 0xFF then a
// byte from 0xC0 to 0xFE (stuffed bytes, 0xFF 0x00, and fill bytes are
// passed over); `size` when there is none.
size_t next_marker(const uint8_t* data, size_t size, size_t at) {
  while (at + 1 < size) {
    const void* ff = std::memchr(data + at, 0xFF, size - 1 - at);
    if (ff == nullptr) return size;
    at = static_cast<size_t>(static_cast<const uint8_t*>(ff) - data);
    if (data[at + 1] >= 0xC0 && data[at + 1] <= 0xFE) return at;
    ++at;
  }
  return size;
}

// One image's frame header and what its scans have coded.
struct JpegImage {
  bool framed = false;  // a frame header was met
  int components = 0;
  uint8_t ids[kMaxComponents] = {};
  unsigned coded = 0;  // bit c: component c is in a scan

  bool whole() const { return !framed || coded == (1u << components) - 1; }
};

}  // namespace

bool jpeg_scans_whole(const uint8_t* data, size_t size) {
  JpegImage image;
  bool any_frame = false;
  bool ended = false;  // an image ended: only another image (a second field) may follow
  for (size_t at = next_marker(data, size, 0); at < size; at = next_marker(data, size, at)) {
    const uint8_t m = data[at + 1];
    at += 2;
    if (ended && m != kSoi) break;
    ended = false;
    if (m == kSoi || (m >= kRst0 && m <= kRst7)) continue;
    if (m == kEoi) {
      if (!image.whole()) return false;
      image = JpegImage{};
      ended = true;
      continue;
    }
    // A segment: its length counts itself, not the marker.
    if (at + 2 > size) break;
    const size_t length = size_t{data[at]} << 8 | data[at + 1];
    if (length < 2) break;
    const size_t end = std::min(at + length, size);
    if (frame_header(m)) {
      // A frame header after another begins a new picture.
      if (!image.whole()) return false;
      image = JpegImage{};
      image.framed = any_frame = true;
      if (at + 8 > end) return false;
      image.components = std::min<int>(data[at + 7], kMaxComponents);
      for (int c = 0; c < image.components; ++c) {
        const size_t id = at + 8 + 3 * static_cast<size_t>(c);
        if (id >= end) return false;
        image.ids[c] = data[id];
      }
    } else if (m == kSos && image.framed && at + 3 <= end) {
      const int listed = data[at + 2];
      for (int k = 0; k < listed; ++k) {
        const size_t id = at + 3 + 2 * static_cast<size_t>(k);
        if (id >= end) break;
        for (int c = 0; c < image.components; ++c)
          if (image.ids[c] == data[id]) image.coded |= 1u << c;
      }
    }
    at = end;
  }
  return any_frame && image.whole();
}
