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

}  // namespace

Mpeg4Span mpeg4_packet_layer(const uint8_t* d, size_t n) {
  size_t at = 0;
  while (at < n && !(start_code_at(d, n, at) && (d[at + 3] & 0xF0) == kLayerCodes)) ++at;
  if (at >= n) return Mpeg4Span{0, 0};
  size_t end = at + 4;
  while (end < n && !start_code_at(d, n, end)) ++end;
  return Mpeg4Span{at, end};
}

size_t mpeg4_packet_second_picture(const uint8_t* d, size_t n) {
  int seen = 0;
  for (size_t i = 0; i < n; ++i)
    if (start_code_at(d, n, i) && d[i + 3] == kPictureCode && ++seen == 2) return i;
  return 0;
}

bool mpeg4_packet_says_packed(const uint8_t* d, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (!start_code_at(d, n, i) || d[i + 3] != kUserDataCode) continue;
    size_t at = i + 4;
    if (skip_word(d, n, &at, "DivX") && skip_digits(d, n, &at) &&
        (skip_word(d, n, &at, "Build") || skip_word(d, n, &at, "b")) && skip_digits(d, n, &at) && at < n &&
        d[at] == 'p')
      return true;
  }
  return false;
}
