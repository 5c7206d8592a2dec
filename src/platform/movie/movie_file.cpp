#include "platform/movie/movie_file.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavutil/error.h>
}

#include "platform/movie/movie_chunk_header.h"
#include "platform/movie/movie_chunks.h"
#include "platform/movie/movie_decode.h"
#include "platform/movie/movie_file_state.h"
#include "platform/movie/movie_h264_packet.h"
#include "platform/movie/movie_picture_check.h"
#include "platform/sys/sys.h"

namespace {

// Packets between the decode and a frame ahead of it past which a seek to
// the frame's key is cheaper than decoding on.
constexpr size_t kForwardLimit = 32;
// Frames kept while one waits to be judged (movie_damage.h): more than a
// decoder may hold back before a reference picture that never came out is
// given up.
constexpr size_t kMaxWaiting = 64;
// Key frames tried at open for a first frame that can be made.
constexpr size_t kOpenTries = 16;
// The input's buffer: each read of the file fills no more than this, so that
// opening, which looks at a few chunks here and there, reads little more
// than those from the disk. Larger reads, a picture's chunk or the index,
// go past the buffer in one.
constexpr int kIoBufferSize = 1 << 12;
// The file's first bytes, read in one call before anything else: the
// headers (with the OpenDML super indexes and padding writers reserve in
// them) lie there, and mostly the first chunks too, which the open samples
// and decodes. Each would otherwise cost a call a buffer's worth, and on a
// network disk each call is a round trip. Where the headers run on past
// them, the head grows to hold them and as many bytes after, in one more
// call, up to kMostHeadBytes.
constexpr size_t kHeadBytes = size_t{1} << 16;
constexpr size_t kMostHeadBytes = size_t{1} << 20;

// Reads the head of an open file: kHeadBytes, and on where the lists before
// the first movi list (which the library reads through, its skips reading
// on) end past them. A head that cannot be read is left empty: the reads
// there fail as they come.
void read_head(MovieInput* in) {
  std::vector<uint8_t>& head = in->head;
  const auto grow = [&](size_t to) {
    const size_t from = head.size();
    head.resize(std::min({to, in->size, kMostHeadBytes}));
    const ssize_t got = head.size() > from ? ::pread(in->fd, head.data() + from, head.size() - from,
                                                    static_cast<off_t>(from))
                                           : 0;
    head.resize(from + (got > 0 ? static_cast<size_t>(got) : 0));
    return head.size() > from;
  };
  if (!grow(kHeadBytes) || head.size() < 12 || std::memcmp(head.data(), "RIFF", 4) != 0) return;
  // The RIFF list's own: a list's name, size and type, a chunk's name and size.
  for (size_t at = 12;;) {
    if (at + 12 > head.size()) grow(at + kHeadBytes);
    if (at + 12 > head.size()) return;
    const uint8_t* p = head.data() + at;
    if (std::memcmp(p, "LIST", 4) == 0 && std::memcmp(p + 8, "movi", 4) == 0) return;
    const uint32_t size = chunk_detail::le32(p + 4);
    at = static_cast<size_t>(chunk_detail::padded_end(static_cast<int64_t>(at), size));
    if (size == 0 || at >= kMostHeadBytes) return;
  }
}

int input_read(void* opaque, uint8_t* buf, int size) {
  MovieInput* in = static_cast<MovieInput*>(opaque);
  const size_t left = in->size - in->pos;
  if (left == 0) return AVERROR_EOF;
  size_t n = std::min(left, static_cast<size_t>(size));
  if (in->data != nullptr) {
    std::memcpy(buf, in->data + in->pos, n);
  } else if (in->pos < in->head.size()) {
    // From the head, as far as it goes: the library asks again for the rest.
    n = std::min(n, in->head.size() - in->pos);
    std::memcpy(buf, in->head.data() + in->pos, n);
  } else {
    const ssize_t got = ::pread(in->fd, buf, n, static_cast<off_t>(in->pos));
    if (got <= 0) return got == 0 ? AVERROR_EOF : AVERROR(EIO);
    n = static_cast<size_t>(got);
  }
  in->pos += n;
  return static_cast<int>(n);
}

int64_t input_seek(void* opaque, int64_t offset, int whence) {
  MovieInput* in = static_cast<MovieInput*>(opaque);
  int64_t base = 0;
  switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE: return static_cast<int64_t>(in->size);
    case SEEK_SET: base = 0; break;
    case SEEK_CUR: base = static_cast<int64_t>(in->pos); break;
    case SEEK_END: base = static_cast<int64_t>(in->size); break;
    default: return AVERROR(EINVAL);
  }
  if (offset > static_cast<int64_t>(in->size) - base || offset < -base) return AVERROR(EINVAL);
  in->pos = static_cast<size_t>(base + offset);
  return static_cast<int64_t>(in->pos);
}

// Closes a file that cannot be read, saying why in *error.
MovieFile* refuse(MovieFile* f, std::string* error, const char* why) {
  if (error != nullptr) *error = why;
  movie_file_close(f);
  return nullptr;
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

// A decode begins at the key of `segment`; the frames kept from the last
// one were judged in its own terms.
void start_at(MovieFile* f, size_t segment) {
  free_waiting(f);
  decode_start(f, segment);
}

void drop_waiting(MovieFile* f, int64_t position) {
  for (auto it = f->waiting.begin(); it != f->waiting.end(); ++it) {
    if (it->position != position) continue;
    f->av->av_frame_free(&it->frame);
    f->waiting.erase(it);
    return;
  }
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
    if (!on) start_at(f, start);
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
        start_at(f, frame_order_start_segment(&f->index, p));
        continue;
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
    const DecodeStep step = decode_next_frame(f, &got);
    if (step == DecodeStep::Ended) {
      f->decoding = false;
      if (f->restart) {
        // The chunks may have been found again (movie_chunks_check), and
        // the position with them.
        f->held = -1;
        const int64_t now = packet_index_find(&f->index, target);
        if (now < 0) return FrameRead::Lost;
        start_at(f, frame_order_start_segment(&f->index, static_cast<size_t>(now)));
        continue;
      }
      // Drained: a frame that waited is judged now.
      if (waits) {
        judge_waiting(f);
        if (find_waiting(f, target)->verdict >= 0) continue;
      }
      return f->index.packets[p].uncoded ? FrameRead::Uncoded : FrameRead::Lost;
    }
    if (step == DecodeStep::Frame) {
      const int64_t position = got >= 0 ? f->index.packets[static_cast<size_t>(got)].position : -1;
      if (position >= 0 && (position == target || waits)) {
        keep_waiting(f, position);
        continue;
      }
      f->av->av_frame_unref(f->frame);
    }
    // After each picture as after each frame: a frame that decoding on can
    // no longer give costs no more of the segment, and the decode stays
    // where it is for the reads after.
    if (waits) continue;
    if (f->index.packets[p].uncoded) return FrameRead::Uncoded;
    if (frame_order_will_place(&f->order, &f->index, p)) continue;
    // The decoder met frames stored out of order that the file's header
    // denied, and knows it now: a decode begun again places them.
    if (f->codec->has_b_frames > f->start_depth) {
      start_at(f, frame_order_start_segment(&f->index, p));
      continue;
    }
    // Past its place, or its place is no longer known: lost.
    return FrameRead::Lost;
  }
}

// Whether a chunk's first bytes show a picture that may begin a decode. A
// chunk seen whole that holds no picture begins nothing: were such chunks
// keys, a file of a million one-byte chunks would be a million keys, each to
// be decoded alone before it is given up.
bool mpeg4_may_begin(const uint8_t* data, size_t size, bool whole) {
  const Mpeg4PictureType type = mpeg4_first_picture(data, size);
  return type == MPEG4_NONE ? !whole : type == MPEG4_I;
}

bool h264_may_begin(const uint8_t* data, size_t size, bool whole) {
  const H264PacketLook h = h264_packet_look(data, size);
  return h.slice ? h.idr || h.intra || h.recovery : !whole;
}

bool any_may_begin(const uint8_t*, size_t, bool) { return true; }

// A picture a decoder begins in a buffer of its pool starts as whatever
// frame the buffer held last. A decoder may leave part of a damaged picture
// unwritten without a word, as FFV1's stops where its data does: those not
// known to write every block or refuse the picture begin theirs black, so
// that what they leave shows as damage, never as part of another frame.
int black_buffer(AVCodecContext* codec, AVFrame* frame, int flags) {
  const MovieApi* av = static_cast<const MovieApi*>(codec->opaque);
  const int got = av->avcodec_default_get_buffer2(codec, frame, flags);
  if (got < 0) return got;
  const ptrdiff_t lines[4] = {frame->linesize[0], frame->linesize[1], frame->linesize[2], frame->linesize[3]};
  if (av->av_image_fill_black(frame->data, lines, static_cast<AVPixelFormat>(frame->format), frame->color_range,
                              frame->width, frame->height) < 0) {
    for (AVBufferRef* buf : frame->buf)
      if (buf != nullptr) std::memset(buf->data, 0, buf->size);
  }
  return 0;
}

// Paletted formats carry their palette after the frame header's fields; the
// decoder takes it with the first picture. For raw pictures stored bottom-up
// the demuxer appends a mark to those bytes ("BottomUp" and its 0), by which
// the decoder turns the picture over: the palette ends before it.
std::vector<uint32_t> stream_palette(const AVCodecParameters* par) {
  if (par->bits_per_coded_sample <= 0 || par->bits_per_coded_sample > 8 || par->extradata_size <= 0) return {};
  static constexpr char kBottomUp[] = "BottomUp";
  int size = par->extradata_size;
  if (size >= static_cast<int>(sizeof kBottomUp) &&
      std::memcmp(par->extradata + size - sizeof kBottomUp, kBottomUp, sizeof kBottomUp) == 0)
    size -= static_cast<int>(sizeof kBottomUp);
  const int entries = std::min(1 << par->bits_per_coded_sample, size / 4);
  const uint8_t* src = par->extradata + size - entries * 4;
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

// Opens the file through the input, already set.
MovieFile* open_input(MovieFile* f, std::string* error) {
  f->format = f->av->avformat_alloc_context();
  uint8_t* buffer = static_cast<uint8_t*>(f->av->av_malloc(kIoBufferSize));
  if (f->format != nullptr && buffer != nullptr)
    f->io = f->av->avio_alloc_context(buffer, kIoBufferSize, 0, &f->input, input_read, nullptr, input_seek);
  if (f->io == nullptr) {
    f->av->av_free(buffer);
    return refuse(f, error, "out of memory");
  }
  f->format->pb = f->io;
  f->format->flags |= AVFMT_FLAG_CUSTOM_IO;
  const AVInputFormat* avi = f->av->av_find_input_format("avi");
  // The library reads only the headers: on an input it can seek, it would
  // also load idx1 or the OpenDML indexes a buffer at a time, which the
  // reader, finding the chunks itself, never uses and reads again in a few
  // large calls (movie_chunk_index.h). Skips in the headers then read on
  // instead of seeking: they lie in the file's head, read already.
  f->io->seekable = 0;
  const int opened = f->av->avformat_open_input(&f->format, nullptr, avi, nullptr);
  f->io->seekable = AVIO_SEEKABLE_NORMAL;
  if (opened < 0) {
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
  // Damage the decoder finds in a JPEG's scan refuses the picture: left to
  // itself, it conceals what it could not read and says nothing. A JPEG with
  // no scan it gives out without finding anything wrong, and its slice CRCs
  // are what an FFV1 picture has to tell damage: both are read from the
  // picture's bytes as it is sent (movie_picture_check.h).
  if (par->codec_id == AV_CODEC_ID_MJPEG) {
    f->codec->err_recognition |= AV_EF_EXPLODE;
    f->picture_check = PictureCheck::JpegScans;
  }
  if (par->codec_id == AV_CODEC_ID_FFV1 && par->extradata != nullptr &&
      ffv1_slice_crcs(f->av, par->extradata, static_cast<size_t>(par->extradata_size)))
    f->picture_check = PictureCheck::Ffv1SliceCrcs;
  // H.264 and MPEG-4 decoders conceal every block they could not read and
  // say so, MJPEG's refuses a picture it cannot read, and raw pictures are
  // the packets' own bytes: the others' begin black.
  if (par->codec_id != AV_CODEC_ID_H264 && par->codec_id != AV_CODEC_ID_MPEG4 &&
      par->codec_id != AV_CODEC_ID_MJPEG && par->codec_id != AV_CODEC_ID_RAWVIDEO) {
    f->codec->opaque = const_cast<MovieApi*>(f->av);
    f->codec->get_buffer2 = black_buffer;
  }
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
  if (f->mpeg4 && par->extradata != nullptr) {
    const Mpeg4PacketLook look = mpeg4_packet_look(par->extradata, static_cast<size_t>(par->extradata_size), 0);
    f->time_bits = look.time_bits;
    f->picture_order.time_resolution = look.time_resolution;
    f->picture_order.no_b_frames = look.low_delay == 1;
  }
  // The pictures' headers tell where each is shown: MPEG-4's, and H.264's
  // stored with start codes, as the stream's header data says unless it is
  // a configuration record (whose packets hold units by their lengths).
  f->ranked = f->mpeg4 || (f->h264 && !(par->extradata_size > 0 && par->extradata[0] == 1));
  if (f->h264 && par->extradata != nullptr)
    h264_parameter_sets_read(&f->h264_sets, par->extradata, static_cast<size_t>(par->extradata_size));
  f->stream_palette = stream_palette(par);
  const MovieKeyLook key_look = f->mpeg4 ? mpeg4_may_begin : f->h264 ? h264_may_begin : any_may_begin;
  movie_chunks_open(&f->chunk_map, f->av, f->format->pb, st->id, key_look, counted);
  if (!packet_index_build(&f->index, f->chunk_map.chunks, f->chunk_map.whole, counted, f->reorders))
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
  f->input.fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (f->input.fd < 0 || ::fstat(f->input.fd, &st) != 0 || !S_ISREG(st.st_mode))
    return refuse(f, error, "not an AVI file or it cannot be read");
  f->input.size = static_cast<size_t>(st.st_size);
  // The open reads what it needs, each piece in one call: the system reads
  // no more ahead of it, where it would fetch a megabyte after the head as
  // the head and the first chunks after it are read in turn. The frames
  // read in order after the open have it read ahead again.
  ::posix_fadvise(f->input.fd, 0, 0, POSIX_FADV_RANDOM);
  read_head(&f->input);
  MovieFile* opened = open_input(f, error);
  if (opened != nullptr) ::posix_fadvise(opened->input.fd, 0, 0, POSIX_FADV_NORMAL);
  return opened;
}

MovieFile* movie_file_open_memory(const void* data, size_t size, std::string* error) {
  const MovieApi* av = movie_api(error);
  if (av == nullptr) return nullptr;
  MovieFile* f = new MovieFile;
  f->av = av;
  // The input tells memory from a file by its bytes, which must point
  // somewhere also when there are none.
  static const uint8_t kNothing = 0;
  f->input.data = data != nullptr ? static_cast<const uint8_t*>(data) : &kNothing;
  f->input.size = data != nullptr ? size : 0;
  return open_input(f, error);
}

void movie_file_close(MovieFile* f) {
  if (f == nullptr) return;
  f->av->sws_freeContext(f->scaler);
  decode_release(f);
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
  if (f->input.fd >= 0) ::close(f->input.fd);
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
