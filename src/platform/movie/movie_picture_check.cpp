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

// Over a slice, or the header data, with its CRC appended (the IEEE
// polynomial, most significant bit first, from 0): 0 where it holds.
bool crc_holds(const MovieApi* av, const uint8_t* data, size_t size) {
  return av->av_crc(av->av_crc_get_table(AV_CRC_32_IEEE), 0, data, size) == 0;
}

uint32_t get_be24(const uint8_t* p) { return uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2]; }

// A slice's trailer with CRCs: its size (3 bytes), an error status byte and
// its CRC (4 bytes).
constexpr size_t kSliceTrailer = 8;
// The most slices a picture holds.
constexpr size_t kMaxSlices = 1024;
// Bytes the range decoder may read past the header data's end before the
// header is taken for unreadable.
constexpr size_t kMaxOverread = 16;
constexpr int kContextSize = 32;

// FFV1's range decoder, with the state transitions its headers are coded
// with (those the decoder builds before it reads one).
struct RangeDecoder {
  const uint8_t* at;
  const uint8_t* end;
  uint32_t low = 0, range = 0xFF00;
  size_t overread = 0;
  uint8_t zero_state[256] = {};
  uint8_t one_state[256] = {};

  RangeDecoder(const uint8_t* data, size_t size) : at(data), end(data + size) {
    build_states(static_cast<int>(0.05 * (int64_t{1} << 32)), 256 - 8);
    low = uint32_t{at[0]} << 8 | at[1];
    at += 2;
    if (low >= 0xFF00) {
      low = 0xFF00;
      end = at;
    }
  }

  void build_states(int factor, int max_p) {
    constexpr int64_t one = int64_t{1} << 32;
    int last_p8 = 0;
    int64_t p = one / 2;
    for (int i = 0; i < 128; ++i) {
      int p8 = static_cast<int>((256 * p + one / 2) >> 32);
      if (p8 <= last_p8) p8 = last_p8 + 1;
      if (last_p8 != 0 && last_p8 < 256 && p8 <= max_p) one_state[last_p8] = static_cast<uint8_t>(p8);
      p += ((one - p) * factor + one / 2) >> 32;
      last_p8 = p8;
    }
    for (int i = 256 - max_p; i <= max_p; ++i) {
      if (one_state[i] != 0) continue;
      p = (i * one + 128) >> 8;
      p += ((one - p) * factor + one / 2) >> 32;
      int p8 = static_cast<int>((256 * p + one / 2) >> 32);
      if (p8 <= i) p8 = i + 1;
      if (p8 > max_p) p8 = max_p;
      one_state[i] = static_cast<uint8_t>(p8);
    }
    for (int i = 1; i < 255; ++i) zero_state[i] = static_cast<uint8_t>(256 - one_state[256 - i]);
  }

  void refill() {
    if (range >= 0x100) return;
    range <<= 8;
    low <<= 8;
    if (at < end)
      low += *at++;
    else
      ++overread;
  }

  bool bit(uint8_t* state) {
    const uint32_t range1 = range * *state >> 8;
    range -= range1;
    if (low < range) {
      *state = zero_state[*state];
      refill();
      return false;
    }
    low -= range;
    *state = one_state[*state];
    range = range1;
    refill();
    return true;
  }

  // A symbol coded with the contexts `state` (kContextSize of them).
  int64_t symbol(uint8_t* state, bool is_signed) {
    if (bit(state)) return 0;
    int e = 0;
    while (bit(state + 1 + std::min(e, 9))) {
      if (++e > 31) return -1;
    }
    int64_t a = 1;
    for (int i = e - 1; i >= 0; --i) a = 2 * a + (bit(state + 22 + std::min(i, 9)) ? 1 : 0);
    return is_signed && bit(state + 11 + std::min(e, 10)) ? -a : a;
  }

  bool lost() const { return overread > kMaxOverread; }
};

// One quantisation table: runs of equal values over 128 entries. The number
// of contexts it gives, or -1.
int64_t read_quant_table(RangeDecoder* c) {
  uint8_t state[kContextSize];
  std::memset(state, 128, sizeof state);
  int64_t v = 0;
  for (int i = 0; i < 128; ++v) {
    const int64_t len = c->symbol(state, false) + 1;
    if (len <= 0 || len > 128 - i || c->lost()) return -1;
    i += static_cast<int>(len);
  }
  return 2 * v - 1;
}

// The five tables of one set: the contexts they give together, or -1.
int64_t read_quant_tables(RangeDecoder* c) {
  int64_t contexts = 1;
  for (int i = 0; i < 5; ++i) {
    const int64_t n = read_quant_table(c);
    if (n < 0) return -1;
    contexts *= n;
    if (contexts > 32768) return -1;
  }
  return (contexts + 1) / 2;
}

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

bool ffv1_slice_crcs(const MovieApi* av, const uint8_t* extradata, size_t size) {
  if (extradata == nullptr || size < 2 + 4) return false;
  // The header data ends in its own CRC, which the decoder checks.
  if (!crc_holds(av, extradata, size)) return false;
  RangeDecoder c(extradata, size);
  uint8_t state[kContextSize];
  std::memset(state, 128, sizeof state);
  const int64_t version = c.symbol(state, false);
  if (version < 3) return false;
  c.end = std::max(c.at, extradata + size - 4);
  c.symbol(state, false);  // micro version
  const int64_t coder = c.symbol(state, false);
  if (coder == 2)
    for (int i = 1; i < 256; ++i) c.symbol(state, true);  // a custom state transition table
  c.symbol(state, false);  // colour space
  c.symbol(state, false);  // bits a sample
  c.bit(state);            // chroma planes
  c.symbol(state, false);  // chroma shifts
  c.symbol(state, false);
  c.bit(state);            // transparency
  c.symbol(state, false);  // slices across and down
  c.symbol(state, false);
  const int64_t sets = c.symbol(state, false);
  if (sets < 1 || sets > 8 || c.lost()) return false;
  int64_t contexts[8] = {};
  for (int64_t i = 0; i < sets; ++i)
    if ((contexts[i] = read_quant_tables(&c)) < 0) return false;
  // Initial states, where a set has them.
  uint8_t states[kContextSize][kContextSize];
  std::memset(states, 128, sizeof states);
  for (int64_t i = 0; i < sets; ++i) {
    if (!c.bit(state)) continue;
    for (int64_t j = 0; j < contexts[i]; ++j) {
      for (int k = 0; k < kContextSize; ++k) c.symbol(states[k], true);
      if (c.lost()) return false;
    }
  }
  const int64_t ec = c.symbol(state, false);
  return ec > 0 && !c.lost();
}

bool ffv1_slices_whole(const MovieApi* av, const uint8_t* data, size_t size) {
  size_t left = size;
  for (size_t slices = 0; left > 0; ++slices) {
    if (left < kSliceTrailer || slices == kMaxSlices) return false;
    const size_t slice = get_be24(data + left - kSliceTrailer) + kSliceTrailer;
    if (slice > left || !crc_holds(av, data + left - slice, slice)) return false;
    left -= slice;
  }
  return size > 0;
}
