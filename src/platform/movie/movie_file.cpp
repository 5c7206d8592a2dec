#include "platform/movie/movie_file.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <vector>

extern "C" {
#include <libavutil/error.h>
}

#include "platform/movie/movie_chunks.h"
#include "platform/movie/movie_damage.h"
#include "platform/movie/movie_frame_order.h"
#include "platform/movie/movie_h264_packet.h"
#include "platform/movie/movie_key_probe.h"
#include "platform/movie/movie_library.h"
#include "platform/movie/movie_mpeg4_packet.h"
#include "platform/movie/movie_packet_index.h"
#include "platform/movie/movie_scaled_frame.h"
#include "platform/sys/sys.h"

namespace {

// Packets between the decode and a frame ahead of it past which a seek to
// the frame's key is cheaper than decoding on.
constexpr size_t kForwardLimit = 32;
// Frames a decoder may hold back; when more come out while a damaged picture
// is still inside, the decoder has dropped it.
constexpr size_t kMaxHeldBack = 32;
// Frames kept while one waits to be judged (movie_damage.h).
constexpr size_t kMaxWaiting = 32;
// The largest chunk read as a picture: the largest frame at 32 bits a pixel.
constexpr uint32_t kMaxChunkBytes = uint32_t{kMovieMaxSide} * kMovieMaxSide * 4;
// Key frames tried at open for a first frame that can be made.
constexpr size_t kOpenTries = 16;
constexpr int kIoBufferSize = 1 << 15;

struct MemoryInput {
  const uint8_t* data;
  size_t size;
  size_t pos;
};

int memory_read(void* opaque, uint8_t* buf, int size) {
  MemoryInput* m = static_cast<MemoryInput*>(opaque);
  const size_t left = m->size - m->pos;
  if (left == 0) return AVERROR_EOF;
  const size_t n = std::min(left, static_cast<size_t>(size));
  std::memcpy(buf, m->data + m->pos, n);
  m->pos += n;
  return static_cast<int>(n);
}

int64_t memory_seek(void* opaque, int64_t offset, int whence) {
  MemoryInput* m = static_cast<MemoryInput*>(opaque);
  int64_t base = 0;
  switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE: return static_cast<int64_t>(m->size);
    case SEEK_SET: base = 0; break;
    case SEEK_CUR: base = static_cast<int64_t>(m->pos); break;
    case SEEK_END: base = static_cast<int64_t>(m->size); break;
    default: return AVERROR(EINVAL);
  }
  if (offset > static_cast<int64_t>(m->size) - base || offset < -base) return AVERROR(EINVAL);
  m->pos = static_cast<size_t>(base + offset);
  return static_cast<int64_t>(m->pos);
}

// A frame out of the decoder, placed at its position and kept until it is
// read.
struct WaitingFrame {
  int64_t position;
  int64_t pts;  // the picture it was made from
  AVFrame* frame;
  int verdict;  // made from whole pictures: 1 yes, 0 no, -1 not known yet (movie_damage.h)
};

}  // namespace

struct MovieFile {
  const MovieApi* av = nullptr;
  AVFormatContext* format = nullptr;
  AVIOContext* io = nullptr;  // memory input only
  MemoryInput memory{};
  AVCodecContext* codec = nullptr;
  SwsContext* scaler = nullptr;
  AVPacket* packet = nullptr;
  AVPacket* pending = nullptr;  // a chunk held back while the decoder drains before it
  size_t pending_entry = 0;
  Mpeg4PacketLook pending_look;
  bool pending_damaged = false;
  AVPacket* packed = nullptr;  // a B-frame split from a packed chunk, waiting for its place
  PictureKind packed_kind = PictureKind::Droppable;
  bool packed_damaged = false;
  AVPacket* spare = nullptr;
  AVFrame* frame = nullptr;
  int stream = -1;
  MovieStreamInfo info{};
  MoviePacketIndex index;
  ScaledFrame scaled;
  const uint32_t* pixels = nullptr;  // the held frame, inside scaled
  int64_t held = -1;                 // the position whose frame is in pixels
  std::vector<uint32_t> palette;     // paletted formats: sent with the first picture of a decode
  // The decode since the last seek.
  bool decoding = false;      // false: the next read seeks
  bool ended = false;         // no picture is left to send and the decoder is draining
  size_t first_packet = 0;    // the key entry it began at
  size_t next_packet = 0;     // the entry to send next
  MovieFrameOrder order;
  MovieDamage damage;
  std::deque<WaitingFrame> waiting;
  bool palette_sent = false;
  bool reorders = false;           // the codec may store frames out of display order
  bool mpeg4 = false;
  bool h264 = false;
  bool skips = false;              // the decoder makes no frame of a picture marked not coded
  bool intra_only = false;         // every picture is a key picture
  bool restart = false;            // the key the decode began at begins nothing: begin again
  int time_bits = 0;               // MPEG-4: the length of a picture's time increment
  std::vector<uint8_t> layer;      // MPEG-4: the last video object layer header sent since the seek
  int start_depth = 0;             // the decoder's reorder depth at the seek
  int depth = 0;                   // its depth since
  bool raised_late = false;        // it raised its depth after frames came out
  int64_t last_sent = -1;          // the position of the last picture sent
  int64_t owed = 0;                // pictures sent whose frames have not come out
  bool any_out = false;            // a frame came out since the seek
  std::vector<int64_t> damaged;    // positions of damaged pictures sent whose frames have not come out
  std::deque<AVFrame*> held_back;  // frames out since then, not yet placed; an empty one marks a picture that made none
};

namespace {

// Closes a file that cannot be read, saying why in *error.
MovieFile* refuse(MovieFile* f, std::string* error, const char* why) {
  if (error != nullptr) *error = why;
  movie_file_close(f);
  return nullptr;
}

void free_held_back(MovieFile* f) {
  for (AVFrame*& fr : f->held_back) f->av->av_frame_free(&fr);
  f->held_back.clear();
}

void free_waiting(MovieFile* f) {
  for (WaitingFrame& w : f->waiting) f->av->av_frame_free(&w.frame);
  f->waiting.clear();
}

WaitingFrame* find_waiting(MovieFile* f, int64_t position) {
  for (WaitingFrame& w : f->waiting)
    if (w.position == position) return &w;
  return nullptr;
}

// Keeps the frame just out (f->frame) at its position.
void keep_waiting(MovieFile* f, int64_t position) {
  if (f->waiting.size() >= kMaxWaiting) {
    f->av->av_frame_free(&f->waiting.front().frame);
    f->waiting.pop_front();
  }
  f->waiting.push_back(WaitingFrame{position, f->frame->pts, f->frame, -1});
  f->frame = nullptr;
}

// Judges the kept frames that can be judged now.
void judge_waiting(MovieFile* f) {
  for (WaitingFrame& w : f->waiting)
    if (w.verdict < 0) w.verdict = damage_judge(&f->damage, w.pts);
}

void drop_waiting(MovieFile* f, int64_t position) {
  for (auto it = f->waiting.begin(); it != f->waiting.end(); ++it) {
    if (it->position != position) continue;
    f->av->av_frame_free(&it->frame);
    f->waiting.erase(it);
    return;
  }
}

void lose(MovieFile* f, size_t packet) { frame_order_lose(&f->order, &f->index, packet); }

// What others may do with the picture in these bytes (movie_damage.h).
PictureKind kind_of(const MovieFile* f, size_t e, const uint8_t* data, size_t size, const Mpeg4PacketLook& look) {
  if (f->intra_only) return PictureKind::Refresh;
  if (f->mpeg4) {
    if (!look.first_coded) return PictureKind::NotCoded;
    if (look.first_type == MPEG4_I) return PictureKind::Intra;
    if (look.first_type == MPEG4_B) return PictureKind::Droppable;
    return PictureKind::Reference;
  }
  if (f->h264) {
    const H264PacketLook h = h264_packet_look(data, size);
    if (h.idr) return PictureKind::Refresh;
    if (h.intra) return PictureKind::Intra;
    return h.slice && !h.reference ? PictureKind::Droppable : PictureKind::Reference;
  }
  // Other codecs do not say: a key found to be one needs nothing before it.
  const MoviePacket& p = f->index.packets[e];
  return e == f->first_packet || (p.key && p.checked) ? PictureKind::Intra : PictureKind::Reference;
}

// Reads the chunk of entry `e` into pkt as the picture at its position.
// False when it cannot be read at all; *damaged when it is not whole.
bool read_chunk(MovieFile* f, size_t e, AVPacket* pkt, bool* damaged) {
  const MoviePacket& p = f->index.packets[e];
  if (p.size > kMaxChunkBytes || f->av->av_new_packet(pkt, static_cast<int>(p.size)) < 0) return false;
  AVIOContext* pb = f->format->pb;
  const int got = f->av->avio_seek(pb, p.offset, SEEK_SET) == p.offset
                      ? f->av->avio_read(pb, pkt->data, static_cast<int>(p.size))
                      : -1;
  if (got <= 0) {
    f->av->av_packet_unref(pkt);
    return false;
  }
  *damaged = p.damaged || got < static_cast<int>(p.size);
  pkt->size = got;
  pkt->pts = pkt->dts = p.position;
  pkt->pos = p.offset;
  if (p.key) pkt->flags |= AV_PKT_FLAG_KEY;
  if (!f->palette.empty() && !f->palette_sent) {
    uint8_t* side = f->av->av_packet_new_side_data(pkt, AV_PKT_DATA_PALETTE, AVPALETTE_SIZE);
    if (side != nullptr) std::memcpy(side, f->palette.data(), AVPALETTE_SIZE);
    f->palette_sent = side != nullptr;
  }
  return true;
}

// The key a decode begins at must make a key picture alone (the others are
// checked as their frames come out). A key that fails joins the segment
// before, and the decode begins again: false.
bool check_key(MovieFile* f, const AVPacket* pkt, size_t e) {
  MoviePacket& entry = f->index.packets[e];
  if (e != f->first_packet || e == 0 || !entry.key || entry.checked || f->intra_only) return true;
  entry.checked = true;
  if (key_probe_makes_key(f->av, f->codec, f->format->streams[f->stream]->codecpar, pkt)) return true;
  frame_order_drop_key(&f->order, &f->index, packet_index_segment(&f->index, e));
  return false;
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

// Sends a picture to the decoder as the one of entry `e`, at the position in
// its pts.
void send(MovieFile* f, AVPacket* pkt, size_t e, PictureKind kind, bool damaged) {
  const int64_t position = pkt->pts;
  damage_sent(&f->damage, position, kind, damaged);
  const int sent = f->av->avcodec_send_packet(f->codec, pkt);
  f->av->av_packet_unref(pkt);
  f->last_sent = position;
  if (sent < 0) {
    // A refused picture loses its frame, not the movie.
    lose(f, e);
    damage_lost(&f->damage, position);
    return;
  }
  ++f->owed;
  if (damaged) f->damaged.push_back(position);
}

// Sends the waiting B-frame (f->packed) as the picture of entry `e`.
void send_packed(MovieFile* f, size_t e) {
  f->packed->pts = f->packed->dts = f->index.packets[e].position;
  send(f, f->packed, e, f->packed_kind, f->packed_damaged);
}

// Packing writers store the first B-frame after a reference picture in that
// picture's chunk, each further B-frame one chunk early, and a placeholder
// (a picture marked not coded, or an empty chunk) where the reference
// picture is shown: [I0] [P3 B1] [B2] [placeholder]. Split into pictures of
// their own and each sent at the next position, they come out of the
// decoder in the order of the positions, as from a decoder that knows of the
// packing. Sends the chunk of entry `e` that way.
void send_chunk(MovieFile* f, AVPacket* pkt, size_t e, const Mpeg4PacketLook& look, bool damaged) {
  const PictureKind kind = kind_of(f, e, pkt->data, static_cast<size_t>(pkt->size), look);
  if (f->packed->data != nullptr) {
    if (look.second_picture == 0 && kind == PictureKind::NotCoded) {
      // The placeholder: the waiting B-frame takes its place.
      f->av->av_packet_unref(pkt);
      send_packed(f, e);
      return;
    }
    if (look.second_picture == 0 && look.first_type == MPEG4_B) {
      // The next B-frame of the group: the waiting one takes its place, and
      // it waits in turn.
      f->av->av_packet_move_ref(f->spare, f->packed);
      f->av->av_packet_move_ref(f->packed, pkt);
      std::swap(f->spare, f->packed);
      send_packed(f, e);
      std::swap(f->spare, f->packed);
      f->packed_kind = kind;
      f->packed_damaged = damaged;
      return;
    }
    // Nowhere to show it: the frames of its segment from here lose their
    // places.
    f->av->av_packet_unref(f->packed);
    lose(f, e);
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
    send_packed(f, e);
    return true;
  }
  const bool empty = e < packets.size() ? packets[e].position > next : next < f->index.readable_end;
  const int64_t last = packet_index_find(&f->index, f->last_sent);
  if (!empty || last < 0 || static_cast<size_t>(last) + 1 != e) return false;
  packet_index_insert(&f->index, static_cast<size_t>(last), next);
  ++f->next_packet;
  send_packed(f, e);
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
    // A waiting B-frame with no place left, or a file cut short: what is
    // lost may belong before any frame the decoder still holds.
    if (f->packed->data != nullptr || f->index.readable_end < static_cast<int64_t>(f->info.frame_count))
      lose(f, f->next_packet);
    f->av->av_packet_unref(f->packed);
    f->ended = true;
    f->av->avcodec_send_packet(f->codec, nullptr);
    return true;
  }
  const size_t e = f->next_packet++;
  bool damaged = false;
  if (packets[e].packed || !read_chunk(f, e, f->packet, &damaged)) {
    // A picture that is not sent: its frame will not come, and what may
    // refer to it is not made whole. A packed B-frame whose chunk this
    // decode did not send is one nothing refers to.
    lose(f, e);
    damage_sent(&f->damage, packets[e].position, packets[e].packed ? PictureKind::Droppable : PictureKind::Reference,
                true);
    damage_lost(&f->damage, packets[e].position);
    return true;
  }
  if (!check_key(f, f->packet, e)) {
    f->av->av_packet_unref(f->packet);
    f->restart = true;
    return false;
  }
  const Mpeg4PacketLook look = f->mpeg4 ? mpeg4_packet_look(f->packet->data, static_cast<size_t>(f->packet->size),
                                                            f->time_bits)
                                        : Mpeg4PacketLook{};
  if (look.time_bits != 0) f->time_bits = look.time_bits;
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
  for (int64_t position : f->damaged) damage_lost(&f->damage, position);
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

// The next frame out of the decoder into f->frame, with the entry whose
// position it fills in *entry (-1 when unknown); false at the end of the
// stream or on an error.
bool next_frame(MovieFile* f, int64_t* entry) {
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
    // frame waits until the picture after it has been sent.
    const bool may_be_early = f->reorders && f->depth == 0 && !f->ended && !stalled && !f->held_back.empty() &&
                              f->held_back.front()->pts >= f->last_sent;
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
      if (made) return true;
    }
    AVFrame* fr = f->av->av_frame_alloc();
    if (fr == nullptr) return false;
    const int got = f->av->avcodec_receive_frame(f->codec, fr);
    if (got == 0) {
      f->any_out = true;
      --f->owed;
      f->held_back.push_back(fr);
      damage_out(&f->damage, fr->pts, fr->decode_error_flags != 0, !f->reorders);
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
    if (got == AVERROR_EOF) damage_end(&f->damage);
    if (got == AVERROR(EAGAIN)) {
      note_no_frame(f);
      if (feed(f)) continue;
      if (f->restart) return false;
    }
    stalled = true;
    if (!f->damaged.empty()) {
      give_up_damaged(f);
      continue;
    }
    if (f->held_back.empty()) return false;
  }
}

bool start_at(MovieFile* f, size_t segment) {
  const size_t key = f->index.keys[segment];
  f->av->avcodec_flush_buffers(f->codec);
  free_held_back(f);
  free_waiting(f);
  f->damaged.clear();
  f->decoding = true;
  f->ended = false;
  f->restart = false;
  f->palette_sent = false;
  f->layer.clear();
  f->av->av_packet_unref(f->pending);
  f->av->av_packet_unref(f->packed);
  f->first_packet = f->next_packet = key;
  frame_order_start(&f->order, segment);
  damage_begin(&f->damage);
  f->start_depth = f->depth = f->codec->has_b_frames;
  f->raised_late = false;
  f->any_out = false;
  f->last_sent = -1;
  f->owed = 0;
  return true;
}

bool convert(MovieFile* f, const AVFrame* fr) {
  if (fr->width < 1 || fr->height < 1 || fr->width > kMovieMaxSide || fr->height > kMovieMaxSide || fr->format < 0)
    return false;
  f->scaler = f->av->sws_getCachedContext(f->scaler, fr->width, fr->height, static_cast<AVPixelFormat>(fr->format),
                                          f->info.width, f->info.height, AV_PIX_FMT_RGB32, SWS_BILINEAR, nullptr,
                                          nullptr, nullptr);
  if (f->scaler == nullptr) return false;
  f->pixels = scaled_frame_convert(&f->scaled, f->av, f->scaler, fr);
  return f->pixels != nullptr;
}

enum class FrameRead { Held, Lost, Uncoded };

// Decodes the frame of entry `p` into the held frame. It is shown once it is
// judged made whole from whole pictures (movie_damage.h); frames that come
// out while it waits for that are kept, as the next reads want them.
FrameRead read_entry(MovieFile* f, size_t p) {
  // Entries found packed into the chunk before them join the index as the
  // decode goes: the one asked for is followed by its position.
  const int64_t target = f->index.packets[p].position;
  if (find_waiting(f, target) == nullptr) {
    // Decoding on is cheaper than a seek unless the key it would go to lies
    // well ahead.
    const size_t start = frame_order_start_segment(&f->index, p);
    const bool on = f->decoding && frame_order_will_place(&f->order, &f->index, p) &&
                    f->index.keys[start] <= f->next_packet + kForwardLimit;
    if (!on && !start_at(f, start)) return FrameRead::Lost;
  }
  for (;;) {
    p = static_cast<size_t>(packet_index_find(&f->index, target));
    judge_waiting(f);
    if (const WaitingFrame* w = find_waiting(f, target)) {
      if ((w->frame->flags & AV_FRAME_FLAG_CORRUPT) != 0) {
        // Made from a key that needs the pictures before it (a refresh
        // spread over several pictures): that key begins nothing.
        const size_t began = static_cast<size_t>(f->order.began_at);
        if (began == 0) return FrameRead::Lost;
        frame_order_drop_key(&f->order, &f->index, began);
        if (start_at(f, frame_order_start_segment(&f->index, p))) continue;
        return FrameRead::Lost;
      }
      if (w->verdict == 0) return FrameRead::Lost;
      if (w->verdict == 1) {
        const bool ok = convert(f, w->frame);
        f->held = ok ? target : -1;
        drop_waiting(f, target);
        return ok ? FrameRead::Held : FrameRead::Lost;
      }
    }
    const bool waits = find_waiting(f, target) != nullptr;
    int64_t got = -1;
    if (!next_frame(f, &got)) {
      f->decoding = false;
      if (f->restart && start_at(f, frame_order_start_segment(&f->index, p))) continue;
      // Drained: a frame that waited is judged now.
      if (waits) {
        judge_waiting(f);
        if (find_waiting(f, target)->verdict >= 0) continue;
      }
      return f->index.packets[p].uncoded ? FrameRead::Uncoded : FrameRead::Lost;
    }
    const int64_t position = got >= 0 ? f->index.packets[static_cast<size_t>(got)].position : -1;
    if (position >= 0 && (position == target || waits)) {
      keep_waiting(f, position);
      continue;
    }
    f->av->av_frame_unref(f->frame);
    if (waits) continue;
    if (f->index.packets[p].uncoded) return FrameRead::Uncoded;
    if (frame_order_will_place(&f->order, &f->index, p)) continue;
    // The decoder met frames stored out of order that the file's header
    // denied, and knows it now: a decode begun again places them.
    if (f->codec->has_b_frames > f->start_depth && start_at(f, frame_order_start_segment(&f->index, p))) continue;
    // Past its place, or its place is no longer known: lost.
    return FrameRead::Lost;
  }
}

// Whether a chunk's first bytes show a picture that may begin a decode.
bool mpeg4_may_begin(const uint8_t* data, size_t size) {
  const Mpeg4PictureType type = mpeg4_first_picture(data, size);
  return type == MPEG4_NONE || type == MPEG4_I;
}

bool h264_may_begin(const uint8_t* data, size_t size) {
  const H264PacketLook h = h264_packet_look(data, size);
  return !h.slice || h.idr || h.intra || h.recovery;
}

bool any_may_begin(const uint8_t*, size_t) { return true; }

// Paletted formats carry their palette after the frame header's fields; the
// decoder takes it with the first picture.
std::vector<uint32_t> stream_palette(const AVCodecParameters* par) {
  if (par->bits_per_coded_sample <= 0 || par->bits_per_coded_sample > 8 || par->extradata_size <= 0) return {};
  const int entries = std::min(1 << par->bits_per_coded_sample, par->extradata_size / 4);
  const uint8_t* src = par->extradata + par->extradata_size - entries * 4;
  std::vector<uint32_t> palette(AVPALETTE_COUNT, 0xFF000000u);
  for (int i = 0; i < entries; ++i)
    palette[static_cast<size_t>(i)] = 0xFF000000u | src[4 * i] | src[4 * i + 1] << 8 | src[4 * i + 2] << 16;
  return palette;
}

// Whether any picture of the movie can be made: the first, else one of the
// first key frames after it (a damaged first picture spoils only its own
// segment).
bool any_frame(MovieFile* f) {
  if (movie_file_frame(f, 0) != nullptr) return true;
  std::vector<int64_t> keys;
  for (size_t s = 1; s < f->index.keys.size() && keys.size() < kOpenTries; ++s)
    keys.push_back(f->index.packets[f->index.keys[s]].position);
  for (int64_t position : keys)
    if (movie_file_frame(f, static_cast<uint32_t>(position)) != nullptr) return true;
  return false;
}

MovieFile* open_input(MovieFile* f, const char* url, std::string* error) {
  const AVInputFormat* avi = f->av->av_find_input_format("avi");
  if (f->av->avformat_open_input(&f->format, url, avi, nullptr) < 0) {
    f->format = nullptr;  // freed by the failed open
    return refuse(f, error, "not an AVI file or it cannot be read");
  }
  for (unsigned i = 0; i < f->format->nb_streams; ++i) {
    if (f->format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
      f->stream = static_cast<int>(i);
      break;
    }
  }
  if (f->stream < 0) return refuse(f, error, "the file holds no video stream");
  const AVStream* st = f->format->streams[f->stream];
  const AVCodecParameters* par = st->codecpar;
  if (par->width < 1 || par->height < 1 || par->width > kMovieMaxSide || par->height > kMovieMaxSide)
    return refuse(f, error, "the frame size is missing or too large");
  // What the header counts; the chunks may hold more (movie_packet_index.h).
  const int64_t counted = st->nb_frames > 0 ? st->nb_frames : std::max<int64_t>(st->duration, 0);
  if (counted > kMovieMaxFrames) return refuse(f, error, "the frame count is too large");
  // The stream's time base is scale / rate: one tick a frame.
  if (st->time_base.num <= 0 || st->time_base.den <= 0) return refuse(f, error, "the frame rate is missing");
  f->info = MovieStreamInfo{0, static_cast<uint32_t>(st->time_base.den), static_cast<uint32_t>(st->time_base.num),
                            par->width, par->height};

  const AVCodec* decoder = f->av->avcodec_find_decoder(par->codec_id);
  f->codec = decoder != nullptr ? f->av->avcodec_alloc_context3(decoder) : nullptr;
  if (f->codec == nullptr || f->av->avcodec_parameters_to_context(f->codec, par) < 0)
    return refuse(f, error, "the video format is not supported");
  f->codec->thread_count = 1;
  // Frames the decoder cannot vouch for come out too, so that none goes
  // missing from the count: after a seek to an open group's key, its H.264
  // decoder would hold back the frames it made before that key's own frame
  // came out, and drop them at the end of the stream.
  f->codec->flags |= AV_CODEC_FLAG_OUTPUT_CORRUPT;
  // An H.264 stream that does not state its reorder depth would have its
  // decoder guess low and raise the depth as frames come out of order,
  // dropping one each time; held to the standard, the decoder takes the
  // depth its level allows from the start.
  if (par->codec_id == AV_CODEC_ID_H264) f->codec->strict_std_compliance = FF_COMPLIANCE_STRICT;
  f->codec->max_pixels = static_cast<int64_t>(kMovieMaxSide) * kMovieMaxSide;
  f->packet = f->av->av_packet_alloc();
  f->pending = f->av->av_packet_alloc();
  f->packed = f->av->av_packet_alloc();
  f->spare = f->av->av_packet_alloc();
  f->frame = f->av->av_frame_alloc();
  if (f->av->avcodec_open2(f->codec, decoder, nullptr) < 0 || f->packet == nullptr || f->pending == nullptr ||
      f->packed == nullptr || f->spare == nullptr || f->frame == nullptr)
    return refuse(f, error, "the video format is not supported");
  // Codecs that never store frames out of display order have no leading
  // pictures to find out about.
  const AVCodecDescriptor* desc = f->av->avcodec_descriptor_get(par->codec_id);
  f->reorders = desc == nullptr || (desc->props & AV_CODEC_PROP_REORDER) != 0;
  f->mpeg4 = par->codec_id == AV_CODEC_ID_MPEG4;
  f->h264 = par->codec_id == AV_CODEC_ID_H264;
  f->skips = f->mpeg4;
  f->intra_only = desc != nullptr && (desc->props & AV_CODEC_PROP_INTRA_ONLY) != 0;
  if (f->mpeg4 && par->extradata != nullptr)
    f->time_bits = mpeg4_packet_look(par->extradata, static_cast<size_t>(par->extradata_size), 0).time_bits;
  f->palette = stream_palette(par);
  const MovieKeyLook key_look = f->mpeg4 ? mpeg4_may_begin : f->h264 ? h264_may_begin : any_may_begin;
  bool whole = false;
  const std::vector<MovieChunk> chunks = movie_chunks_scan(f->av, f->format->pb, st->id, key_look, &whole);
  if (!packet_index_build(&f->index, chunks, whole, counted, f->reorders))
    return refuse(f, error, "the file holds no frames");
  f->info.frame_count = static_cast<uint32_t>(f->index.length);
  scaled_frame_size(&f->scaled, f->info.width, f->info.height);
  if (!any_frame(f)) return refuse(f, error, "no frame of the file can be read");
  return f;
}

}  // namespace

MovieFile* movie_file_open(const std::string& path, std::string* error) {
  const MovieApi* av = movie_api(error);
  if (av == nullptr) return nullptr;
  const std::string host = sys_map_path(path);
  MovieFile* f = new MovieFile;
  f->av = av;
  return open_input(f, host.c_str(), error);
}

MovieFile* movie_file_open_memory(const void* data, size_t size, std::string* error) {
  const MovieApi* av = movie_api(error);
  if (av == nullptr) return nullptr;
  MovieFile* f = new MovieFile;
  f->av = av;
  f->memory = MemoryInput{static_cast<const uint8_t*>(data), data != nullptr ? size : 0, 0};
  f->format = f->av->avformat_alloc_context();
  uint8_t* buffer = static_cast<uint8_t*>(f->av->av_malloc(kIoBufferSize));
  if (f->format != nullptr && buffer != nullptr)
    f->io = f->av->avio_alloc_context(buffer, kIoBufferSize, 0, &f->memory, memory_read, nullptr, memory_seek);
  if (f->io == nullptr) {
    f->av->av_free(buffer);
    return refuse(f, error, "out of memory");
  }
  f->format->pb = f->io;
  f->format->flags |= AVFMT_FLAG_CUSTOM_IO;
  return open_input(f, nullptr, error);
}

void movie_file_close(MovieFile* f) {
  if (f == nullptr) return;
  f->av->sws_freeContext(f->scaler);
  free_held_back(f);
  free_waiting(f);
  f->av->av_frame_free(&f->frame);
  f->av->av_packet_free(&f->packet);
  f->av->av_packet_free(&f->pending);
  f->av->av_packet_free(&f->packed);
  f->av->av_packet_free(&f->spare);
  f->av->avcodec_free_context(&f->codec);
  f->av->avformat_close_input(&f->format);
  if (f->io != nullptr) {
    f->av->av_freep(&f->io->buffer);
    f->av->avio_context_free(&f->io);
  }
  delete f;
}

MovieStreamInfo movie_file_info(const MovieFile* f) { return f != nullptr ? f->info : MovieStreamInfo{}; }

const uint32_t* movie_file_frame(MovieFile* f, uint32_t index) {
  if (f == nullptr || f->codec == nullptr || index >= f->info.frame_count) return nullptr;
  for (;;) {
    const int64_t shown = packet_index_shown(&f->index, index);
    if (shown < 0) return nullptr;
    const int64_t position = f->index.packets[static_cast<size_t>(shown)].position;
    if (position == f->held) return f->pixels;
    // A picture found to make no frame shows an earlier one, and one found
    // packed into the chunk before it a later one: look again.
    const FrameRead read = read_entry(f, static_cast<size_t>(shown));
    if (read == FrameRead::Uncoded) continue;
    if (read == FrameRead::Lost) return nullptr;
    const int64_t now = packet_index_shown(&f->index, index);
    if (now >= 0 && f->index.packets[static_cast<size_t>(now)].position == f->held) return f->pixels;
  }
}
