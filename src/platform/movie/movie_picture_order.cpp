#include "platform/movie/movie_picture_order.h"

#include <algorithm>

namespace {

// MPEG-4: key values a group of pictures spans; the reference picture that
// ends it takes the last.
constexpr int64_t kGroupSpan = int64_t{1} << 16;

PictureKey unknown() { return PictureKey{}; }

// a * b, held within the range of int64_t.
int64_t product(int64_t a, int64_t b) {
  int64_t out = 0;
  if (__builtin_mul_overflow(a, b, &out)) return (a < 0) != (b < 0) ? INT64_MIN / 2 : INT64_MAX / 2;
  return out;
}

// Whether the frame number follows the last reference picture's, with room
// for the reference pictures among those lost since.
bool frame_num_follows(const MoviePictureOrder* o, const H264SliceOrder& slice) {
  if (slice.idr) return true;
  if (!o->ref_frame_num_known || slice.sequence->gaps_allowed) return false;
  const uint32_t max = 1u << slice.sequence->log2_max_frame_num;
  for (int step = slice.field ? 0 : 1; step <= o->unknown_since + 1; ++step)
    if ((o->prev_ref_frame_num + static_cast<uint32_t>(step)) % max == slice.frame_num) return true;
  return false;
}

// The frame number offset of kinds 1 and 2.
int64_t frame_num_offset(const MoviePictureOrder* o, const H264SliceOrder& slice) {
  if (slice.idr) return 0;
  const int64_t max = int64_t{1} << slice.sequence->log2_max_frame_num;
  return o->prev_frame_num > slice.frame_num ? o->frame_num_offset + max : o->frame_num_offset;
}

// The order count of kind 1, of a frame or a field.
int64_t poc_cycle(const H264Sequence& s, const H264SliceOrder& slice, int64_t offset) {
  const int64_t cycle = static_cast<int64_t>(s.offset_for_ref.size());
  int64_t absolute = cycle != 0 ? offset + slice.frame_num : 0;
  if (!slice.reference && absolute > 0) --absolute;
  int64_t expected = 0;
  if (absolute > 0) {
    int64_t per_cycle = 0;
    for (int32_t v : s.offset_for_ref) per_cycle += v;
    const int64_t in_cycle = (absolute - 1) % cycle;
    expected = product((absolute - 1) / cycle, per_cycle);
    for (int64_t i = 0; i <= in_cycle; ++i) expected += s.offset_for_ref[static_cast<size_t>(i)];
  }
  if (!slice.reference) expected += s.offset_for_non_ref;
  const int64_t top = expected + slice.delta[0];
  if (slice.field) return slice.bottom ? expected + s.offset_top_to_bottom + slice.delta[0] : top;
  return std::min(top, top + s.offset_top_to_bottom + slice.delta[1]);
}

}  // namespace

bool picture_key_less(const PictureKey& a, const PictureKey& b) {
  return a.epoch != b.epoch ? a.epoch < b.epoch : a.value < b.value;
}

void picture_order_begin(MoviePictureOrder* o) {
  const bool no_b_frames = o->no_b_frames;
  const int64_t time_resolution = o->time_resolution;
  *o = MoviePictureOrder{};
  o->no_b_frames = no_b_frames;
  o->time_resolution = time_resolution;
}

PictureKey picture_order_h264(MoviePictureOrder* o, const H264SliceOrder& slice) {
  if (!slice.found || (!slice.whole && !frame_num_follows(o, slice))) return picture_order_lost(o);
  const H264Sequence& s = *slice.sequence;
  o->decode_order = s.poc_type == 2;
  if (slice.idr) {
    ++o->epoch;
    o->prev_msb = o->prev_lsb = 0;
  }
  int64_t top = 0, bottom = 0;
  int64_t offset = 0;
  if (s.poc_type == 0) {
    const int64_t max = int64_t{1} << s.log2_max_poc_lsb;
    int64_t msb = o->prev_msb;
    if (slice.poc_lsb < o->prev_lsb && o->prev_lsb - slice.poc_lsb >= max / 2)
      msb += max;
    else if (slice.poc_lsb > o->prev_lsb && slice.poc_lsb - o->prev_lsb > max / 2)
      msb -= max;
    top = bottom = msb + slice.poc_lsb;
    if (!slice.field) bottom = top + slice.delta_bottom;
    if (slice.reference) {
      o->prev_msb = msb;
      o->prev_lsb = slice.poc_lsb;
    }
  } else {
    offset = frame_num_offset(o, slice);
    if (s.poc_type == 2) {
      top = bottom = slice.idr ? 0 : 2 * (offset + slice.frame_num) - (slice.reference ? 0 : 1);
    } else {
      top = bottom = poc_cycle(s, slice, offset);
    }
  }
  int64_t poc = slice.field ? (slice.bottom ? bottom : top) : std::min(top, bottom);
  PictureKey key{true, o->epoch, poc, slice.idr, slice.whole, !slice.whole, true};
  o->prev_frame_num = slice.frame_num;
  o->frame_num_offset = offset;
  if (slice.reference) {
    o->prev_ref_frame_num = slice.frame_num;
    o->ref_frame_num_known = true;
    o->unknown_since = 0;
  }
  if (slice.mmco_reset) {
    // The counts begin again from this picture, shown after all before it.
    ++o->epoch;
    key = PictureKey{true, o->epoch, poc - std::min(top, bottom), true, true, false, true};
    o->prev_msb = 0;
    o->prev_lsb = slice.field && slice.bottom ? 0 : top - std::min(top, bottom);
    o->prev_frame_num = 0;
    o->frame_num_offset = 0;
    o->prev_ref_frame_num = 0;
  }
  return key;
}

PictureKey picture_order_mpeg4(MoviePictureOrder* o, const Mpeg4PictureStamp& stamp) {
  const Mpeg4PictureType type = stamp.type;
  if (type == MPEG4_NONE) {
    o->lost_decoded = o->lost_decoded || stamp.found;
    PictureKey key = picture_order_lost(o);
    key.garbled = stamp.found;
    return key;
  }
  // A reference picture's seconds count from the last reference picture's,
  // a B-frame's from the one's before it.
  const bool timed = stamp.timed && !o->times_lost && o->time_resolution > 0;
  if (!stamp.timed) o->times_lost = true;
  if (type != MPEG4_B) {
    o->last_time_base = o->time_base;
    o->time_base += stamp.seconds;
  }
  const int64_t base = type != MPEG4_B ? o->time_base : o->last_time_base + stamp.seconds;
  const int64_t time = product(base, o->time_resolution) + stamp.increment;
  if (type != MPEG4_B) {
    ++o->group;
    o->in_group = 0;
    o->group_unknown = false;
    o->unknown_since = 0;
    o->lost_decoded = false;
    o->ref_timed = stamp.timed;
    o->ref_increment = stamp.increment;
    PictureKey key{true, 0, product(o->group, kGroupSpan) + kGroupSpan - 1, true};
    key.timed = timed;
    key.time = time;
    return key;
  }
  if (picture_order_mpeg4_lost_unreferenced(o, stamp)) {
    // The lost pictures were B-frames of this group, stored before this one.
    o->in_group += o->unknown_since;
    o->unknown_since = 0;
    o->group_unknown = false;
  }
  PictureKey key = unknown();
  if (!o->group_unknown && o->in_group < kGroupSpan - 1)
    key = PictureKey{true, 0, product(o->group, kGroupSpan) + o->in_group++, false};
  key.timed = timed;
  key.time = time;
  return key;
}

PictureKey picture_order_lost(MoviePictureOrder* o) {
  ++o->unknown_since;
  o->times_lost = true;
  o->group_unknown = true;
  return unknown();
}

bool picture_order_mpeg4_lost_unreferenced(const MoviePictureOrder* o, const Mpeg4PictureStamp& stamp) {
  // A B-frame stored after a lost reference picture would share the last
  // reference picture's time base, and add no second to lie before it.
  return o->unknown_since > 0 && o->group_unknown && !o->lost_decoded && o->ref_timed && stamp.type == MPEG4_B &&
         stamp.timed &&
         stamp.seconds == 0 && stamp.increment < o->ref_increment;
}

bool picture_order_h264_lost_unreferenced(const MoviePictureOrder* o, const H264SliceOrder& slice) {
  if (o->unknown_since == 0 || !o->ref_frame_num_known || !slice.found || !slice.whole || slice.idr ||
      slice.field || slice.sequence->gaps_allowed)
    return false;
  const uint32_t max = 1u << slice.sequence->log2_max_frame_num;
  return (o->prev_ref_frame_num + 1) % max == slice.frame_num;
}

int picture_order_reorder_bound(const MoviePictureOrder* o, bool h264, int decoder_depth) {
  if (h264) return o->decode_order ? 0 : std::max(decoder_depth, 0);
  return o->no_b_frames ? 0 : 1;
}
