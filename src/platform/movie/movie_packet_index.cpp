#include "platform/movie/movie_packet_index.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <utility>

namespace {

// An AVI chunk's data follows its 8-byte header (name and size); an index
// entry gives where the chunk begins, a packet where its data does.
constexpr int64_t kChunkHeader = 8;

// Entries keep to rising positions below kMovieMaxFrames, so a hostile index
// holds at most that many of them.
void add(MoviePacketIndex* index, int64_t position, int64_t offset, bool key, bool damaged) {
  if (position < 0 || position >= kMovieMaxFrames) return;
  if (!index->packets.empty() && position <= index->packets.back().position) return;
  index->packets.push_back(MoviePacket{position, offset, key, false, damaged, false, false});
}

// The positions an empty chunk at `position` makes readable: the movie
// reaches at least past it.
void reach(MoviePacketIndex* index, int64_t position) {
  if (position >= 0 && position < kMovieMaxFrames) index->readable_end = std::max(index->readable_end, position + 1);
}

void from_demuxer_index(MoviePacketIndex* index, const MovieApi* av, AVStream* st, int64_t start) {
  const int count = av->avformat_index_get_entries_count(st);
  index->packets.reserve(static_cast<size_t>(std::clamp<int64_t>(count, 0, kMovieMaxFrames)));
  for (int i = 0; i < count; ++i) {
    const AVIndexEntry* e = av->avformat_index_get_entry(st, i);
    if (e == nullptr) continue;
    // A zero size is an empty chunk: the picture before it stays.
    if (e->size > 0)
      add(index, e->timestamp - start, e->pos >= 0 ? e->pos + kChunkHeader : -1, (e->flags & AVINDEX_KEYFRAME) != 0,
          false);
    reach(index, e->timestamp - start);
  }
}

// A file without a whole index (cut short inside or before it, or written
// without one): every packet is read once; what follows the last one is lost.
void from_packets(MoviePacketIndex* index, const MovieApi* av, AVFormatContext* format, int stream, int64_t start) {
  AVPacket* pkt = av->av_packet_alloc();
  if (pkt == nullptr) return;
  while (av->av_read_frame(format, pkt) >= 0) {
    if (pkt->stream_index == stream && pkt->dts != AV_NOPTS_VALUE) {
      const int64_t position = pkt->dts - start;
      // A damaged picture begins no decode, whatever the flag read from what
      // is left of it says.
      const bool damaged = (pkt->flags & AV_PKT_FLAG_CORRUPT) != 0;
      if (pkt->size > 0) add(index, position, pkt->pos, (pkt->flags & AV_PKT_FLAG_KEY) != 0 && !damaged, damaged);
      reach(index, position);
    }
    av->av_packet_unref(pkt);
  }
  av->av_packet_free(&pkt);
}

// A stream's chunks lie in the file in the order of their positions. An entry
// whose offset breaks that order where its neighbours keep it points at
// another chunk: where its own lies is not known, and no seek may go to it.
void forget_misplaced(MoviePacketIndex* index) {
  auto& p = index->packets;
  std::vector<size_t> misplaced;
  for (size_t i = 0; i < p.size(); ++i) {
    const int64_t before = i > 0 ? p[i - 1].offset : -1;
    const int64_t after = i + 1 < p.size() ? p[i + 1].offset : INT64_MAX;
    if (p[i].offset >= 0 && (p[i].offset <= before || p[i].offset >= after) && before < after)
      misplaced.push_back(i);
  }
  for (size_t i : misplaced) {
    p[i].offset = -1;
    p[i].key = false;
  }
}

}  // namespace

bool packet_index_build(MoviePacketIndex* index, const MovieApi* av, AVFormatContext* format, int stream,
                        int64_t start, int64_t frame_count, bool reorders) {
  *index = MoviePacketIndex{};
  from_demuxer_index(index, av, format->streams[stream], start);
  // An index that ends before the header's length was cut off or damaged,
  // and the entries before the damage stay; or the movie ends in empty
  // chunks. The packets tell which: pictures stored past the index's last.
  bool from_index = true;
  if (index->packets.empty() || index->readable_end < frame_count) {
    MoviePacketIndex read;
    from_packets(&read, av, format, stream, start);
    if (!read.packets.empty() &&
        (index->packets.empty() || read.packets.back().position > index->packets.back().position ||
         read.readable_end > index->readable_end)) {
      *index = std::move(read);
      from_index = false;
    }
  }
  if (index->packets.empty()) return false;
  forget_misplaced(index);
  // The header's length holds unless the stream holds more than it counts
  // (a capture that never wrote its count). Past the last entry of a whole
  // index, positions show the last picture, as empty chunks do; past the last
  // packet read, they are lost.
  index->length = std::clamp<int64_t>(frame_count, index->readable_end, kMovieMaxFrames);
  if (from_index) index->readable_end = index->length;
  // Decoding can only begin at the first picture, whatever its flag says.
  index->packets.front().key = true;
  for (size_t i = 0; i < index->packets.size(); ++i)
    if (index->packets[i].key) index->keys.push_back(i);
  // Nothing is stored before the first segment for its key to follow.
  index->leading.assign(index->keys.size(), reorders ? -1 : 0);
  index->leading.front() = 0;
  return true;
}

bool packet_index_from_place(const MoviePacketIndex* index, size_t packet, int64_t data_at) {
  const auto& p = index->packets;
  if (data_at < 0) return true;
  if (p[packet].offset >= 0) return data_at == p[packet].offset;
  // Where its chunk lies is not known, but it lies between its neighbours'.
  for (size_t i = packet; i-- > 0;) {
    if (p[i].offset < 0) continue;
    if (data_at <= p[i].offset) return false;
    break;
  }
  for (size_t i = packet + 1; i < p.size(); ++i) {
    if (p[i].offset < 0) continue;
    return data_at < p[i].offset;
  }
  return true;
}

void packet_index_forget_offsets(MoviePacketIndex* index) {
  for (MoviePacket& p : index->packets) p.offset = -1;
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
                        MoviePacket{position, -1, false, false, false, false, true});
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
