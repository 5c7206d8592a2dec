// Movie files: the first video stream of an AVI file, read frame by frame as
// 32-bit ARGB pixels. Frames are addressed by their position in the stream,
// in display order, also where the file stores them out of that order
// (B-frames). A read gives the frame at that position; at an empty chunk
// (what a capture program writes for a dropped frame) the frame before it,
// as a player holds it; and nothing where the data is lost: a picture
// missing or damaged, or one whose place among the lost ones cannot be told
// (the frames the decoder still held where a file was cut short), or a frame
// the decoder marks as not made whole. It never gives another frame.
//
// Opening indexes the stream's pictures (from the file's index, or by one
// pass of reads when it has none), so reading in order decodes each picture
// once and empty chunks cost nothing; any other position seeks to a key
// frame before it and decodes on. What the header and the index claim is
// checked against the packets and the decoder: the stream's length is the
// header's count, or what the index or the packets reach when the header
// counts less (a capture that never finished writes no count); a decode
// begins only at a key the decoder makes a key picture of and whose chunk
// lies where the index says. The decoder is drained before an MPEG-4 layer
// of another picture size, and an MPEG-4 packet holding two pictures (packed
// B-frames) gives its second one to the empty chunk after it.
//
// Sizes are checked before anything is allocated: frames wider or higher than
// kMovieMaxSide and streams longer than kMovieMaxFrames are refused, and a
// file that cannot be read is refused with a message, never a crash.
//
// The movie libraries are loaded when the first file is opened, so a program
// that plays no movie does not pay for them. When they are missing, opening
// fails with "movies cannot play: ..." and everything else goes on.
//
// One MovieFile belongs to one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr int32_t kMovieMaxSide = 4096;
constexpr uint32_t kMovieMaxFrames = 1u << 24;

struct MovieFile;

struct MovieStreamInfo {
  uint32_t frame_count;  // the stream length in frames, at least 1
  uint32_t rate;         // frames per second = rate / scale, both non-zero
  uint32_t scale;
  int32_t width, height;  // 1 .. kMovieMaxSide
};

// Opens the file at a path as the system writes it (mapped to the host) and
// reads its first frame; null with the reason in *error when it cannot.
MovieFile* movie_file_open(const std::string& path, std::string* error);
// The same for a file held in memory; the bytes must outlive the MovieFile.
MovieFile* movie_file_open_memory(const void* data, size_t size, std::string* error);
void movie_file_close(MovieFile* file);

MovieStreamInfo movie_file_info(const MovieFile* file);

// The frame at position `index` as width x height ARGB pixels (alpha 255),
// rows top first, width pixels a row. The pixels stay valid until the next
// call on the file. Null when the index lies past the stream or its frame is
// lost.
const uint32_t* movie_file_frame(MovieFile* file, uint32_t index);
