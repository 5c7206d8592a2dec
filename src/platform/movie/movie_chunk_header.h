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
constexpr uint32_t kKeyFlag = 0x10;
constexpr int64_t kHeader = 8;
// Bytes searched, or of the index read, at a time.
constexpr size_t kSearchWindow = 1 << 16;

inline uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

// Up to n bytes at `at`; how many were read.
inline size_t read_at(const MovieChunkMap& m, int64_t at, uint8_t* dst, size_t n) {
  if (at < 0 || at >= m.file_size) return 0;
  n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(n), m.file_size - at));
  if (m.av->avio_seek(m.pb, at, SEEK_SET) != at) return 0;
  const int got = m.av->avio_read(m.pb, dst, static_cast<int>(n));
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

}  // namespace chunk_detail
