#include "platform/movie/movie_chunk_index.h"

#include <algorithm>
#include <array>
#include <climits>
#include <unordered_map>
#include <unordered_set>

#include "platform/movie/movie_chunk_header.h"
#include "platform/movie/movie_file.h"

using namespace chunk_detail;

namespace {

// Index entries looked at ahead, to tell by their sizes which chunks they
// name where their offsets do not.
constexpr size_t kLookAhead = 3;
// Chunks the entries may find lost in one stretch of damage.
constexpr size_t kMostLost = 16;
// Index entries read, every stream's.
constexpr size_t kMostEntries = size_t{2} * kMovieMaxFrames;
// Entries of this stream looked at in each of two samples (the first ones,
// and ones spread over the rest) to tell whether an index meets its headers.
constexpr size_t kSample = 8;
constexpr size_t kFirstLooks = 3;
// OpenDML indexes: the kinds, and the flag of a chunk that is no key.
constexpr uint8_t kIndexOfIndexes = 0;
constexpr uint8_t kIndexOfChunks = 1;
constexpr uint32_t kNotKey = 0x80000000u;
// An OpenDML index's header after its chunk header: entry size, kinds,
// entries in use, chunk name, and what the kind adds.
constexpr size_t kOpenDmlHeader = 24;
// Bytes of an index read in one call: an index is read whole where it is no
// larger (a two-hour movie's idx1 with a sound stream is some 6 MB), and a
// size that lies costs no more memory than this.
constexpr int64_t kIndexBlock = int64_t{8} << 20;
// The stretch of the file the first entries of a sample name, read in one
// call where it is no longer: about what the library's reading on to a
// place a little ahead read of it before.
constexpr int64_t kSampleSpan = int64_t{1} << 18;

uint64_t le64(const uint8_t* p) { return le32(p) | static_cast<uint64_t>(le32(p + 4)) << 32; }

// The chunks a scan found, and the map whose index is matched to them.
struct Found {
  const MovieChunkMap& m;
  std::vector<MovieChunk>& chunks;
};

// A block for up to n bytes of the file at `at`: no more than the file
// holds there, nor than kIndexBlock.
std::vector<uint8_t> index_block(const MovieChunkMap& m, int64_t at, int64_t n) {
  return std::vector<uint8_t>(static_cast<size_t>(std::clamp<int64_t>(std::min(n, m.file_size - at), 0, kIndexBlock)));
}

// The entries of an OpenDML index of chunks (an ix## chunk) whose header
// lies at `at`: each names its chunk's data from the index's base offset.
// `size`, the chunk's size as the super index gives it, is read with the
// header in one call (the rest, where it says too little, after it).
void read_chunk_index(const MovieChunkMap& m, int64_t at, uint32_t size, std::vector<MovieIndexEntry>* out) {
  constexpr int64_t kFirst = kHeader + static_cast<int64_t>(kOpenDmlHeader);
  std::vector<uint8_t> block = index_block(m, at, std::max<int64_t>(kFirst, kHeader + int64_t{size}));
  size_t got = read_at(m, at, block.data(), block.size());
  if (got < static_cast<size_t>(kFirst)) return;
  uint8_t head[kFirst];
  std::copy_n(block.data(), kFirst, head);
  const uint8_t* h = head + kHeader;
  if ((h[0] | h[1] << 8) != 2 || h[2] != 0 || h[3] != kIndexOfChunks) return;
  const uint64_t base = le64(h + 12);
  if (base > static_cast<uint64_t>(m.file_size)) return;
  const int64_t first = at + kFirst;
  const int64_t bytes = std::min<int64_t>(int64_t{le32(h + 4)} * 8, int64_t{le32(head + 4)} - 24);
  const int64_t end = first + std::min(bytes, m.file_size - first);
  if (end - first < 8) return;
  size_t from = static_cast<size_t>(kFirst);  // the block's next entry
  for (int64_t in = first; in + 8 <= end && out->size() < kMostEntries;) {
    if (got - from < 8) {
      block.resize(static_cast<size_t>(std::min(end - in, kIndexBlock)));
      got = read_at(m, in, block.data(), block.size());
      from = 0;
      if (got < 8) break;
    }
    const size_t n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(got - from), end - in)) / 8 * 8;
    for (size_t i = from; i < from + n; i += 8) {
      const uint32_t entry_size = le32(&block[i + 4]);
      out->push_back(MovieIndexEntry{le32(h + 8), (entry_size & kNotKey) != 0 ? 0 : kKeyFlag,
                                     static_cast<int64_t>(base) + le32(&block[i]) - kHeader, entry_size & ~kNotKey});
    }
    from += n;
    in += static_cast<int64_t>(n);
  }
}

// The entries of the OpenDML indexes, every stream's, in each one's order.
std::vector<MovieIndexEntry> read_opendml(const MovieChunkMap& m, const MovieIndexPlaces& p) {
  std::vector<MovieIndexEntry> entries;
  std::unordered_set<uint64_t> read;
  for (const auto& [at, size] : p.super_indexes) {
    if (size < kOpenDmlHeader) continue;
    std::vector<uint8_t> super = index_block(m, at, size);
    const size_t got = read_at(m, at, super.data(), super.size());
    if (got < kOpenDmlHeader) continue;
    const uint8_t* h = super.data();
    if (h[3] == kIndexOfChunks) {
      // An index of chunks kept in the stream's header list itself.
      read_chunk_index(m, at - kHeader, size, &entries);
      continue;
    }
    if ((h[0] | h[1] << 8) != 4 || h[3] != kIndexOfIndexes) continue;
    const size_t count = std::min<size_t>(le32(h + 4), (got - kOpenDmlHeader) / 16);
    for (size_t i = 0; i < count && entries.size() < kMostEntries; ++i) {
      const uint8_t* e = h + kOpenDmlHeader + 16 * i;
      // An index of chunks named twice is read once.
      const uint64_t ix = le64(e);
      if (ix >= static_cast<uint64_t>(m.file_size) || !read.insert(ix).second) continue;
      read_chunk_index(m, static_cast<int64_t>(ix), le32(e + 8), &entries);
    }
  }
  return entries;
}

// The idx1 entries, every stream's, read whole in one call where the index
// is no larger than a block (the index may claim more than the file holds);
// their offsets are still relative.
std::vector<MovieIndexEntry> read_idx1(const MovieChunkMap& m, const MovieIndexPlaces& p) {
  std::vector<MovieIndexEntry> entries;
  if (p.idx1_at < 0) return entries;
  const int64_t end = p.idx1_at + std::min<int64_t>(p.idx1_size, m.file_size - p.idx1_at);
  std::vector<uint8_t> block = index_block(m, p.idx1_at, end - p.idx1_at);
  for (int64_t at = p.idx1_at; at + 16 <= end && entries.size() < kMostEntries;) {
    const size_t got = read_at(m, at, block.data(), static_cast<size_t>(std::min<int64_t>(block.size(), end - at)));
    if (got < 16) break;
    for (size_t i = 0; i + 16 <= got; i += 16)
      entries.push_back(MovieIndexEntry{le32(&block[i]), le32(&block[i + 4]), le32(&block[i + 8]), le32(&block[i + 12])});
    at += static_cast<int64_t>(got / 16 * 16);
  }
  return entries;
}

// The chunk whose header lies at `at`, or -1. Entries mostly name the
// chunks in order, so the one after the last found (*hint) is tried first.
int64_t chunk_with_header_at(const Found& s, int64_t at, size_t* hint) {
  const int64_t data = at + kHeader;
  if (*hint < s.chunks.size() && s.chunks[*hint].offset == data) return static_cast<int64_t>((*hint)++);
  const auto it = std::lower_bound(s.chunks.begin(), s.chunks.end(), data,
                                   [](const MovieChunk& c, int64_t d) { return c.offset < d; });
  if (it == s.chunks.end() || it->offset != data) return -1;
  *hint = static_cast<size_t>(it - s.chunks.begin()) + 1;
  return static_cast<int64_t>(*hint) - 1;
}

// Bytes of the file read for the headers samples name: the first entries
// mostly name chunks near each other, and the stretch of the file they name
// under a base is read in one call where it is no longer than kSampleSpan
// (and not held already); other headers are read apart, each once for all
// the samples (the OpenDML index's and idx1's name the same chunks).
struct SampleBytes {
  int64_t at = 0;
  std::vector<uint8_t> bytes;
  std::unordered_map<int64_t, std::array<uint8_t, kHeader>> heads;

  bool holds(int64_t lo, int64_t hi) const { return at <= lo && hi <= at + static_cast<int64_t>(bytes.size()); }
  // Reads [lo, hi) where it is short enough and not held already.
  void read(const MovieChunkMap& m, int64_t lo, int64_t hi) {
    if (lo < 0 || hi - lo > kSampleSpan || holds(lo, hi)) return;
    bytes.resize(static_cast<size_t>(hi - lo));
    bytes.resize(read_at(m, lo, bytes.data(), bytes.size()));
    at = lo;
  }
  // The header at `pos` into `head`; false where the file holds none there.
  bool header(const MovieChunkMap& m, int64_t pos, uint8_t* head) {
    if (holds(pos, pos + kHeader)) {
      std::copy_n(&bytes[static_cast<size_t>(pos - at)], kHeader, head);
      return true;
    }
    const auto it = heads.find(pos);
    if (it != heads.end()) {
      std::copy_n(it->second.data(), kHeader, head);
      return true;
    }
    if (read_at(m, pos, head, kHeader) != kHeader) return false;
    std::copy_n(head, kHeader, heads[pos].data());
    return true;
  }
};

// How many of a sample of the stream's entries (the first few and a few
// spread over the rest), their offsets moved by `base`, meet the headers
// they name, of how many looked at.
std::pair<size_t, size_t> sample_meets(const MovieChunkMap& m, const std::vector<MovieIndexEntry>& entries,
                                       int64_t base, SampleBytes* seen) {
  std::vector<const MovieIndexEntry*> own;
  for (const MovieIndexEntry& e : entries)
    if (ours(m, e.name)) own.push_back(&e);
  std::vector<size_t> picks;
  for (size_t i = 0; i < own.size() && i < kSample; ++i) picks.push_back(i);
  for (size_t i = 1; own.size() > kSample && i <= kSample; ++i) picks.push_back(kSample + (own.size() - kSample) * i / (kSample + 1));
  // The headers the first few name, read together where they lie near each
  // other.
  int64_t lo = INT64_MAX;
  int64_t hi = INT64_MIN;
  for (size_t i = 0; i < own.size() && i < kSample; ++i) {
    lo = std::min(lo, own[i]->at + base);
    hi = std::max(hi, own[i]->at + base + kHeader);
  }
  if (lo < hi) seen->read(m, lo, hi);
  size_t met = 0;
  size_t looked = 0;
  for (const size_t i : picks) {
    // A base under which none of the first few meets is given up.
    if (looked == kFirstLooks && met == 0) break;
    MovieIndexEntry e = *own[i];
    e.at += base;
    uint8_t head[kHeader];
    met += seen->header(m, e.at, head) && header_agrees(m, e, head) ? 1 : 0;
    ++looked;
  }
  return {met, looked};
}

// Whether a sample of the stream's entries mostly meets its headers: one
// wrong entry costs a scan to the next that agrees when it is read, not the
// index.
bool mostly_meets(const MovieChunkMap& m, const std::vector<MovieIndexEntry>& entries, int64_t base,
                  SampleBytes* seen) {
  const auto [met, looked] = sample_meets(m, entries, base, seen);
  return met > 0 && met * 2 > looked;
}

// Idx1 offsets count from the movi list's name, or from the file's start,
// or (some writers) from the list's first chunk: where the first entry then
// names that chunk.
std::vector<int64_t> idx1_bases(const MovieIndexPlaces& p, const std::vector<MovieIndexEntry>& entries) {
  std::vector<int64_t> bases = {p.movi_at, 0};
  if (p.movi_at >= 0 && !entries.empty() && entries.front().at != 4) bases.push_back(p.movi_at + 4 - entries.front().at);
  return bases;
}

// Before the chunks are known: the base under which a sample of the
// entries mostly meets the headers it names, or -1.
int64_t idx1_base_by_header(const MovieChunkMap& m, const MovieIndexPlaces& p,
                            const std::vector<MovieIndexEntry>& entries, SampleBytes* seen) {
  for (const int64_t base : idx1_bases(p, entries))
    if (base >= 0 && mostly_meets(m, entries, base, seen)) return base;
  return -1;
}

// Once the chunks are known: the base under which this stream's entries meet
// most chunks; -1 when the index is not believed: its first entry meets no
// chunk, nor do half of them.
int64_t idx1_base_by_chunks(const Found& s, const MovieIndexPlaces& p, const std::vector<MovieIndexEntry>& entries) {
  int64_t best = -1;
  size_t best_hits = 0;
  for (const int64_t base : idx1_bases(p, entries)) {
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
  std::unordered_set<int64_t> own_places;
  std::unordered_map<uint32_t, size_t> uses;
  for (MovieIndexEntry& e : entries) {
    e.at += base;
    if (ours(m, e.name)) own_places.insert(e.at);
    ++uses[e.name];
  }
  // Chunks listed: two entries naming one chunk list it once.
  const auto own = static_cast<int64_t>(own_places.size());
  // A stream's number: the first two letters of its chunks' names.
  std::unordered_map<uint32_t, std::pair<uint32_t, size_t>> most;
  m.names_indexed.clear();
  for (const auto& [name, n] : uses) {
    m.names_indexed.push_back(name);
    auto& best = most[name & 0xFFFF];
    if (n > best.second || (n == best.second && name < best.first)) best = {name, n};
  }
  std::sort(m.names_indexed.begin(), m.names_indexed.end());
  m.names_usual.clear();
  for (const auto& [number, best] : most) m.names_usual.push_back(best.first);
  std::sort(m.names_usual.begin(), m.names_usual.end());
  m.own_missing = m.counted > own;
  m.tiles = entries;
  std::stable_sort(m.tiles.begin(), m.tiles.end(),
                   [](const MovieIndexEntry& a, const MovieIndexEntry& b) { return a.at < b.at; });
  // An entry of this stream inside a chunk another entry names (a list's
  // entry names its chunks too) names no chunk of its own: counted with the
  // others, it would hide one the index does not name.
  bool inside = false;
  int64_t reach = -1;
  for (const MovieIndexEntry& t : m.tiles) {
    inside = inside || (ours(m, t.name) && t.at < reach);
    if (t.name != kRecord) reach = std::max(reach, padded_end(t.at, t.size));
  }
  m.gaps_trusted = m.counted > 0 && own == m.counted && !inside;
  m.entries = std::move(entries);
}

// Whether the entries from k name the chunks from c by their sizes, as far
// as kLookAhead of them (fewer at the index's end).
bool sizes_go_on(const Found& s, const std::vector<MovieIndexEntry>& entries, size_t k, size_t c) {
  for (size_t n = 0; n < kLookAhead && k + n < entries.size(); ++n) {
    if (c + n >= s.chunks.size()) return false;
    const MovieChunk& chunk = s.chunks[c + n];
    if (!sizes_agree(s.m, entries[k + n].size, chunk.offset, chunk.size)) return false;
  }
  return true;
}

// Whether the index is believed: its first entry of this stream meets a
// chunk, or half of them do.
bool believed(const Found& s, const std::vector<MovieIndexEntry>& entries) {
  size_t hits = 0;
  size_t hint = 0;
  for (const MovieIndexEntry& e : entries) hits += chunk_with_header_at(s, e.at, &hint) >= 0 ? 1 : 0;
  hint = 0;
  return chunk_with_header_at(s, entries.front().at, &hint) >= 0 || hits * 2 >= entries.size();
}

// A chunk named for this stream that another stream's entry, bearing its
// stream's usual name, names with its size is that stream's, its name
// damaged: it is no position. Only where more chunks bear this stream's
// names than the index lists: where as many do, the entries lie (as where
// two entries' places were swapped), and so does an entry bearing a name
// its stream's others do not (as where two entries' streams were swapped).
void drop_other_streams_chunks(Found& s, size_t own_entries) {
  if (s.chunks.size() <= own_entries) return;
  std::vector<bool> gone(s.chunks.size(), false);
  bool any = false;
  size_t hint = 0;
  for (const MovieIndexEntry& e : s.m.entries) {
    if (ours(s.m, e.name) || !usual_name(s.m, e.name)) continue;
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

}  // namespace

bool chunk_index_open(MovieChunkMap* map, const MovieIndexPlaces* places) {
  MovieChunkMap& m = *map;
  std::vector<MovieIndexEntry> opendml = read_opendml(m, *places);
  std::vector<MovieIndexEntry> idx1 = read_idx1(m, *places);
  SampleBytes seen;
  const bool own = mostly_meets(m, opendml, 0, &seen);
  const int64_t base = idx1_base_by_header(m, *places, idx1, &seen);
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
  return own;
}

void chunk_index_match(MovieChunkMap* map, const MovieIndexPlaces* places, std::vector<MovieChunk>* chunks) {
  std::vector<MovieIndexEntry> idx1 = read_idx1(*map, *places);
  const int64_t met = idx1_base_by_chunks(Found{*map, *chunks}, *places, idx1);
  if (met >= 0) {
    set_entries(*map, std::move(idx1), met);
    chunk_index_apply(map, chunks, 0, SIZE_MAX);
  }
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
void chunk_index_apply(const MovieChunkMap* map, std::vector<MovieChunk>* chunks, size_t first, size_t last) {
  Found s{*map, *chunks};
  std::vector<MovieIndexEntry> entries;
  size_t k = 0;
  for (const MovieIndexEntry& e : s.m.entries)
    if (ours(s.m, e.name) && k++ >= first && k <= last) entries.push_back(e);
  if (entries.empty() || !believed(s, entries)) return;
  drop_other_streams_chunks(s, entries.size());
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
  // or says the chunk is not its picture. A chunk of another size than its
  // entry says, whose own size leads to the next entry's header, found
  // there, where the entry's does not (it leads inside a chunk, or past
  // one another entry names), is whole: the entry is wrong about its size.
  const auto name = [&](size_t chunk, const MovieIndexEntry& e) {
    if (chunk >= s.chunks.size()) return;
    const MovieChunk& c = s.chunks[chunk];
    const int64_t at = c.offset - kHeader;
    if (agree(chunk, e) || (c.offset == e.at + kHeader && meets_next_tile(s.m, at, c.size) &&
                            ends_on_header(s.m, at, c.size) && !meets_next_tile(s.m, at, e.size)))
      vouch(chunk, e);
    else if (e.size != 0)
      s.chunks[chunk].damaged = true;
  };
  size_t c = 0;         // the chunk the next entry names in line
  bool trusted = true;  // the offsets meet the chunks they name
  size_t hint = 0;
  // Where the chunk before the next in line ends, and where that one
  // begins: a chunk the scan did not find that an entry names (one named
  // for another stream, or its name damaged) lies between. One that lies
  // past the next chunk in line leaves that chunk unnamed, and is no
  // chunk of this stream's: the entry lies, as where two entries' streams
  // were swapped.
  const auto gap = [&] {
    const MovieChunk* before = c > 0 && c <= s.chunks.size() ? &s.chunks[c - 1] : nullptr;
    return std::pair<int64_t, int64_t>{before != nullptr ? padded_end(before->offset - kHeader, before->size) : -1,
                                       c < s.chunks.size() ? s.chunks[c].offset - kHeader : s.m.file_size};
  };
  // Where offsets no longer meet: the header in the gap, past padding and
  // other streams' chunks, whose size is the entry's; -1 where none is.
  const auto header_in_gap = [&](const MovieIndexEntry& e) -> int64_t {
    constexpr int kMostBetween = 8;
    auto [at, end] = gap();
    for (int n = 0; at >= 0 && n < kMostBetween && at + kHeader <= end; ++n) {
      uint8_t head[kHeader];
      if (read_at(s.m, at, head, kHeader) != kHeader || !movi_name(head)) return -1;
      if (sizes_agree(s.m, e.size, at + kHeader, le32(head + 4))) return at;
      at = le32(head) == kList ? at + kHeader + 4 : padded_end(at, le32(head + 4));
    }
    return -1;
  };
  const auto found_at = [&](const MovieIndexEntry& e, int64_t at, uint32_t size) {
    found.emplace_back(c, MovieChunk{at + kHeader, size, (e.flags & kKeyFlag) != 0, false, false});
  };
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
    const bool head_read = met < 0 && trusted && read_at(s.m, e.at, head, kHeader) == kHeader;
    if (head_read && e.size > 0 && movi_name(head) && e.at >= gap().first && e.at < gap().second &&
        sizes_agree(s.m, e.size, e.at + kHeader, le32(head + 4)) && padded_end(e.at, e.size) <= s.m.file_size) {
      found_at(e, e.at, le32(head + 4));
      continue;
    }
    // Another stream's chunk, bearing a name the index gives, outside the
    // gap: the entry lies, and the chunks go on in line.
    if (head_read && !ours(s.m, le32(head)) && indexed_name(s.m, le32(head))) continue;
    trusted = false;
    // The entries after it name the chunks from the next in line: its own
    // lies in the gap, named otherwise.
    if (e.size > 0 && sizes_go_on(s, entries, k + 1, c)) {
      const int64_t at = header_in_gap(e);
      uint8_t there[kHeader];
      if (at >= 0 && read_at(s.m, at, there, kHeader) == kHeader) {
        found_at(e, at, le32(there + 4));
        continue;
      }
    }
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
