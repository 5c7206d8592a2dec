#include "platform/movie/movie_file.h"

#include <algorithm>
#include <cstring>
#include <deque>

extern "C" {
#include <libavutil/error.h>
}

#include "platform/movie/movie_library.h"
#include "platform/movie/movie_scaled_frame.h"
#include "platform/sys/sys.h"

namespace {

// Frames decoded forward before a seek is cheaper than going on.
constexpr int64_t kForwardLimit = 32;
// Packets read for one frame before the file is taken to be broken.
constexpr int kPacketsPerFrame = 4096;
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
  SwsContext* scaler = nullptr;
  AVPacket* packet = nullptr;
  AVFrame* frame = nullptr;
  int stream = -1;
  int64_t start_pts = 0;
  MovieStreamInfo info{};
  ScaledFrame scaled;
  const uint32_t* pixels = nullptr;  // the held frame, inside scaled
  int64_t held = -1;                 // the frame index in pixels
  int64_t next_index = -1;  // index of the frame the decoder yields next; -1 unknown
  bool draining = false;    // the demuxer is at its end; the decoder gave what it held
  std::deque<AVFrame*> drained;  // what the decoder gave at the end, not yet taken
  // Positions of the packets sent since the last seek that no frame has taken
  // yet, in file order; the positions of the first and the last of them sent.
  std::deque<int64_t> positions;
  int64_t landed = -1;
  int64_t last_sent = -1;
};

namespace {

void fail(std::string* error, const std::string& what) {
  if (error != nullptr) *error = what;
}

void free_drained(MovieFile* f) {
  for (AVFrame*& fr : f->drained) f->av->av_frame_free(&fr);
  f->drained.clear();
}

// At the end of the stream the decoder gives up every frame it holds. Those
// are the movie's last frames, so they take the last positions open; the
// positions before them belonged to pictures the decoder dropped, as the
// B-frames after a key frame near the end that are shown before it.
bool drain(MovieFile* f) {
  f->draining = true;
  if (f->av->avcodec_send_packet(f->codec, nullptr) < 0) return false;
  for (;;) {
    AVFrame* fr = f->av->av_frame_alloc();
    if (fr == nullptr) return false;
    if (f->av->avcodec_receive_frame(f->codec, fr) != 0) {
      f->av->av_frame_free(&fr);
      break;
    }
    f->drained.push_back(fr);
  }
  while (f->positions.size() > f->drained.size()) f->positions.pop_front();
  return true;
}

bool next_drained(MovieFile* f, int64_t* index) {
  if (f->drained.empty() || f->positions.empty()) return false;
  f->av->av_frame_free(&f->frame);
  f->frame = f->drained.front();
  f->drained.pop_front();
  *index = f->positions.front();
  f->positions.pop_front();
  return true;
}

// The next frame out of the decoder into file->frame, with its index in
// *index; false at the end of the stream or on an error.
//
// AVI packets carry their positions in the file only, while the decoder gives
// frames in display order, later than the packets that hold them when frames
// are reordered. So each frame takes the earliest position still open. A
// decoder holds back at most its reorder delay; positions beyond that whose
// packets gave no frame were dropped (pictures shown before the key frame a
// seek landed on, damaged packets) and are discarded.
bool decode_next(MovieFile* f, int64_t* index) {
  if (f->draining) return next_drained(f, index);
  for (int packets = 0; packets < kPacketsPerFrame; ++packets) {
    const int got = f->av->avcodec_receive_frame(f->codec, f->frame);
    if (got == 0) {
      const size_t kept = static_cast<size_t>(std::max(f->codec->has_b_frames, 0)) + 1;
      while (f->positions.size() > kept) f->positions.pop_front();
      if (f->positions.empty()) {
        f->av->av_frame_unref(f->frame);
        return false;
      }
      *index = f->positions.front();
      f->positions.pop_front();
      return true;
    }
    if (got != AVERROR(EAGAIN)) return false;
    const int read = f->av->av_read_frame(f->format, f->packet);
    if (read < 0) return drain(f) && next_drained(f, index);
    if (f->packet->stream_index == f->stream) {
      const int64_t dts = f->packet->dts;
      const int64_t position = dts != AV_NOPTS_VALUE ? dts - f->start_pts : f->last_sent + 1;
      const int sent = f->av->avcodec_send_packet(f->codec, f->packet);
      if (sent >= 0) {
        f->positions.push_back(position);
        if (f->landed < 0) f->landed = position;
        f->last_sent = position;
      }
      // A damaged packet loses its frame, not the movie.
      if (sent < 0 && sent != AVERROR_INVALIDDATA && sent != AVERROR(EAGAIN)) {
        f->av->av_packet_unref(f->packet);
        return false;
      }
    }
    f->av->av_packet_unref(f->packet);
  }
  return false;
}

bool seek_to(MovieFile* f, int64_t index) {
  if (f->av->av_seek_frame(f->format, f->stream, f->start_pts + index, AVSEEK_FLAG_BACKWARD) < 0 &&
      f->av->av_seek_frame(f->format, f->stream, f->start_pts, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY) < 0)
    return false;
  f->av->avcodec_flush_buffers(f->codec);
  free_drained(f);
  f->draining = false;
  f->next_index = -1;
  f->positions.clear();
  f->landed = -1;
  f->last_sent = -1;
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
  f->codec->max_pixels = static_cast<int64_t>(kMovieMaxSide) * kMovieMaxSide;
  f->packet = f->av->av_packet_alloc();
  f->frame = f->av->av_frame_alloc();
  if (f->av->avcodec_open2(f->codec, decoder, nullptr) < 0 || f->packet == nullptr || f->frame == nullptr) {
    fail(error, "the video format is not supported");
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
  free_drained(f);
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
  const int64_t want = index;
  if (want == f->held) return f->pixels;
  if (f->next_index < 0 || want < f->next_index || want - f->next_index > kForwardLimit) {
    if (!seek_to(f, want)) return nullptr;
  }
  int64_t landed_before = INT64_MAX;
  for (int64_t frames = 0; frames <= kForwardLimit + static_cast<int64_t>(kPacketsPerFrame); ++frames) {
    int64_t got = 0;
    if (!decode_next(f, &got)) {
      f->next_index = -1;
      return nullptr;
    }
    // A seek lands on the last key frame stored before the wanted position,
    // which can still be shown after the wanted frame: go to the one before,
    // as long as that lands earlier.
    if (f->next_index < 0 && got > want && f->landed > 0 && f->landed < landed_before) {
      landed_before = f->landed;
      f->av->av_frame_unref(f->frame);
      if (!seek_to(f, f->landed - 1)) return nullptr;
      continue;
    }
    f->next_index = got + 1;
    if (got >= want) {
      const bool ok = convert(f);
      f->av->av_frame_unref(f->frame);
      f->held = ok ? want : -1;
      return ok ? f->pixels : nullptr;
    }
    f->av->av_frame_unref(f->frame);
  }
  f->next_index = -1;
  return nullptr;
}
