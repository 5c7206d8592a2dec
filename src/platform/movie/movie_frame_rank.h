// Placing the frames out of a movie's decoder by their pictures' display
// keys (movie_frame_order.h). Where the pictures' headers tell their display
// order (H.264, MPEG-4: movie_picture_order.h), a frame's place is its
// picture's rank among the keys of its segment's pictures: those the decoder
// refused, never gave out or was never sent keep their places, and cost no
// other frame its own. A picture whose key is unknown (no header read) has
// its place told only where the bound on how far the stream reorders
// pictures puts it before or after a frame; where it may lie on either side,
// that frame's place is not known. Pictures of a segment still to be sent
// are bounded the same way: a frame waits for its place until enough
// pictures after it have been sent, or until its segment is all sent. A
// frame out of the decoder tells that the pictures before it in display
// order that have not come out make none (a decoder gives frames out in that
// order), and a key read from a whole header whose picture makes none
// becomes unknown. A key the decoder refused the header of is believed once
// as many pictures after it as the bound allows to be overtaken have been
// sent without showing it false: it must be unique, of the parity the others
// share, and put no picture past the bound. So is the key of a picture found
// damaged: a chunk not whole, a frame made with errors. A file cut short
// leaves the pictures beyond the cut unknown for good. The frames of the
// segment a decode began at that show before its key's own are made without
// the segment before and are not shown; the rank of the key's own frame is
// its segment's leading count, and where that count is known (none before
// the first key) the key's frame takes its place whatever the pictures of
// unknown key are. Where a segment is all sent and its known keys are order
// counts stepping evenly that leave as many counts free as it has pictures
// of unknown key, those take the free counts, and the other frames their
// places. In MPEG-4, where the keys of types alone leave a frame's place
// open, its picture's time stamp places it: a step of the segment's times a
// position from its key's, where the key's leading count is known, the times
// bear out the keys and no picture of the segment was garbled.
//
// A place can be filled only by the pictures stored no more than the bound
// after it: once those are all sent and each has its frame out, was refused
// or lost, or the decoder was drained, decoding on gives that place nothing.
// That a picture makes no frame is taken there from the decoder alone, not
// from the frames after it, as a decoder that refused a reference picture
// gives out the B-frames after it before the one it holds; but a picture
// whose frame has not come out after the frames of more pictures stored after
// it than a decoder holds back makes none.
//
// The calls below are for a decode placing by keys (frame_order_start); in
// one that counts frames they change nothing, and every frame is ready. Not
// part of the interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/movie/movie_packet_index.h"
#include "platform/movie/movie_picture_order.h"

struct MovieFrameOrder;

// A picture of a decode placed by its key.
struct OrderedPicture {
  int64_t position;
  PictureKey key;
  int32_t overtaken;  // known pictures of its segment stored before it and shown after it
  bool repeats;       // marked not coded: making no frame, its place shows the frame before
  bool resolved;      // its frame came out, or it is known to make none
  bool given;         // its frame came out, or the decoder refused it, never had it or was drained
};

// The pictures of one segment met by a decode, in the order stored.
struct OrderedSegment {
  int64_t key_position;
  std::vector<OrderedPicture> pictures;
  std::vector<PictureKey> known;  // the known keys, sorted
  std::vector<size_t> unknown;    // pictures whose key is unknown
  std::vector<size_t> claimed;    // pictures whose key is claimed, not yet borne out
  std::vector<bool> placed;       // by position from the key's: a frame was placed there
  int64_t last_epoch = 0;
  size_t unresolved = 0;
  size_t settled = 0;   // the pictures before it are all resolved
  bool broken = false;  // a picture with no position of its own was dropped: nothing more is placed
  // The last stored of the pictures whose frames came out, at most one more
  // than a decoder holds frames back over: a heap, the first stored on top.
  std::vector<size_t> latest_out;
  // The pictures before it give no frame still to come: each is given, or
  // more pictures stored after it gave their frames than a decoder holds
  // frames back over.
  size_t open = 0;
};

// The picture of the entry at `position` was sent, or lost before it could
// be, with its key; `repeats`: it is marked not coded; `damaged`: its chunk
// is not whole, and its key only claimed.
void frame_rank_sent(MovieFrameOrder* order, const MoviePacketIndex* index, int64_t position, PictureKey key,
                     bool repeats, bool damaged);
// The frame of the picture at `position` came out made with errors: damage
// may have reached its header, whose key is only claimed.
void frame_rank_suspect(MovieFrameOrder* order, const MoviePacketIndex* index, int64_t position);
// The picture at `position` makes no frame; one marked not coded makes its
// place show the frame before.
void frame_rank_none(MovieFrameOrder* order, MoviePacketIndex* index, int64_t position);
// The decoder is drained; what has not come out makes no frame.
void frame_rank_end(MovieFrameOrder* order);
// Whether the place of the frame of picture `pts`, out of the decoder, is
// settled: false while pictures still to be sent may yet tell it.
bool frame_rank_ready(MovieFrameOrder* order, MoviePacketIndex* index, int64_t pts);

// What frame_order_place and frame_order_will_place answer for a decode
// placing by keys.
int64_t frame_rank_place(MovieFrameOrder* order, MoviePacketIndex* index, int64_t pts, bool in_order, bool made);
bool frame_rank_will_place(const MovieFrameOrder* order, const MoviePacketIndex* index, size_t packet);
// A picture with no position of its own was dropped from the entry
// `packet`'s segment (frame_order_drop): nothing more of it is placed.
void frame_rank_drop(MovieFrameOrder* order, const MoviePacketIndex* index, size_t packet);
// The segment whose key lies at `key_position` joins the one whose key lies
// at `before_position` (frame_order_drop_key): its pictures join those met
// of that one, or where those were not met, their ranks are not known.
void frame_rank_join(MovieFrameOrder* order, int64_t key_position, int64_t before_position);
