#include "platform/movie/movie_key_probe.h"

namespace {

bool open_probe(MovieKeyProbe* probe, const MovieApi* av, const AVCodecContext* like, const AVCodecParameters* par) {
  probe->codec = av->avcodec_alloc_context3(like->codec);
  if (probe->codec != nullptr && av->avcodec_parameters_to_context(probe->codec, par) >= 0) {
    probe->codec->thread_count = 1;
    probe->codec->flags = like->flags;
    probe->codec->strict_std_compliance = like->strict_std_compliance;
    probe->codec->max_pixels = like->max_pixels;
    if (av->avcodec_open2(probe->codec, like->codec, nullptr) >= 0) return true;
  }
  av->avcodec_free_context(&probe->codec);
  return false;
}

}  // namespace

bool key_probe_makes_key(MovieKeyProbe* probe, const MovieApi* av, const AVCodecContext* like,
                         const AVCodecParameters* par, const AVPacket* pkt) {
  if (probe->codec == nullptr && !open_probe(probe, av, like, par)) return true;
  AVFrame* fr = av->av_frame_alloc();
  if (fr == nullptr) return true;
  av->avcodec_flush_buffers(probe->codec);
  bool key = false;
  if (av->avcodec_send_packet(probe->codec, pkt) >= 0 && av->avcodec_send_packet(probe->codec, nullptr) >= 0) {
    while (av->avcodec_receive_frame(probe->codec, fr) == 0) {
      key = key || key_probe_key_picture(fr);
      av->av_frame_unref(fr);
    }
  }
  av->av_frame_free(&fr);
  return key;
}

void key_probe_close(MovieKeyProbe* probe, const MovieApi* av) { av->avcodec_free_context(&probe->codec); }

bool key_probe_key_picture(const AVFrame* frame) {
  return frame->key_frame != 0 || frame->pict_type == AV_PICTURE_TYPE_I;
}
