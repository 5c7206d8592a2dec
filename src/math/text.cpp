#include "math/text.h"

#include <cctype>
#include <cstring>

namespace {

// Shifts the six low bits of c, lowest first, through the CRC register of the
// asset-name hash.
uint32_t hash_step(uint32_t h, unsigned char c) {
  for (int bit = 0; bit < 6; ++bit) {
    const uint32_t top = h & 0x80000000u;
    h = (h << 1) | ((c >> bit) & 1u);
    if (top) h ^= 0x04C11DB7u;
  }
  return h;
}

unsigned char lower(char c) {
  return static_cast<unsigned char>(std::tolower(static_cast<unsigned char>(c)));
}

}  // namespace

const char* str_find(const char* haystack, const char* needle) {
  return std::strstr(haystack, needle);
}

char* str_lower_copy(char* dst, const char* src) {
  size_t i = 0;
  do {
    dst[i] = static_cast<char>(lower(src[i]));
  } while (src[i++] != '\0');
  return dst;
}

int str_icmp(const char* a, const char* b) {
  for (size_t i = 0;; ++i) {
    const unsigned char ca = lower(a[i]), cb = lower(b[i]);
    if (ca != cb) return static_cast<int>(ca) - static_cast<int>(cb);
    if (ca == 0) return 0;
  }
}

uint32_t hash_name_nocase(const char* name) {
  if (name == nullptr) return 0;
  uint32_t h = 0;
  for (const char* p = name; *p != '\0'; ++p) h = hash_step(h, lower(*p));
  return h;
}
