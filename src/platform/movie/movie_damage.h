// Which frames of a decode are made from damaged data. A picture is damaged
// when its chunk is (movie_chunks.h), when its own bytes show damage
// (movie_picture_check.h), when the decoder refused it or concealed errors
// in its frame, or when its frame never came out. Once a
// picture that others refer to is damaged, the pictures after it in decode
// order that may be predicted from it are too, up to a picture that needs
// none before it; a picture nothing refers to harms only itself. B-frames
// stored right after an intra picture may still refer to the pictures before
// it, so they share in damage from before it; those stored after the next
// reference picture refer to the intra picture and that one only. In H.264
// any picture may refer to several before it, so an intra picture ends the
// damage only where it is a refresh or a recovery point; another is whole
// itself, but the pictures after it share in damage from before it. A
// picture's kind is read from its header, where damage may have reached: an
// H.264 slice type past the last says nothing of it. A chunk holding no
// picture header at all is taken for a picture others refer to, until (in
// H.264) the frame number of the next picture read whole shows that no
// reference picture came between.
//
// A frame is judged once every picture it may refer to has come out: for a
// B-frame that includes the reference picture stored before it and shown
// after it. Each decode (since a seek) is judged on its own. Not part of the
// interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

enum class PictureKind {
  Refresh,    // needs no picture before it, and none after it refers to one before it
  Intra,      // needs no picture before it; B-frames stored after it may refer to pictures before it
  Standalone, // needs no picture before it; any stored after it may refer to pictures before it
  Reference,  // may refer to pictures before it, and others to it
  Droppable,  // may refer to pictures before it; none refers to it
  NotCoded,   // makes no frame: its position repeats the picture before
};

struct SentPicture {
  int64_t pts;
  PictureKind kind;
  bool damaged;
  bool resolved;  // its frame came out, or it is known to make none
  bool tainted;   // made from a damaged picture; known once the judged frontier passes it
  bool guessed;   // its kind could not be read
};

struct MovieDamage {
  std::deque<SentPicture> sent;  // in decode order, the pts rising
  size_t frontier = 0;           // sent pictures before it know whether they are tainted
  bool chain = false;            // a reference picture since the last intra one is damaged
  bool before_intra = false;     // the chain before the last intra picture was
  int references = 0;            // reference pictures since the last intra one, itself included
};

// A decode begins.
void damage_begin(MovieDamage* d);
// `guessed`: the kind could not be read (no header), and is taken to be one
// others refer to until damage_unreferenced says otherwise.
void damage_sent(MovieDamage* d, int64_t pts, PictureKind kind, bool damaged, bool guessed = false);
// The pictures whose kind was guessed since the last one others refer to
// are found to be none that others refer to.
void damage_unreferenced(MovieDamage* d);
// The frame of picture `pts` came out, made with concealed errors or not.
// A decoder that never reorders made no frame of a picture sent before it
// that has none yet.
void damage_out(MovieDamage* d, int64_t pts, bool errors, bool never_reorders);
// Picture `pts` makes no frame: refused, dropped, or never given.
void damage_lost(MovieDamage* d, int64_t pts);
// The decoder is drained: the pictures still without a frame made none.
void damage_end(MovieDamage* d);
// 1: the frame of picture `pts` is made from whole pictures only; 0: it is
// not, or the picture is not one of this decode's; -1: not known yet.
int damage_judge(MovieDamage* d, int64_t pts);
