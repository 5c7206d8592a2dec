#include "platform/movie/movie_chunks.h"

#include <algorithm>

#include "platform/movie/movie_chunk_header.h"
#include "platform/movie/movie_chunk_index.h"
#include "platform/movie/movie_file.h"
#include "platform/movie/movie_packet_index.h"

using namespace chunk_detail;

namespace {

constexpr uint32_t kRiff = fourcc("RIFF");
constexpr uint32_t kMovi = fourcc("movi");
constexpr uint32_t kRecord = fourcc("rec ");
constexpr uint32_t kHeaderList = fourcc("hdrl");
constexpr uint32_t kStreamList = fourcc("strl");
constexpr uint32_t kSuperIndex = fourcc("indx");
// Bytes of a chunk's data looked at for its key.
constexpr size_t kPeek = 256;
// Headers found to disagree with their entries before no entry is taken for
// its header any more, so that finding the chunks again costs a bounded
// number of passes over the index.
constexpr size_t kMostDoubted = 16;

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
  MovieIndexPlaces indexes = {};
  bool full = false;      // kMovieMaxFrames chunks: the rest is not read
  bool doubting = false;  // a header disagreed with its entry: headers are read until one agrees
};

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

// Whether tile k, whose chunk header lies in a movi list ending at `end`, is
// taken for that header unread: it is the only entry there, its header was
// not found to disagree, it bears its stream's usual name, the next entry
// begins where its chunk ends (with its pad byte or without) inside the
// list, or anywhere after that where the index lists every chunk of this
// stream (a gap then holds none of them: padding, a list's header), and it
// is not one of this stream's empty chunks followed by a gap, which may be
// its data. Another stream's entry is taken so only where the index lists
// every chunk of this stream. A key is taken on its flag: its first bytes
// are looked at when its data is read.
bool taken_unread(const Scan& s, size_t k, int64_t end) {
  const auto& t = s.m.tiles;
  if (!s.m.trusted || s.doubting || k + 1 >= t.size() || (k > 0 && t[k - 1].at == t[k].at)) return false;
  const MovieIndexEntry& e = t[k];
  const bool own = ours(s.m, e.name);
  if (!usual_name(s.m, e.name) || (!own && s.m.own_missing)) return false;
  const int64_t next = t[k + 1].at;
  if (next + kHeader > end) return false;
  // A "rec " list's entry names the list: the next entry is its first chunk.
  if (e.name == kRecord) return next == e.at + kHeader + 4 && !std::binary_search(s.m.doubted.begin(), s.m.doubted.end(), e.at);
  const int64_t exact = e.at + kHeader + e.size;
  const bool tiles = next == exact + (e.size & 1) || ((e.size & 1) != 0 && next == exact);
  if (!tiles && (!s.m.gaps_trusted || next < exact || (own && e.size == 0))) return false;
  return !std::binary_search(s.m.doubted.begin(), s.m.doubted.end(), e.at);
}

// The header at `at` is read again. Where it disagreed with this stream's
// entry (`own`), no entry is taken for its header any more once too many
// did.
void doubt(MovieChunkMap& m, int64_t at, bool own) {
  const auto it = std::lower_bound(m.doubted.begin(), m.doubted.end(), at);
  if (it != m.doubted.end() && *it == at) return;
  m.doubted.insert(it, at);
  if (own && ++m.disagreed > kMostDoubted) m.trusted = false;
}

// This stream's entry whose header lies at `at` disagrees with it: that
// header is read again, and so are those from this stream's entry before it
// to the next one after it, as the chunk it lost may lie between them,
// under another stream's entry or under none.
void doubt_around(MovieChunkMap& m, int64_t at) {
  doubt(m, at, true);
  const auto& t = m.tiles;
  const auto k = static_cast<size_t>(std::lower_bound(t.begin(), t.end(), at,
                                                      [](const MovieIndexEntry& e, int64_t a) { return e.at < a; }) -
                                     t.begin());
  for (size_t j = k; j-- > 0;) {
    doubt(m, t[j].at, false);
    if (ours(m, t[j].name)) break;
  }
  for (size_t j = k + 1; j < t.size() && !ours(m, t[j].name); ++j) doubt(m, t[j].at, false);
}

void add_chunk(Scan& s, int64_t at, uint32_t size, const uint8_t* peek, size_t peeked, bool damaged) {
  if (s.chunks.size() >= kMovieMaxFrames) {
    s.full = true;
    return;
  }
  const bool key = size > 0 && !damaged && s.m.key_look(peek, std::min<size_t>(peeked, size), peeked >= size);
  s.chunks.push_back(MovieChunk{at + kHeader, size, key, damaged, false});
}

// Whether this stream's entry at tile k, whose header was read (`got` bytes
// of it and of the data after it), names the chunk there where the header
// alone is damaged: its name is damage (no stream's), or its size leads
// nowhere where the entry's leads to the next header. The chunk keeps its
// place, its data the bytes the entry names; it is added.
bool own_entry_holds(Scan& s, size_t k, const uint8_t* head, size_t got) {
  const MovieIndexEntry& e = s.m.tiles[k];
  const int64_t at = e.at;
  if (!ours(s.m, e.name) || e.size == 0 || header_agrees(s.m, e, head)) return false;
  const uint32_t size = le32(head + 4);
  const bool name_lost = damaged_name(s.m, head);
  if (!name_lost && !(ours(s.m, le32(head)) && !ends_on_header(s.m, at, size))) return false;
  if (padded_end(at, e.size) > s.m.file_size || !ends_on_header(s.m, at, e.size)) return false;
  add_chunk(s, at, e.size, head + kHeader, got - kHeader, false);
  s.doubting = false;
  return !s.full;
}

// The chunks of a movi list ending at `movi_end`, or of a "rec " list inside
// one, in [begin, end). Where the scan goes on in the movi list: past the
// end, or where the entry after one taken unread lies, which may be inside
// the next "rec " list.
int64_t scan_list(Scan& s, int64_t begin, int64_t end, int64_t movi_end, bool in_record) {
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
    if (tile >= 0 && taken_unread(s, static_cast<size_t>(tile), movi_end)) {
      const MovieIndexEntry& e = s.m.tiles[static_cast<size_t>(tile)];
      const int64_t next = s.m.tiles[static_cast<size_t>(tile) + 1].at;
      if (ours(s.m, e.name)) {
        if (s.chunks.size() >= kMovieMaxFrames) {
          s.full = true;
          return end;
        }
        s.chunks.push_back(MovieChunk{at + kHeader, e.size, e.size > 0 && (e.flags & kKeyFlag) != 0, false, true});
      }
      if (in_record && next >= end) return next;
      unread_at = at;
      data_before = last_data;
      padded_before = padded;
      last_data = at + kHeader;
      padded = (e.size & 1) != 0 && next != at + kHeader + e.size;
      at = next;
      continue;
    }
    const size_t got = read_at(s.m, at, head, sizeof head);
    if (got < kHeader) return end;
    if (tile >= 0 && own_entry_holds(s, static_cast<size_t>(tile), head, got)) {
      const MovieChunk& c = s.chunks.back();
      last_data = c.offset;
      padded = (c.size & 1) != 0;
      at = c.offset + c.size + (c.size & 1);
      unread_at = -1;
      continue;
    }
    uint8_t before[4];
    const bool unpadded =
        !movi_name(head) && padded && read_at(s.m, at - 1, before, 4) == 4 && movi_name(before);
    if (unread_at >= 0 && !movi_name(head) && !unpadded) {
      // No chunk where the chunk taken unread ends by its entry: its own
      // header is read after all, and never taken unread again.
      if (!s.chunks.empty() && s.chunks.back().unread && s.chunks.back().offset == unread_at + kHeader)
        s.chunks.pop_back();
      doubt(s.m, unread_at, false);
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
      if (found < 0) return end;
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
      s.indexes.idx1_at = at + kHeader;
      s.indexes.idx1_size = size;
      return end;
    }
    if (name == kList) {
      last_data = -1;
      if (got >= kHeader + 4 && le32(head + kHeader) == kRecord && !in_record) {
        const int64_t on = scan_list(s, at + kHeader + 4, next, end, true);
        if (on > next) {
          padded = false;
          at = on;
          continue;
        }
      }
    } else if (ours(s.m, name)) {
      add_chunk(s, at, size, head + kHeader, got - kHeader, cut);
    }
    padded = (size & 1) != 0;
    at = next;
  }
  return end;
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
        if (le32(inner) == kSuperIndex) s.indexes.super_indexes.emplace_back(in + kHeader, le32(inner + 4));
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
      if (s.indexes.movi_at < 0) s.indexes.movi_at = at + kHeader;
      if (descend) {
        scan_list(s, at + 12, list_end, list_end, false);
        if (s.indexes.idx1_at >= 0 && s.indexes.idx1_at < list_end) return;
      }
    } else if (name == kList && got == 12 && le32(head + 8) == kHeaderList && !descend) {
      note_super_indexes(s, at + 12, list_end);
    } else if (name == kIdx1) {
      s.indexes.idx1_at = at + kHeader;
      s.indexes.idx1_size = size;
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

// The chunks, found from the file's start with what the map knows.
void find_chunks(MovieChunkMap& m) {
  Scan s{m};
  scan_file(s, true);
  chunk_index_apply(&m, &s.chunks);
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

void movie_chunks_open(MovieChunkMap* map, const MovieApi* av, AVIOContext* pb, int stream, MovieKeyLook key_look,
                       int64_t frame_count) {
  *map = MovieChunkMap{};
  MovieChunkMap& m = *map;
  m.av = av;
  m.pb = pb;
  m.key_look = key_look;
  m.file_size = av->avio_size(pb);
  m.counted = frame_count;
  if (m.file_size <= 0 || stream < 0 || stream > 99) return;
  const uint32_t number = static_cast<uint32_t>('0' + stream / 10) | static_cast<uint32_t>('0' + stream % 10) << 8;
  m.names[0] = number | fourcc("\0\0dc");
  m.names[1] = number | fourcc("\0\0db");
  // A first look for the indexes, which are taken where a sample of their
  // entries meets the headers they name.
  Scan look{m};
  scan_file(look, false);
  const bool own = chunk_index_open(&m, &look.indexes);
  m.whole = own || look.indexes.idx1_at >= 0;
  if (!m.entries.empty()) {
    find_chunks(m);
    return;
  }
  // Every header is read, and idx1 (perhaps found inside a list whose size
  // was never written) is matched to the chunks found.
  Scan s{m};
  scan_file(s, true);
  m.whole = m.whole || s.indexes.idx1_at >= 0;
  chunk_index_match(&m, &s.indexes, &s.chunks);
  if (!s.chunks.empty()) s.chunks.front().key = true;
  m.chunks = std::move(s.chunks);
}

MovieChunkCheck movie_chunks_check(MovieChunkMap* map, MoviePacketIndex* index, size_t packet, const uint8_t* header,
                                   size_t got) {
  MoviePacket& p = index->packets[packet];
  if (p.position < 0 || static_cast<size_t>(p.position) >= map->chunks.size()) return MovieChunkCheck::Agrees;
  MovieChunk& c = map->chunks[static_cast<size_t>(p.position)];
  if (!c.unread || c.offset != p.offset) return MovieChunkCheck::Agrees;
  const MovieChunkMap& m = *map;
  const int64_t at = c.offset - kHeader;
  const uint32_t size = le32(header + 4);
  const bool own_name = ours(m, le32(header));
  bool holds = own_name && size == c.size;
  if (!holds && own_name && sizes_agree(m, c.size, c.offset, size)) {
    // The index counted the pad byte: read again with the header's size,
    // and checked then.
    c.size = p.size = size;
    return MovieChunkCheck::Corrected;
  }
  if (!holds) {
    // A header whose size is larger than the entry's and leads to the next
    // entry's header, found there, where the entry's leads to no header, is
    // right: the entry left out bytes the chunk holds (where the entry's is
    // larger, the chunk may have lost them). The entry's chunk stands where
    // the header alone is damaged: a name no stream bears, or a size leading
    // to no header where the entry's leads to one.
    const bool header_lands = own_name && ends_on_header(m, at, size);
    const bool entry_lands = c.size > 0 && ends_on_header(m, at, c.size);
    if (own_name && size > c.size && header_lands && !entry_lands && meets_next_tile(m, at, size)) {
      c.size = p.size = size;
      return MovieChunkCheck::Corrected;
    }
    holds = entry_lands && (damaged_name(m, header) || (own_name && !header_lands));
  }
  c.unread = false;
  if (holds) {
    const size_t peek = std::min<size_t>({got, c.size, kPeek});
    if (!c.key || m.key_look(header + kHeader, peek, got >= c.size)) return MovieChunkCheck::Agrees;
    c.key = false;
    return MovieChunkCheck::NotKey;
  }
  doubt_around(*map, at);
  const std::vector<MovieChunk> before = std::move(map->chunks);
  find_chunks(*map);
  // A chunk whose header was read keeps what was learned of it.
  auto old = before.begin();
  for (MovieChunk& now : map->chunks) {
    while (old != before.end() && old->offset < now.offset) ++old;
    if (old == before.end()) break;
    if (now.unread && old->offset == now.offset && !old->unread) now = *old;
  }
  if (!same_positions(before, map->chunks)) {
    packet_index_rebuild(index, map->chunks);
    return MovieChunkCheck::Moved;
  }
  packet_index_patch(index, map->chunks);
  return MovieChunkCheck::Corrected;
}
