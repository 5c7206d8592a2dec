// Small AVI files written at test time: each frame's top half is one colour
// and its bottom half another, both chosen from the frame index; no two of
// the first 64 frames look alike.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Raw: BGR24 frames; RawYuv420: planar YUV 4:2:0 frames stored as they are;
// Mjpeg: JPEG frames; Mpeg4 and H264: predicted frames in display order.
// Mpeg4BFrames and H264BFrames store two B-frames between reference frames,
// so frames are stored out of display order; the MPEG-4 groups are open (the
// B-frames after a key frame are shown before it).
enum class TestMovieCodec { Raw, RawYuv420, Mjpeg, Mpeg4, Mpeg4BFrames, H264, H264BFrames };

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
  // MPEG-4 B-frames: a B-frame stored right after a P-frame is packed into
  // the P-frame's chunk and its own chunk is left empty, as packed streams
  // store them, but without the marker that says the stream is packed.
  bool packed = false;
  // With packed: the first chunk carries that marker, and a placeholder
  // picture of a few bytes fills the B-frame's chunk, as packing writers
  // store them.
  bool packed_marker = false;
};

// Colours of frame n (ARGB, alpha 255).
uint32_t test_movie_top(int n);
uint32_t test_movie_bottom(int n);

// Whether the libraries hold the codec's encoder (H.264 needs libx264).
bool test_movie_codec_available(TestMovieCodec codec);
// Writes the movie, `frames` positions long; false when the encoder is not
// available.
bool write_test_movie(const std::string& path, TestMovieCodec codec, int width, int height, int frames, int rate,
                      const TestMovieShape& shape = {});
// The frame shown at a position: the position itself, or for an empty chunk
// the last frame stored before it.
int test_movie_shown(const TestMovieShape& shape, int position);
std::vector<uint8_t> read_test_file(const std::string& path);
// A path under the test temp folder, unique within the process.
std::string test_movie_path(const char* name);
