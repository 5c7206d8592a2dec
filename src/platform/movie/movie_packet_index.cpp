#include "platform/movie/movie_packet_index.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <utility>

namespace {

// Positions past a cut at which a picture stored before it may be shown: the
// most pictures a decoder reorders.
constexpr int64_t kShownPastTheCut = 16;

}  // namespace

bool packet_index_build(MoviePacketIndex* index, const std::vector<MovieChunk>& chunks, bool whole,
                        int64_t frame_count, bool reorders) {
  *index = MoviePacketIndex{};
  for (size_t i = 0; i < chunks.size(); ++i) {
    const MovieChunk& c = chunks[i];
    // A chunk lost to damage has no data, and nothing shows there.
    if (c.size > 0 || c.damaged)
      index->packets.push_back(
          MoviePacket{static_cast<int64_t>(i), c.offset, c.size, c.key, false, c.damaged, false, false});
  }
  if (index->packets.empty()) return false;
  index->stored_end = index->readable_end = static_cast<int64_t>(chunks.size());
  index->length = std::clamp<int64_t>(frame_count, index->readable_end, kMovieMaxFrames);
  if (whole) {
    index->readable_end = index->length;
  } else if (reorders) {
    // Cut short: a picture stored before the cut may be shown at a position
    // after it, whose own picture is lost.
    index->readable_end = std::min(index->length, index->stored_end + kShownPastTheCut);
    for (int64_t p = index->stored_end; p < index->readable_end; ++p)
      index->packets.push_back(MoviePacket{p, -1, 0, false, false, true, false, false});
  }
  index->whole = whole;
  index->reorders = reorders;
  // Decoding can only begin at the first picture, whatever its flag says.
  index->packets.front().key = true;
  for (size_t i = 0; i < index->packets.size(); ++i)
    if (index->packets[i].key) index->keys.push_back(i);
  // Nothing is stored before the first segment for its key to follow.
  index->leading.assign(index->keys.size(), reorders ? -1 : 0);
  index->leading.front() = 0;
  return true;
}

void packet_index_rebuild(MoviePacketIndex* index, const std::vector<MovieChunk>& chunks) {
  const MoviePacketIndex before = std::move(*index);
  if (!packet_index_build(index, chunks, before.whole, before.length, before.reorders)) {
    // No chunk holds data any more: nothing can be read.
    *index = MoviePacketIndex{};
    index->packets.push_back(MoviePacket{0, 0, 0, true, false, true, false, false});
    index->keys.push_back(0);
    index->leading.push_back(0);
    index->length = before.length;
    index->whole = before.whole;
    index->reorders = before.reorders;
  }
}

void packet_index_patch(MoviePacketIndex* index, const std::vector<MovieChunk>& chunks) {
  for (MoviePacket& p : index->packets) {
    if (p.packed || p.position < 0 || static_cast<size_t>(p.position) >= chunks.size()) continue;
    const MovieChunk& c = chunks[static_cast<size_t>(p.position)];
    p.offset = c.offset;
    p.size = c.size;
    p.damaged = c.damaged;
  }
}

int64_t packet_index_find(const MoviePacketIndex* index, int64_t position) {
  const auto& p = index->packets;
  const auto it = std::lower_bound(p.begin(), p.end(), position,
                                   [](const MoviePacket& e, int64_t at) { return e.position < at; });
  return it != p.end() && it->position == position ? it - p.begin() : -1;
}

int64_t packet_index_shown(const MoviePacketIndex* index, int64_t position) {
  if (position < 0 || position >= index->readable_end) return -1;
  const auto& p = index->packets;
  auto it = std::upper_bound(p.begin(), p.end(), position,
                             [](int64_t at, const MoviePacket& e) { return at < e.position; });
  while (it != p.begin() && std::prev(it)->uncoded) --it;
  return (it - p.begin()) - 1;
}

void packet_index_drop_key(MoviePacketIndex* index, size_t segment) {
  if (segment == 0 || segment >= index->keys.size()) return;
  index->packets[index->keys[segment]].key = false;
  index->keys.erase(index->keys.begin() + static_cast<std::ptrdiff_t>(segment));
  index->leading.erase(index->leading.begin() + static_cast<std::ptrdiff_t>(segment));
}

void packet_index_insert(MoviePacketIndex* index, size_t packet, int64_t position) {
  index->packets.insert(index->packets.begin() + static_cast<std::ptrdiff_t>(packet) + 1,
                        MoviePacket{position, -1, 0, false, false, false, false, true});
  for (size_t& k : index->keys)
    if (k > packet) ++k;
}

size_t packet_index_segment(const MoviePacketIndex* index, size_t packet) {
  const auto& k = index->keys;
  return static_cast<size_t>(std::upper_bound(k.begin(), k.end(), packet) - k.begin()) - 1;
}

size_t packet_index_segment_end(const MoviePacketIndex* index, size_t segment) {
  return segment + 1 < index->keys.size() ? index->keys[segment + 1] : index->packets.size();
}
