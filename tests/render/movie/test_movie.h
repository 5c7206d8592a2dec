// Small AVI files written at test time: each frame's top half is one colour
// and its bottom half another, both chosen from the frame index; no two of
// the first 64 frames look alike. A frame may also carry its number, burnt
// in as digits of solid blocks that codec blur leaves readable.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Raw: BGR24 frames; RawYuv420: planar YUV 4:2:0 frames stored as they are;
// Mjpeg: JPEG frames; Mpeg4 and H264: predicted frames in display order.
// Mpeg4BFrames and H264BFrames store two B-frames between reference frames,
// so frames are stored out of display order; the MPEG-4 groups are open (the
// B-frames after a key frame are shown before it). H264Pyramid stores three
// B-frames between reference frames, the middle one a reference for the
// other two (the H.264 encoder's own defaults): P4 B2 b1 b3. MsVideo1:
// 16-bit blocks, where a block unchanged since the frame before is skipped
// and keeps what the decoder last drew there (width and height multiples of
// 4). RawPal8Bottom: 8-bit palette indexes stored bottom-up, as capture
// programs store them, the palette in the stream's header. Ffv1: lossless
// FFV1 pictures as the encoder makes them by default (one slice, no
// checksums), a key every key_interval frames, the pictures between going
// on from the coding contexts of the one before; Ffv1SliceCrc: the same in
// FFV1 version 3, four slices, each with its CRC (the encoder's "slicecrc").
enum class TestMovieCodec {
  Raw,
  RawYuv420,
  RawPal8Bottom,
  Mjpeg,
  Mpeg4,
  Mpeg4BFrames,
  H264,
  H264BFrames,
  H264Pyramid,
  MsVideo1,
  Ffv1,
  Ffv1SliceCrc
};

// How a movie departs from a plain one.
struct TestMovieShape {
  int key_interval = 12;  // predicting codecs: a key frame every this many frames
  bool open_gop = false;  // H.264: the B-frames after a key frame are shown before it
  // Positions written as empty chunks, as a capture program marks a dropped
  // frame: gap_length of them from gap_at, again every gap_every positions
  // when that is not 0.
  int gap_at = -1;
  int gap_length = 0;
  int gap_every = 0;
  // H.264: no picture but the first is coded whole; from each key frame on, a
  // band of the picture is refreshed at a time, across key_interval frames.
  bool intra_refresh = false;
  // The picture is a strip of 16-pixel columns, each in the colours of a
  // later frame; the top half moves a column left each frame and the bottom
  // half a column right, so each picture is predicted from the one before.
  // The top-left and bottom-right pixels keep the frame's own colours.
  bool moving = false;
  // From this frame on, a second clip of twice the width and height follows,
  // joined as it stands.
  int resize_at = -1;
  // MPEG-4 B-frames packed as packing writers store them: the first B-frame
  // after a reference frame joins that frame's chunk, each further B-frame
  // moves one chunk earlier, and the chunk after the last holds a
  // placeholder for the reference frame (a picture header marked not coded,
  // 6 bytes): [I0] [P3 B1] [B2] [placeholder]. So each position's chunk ends
  // with the picture shown there, but a decoder must know of the packing.
  bool packed = false;
  // With packed: the placeholder is an empty chunk instead.
  bool packed_empty = false;
  // With packed: the key frames' chunks carry the user data by which such a
  // writer says it packs B-frames.
  bool packed_marker = false;
  // The top half changes colour only every second frame: an odd frame's top
  // is that of the frame before it.
  bool still_top = false;
  // Bytes of an audio stream (16-bit PCM) a frame, stored as one chunk after
  // each video chunk; 0: no audio.
  int audio = 0;
  // Layouts other writers give the movi list and its index, made anew from
  // the muxer's file. Each chunk followed by a JUNK chunk that pads it to a
  // multiple of this many bytes of the file, as capture writers pad to their
  // disks' sectors; 0: none.
  int pad_to = 0;
  // Each picture's chunk and the audio chunks after it in a 'LIST rec ',
  // which the index names too, flagged as a list.
  bool rec_lists = false;
  // Every idx1 offset moved by this many bytes: -4 puts the first entry at 0,
  // counted from the first chunk instead of from the movi list's name.
  int index_shift = 0;
  // As GStreamer's avimux writes: pictures named "NNdb", idx1's offsets
  // counted from the file's start, a picture's entry flagged 0x12 when it
  // is a key and 0x02 when not, audio entries 0.
  bool avimux = false;
  // The frame's number burnt in as three black digits, each 3 x 5 blocks of
  // 8 x 8 pixels, 8 pixels in from the top-left corner; the frame must be at
  // least 112 x 56.
  bool numbered = false;
};

// Colours of frame n (ARGB, alpha 255).
uint32_t test_movie_top(int n);
uint32_t test_movie_bottom(int n);
// The colour of pixel (x, y) of frame n, width x height, in a movie of that
// shape.
uint32_t test_movie_pixel(const TestMovieShape& shape, int n, int x, int y, int width, int height);
// Whether pixel (x, y) of a numbered frame lies so near the edge of a
// digit's block that codec blur between black and colour reaches it.
bool test_movie_near_digit_edge(int x, int y);
// The number burnt into a numbered frame's pixels (width pixels a row): each
// block read at its middle, so blur at the blocks' edges does not count; -1
// when a block is neither black nor clearly a colour, or the blocks spell no
// digit.
int test_movie_read_number(const uint32_t* pixels, int width);

// Whether the libraries hold the codec's encoder (H.264 needs libx264).
bool test_movie_codec_available(TestMovieCodec codec);
// Writes the movie, `frames` positions long; false when the encoder is not
// available.
bool write_test_movie(const std::string& path, TestMovieCodec codec, int width, int height, int frames, int rate,
                      const TestMovieShape& shape = {});
// The movi list and idx1 of a movie as the muxer wrote it (a plain one)
// laid out anew as the shape's layout fields ask; the lists before them stay
// as they are. False when the file is no such movie.
bool test_movie_lay_out(const std::string& path, const TestMovieShape& shape);
// The frame shown at a position: the position itself, or for an empty chunk
// the last frame stored before it.
int test_movie_shown(const TestMovieShape& shape, int position);
std::vector<uint8_t> read_test_file(const std::string& path);
// A path under the test temp folder, unique within the process.
std::string test_movie_path(const char* name);
