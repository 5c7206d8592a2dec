// The pictures of a movie in decode order: one entry per chunk with data
// (movie_chunks.h), at its position. A position no entry holds is an empty
// chunk standing for the picture before it, or lost when it lies at or past
// the readable end.
//
// Pictures come in segments, each a key packet and the packets after it up
// to the next key. A key flag is only a claim: a key the decoder does not
// make a whole key picture of is dropped and its segment joins the one
// before. Decoded frames of a segment fill its positions in display order;
// the first `leading` of them (B-frames stored after an open group's key but
// shown before it) need the segment before, so a seek to the key cannot
// make them. Not part of the interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/movie/movie_chunks.h"
#include "platform/movie/movie_file.h"

struct MoviePacket {
  int64_t position;
  int64_t offset;  // where its data lies in the file
  uint32_t size;   // 0: a packed picture's entry, whose data lies in a chunk before it
  bool key;        // begins a segment
  bool checked;    // key: decoded alone, it made a key picture
  bool damaged;    // not whole: decoded for the order of the others, never shown
  bool uncoded;    // found to make no frame: shows the picture before it, as an empty chunk
  bool packed;     // a picture found packed into a chunk before, given this empty position
};

struct MoviePacketIndex {
  std::vector<MoviePacket> packets;  // by position
  std::vector<size_t> keys;          // packets that start a segment; the first packet is one
  std::vector<int32_t> leading;      // per segment; -1 until a decode through it shows it
  int64_t stored_end = 0;            // positions from here on have no chunk
  int64_t readable_end = 0;          // positions from here on hold no data
  int64_t length = 0;                // positions in the movie, at least 1
  // What it was built with, to build it anew.
  bool whole = false;
  bool reorders = false;
};

// Builds the index from a stream's chunks, whose header counts `frame_count`
// positions (0 when it does not say): the movie's length is that count, or
// the chunks' when that is more. Positions past the last chunk are lost,
// unless the file is `whole` (it goes on past its chunks): then they show the
// last picture. In a file cut short where frames may be reordered, the first
// few positions past the cut get entries of lost pictures, as a picture
// stored before the cut may be shown there. Every segment's leading count is 0 when the codec never
// reorders. False when no chunk holds data.
bool packet_index_build(MoviePacketIndex* index, const std::vector<MovieChunk>& chunks, bool whole,
                        int64_t frame_count, bool reorders);
// Builds the index anew from the chunks found again (movie_chunks_check):
// what was learned of keys, leading counts and packed pictures is learned
// again, and the movie keeps at least its length.
void packet_index_rebuild(MoviePacketIndex* index, const std::vector<MovieChunk>& chunks);
// The chunks found again hold the same positions, data and keys: each
// entry takes its chunk's place, size and damage.
void packet_index_patch(MoviePacketIndex* index, const std::vector<MovieChunk>& chunks);
// The entry stored at `position`, or -1.
int64_t packet_index_find(const MoviePacketIndex* index, int64_t position);
// The entry whose picture shows at `position`: the last at or before it that
// is not uncoded, or -1 when none is or the position lies past the readable
// end.
int64_t packet_index_shown(const MoviePacketIndex* index, int64_t position);
// The key of `segment` (not the first) begins nothing: its packets join the
// segment before, and later segments move down by one.
void packet_index_drop_key(MoviePacketIndex* index, size_t segment);
// A picture found stored with the one of entry `packet` (packed into its
// chunk) belongs at `position`, an empty chunk: it gets an entry of its own
// after that one.
void packet_index_insert(MoviePacketIndex* index, size_t packet, int64_t position);
// The segment of an entry.
size_t packet_index_segment(const MoviePacketIndex* index, size_t packet);
// One past the last entry of a segment.
size_t packet_index_segment_end(const MoviePacketIndex* index, size_t segment);
