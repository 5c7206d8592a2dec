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
constexpr uint32_t kHeaderList = fourcc("hdrl");
constexpr uint32_t kStreamList = fourcc("strl");
constexpr uint32_t kSuperIndex = fourcc("indx");
// Bytes of a chunk's data looked at for its key.
constexpr size_t kPeek = 256;
// Stretches of chunks found again as they are read before every header of
// the file is read, so that a file whose index lies everywhere costs one
// pass over its headers, not one a lie.
constexpr size_t kMostFoundAgain = 16;

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
  bool full = false;       // kMovieMaxFrames chunks: the rest is not read
  bool reads_all = false;  // no entry is taken for its header
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
  if (s.reads_all || k + 1 >= t.size() || (k > 0 && t[k - 1].at == t[k].at)) return false;
  const MovieIndexEntry& e = t[k];
  const bool own = ours(s.m, e.name);
  if (!usual_name(s.m, e.name) || (!own && s.m.own_missing) || e.name == s.m.palette_name) return false;
  const int64_t next = t[k + 1].at;
  if (next + kHeader > end) return false;
  // A "rec " list's entry names the list: the next entry is its first chunk.
  if (e.name == kRecord) return next == e.at + kHeader + 4;
  const int64_t exact = e.at + kHeader + e.size;
  const bool tiles = next == exact + (e.size & 1) || ((e.size & 1) != 0 && next == exact);
  return tiles || (s.m.gaps_trusted && next >= exact && !(own && e.size == 0));
}

// Keeps the palette change whose data lies at `at` (once, where it lies
// among the others), while the changes kept hold no more colours than the
// most the movie libraries may take at once.
void note_palette_change(MovieChunkMap& m, int64_t at, uint32_t size) {
  constexpr size_t kMostColours = kMovieMaxAlloc / 4;
  constexpr uint32_t kLargest = 4 + 256 * 4;
  uint8_t data[kLargest];
  MoviePaletteChange change;
  const size_t got = read_at(m, at, data, std::min(size, kLargest));
  if (!movie_palette_change_read(data, got, at, &change)) return;
  auto& changes = m.palette_changes;
  const auto it = std::lower_bound(changes.begin(), changes.end(), at,
                                   [](const MoviePaletteChange& c, int64_t a) { return c.at < a; });
  if (it != changes.end() && it->at == at) return;
  if (m.palette_colours + change.colours.size() > kMostColours) {
    m.palette_lost_from = std::min(m.palette_lost_from, at);
    return;
  }
  m.palette_colours += change.colours.size();
  changes.insert(it, std::move(change));
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
      continue;
    }
    uint8_t before[4];
    const bool unpadded =
        !movi_name(head) && padded && read_at(s.m, at - 1, before, 4) == 4 && movi_name(before);
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
      at = found;
      continue;
    }
    const uint32_t name = le32(head);
    uint32_t size = le32(head + 4);
    // A last chunk may end the list without its pad byte.
    int64_t next = std::min(padded_end(at, size), std::max(end, at + kHeader + size));
    const bool cut = next > end;
    if (cut) {
      // Past the end of its list: cut where the next chunk is found, or at
      // the end.
      const int64_t found = find_header(s.m, at + kHeader, end);
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
    } else if (name == s.m.palette_name && !cut) {
      note_palette_change(s.m, at + kHeader, size);
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
        // An index inside a list whose size was never written ends it.
        const bool indexed = s.indexes.idx1_at >= 0 && s.indexes.idx1_at < list_end;
        s.m.lists.emplace_back(at + 12, indexed ? s.indexes.idx1_at - kHeader : list_end);
        if (indexed) return;
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

// Decoding can only begin at the first chunk: it is a key until its first
// bytes are looked at, and one they deny is damaged, as is what follows
// from it up to the next key.
void first_chunk_begins(std::vector<MovieChunk>& chunks) {
  if (chunks.empty()) return;
  MovieChunk& first = chunks.front();
  if (first.unread) first.key = true;
  else if (!first.key && first.size > 0) first.damaged = true;
}

// The chunks, found from the file's start with what the map knows.
void find_chunks(MovieChunkMap& m, bool reads_all) {
  Scan s{m};
  s.reads_all = reads_all;
  m.lists.clear();
  scan_file(s, true);
  chunk_index_apply(&m, &s.chunks, 0, SIZE_MAX);
  first_chunk_begins(s.chunks);
  m.chunks = std::move(s.chunks);
}

// The chunks a scan of every header finds in [from, to).
std::vector<MovieChunk> scan_stretch(MovieChunkMap& m, int64_t from, int64_t to) {
  Scan s{m};
  s.reads_all = true;
  scan_list(s, from, to, to, false);
  return std::move(s.chunks);
}

// Whether the header an entry names agrees with it.
bool entry_agrees(const MovieChunkMap& m, const MovieIndexEntry& e) {
  uint8_t head[kHeader];
  return read_at(m, e.at, head, kHeader) == kHeader && header_agrees(m, e, head);
}

// A chunk the index shows lost in damage, which has no header of its own:
// it lies before the chunk whose data its offset names.
bool lost_in_damage(const MovieChunk& c) { return c.damaged && c.size == 0; }

// Whether two findings of the same chunks give the same positions, the same
// with data and the same keys: then only places, sizes and damage differ.
bool same_positions(const std::vector<MovieChunk>& a, size_t a_begin, size_t a_end, const std::vector<MovieChunk>& b) {
  if (a_end - a_begin != b.size()) return false;
  for (size_t i = 0; i < b.size(); ++i) {
    const MovieChunk& x = a[a_begin + i];
    if ((x.size > 0 || x.damaged) != (b[i].size > 0 || b[i].damaged) || x.key != b[i].key) return false;
  }
  return true;
}

// The chunks around the one at `position`, whose header disagreed with its
// entry, found again as a file with no index has them found: header by
// header from the nearest entry of this stream before it whose header
// agrees to the nearest one after it, and the entries between matched to
// them. Where too many stretches were found again, every header of the
// file is read instead.
MovieChunkCheck find_again(MovieChunkMap& m, MoviePacketIndex* index, size_t position) {
  const int64_t header = m.chunks[position].offset - kHeader;
  std::vector<size_t> own;  // this stream's entries, in the index's order
  for (size_t k = 0; k < m.entries.size(); ++k)
    if (ours(m, m.entries[k].name)) own.push_back(k);
  size_t at = 0;
  while (at < own.size() && m.entries[own[at]].at != header) ++at;
  if (++m.found_again > kMostFoundAgain || at == own.size()) {
    find_chunks(m, true);
    packet_index_rebuild(index, m.chunks);
    return MovieChunkCheck::Moved;
  }
  int64_t list_begin = 0;
  int64_t list_end = m.file_size;
  for (const auto& [b, e] : m.lists)
    if (header >= b && header < e) list_begin = b, list_end = e;
  size_t first = at;  // the entries [first, last) name the chunks found again
  while (first > 0 && m.entries[own[first - 1]].at >= list_begin && !entry_agrees(m, m.entries[own[first - 1]]))
    --first;
  const bool after_one = first > 0 && m.entries[own[first - 1]].at >= list_begin;
  const int64_t from = after_one ? m.entries[own[--first]].at : list_begin;
  // The next entry that agrees must follow as many chunks as the entries
  // before it name: where more are found, its offset is stale and only
  // meets a chunk of its size by chance (as where the chunks moved up by
  // one of the same size), and the chunks are found to the end of the list.
  const auto agrees_after = [&](size_t k, bool in_list) {
    const int64_t e = m.entries[own[k]].at;
    return e > from && (e < list_end) == in_list && entry_agrees(m, m.entries[own[k]]);
  };
  size_t last = at + 1;
  while (last < own.size() && !agrees_after(last, true)) ++last;
  int64_t to = last < own.size() ? m.entries[own[last]].at : list_end;
  std::vector<MovieChunk> chunks = scan_stretch(m, from, to);
  if (to < list_end && chunks.size() > last - first) {
    for (last = at + 1; last < own.size() && !agrees_after(last, false);) ++last;
    to = list_end;
    chunks = scan_stretch(m, from, to);
  }
  chunk_index_apply(&m, &chunks, first, last);
  // The positions they take: a chunk lost in damage before the first is
  // not among them, one before the chunk at `to` is.
  const auto begins_after = [&](int64_t edge) {
    return static_cast<size_t>(
        std::find_if(m.chunks.begin(), m.chunks.end(),
                     [&](const MovieChunk& c) {
                       return c.offset - kHeader > edge || (c.offset - kHeader == edge && !lost_in_damage(c));
                     }) -
        m.chunks.begin());
  };
  const size_t p0 = begins_after(from);
  const size_t p1 = std::max(p0, begins_after(to));
  if (p0 == 0) first_chunk_begins(chunks);
  const bool same = same_positions(m.chunks, p0, p1, chunks);
  m.chunks.erase(m.chunks.begin() + static_cast<std::ptrdiff_t>(p0), m.chunks.begin() + static_cast<std::ptrdiff_t>(p1));
  m.chunks.insert(m.chunks.begin() + static_cast<std::ptrdiff_t>(p0), chunks.begin(), chunks.end());
  if (!same) {
    packet_index_rebuild(index, m.chunks);
    return MovieChunkCheck::Moved;
  }
  packet_index_patch(index, m.chunks);
  return MovieChunkCheck::Corrected;
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
  m.palette_name = number | fourcc("\0\0pc");
  // A first look for the indexes, which are taken where a sample of their
  // entries meets the headers they name.
  Scan look{m};
  scan_file(look, false);
  const bool own = chunk_index_open(&m, &look.indexes);
  m.whole = own || look.indexes.idx1_at >= 0;
  if (!m.entries.empty()) {
    find_chunks(m, false);
    return;
  }
  // Every header is read, and idx1 (perhaps found inside a list whose size
  // was never written) is matched to the chunks found.
  Scan s{m};
  scan_file(s, true);
  m.whole = m.whole || s.indexes.idx1_at >= 0;
  chunk_index_match(&m, &s.indexes, &s.chunks);
  first_chunk_begins(s.chunks);
  m.chunks = std::move(s.chunks);
}

MovieChunkCheck movie_chunks_check(MovieChunkMap* map, MoviePacketIndex* index, size_t packet, const uint8_t* header,
                                   size_t got) {
  const MoviePacket& p = index->packets[packet];
  if (p.position < 0 || static_cast<size_t>(p.position) >= map->chunks.size()) return MovieChunkCheck::Agrees;
  MovieChunk& c = map->chunks[static_cast<size_t>(p.position)];
  if (!c.unread || c.offset != p.offset) return MovieChunkCheck::Agrees;
  if (!ours(*map, le32(header)) || le32(header + 4) != c.size)
    return find_again(*map, index, static_cast<size_t>(p.position));
  c.unread = false;
  const size_t peek = std::min<size_t>({got, c.size, kPeek});
  if (!c.key || map->key_look(header + kHeader, peek, peek >= c.size)) return MovieChunkCheck::Agrees;
  if (p.position == 0) {
    // Decoding still begins there, at a picture made from what the file
    // lacks.
    c.damaged = index->packets[packet].damaged = true;
    return MovieChunkCheck::Agrees;
  }
  c.key = false;
  return MovieChunkCheck::NotKey;
}
