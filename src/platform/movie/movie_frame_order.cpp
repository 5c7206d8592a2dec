#include "platform/movie/movie_frame_order.h"

#include <algorithm>

namespace {

// Whether the frame of entry `packet` comes out after its segment's key's
// own frame, so that a decode beginning at that key makes it.
bool after_leading(const MoviePacketIndex* index, size_t packet, size_t segment) {
  const int32_t leading = index->leading[segment];
  return leading >= 0 && static_cast<int64_t>(packet - index->keys[segment]) >= leading;
}

// Whether the decode counts a segment's leading frames as they come out:
// only in a segment after the one it began at, whose leading pictures the
// decoder skips, and only while their count is unknown.
bool counts_leading(const MovieFrameOrder* order, const MoviePacketIndex* index, size_t segment) {
  return static_cast<int64_t>(segment) > order->began_at && index->leading[segment] < 0;
}

}  // namespace

size_t frame_order_start_segment(const MoviePacketIndex* index, size_t packet) {
  const size_t s = packet_index_segment(index, packet);
  return after_leading(index, packet, s) || s == 0 ? s : s - 1;
}

void frame_order_start(MovieFrameOrder* order, size_t segment, bool ranked, bool open_end) {
  order->began_at = static_cast<int64_t>(segment);
  order->lost_segment = order->began_at - 1;
  order->out_segment = order->lost_segment;
  order->out_next = -1;
  order->awaiting_key = false;
  order->ranked = ranked;
  order->open_end = open_end;
  order->more_pending = false;
  order->segments.clear();
}

void frame_order_drop_key(MovieFrameOrder* order, MoviePacketIndex* index, size_t segment) {
  if (segment == 0 || segment >= index->keys.size()) return;
  const int64_t joined = static_cast<int64_t>(segment);
  if (order->out_segment == joined) {
    // Its slots were counted from its key; the segment before came out
    // whole before it. A decode waiting for this key's own frame cannot
    // tell where the rest go.
    if (order->out_next >= 0 && !order->awaiting_key)
      order->out_next += static_cast<int64_t>(index->keys[segment] - index->keys[segment - 1]);
    else
      order->out_next = -1;
    order->awaiting_key = false;
  }
  for (int64_t* s : {&order->began_at, &order->lost_segment, &order->out_segment})
    if (*s >= joined) --*s;
  const int64_t key_position = index->packets[index->keys[segment]].position;
  const int64_t before_position = index->packets[index->keys[segment - 1]].position;
  packet_index_drop_key(index, segment);
  // Its pictures join those of the segment before.
  frame_rank_join(order, key_position, before_position);
}

void frame_order_lose(MovieFrameOrder* order, const MoviePacketIndex* index, size_t packet) {
  if (order->ranked) return;
  const int64_t segment =
      static_cast<int64_t>(packet_index_segment(index, std::min(packet, index->packets.size() - 1)));
  order->lost_segment = std::max(order->lost_segment, segment);
  if (order->out_segment >= segment) {
    order->out_next = -1;
    order->awaiting_key = false;
  }
}

void frame_order_drop(MovieFrameOrder* order, const MoviePacketIndex* index, size_t packet) {
  if (order->ranked)
    frame_rank_drop(order, index, packet);
  else
    frame_order_lose(order, index, packet);
}

int64_t frame_order_place(MovieFrameOrder* order, MoviePacketIndex* index, int64_t pts, bool in_order, bool made) {
  if (order->ranked) return frame_rank_place(order, index, pts, in_order, made);
  const int64_t e = packet_index_find(index, pts);
  if (e < 0) return -1;
  const int64_t s = static_cast<int64_t>(packet_index_segment(index, static_cast<size_t>(e)));
  if (s < order->out_segment) return -1;
  const size_t key = index->keys[static_cast<size_t>(s)];
  int32_t& leading = index->leading[static_cast<size_t>(s)];
  if (s > order->out_segment) {
    order->out_segment = s;
    order->awaiting_key = s == order->lost_segment + 1;
    const bool counted = !order->awaiting_key || counts_leading(order, index, static_cast<size_t>(s));
    order->out_next = s > order->lost_segment && counted ? 0 : -1;
  }
  if (order->awaiting_key) {
    // Frames before the key's own are leading pictures made without all of
    // the segment before: not theirs to show.
    if (static_cast<size_t>(e) != key) {
      if (order->out_next >= 0) ++order->out_next;
      return -1;
    }
    order->awaiting_key = false;
    if (order->out_next < 0) order->out_next = leading;
  }
  if (order->out_next < 0) return -1;
  if (in_order) {
    // Nothing was lost since the slot expected, so the pictures from there
    // to this one made no frame: each stands for the frame before it.
    const int64_t own = e - static_cast<int64_t>(key);
    if (own < order->out_next) return -1;
    for (int64_t i = order->out_next; i < own; ++i) index->packets[key + static_cast<size_t>(i)].uncoded = true;
    order->out_next = own;
  }
  const int64_t slot = static_cast<int64_t>(key) + order->out_next++;
  if (slot >= static_cast<int64_t>(packet_index_segment_end(index, static_cast<size_t>(s)))) {
    order->out_next = -1;
    return -1;
  }
  if (static_cast<size_t>(e) == key) leading = static_cast<int32_t>(slot - static_cast<int64_t>(key));
  if (!made) {
    index->packets[static_cast<size_t>(slot)].uncoded = true;
    return -1;
  }
  // A damaged picture keeps its place, but what it shows is not its frame.
  return index->packets[static_cast<size_t>(e)].damaged ? -1 : slot;
}

bool frame_order_will_place(const MovieFrameOrder* order, const MoviePacketIndex* index, size_t packet) {
  if (order->ranked) return frame_rank_will_place(order, index, packet);
  const size_t s = packet_index_segment(index, packet);
  const int64_t seg = static_cast<int64_t>(s);
  if (seg < order->out_segment) return false;
  if (seg == order->out_segment) {
    if (order->awaiting_key) return order->out_next >= 0 || after_leading(index, packet, s);
    return order->out_next >= 0 && static_cast<int64_t>(packet - index->keys[s]) >= order->out_next;
  }
  if (seg <= order->lost_segment) return false;
  return seg > order->lost_segment + 1 || after_leading(index, packet, s) || counts_leading(order, index, s);
}
