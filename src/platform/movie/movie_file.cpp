#include "platform/movie/movie_file.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <vector>

extern "C" {
#include <libavutil/error.h>
}

#include "platform/movie/movie_frame_order.h"
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
constexpr int kIoBufferSize = 4096;

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

}  // namespace

struct MovieFile {
  const MovieApi* av = nullptr;
  AVFormatContext* format = nullptr;
  AVIOContext* io = nullptr;  // memory input only
  MemoryInput memory{};
  AVCodecContext* codec = nullptr;
  MovieKeyProbe probe;
  SwsContext* scaler = nullptr;
  AVPacket* packet = nullptr;
  AVPacket* pending = nullptr;  // a picture held back while the decoder drains before it
  size_t pending_entry = 0;
  AVPacket* packed = nullptr;   // the second picture of a packet that held two, sent next
  AVFrame* frame = nullptr;
  int stream = -1;
  int64_t start_pts = 0;
  MovieStreamInfo info{};
  MoviePacketIndex index;
  ScaledFrame scaled;
  const uint32_t* pixels = nullptr;  // the held frame, inside scaled
  int64_t held = -1;                 // the index entry whose frame is in pixels
  // The decode since the last seek.
  bool decoding = false;      // false: the next read seeks
  bool ended = false;         // the demuxer is done and the decoder is draining
  size_t first_packet = 0;    // the key entry it began at
  size_t next_packet = 0;     // the entry the demuxer should give next
  MovieFrameOrder order;
  bool reorders = false;           // the codec may store frames out of display order
  bool mpeg4 = false;
  bool says_packed = false;        // MPEG-4: the writer's marker says B-frames are packed
  bool skips = false;              // the decoder makes no frame of a picture marked not coded
  bool intra_only = false;         // every picture is a key picture
  bool restart = false;            // the key the decode began at begins nothing: begin again
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

void lose(MovieFile* f, size_t packet) { frame_order_lose(&f->order, &f->index, packet); }

// Whether the packet of entry `e` may be its picture, and a key packet begin
// a decode. A packet that does not come from the entry's own place is
// damaged, and the key a decode begins at must make a key picture alone (the
// others are checked as their frames come out, free). A key that fails joins
// the segment before; false when the decode began at it.
bool check_packet(MovieFile* f, const AVPacket* pkt, size_t e) {
  MoviePacket& entry = f->index.packets[e];
  const bool misplaced = !packet_index_from_place(&f->index, e, pkt->pos);
  // The first picture, read at open, tells whether the index's offsets are
  // in the packets' terms at all.
  if (e == 0) {
    if (misplaced) packet_index_forget_offsets(&f->index);
    return true;
  }
  if (misplaced) entry.damaged = true;
  if (!entry.key || (!misplaced && (e != f->first_packet || entry.checked || f->intra_only))) return true;
  entry.checked = true;
  if (!misplaced && key_probe_makes_key(&f->probe, f->av, f->codec, f->format->streams[f->stream]->codecpar, pkt))
    return true;
  frame_order_drop_key(&f->order, &f->index, packet_index_segment(&f->index, e));
  return e != f->first_packet;
}

// A frame out of the decoder made from a key packet the decode went through
// must be a key picture, or that key begins nothing.
void check_key_frame(MovieFile* f, const AVFrame* fr) {
  const int64_t e = fr->pts != AV_NOPTS_VALUE ? packet_index_find(&f->index, fr->pts) : -1;
  if (e <= 0 || f->intra_only) return;
  MoviePacket& entry = f->index.packets[static_cast<size_t>(e)];
  if (!entry.key || entry.checked) return;
  entry.checked = true;
  if (!key_probe_key_picture(fr))
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

// Sends the picture of entry `e` to the decoder.
void send(MovieFile* f, AVPacket* pkt, size_t e) {
  const bool damaged = f->index.packets[e].damaged || (pkt->flags & AV_PKT_FLAG_CORRUPT) != 0;
  const int64_t position = pkt->pts;
  const int sent = f->av->avcodec_send_packet(f->codec, pkt);
  f->av->av_packet_unref(pkt);
  f->last_sent = position;
  if (sent < 0) {
    lose(f, e);  // a refused picture loses its frame, not the movie
    return;
  }
  ++f->owed;
  if (damaged) f->damaged.push_back(position);
}

// A packet of entry `e` holding two pictures: a B-frame packed after the
// P-frame before it, in a stream that does not say it packs them, whose
// decoder makes only the first. Where the position after it is an empty
// chunk, packing left the B-frame's place there: it is sent next, as that
// position's picture. Elsewhere its place is not known, and what its segment
// gives after it is lost.
void unpack(MovieFile* f, AVPacket* pkt, size_t e, const Mpeg4PacketLook& look) {
  // With the marker the decoder keeps the B-frame and gives it for the
  // placeholder picture after it, as the writer meant.
  f->says_packed = f->says_packed || look.says_packed;
  if (f->says_packed || look.second_picture == 0) return;
  const int at = static_cast<int>(look.second_picture);
  const int64_t next = pkt->pts + 1;
  const int64_t known = packet_index_find(&f->index, next);
  const bool found_before = known >= 0 && f->index.packets[static_cast<size_t>(known)].packed;
  if (next < f->index.readable_end && (known < 0 || found_before) && f->av->av_packet_ref(f->packed, pkt) >= 0) {
    f->packed->data += at;
    f->packed->size -= at;
    f->packed->pts = next;
    pkt->size = at;
    if (found_before) return;
    packet_index_insert(&f->index, e, next);
    if (f->held > static_cast<int64_t>(e)) ++f->held;
    return;
  }
  lose(f, e);
}

// Sends the next picture of the stream to the decoder, or at the end of what
// can be read starts its drain. False when the drain has begun already, or
// when the decode must begin again (f->restart).
bool feed(MovieFile* f) {
  if (f->ended) return false;
  if (f->packed->data != nullptr) {
    send(f, f->packed, f->next_packet++);
    return true;
  }
  const auto& packets = f->index.packets;
  while (f->next_packet < packets.size() && f->av->av_read_frame(f->format, f->packet) >= 0) {
    AVPacket* pkt = f->packet;
    const int64_t position = pkt->dts != AV_NOPTS_VALUE ? pkt->dts - f->start_pts : -1;
    if (pkt->stream_index != f->stream || position < 0) {
      f->av->av_packet_unref(pkt);
      continue;
    }
    int64_t e = static_cast<int64_t>(f->next_packet);
    if (position != packets[f->next_packet].position) {
      e = packet_index_find(&f->index, position);
      // Before the key the seek was for, or a picture the index does not
      // hold and so cannot place.
      if (e < static_cast<int64_t>(f->next_packet)) {
        if (position > packets[f->first_packet].position) lose(f, f->next_packet);
        f->av->av_packet_unref(pkt);
        continue;
      }
      lose(f, f->next_packet);  // the pictures the demuxer skipped
    }
    pkt->pts = position;
    if (!check_packet(f, pkt, static_cast<size_t>(e))) {
      f->av->av_packet_unref(pkt);
      f->restart = true;
      return false;
    }
    f->next_packet = static_cast<size_t>(e) + 1;
    const Mpeg4PacketLook look = f->mpeg4 && pkt->data != nullptr
                                     ? mpeg4_packet_look(pkt->data, static_cast<size_t>(pkt->size))
                                     : Mpeg4PacketLook{};
    if (layer_changes(f, pkt, look)) {
      // A decoder drops the frame it holds back when the picture size
      // changes: it gives out everything first, and the picture follows.
      f->av->av_packet_move_ref(f->pending, pkt);
      f->pending_entry = static_cast<size_t>(e);
      f->av->avcodec_send_packet(f->codec, nullptr);
      return true;
    }
    unpack(f, pkt, static_cast<size_t>(e), look);
    send(f, pkt, static_cast<size_t>(e));
    return true;
  }
  // Pictures the index holds that never came, or a file cut short: the lost
  // ones may belong before any frame the decoder still holds.
  if (f->next_packet < packets.size() || f->index.readable_end < static_cast<int64_t>(f->info.frame_count))
    lose(f, f->next_packet);
  f->ended = true;
  f->av->avcodec_send_packet(f->codec, nullptr);
  return true;
}

// A damaged picture the decoder will not give out: what came out since is
// counted without it, and its segment is lost.
void give_up_damaged(MovieFile* f) {
  const int64_t e = packet_index_find(&f->index, f->damaged.front());
  lose(f, static_cast<size_t>(std::max<int64_t>(e, 0)));
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
      const auto it = std::find(f->damaged.begin(), f->damaged.end(), fr->pts);
      if (it != f->damaged.end()) f->damaged.erase(it);
      if (!f->damaged.empty() && f->held_back.size() > kMaxHeldBack) give_up_damaged(f);
      continue;
    }
    f->av->av_frame_free(&fr);
    // Drained before a held-back picture: the decode goes on with it.
    if (got == AVERROR_EOF && f->pending->data != nullptr) {
      f->av->avcodec_flush_buffers(f->codec);
      send(f, f->pending, f->pending_entry);
      continue;
    }
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
  if (f->av->av_seek_frame(f->format, f->stream, f->start_pts + f->index.packets[key].position,
                           AVSEEK_FLAG_BACKWARD) < 0)
    return false;
  f->av->avcodec_flush_buffers(f->codec);
  free_held_back(f);
  f->damaged.clear();
  f->decoding = true;
  f->ended = false;
  f->restart = false;
  f->layer.clear();
  f->av->av_packet_unref(f->pending);
  f->av->av_packet_unref(f->packed);
  f->first_packet = f->next_packet = key;
  frame_order_start(&f->order, segment);
  f->start_depth = f->depth = f->codec->has_b_frames;
  f->raised_late = false;
  f->any_out = false;
  f->last_sent = -1;
  f->owed = 0;
  return true;
}

bool convert(MovieFile* f) {
  const AVFrame* fr = f->frame;
  if (fr->width < 1 || fr->height < 1 || fr->width > kMovieMaxSide || fr->height > kMovieMaxSide || fr->format < 0)
    return false;
  f->scaler = f->av->sws_getCachedContext(f->scaler, fr->width, fr->height, static_cast<AVPixelFormat>(fr->format),
                                   f->info.width, f->info.height, AV_PIX_FMT_RGB32, SWS_BILINEAR, nullptr, nullptr,
                                   nullptr);
  if (f->scaler == nullptr) return false;
  f->pixels = scaled_frame_convert(&f->scaled, f->av, f->scaler, fr);
  return f->pixels != nullptr;
}

enum class FrameRead { Held, Lost, Uncoded };

// Whether the decoder vouches for the whole picture.
bool made_whole(const AVFrame* fr) {
  return (fr->flags & AV_FRAME_FLAG_CORRUPT) == 0 && fr->decode_error_flags == 0;
}

// Decodes the frame of entry `p` into the held frame.
FrameRead read_entry(MovieFile* f, size_t p) {
  // Entries found packed into the chunk before them join the index as the
  // decode goes: the one asked for is followed by its position.
  const int64_t target = f->index.packets[p].position;
  size_t entries = f->index.packets.size();
  // Decoding on is cheaper than a seek unless the key it would go to lies
  // well ahead.
  const size_t start = frame_order_start_segment(&f->index, p);
  const bool on = f->decoding && frame_order_will_place(&f->order, &f->index, p) &&
                  f->index.keys[start] <= f->next_packet + kForwardLimit;
  if (!on && !start_at(f, start)) return FrameRead::Lost;
  for (;;) {
    int64_t got = -1;
    const bool out = next_frame(f, &got);
    if (f->index.packets.size() != entries) {
      entries = f->index.packets.size();
      p = static_cast<size_t>(packet_index_find(&f->index, target));
    }
    if (!out) {
      f->decoding = false;
      if (f->restart && start_at(f, frame_order_start_segment(&f->index, p))) continue;
      return f->index.packets[p].uncoded ? FrameRead::Uncoded : FrameRead::Lost;
    }
    if (got == static_cast<int64_t>(p) && made_whole(f->frame)) {
      const bool ok = convert(f);
      f->av->av_frame_unref(f->frame);
      f->held = ok ? got : -1;
      return ok ? FrameRead::Held : FrameRead::Lost;
    }
    f->av->av_frame_unref(f->frame);
    if (got == static_cast<int64_t>(p)) {
      // Made from a key that needs the pictures before it (a refresh spread
      // over several pictures): that key begins nothing.
      const size_t began = static_cast<size_t>(f->order.began_at);
      if (began == 0) return FrameRead::Lost;
      frame_order_drop_key(&f->order, &f->index, began);
      if (start_at(f, frame_order_start_segment(&f->index, p))) continue;
      return FrameRead::Lost;
    }
    if (f->index.packets[p].uncoded) return FrameRead::Uncoded;
    if (frame_order_will_place(&f->order, &f->index, p)) continue;
    // The decoder met frames stored out of order that the file's header
    // denied, and knows it now: a decode begun again places them.
    if (f->codec->has_b_frames > f->start_depth && start_at(f, frame_order_start_segment(&f->index, p))) continue;
    // Past its place, or its place is no longer known: lost.
    return FrameRead::Lost;
  }
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
  // What the header counts; the packets may hold more (movie_packet_index.h).
  const int64_t counted = st->nb_frames > 0 ? st->nb_frames : std::max<int64_t>(st->duration, 0);
  if (counted > kMovieMaxFrames) return refuse(f, error, "the frame count is too large");
  // The stream's time base is scale / rate: one tick a frame.
  if (st->time_base.num <= 0 || st->time_base.den <= 0) return refuse(f, error, "the frame rate is missing");
  f->start_pts = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
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
  f->frame = f->av->av_frame_alloc();
  if (f->av->avcodec_open2(f->codec, decoder, nullptr) < 0 || f->packet == nullptr || f->pending == nullptr ||
      f->packed == nullptr || f->frame == nullptr)
    return refuse(f, error, "the video format is not supported");
  // Codecs that never store frames out of display order have no leading
  // pictures to find out about.
  const AVCodecDescriptor* desc = f->av->avcodec_descriptor_get(par->codec_id);
  f->reorders = desc == nullptr || (desc->props & AV_CODEC_PROP_REORDER) != 0;
  f->mpeg4 = par->codec_id == AV_CODEC_ID_MPEG4;
  f->skips = f->mpeg4;
  f->says_packed = f->mpeg4 && par->extradata != nullptr &&
                   mpeg4_packet_look(par->extradata, static_cast<size_t>(par->extradata_size)).says_packed;
  f->intra_only = desc != nullptr && (desc->props & AV_CODEC_PROP_INTRA_ONLY) != 0;
  if (!packet_index_build(&f->index, f->av, f->format, f->stream, f->start_pts, counted, f->reorders))
    return refuse(f, error, "the file holds no frames");
  f->info.frame_count = static_cast<uint32_t>(f->index.length);
  scaled_frame_size(&f->scaled, f->info.width, f->info.height);
  if (movie_file_frame(f, 0) == nullptr) return refuse(f, error, "the first frame cannot be read");
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
  f->av->av_frame_free(&f->frame);
  f->av->av_packet_free(&f->packet);
  f->av->av_packet_free(&f->pending);
  f->av->av_packet_free(&f->packed);
  f->av->avcodec_free_context(&f->codec);
  key_probe_close(&f->probe, f->av);
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
    if (shown == f->held) return f->pixels;
    // A picture found to make no frame shows an earlier one, and one found
    // packed into the chunk before it a later one: look again.
    const FrameRead read = read_entry(f, static_cast<size_t>(shown));
    if (read == FrameRead::Uncoded || (read == FrameRead::Held && packet_index_shown(&f->index, index) != f->held))
      continue;
    return read == FrameRead::Held ? f->pixels : nullptr;
  }
}
