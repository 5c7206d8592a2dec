// Movie files: the first video stream of an AVI file, read frame by frame as
// 32-bit ARGB pixels. Frames are addressed by their position in the stream,
// in display order, also where the file stores them out of that order
// (B-frames). A read gives the frame at that position; at an empty chunk
// (what a capture program writes for a dropped frame) the frame before it,
// as a player holds it; and nothing where the data is lost or damaged: a
// picture missing, cut short or not the one the index puts there, a frame
// the decoder made with errors or marks as not made whole, a picture whose
// own bytes show damage its decoder would pass over without a word (a JPEG
// that codes no scan of a component, an FFV1 slice failing its CRC; an MJPEG
// decoder that meets an error in a scan refuses the picture), a frame predicted
// from a damaged picture (up to the next picture that needs none before it),
// or one whose place among the lost ones cannot be told. Where a codec
// carries nothing that tells damage (FFV1 without slice CRCs, Huffyuv), a
// damaged picture shows as its decoder makes it, what the decoder leaves
// unwritten black. It never gives another frame, and a fault costs only the
// pictures it touches.
//
// Positions are the stream's chunks as the file stores them
// (movie_chunks.h); the file's index only witnesses them. Opening reads the
// headers and the index, and takes where each chunk lies, and which are
// keys, from the index where its entries tile the chunk lists or list every
// chunk of the stream; each chunk's header, and a key's first bytes, are
// checked when its picture is read, and where the header disagrees the
// chunks are found again from there to the next entry that agrees, as
// reading every header would have found them. A
// frame's place among its segment's positions is its picture's rank in
// display order, read from the pictures' own headers where the codec tells
// it (H.264's picture order counts, MPEG-4's picture types), so that a
// picture the decoder refuses or never gives out, or one lost or cut off,
// costs no other frame its place; other codecs count the frames out of the
// decoder (movie_frame_order.h). Reading in order decodes each picture once
// and empty chunks cost nothing; any other position starts decoding at a
// key frame before it. A read that gives nothing costs the pictures up to
// those that may still be shown at its position, not the rest of its
// segment, and the next read goes on from there. The stream's length is the header's count, or the
// chunks' when the header counts less (a capture that never finished writes
// no count). A key begins a decode only when the decoder makes a key picture
// of it alone. The decoder is drained before an MPEG-4 layer of another
// picture size, and MPEG-4 B-frames packed as packing writers store them,
// with or without the marker that says so, are unpacked to their own
// positions.
//
// Sizes are checked before anything is allocated: frames wider or higher than
// kMovieMaxSide and streams longer than kMovieMaxFrames are refused, and a
// file that cannot be read, or none of whose pictures can be made, is
// refused with a message, never a crash.
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
