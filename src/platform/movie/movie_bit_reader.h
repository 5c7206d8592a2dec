// Reading the fields of a picture's headers bit by bit, most significant bit
// first, as MPEG-4 and H.264 write them. Reads past the end give zeros, so a
// header cut short reads as harmless values. Not part of the interface.
#pragma once

#include <cstddef>
#include <cstdint>

struct BitReader {
  const uint8_t* data;
  size_t size;  // bytes
  size_t at = 0;  // bits read

  uint32_t bit() {
    const size_t byte = at / 8;
    const uint32_t b = byte < size ? data[byte] >> (7 - at % 8) & 1u : 0u;
    ++at;
    return b;
  }
  uint32_t bits(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = v << 1 | bit();
    return v;
  }
  // An unsigned Exp-Golomb code; at most 31 leading zeros are taken.
  uint32_t ue() {
    int zeros = 0;
    while (bit() == 0 && zeros < 31) ++zeros;
    return (1u << zeros) - 1 + bits(zeros);
  }
  // A signed Exp-Golomb code.
  int64_t se() {
    const uint32_t k = ue();
    return (k & 1) != 0 ? static_cast<int64_t>(k / 2) + 1 : -static_cast<int64_t>(k / 2);
  }
  bool ended() const { return at >= size * 8; }
  // Whether a read went past the last bit.
  bool overran() const { return at > size * 8; }
};
