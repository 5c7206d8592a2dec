// Where a movie's pictures lie: the chunks of its video stream in the order
// the AVI file stores them, one chunk a position. Opening reads the file's
// headers and its index, not the chunks: a file with no index is the one
// layout whose open reads every header. The index is the stream's OpenDML
// one (an indx super index naming ix## chunks) where it has one, else idx1,
// whose offsets count from the movi list's name, the file's start or the
// list's first chunk; it is taken where a sample of this stream's entries
// (the first few and some spread over the rest) mostly meets the headers
// they name. An entry is then taken for its chunk's header, unread, where
// the next entry begins where its chunk ends (with its pad byte or without),
// or anywhere after that inside the movi list where the index lists as many
// of this stream's chunks as the stream's header counts and none inside a
// chunk another entry names (a gap then holds none of them: JUNK padding, a
// list's header); a "rec " list's entry is taken for the list. Headers are
// read where that fails (an overlap, an entry outside its list, the last
// entry, an empty chunk of this stream followed by a gap, an entry bearing a
// name its stream's others do not, any other stream's entry where the index
// lists fewer of this stream's chunks than the header counts). A header
// alone damaged under this stream's entry (a name no stream bears, or a size
// leading to no header where the entry's leads to one) leaves the chunk
// where the entry puts it, its data the bytes the entry names.
//
// A chunk taken unread has its header checked when its data is read
// (movie_chunks_check), and, where the index calls it a key, its first bytes
// too: a key they deny joins the segment before (movie_packet_index.h); the
// first chunk, where decoding must begin, is damaged instead, and so is what
// follows from it up to the next key. Where the header disagrees with its
// entry, the chunks are found again as a file with no index has them found,
// header by header, from the nearest entry of this stream before it whose
// header agrees to the nearest one after it (to the end of the list where
// more chunks lie before that one than the entries between name, its offset
// being stale), and those entries are matched to them as below. So a wrong
// entry costs a scan to the next entry that agrees; after 16 such stretches
// every header of the file is read once.
//
// The index is a witness (movie_chunk_index.h), its entries matched to the
// chunks in line: an entry that puts a picture of another size on its chunk
// marks the chunk damaged (it is not the picture the index puts there),
// unless the chunk's own size leads to the next entry's header where the
// entry's does not; one of size 0 says nothing of it; a size one more than
// an odd chunk's agrees with it where the pad byte is there (an index that
// counts it). Where offsets stop meeting chunks, as after a chunk cut short,
// entries are matched in sequence by their sizes, which also tells where
// chunks were lost in damage the scan passed over: their positions stay,
// damaged and empty. A chunk named for another stream (a name the index
// gives that stream) that an entry of this stream names with its size is
// this stream's where the stream's entries outnumber the chunks bearing its
// names, and one named for this stream that another stream's entry (bearing
// its stream's usual name) names with its size is not where the chunks
// outnumber the entries; elsewhere such entries lie (as where two entries'
// streams were swapped) and are passed over. An index whose entries do not
// meet the chunks they name, as when all its offsets are moved, is not
// believed. Key flags come from the entries that name their chunk whole,
// else from a look at the chunk's first bytes, and are only claims: the
// decoder checks them (movie_key_probe.h).
//
// A header whose size runs past its list, or a chunk followed by bytes that
// are no chunk, is resynchronised on the next chunk found in the bytes (a
// name a movi list holds, followed where its size ends by another); the
// chunk before is damaged, and cut short where the next one lies inside it.
// Lists that never had their sizes written (a capture that never finished)
// run to the end of the file. The stream's palette changes ("NNpc") met
// among its chunks are kept (movie_palette.h). Not part of the interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "platform/movie/movie_library.h"
#include "platform/movie/movie_palette.h"

struct MoviePacketIndex;

struct MovieChunk {
  int64_t offset;  // where its data begins in the file
  uint32_t size;   // bytes of data; 0: an empty chunk, which repeats the picture before
  bool key;        // may begin a decode
  bool damaged;    // not whole: cut short, or not the picture the index puts in its place
  bool unread;     // taken on the index's word: its header (and a key's first bytes) checked when its data is read
};

// Whether a picture whose chunk begins with these bytes (`whole`: they are
// all of it) may begin a decode; true when the bytes do not tell.
using MovieKeyLook = bool (*)(const uint8_t* data, size_t size, bool whole);

struct MovieIndexEntry {
  uint32_t name;
  uint32_t flags;
  int64_t at;  // its chunk's header in the file
  uint32_t size;
};

// What opening learned of a file, kept to check the chunks taken on the
// index's word as they are read.
struct MovieChunkMap {
  const MovieApi* av = nullptr;
  AVIOContext* pb = nullptr;
  MovieKeyLook key_look = nullptr;
  int64_t file_size = 0;
  int64_t counted = 0;                   // the stream's chunks as its header counts them; 0: it does not say
  uint32_t names[2] = {};                // this stream's picture chunks: "NNdc" and "NNdb"
  uint32_t palette_name = 0;             // its palette changes: "NNpc"
  std::vector<MoviePaletteChange> palette_changes;  // by where they lie
  size_t palette_colours = 0;             // the colours they set
  int64_t palette_lost_from = INT64_MAX;  // changes from here on were too many to keep
  std::vector<MovieIndexEntry> entries;  // the index, every stream's entries, in its order
  std::vector<MovieIndexEntry> tiles;    // the same by their headers' offsets
  std::vector<uint32_t> names_indexed;   // the names the index gives chunks, each once, in order
  std::vector<uint32_t> names_usual;     // of those, the one each stream's entries mostly bear, in order
  std::vector<std::pair<int64_t, int64_t>> lists;  // each movi list's chunks: where they begin and end
  size_t found_again = 0;                // stretches of chunks found again as they were read
  bool gaps_trusted = false;             // the index lists as many of the stream's chunks as its header counts, none inside another
  bool own_missing = false;              // it lists fewer: another stream's entry may name one of them
  bool whole = false;                    // the file goes on past the chunks with its index
  std::vector<MovieChunk> chunks;        // the stream's, in file order; every decode from the start begins at the first
};

// Finds the chunks of the stream numbered `stream` (its chunks are named
// with that number) in the file behind `pb`, which must outlive the map;
// none when there are none. Reads move `pb` anywhere.
// `frame_count` is what the stream's header counts (0 when it does not say).
void movie_chunks_open(MovieChunkMap* map, const MovieApi* av, AVIOContext* pb, int stream, MovieKeyLook key_look,
                       int64_t frame_count);

enum class MovieChunkCheck {
  Agrees,     // the packet's data is what it was taken for
  Corrected,  // the packet's place or size was corrected: read it again
  Moved,      // the positions were found again and the index built anew: decode again from a key
  NotKey,     // the packet was taken for a key on the index's word, and its first bytes deny it
};

// Checks the 8 header bytes read before the data of entry `packet` of the
// index, and the `got` bytes of data after them, against what opening took
// them for. Where they disagree the chunks are found again by reading
// headers from there (as a scan would have found them), and the index
// follows.
MovieChunkCheck movie_chunks_check(MovieChunkMap* map, MoviePacketIndex* index, size_t packet, const uint8_t* header,
                                   size_t got);
