// A bounds-checked, read-only view of a chunk payload (or its copy in a
// registry data buffer). Offsets inside payloads stay offsets: every read
// goes through here, with 64-bit arithmetic, and fails instead of reading
// outside the payload. Values are little-endian, read with memcpy so that
// unaligned offsets are harmless.
#pragma once

#include <cstdint>
#include <cstring>

struct PayloadView {
  const uint8_t* data = nullptr;
  uint64_t size = 0;

  // count entries of stride bytes starting at offset lie inside the view.
  bool span_at(uint64_t offset, uint64_t count, uint64_t stride) const {
    if (offset > size) return false;
    if (stride != 0 && count > (size - offset) / stride) return false;
    return true;
  }
  bool u32_at(uint64_t offset, uint32_t* out) const {
    if (!span_at(offset, 1, 4)) return false;
    std::memcpy(out, data + offset, 4);
    return true;
  }
  bool f32_at(uint64_t offset, float* out) const {
    if (!span_at(offset, 1, 4)) return false;
    std::memcpy(out, data + offset, 4);
    return true;
  }
  // The zero-terminated string at offset; null when the terminator does not
  // lie inside the view.
  const char* cstr_at(uint64_t offset) const {
    if (offset >= size) return nullptr;
    const void* nul = std::memchr(data + offset, 0, size - offset);
    return nul ? reinterpret_cast<const char*>(data + offset) : nullptr;
  }
  // The view of length bytes at offset, or an empty view (data null) when
  // they do not fit.
  PayloadView sub(uint64_t offset, uint64_t length) const {
    if (!span_at(offset, length, 1)) return PayloadView{};
    return PayloadView{data + offset, length};
  }
};

// The u32 at offset, or 0 when it lies outside; for words whose absence the
// caller has already ruled out.
inline uint32_t payload_u32(const PayloadView& v, uint64_t offset) {
  uint32_t x = 0;
  v.u32_at(offset, &x);
  return x;
}
