#include "platform/movie/movie_file.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <vector>

extern "C" {
#include <libavutil/error.h>
}

#include "platform/movie/movie_library.h"
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

// Each picture sent to the decoder carries its position as its timestamp,
// which the decoder hands on to the frame it makes, in display order. The
// frames of a segment fill the segment's positions in that order: counted
// from the segment's first frame when the decode came through the segment
// before, or from the key's own frame (its leading count) when it began at
// that key. A loss (a picture missing or refused, a damaged one dropped, a
// reorder depth the decoder raises after handing out frames) leaves the
// place of every later frame of its segment unknown; those are not shown,
// and the next segment is counted from its key again.
struct MovieFile {
  const MovieApi* av = nullptr;
  AVFormatContext* format = nullptr;
  AVIOContext* io = nullptr;  // memory input only
  MemoryInput memory{};
  AVCodecContext* codec = nullptr;
  SwsContext* scaler = nullptr;
  AVPacket* packet = nullptr;
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
  int64_t lost_segment = -1;  // the last segment with a loss, or the one before the start
  int64_t out_segment = -1;   // the segment of the last frame out
  int64_t out_next = -1;      // that segment's slot for its next frame; -1 unknown
  bool awaiting_key = false;  // out_segment is counted from its key's frame
  int depth = 0;              // the decoder's reorder depth at the last frame out
  bool any_out = false;       // a frame came out since the seek
  std::vector<int64_t> damaged;   // positions of damaged pictures sent whose frames have not come out
  std::deque<AVFrame*> held_back;  // frames out since then, not yet counted
};

namespace {

void fail(std::string* error, const std::string& what) {
  if (error != nullptr) *error = what;
}

void free_held_back(MovieFile* f) {
  for (AVFrame*& fr : f->held_back) f->av->av_frame_free(&fr);
  f->held_back.clear();
}

size_t segment_of(const MovieFile* f, size_t packet) {
  return packet_index_segment(&f->index, std::min(packet, f->index.packets.size() - 1));
}

void lose(MovieFile* f, size_t packet) {
  const int64_t segment = static_cast<int64_t>(segment_of(f, packet));
  f->lost_segment = std::max(f->lost_segment, segment);
  if (f->out_segment >= segment) {
    f->out_next = -1;
    f->awaiting_key = false;
  }
}

// The index entry whose position a frame out of the decoder fills, or -1
// when its place is unknown.
int64_t number(MovieFile* f, const AVFrame* fr) {
  const int64_t e = fr->pts != AV_NOPTS_VALUE ? packet_index_find(&f->index, fr->pts) : -1;
  if (e < 0) return -1;
  const int64_t s = static_cast<int64_t>(segment_of(f, static_cast<size_t>(e)));
  if (s < f->out_segment) return -1;
  if (s > f->out_segment) {
    f->out_segment = s;
    f->awaiting_key = s == f->lost_segment + 1;
    f->out_next = s > f->lost_segment + 1 ? 0 : -1;
  }
  const size_t key = f->index.keys[static_cast<size_t>(s)];
  int32_t& leading = f->index.leading[static_cast<size_t>(s)];
  if (f->awaiting_key) {
    // Frames before the key's own are leading pictures the decoder made
    // without the segment before: not theirs to show.
    if (static_cast<size_t>(e) != key) return -1;
    f->awaiting_key = false;
    f->out_next = leading;
  }
  if (f->out_next < 0) return -1;
  const int64_t slot = static_cast<int64_t>(key) + f->out_next++;
  if (slot >= static_cast<int64_t>(packet_index_segment_end(&f->index, static_cast<size_t>(s)))) {
    f->out_next = -1;
    return -1;
  }
  if (static_cast<size_t>(e) == key) leading = static_cast<int32_t>(slot - static_cast<int64_t>(key));
  // A damaged picture keeps its place, but what it shows is not its frame.
  return f->index.packets[static_cast<size_t>(e)].damaged ? -1 : slot;
}

// Sends the next picture of the stream to the decoder, or at the end of what
// can be read starts its drain. False when the drain has begun already.
bool feed(MovieFile* f) {
  if (f->ended) return false;
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
    f->next_packet = static_cast<size_t>(e) + 1;
    pkt->pts = position;
    const bool damaged = packets[static_cast<size_t>(e)].damaged || (pkt->flags & AV_PKT_FLAG_CORRUPT) != 0;
    const int sent = f->av->avcodec_send_packet(f->codec, pkt);
    f->av->av_packet_unref(pkt);
    if (sent < 0)
      lose(f, static_cast<size_t>(e));  // a refused picture loses its frame, not the movie
    else if (damaged)
      f->damaged.push_back(position);
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
  f->damaged.clear();
}

// The next frame out of the decoder into f->frame, with the entry whose
// position it fills in *entry (-1 when unknown); false at the end of the
// stream or on an error.
bool next_frame(MovieFile* f, int64_t* entry) {
  for (;;) {
    if (!f->held_back.empty() && f->damaged.empty()) {
      f->av->av_frame_free(&f->frame);
      f->frame = f->held_back.front();
      f->held_back.pop_front();
      *entry = number(f, f->frame);
      return true;
    }
    AVFrame* fr = f->av->av_frame_alloc();
    if (fr == nullptr) return false;
    const int got = f->av->avcodec_receive_frame(f->codec, fr);
    if (got == 0) {
      // A depth raised after frames came out means one came out too early
      // or was dropped.
      if (f->codec->has_b_frames > f->depth && f->any_out && f->next_packet > 0) lose(f, f->next_packet - 1);
      f->depth = std::max(f->depth, f->codec->has_b_frames);
      f->any_out = true;
      f->held_back.push_back(fr);
      const auto it = std::find(f->damaged.begin(), f->damaged.end(), fr->pts);
      if (it != f->damaged.end()) f->damaged.erase(it);
      if (!f->damaged.empty() && f->held_back.size() > kMaxHeldBack) give_up_damaged(f);
      continue;
    }
    f->av->av_frame_free(&fr);
    if (got == AVERROR(EAGAIN) && feed(f)) continue;
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
  f->first_packet = f->next_packet = key;
  f->lost_segment = static_cast<int64_t>(segment) - 1;
  f->out_segment = f->lost_segment;
  f->out_next = -1;
  f->awaiting_key = false;
  f->depth = f->codec->has_b_frames;
  f->any_out = false;
  return true;
}

// Whether decoding on from where the decode is reaches entry p of segment s
// with its place known, without passing more pictures than a seek to the
// key at `start` would.
bool decode_reaches(const MovieFile* f, size_t p, size_t s, bool from_key, size_t start) {
  if (!f->decoding) return false;
  const int64_t seg = static_cast<int64_t>(s);
  if (seg < f->out_segment) return false;
  if (seg == f->out_segment) {
    if (f->awaiting_key) return from_key;
    return f->out_next >= 0 && static_cast<int64_t>(p - f->index.keys[s]) >= f->out_next;
  }
  if (seg <= f->lost_segment || (seg == f->lost_segment + 1 && !from_key)) return false;
  return f->index.keys[start] <= f->next_packet + kForwardLimit;
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

MovieFile* open_input(MovieFile* f, const char* url, std::string* error) {
  const AVInputFormat* avi = f->av->av_find_input_format("avi");
  if (f->av->avformat_open_input(&f->format, url, avi, nullptr) < 0) {
    f->format = nullptr;  // freed by the failed open
    fail(error, "not an AVI file or it cannot be read");
    movie_file_close(f);
    return nullptr;
  }
  for (unsigned i = 0; i < f->format->nb_streams; ++i) {
    if (f->format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
      f->stream = static_cast<int>(i);
      break;
    }
  }
  if (f->stream < 0) {
    fail(error, "the file holds no video stream");
    movie_file_close(f);
    return nullptr;
  }
  const AVStream* st = f->format->streams[f->stream];
  const AVCodecParameters* par = st->codecpar;
  if (par->width < 1 || par->height < 1 || par->width > kMovieMaxSide || par->height > kMovieMaxSide) {
    fail(error, "the frame size is missing or too large");
    movie_file_close(f);
    return nullptr;
  }
  const int64_t length = st->nb_frames > 0 ? st->nb_frames : st->duration;
  if (length < 1 || length > kMovieMaxFrames) {
    fail(error, "the frame count is missing or too large");
    movie_file_close(f);
    return nullptr;
  }
  // The stream's time base is scale / rate: one tick a frame.
  if (st->time_base.num <= 0 || st->time_base.den <= 0) {
    fail(error, "the frame rate is missing");
    movie_file_close(f);
    return nullptr;
  }
  f->start_pts = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
  f->info = MovieStreamInfo{static_cast<uint32_t>(length), static_cast<uint32_t>(st->time_base.den),
                            static_cast<uint32_t>(st->time_base.num), par->width, par->height};

  const AVCodec* decoder = f->av->avcodec_find_decoder(par->codec_id);
  f->codec = decoder != nullptr ? f->av->avcodec_alloc_context3(decoder) : nullptr;
  if (f->codec == nullptr || f->av->avcodec_parameters_to_context(f->codec, par) < 0) {
    fail(error, "the video format is not supported");
    movie_file_close(f);
    return nullptr;
  }
  f->codec->thread_count = 1;
  // Frames the decoder cannot vouch for come out too, so that none goes
  // missing from the count: after a seek to an open group's key, its H.264
  // decoder would hold back the frames it made before that key's own frame
  // came out, and drop them at the end of the stream.
  f->codec->flags |= AV_CODEC_FLAG_OUTPUT_CORRUPT;
  f->codec->max_pixels = static_cast<int64_t>(kMovieMaxSide) * kMovieMaxSide;
  f->packet = f->av->av_packet_alloc();
  f->frame = f->av->av_frame_alloc();
  if (f->av->avcodec_open2(f->codec, decoder, nullptr) < 0 || f->packet == nullptr || f->frame == nullptr) {
    fail(error, "the video format is not supported");
    movie_file_close(f);
    return nullptr;
  }
  // Codecs that never store frames out of display order have no leading
  // pictures to find out about.
  const AVCodecDescriptor* desc = f->av->avcodec_descriptor_get(par->codec_id);
  const bool reorders = desc == nullptr || (desc->props & AV_CODEC_PROP_REORDER) != 0;
  if (!packet_index_build(&f->index, f->av, f->format, f->stream, f->start_pts, length, reorders)) {
    fail(error, "the file holds no frames");
    movie_file_close(f);
    return nullptr;
  }
  scaled_frame_size(&f->scaled, f->info.width, f->info.height);
  if (movie_file_frame(f, 0) == nullptr) {
    fail(error, "the first frame cannot be read");
    movie_file_close(f);
    return nullptr;
  }
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
    fail(error, "out of memory");
    movie_file_close(f);
    return nullptr;
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
  const int64_t shown = packet_index_shown(&f->index, index);
  if (shown < 0) return nullptr;
  if (shown == f->held) return f->pixels;
  const size_t p = static_cast<size_t>(shown);
  const size_t s = packet_index_segment(&f->index, p);
  const int32_t leading = f->index.leading[s];
  // From the segment's key when its frames are known to start there, else
  // from the key before, which makes the leading ones too.
  const bool from_key = leading >= 0 && static_cast<int64_t>(p - f->index.keys[s]) >= leading;
  const size_t start = from_key || s == 0 ? s : s - 1;
  if (!decode_reaches(f, p, s, from_key, start) && !start_at(f, start)) return nullptr;
  for (;;) {
    int64_t got = -1;
    if (!next_frame(f, &got)) {
      f->decoding = false;
      return nullptr;
    }
    if (got == shown) {
      const bool ok = convert(f);
      f->av->av_frame_unref(f->frame);
      f->held = ok ? shown : -1;
      return ok ? f->pixels : nullptr;
    }
    f->av->av_frame_unref(f->frame);
    // Past its place, or its segment's places are no longer known: lost.
    const int64_t seg = static_cast<int64_t>(s);
    if (got > shown || f->out_segment > seg || (f->out_segment == seg && f->out_next < 0 && !f->awaiting_key))
      return nullptr;
  }
}
