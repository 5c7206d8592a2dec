// Where a movie's pictures lie: one entry per stored picture of the video
// stream, in file order, taken at open from the demuxer's own index, or from
// one pass of packet reads (no decoding) when the file has none or only part
// of one, as when it was cut short. Positions are frame indices with empty
// chunks counted, so a position no entry holds is an empty chunk standing for
// the picture before it, or lost when it lies at or past the readable end.
//
// Pictures come in segments, each a key packet and the packets after it up
// to the next key. A key flag is only a claim: a key the decoder does not
// make a whole key picture of, or whose chunk is not where the index says,
// is dropped and its segment joins the one before. So is an offset: one out
// of the order of the chunks is forgotten, and its entry begins nothing.
// Decoded frames of a segment fill its positions in display order; the
// first `leading` of them (B-frames stored after an open group's key but
// shown before it) need the segment before, so a seek to the key cannot
// make them. Not part of the interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/movie/movie_file.h"
#include "platform/movie/movie_library.h"

struct MoviePacket {
  int64_t position;
  int64_t offset;  // where its data lies in the file; -1 when not known
  bool key;        // begins a segment
  bool checked;    // key: the decoder made a key picture of it
  bool damaged;    // cut short: decoded for the order of the others, never shown
  bool uncoded;    // found to make no frame: shows the picture before it, as an empty chunk
  bool packed;     // found stored in the chunk before it, after that chunk's own picture
};

struct MoviePacketIndex {
  std::vector<MoviePacket> packets;  // by position
  std::vector<size_t> keys;          // packets that start a segment; the first packet is one
  std::vector<int32_t> leading;      // per segment; -1 until a decode through it shows it
  int64_t readable_end = 0;          // positions from here on hold no data
  int64_t length = 0;                // positions in the movie, at least 1
};

// Builds the index for stream `stream` of an open input whose timestamps
// start at `start` and whose header counts `frame_count` positions (0 when
// it does not say): the movie's length is that count, or what the index or
// the packets reach when that is more. Every segment's leading count is 0
// when the codec never reorders. The input may be left anywhere; reading
// begins with a seek. False when the stream holds no picture.
bool packet_index_build(MoviePacketIndex* index, const MovieApi* av, AVFormatContext* format, int stream,
                        int64_t start, int64_t frame_count, bool reorders);

// Whether a packet whose data was read from `data_at` (-1: not known) can be
// the picture of entry `packet`: the index's claim holds, or where the entry's
// own offset cannot be believed, the data lies between its neighbours'.
bool packet_index_from_place(const MoviePacketIndex* index, size_t packet, int64_t data_at);
// The index's offsets are not where the packets are read from: none is
// believed.
void packet_index_forget_offsets(MoviePacketIndex* index);
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
