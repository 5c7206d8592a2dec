// The state of an open movie file, shared by its reading (movie_file.cpp)
// and its decoding (movie_decode.h). Not part of the interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "platform/movie/movie_chunks.h"
#include "platform/movie/movie_damage.h"
#include "platform/movie/movie_file.h"
#include "platform/movie/movie_frame_order.h"
#include "platform/movie/movie_h264_packet.h"
#include "platform/movie/movie_library.h"
#include "platform/movie/movie_mpeg4_packet.h"
#include "platform/movie/movie_packet_index.h"
#include "platform/movie/movie_picture_order.h"
#include "platform/movie/movie_scaled_frame.h"

// What a picture's own bytes must prove before it is taken for whole
// (movie_picture_check.h): nothing, that a JPEG scans every component, that
// every slice's CRC of an FFV1 picture holds.
enum class PictureCheck { None, JpegScans, Ffv1SliceCrcs };

// The file's bytes as the movie library's input reads them: held in memory,
// or read from the disk where they are asked for, the file's first bytes
// (its headers, and often its first chunks) read once in one call.
struct MovieInput {
  const uint8_t* data = nullptr;  // a file held in memory
  int fd = -1;                    // else an open file
  size_t size = 0;
  size_t pos = 0;
  std::vector<uint8_t> head;  // an open file's first bytes
};

// A frame out of the decoder, placed at its position and kept until it is
// read.
struct WaitingFrame {
  int64_t position;
  int64_t pts;  // the picture it was made from
  AVFrame* frame;
  int verdict;  // made from whole pictures: 1 yes, 0 no, -1 not known yet (movie_damage.h)
};

struct MovieFile {
  const MovieApi* av = nullptr;
  AVFormatContext* format = nullptr;
  AVIOContext* io = nullptr;
  MovieInput input;
  AVCodecContext* codec = nullptr;
  SwsContext* scaler = nullptr;
  AVPacket* packet = nullptr;
  AVPacket* pending = nullptr;  // a chunk held back while the decoder drains before it
  size_t pending_entry = 0;
  Mpeg4PacketLook pending_look;
  bool pending_damaged = false;
  AVPacket* packed = nullptr;  // a B-frame split from a packed chunk, waiting for its place
  PictureKind packed_kind = PictureKind::Droppable;
  bool packed_damaged = false;
  AVPacket* spare = nullptr;
  AVFrame* frame = nullptr;
  int stream = -1;
  MovieStreamInfo info{};
  MovieChunkMap chunk_map;
  MoviePacketIndex index;
  ScaledFrame scaled;
  const uint32_t* pixels = nullptr;  // the held frame, inside scaled
  int64_t held = -1;                 // the position whose frame is in pixels
  std::vector<uint32_t> stream_palette;  // paletted formats: the stream header's
  std::vector<uint32_t> palette;         // the last sent to the decoder, since the decode began
  int64_t palette_at = 0;                // where the picture it was last sent with lies
  // The decode since the last seek.
  bool decoding = false;      // false: the next read seeks
  bool ended = false;         // no picture is left to send and the decoder is draining
  size_t first_packet = 0;    // the key entry it began at
  size_t next_packet = 0;     // the entry to send next
  MovieFrameOrder order;
  MoviePictureOrder picture_order;
  H264ParameterSets h264_sets;  // met since the file was opened
  MovieDamage damage;
  std::deque<WaitingFrame> waiting;
  bool palette_sent = false;
  bool reorders = false;           // the codec may store frames out of display order
  bool mpeg4 = false;
  bool h264 = false;
  bool ranked = false;             // frames are placed by their pictures' display order (movie_frame_rank.h)
  bool skips = false;              // the decoder makes no frame of a picture marked not coded
  bool intra_only = false;         // every picture is a key picture
  PictureCheck picture_check = PictureCheck::None;
  bool restart = false;            // the key the decode began at begins nothing: begin again
  int time_bits = 0;               // MPEG-4: the length of a picture's time increment
  std::vector<uint8_t> layer;      // MPEG-4: the last video object layer header sent since the seek
  int start_depth = 0;             // the decoder's reorder depth at the seek
  int depth = 0;                   // its depth since
  bool raised_late = false;        // it raised its depth after frames came out
  int64_t last_sent = -1;          // the position of the last picture sent
  int64_t owed = 0;                // pictures sent whose frames have not come out
  bool any_out = false;            // a frame came out since the seek
  std::vector<int64_t> damaged;    // positions of damaged pictures sent whose frames have not come out
  std::deque<AVFrame*> held_back;  // frames out since then, not yet placed; an empty one marks a picture that made none
};
