#include "platform/movie/movie_decode.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavutil/error.h>
}

#include "platform/movie/movie_file_state.h"
#include "platform/movie/movie_frame_rank.h"
#include "platform/movie/movie_h264_packet.h"
#include "platform/movie/movie_key_probe.h"
#include "platform/movie/movie_picture_check.h"

namespace {

// Frames a decoder may hold back; when more come out while a damaged picture
// is still inside, the decoder has dropped it.
constexpr size_t kMaxHeldBack = 32;
// The largest chunk read as a picture: the largest frame at 32 bits a pixel.
constexpr uint32_t kMaxChunkBytes = uint32_t{kMovieMaxSide} * kMovieMaxSide * 4;

void free_held_back(MovieFile* f) {
  for (AVFrame*& fr : f->held_back) f->av->av_frame_free(&fr);
  f->held_back.clear();
}

void lose(MovieFile* f, size_t packet) { frame_order_lose(&f->order, &f->index, packet); }

// What others may do with the picture in these bytes (movie_damage.h).
// A header damage has reached tells nothing of the picture, which may be
// one others refer to.
PictureKind kind_of(const MovieFile* f, size_t e, const uint8_t* data, size_t size, const Mpeg4PacketLook& look) {
  if (f->intra_only) return PictureKind::Refresh;
  if (f->mpeg4) {
    if (look.first_type != MPEG4_NONE && mpeg4_first_picture_checked(data, size, f->time_bits) == MPEG4_NONE)
      return PictureKind::Reference;
    if (!look.first_coded) return PictureKind::NotCoded;
    if (look.first_type == MPEG4_I) return PictureKind::Intra;
    if (look.first_type == MPEG4_B) return PictureKind::Droppable;
    return PictureKind::Reference;
  }
  if (f->h264) {
    const H264PacketLook h = h264_packet_look(data, size);
    if (h.idr) return PictureKind::Refresh;
    // Only a recovery point keeps the pictures after an intra one from
    // referring to those before it.
    if (h.intra && h264_slice_order(&f->h264_sets, data, size).found)
      return h.recovery ? PictureKind::Intra : PictureKind::Standalone;
    return h.slice && !h.reference ? PictureKind::Droppable : PictureKind::Reference;
  }
  // Other codecs do not say: a key found to be one needs nothing before it.
  const MoviePacket& p = f->index.packets[e];
  return e == f->first_packet || (p.key && p.checked) ? PictureKind::Intra : PictureKind::Reference;
}

// Reads the chunk of entry `e` into pkt as the picture at its position, its
// header with it, which is checked against what the index said of it. False
// when it cannot be read at all, or when the chunks were found to lie
// otherwise (f->restart); *damaged when it is not whole.
bool read_chunk(MovieFile* f, size_t e, AVPacket* pkt, bool* damaged) {
  MovieChunkCheck check = MovieChunkCheck::Agrees;
  int got = 0;
  do {
    const MoviePacket& p = f->index.packets[e];
    const int64_t header = p.offset - 8;
    if (p.size > kMaxChunkBytes || f->av->av_new_packet(pkt, static_cast<int>(p.size) + 8) < 0) return false;
    AVIOContext* pb = f->format->pb;
    got = f->av->avio_seek(pb, header, SEEK_SET) == header ? f->av->avio_read(pb, pkt->data, pkt->size) - 8 : -1;
    check = got >= 0 ? movie_chunks_check(&f->chunk_map, &f->index, e, pkt->data, static_cast<size_t>(got))
                     : MovieChunkCheck::Agrees;
    if (check == MovieChunkCheck::Corrected || check == MovieChunkCheck::Moved) f->av->av_packet_unref(pkt);
  } while (check == MovieChunkCheck::Corrected);
  if (check == MovieChunkCheck::Moved) f->restart = true;
  if (check == MovieChunkCheck::NotKey && e != 0 && f->index.packets[e].key) {
    // Taken for a key on the index's word, its first bytes deny it: it
    // joins the segment before, and a decode begun at it begins again there.
    frame_order_drop_key(&f->order, &f->index, packet_index_segment(&f->index, e));
    f->restart = e == f->first_packet;
  }
  if (got <= 0 || f->restart) {
    f->av->av_packet_unref(pkt);
    return false;
  }
  const MoviePacket& p = f->index.packets[e];
  const MovieChunkMap& map = f->chunk_map;
  // A picture after palette changes too many to keep is not decoded in the
  // colours it was stored with.
  *damaged = p.damaged || got < static_cast<int>(p.size) || p.offset > map.palette_lost_from;
  pkt->data += 8;
  pkt->size = got;
  std::memset(pkt->data + got, 0, AV_INPUT_BUFFER_PADDING_SIZE);
  pkt->pos = p.offset;
  if (p.key) pkt->flags |= AV_PKT_FLAG_KEY;
  if (f->stream_palette.empty()) return true;
  // The palette goes with the first picture of a decode, and again with the
  // first after a change.
  const bool first = !f->palette_sent;
  if (first) f->palette = f->stream_palette;
  const bool changed =
      movie_palette_apply(&f->palette, map.palette_changes, first ? INT64_MIN : f->palette_at, p.offset) || first;
  f->palette_at = p.offset;
  if (changed) {
    uint8_t* side = f->av->av_packet_new_side_data(pkt, AV_PKT_DATA_PALETTE, AVPALETTE_SIZE);
    if (side != nullptr) std::memcpy(side, f->palette.data(), AVPALETTE_SIZE);
    f->palette_sent = side != nullptr;
  }
  return true;
}

// Whether the picture's own bytes prove it whole where its codec's decoder
// would not say (movie_picture_check.h).
bool picture_whole(const MovieFile* f, const AVPacket* pkt) {
  const size_t size = static_cast<size_t>(pkt->size);
  switch (f->picture_check) {
    case PictureCheck::None: return true;
    case PictureCheck::JpegScans: return jpeg_scans_whole(pkt->data, size);
    case PictureCheck::Ffv1SliceCrcs: return ffv1_slices_whole(f->av, pkt->data, size);
  }
  return true;
}

// The key a decode begins at must make a key picture alone (the others are
// checked as their frames come out): a key that fails joins the segment
// before, and the decode begins again (false). So must a key met while a
// damaged picture spoils the pictures after it, where the codec's headers do
// not tell an intra picture: only a key proven so ends the damage.
bool check_key(MovieFile* f, const AVPacket* pkt, size_t e) {
  MoviePacket& entry = f->index.packets[e];
  const bool begins = e == f->first_packet;
  const bool ends_damage = !f->mpeg4 && !f->h264 && f->damage.chain;
  if (e == 0 || !entry.key || entry.checked || f->intra_only || !(begins || ends_damage)) return true;
  entry.checked = true;
  if (key_probe_makes_key(f->av, f->codec, f->format->streams[f->stream]->codecpar, pkt)) return true;
  frame_order_drop_key(&f->order, &f->index, packet_index_segment(&f->index, e));
  return !begins;
}

// A frame out of the decoder made from a key packet the decode went through
// must be marked a key picture, or that key begins nothing. A key that
// passes is still checked alone when a decode is to begin at it.
void check_key_frame(MovieFile* f, const AVFrame* fr) {
  const int64_t e = fr->pts != AV_NOPTS_VALUE ? packet_index_find(&f->index, fr->pts) : -1;
  if (e <= 0 || f->intra_only) return;
  const MoviePacket& entry = f->index.packets[static_cast<size_t>(e)];
  if (entry.key && !entry.checked && !key_probe_key_picture(fr))
    frame_order_drop_key(&f->order, &f->index, packet_index_segment(&f->index, static_cast<size_t>(e)));
}

// Whether the packet begins a new MPEG-4 video object layer unlike the last
// one sent since the seek (another picture size, as where two clips were
// joined); the first one sent only sets it.
bool layer_changes(MovieFile* f, const AVPacket* pkt, const Mpeg4PacketLook& look) {
  const uint8_t* begin = pkt->data + look.layer_begin;
  const uint8_t* end = pkt->data + look.layer_end;
  if (begin == end || std::equal(begin, end, f->layer.begin(), f->layer.end())) return false;
  const bool changed = !f->layer.empty();
  f->layer.assign(begin, end);
  return changed;
}

// Sends a picture to the decoder as the one of entry `e`, carrying its
// position as its timestamp. Where the picture is shown (its key,
// movie_picture_order.h) is read from its header before it is sent.
void send(MovieFile* f, AVPacket* pkt, size_t e, PictureKind kind, bool damaged) {
  const int64_t position = f->index.packets[e].position;
  pkt->pts = pkt->dts = position;
  const uint8_t* data = pkt->data;
  const size_t size = static_cast<size_t>(pkt->size);
  // A chunk holding no picture may have been a picture others refer to,
  // until a picture after it says it was not: in H.264 its frame number, in
  // MPEG-4 a B-frame's time stamp.
  bool guessed = false;
  PictureKey key;
  if (f->order.ranked && f->h264) {
    const H264SliceOrder slice = h264_slice_order(&f->h264_sets, data, size);
    guessed = !slice.found;
    if (picture_order_h264_lost_unreferenced(&f->picture_order, slice)) damage_unreferenced(&f->damage);
    key = picture_order_h264(&f->picture_order, slice);
  } else if (f->order.ranked) {
    const Mpeg4PictureStamp stamp = mpeg4_first_picture_stamp(data, size, f->time_bits);
    guessed = !stamp.found;
    if (picture_order_mpeg4_lost_unreferenced(&f->picture_order, stamp)) damage_unreferenced(&f->damage);
    key = picture_order_mpeg4(&f->picture_order, stamp);
  }
  damage_sent(&f->damage, position, kind, damaged, guessed);
  if (f->order.ranked) frame_rank_sent(&f->order, &f->index, position, key, kind == PictureKind::NotCoded, damaged);
  // A damaged MPEG-4 B-frame, which nothing refers to, is not decoded: the
  // decoder would conceal what is missing, and its flush leaves a trace of
  // that on a whole picture decoded later.
  const bool skip = f->mpeg4 && damaged && kind == PictureKind::Droppable;
  const int sent = skip ? AVERROR_INVALIDDATA : f->av->avcodec_send_packet(f->codec, pkt);
  f->av->av_packet_unref(pkt);
  f->last_sent = position;
  if (sent < 0) {
    // A refused picture loses its frame, not the movie.
    lose(f, e);
    damage_lost(&f->damage, position);
    frame_rank_none(&f->order, &f->index, position);
    return;
  }
  ++f->owed;
  if (damaged) f->damaged.push_back(position);
}

// Packing writers store the first B-frame after a reference picture in that
// picture's chunk, each further B-frame one chunk early, and a placeholder
// (a picture marked not coded, or an empty chunk) where the reference
// picture is shown: [I0] [P3 B1] [B2] [placeholder]. Split into pictures of
// their own and each sent at the next position, they come out of the
// decoder in the order of the positions, as from a decoder that knows of the
// packing. Sends the chunk of entry `e` that way.
void send_chunk(MovieFile* f, AVPacket* pkt, size_t e, const Mpeg4PacketLook& look, bool damaged) {
  PictureKind kind = kind_of(f, e, pkt->data, static_cast<size_t>(pkt->size), look);
  if (f->packed->data != nullptr) {
    if (look.second_picture == 0 && kind == PictureKind::NotCoded) {
      // The placeholder: the waiting B-frame takes its place.
      f->av->av_packet_unref(pkt);
      send(f, f->packed, e, f->packed_kind, f->packed_damaged);
      return;
    }
    if (look.second_picture == 0 && look.first_type == MPEG4_B) {
      // The next B-frame of the group: the waiting one takes its place, and
      // it waits in turn.
      f->av->av_packet_move_ref(f->spare, f->packed);
      f->av->av_packet_move_ref(f->packed, pkt);
      std::swap(kind, f->packed_kind);
      std::swap(damaged, f->packed_damaged);
      send(f, f->spare, e, kind, damaged);
      return;
    }
    // Nowhere to show it: the frames of its segment from here lose their
    // places.
    f->av->av_packet_unref(f->packed);
    frame_order_drop(&f->order, &f->index, e);
  }
  if (look.second_picture != 0 && f->av->av_packet_ref(f->packed, pkt) >= 0) {
    const int at = static_cast<int>(look.second_picture);
    f->packed->data += at;
    f->packed->size -= at;
    const Mpeg4PacketLook second = mpeg4_packet_look(f->packed->data, static_cast<size_t>(f->packed->size), f->time_bits);
    f->packed_kind = kind_of(f, e, f->packed->data, static_cast<size_t>(f->packed->size), second);
    f->packed_damaged = damaged;
    pkt->size = at;
  }
  send(f, pkt, e, kind, damaged);
}

// The waiting B-frame's place when the chunk after the last one sent is
// empty (packing left an empty chunk as the placeholder): that position
// gets an entry of its own. True when it was sent.
bool place_packed(MovieFile* f) {
  if (f->packed->data == nullptr) return false;
  const auto& packets = f->index.packets;
  const int64_t next = f->last_sent + 1;
  const size_t e = f->next_packet;
  if (e < packets.size() && packets[e].packed) {
    ++f->next_packet;
    send(f, f->packed, e, f->packed_kind, f->packed_damaged);
    return true;
  }
  const bool empty = e < packets.size() ? packets[e].position > next : next < f->index.readable_end;
  const int64_t last = packet_index_find(&f->index, f->last_sent);
  if (!empty || last < 0 || static_cast<size_t>(last) + 1 != e) return false;
  packet_index_insert(&f->index, static_cast<size_t>(last), next);
  ++f->next_packet;
  send(f, f->packed, e, f->packed_kind, f->packed_damaged);
  return true;
}

// Sends the next picture of the stream to the decoder, or at the end of the
// stream starts its drain. False when the drain has begun already, or when
// the decode must begin again (f->restart).
bool feed(MovieFile* f) {
  if (f->ended) return false;
  const auto& packets = f->index.packets;
  if (place_packed(f)) return true;
  if (f->next_packet >= packets.size()) {
    // A waiting B-frame with no place left is dropped. In a file cut short
    // what is lost may belong before any frame the decoder still holds:
    // counting frames, their places are lost; placing them by keys, the
    // decode knows of the cut from its start.
    if (f->packed->data != nullptr)
      frame_order_drop(&f->order, &f->index, f->next_packet);
    else if (f->index.stored_end < static_cast<int64_t>(f->info.frame_count))
      lose(f, f->next_packet);
    f->av->av_packet_unref(f->packed);
    f->ended = true;
    f->av->avcodec_send_packet(f->codec, nullptr);
    return true;
  }
  const size_t e = f->next_packet++;
  bool damaged = false;
  if (packets[e].packed || !read_chunk(f, e, f->packet, &damaged)) {
    if (f->restart) return false;
    // A picture that is not sent: its frame will not come, and what may
    // refer to it is not made whole. A packed B-frame whose chunk this
    // decode did not send is one nothing refers to.
    lose(f, e);
    damage_sent(&f->damage, packets[e].position, packets[e].packed ? PictureKind::Droppable : PictureKind::Reference,
                true);
    damage_lost(&f->damage, packets[e].position);
    if (f->order.ranked) {
      frame_rank_sent(&f->order, &f->index, packets[e].position, picture_order_lost(&f->picture_order), false, true);
      frame_rank_none(&f->order, &f->index, packets[e].position);
    }
    return true;
  }
  damaged = damaged || !picture_whole(f, f->packet);
  if (!check_key(f, f->packet, e)) {
    f->av->av_packet_unref(f->packet);
    f->restart = true;
    return false;
  }
  const Mpeg4PacketLook look = f->mpeg4 ? mpeg4_packet_look(f->packet->data, static_cast<size_t>(f->packet->size),
                                                            f->time_bits)
                                        : Mpeg4PacketLook{};
  if (look.time_bits != 0) f->time_bits = look.time_bits;
  if (look.time_resolution != 0) f->picture_order.time_resolution = look.time_resolution;
  if (look.low_delay >= 0) f->picture_order.no_b_frames = look.low_delay == 1;
  if (f->h264) h264_parameter_sets_read(&f->h264_sets, f->packet->data, static_cast<size_t>(f->packet->size));
  if (layer_changes(f, f->packet, look)) {
    // A decoder drops the frame it holds back when the picture size
    // changes: it gives out everything first, and the picture follows.
    f->av->av_packet_move_ref(f->pending, f->packet);
    f->pending_entry = e;
    f->pending_look = look;
    f->pending_damaged = damaged;
    f->av->avcodec_send_packet(f->codec, nullptr);
    return true;
  }
  send_chunk(f, f->packet, e, look, damaged);
  return true;
}

// A damaged picture the decoder will not give out: what came out since is
// counted without it, and its segment is lost.
void give_up_damaged(MovieFile* f) {
  const int64_t e = packet_index_find(&f->index, f->damaged.front());
  lose(f, static_cast<size_t>(std::max<int64_t>(e, 0)));
  for (int64_t position : f->damaged) {
    damage_lost(&f->damage, position);
    frame_rank_none(&f->order, &f->index, position);
  }
  f->owed -= static_cast<int64_t>(f->damaged.size());
  f->damaged.clear();
}

// The decoder wants the next picture while owing more frames than it holds
// back: the picture just sent made none. In a stream with B-frames, a
// B-frame comes out as soon as it is made, so the frame that did not come
// is the next in display order; an empty frame in the queue keeps its place.
void note_no_frame(MovieFile* f) {
  if (!f->skips || f->depth == 0 || f->raised_late || f->owed <= f->depth || !f->damaged.empty())
    return;
  AVFrame* none = f->av->av_frame_alloc();
  if (none == nullptr) return;
  none->pts = f->last_sent;
  f->held_back.push_back(none);
  damage_lost(&f->damage, f->last_sent);
  --f->owed;
}

}  // namespace

DecodeStep decode_next_frame(MovieFile* f, int64_t* entry) {
  // The decoder refused to give more (an error, or no picture left to send):
  // held frames go out without waiting, or it would be asked again forever.
  bool stalled = false;
  for (;;) {
    // A depth raised after frames came out means one came out too early or
    // was dropped.
    if (f->codec->has_b_frames > f->depth) {
      if (f->any_out && f->next_packet > 0) lose(f, f->next_packet - 1);
      f->raised_late = f->any_out;
      f->depth = f->codec->has_b_frames;
    }
    // A decoder that reorders nothing may yet meet a frame stored out of
    // order, a sign that the frame it just gave came out too early: that
    // frame waits until the picture after it has been sent. So does one
    // whose place pictures still to be sent may yet tell, unless too many
    // frames wait behind it.
    f->order.bound = picture_order_reorder_bound(&f->picture_order, f->h264, f->depth);
    f->order.more_pending = f->packed->data != nullptr || f->pending->data != nullptr;
    const bool can_wait = !f->ended && !stalled && !f->held_back.empty();
    const bool may_be_early =
        can_wait && ((f->reorders && f->depth == 0 && f->held_back.front()->pts >= f->last_sent) ||
                     (f->held_back.size() <= kMaxHeldBack && f->held_back.front()->pts != AV_NOPTS_VALUE &&
                      !frame_rank_ready(&f->order, &f->index, f->held_back.front()->pts)));
    if (!f->held_back.empty() && f->damaged.empty() && !may_be_early) {
      f->av->av_frame_free(&f->frame);
      f->frame = f->held_back.front();
      f->held_back.pop_front();
      const bool in_order = !f->reorders || f->depth == 0;
      const bool made = f->frame->buf[0] != nullptr;
      if (made) check_key_frame(f, f->frame);
      *entry = f->frame->pts != AV_NOPTS_VALUE
                   ? frame_order_place(&f->order, &f->index, f->frame->pts, in_order, made)
                   : -1;
      if (made) return DecodeStep::Frame;
    }
    AVFrame* fr = f->av->av_frame_alloc();
    if (fr == nullptr) return DecodeStep::Ended;
    const int got = f->av->avcodec_receive_frame(f->codec, fr);
    if (got == 0) {
      f->any_out = true;
      --f->owed;
      f->held_back.push_back(fr);
      damage_out(&f->damage, fr->pts, fr->decode_error_flags != 0, !f->reorders);
      if (fr->decode_error_flags != 0) frame_rank_suspect(&f->order, &f->index, fr->pts);
      const auto it = std::find(f->damaged.begin(), f->damaged.end(), fr->pts);
      if (it != f->damaged.end()) f->damaged.erase(it);
      if (!f->damaged.empty() && f->held_back.size() > kMaxHeldBack) give_up_damaged(f);
      continue;
    }
    f->av->av_frame_free(&fr);
    // Drained before a held-back picture: the decode goes on with it.
    if (got == AVERROR_EOF && f->pending->data != nullptr) {
      f->av->avcodec_flush_buffers(f->codec);
      send_chunk(f, f->pending, f->pending_entry, f->pending_look, f->pending_damaged);
      continue;
    }
    if (got == AVERROR_EOF) {
      damage_end(&f->damage);
      frame_rank_end(&f->order);
    }
    if (got == AVERROR(EAGAIN)) {
      note_no_frame(f);
      if (feed(f)) return DecodeStep::Sent;
      if (f->restart) return DecodeStep::Ended;
    }
    stalled = true;
    if (!f->damaged.empty()) {
      give_up_damaged(f);
      continue;
    }
    if (f->held_back.empty()) return DecodeStep::Ended;
  }
}

void decode_start(MovieFile* f, size_t segment) {
  const size_t key = f->index.keys[segment];
  f->av->avcodec_flush_buffers(f->codec);
  free_held_back(f);
  f->damaged.clear();
  f->decoding = true;
  f->ended = false;
  f->restart = false;
  f->palette_sent = false;
  f->layer.clear();
  f->av->av_packet_unref(f->pending);
  f->av->av_packet_unref(f->packed);
  f->first_packet = f->next_packet = key;
  frame_order_start(&f->order, segment, f->ranked, f->index.stored_end < static_cast<int64_t>(f->info.frame_count));
  picture_order_begin(&f->picture_order);
  damage_begin(&f->damage);
  f->start_depth = f->depth = f->codec->has_b_frames;
  f->raised_late = false;
  f->any_out = false;
  f->last_sent = -1;
  f->owed = 0;
}

void decode_release(MovieFile* f) { free_held_back(f); }
