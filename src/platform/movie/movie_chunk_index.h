// A movie's indexes (movie_chunks.h), read from where a scan of the file's
// lists found them and matched to the chunks it found: idx1, whose offsets
// count from the first movi list's name, from the file's start or from the
// list's first chunk, and the
// OpenDML indexes (an indx super index in a stream's header list naming
// ix## chunks, or holding the entries itself). Not part of the interface.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "platform/movie/movie_chunks.h"

// Where a scan of the file's lists found its indexes.
struct MovieIndexPlaces {
  int64_t movi_at = -1;  // the first movi list's name, which idx1 offsets may count from
  int64_t idx1_at = -1;  // the index's data
  uint32_t idx1_size = 0;
  std::vector<std::pair<int64_t, uint32_t>> super_indexes = {};  // OpenDML indexes' data and sizes, every stream's
};

// A first look for the indexes, before the chunks are known: the stream's
// OpenDML index where it has one and a sample of its entries (the first few
// and some spread over the rest) mostly meets the headers they name, with
// the idx1 entries of the streams that have none, else idx1 where a sample
// of its entries of this stream does. Sets the map's entries to the index
// taken, if any, the names it gives and whether it lists as many of the
// stream's chunks as its header counts; true where it is the stream's
// OpenDML index.
bool chunk_index_open(MovieChunkMap* map, const MovieIndexPlaces* places);
// Once every header was read: idx1, where its entries meet the chunks found,
// becomes the map's entries and is matched to them (chunk_index_apply).
void chunk_index_match(MovieChunkMap* map, const MovieIndexPlaces* places, std::vector<MovieChunk>* chunks);
// What the map's index, where it is believed, says of the chunks found in
// the file: damage, keys, chunks named for another stream, and chunks the
// scan did not find. Only this stream's entries from the `first` to before
// the `last` (counted in the index's order) are looked at: those of the
// stretch of the file where the chunks were found.
void chunk_index_apply(const MovieChunkMap* map, std::vector<MovieChunk>* chunks, size_t first, size_t last);
