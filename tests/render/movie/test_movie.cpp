#include "test_movie.h"

#include <algorithm>
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
    case TestMovieCodec::RawYuv420:
    case TestMovieCodec::RawPal8Bottom: return avcodec_find_encoder(AV_CODEC_ID_RAWVIDEO);
    case TestMovieCodec::Mjpeg: return avcodec_find_encoder(AV_CODEC_ID_MJPEG);
    case TestMovieCodec::Mpeg4:
    case TestMovieCodec::Mpeg4BFrames: return avcodec_find_encoder(AV_CODEC_ID_MPEG4);
    case TestMovieCodec::H264:
    case TestMovieCodec::H264BFrames:
    case TestMovieCodec::H264Pyramid: return avcodec_find_encoder_by_name("libx264");
    case TestMovieCodec::MsVideo1: return avcodec_find_encoder(AV_CODEC_ID_MSVIDEO1);
    case TestMovieCodec::Ffv1:
    case TestMovieCodec::Ffv1SliceCrc: return avcodec_find_encoder(AV_CODEC_ID_FFV1);
  }
  return nullptr;
}

// Digits of 3 x 5 blocks, a row of three bits each, the top row first.
constexpr uint16_t kDigits[10] = {075557, 026227, 071747, 071717, 055711, 074717, 074757, 071111, 075757, 075717};
constexpr int kBlock = 8;
constexpr int kDigitsX = 8, kDigitsY = 8;
constexpr int kDigitCount = 3;
constexpr int kDigitStride = 4;  // blocks from one digit to the next, the gap included

// The block of the digits' area holding (x, y), as column and row; false
// outside the area.
bool digit_block(int x, int y, int* column, int* row) {
  if (x < kDigitsX || y < kDigitsY) return false;
  *column = (x - kDigitsX) / kBlock;
  *row = (y - kDigitsY) / kBlock;
  return *column < kDigitCount * kDigitStride && *row < 5;
}

// Whether that block of frame n's digits is black.
bool digit_block_on(int n, int column, int row) {
  const int place = column / kDigitStride;
  const int bit = column % kDigitStride;
  if (bit == 3) return false;
  int digit = n;
  for (int i = place; i < kDigitCount - 1; ++i) digit /= 10;
  return (kDigits[digit % 10] >> ((4 - row) * 3 + 2 - bit) & 1) != 0;
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

uint32_t test_movie_pixel(const TestMovieShape& shape, int n, int x, int y, int width, int height) {
  int column = 0, row = 0;
  if (shape.numbered && digit_block(x, y, &column, &row) && digit_block_on(n, column, row)) return 0xFF000000u;
  const int later = shape.moving ? (y < height / 2 ? x : width - 1 - x) / 16 : 0;
  if (y >= height / 2) return test_movie_bottom(n + later);
  return test_movie_top(shape.still_top ? n - n % 2 + later : n + later);
}

bool test_movie_near_digit_edge(int x, int y) {
  // Colour bleeds a pixel or two across a block's edge, in the pixels
  // around the area as well as inside it.
  constexpr int kReach = 2;
  const auto near = [](int v, int from, int blocks) {
    if (v < from - kReach || v >= from + blocks * kBlock + kReach) return false;
    const int in = (v - from + kBlock) % kBlock;
    return in < kReach || in >= kBlock - kReach;
  };
  const bool in_x = x >= kDigitsX - kReach && x < kDigitsX + kDigitCount * kDigitStride * kBlock + kReach;
  const bool in_y = y >= kDigitsY - kReach && y < kDigitsY + 5 * kBlock + kReach;
  return in_x && in_y && (near(x, kDigitsX, kDigitCount * kDigitStride) || near(y, kDigitsY, 5));
}

int test_movie_read_number(const uint32_t* pixels, int width) {
  int number = 0;
  for (int place = 0; place < kDigitCount; ++place) {
    uint16_t bits = 0;
    for (int row = 0; row < 5; ++row)
      for (int bit = 0; bit < 3; ++bit) {
        // The block's middle four pixels, each black or each a colour: the
        // darkest of the colours has a channel at 128.
        int on = 0, off = 0;
        for (int dy = 3; dy < 5; ++dy)
          for (int dx = 3; dx < 5; ++dx) {
            const int x = kDigitsX + (place * kDigitStride + bit) * kBlock + dx;
            const int y = kDigitsY + row * kBlock + dy;
            const uint32_t p = pixels[y * width + x];
            const uint32_t brightest = std::max({p >> 16 & 255, p >> 8 & 255, p & 255});
            on += brightest < 48;
            off += brightest > 100;
          }
        if (on != 4 && off != 4) return -1;
        bits = static_cast<uint16_t>(bits << 1 | (on == 4 ? 1 : 0));
      }
    const uint16_t* digit = std::find(std::begin(kDigits), std::end(kDigits), bits);
    if (digit == std::end(kDigits)) return -1;
    number = number * 10 + static_cast<int>(digit - kDigits);
  }
  return number;
}

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
  const bool pal8 = codec == TestMovieCodec::RawPal8Bottom;
  const bool raw = codec == TestMovieCodec::Raw || codec == TestMovieCodec::RawYuv420 || pal8;
  const bool reordered = codec == TestMovieCodec::Mpeg4BFrames || codec == TestMovieCodec::H264BFrames;
  const bool pyramid = codec == TestMovieCodec::H264Pyramid;
  const bool ffv1 = codec == TestMovieCodec::Ffv1 || codec == TestMovieCodec::Ffv1SliceCrc;
  const AVPixelFormat pix = codec == TestMovieCodec::Raw        ? AV_PIX_FMT_BGR24
                            : pal8                              ? AV_PIX_FMT_PAL8
                            : codec == TestMovieCodec::Mjpeg    ? AV_PIX_FMT_YUVJ444P
                            : codec == TestMovieCodec::MsVideo1 ? AV_PIX_FMT_RGB555LE
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
  ctx->keyint_min = shape.key_interval;
  ctx->max_b_frames = pyramid ? 3 : reordered ? 2 : 0;
  ctx->thread_count = 1;
  if (codec == TestMovieCodec::H264 || codec == TestMovieCodec::H264BFrames || pyramid) {
    // Every frame differs wholly from the last: left to choose, the encoder
    // would store no B-frames. Its statistics stay off the test's output.
    const std::string params = std::string("qp=10:scenecut=0:b-adapt=0:log=-1") +
                               (pyramid ? ":bframes=3:b-pyramid=normal" : "") + (shape.open_gop ? ":open-gop=1" : "") +
                               (shape.intra_refresh ? ":intra-refresh=1" : "");
    av_opt_set(ctx->priv_data, "x264-params", params.c_str(), 0);
  } else if (codec == TestMovieCodec::Ffv1SliceCrc) {
    // Slices, and a CRC each, come with version 3.
    ctx->level = 3;
    ctx->slices = 4;
    av_opt_set_int(ctx->priv_data, "slicecrc", 1, 0);
  } else if (!raw && !ffv1 && codec != TestMovieCodec::MsVideo1) {
    ctx->flags |= AV_CODEC_FLAG_QSCALE;
    ctx->global_quality = FF_QP2LAMBDA * 2;
  }
  c->frame = av_frame_alloc();
  c->argb = av_frame_alloc();
  // Paletted frames are drawn in palette indexes, which the scaler cannot
  // make.
  c->sws = pal8 ? nullptr
                : sws_getContext(width, height, AV_PIX_FMT_RGB32, width, height, pix, SWS_POINT, nullptr, nullptr, nullptr);
  if (avcodec_open2(ctx, enc, nullptr) < 0 || c->frame == nullptr || c->argb == nullptr || (c->sws == nullptr && !pal8))
    return false;
  c->frame->format = pix;
  c->frame->width = width;
  c->frame->height = height;
  c->argb->format = AV_PIX_FMT_RGB32;
  c->argb->width = width;
  c->argb->height = height;
  return av_frame_get_buffer(c->frame, 0) >= 0 && av_frame_get_buffer(c->argb, 0) >= 0;
}

// Frame n in indexes of a palette of the eight colours and black, its
// bottom row first.
void draw_paletted_bottom_up(Clip* c, int n, const TestMovieShape& shape) {
  uint32_t* palette = reinterpret_cast<uint32_t*>(c->frame->data[1]);
  std::fill_n(palette, AVPALETTE_COUNT, 0xFF000000u);
  std::copy(std::begin(kTops), std::end(kTops), palette);
  for (int y = 0; y < c->height; ++y) {
    uint8_t* row = c->frame->data[0] + (c->height - 1 - y) * c->frame->linesize[0];
    for (int x = 0; x < c->width; ++x) {
      const uint32_t colour = test_movie_pixel(shape, n, x, y, c->width, c->height);
      row[x] = static_cast<uint8_t>(std::find(palette, palette + 8, colour) - palette);
    }
  }
}

// Sends frame n to the clip's encoder.
bool encode_frame(Clip* c, int n, const TestMovieShape& shape) {
  if (c->sws == nullptr) {
    draw_paletted_bottom_up(c, n, shape);
  } else {
    for (int y = 0; y < c->height; ++y) {
      uint32_t* row = reinterpret_cast<uint32_t*>(c->argb->data[0] + y * c->argb->linesize[0]);
      for (int x = 0; x < c->width; ++x) row[x] = test_movie_pixel(shape, n, x, y, c->width, c->height);
    }
    sws_scale(c->sws, c->argb->data, c->argb->linesize, 0, c->height, c->frame->data, c->frame->linesize);
  }
  c->frame->pts = n;
  return avcodec_send_frame(c->ctx, c->frame) >= 0;
}

// A picture in coded order, or a chunk as the file stores it: its position
// and bytes (none: an empty chunk).
struct Stored {
  int64_t pts, dts;
  std::vector<uint8_t> data;
  bool key;
};

// Where the first MPEG-4 picture header of the bytes begins, or -1.
long picture_at(const std::vector<uint8_t>& d) {
  for (size_t i = 0; i + 4 < d.size(); ++i)
    if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1 && d[i + 3] == 0xB6) return static_cast<long>(i);
  return -1;
}

// The coding type of the first MPEG-4 picture: 0 I, 1 P, 2 B; -1 for none.
int picture_type(const std::vector<uint8_t>& d) {
  const long at = picture_at(d);
  return at < 0 ? -1 : d[static_cast<size_t>(at) + 4] >> 6;
}

// The placeholder a packing writer stores for a reference picture: its own
// picture header (type, seconds and time increment, `time_bits` long) with
// the coded flag clear, then stuffing to the byte.
std::vector<uint8_t> placeholder_of(const std::vector<uint8_t>& ref, int time_bits) {
  const size_t from = static_cast<size_t>(picture_at(ref) + 4) * 8;
  const auto bit = [&](size_t i) { return ref[i / 8] >> (7 - i % 8) & 1; };
  size_t end = from + 2;  // the type
  while (bit(end) == 1) ++end;
  end += 1 + 1 + static_cast<size_t>(time_bits) + 1;  // the seconds' end, marker, increment, marker
  std::vector<int> bits;
  for (size_t i = from; i < end; ++i) bits.push_back(bit(i));
  bits.push_back(0);  // not coded
  bits.push_back(0);  // stuffing: a zero, then ones to the byte
  while (bits.size() % 8 != 0) bits.push_back(1);
  std::vector<uint8_t> out = {0, 0, 1, 0xB6};
  for (size_t i = 0; i < bits.size(); i += 8) {
    uint8_t byte = 0;
    for (size_t b = 0; b < 8; ++b) byte = static_cast<uint8_t>(byte << 1 | bits[i + b]);
    out.push_back(byte);
  }
  return out;
}

// Packs the pictures as packing writers store them (TestMovieShape::packed):
// the chunks keep the pictures' timestamps in coded order, one chunk a
// picture.
std::vector<Stored> pack(const std::vector<Stored>& coded, const TestMovieShape& shape, int time_bits) {
  // User data ahead of a key frame's headers: a writer's version, build and
  // 'p' for packed.
  static const uint8_t kMarker[] = {0, 0, 1, 0xB2, 'D', 'i', 'v', 'X', '5', '0', '3',
                                    'b', '1', '3', '9', '3', 'p'};
  std::vector<Stored> out;
  const Stored* join = nullptr;  // a reference frame the next B-frame may join
  const Stored* owed = nullptr;  // a reference frame whose placeholder is still to come
  const auto emit = [&](std::vector<uint8_t> data, bool key) {
    if (key && shape.packed_marker) data.insert(data.begin(), std::begin(kMarker), std::end(kMarker));
    const Stored& at = coded[out.size()];
    out.push_back(Stored{at.dts, at.dts, std::move(data), key});
  };
  const auto settle = [&] {
    if (join != nullptr) emit(join->data, join->key);
    if (owed != nullptr) emit(shape.packed_empty ? std::vector<uint8_t>{} : placeholder_of(owed->data, time_bits), false);
    join = owed = nullptr;
  };
  for (const Stored& c : coded) {
    if (picture_type(c.data) != 2) {
      settle();
      join = &c;
    } else if (join != nullptr) {
      std::vector<uint8_t> both = join->data;
      both.insert(both.end(), c.data.begin(), c.data.end());
      emit(std::move(both), join->key);
      owed = join;
      join = nullptr;
    } else {
      emit(c.data, false);
    }
  }
  settle();
  return out;
}

// The audio stream's samples of one video frame, as one chunk.
bool write_audio(AVFormatContext* fmt, AVStream* audio, int64_t frame, int rate) {
  const int samples = audio->codecpar->sample_rate / rate;
  AVPacket* a = av_packet_alloc();
  bool ok = a != nullptr && av_new_packet(a, samples * 2) >= 0;
  if (ok) {
    for (int i = 0; i < a->size; ++i) a->data[i] = static_cast<uint8_t>(i * 13 + frame);
    a->stream_index = audio->index;
    a->pts = a->dts = frame * samples;
    a->duration = samples;
    ok = av_interleaved_write_frame(fmt, a) >= 0;
  }
  av_packet_free(&a);
  return ok;
}

uint32_t get_le32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t{b[at + 3]} << 24;
}

void put_le32(std::vector<uint8_t>& b, size_t at, uint32_t value) {
  for (size_t i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

void append_header(std::vector<uint8_t>& out, const char* name, uint32_t size) {
  out.insert(out.end(), name, name + 4);
  out.resize(out.size() + 4);
  put_le32(out, out.size() - 4, size);
}

bool lays_out(const TestMovieShape& shape) {
  return shape.pad_to > 0 || shape.rec_lists || shape.index_shift != 0 || shape.avimux;
}

// A chunk of the muxer's file, with its index entry's flags.
struct MuxedChunk {
  size_t at;  // its header
  uint32_t size, flags;
  bool picture;
};

// The chunks of the movi list whose name lies at `movi`, in the muxer's
// order (each picture, then its audio); none unless idx1 follows the list
// and names each of them in turn.
std::vector<MuxedChunk> muxed_chunks(const std::vector<uint8_t>& in, size_t movi) {
  const size_t idx1 = movi + get_le32(in, movi - 4);
  if (idx1 + 8 > in.size() || std::memcmp(&in[idx1], "idx1", 4) != 0) return {};
  const size_t entries = get_le32(in, idx1 + 4) / 16;
  std::vector<MuxedChunk> chunks;
  for (size_t at = movi + 4; at + 8 <= idx1;) {
    const size_t e = chunks.size();
    if (e >= entries || get_le32(in, idx1 + 8 + 16 * e + 8) != at - movi) return {};
    chunks.push_back(MuxedChunk{at, get_le32(in, at + 4), get_le32(in, idx1 + 8 + 16 * e + 4), in[at + 2] == 'd'});
    at += 8 + chunks.back().size + (chunks.back().size & 1);
  }
  return chunks;
}

// The chunks with the audio run `lead` chunks ahead of the pictures.
std::vector<MuxedChunk> audio_ahead(const std::vector<MuxedChunk>& chunks, size_t lead) {
  std::vector<MuxedChunk> audio, ordered;
  for (const MuxedChunk& c : chunks)
    if (!c.picture) audio.push_back(c);
  size_t next = 0;
  for (; next < audio.size() && next < lead; ++next) ordered.push_back(audio[next]);
  for (const MuxedChunk& c : chunks) {
    if (!c.picture) continue;
    ordered.push_back(c);
    if (next < audio.size()) ordered.push_back(audio[next++]);
  }
  ordered.insert(ordered.end(), audio.begin() + static_cast<long>(next), audio.end());
  return ordered;
}

}  // namespace

bool test_movie_lay_out(const std::string& path, const TestMovieShape& shape) {
  const std::vector<uint8_t> in = read_test_file(path);
  const size_t movi = std::string(in.begin(), in.end()).find("movi");
  if (movi == std::string::npos || movi < 8) return false;
  std::vector<MuxedChunk> chunks = muxed_chunks(in, movi);
  if (chunks.empty()) return false;
  if (shape.avimux) chunks = audio_ahead(chunks, 5);
  struct Entry {
    char name[4];
    uint32_t flags;
    size_t at;  // the chunk's header in the new file
    uint32_t size;
  };
  std::vector<Entry> index;
  std::vector<uint8_t> out(in.begin(), in.begin() + static_cast<long>(movi + 4));
  size_t rec = 0;  // the open rec list's header, or 0
  const auto close_rec = [&] {
    if (rec != 0) put_le32(out, rec + 4, static_cast<uint32_t>(out.size() - rec - 8));
    rec = 0;
  };
  for (const MuxedChunk& c : chunks) {
    if (shape.rec_lists && c.picture) {
      close_rec();
      rec = out.size();
      index.push_back(Entry{{'r', 'e', 'c', ' '}, 0x01, rec, 0});
      append_header(out, "LIST", 0);
      out.insert(out.end(), {'r', 'e', 'c', ' '});
    }
    Entry entry{{char(in[c.at]), char(in[c.at + 1]), char(in[c.at + 2]), char(in[c.at + 3])}, c.flags, out.size(), c.size};
    if (shape.avimux && c.picture) {
      entry.name[3] = 'b';
      entry.flags = (c.flags & 0x10) != 0 ? 0x12 : 0x02;
    } else if (shape.avimux) {
      entry.flags = 0;
    }
    index.push_back(entry);
    append_header(out, entry.name, c.size);
    out.insert(out.end(), in.begin() + static_cast<long>(c.at + 8), in.begin() + static_cast<long>(c.at + 8 + c.size));
    if (c.size % 2 != 0) out.push_back(0);
    const size_t pad_to = static_cast<size_t>(shape.pad_to);
    if (pad_to > 0 && out.size() % pad_to != 0) {
      // A JUNK chunk takes at least its header.
      size_t junk = pad_to - out.size() % pad_to;
      if (junk < 8) junk += pad_to;
      append_header(out, "JUNK", static_cast<uint32_t>(junk - 8));
      out.resize(out.size() + junk - 8);
    }
  }
  close_rec();
  for (Entry& x : index)
    if (std::memcmp(x.name, "rec ", 4) == 0) x.size = get_le32(out, x.at + 4);
  put_le32(out, movi - 4, static_cast<uint32_t>(out.size() - movi));
  append_header(out, "idx1", static_cast<uint32_t>(16 * index.size()));
  const size_t base = shape.avimux ? 0 : movi;
  for (const Entry& x : index) {
    out.insert(out.end(), x.name, x.name + 4);
    out.resize(out.size() + 12);
    put_le32(out, out.size() - 12, x.flags);
    put_le32(out, out.size() - 8, static_cast<uint32_t>(static_cast<int64_t>(x.at - base) + shape.index_shift));
    put_le32(out, out.size() - 4, x.size);
  }
  put_le32(out, 4, static_cast<uint32_t>(out.size() - 8));
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
  return static_cast<bool>(file);
}

bool write_test_movie(const std::string& path, TestMovieCodec codec, int width, int height, int frames, int rate,
                      const TestMovieShape& shape) {
  const AVCodec* enc = find_encoder(codec);
  if (enc == nullptr) return false;
  AVFormatContext* fmt = nullptr;
  if (avformat_alloc_output_context2(&fmt, nullptr, "avi", path.c_str()) < 0) return false;
  AVStream* st = avformat_new_stream(fmt, nullptr);
  AVStream* audio = shape.audio > 0 ? avformat_new_stream(fmt, nullptr) : nullptr;
  if (audio != nullptr) {
    const int sample_rate = shape.audio / 2 * rate;
    audio->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
    audio->codecpar->codec_id = AV_CODEC_ID_PCM_S16LE;
    audio->codecpar->sample_rate = sample_rate;
    av_channel_layout_default(&audio->codecpar->ch_layout, 1);
    audio->codecpar->bits_per_coded_sample = 16;
    audio->codecpar->block_align = 2;
    audio->codecpar->bit_rate = sample_rate * 16;
    audio->time_base = AVRational{1, sample_rate};
  }
  Clip clip;
  bool ok = open_clip(&clip, enc, codec, width, height, rate, shape) &&
            avcodec_parameters_from_context(st->codecpar, clip.ctx) >= 0;
  st->time_base = clip.ctx->time_base;
  ok = ok && avio_open(&fmt->pb, path.c_str(), AVIO_FLAG_WRITE) >= 0;
  // Raw frames stored bottom-up: the header's height is positive.
  AVDictionary* options = nullptr;
  if (codec == TestMovieCodec::RawPal8Bottom) av_dict_set(&options, "flipped_raw_rgb", "1", 0);
  ok = ok && avformat_write_header(fmt, &options) >= 0;
  av_dict_free(&options);
  AVPacket* pkt = av_packet_alloc();
  std::vector<Stored> coded;
  int64_t shift = 0;         // added to the clip's timestamps, so that a joined clip's go on from the last
  bool clip_begins = false;  // the clip's first packet is still to come
  const auto take_packets = [&] {
    while (avcodec_receive_packet(clip.ctx, pkt) == 0) {
      av_packet_rescale_ts(pkt, clip.ctx->time_base, st->time_base);
      if (clip_begins) shift = (coded.empty() ? 0 : coded.back().dts + 1) - pkt->dts;
      clip_begins = false;
      coded.push_back(Stored{pkt->pts + shift, pkt->dts + shift, std::vector<uint8_t>(pkt->data, pkt->data + pkt->size),
                             (pkt->flags & AV_PKT_FLAG_KEY) != 0});
      av_packet_unref(pkt);
    }
  };
  for (int n = 0; ok && n <= frames; ++n) {
    if (n < frames && dropped(shape, n)) continue;
    if (n == shape.resize_at && n < frames) {
      // The clip so far ends; the next one, at twice the size, is joined as
      // it stands, as a stream copy joins two files.
      ok = avcodec_send_frame(clip.ctx, nullptr) >= 0;
      take_packets();
      close_clip(&clip);
      ok = ok && open_clip(&clip, enc, codec, width * 2, height * 2, rate, shape);
      clip_begins = true;
    }
    ok = ok && (n < frames ? encode_frame(&clip, n, shape) : avcodec_send_frame(clip.ctx, nullptr) >= 0);
    take_packets();
  }
  const int time_bits = av_log2(static_cast<unsigned>(rate - 1)) + 1;
  const std::vector<Stored> chunks = shape.packed ? pack(coded, shape, time_bits) : coded;
  // The muxer writes an empty chunk for each position skipped before a
  // picture; positions skipped at the end need one written here, the last.
  int64_t next = 0;
  for (const Stored& c : chunks) {
    if (!ok) break;
    for (; audio != nullptr && ok && next <= c.dts; ++next) ok = write_audio(fmt, audio, next, rate);
    if (c.data.empty()) continue;
    ok = ok && av_new_packet(pkt, static_cast<int>(c.data.size())) >= 0;
    if (!ok) break;
    std::copy(c.data.begin(), c.data.end(), pkt->data);
    pkt->stream_index = st->index;
    pkt->pts = c.pts;
    pkt->dts = c.dts;
    if (c.key) pkt->flags |= AV_PKT_FLAG_KEY;
    ok = av_interleaved_write_frame(fmt, pkt) >= 0;
  }
  int trailing = 0;
  while (trailing < frames && dropped(shape, frames - 1 - trailing)) ++trailing;
  const bool empty_last = !chunks.empty() && chunks.back().data.empty();
  if (ok && (trailing > 0 || empty_last)) {
    av_packet_unref(pkt);
    pkt->stream_index = st->index;
    pkt->pts = pkt->dts = chunks.back().dts + trailing;
    ok = av_write_frame(fmt, pkt) >= 0;
  }
  ok = ok && av_write_trailer(fmt) >= 0;
  av_packet_free(&pkt);
  close_clip(&clip);
  if (fmt->pb != nullptr) avio_closep(&fmt->pb);
  avformat_free_context(fmt);
  return ok && (!lays_out(shape) || test_movie_lay_out(path, shape));
}
