// The movie libraries, loaded on first use: a program that plays no movie
// never maps libavformat, libavcodec, libswscale or libavutil. The functions
// the movie layer calls are resolved into one table. Not part of the
// interface.
#pragma once

#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/crc.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
#include <libswscale/swscale.h>
}

// The largest block the movie libraries may take at once: a frame of the
// largest size at 32 bits a pixel, and room to spare. A file whose headers
// claim more (a list of gigabytes in a file of kilobytes) fails to open
// instead of taking the memory.
constexpr size_t kMovieMaxAlloc = size_t{80} << 20;

// Each entry: the library that exports it and the function's name.
#define TL_MOVIE_FUNCTIONS(X)                   \
  X(avutil, av_log_set_level)                   \
  X(avutil, av_max_alloc)                       \
  X(avutil, av_malloc)                          \
  X(avutil, av_free)                            \
  X(avutil, av_freep)                           \
  X(avutil, av_frame_alloc)                     \
  X(avutil, av_frame_free)                      \
  X(avutil, av_frame_unref)                     \
  X(avutil, av_frame_move_ref)                  \
  X(avutil, av_image_get_buffer_size)           \
  X(avutil, av_image_copy_to_buffer)            \
  X(avutil, av_image_fill_black)                \
  X(avutil, av_crc_get_table)                   \
  X(avutil, av_crc)                             \
  X(swscale, sws_getCachedContext)              \
  X(swscale, sws_scale)                         \
  X(swscale, sws_freeContext)                   \
  X(avcodec, avcodec_find_decoder)              \
  X(avcodec, avcodec_descriptor_get)            \
  X(avcodec, avcodec_alloc_context3)            \
  X(avcodec, avcodec_parameters_to_context)     \
  X(avcodec, avcodec_open2)                     \
  X(avcodec, avcodec_free_context)              \
  X(avcodec, avcodec_send_packet)               \
  X(avcodec, avcodec_receive_frame)             \
  X(avcodec, avcodec_flush_buffers)             \
  X(avcodec, avcodec_default_get_buffer2)       \
  X(avcodec, av_packet_alloc)                   \
  X(avcodec, av_packet_free)                    \
  X(avcodec, av_packet_unref)                   \
  X(avcodec, av_packet_move_ref)                \
  X(avcodec, av_packet_ref)                     \
  X(avcodec, av_new_packet)                     \
  X(avcodec, av_packet_new_side_data)           \
  X(avformat, av_find_input_format)             \
  X(avformat, avformat_alloc_context)           \
  X(avformat, avformat_open_input)              \
  X(avformat, avformat_close_input)             \
  X(avformat, avio_seek)                        \
  X(avformat, avio_read)                        \
  X(avformat, avio_size)                        \
  X(avformat, avio_alloc_context)               \
  X(avformat, avio_context_free)

struct MovieApi {
#define TL_MOVIE_MEMBER(library, name) decltype(&::name) name;
  TL_MOVIE_FUNCTIONS(TL_MOVIE_MEMBER)
#undef TL_MOVIE_MEMBER
};

// The table, loading the libraries on the first call; null with the reason
// ("movies cannot play: ...") in *error when a library or a function is
// missing. A failed load is tried again on the next call. Thread-safe.
const MovieApi* movie_api(std::string* error);
