#include "platform/movie/movie_packet_index.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace {

// Entries keep to the header's length and to rising positions, so a hostile
// index holds at most frame_count of them.
void add(MoviePacketIndex* index, int64_t position, bool key, bool damaged, int64_t frame_count) {
  if (position < 0 || position >= frame_count) return;
  if (!index->packets.empty() && position <= index->packets.back().position) return;
  index->packets.push_back(MoviePacket{position, key, damaged, false});
}

void from_demuxer_index(MoviePacketIndex* index, const MovieApi* av, AVStream* st, int64_t start,
                        int64_t frame_count) {
  const int count = av->avformat_index_get_entries_count(st);
  index->packets.reserve(static_cast<size_t>(std::clamp<int64_t>(count, 0, frame_count)));
  for (int i = 0; i < count; ++i) {
    const AVIndexEntry* e = av->avformat_index_get_entry(st, i);
    // A zero size is an empty chunk: the picture before it stays.
    if (e != nullptr && e->size > 0)
      add(index, e->timestamp - start, (e->flags & AVINDEX_KEYFRAME) != 0, false, frame_count);
  }
  index->readable_end = frame_count;
}

// A file without a whole index (cut short inside or before it, or written
// without one): every packet is read once; what follows the last one is lost.
void from_packets(MoviePacketIndex* index, const MovieApi* av, AVFormatContext* format, int stream, int64_t start,
                  int64_t frame_count) {
  AVPacket* pkt = av->av_packet_alloc();
  if (pkt == nullptr) return;
  while (av->av_read_frame(format, pkt) >= 0) {
    if (pkt->stream_index == stream && pkt->dts != AV_NOPTS_VALUE && pkt->size > 0) {
      const int64_t position = pkt->dts - start;
      // A damaged picture begins no decode, whatever the flag read from what
      // is left of it says.
      const bool damaged = (pkt->flags & AV_PKT_FLAG_CORRUPT) != 0;
      add(index, position, (pkt->flags & AV_PKT_FLAG_KEY) != 0 && !damaged, damaged, frame_count);
    }
    av->av_packet_unref(pkt);
  }
  av->av_packet_free(&pkt);
  index->readable_end = index->packets.empty() ? 0 : index->packets.back().position + 1;
}

}  // namespace

bool packet_index_build(MoviePacketIndex* index, const MovieApi* av, AVFormatContext* format, int stream,
                        int64_t start, int64_t frame_count, bool reorders) {
  *index = MoviePacketIndex{};
  from_demuxer_index(index, av, format->streams[stream], start, frame_count);
  // An index that ends before the header's length was cut off or damaged,
  // and the entries before the damage stay; or the movie ends in empty
  // chunks. The packets tell which: pictures stored past the index's last.
  if (index->packets.empty() || index->packets.back().position + 1 < frame_count) {
    MoviePacketIndex read;
    from_packets(&read, av, format, stream, start, frame_count);
    if (!read.packets.empty() &&
        (index->packets.empty() || read.packets.back().position > index->packets.back().position))
      *index = std::move(read);
  }
  if (index->packets.empty()) return false;
  // Decoding can only begin at the first picture, whatever its flag says.
  index->packets.front().key = true;
  for (size_t i = 0; i < index->packets.size(); ++i)
    if (index->packets[i].key) index->keys.push_back(i);
  // Nothing is stored before the first segment for its key to follow.
  index->leading.assign(index->keys.size(), reorders ? -1 : 0);
  index->leading.front() = 0;
  return true;
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

size_t packet_index_segment(const MoviePacketIndex* index, size_t packet) {
  const auto& k = index->keys;
  return static_cast<size_t>(std::upper_bound(k.begin(), k.end(), packet) - k.begin()) - 1;
}

size_t packet_index_segment_end(const MoviePacketIndex* index, size_t segment) {
  return segment + 1 < index->keys.size() ? index->keys[segment + 1] : index->packets.size();
}
