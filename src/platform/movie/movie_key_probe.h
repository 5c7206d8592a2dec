// Whether a movie's key packet makes a key picture: decoded alone, with
// nothing decoded before it, the frame must be marked key or be an intra
// picture, and it must not keep anything of what the decoder held before:
// two decoders whose new pictures start filled with different bytes must
// make the same frame of it. An index's key flag is only a claim, and some
// decoders call every picture a key while they keep the blocks a picture
// skips from the one before. Not part of the interface.
#pragma once

#include "platform/movie/movie_library.h"

// `like` is the stream's own decoder, whose settings the probe takes. True
// also when no decoder can be had, so the flag is taken at its word.
bool key_probe_makes_key(const MovieApi* av, const AVCodecContext* like, const AVCodecParameters* par,
                         const AVPacket* pkt);
// Whether a decoded frame is marked a key picture.
bool key_probe_key_picture(const AVFrame* frame);
