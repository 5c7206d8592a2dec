#include "platform/movie/movie_mpeg4_packet.h"

namespace {

constexpr uint8_t kPictureCode = 0xB6;
constexpr uint8_t kLayerCodes = 0x20;  // 0x20 to 0x2F
constexpr uint8_t kUserDataCode = 0xB2;

bool start_code_at(const uint8_t* d, size_t n, size_t i) {
  return i + 3 < n && d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1;
}

// Skips the text `word` at d[*i], or leaves *i where it was.
bool skip_word(const uint8_t* d, size_t n, size_t* i, const char* word) {
  size_t at = *i;
  for (; *word != 0; ++word, ++at)
    if (at >= n || d[at] != static_cast<uint8_t>(*word)) return false;
  *i = at;
  return true;
}

bool skip_digits(const uint8_t* d, size_t n, size_t* i) {
  const size_t from = *i;
  while (*i < n && d[*i] >= '0' && d[*i] <= '9') ++*i;
  return *i > from;
}

// Whether the user data after its start code at d[i] is the packed marker.
bool packed_marker_at(const uint8_t* d, size_t n, size_t i) {
  size_t at = i + 4;
  return skip_word(d, n, &at, "DivX") && skip_digits(d, n, &at) &&
         (skip_word(d, n, &at, "Build") || skip_word(d, n, &at, "b")) && skip_digits(d, n, &at) && at < n &&
         d[at] == 'p';
}

}  // namespace

Mpeg4PacketLook mpeg4_packet_look(const uint8_t* d, size_t n) {
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
    } else if (code == kPictureCode && ++pictures == 2) {
      look.second_picture = i;
    } else if (code == kUserDataCode) {
      look.says_packed = look.says_packed || packed_marker_at(d, n, i);
    }
  }
  if (in_layer) look.layer_end = n;
  return look;
}
