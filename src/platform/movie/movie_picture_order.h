// Where each picture of a decode is shown, read from its own header before
// it is decoded: its display key. Sorting the pictures of a segment by their
// keys gives the order their frames are shown in, so a frame's place is
// known from the keys alone, whatever the decoder refused or never gave out
// (movie_frame_rank.h).
//
// H.264: the picture order count of its first slice, of any of the three
// kinds a sequence may use, counted again from each instantaneous refresh
// (and each reset by a memory management operation), which begins an epoch
// shown after all of the one before. Damage may have reached a header's
// order fields even where it still reads whole: a key read from a whole
// header whose picture then makes no frame is not believed, and one from a
// header the decoder refuses only where its frame number follows those of
// the pictures before it and the pictures after it bear it out
// (movie_frame_rank.h), as is the key of a picture found damaged.
//
// MPEG-4: each reference picture (I, P, S) is shown after the B-frames
// stored after it, and these in the order stored. Pictures lost after a
// reference picture holding no picture header a decoder reads are B-frames
// where a B-frame stored after them bears a time stamp before that
// picture's: they and it then keep their keys. Each picture's time, from its
// time stamp and the seconds of the reference pictures before it, is kept
// beside its key while no picture has been lost since the decode began.
//
// A key is unknown where no header can be read: a chunk lost, one without a
// picture, an MPEG-4 picture whose time stamp's markers do not hold; in
// MPEG-4 also the B-frames after such a one up to the next reference
// picture, whose place depends on what the lost one was. Not part of the
// interface.
#pragma once

#include <cstdint>

#include "platform/movie/movie_h264_packet.h"
#include "platform/movie/movie_mpeg4_packet.h"

struct PictureKey {
  bool known = false;
  int64_t epoch = 0;
  int64_t value = 0;
  bool closes = false;         // no picture stored before it is shown after it
  bool expects_frame = false;  // read from a whole header: a picture then making no frame is not what it says
  bool claimed = false;        // read from a header the decoder refuses: believed once the pictures after it bear it out
  bool counted = false;        // an order count the stream wrote, whose parity its pictures share
  bool garbled = false;        // MPEG-4: unknown, from a picture header a decoder reads whose fields do not hold
  bool timed = false;          // MPEG-4: its time stamp was read, and every time base since the decode began
  int64_t time = 0;            // then its time, in the layer's increments, from the decode's first time base
};

bool picture_key_less(const PictureKey& a, const PictureKey& b);

struct MoviePictureOrder {
  int64_t epoch = 0;
  // H.264: the state the order counts of the next pictures are read from.
  int64_t prev_msb = 0, prev_lsb = 0;  // of the last reference picture
  uint32_t prev_frame_num = 0;         // of the last picture
  int64_t frame_num_offset = 0;
  uint32_t prev_ref_frame_num = 0;     // of the last reference picture, when known
  bool ref_frame_num_known = false;
  int unknown_since = 0;               // pictures of unknown key since that reference picture
  bool decode_order = false;           // the last sequence shows pictures in the order stored
  // MPEG-4.
  int64_t group = 0;      // reference pictures so far
  int64_t in_group = 0;   // B-frames since the last one
  bool group_unknown = false;
  bool lost_decoded = false;    // a picture lost since the last reference one has a header a decoder reads
  bool ref_timed = false;       // the last reference picture's time stamp was read
  uint32_t ref_increment = 0;   // its increment within its second
  bool no_b_frames = false;  // the layer says it holds none; kept from one decode to the next
  int64_t time_resolution = 0;  // the layer's increments a second; kept from one decode to the next
  int64_t time_base = 0;        // seconds: of the last reference picture, and of the one before it
  int64_t last_time_base = 0;
  bool times_lost = false;      // a picture was lost since the decode began: its seconds are not known
};

// A decode begins.
void picture_order_begin(MoviePictureOrder* o);
PictureKey picture_order_h264(MoviePictureOrder* o, const H264SliceOrder& slice);
PictureKey picture_order_mpeg4(MoviePictureOrder* o, const Mpeg4PictureStamp& stamp);
// MPEG-4: whether the picture, a B-frame, shows that the pictures lost since
// the last reference picture, none with a header a decoder reads, were no
// reference pictures: one of them a reference, the B-frame would be shown
// after that picture, yet its time stamp lies before it.
bool picture_order_mpeg4_lost_unreferenced(const MoviePictureOrder* o, const Mpeg4PictureStamp& stamp);
// A picture whose header cannot be read.
PictureKey picture_order_lost(MoviePictureOrder* o);
// H.264: whether the slice, read whole before its key is taken, shows that
// none of the pictures lost since the last reference picture was one: its
// frame number follows that picture's by one (each reference picture counts
// one more).
bool picture_order_h264_lost_unreferenced(const MoviePictureOrder* o, const H264SliceOrder& slice);
// How many pictures stored before a picture may at most be shown after it,
// given the decoder's reorder depth: the bound its frames are placed by
// where pictures are still to come or were lost unknown.
int picture_order_reorder_bound(const MoviePictureOrder* o, bool h264, int decoder_depth);
