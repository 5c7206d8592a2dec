// Whether a movie's key packet makes a key picture: a decoder of its own,
// opened on first use, decodes the packet alone, with nothing decoded before
// it, and the frame it makes must be marked key or be an intra picture. An
// index's key flag is only a claim. Not part of the interface.
#pragma once

#include "platform/movie/movie_library.h"

struct MovieKeyProbe {
  AVCodecContext* codec = nullptr;
};

// `like` is the stream's own decoder, whose settings the probe takes. True
// also when no decoder can be had, so the flag is taken at its word.
bool key_probe_makes_key(MovieKeyProbe* probe, const MovieApi* av, const AVCodecContext* like,
                         const AVCodecParameters* par, const AVPacket* pkt);
void key_probe_close(MovieKeyProbe* probe, const MovieApi* av);
// Whether a decoded frame is a key picture.
bool key_probe_key_picture(const AVFrame* frame);
