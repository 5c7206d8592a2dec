// Which position each frame out of a movie's decoder fills. Each picture
// sent to the decoder carries its position as its timestamp, which the
// decoder hands on to the frame it makes. The frames of a segment
// (movie_packet_index.h) fill the segment's positions in display order.
//
// Where the pictures' headers tell their display order (H.264, MPEG-4:
// movie_picture_order.h), a frame's place is its picture's rank among the
// keys of its segment's pictures (movie_frame_rank.h).
//
// Other codecs count frames instead: counted from the segment's first frame
// when the decode came through the segment before, or from the key's own
// frame (at its leading count) when the decode began at that key; counting
// through a segment learns its leading count. A loss (a picture missing or
// refused, a damaged one dropped, a packet holding two pictures with nowhere
// to put the second, a reorder depth the decoder raises after handing out
// frames) leaves the place of every later frame of its segment unknown. The
// next segment's leading frames are then made from what was lost and are not
// shown; the decode still made them all, so counting them places the rest.
//
// In both ways, a segment whose key is found to begin nothing joins the one
// before, and a decode through it goes on as through one segment. Not part
// of the interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

#include "platform/movie/movie_frame_rank.h"
#include "platform/movie/movie_packet_index.h"

struct MovieFrameOrder {
  int64_t began_at = 0;       // the segment whose key the decode began at
  int64_t lost_segment = -1;  // the last segment with a loss, or the one before the start
  int64_t out_segment = -1;   // the segment of the last frame out
  int64_t out_next = -1;      // that segment's slot for its next frame; -1 unknown
  bool awaiting_key = false;  // out_segment's frames before its key's own are not shown
  // Placing by keys (movie_frame_rank.h).
  bool ranked = false;
  bool open_end = false;       // the file was cut short: pictures may follow the last one read
  bool more_pending = false;   // a picture split from a chunk is still to be sent
  int bound = 0;               // pictures stored before one that may be shown after it
  std::deque<OrderedSegment> segments;
};

// The segment a decode should begin at to make the frame of entry `packet`
// with its place known: its own, or the one before when the frame may be a
// leading one.
size_t frame_order_start_segment(const MoviePacketIndex* index, size_t packet);
// A decode begins at the key of `segment`, placing frames by their pictures'
// keys when `ranked`; `open_end`: the file is cut short.
void frame_order_start(MovieFrameOrder* order, size_t segment, bool ranked, bool open_end);
// The key of `segment` (not the first) begins nothing: the segment joins the
// one before (packet_index_drop_key), and frames counted in it count on in
// the joined one.
void frame_order_drop_key(MovieFrameOrder* order, MoviePacketIndex* index, size_t segment);
// Counting: the picture of entry `packet` (or the pictures up to it) will not
// come. Placing by keys, a lost picture is told by frame_rank_sent instead.
void frame_order_lose(MovieFrameOrder* order, const MoviePacketIndex* index, size_t packet);
// A picture with no position of its own was dropped (a packed B-frame with
// nowhere to go): the places of the frames of its segment from here on are
// not known.
void frame_order_drop(MovieFrameOrder* order, const MoviePacketIndex* index, size_t packet);
// The entry whose position the next frame out fills, from its timestamp; -1
// when its place is unknown or the frame is a damaged picture's. A decoder
// that reorders nothing (`in_order`) gives each frame at its own picture's
// place; pictures it passed over without a frame are marked uncoded. A
// picture the decoder is known to have made nothing of (not `made`) takes
// the place its frame would have filled, marked uncoded.
int64_t frame_order_place(MovieFrameOrder* order, MoviePacketIndex* index, int64_t pts, bool in_order, bool made);
// Whether decoding on from here can still give the frame of entry `packet`
// its place: false once it has passed that place, when that place is no
// longer known, or (placing by keys) when every picture that may be shown
// there has been sent and has its frame out or makes none.
bool frame_order_will_place(const MovieFrameOrder* order, const MoviePacketIndex* index, size_t packet);
