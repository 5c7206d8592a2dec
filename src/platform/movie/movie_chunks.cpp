#include "platform/movie/movie_chunks.h"

#include <algorithm>
#include <cstdio>
#include <unordered_set>

#include "platform/movie/movie_file.h"
#include "platform/movie/movie_packet_index.h"

namespace {

constexpr uint32_t fourcc(const char (&s)[5]) {
  return static_cast<uint32_t>(static_cast<uint8_t>(s[0])) | static_cast<uint32_t>(static_cast<uint8_t>(s[1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(s[2])) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(s[3])) << 24;
}

constexpr uint32_t kRiff = fourcc("RIFF");
constexpr uint32_t kList = fourcc("LIST");
constexpr uint32_t kMovi = fourcc("movi");
constexpr uint32_t kRecord = fourcc("rec ");
constexpr uint32_t kHeaderList = fourcc("hdrl");
constexpr uint32_t kStreamList = fourcc("strl");
constexpr uint32_t kSuperIndex = fourcc("indx");
constexpr uint32_t kIdx1 = fourcc("idx1");
constexpr uint32_t kJunk = fourcc("JUNK");
constexpr uint32_t kKeyFlag = 0x10;
constexpr int64_t kHeader = 8;
// Bytes of a chunk's data looked at for its key.
constexpr size_t kPeek = 256;
// Index entries looked at ahead, to tell by their sizes which chunks they
// name where their offsets do not.
constexpr size_t kLookAhead = 3;
// Chunks the entries may find lost in one stretch of damage.
constexpr size_t kMostLost = 16;
// Bytes searched, or of the index read, at a time.
constexpr size_t kSearchWindow = 1 << 16;
// Headers found to disagree with their entries before no entry is taken for
// its header any more, so that finding the chunks again costs a bounded
// number of passes over the index.
constexpr size_t kMostDoubted = 16;
// Index entries read, every stream's.
constexpr size_t kMostEntries = size_t{2} * kMovieMaxFrames;
// OpenDML indexes: the kinds, and the flag of a chunk that is no key.
constexpr uint8_t kIndexOfIndexes = 0;
constexpr uint8_t kIndexOfChunks = 1;
constexpr uint32_t kNotKey = 0x80000000u;
// An OpenDML index's header after its chunk header: entry size, kinds,
// entries in use, chunk name, and what the kind adds.
constexpr size_t kOpenDmlHeader = 24;

uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

uint64_t le64(const uint8_t* p) { return le32(p) | static_cast<uint64_t>(le32(p + 4)) << 32; }

// A chunk or list name: four letters, digits, spaces or underscores.
bool name_like(const uint8_t* p) {
  for (int i = 0; i < 4; ++i) {
    const uint8_t c = p[i];
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == ' ' || c == '_'))
      return false;
  }
  return true;
}

// One pass over the file's chunks.
struct Scan {
  MovieChunkMap& m;
  std::vector<MovieChunk> chunks = {};
  int64_t movi_at = -1;  // the first movi list's name, which idx1 offsets may count from
  int64_t idx1_at = -1;  // the index's data
  uint32_t idx1_size = 0;
  std::vector<std::pair<int64_t, uint32_t>> super_indexes = {};  // OpenDML indexes' data and sizes, every stream's
  bool full = false;      // kMovieMaxFrames chunks: the rest is not read
  bool doubting = false;  // a header disagreed with its entry: headers are read until one agrees
};

// Up to n bytes at `at`; how many were read.
size_t read_at(const MovieChunkMap& m, int64_t at, uint8_t* dst, size_t n) {
  if (at < 0 || at >= m.file_size) return 0;
  n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(n), m.file_size - at));
  if (m.av->avio_seek(m.pb, at, SEEK_SET) != at) return 0;
  const int got = m.av->avio_read(m.pb, dst, static_cast<int>(n));
  return got > 0 ? static_cast<size_t>(got) : 0;
}

int64_t padded_end(int64_t at, uint32_t size) { return at + kHeader + size + (size & 1); }

// Where the list after the one at `at` begins: past its data and the byte
// that keeps chunks on even offsets, or right after its data where the
// writer left that byte out (a name is there and none a byte later). The
// chunks inside a movi list are stepped over the same way as they are met.
int64_t chunk_after(const MovieChunkMap& m, int64_t at, uint32_t size) {
  const int64_t padded = padded_end(at, size);
  uint8_t near[5];
  if ((size & 1) == 0 || read_at(m, padded - 1, near, sizeof near) != sizeof near) return padded;
  return name_like(near) && !name_like(near + 1) ? padded - 1 : padded;
}

bool ours(const MovieChunkMap& m, uint32_t name) { return name == m.names[0] || name == m.names[1]; }

// The name of a chunk that lies in a movi list: a stream's ("00dc", "01wb"),
// its index's ("ix00"), a list, padding or the index. A header searched for
// in damaged bytes must have one, where any four letters would be found by
// chance.
bool movi_name(const uint8_t* p) {
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
bool sizes_agree(const MovieChunkMap& m, uint32_t entry_size, int64_t data, uint32_t size) {
  if (entry_size == size) return true;
  if ((size & 1) == 0 || entry_size != size + 1) return false;
  uint8_t after[4];
  return read_at(m, data + size, after, 4) == 4 && !movi_name(after);
}

// Whether a header read at an entry's offset is the one the entry names.
bool header_agrees(const MovieChunkMap& m, const MovieIndexEntry& e, const uint8_t* head) {
  return le32(head) == e.name && sizes_agree(m, e.size, e.at + kHeader, le32(head + 4));
}

// Whether a header read at `at` (name and size already read) is followed,
// where its size ends, by the end of the list or by another chunk's name: a
// header found in the middle of damaged bytes is taken only then.
bool lands(const MovieChunkMap& m, int64_t at, uint32_t size, int64_t end) {
  const int64_t next = padded_end(at, size);
  if (next == end) return true;
  uint8_t name[4];
  return next < end && read_at(m, next, name, 4) == 4 && movi_name(name);
}

// The first chunk header in [from, end) that lands (see above); -1 when none.
int64_t find_header(const MovieChunkMap& m, int64_t from, int64_t end) {
  std::vector<uint8_t> window(kSearchWindow + kHeader);
  for (int64_t base = from; base + kHeader <= end; base += static_cast<int64_t>(kSearchWindow)) {
    const size_t got = read_at(m, base, window.data(), window.size());
    for (size_t i = 0; i + kHeader <= got && base + static_cast<int64_t>(i) + kHeader <= end; ++i) {
      if (!movi_name(&window[i])) continue;
      const int64_t at = base + static_cast<int64_t>(i);
      if (lands(m, at, le32(&window[i + 4]), end)) return at;
    }
  }
  return -1;
}

// The entry (in m.tiles) of the chunk whose header lies at `at`, or -1.
int64_t tile_at(const MovieChunkMap& m, int64_t at) {
  const auto it = std::lower_bound(m.tiles.begin(), m.tiles.end(), at,
                                   [](const MovieIndexEntry& e, int64_t a) { return e.at < a; });
  return it != m.tiles.end() && it->at == at ? it - m.tiles.begin() : -1;
}

// Whether tile k, whose chunk header lies in a list ending at `end`, is taken
// for that header unread: it is the only entry there, its header was not
// found to disagree, the next entry begins where its chunk ends (with its pad
// byte or without) inside the list, and it is not one of this stream's keys,
// whose first bytes are looked at, nor one of its empty chunks, whose header
// is never read with data.
bool taken_unread(const Scan& s, size_t k, int64_t end) {
  const auto& t = s.m.tiles;
  if (!s.m.trusted || s.doubting || k + 1 >= t.size() || (k > 0 && t[k - 1].at == t[k].at)) return false;
  const MovieIndexEntry& e = t[k];
  if (ours(s.m, e.name) && (e.size == 0 || (e.flags & kKeyFlag) != 0)) return false;
  const int64_t exact = e.at + kHeader + e.size;
  const int64_t next = t[k + 1].at;
  if (next + kHeader > end || !(next == exact + (e.size & 1) || ((e.size & 1) != 0 && next == exact))) return false;
  return !std::binary_search(s.m.doubted.begin(), s.m.doubted.end(), e.at);
}

// The header at `at` disagrees with its entry: no entry is taken for it, and
// none at all once too many disagree.
void doubt(MovieChunkMap& m, int64_t at) {
  const auto it = std::lower_bound(m.doubted.begin(), m.doubted.end(), at);
  if (it != m.doubted.end() && *it == at) return;
  m.doubted.insert(it, at);
  if (m.doubted.size() > kMostDoubted) m.trusted = false;
}

void add_chunk(Scan& s, int64_t at, uint32_t size, const uint8_t* peek, size_t peeked, bool damaged) {
  if (s.chunks.size() >= kMovieMaxFrames) {
    s.full = true;
    return;
  }
  const bool key = size > 0 && !damaged && s.m.key_look(peek, std::min<size_t>(peeked, size), peeked >= size);
  s.chunks.push_back(MovieChunk{at + kHeader, size, key, damaged, false});
}

// The chunks of a movi list, or of a "rec " list inside one, in [begin, end).
void scan_list(Scan& s, int64_t begin, int64_t end, bool in_record) {
  uint8_t head[kHeader + kPeek];
  int64_t at = begin;
  int64_t last_data = -1;  // the last chunk's data, where a search for a lost header begins
  bool padded = false;     // the last chunk's size was odd, and `at` lies past its pad byte
  // The last chunk, when it was taken unread, and what was known before it.
  int64_t unread_at = -1;
  int64_t data_before = -1;
  bool padded_before = false;
  while (!s.full && at + kHeader <= end) {
    const int64_t tile = tile_at(s.m, at);
    if (tile >= 0 && taken_unread(s, static_cast<size_t>(tile), end)) {
      const MovieIndexEntry& e = s.m.tiles[static_cast<size_t>(tile)];
      const int64_t next = s.m.tiles[static_cast<size_t>(tile) + 1].at;
      if (ours(s.m, e.name)) {
        if (s.chunks.size() >= kMovieMaxFrames) {
          s.full = true;
          return;
        }
        s.chunks.push_back(MovieChunk{at + kHeader, e.size, false, false, true});
      }
      unread_at = at;
      data_before = last_data;
      padded_before = padded;
      last_data = at + kHeader;
      padded = (e.size & 1) != 0 && next != at + kHeader + e.size;
      at = next;
      continue;
    }
    const size_t got = read_at(s.m, at, head, sizeof head);
    if (got < kHeader) return;
    uint8_t before[4];
    const bool unpadded =
        !movi_name(head) && padded && read_at(s.m, at - 1, before, 4) == 4 && movi_name(before);
    if (unread_at >= 0 && !movi_name(head) && !unpadded) {
      // No chunk where the chunk taken unread ends by its entry: its own
      // header is read after all, and never taken unread again.
      if (!s.chunks.empty() && s.chunks.back().unread && s.chunks.back().offset == unread_at + kHeader)
        s.chunks.pop_back();
      doubt(s.m, unread_at);
      at = unread_at;
      last_data = data_before;
      padded = padded_before;
      unread_at = -1;
      s.doubting = true;
      continue;
    }
    unread_at = -1;
    // A header read where an entry lies: where it disagrees, the entries
    // after it are not taken for their headers until one agrees again.
    if (tile >= 0) s.doubting = !header_agrees(s.m, s.m.tiles[static_cast<size_t>(tile)], head);
    if (unpadded) {
      // The writer left the pad byte out.
      --at;
      padded = false;
      continue;
    }
    if (!movi_name(head)) {
      // Bytes that are no chunk: the last chunk's size ran past the next
      // header, or damage lies between them. Either way its size is not to
      // be believed, and what it holds is damaged.
      if (!s.chunks.empty() && s.chunks.back().offset == last_data) {
        s.chunks.back().damaged = true;
        s.chunks.back().key = false;
      }
      const int64_t found = find_header(s.m, last_data >= 0 ? last_data + 1 : at + 1, end);
      if (found < 0) return;
      if (found < at && !s.chunks.empty() && s.chunks.back().offset == last_data)
        s.chunks.back().size = static_cast<uint32_t>(found - last_data);
      // Back inside the last chunk, or on past the bytes: either way past
      // the last chunk's own header, so the scan always moves on.
      last_data = -1;
      padded = false;
      s.doubting = true;
      at = found;
      continue;
    }
    const uint32_t name = le32(head);
    uint32_t size = le32(head + 4);
    // A last chunk may end the list without its pad byte.
    int64_t next = std::min(padded_end(at, size), std::max(end, at + kHeader + size));
    const bool cut = next > end;
    if (cut) {
      // Past the end of its list: cut there, or where the next chunk is
      // found when the list goes on past it.
      const int64_t found = end == s.m.file_size ? -1 : find_header(s.m, at + kHeader, end);
      next = found >= 0 ? found : end;
      size = static_cast<uint32_t>(next - at - kHeader);
    }
    last_data = at + kHeader;
    if (name == kIdx1) {
      // An index inside a list whose size was never written ends it.
      s.idx1_at = at + kHeader;
      s.idx1_size = size;
      return;
    }
    if (name == kList) {
      last_data = -1;
      if (got >= kHeader + 4 && le32(head + kHeader) == kRecord && !in_record) scan_list(s, at + kHeader + 4, next, true);
    } else if (ours(s.m, name)) {
      add_chunk(s, at, size, head + kHeader, got - kHeader, cut);
    }
    padded = (size & 1) != 0;
    at = next;
  }
}

// The OpenDML indexes in a header list's stream lists, in [begin, end).
void note_super_indexes(Scan& s, int64_t begin, int64_t end) {
  uint8_t head[12];
  for (int64_t at = begin; at + kHeader <= end && read_at(s.m, at, head, sizeof head) == sizeof head;) {
    const uint32_t size = le32(head + 4);
    if (le32(head) == kList && le32(head + 8) == kStreamList) {
      const int64_t list_end = std::min(end, padded_end(at, size));
      uint8_t inner[kHeader];
      for (int64_t in = at + 12; in + kHeader <= list_end && read_at(s.m, in, inner, kHeader) == kHeader;) {
        if (le32(inner) == kSuperIndex) s.super_indexes.emplace_back(in + kHeader, le32(inner + 4));
        in = padded_end(in, le32(inner + 4));
      }
    }
    at = padded_end(at, size);
  }
}

// The lists of one RIFF list in [begin, end): movi lists scanned for their
// chunks, or on a first look (`descend` false) only the index and the
// OpenDML indexes noted.
void scan_riff(Scan& s, int64_t begin, int64_t end, bool descend) {
  uint8_t head[12];
  for (int64_t at = begin; !s.full && at + kHeader <= end;) {
    const size_t got = read_at(s.m, at, head, sizeof head);
    if (got < kHeader || !name_like(head)) return;
    const uint32_t name = le32(head);
    const uint32_t size = le32(head + 4);
    // A size that was never written (0, or past the end) runs to the end.
    const int64_t after = chunk_after(s.m, at, size);
    const int64_t list_end = size == 0 || after > end ? end : after;
    if (name == kList && got == 12 && le32(head + 8) == kMovi) {
      if (s.movi_at < 0) s.movi_at = at + kHeader;
      if (descend) {
        scan_list(s, at + 12, list_end, false);
        if (s.idx1_at >= 0 && s.idx1_at < list_end) return;
      }
    } else if (name == kList && got == 12 && le32(head + 8) == kHeaderList && !descend) {
      note_super_indexes(s, at + 12, list_end);
    } else if (name == kIdx1) {
      s.idx1_at = at + kHeader;
      s.idx1_size = size;
    }
    at = list_end;
  }
}

void scan_file(Scan& s, bool descend) {
  uint8_t head[12];
  for (int64_t at = 0; !s.full && read_at(s.m, at, head, sizeof head) == sizeof head && le32(head) == kRiff;) {
    const uint32_t size = le32(head + 4);
    const int64_t end = size < 4 || padded_end(at, size) > s.m.file_size ? s.m.file_size : padded_end(at, size);
    scan_riff(s, at + 12, end, descend);
    at = end;
  }
}

// The entries of an OpenDML index of chunks (an ix## chunk) whose header
// lies at `at`: each names its chunk's data from the index's base offset.
void read_chunk_index(const MovieChunkMap& m, int64_t at, std::vector<MovieIndexEntry>* out) {
  uint8_t head[kHeader + kOpenDmlHeader];
  if (read_at(m, at, head, sizeof head) != sizeof head) return;
  const uint8_t* h = head + kHeader;
  if ((h[0] | h[1] << 8) != 2 || h[2] != 0 || h[3] != kIndexOfChunks) return;
  const uint64_t base = le64(h + 12);
  if (base > static_cast<uint64_t>(m.file_size)) return;
  const int64_t first = at + kHeader + static_cast<int64_t>(kOpenDmlHeader);
  const int64_t bytes = std::min<int64_t>(int64_t{le32(h + 4)} * 8, int64_t{le32(head + 4)} - 24);
  const int64_t end = first + std::min(bytes, m.file_size - first);
  if (end - first < 8) return;
  std::vector<uint8_t> block(static_cast<size_t>(std::min<int64_t>(kSearchWindow, end - first)));
  for (int64_t in = first; in + 8 <= end && out->size() < kMostEntries;) {
    const size_t got = read_at(m, in, block.data(), static_cast<size_t>(std::min<int64_t>(block.size(), end - in)));
    if (got < 8) break;
    for (size_t i = 0; i + 8 <= got; i += 8) {
      const uint32_t size = le32(&block[i + 4]);
      out->push_back(MovieIndexEntry{le32(h + 8), (size & kNotKey) != 0 ? 0 : kKeyFlag,
                                     static_cast<int64_t>(base) + le32(&block[i]) - kHeader, size & ~kNotKey});
    }
    in += static_cast<int64_t>(got / 8 * 8);
  }
}

// The entries of the OpenDML indexes, every stream's, in each one's order.
std::vector<MovieIndexEntry> read_opendml(const Scan& s) {
  std::vector<MovieIndexEntry> entries;
  std::unordered_set<uint64_t> read;
  for (const auto& [at, size] : s.super_indexes) {
    uint8_t h[kOpenDmlHeader];
    if (size < kOpenDmlHeader || read_at(s.m, at, h, sizeof h) != sizeof h) continue;
    if (h[3] == kIndexOfChunks) {
      // An index of chunks kept in the stream's header list itself.
      read_chunk_index(s.m, at - kHeader, &entries);
      continue;
    }
    if ((h[0] | h[1] << 8) != 4 || h[3] != kIndexOfIndexes) continue;
    const uint32_t count = std::min<uint32_t>(le32(h + 4), (size - static_cast<uint32_t>(kOpenDmlHeader)) / 16);
    for (uint32_t i = 0; i < count && entries.size() < kMostEntries; ++i) {
      uint8_t e[16];
      if (read_at(s.m, at + static_cast<int64_t>(kOpenDmlHeader) + 16 * int64_t{i}, e, sizeof e) != sizeof e) break;
      // An index of chunks named twice is read once.
      const uint64_t ix = le64(e);
      if (ix >= static_cast<uint64_t>(s.m.file_size) || !read.insert(ix).second) continue;
      read_chunk_index(s.m, static_cast<int64_t>(ix), &entries);
    }
  }
  return entries;
}

// The idx1 entries, every stream's, read a block at a time (the index may
// claim more than the file holds); their offsets are still relative.
std::vector<MovieIndexEntry> read_idx1(const Scan& s) {
  std::vector<MovieIndexEntry> entries;
  if (s.idx1_at < 0) return entries;
  const int64_t end = s.idx1_at + std::min<int64_t>(s.idx1_size, s.m.file_size - s.idx1_at);
  std::vector<uint8_t> block(kSearchWindow);
  for (int64_t at = s.idx1_at; at + 16 <= end && entries.size() < kMostEntries;) {
    const size_t got =
        read_at(s.m, at, block.data(), static_cast<size_t>(std::min<int64_t>(kSearchWindow, end - at)));
    if (got < 16) break;
    for (size_t i = 0; i + 16 <= got; i += 16)
      entries.push_back(MovieIndexEntry{le32(&block[i]), le32(&block[i + 4]), le32(&block[i + 8]), le32(&block[i + 12])});
    at += static_cast<int64_t>(got / 16 * 16);
  }
  return entries;
}

// The chunk whose header lies at `at`, or -1. Entries mostly name the
// chunks in order, so the one after the last found (*hint) is tried first.
int64_t chunk_with_header_at(const Scan& s, int64_t at, size_t* hint) {
  const int64_t data = at + kHeader;
  if (*hint < s.chunks.size() && s.chunks[*hint].offset == data) return static_cast<int64_t>((*hint)++);
  const auto it = std::lower_bound(s.chunks.begin(), s.chunks.end(), data,
                                   [](const MovieChunk& c, int64_t d) { return c.offset < d; });
  if (it == s.chunks.end() || it->offset != data) return -1;
  *hint = static_cast<size_t>(it - s.chunks.begin()) + 1;
  return static_cast<int64_t>(*hint) - 1;
}

// Idx1 offsets count from the movi list's name, or from the file's start.
// Before the chunks are known: the base under which the first entry meets a
// header it names, or -1.
int64_t idx1_base_by_header(const Scan& s, const std::vector<MovieIndexEntry>& entries) {
  if (entries.empty()) return -1;
  for (const int64_t base : {s.movi_at, int64_t{0}}) {
    MovieIndexEntry e = entries.front();
    e.at += base;
    uint8_t head[kHeader];
    if (base >= 0 && read_at(s.m, e.at, head, kHeader) == kHeader && header_agrees(s.m, e, head)) return base;
  }
  return -1;
}

// Once the chunks are known: the base under which this stream's entries meet
// most chunks; -1 when the index is not believed: its first entry meets no
// chunk, nor do half of them.
int64_t idx1_base_by_chunks(const Scan& s, const std::vector<MovieIndexEntry>& entries) {
  int64_t best = -1;
  size_t best_hits = 0;
  for (const int64_t base : {s.movi_at, int64_t{0}}) {
    if (base < 0) continue;
    size_t hits = 0;
    size_t mine = 0;
    int64_t first = -1;
    size_t hint = 0;
    for (const MovieIndexEntry& e : entries) {
      if (!ours(s.m, e.name)) continue;
      const bool met = chunk_with_header_at(s, base + e.at, &hint) >= 0;
      if (mine++ == 0) first = met ? 1 : 0;
      hits += met ? 1 : 0;
    }
    if ((first == 1 || hits * 2 >= mine) && hits > best_hits) {
      best = base;
      best_hits = hits;
    }
    if (best_hits == mine) break;
  }
  return best;
}

void set_entries(MovieChunkMap& m, std::vector<MovieIndexEntry> entries, int64_t base) {
  for (MovieIndexEntry& e : entries) e.at += base;
  m.tiles = entries;
  std::stable_sort(m.tiles.begin(), m.tiles.end(),
                   [](const MovieIndexEntry& a, const MovieIndexEntry& b) { return a.at < b.at; });
  m.entries = std::move(entries);
}

// Whether the entries from k name the chunks from c by their sizes, as far
// as kLookAhead of them (fewer at the index's end).
bool sizes_go_on(const Scan& s, const std::vector<MovieIndexEntry>& entries, size_t k, size_t c) {
  for (size_t n = 0; n < kLookAhead && k + n < entries.size(); ++n) {
    if (c + n >= s.chunks.size()) return false;
    const MovieChunk& chunk = s.chunks[c + n];
    if (!sizes_agree(s.m, entries[k + n].size, chunk.offset, chunk.size)) return false;
  }
  return true;
}

// Whether the index is believed: its first entry of this stream meets a
// chunk, or half of them do.
bool believed(const Scan& s, const std::vector<MovieIndexEntry>& entries) {
  size_t hits = 0;
  size_t hint = 0;
  for (const MovieIndexEntry& e : entries) hits += chunk_with_header_at(s, e.at, &hint) >= 0 ? 1 : 0;
  hint = 0;
  return chunk_with_header_at(s, entries.front().at, &hint) >= 0 || hits * 2 >= entries.size();
}

// A chunk named for this stream that another stream's entry names with its
// size is that stream's, its name damaged: it is no position.
void drop_other_streams_chunks(Scan& s) {
  std::vector<bool> gone(s.chunks.size(), false);
  bool any = false;
  size_t hint = 0;
  for (const MovieIndexEntry& e : s.m.entries) {
    if (ours(s.m, e.name)) continue;
    const int64_t met = chunk_with_header_at(s, e.at, &hint);
    if (met < 0) continue;
    const MovieChunk& c = s.chunks[static_cast<size_t>(met)];
    if (c.size > 0 && sizes_agree(s.m, e.size, c.offset, c.size)) gone[static_cast<size_t>(met)] = any = true;
  }
  if (!any) return;
  size_t kept = 0;
  for (size_t i = 0; i < s.chunks.size(); ++i)
    if (!gone[i]) s.chunks[kept++] = s.chunks[i];
  s.chunks.resize(kept);
}

// What the believed index says of the chunks. Entries name the chunks in
// line, each the chunk after the one before, where their offsets meet them.
// An entry of size 0 says nothing of the chunk; one of another size says
// the chunk is not its picture, but only in line. An offset that meets a
// chunk out of line, of the entry's size, shows entries missing from the
// index (or one that names another chunk), and the line goes on from there.
//
// An offset that meets nothing (after a chunk cut short every later offset
// is wrong) leaves the offsets untrusted until one meets its chunk in line
// again; meanwhile the entries are taken in sequence, their sizes telling
// whether the entry names the next chunk, whether its chunk was lost in
// damage the scan passed over (the chunk before is damaged), or whether
// the next chunk is one the index does not name. A chunk named for another
// stream where an entry puts a picture of its size is this stream's, its
// name damaged. A chunk's key flag holds only where an entry names it
// whole; its first bytes may still deny it.
void apply_index(Scan& s) {
  std::vector<MovieIndexEntry> entries;
  for (const MovieIndexEntry& e : s.m.entries)
    if (ours(s.m, e.name)) entries.push_back(e);
  if (entries.empty() || !believed(s, entries)) return;
  drop_other_streams_chunks(s);
  std::vector<int8_t> flagged(s.chunks.size(), -1);  // -1: no entry names it whole; else its key flag
  // Chunks the scan did not find, each before the chunk of that ordinal.
  std::vector<std::pair<size_t, MovieChunk>> found;
  const auto vouch = [&](size_t chunk, const MovieIndexEntry& e) {
    int8_t& flag = flagged[chunk];
    flag = static_cast<int8_t>(flag == 1 || (e.flags & kKeyFlag) != 0);
  };
  const auto agree = [&](size_t chunk, const MovieIndexEntry& e) {
    return sizes_agree(s.m, e.size, s.chunks[chunk].offset, s.chunks[chunk].size);
  };
  // An entry in line with the chunk it names: its size holds, says nothing,
  // or says the chunk is not its picture.
  const auto name = [&](size_t chunk, const MovieIndexEntry& e) {
    if (chunk >= s.chunks.size()) return;
    if (agree(chunk, e)) vouch(chunk, e);
    else if (e.size != 0) s.chunks[chunk].damaged = true;
  };
  size_t c = 0;         // the chunk the next entry names in line
  bool trusted = true;  // the offsets meet the chunks they name
  size_t hint = 0;
  for (size_t k = 0; k < entries.size(); ++k) {
    const MovieIndexEntry& e = entries[k];
    const int64_t met = chunk_with_header_at(s, e.at, &hint);
    const size_t m = static_cast<size_t>(met);
    if (met >= 0 && (m == c || (trusted && agree(m, e)))) {
      if (m == c) name(m, e);
      else vouch(m, e);
      c = m + 1;
      trusted = true;
      continue;
    }
    uint8_t head[kHeader];
    if (met < 0 && trusted && e.size > 0 && read_at(s.m, e.at, head, kHeader) == kHeader && movi_name(head) &&
        sizes_agree(s.m, e.size, e.at + kHeader, le32(head + 4)) && padded_end(e.at, e.size) <= s.m.file_size) {
      found.emplace_back(c, MovieChunk{e.at + kHeader, le32(head + 4), (e.flags & kKeyFlag) != 0, false, false});
      continue;
    }
    trusted = false;
    if (sizes_go_on(s, entries, k + 1, c + 1)) {
      name(c++, e);
      continue;
    }
    // Chunks lost in the damage before: as many as the entries skipped to
    // meet the chunks by their sizes again.
    size_t lost = 0;
    if (c > 0 && c <= s.chunks.size() && s.chunks[c - 1].damaged)
      for (size_t j = 1; j <= kMostLost && lost == 0 && k + j < entries.size(); ++j)
        if (sizes_go_on(s, entries, k + j, c)) lost = j;
    if (lost > 0) {
      const int64_t offset = c < s.chunks.size() ? s.chunks[c].offset : s.m.file_size;
      for (size_t j = 0; j < lost; ++j) found.emplace_back(c, MovieChunk{offset, 0, false, true, false});
      k += lost - 1;
    } else if (sizes_go_on(s, entries, k, c + 1)) {
      c += 1;
      name(c++, e);
    } else {
      ++c;
    }
  }
  for (size_t i = 0; i < s.chunks.size(); ++i) {
    MovieChunk& chunk = s.chunks[i];
    if (chunk.damaged || flagged[i] == 0) chunk.key = false;
  }
  if (found.empty()) return;
  std::vector<MovieChunk> all;
  all.reserve(s.chunks.size() + found.size());
  size_t next = 0;
  for (size_t i = 0; i <= s.chunks.size(); ++i) {
    for (; next < found.size() && found[next].first == i; ++next) all.push_back(found[next].second);
    if (i < s.chunks.size()) all.push_back(s.chunks[i]);
  }
  if (all.size() > kMovieMaxFrames) all.resize(kMovieMaxFrames);
  s.chunks = std::move(all);
}

// The chunks, found from the file's start with what the map knows.
void find_chunks(MovieChunkMap& m) {
  Scan s{m};
  scan_file(s, true);
  apply_index(s);
  if (!s.chunks.empty()) s.chunks.front().key = true;
  m.chunks = std::move(s.chunks);
}

// Whether two findings of the chunks give the same positions, the same with
// data and the same keys: then only places, sizes and damage differ.
bool same_positions(const std::vector<MovieChunk>& a, const std::vector<MovieChunk>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if ((a[i].size > 0 || a[i].damaged) != (b[i].size > 0 || b[i].damaged) || a[i].key != b[i].key) return false;
  return true;
}

}  // namespace

void movie_chunks_open(MovieChunkMap* map, const MovieApi* av, AVIOContext* pb, int stream, MovieKeyLook key_look) {
  *map = MovieChunkMap{};
  MovieChunkMap& m = *map;
  m.av = av;
  m.pb = pb;
  m.key_look = key_look;
  m.file_size = av->avio_size(pb);
  if (m.file_size <= 0 || stream < 0 || stream > 99) return;
  const uint32_t number = static_cast<uint32_t>('0' + stream / 10) | static_cast<uint32_t>('0' + stream % 10) << 8;
  m.names[0] = number | fourcc("\0\0dc");
  m.names[1] = number | fourcc("\0\0db");
  // A first look for the indexes: the stream's OpenDML index where it has
  // one and its first entry meets the header it names, with the idx1
  // entries of the streams that have none, else idx1 where its first entry
  // meets the header it names.
  Scan look{m};
  scan_file(look, false);
  std::vector<MovieIndexEntry> opendml = read_opendml(look);
  const auto first_meets = [&](const std::vector<MovieIndexEntry>& entries) {
    const auto it = std::find_if(entries.begin(), entries.end(), [&](const MovieIndexEntry& e) { return ours(m, e.name); });
    uint8_t head[kHeader];
    return it != entries.end() && read_at(m, it->at, head, kHeader) == kHeader && header_agrees(m, *it, head);
  };
  const bool own = first_meets(opendml);
  std::vector<MovieIndexEntry> idx1 = read_idx1(look);
  const int64_t base = idx1_base_by_header(look, idx1);
  if (own) {
    // A stream's number: the first two letters of its chunks' names.
    std::unordered_set<uint32_t> indexed;
    for (const MovieIndexEntry& e : opendml) indexed.insert(e.name & 0xFFFF);
    if (base >= 0)
      for (MovieIndexEntry e : idx1)
        if (indexed.count(e.name & 0xFFFF) == 0) opendml.push_back(MovieIndexEntry{e.name, e.flags, e.at + base, e.size});
    set_entries(m, std::move(opendml), 0);
  } else if (base >= 0) {
    set_entries(m, std::move(idx1), base);
  }
  m.whole = own || look.idx1_at >= 0;
  if (!m.entries.empty()) {
    find_chunks(m);
    return;
  }
  // Every header is read, and idx1 (perhaps found inside a list whose size
  // was never written) is matched to the chunks found.
  Scan s{m};
  scan_file(s, true);
  m.whole = m.whole || s.idx1_at >= 0;
  idx1 = read_idx1(s);
  const int64_t met = idx1_base_by_chunks(s, idx1);
  if (met >= 0) {
    set_entries(m, std::move(idx1), met);
    apply_index(s);
  }
  if (!s.chunks.empty()) s.chunks.front().key = true;
  m.chunks = std::move(s.chunks);
}

MovieChunkCheck movie_chunks_check(MovieChunkMap* map, MoviePacketIndex* index, size_t packet, const uint8_t* header) {
  MoviePacket& p = index->packets[packet];
  if (p.position < 0 || static_cast<size_t>(p.position) >= map->chunks.size()) return MovieChunkCheck::Agrees;
  MovieChunk& c = map->chunks[static_cast<size_t>(p.position)];
  if (!c.unread || c.offset != p.offset) return MovieChunkCheck::Agrees;
  c.unread = false;
  const uint32_t size = le32(header + 4);
  if (ours(*map, le32(header)) && sizes_agree(*map, c.size, c.offset, size)) {
    if (size == c.size) return MovieChunkCheck::Agrees;
    // The index counted the pad byte.
    c.size = p.size = size;
    return MovieChunkCheck::Corrected;
  }
  doubt(*map, c.offset - kHeader);
  const std::vector<MovieChunk> before = std::move(map->chunks);
  find_chunks(*map);
  // A chunk whose header was read keeps the size it gave where the index
  // counts the pad byte.
  auto old = before.begin();
  for (MovieChunk& now : map->chunks) {
    while (old != before.end() && old->offset < now.offset) ++old;
    if (old == before.end()) break;
    if (now.unread && old->offset == now.offset && !old->unread && (old->size & 1) != 0 && now.size == old->size + 1) {
      now.size = old->size;
      now.unread = false;
    }
  }
  if (!same_positions(before, map->chunks)) {
    packet_index_rebuild(index, map->chunks);
    return MovieChunkCheck::Moved;
  }
  packet_index_patch(index, map->chunks);
  return MovieChunkCheck::Corrected;
}
