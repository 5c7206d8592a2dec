#include "platform/movie/movie_key_probe.h"

#include <cstring>
#include <vector>

namespace {

// What a probe decoder's new pictures start filled with.
struct Fill {
  const MovieApi* av;
  uint8_t byte;
};

int filled_buffer(AVCodecContext* codec, AVFrame* frame, int flags) {
  const Fill* fill = static_cast<const Fill*>(codec->opaque);
  const int got = fill->av->avcodec_default_get_buffer2(codec, frame, flags);
  if (got < 0) return got;
  for (AVBufferRef* buf : frame->buf)
    if (buf != nullptr) std::memset(buf->data, fill->byte, buf->size);
  return 0;
}

// The frame a fresh decoder makes of the packet alone, its visible pixels
// laid out one plane after another; empty when it makes none, or none
// marked key.
std::vector<uint8_t> decode_alone(const MovieApi* av, const AVCodecContext* like, const AVCodecParameters* par,
                                  const AVPacket* pkt, Fill* fill) {
  std::vector<uint8_t> pixels;
  AVCodecContext* codec = av->avcodec_alloc_context3(like->codec);
  AVFrame* fr = av->av_frame_alloc();
  if (codec != nullptr && fr != nullptr && av->avcodec_parameters_to_context(codec, par) >= 0) {
    codec->thread_count = 1;
    codec->flags = like->flags;
    codec->strict_std_compliance = like->strict_std_compliance;
    codec->err_recognition = like->err_recognition;
    codec->max_pixels = like->max_pixels;
    codec->opaque = fill;
    codec->get_buffer2 = filled_buffer;
    if (av->avcodec_open2(codec, like->codec, nullptr) >= 0 && av->avcodec_send_packet(codec, pkt) >= 0 &&
        av->avcodec_send_packet(codec, nullptr) >= 0 && av->avcodec_receive_frame(codec, fr) == 0 &&
        key_probe_key_picture(fr)) {
      const AVPixelFormat format = static_cast<AVPixelFormat>(fr->format);
      const int size = av->av_image_get_buffer_size(format, fr->width, fr->height, 1);
      if (size > 0) {
        pixels.resize(static_cast<size_t>(size));
        if (av->av_image_copy_to_buffer(pixels.data(), size, fr->data, fr->linesize, format, fr->width, fr->height,
                                        1) < 0)
          pixels.clear();
      }
    }
  }
  av->av_frame_free(&fr);
  av->avcodec_free_context(&codec);
  return pixels;
}

}  // namespace

bool key_probe_makes_key(const MovieApi* av, const AVCodecContext* like, const AVCodecParameters* par,
                         const AVPacket* pkt) {
  Fill dark{av, 0x00};
  Fill light{av, 0xFF};
  const std::vector<uint8_t> a = decode_alone(av, like, par, pkt, &dark);
  if (a.empty()) return false;
  return a == decode_alone(av, like, par, pkt, &light);
}

bool key_probe_key_picture(const AVFrame* frame) {
  return frame->key_frame != 0 || frame->pict_type == AV_PICTURE_TYPE_I;
}
