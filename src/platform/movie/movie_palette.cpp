#include "platform/movie/movie_palette.h"

#include <algorithm>

namespace {

constexpr size_t kChangeHeader = 4;
constexpr size_t kEntries = 256;

}  // namespace

bool movie_palette_change_read(const uint8_t* data, size_t size, int64_t at, MoviePaletteChange* out) {
  if (size < kChangeHeader) return false;
  const size_t count = data[1] == 0 ? kEntries : data[1];
  if (size < kChangeHeader + 4 * count) return false;
  out->at = at;
  out->first = data[0];
  out->colours.resize(std::min(count, kEntries - data[0]));
  for (size_t i = 0; i < out->colours.size(); ++i) {
    const uint8_t* e = data + kChangeHeader + 4 * i;
    out->colours[i] = 0xFF000000u | uint32_t{e[0]} << 16 | uint32_t{e[1]} << 8 | e[2];
  }
  return true;
}

bool movie_palette_apply(std::vector<uint32_t>* palette, const std::vector<MoviePaletteChange>& changes,
                         int64_t from, int64_t to) {
  if (palette->size() < kEntries) return false;
  auto it = std::lower_bound(changes.begin(), changes.end(), from,
                             [](const MoviePaletteChange& c, int64_t at) { return c.at < at; });
  bool any = false;
  for (; it != changes.end() && it->at < to; ++it, any = true)
    std::copy(it->colours.begin(), it->colours.end(), palette->begin() + it->first);
  return any;
}
