#include "platform/movie/movie_frame_rank.h"

#include <algorithm>
#include <functional>
#include <iterator>
#include <utility>
#include <vector>

#include "platform/movie/movie_frame_order.h"

namespace {

// Segments kept while their pictures all have their frames or none; more
// than a decoder holds frames back over, keys found to begin nothing joining
// those before.
constexpr size_t kKeptSegments = 64;
// Frames of pictures stored after one whose frame has not come out, past
// which it makes none: the deepest reorder a decoder keeps is 16, and the
// damage judged of a decode gives a picture up at the same count
// (movie_damage.h).
constexpr size_t kHeldBackMost = 32;

// The position of the key of the segment holding the entry at `position`,
// and that segment; -1 when no entry lies there.
int64_t key_position_of(const MoviePacketIndex* index, int64_t position, size_t* segment) {
  const int64_t e = packet_index_find(index, position);
  if (e < 0) return -1;
  *segment = packet_index_segment(index, static_cast<size_t>(e));
  return index->packets[index->keys[*segment]].position;
}

// The pictures the decode met of the segment whose key lies at
// `key_position`, or null.
OrderedSegment* record_at(MovieFrameOrder* order, int64_t key_position) {
  for (OrderedSegment& seg : order->segments)
    if (seg.key_position == key_position) return &seg;
  return nullptr;
}

const OrderedSegment* record_at(const MovieFrameOrder* order, int64_t key_position) {
  for (const OrderedSegment& seg : order->segments)
    if (seg.key_position == key_position) return &seg;
  return nullptr;
}

// The picture at `position` among the segment's, or its count when none is.
size_t picture_at(const OrderedSegment& seg, int64_t position) {
  const auto it = std::lower_bound(seg.pictures.begin(), seg.pictures.end(), position,
                                   [](const OrderedPicture& p, int64_t at) { return p.position < at; });
  return it != seg.pictures.end() && it->position == position ? static_cast<size_t>(it - seg.pictures.begin())
                                                              : seg.pictures.size();
}

// Whether every picture of the segment has been sent: pictures of the last
// segment of a file cut short may lie past the cut.
bool all_sent(const MovieFrameOrder* order, const MoviePacketIndex* index, const OrderedSegment& seg) {
  if (seg.pictures.empty() || (order->more_pending && &seg == &order->segments.back())) return false;
  size_t s = 0;
  if (key_position_of(index, seg.key_position, &s) < 0) return false;
  if (order->open_end && s + 1 == index->keys.size()) return false;
  return seg.pictures.back().position >= index->packets[packet_index_segment_end(index, s) - 1].position;
}

// Whether the picture of unknown key stored at `u` is shown after a frame of
// key `key`: enough known pictures stored before it are not shown before
// that frame, or an epoch after that frame's began before it.
bool shown_after(const MovieFrameOrder* order, const OrderedSegment& seg, size_t u, const PictureKey& key) {
  int64_t not_before = 0;
  for (size_t i = 0; i < u; ++i) {
    const PictureKey& k = seg.pictures[i].key;
    if (!k.known) continue;
    if (k.epoch > key.epoch) return true;
    if (!picture_key_less(k, key)) ++not_before;
  }
  return not_before >= order->bound + 1;
}

// Whether it is shown before that frame: a picture stored after it and shown
// no later than the frame lets nothing more stored before it be shown after
// it.
bool shown_before(const MovieFrameOrder* order, const OrderedSegment& seg, size_t u, const PictureKey& key) {
  for (size_t i = u + 1; i < seg.pictures.size(); ++i) {
    const OrderedPicture& y = seg.pictures[i];
    if (y.key.known && !picture_key_less(key, y.key) && (y.key.closes || y.overtaken >= order->bound)) return true;
  }
  return false;
}

enum class Rank { Known, Waits, Never };

// The key of picture `at` is not what its header says: it becomes unknown,
// and the pictures after it were not overtaken by it.
void demote(OrderedSegment& seg, size_t at) {
  PictureKey& key = seg.pictures[at].key;
  if (!key.known) return;
  const auto it = std::lower_bound(seg.known.begin(), seg.known.end(), key, picture_key_less);
  if (it != seg.known.end() && !picture_key_less(key, *it)) seg.known.erase(it);
  for (size_t i = at + 1; i < seg.pictures.size(); ++i) {
    OrderedPicture& p = seg.pictures[i];
    if (p.key.known && picture_key_less(p.key, key)) --p.overtaken;
  }
  key.known = false;
  seg.unknown.push_back(at);
  seg.claimed.erase(std::remove(seg.claimed.begin(), seg.claimed.end(), at), seg.claimed.end());
}

// Whether the claimed key of picture `at` stands against the others: no
// other picture shares it, it has the parity all others of its epoch share,
// and neither it nor a picture stored after it is overtaken by more
// pictures than the bound allows.
bool claim_stands(const MovieFrameOrder* order, const OrderedSegment& seg, size_t at) {
  const PictureKey& key = seg.pictures[at].key;
  const auto same = std::equal_range(seg.known.begin(), seg.known.end(), key, picture_key_less);
  if (same.second - same.first > 1) return false;
  int parities[2] = {0, 0};
  for (const OrderedPicture& p : seg.pictures)
    if (p.key.known && p.key.counted && !p.key.claimed && p.key.epoch == key.epoch) ++parities[p.key.value & 1];
  if (key.counted && parities[0] + parities[1] >= 2 && parities[(key.value & 1) ^ 1] == parities[0] + parities[1])
    return false;
  for (size_t i = at; i < seg.pictures.size(); ++i)
    if (seg.pictures[i].key.known && seg.pictures[i].overtaken > order->bound) return false;
  return true;
}

// Where every picture of the segment has been sent and its known keys are
// order counts of one epoch stepping evenly, leaving as many counts free
// between them as there are pictures of unknown key: those pictures take
// the free counts, and *free_below is how many lie below `key`'s.
bool free_counts(const OrderedSegment& seg, const PictureKey& key, int64_t* free_below) {
  const auto& k = seg.known;
  if (k.size() < 2 || seg.unknown.empty() || k.front().epoch != k.back().epoch || key.epoch != k.front().epoch)
    return false;
  int64_t step = 0;
  for (size_t i = 1; i < k.size(); ++i) {
    if (!k[i].counted || !k[i - 1].counted || k[i].value <= k[i - 1].value) return false;
    const int64_t d = k[i].value - k[i - 1].value;
    step = step == 0 ? d : std::min(step, d);
  }
  int64_t free = 0;
  *free_below = 0;
  for (size_t i = 1; i < k.size(); ++i) {
    const int64_t d = k[i].value - k[i - 1].value;
    if (d % step != 0) return false;
    free += d / step - 1;
    if (k[i].value <= key.value) *free_below += d / step - 1;
  }
  return free == static_cast<int64_t>(seg.unknown.size());
}

// The rank of the frame of picture `at` among its segment's frames.
Rank rank_of(const MovieFrameOrder* order, const MoviePacketIndex* index, const OrderedSegment& seg, size_t at,
             int64_t* rank) {
  const PictureKey& key = seg.pictures[at].key;
  if (!key.known || seg.broken) return Rank::Never;
  const bool sent = all_sent(order, index, seg);
  // A claim not yet borne out may move any frame.
  if (!seg.claimed.empty()) return sent ? Rank::Never : Rank::Waits;
  const auto below = std::lower_bound(seg.known.begin(), seg.known.end(), key, picture_key_less);
  bool waits = false;
  // Pictures still to be sent: enough sent ones not shown before the frame
  // keep them after it, as does an epoch begun after it.
  if (!sent) waits = seg.known.end() - below < order->bound + 1 && seg.last_epoch <= key.epoch;
  *rank = below - seg.known.begin();
  int64_t free_below = 0;
  if (sent && key.counted && free_counts(seg, key, &free_below)) {
    *rank += free_below;
    return Rank::Known;
  }
  for (size_t u : seg.unknown) {
    if (shown_before(order, seg, u, key))
      ++*rank;
    else if (!shown_after(order, seg, u, key))
      waits = true;
  }
  if (!waits) return Rank::Known;
  return sent ? Rank::Never : Rank::Waits;
}

// MPEG-4: the rank of the frame of picture `at` from its time, where the
// segment's key and it have one and the key's leading count is known: the
// times of the segment's pictures step evenly, one step a position, where
// they are all apart, bear out the order of the known keys, no picture of
// the segment has a header the decoder reads but whose fields do not hold,
// and its positions follow on with no empty chunk.
bool timed_rank(const MoviePacketIndex* index, const OrderedSegment& seg, size_t at, size_t s, int64_t* rank) {
  const OrderedPicture& own = seg.pictures.front();
  const PictureKey& key = seg.pictures[at].key;
  if (seg.broken || own.position != seg.key_position || !own.key.timed || own.key.claimed || !key.timed ||
      key.claimed || index->leading[s] < 0)
    return false;
  // The times must bear out the order the known keys give.
  std::vector<PictureKey> keys;
  std::vector<int64_t> times;
  for (const OrderedPicture& p : seg.pictures) {
    // A picture the decoder takes for another kind than it is may have
    // moved the frames the decoder gives out around it.
    if (p.key.garbled) return false;
    if (!p.key.timed || p.key.claimed) continue;
    times.push_back(p.key.time);
    if (p.key.known) keys.push_back(p.key);
  }
  std::sort(keys.begin(), keys.end(), picture_key_less);
  for (size_t i = 1; i < keys.size(); ++i)
    if (keys[i].time <= keys[i - 1].time) return false;
  std::sort(times.begin(), times.end());
  int64_t step = 0;
  for (size_t i = 1; i < times.size(); ++i) {
    const int64_t d = times[i] - times[i - 1];
    if (d <= 0) return false;
    step = step == 0 ? d : std::min(step, d);
  }
  if (step == 0 || (key.time - own.key.time) % step != 0) return false;
  *rank = index->leading[s] + (key.time - own.key.time) / step;
  const int64_t slot = static_cast<int64_t>(index->keys[s]) + *rank;
  return *rank >= 0 && slot < static_cast<int64_t>(packet_index_segment_end(index, s)) &&
         index->packets[static_cast<size_t>(slot)].position == seg.key_position + *rank;
}

// The entry the frame of picture `at` of the segment fills, or -1.
int64_t slot_of(const MovieFrameOrder* order, const MoviePacketIndex* index, const OrderedSegment& seg, size_t at) {
  int64_t rank = 0;
  size_t s = 0;
  if (key_position_of(index, seg.key_position, &s) < 0) return -1;
  // The key's own frame follows the segment's leading frames, where their
  // count is known (none before the first key), whatever the pictures of
  // unknown key after it are.
  const OrderedPicture& own = seg.pictures.front();
  const bool own_key = at == 0 && own.position == seg.key_position && own.key.known && !own.key.claimed;
  if (own_key && !seg.broken && index->leading[s] >= 0) rank = index->leading[s];
  else if (rank_of(order, index, seg, at, &rank) != Rank::Known && !timed_rank(index, seg, at, s, &rank)) return -1;
  const int64_t slot = static_cast<int64_t>(index->keys[s]) + rank;
  return slot < static_cast<int64_t>(packet_index_segment_end(index, s)) ? slot : -1;
}

// Moves the first picture that may still give a frame past those that
// cannot.
void advance_open(OrderedSegment& seg) {
  const size_t overtaken = seg.latest_out.size() > kHeldBackMost ? seg.latest_out.front() : 0;
  while (seg.open < seg.pictures.size() && (seg.pictures[seg.open].given || seg.open < overtaken)) ++seg.open;
}

void give(OrderedSegment& seg, size_t at) {
  seg.pictures[at].given = true;
  advance_open(seg);
}

// The frame of picture `at` came out.
void note_out(OrderedSegment& seg, size_t at) {
  const auto later = std::greater<size_t>();
  if (seg.latest_out.size() <= kHeldBackMost) {
    seg.latest_out.push_back(at);
    std::push_heap(seg.latest_out.begin(), seg.latest_out.end(), later);
  } else if (at > seg.latest_out.front()) {
    std::pop_heap(seg.latest_out.begin(), seg.latest_out.end(), later);
    seg.latest_out.back() = at;
    std::push_heap(seg.latest_out.begin(), seg.latest_out.end(), later);
  }
  advance_open(seg);
}

void resolve(OrderedSegment& seg, size_t at) {
  if (seg.pictures[at].resolved) return;
  seg.pictures[at].resolved = true;
  --seg.unresolved;
}

// The picture `at` makes no frame: one marked not coded shows the frame
// before it, and one whose whole header promised a frame was not what it
// says.
void resolve_none(const MovieFrameOrder* order, MoviePacketIndex* index, OrderedSegment& seg, size_t at) {
  if (seg.pictures[at].resolved) return;
  resolve(seg, at);
  if (seg.pictures[at].key.expects_frame) demote(seg, at);
  if (!seg.pictures[at].repeats) return;
  const int64_t slot = slot_of(order, index, seg, at);
  if (slot >= 0) index->packets[static_cast<size_t>(slot)].uncoded = true;
}

// Settles what the frame of picture `at`, just out of the decoder, tells:
// the pictures before it in display order still without a frame make none;
// and the claimed keys that enough pictures after them have borne out or
// shown false.
void settle(MovieFrameOrder* order, MoviePacketIndex* index, OrderedSegment& seg, size_t at) {
  const PictureKey key = seg.pictures[at].key;
  if (key.known)
    for (size_t i = seg.settled; i < seg.pictures.size(); ++i) {
      const PictureKey& k = seg.pictures[i].key;
      if (i != at && !seg.pictures[i].resolved && k.known && picture_key_less(k, key))
        resolve_none(order, index, seg, i);
    }
  while (seg.settled < seg.pictures.size() && seg.pictures[seg.settled].resolved) ++seg.settled;
  const bool sent = all_sent(order, index, seg);
  for (size_t n = seg.claimed.size(); n-- > 0;) {
    const size_t c = seg.claimed[n];
    int64_t after = 0;
    for (size_t i = c + 1; i < seg.pictures.size(); ++i) after += seg.pictures[i].key.known ? 1 : 0;
    if (!sent && after < order->bound + 1) continue;
    if (claim_stands(order, seg, c)) {
      seg.pictures[c].key.claimed = false;
      seg.claimed.erase(seg.claimed.begin() + static_cast<std::ptrdiff_t>(n));
    } else {
      demote(seg, c);
    }
  }
}

void mark_placed(OrderedSegment& seg, int64_t position) {
  const size_t at = static_cast<size_t>(position - seg.key_position);
  if (seg.placed.size() <= at) seg.placed.resize(at + 1, false);
  seg.placed[at] = true;
}

}  // namespace

void frame_rank_sent(MovieFrameOrder* order, const MoviePacketIndex* index, int64_t position, PictureKey key,
                     bool repeats, bool damaged) {
  key.claimed = key.claimed || (key.known && damaged);
  size_t s = 0;
  const int64_t key_position = key_position_of(index, position, &s);
  if (!order->ranked || key_position < 0) return;
  if (order->segments.empty() || order->segments.back().key_position < key_position)
    order->segments.push_back(OrderedSegment{key_position, {}, {}, {}, {}, {}, key.epoch, 0, 0, false, {}, 0});
  OrderedSegment& seg = order->segments.back();
  if (seg.key_position != key_position || (!seg.pictures.empty() && seg.pictures.back().position >= position)) return;
  OrderedPicture p{position, key, 0, repeats, false, false};
  if (key.known) {
    const auto above = std::upper_bound(seg.known.begin(), seg.known.end(), key, picture_key_less);
    p.overtaken = static_cast<int32_t>(seg.known.end() - above);
    seg.known.insert(above, key);
    seg.last_epoch = std::max(seg.last_epoch, key.epoch);
    if (key.claimed) seg.claimed.push_back(seg.pictures.size());
  } else {
    seg.unknown.push_back(seg.pictures.size());
  }
  seg.pictures.push_back(p);
  ++seg.unresolved;
  while (order->segments.size() > kKeptSegments && order->segments.front().unresolved == 0)
    order->segments.pop_front();
}

void frame_rank_suspect(MovieFrameOrder* order, const MoviePacketIndex* index, int64_t position) {
  size_t s = 0;
  const int64_t key_position = order->ranked ? key_position_of(index, position, &s) : -1;
  OrderedSegment* seg = key_position >= 0 ? record_at(order, key_position) : nullptr;
  const size_t at = seg != nullptr ? picture_at(*seg, position) : 0;
  if (seg == nullptr || at == seg->pictures.size()) return;
  PictureKey& key = seg->pictures[at].key;
  if (!key.known || key.claimed) return;
  key.claimed = true;
  seg->claimed.push_back(at);
}

void frame_rank_none(MovieFrameOrder* order, MoviePacketIndex* index, int64_t position) {
  size_t s = 0;
  const int64_t key_position = order->ranked ? key_position_of(index, position, &s) : -1;
  OrderedSegment* seg = key_position >= 0 ? record_at(order, key_position) : nullptr;
  if (seg == nullptr) return;
  const size_t at = picture_at(*seg, position);
  if (at == seg->pictures.size()) return;
  resolve_none(order, index, *seg, at);
  give(*seg, at);
}

void frame_rank_end(MovieFrameOrder* order) {
  for (OrderedSegment& seg : order->segments) {
    for (size_t i = 0; i < seg.pictures.size(); ++i) {
      resolve(seg, i);
      seg.pictures[i].given = true;
    }
    advance_open(seg);
  }
}

bool frame_rank_ready(MovieFrameOrder* order, MoviePacketIndex* index, int64_t pts) {
  size_t s = 0;
  const int64_t key_position = order->ranked ? key_position_of(index, pts, &s) : -1;
  OrderedSegment* seg = key_position >= 0 ? record_at(order, key_position) : nullptr;
  if (seg == nullptr) return true;
  const size_t at = picture_at(*seg, pts);
  if (at == seg->pictures.size()) return true;
  settle(order, index, *seg, at);
  int64_t rank = 0;
  return rank_of(order, index, *seg, at, &rank) != Rank::Waits;
}

int64_t frame_rank_place(MovieFrameOrder* order, MoviePacketIndex* index, int64_t pts, bool in_order, bool made) {
  size_t s = 0;
  const int64_t key_position = key_position_of(index, pts, &s);
  OrderedSegment* seg = key_position >= 0 ? record_at(order, key_position) : nullptr;
  const size_t at = seg != nullptr ? picture_at(*seg, pts) : 0;
  if (seg == nullptr || at == seg->pictures.size()) return -1;
  order->out_segment = std::max(order->out_segment, static_cast<int64_t>(s));
  resolve(*seg, at);
  if (made) {
    note_out(*seg, at);
    give(*seg, at);
  }
  settle(order, index, *seg, at);
  // A decoder that reorders nothing made no frame of the pictures stored
  // before this one that have none.
  if (in_order)
    for (OrderedSegment& before : order->segments)
      for (size_t& i = before.settled; i < before.pictures.size() && before.pictures[i].position < pts; ++i)
        resolve_none(order, index, before, i);
  const int64_t slot = slot_of(order, index, *seg, at);
  if (slot < 0) return -1;
  const size_t key = index->keys[s];
  const OrderedPicture& own = seg->pictures.front();
  if (static_cast<int64_t>(s) == order->began_at && order->began_at > 0 &&
      (own.position != key_position || !own.key.known || picture_key_less(seg->pictures[at].key, own.key))) {
    // Shown before the key's own frame, in the segment the decode began
    // at: made without the segment before.
    mark_placed(*seg, index->packets[static_cast<size_t>(slot)].position);
    return -1;
  }
  if (at == 0 && own.position == key_position) index->leading[s] = static_cast<int32_t>(static_cast<size_t>(slot) - key);
  mark_placed(*seg, index->packets[static_cast<size_t>(slot)].position);
  // A picture that made no frame repeats the frame before only where it is
  // marked not coded; otherwise it was damaged.
  if (!made) {
    if (seg->pictures[at].repeats) index->packets[static_cast<size_t>(slot)].uncoded = true;
    return -1;
  }
  // A damaged picture keeps its place, but what it shows is not its frame.
  const int64_t e = packet_index_find(index, pts);
  return index->packets[static_cast<size_t>(e)].damaged ? -1 : slot;
}

bool frame_rank_will_place(const MovieFrameOrder* order, const MoviePacketIndex* index, size_t packet) {
  const size_t s = packet_index_segment(index, packet);
  const int64_t seg_index = static_cast<int64_t>(s);
  if (seg_index < order->began_at || seg_index < order->out_segment) return false;
  const int64_t key_position = index->packets[index->keys[s]].position;
  if (seg_index == order->began_at && order->began_at > 0 && index->leading[s] >= 0 &&
      static_cast<int64_t>(packet - index->keys[s]) < index->leading[s])
    return false;
  const OrderedSegment* seg = record_at(order, key_position);
  if (seg == nullptr) return true;
  if (seg->broken) return false;
  const size_t at = static_cast<size_t>(index->packets[packet].position - key_position);
  if (at < seg->placed.size() && seg->placed[at]) return false;
  // The place is filled by a picture stored no more than the bound after
  // it: while one of those is still to be sent, or may still give its
  // frame, decoding on may place it.
  const size_t last = packet + static_cast<size_t>(std::max(order->bound, 0));
  const bool to_end = last + 1 >= packet_index_segment_end(index, s);
  if (to_end ? !all_sent(order, index, *seg)
             : seg->pictures.empty() || seg->pictures.back().position < index->packets[last].position)
    return true;
  return seg->open < seg->pictures.size() &&
         (to_end || seg->pictures[seg->open].position <= index->packets[last].position);
}

void frame_rank_drop(MovieFrameOrder* order, const MoviePacketIndex* index, size_t packet) {
  size_t s = 0;
  const int64_t key_position =
      key_position_of(index, index->packets[std::min(packet, index->packets.size() - 1)].position, &s);
  if (OrderedSegment* seg = key_position >= 0 ? record_at(order, key_position) : nullptr) seg->broken = true;
}

void frame_rank_join(MovieFrameOrder* order, int64_t key_position, int64_t before_position) {
  auto it = order->segments.begin();
  while (it != order->segments.end() && it->key_position != key_position) ++it;
  if (it == order->segments.end()) return;
  if (it == order->segments.begin() || std::prev(it)->key_position != before_position) {
    // The pictures before it were not met: their ranks are not known.
    it->key_position = before_position;
    it->broken = true;
    return;
  }
  OrderedSegment& into = *std::prev(it);
  const size_t offset = into.pictures.size();
  for (size_t u : it->unknown) into.unknown.push_back(u + offset);
  for (size_t c : it->claimed) into.claimed.push_back(c + offset);
  into.pictures.insert(into.pictures.end(), it->pictures.begin(), it->pictures.end());
  for (size_t out : it->latest_out) note_out(into, out + offset);
  advance_open(into);
  std::vector<PictureKey> known;
  std::merge(into.known.begin(), into.known.end(), it->known.begin(), it->known.end(), std::back_inserter(known),
             picture_key_less);
  into.known = std::move(known);
  into.placed.resize(static_cast<size_t>(key_position - before_position), false);
  into.placed.insert(into.placed.end(), it->placed.begin(), it->placed.end());
  into.last_epoch = std::max(into.last_epoch, it->last_epoch);
  into.unresolved += it->unresolved;
  into.broken = into.broken || it->broken;
  order->segments.erase(it);
}
