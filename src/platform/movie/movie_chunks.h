// Where a movie's pictures lie: the chunks of its video stream, read from the
// AVI file itself in the order it stores them, one chunk a position. The
// file's index (idx1) is only a witness, its entries matched to the chunks in
// line: an entry that puts a picture of another size on its chunk marks the
// chunk damaged (it is not the picture the index puts there); one of size 0
// says nothing of it. Where offsets stop meeting chunks, as after a chunk
// cut short, entries are matched in sequence by their sizes, which also tells
// where chunks were lost in damage the scan passed over: their positions
// stay, damaged and empty. A chunk named for another stream that an entry of
// this stream names with its size is this stream's. An index whose entries
// do not meet the chunks they name, as when all its offsets are moved, is
// not believed. Key flags come from the entries that name their chunk whole,
// else from a look at the chunk's first bytes, and are only claims: the
// decoder checks them (movie_key_probe.h).
//
// A header whose size runs past its list, or a chunk followed by bytes that
// are no chunk, is resynchronised on the next chunk found in the bytes (a
// name a movi list holds, followed where its size ends by another); the
// chunk before is damaged, and cut short where the next one lies inside it.
// Lists that never had their sizes written (a capture that never finished)
// run to the end of the file. Not part of the interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/movie/movie_library.h"

struct MovieChunk {
  int64_t offset;  // where its data begins in the file
  uint32_t size;   // bytes of data; 0: an empty chunk, which repeats the picture before
  bool key;        // may begin a decode
  bool damaged;    // not whole: cut short, or not the picture the index puts in its place
};

// Whether a picture whose chunk begins with these bytes may begin a decode;
// true when the bytes do not tell.
using MovieKeyLook = bool (*)(const uint8_t* data, size_t size);

// The chunks of the stream numbered `stream` in the file behind `pb` (its
// chunks are named with that number), in file order; empty when there are
// none. The first is always a key. *whole tells whether the file goes on
// past them with its index, as a file that was not cut short does. Reads
// move `pb` anywhere.
std::vector<MovieChunk> movie_chunks_scan(const MovieApi* av, AVIOContext* pb, int stream, MovieKeyLook key_look,
                                          bool* whole);
