// A chunk's header as both the scan of a movie's lists (movie_chunks.cpp)
// and the reading of its indexes (movie_chunk_index.h) read it: its bytes at
// an offset, whether its name is one a movi list holds or this stream's, and
// whether it agrees with an index entry. Not part of the interface.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "platform/movie/movie_chunks.h"
#include "platform/movie/movie_library.h"

namespace chunk_detail {

constexpr uint32_t fourcc(const char (&s)[5]) {
  return static_cast<uint32_t>(static_cast<uint8_t>(s[0])) | static_cast<uint32_t>(static_cast<uint8_t>(s[1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(s[2])) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(s[3])) << 24;
}

constexpr uint32_t kList = fourcc("LIST");
constexpr uint32_t kIdx1 = fourcc("idx1");
constexpr uint32_t kJunk = fourcc("JUNK");
constexpr uint32_t kRecord = fourcc("rec ");
constexpr uint32_t kKeyFlag = 0x10;
constexpr int64_t kHeader = 8;
// Bytes searched for a header at a time.
constexpr size_t kSearchWindow = 1 << 16;

inline uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

// Up to n bytes at `at`; how many were read. A place past the bytes the
// input holds is sought: the library would rather read on to a place up to
// 32 KB ahead, a call each buffer's worth, where one call reads what is
// asked for. Bytes more than a buffer's worth are read in one call (past
// those the buffer holds).
inline size_t read_at(const MovieChunkMap& m, int64_t at, uint8_t* dst, size_t n) {
  if (at < 0 || at >= m.file_size) return 0;
  n = static_cast<size_t>(std::min<int64_t>({static_cast<int64_t>(n), m.file_size - at, INT32_MAX}));
  AVIOContext* pb = m.pb;
  const bool ahead = at > pb->pos;
  if (ahead) pb->direct = 1;  // no reading on: a seek
  const int64_t sought = m.av->avio_seek(pb, at, SEEK_SET);
  if (ahead) pb->direct = 0;
  if (sought != at) return 0;
  const int got = m.av->avio_read(pb, dst, static_cast<int>(n));
  return got > 0 ? static_cast<size_t>(got) : 0;
}

inline int64_t padded_end(int64_t at, uint32_t size) { return at + kHeader + size + (size & 1); }

inline bool ours(const MovieChunkMap& m, uint32_t name) { return name == m.names[0] || name == m.names[1]; }

// The name of a chunk that lies in a movi list: a stream's ("00dc", "01wb"),
// its index's ("ix00"), a list, padding or the index. A header searched for
// in damaged bytes must have one, where any four letters would be found by
// chance.
inline bool movi_name(const uint8_t* p) {
  const auto digit = [](uint8_t c) { return c >= '0' && c <= '9'; };
  const auto letter = [](uint8_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  if (digit(p[0]) && digit(p[1]) && letter(p[2]) && letter(p[3])) return true;
  if (p[0] == 'i' && p[1] == 'x' && digit(p[2]) && digit(p[3])) return true;
  const uint32_t name = le32(p);
  return name == kList || name == kJunk || name == kIdx1;
}

// Whether an entry's size agrees with a chunk of `size` bytes whose data
// begins at `data`: the same, or one more than an odd size where the pad
// byte is there (the next chunk's name does not begin right after the data).
inline bool sizes_agree(const MovieChunkMap& m, uint32_t entry_size, int64_t data, uint32_t size) {
  if (entry_size == size) return true;
  if ((size & 1) == 0 || entry_size != size + 1) return false;
  uint8_t after[4];
  return read_at(m, data + size, after, 4) == 4 && !movi_name(after);
}

// Whether a header read at an entry's offset is the one the entry names.
inline bool header_agrees(const MovieChunkMap& m, const MovieIndexEntry& e, const uint8_t* head) {
  return le32(head) == e.name && sizes_agree(m, e.size, e.at + kHeader, le32(head + 4));
}

// Whether a chunk whose header lies at `at`, `size` bytes long, ends where
// the next entry's header begins, with its pad byte or without, or where
// padding or a list's header that no entry names leads to it.
inline bool meets_next_tile(const MovieChunkMap& m, int64_t at, uint32_t size) {
  constexpr int kMostBetween = 4;
  const auto it = std::upper_bound(m.tiles.begin(), m.tiles.end(), at,
                                   [](int64_t a, const MovieIndexEntry& e) { return a < e.at; });
  if (it == m.tiles.end()) return false;
  if ((size & 1) != 0 && it->at == at + kHeader + size) return true;
  int64_t next = padded_end(at, size);
  for (int n = 0; n <= kMostBetween && next < it->at; ++n) {
    uint8_t head[kHeader + 4];
    if (read_at(m, next, head, sizeof head) != sizeof head) return false;
    if (le32(head) == kJunk) next = padded_end(next, le32(head + 4));
    else if (le32(head) == kList) next += kHeader + 4;
    else return false;
  }
  return next == it->at;
}

// Whether a chunk whose header lies at `at`, `size` bytes long, ends on a
// header read there (a chunk's name, with its pad byte or without), or at
// the end of the file. The entries' own offsets do not tell: an index whose
// entries tile may still lie.
inline bool ends_on_header(const MovieChunkMap& m, int64_t at, uint32_t size) {
  const int64_t next = padded_end(at, size);
  uint8_t name[5];
  if (next == m.file_size || (read_at(m, next - 1, name, 5) == 5 && movi_name(name + 1))) return true;
  return (size & 1) != 0 && movi_name(name);
}

// Whether the index gives some chunk this name: another stream's chunk
// bearing it is that stream's, where a name no entry bears is damage.
inline bool indexed_name(const MovieChunkMap& m, uint32_t name) {
  return std::binary_search(m.names_indexed.begin(), m.names_indexed.end(), name);
}

// Whether a header's name is damage: neither this stream's, nor one the
// index gives another stream's chunks, nor a list's, padding's or index's.
inline bool damaged_name(const MovieChunkMap& m, const uint8_t* head) {
  const uint32_t name = le32(head);
  if (ours(m, name) || indexed_name(m, name) || name == kList || name == kJunk || name == kIdx1) return false;
  return !(head[0] == 'i' && head[1] == 'x');
}

// Whether an entry's name is the one its stream's entries mostly bear (this
// stream's two always are): an entry bearing another may name another
// stream's chunk, and its header is read.
inline bool usual_name(const MovieChunkMap& m, uint32_t name) {
  return ours(m, name) || std::binary_search(m.names_usual.begin(), m.names_usual.end(), name);
}

}  // namespace chunk_detail
