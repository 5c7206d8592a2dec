#include "test_movie.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace {

constexpr uint32_t kTops[] = {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0xFFFFFF00u, 0xFF00FFFFu,
                              0xFFFF00FFu, 0xFF808080u, 0xFFFFFFFFu};

const AVCodec* find_encoder(TestMovieCodec codec) {
  switch (codec) {
    case TestMovieCodec::Raw:
    case TestMovieCodec::RawYuv420: return avcodec_find_encoder(AV_CODEC_ID_RAWVIDEO);
    case TestMovieCodec::Mjpeg: return avcodec_find_encoder(AV_CODEC_ID_MJPEG);
    case TestMovieCodec::Mpeg4:
    case TestMovieCodec::Mpeg4BFrames: return avcodec_find_encoder(AV_CODEC_ID_MPEG4);
    case TestMovieCodec::H264:
    case TestMovieCodec::H264BFrames: return avcodec_find_encoder_by_name("libx264");
  }
  return nullptr;
}

bool dropped(const TestMovieShape& shape, int position) {
  if (shape.gap_at < 0 || position < shape.gap_at) return false;
  const int into = position - shape.gap_at;
  return (shape.gap_every > 0 ? into % shape.gap_every : into) < shape.gap_length;
}

}  // namespace

uint32_t test_movie_top(int n) { return kTops[n % 8]; }
// Shifted by one more every 8 frames, so the pair of colours repeats only
// after 64 frames.
uint32_t test_movie_bottom(int n) { return kTops[(n + n / 8 + 3) % 8]; }

int test_movie_shown(const TestMovieShape& shape, int position) {
  while (position > 0 && dropped(shape, position)) --position;
  return position;
}

bool test_movie_codec_available(TestMovieCodec codec) { return find_encoder(codec) != nullptr; }

std::string test_movie_path(const char* name) {
  static int counter = 0;
  const std::filesystem::path dir = std::filesystem::temp_directory_path();
  return (dir / (std::to_string(::getpid()) + "_" + std::to_string(counter++) + "_" + name)).string();
}

std::vector<uint8_t> read_test_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

namespace {

// One encoder and the buffers a frame is drawn in for it.
struct Clip {
  AVCodecContext* ctx = nullptr;
  AVFrame* frame = nullptr;
  AVFrame* argb = nullptr;
  SwsContext* sws = nullptr;
  int width = 0, height = 0;
};

void close_clip(Clip* c) {
  sws_freeContext(c->sws);
  av_frame_free(&c->argb);
  av_frame_free(&c->frame);
  avcodec_free_context(&c->ctx);
  *c = Clip{};
}

bool open_clip(Clip* c, const AVCodec* enc, TestMovieCodec codec, int width, int height, int rate,
               const TestMovieShape& shape) {
  const bool raw = codec == TestMovieCodec::Raw || codec == TestMovieCodec::RawYuv420;
  const bool reordered = codec == TestMovieCodec::Mpeg4BFrames || codec == TestMovieCodec::H264BFrames;
  const AVPixelFormat pix = codec == TestMovieCodec::Raw   ? AV_PIX_FMT_BGR24
                            : codec == TestMovieCodec::Mjpeg ? AV_PIX_FMT_YUVJ444P
                                                             : AV_PIX_FMT_YUV420P;
  c->width = width;
  c->height = height;
  c->ctx = avcodec_alloc_context3(enc);
  AVCodecContext* ctx = c->ctx;
  ctx->width = width;
  ctx->height = height;
  ctx->pix_fmt = pix;
  ctx->time_base = AVRational{1, rate};
  ctx->framerate = AVRational{rate, 1};
  ctx->gop_size = raw || codec == TestMovieCodec::Mjpeg ? 1 : shape.key_interval;
  ctx->max_b_frames = reordered ? 2 : 0;
  ctx->thread_count = 1;
  if (codec == TestMovieCodec::H264 || codec == TestMovieCodec::H264BFrames) {
    // Every frame differs wholly from the last: left to choose, the encoder
    // would store no B-frames. Its statistics stay off the test's output.
    const std::string params = std::string("qp=10:scenecut=0:b-adapt=0:log=-1") +
                               (shape.open_gop ? ":open-gop=1" : "") + (shape.intra_refresh ? ":intra-refresh=1" : "");
    av_opt_set(ctx->priv_data, "x264-params", params.c_str(), 0);
  } else if (!raw) {
    ctx->flags |= AV_CODEC_FLAG_QSCALE;
    ctx->global_quality = FF_QP2LAMBDA * 2;
  }
  c->frame = av_frame_alloc();
  c->argb = av_frame_alloc();
  c->sws = sws_getContext(width, height, AV_PIX_FMT_RGB32, width, height, pix, SWS_POINT, nullptr, nullptr, nullptr);
  if (avcodec_open2(ctx, enc, nullptr) < 0 || c->frame == nullptr || c->argb == nullptr || c->sws == nullptr)
    return false;
  c->frame->format = pix;
  c->frame->width = width;
  c->frame->height = height;
  c->argb->format = AV_PIX_FMT_RGB32;
  c->argb->width = width;
  c->argb->height = height;
  return av_frame_get_buffer(c->frame, 0) >= 0 && av_frame_get_buffer(c->argb, 0) >= 0;
}

// The coding type of the first MPEG-4 picture in a packet: 0 I, 1 P, 2 B;
// -1 when it holds none.
int picture_type(const AVPacket* pkt) {
  for (int i = 0; i + 4 < pkt->size; ++i)
    if (pkt->data[i] == 0 && pkt->data[i + 1] == 0 && pkt->data[i + 2] == 1 && pkt->data[i + 3] == 0xB6)
      return pkt->data[i + 4] >> 6;
  return -1;
}

// Sends frame n to the clip's encoder.
bool encode_frame(Clip* c, int n, const TestMovieShape& shape) {
  for (int y = 0; y < c->height; ++y) {
    uint32_t* row = reinterpret_cast<uint32_t*>(c->argb->data[0] + y * c->argb->linesize[0]);
    for (int x = 0; x < c->width; ++x) {
      const int later = shape.moving ? (y < c->height / 2 ? x : c->width - 1 - x) / 16 : 0;
      row[x] = y < c->height / 2 ? test_movie_top(n + later) : test_movie_bottom(n + later);
    }
  }
  sws_scale(c->sws, c->argb->data, c->argb->linesize, 0, c->height, c->frame->data, c->frame->linesize);
  c->frame->pts = n;
  return avcodec_send_frame(c->ctx, c->frame) >= 0;
}

}  // namespace

bool write_test_movie(const std::string& path, TestMovieCodec codec, int width, int height, int frames, int rate,
                      const TestMovieShape& shape) {
  const AVCodec* enc = find_encoder(codec);
  if (enc == nullptr) return false;
  AVFormatContext* fmt = nullptr;
  if (avformat_alloc_output_context2(&fmt, nullptr, "avi", path.c_str()) < 0) return false;
  AVStream* st = avformat_new_stream(fmt, nullptr);
  Clip clip;
  bool ok = open_clip(&clip, enc, codec, width, height, rate, shape) &&
            avcodec_parameters_from_context(st->codecpar, clip.ctx) >= 0;
  st->time_base = clip.ctx->time_base;
  ok = ok && avio_open(&fmt->pb, path.c_str(), AVIO_FLAG_WRITE) >= 0;
  ok = ok && avformat_write_header(fmt, nullptr) >= 0;
  AVPacket* pkt = av_packet_alloc();
  AVPacket* held = av_packet_alloc();  // a P-frame that the next B-frame may join
  int64_t last_dts = 0;
  int64_t shift = 0;         // added to the clip's timestamps, so that a joined clip's go on from the last
  bool clip_begins = false;  // the clip's first packet is still to come
  bool marked = false;       // the packed marker is written
  const auto write_packets = [&] {
    while (avcodec_receive_packet(clip.ctx, pkt) == 0) {
      av_packet_rescale_ts(pkt, clip.ctx->time_base, st->time_base);
      if (clip_begins) shift = last_dts + 1 - pkt->dts;
      clip_begins = false;
      if (shape.packed_marker && !marked) {
        // User data ahead of the stream's first headers: a writer's version,
        // build and 'p' for packed.
        static const char kMarker[] = "\0\0\1\xB2" "DivX503b1393p";
        const int size = pkt->size;
        if (av_grow_packet(pkt, sizeof kMarker - 1) < 0) return false;
        std::memmove(pkt->data + sizeof kMarker - 1, pkt->data, static_cast<size_t>(size));
        std::memcpy(pkt->data, kMarker, sizeof kMarker - 1);
        marked = true;
      }
      pkt->dts += shift;
      pkt->pts += shift;
      pkt->stream_index = st->index;
      last_dts = pkt->dts;
      if (shape.packed && held->size > 0) {
        if (picture_type(pkt) == 2) {
          // The B-frame goes into the P-frame's chunk; an empty chunk keeps its place.
          const int p_size = held->size;
          if (av_grow_packet(held, pkt->size) < 0) return false;
          std::memcpy(held->data + p_size, pkt->data, static_cast<size_t>(pkt->size));
          av_packet_unref(pkt);
          if (shape.packed_marker) {
            // A picture header the decoder passes over while it gives the
            // B-frame it kept.
            const uint8_t placeholder[] = {0, 0, 1, 0xB6, 0x95, 0x9F};
            if (av_new_packet(pkt, sizeof placeholder) < 0) return false;
            std::memcpy(pkt->data, placeholder, sizeof placeholder);
          }
          pkt->stream_index = st->index;
          pkt->pts = pkt->dts = last_dts;
        }
        if (av_interleaved_write_frame(fmt, held) < 0) return false;
      }
      if (shape.packed && picture_type(pkt) == 1) {
        av_packet_move_ref(held, pkt);
        continue;
      }
      if (av_interleaved_write_frame(fmt, pkt) < 0) return false;
    }
    return true;
  };
  for (int n = 0; ok && n <= frames; ++n) {
    if (n < frames && dropped(shape, n)) continue;
    if (n == shape.resize_at && n < frames) {
      // The clip so far ends; the next one, at twice the size, is joined as
      // it stands, as a stream copy joins two files.
      ok = avcodec_send_frame(clip.ctx, nullptr) >= 0 && write_packets();
      close_clip(&clip);
      ok = ok && open_clip(&clip, enc, codec, width * 2, height * 2, rate, shape);
      clip_begins = true;
    }
    ok = ok && (n < frames ? encode_frame(&clip, n, shape) : avcodec_send_frame(clip.ctx, nullptr) >= 0) &&
         write_packets();
  }
  // The muxer writes an empty chunk for each position skipped before a
  // picture; positions skipped at the end need one written here, the last.
  int trailing = 0;
  while (trailing < frames && dropped(shape, frames - 1 - trailing)) ++trailing;
  if (ok && trailing > 0) {
    av_packet_unref(pkt);
    pkt->stream_index = st->index;
    pkt->pts = pkt->dts = last_dts + trailing;
    ok = av_write_frame(fmt, pkt) >= 0;
  }
  if (ok && held->size > 0) ok = av_interleaved_write_frame(fmt, held) >= 0;
  ok = ok && av_write_trailer(fmt) >= 0;
  av_packet_free(&held);
  av_packet_free(&pkt);
  close_clip(&clip);
  if (fmt->pb != nullptr) avio_closep(&fmt->pb);
  avformat_free_context(fmt);
  return ok;
}
