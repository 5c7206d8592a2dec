#include "platform/movie/movie_chunks.h"

#include <algorithm>
#include <cstdio>

#include "platform/movie/movie_file.h"

namespace {

constexpr uint32_t fourcc(const char (&s)[5]) {
  return static_cast<uint32_t>(static_cast<uint8_t>(s[0])) | static_cast<uint32_t>(static_cast<uint8_t>(s[1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(s[2])) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(s[3])) << 24;
}

constexpr uint32_t kRiff = fourcc("RIFF");
constexpr uint32_t kList = fourcc("LIST");
constexpr uint32_t kMovi = fourcc("movi");
constexpr uint32_t kRecord = fourcc("rec ");
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

uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

// A chunk or list name: four letters, digits, spaces or underscores.
bool name_like(const uint8_t* p) {
  for (int i = 0; i < 4; ++i) {
    const uint8_t c = p[i];
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == ' ' || c == '_'))
      return false;
  }
  return true;
}

struct Scan {
  const MovieApi* av;
  AVIOContext* pb;
  int64_t file_size;
  uint32_t names[2];  // this stream's picture chunks: "NNdc" and "NNdb"
  MovieKeyLook key_look;
  std::vector<MovieChunk> chunks;
  int64_t movi_at = -1;  // the first movi list's name, which index offsets may count from
  int64_t idx1_at = -1;  // the index's data
  uint32_t idx1_size = 0;
  bool full = false;  // kMovieMaxFrames chunks: the rest is not read
};

// Up to n bytes at `at`; how many were read.
size_t read_at(const Scan& s, int64_t at, uint8_t* dst, size_t n) {
  if (at < 0 || at >= s.file_size) return 0;
  n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(n), s.file_size - at));
  if (s.av->avio_seek(s.pb, at, SEEK_SET) != at) return 0;
  const int got = s.av->avio_read(s.pb, dst, static_cast<int>(n));
  return got > 0 ? static_cast<size_t>(got) : 0;
}

int64_t padded_end(int64_t at, uint32_t size) { return at + kHeader + size + (size & 1); }

// Where the list after the one at `at` begins: past its data and the byte
// that keeps chunks on even offsets, or right after its data where the
// writer left that byte out (a name is there and none a byte later). The
// chunks inside a movi list are stepped over the same way as they are met.
int64_t chunk_after(const Scan& s, int64_t at, uint32_t size) {
  const int64_t padded = padded_end(at, size);
  uint8_t near[5];
  if ((size & 1) == 0 || read_at(s, padded - 1, near, sizeof near) != sizeof near) return padded;
  return name_like(near) && !name_like(near + 1) ? padded - 1 : padded;
}

bool ours(const Scan& s, uint32_t name) { return name == s.names[0] || name == s.names[1]; }

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

// Whether a chunk header at `at` (name and size already read) is followed,
// where its size ends, by the end of the list or by another chunk's name: a
// header found in the middle of damaged bytes is taken only then.
bool lands(const Scan& s, int64_t at, uint32_t size, int64_t end) {
  const int64_t next = padded_end(at, size);
  if (next == end) return true;
  uint8_t name[4];
  return next < end && read_at(s, next, name, 4) == 4 && movi_name(name);
}

// The first chunk header in [from, end) that lands (see above); -1 when none.
int64_t find_header(const Scan& s, int64_t from, int64_t end) {
  std::vector<uint8_t> window(kSearchWindow + kHeader);
  for (int64_t base = from; base + kHeader <= end; base += static_cast<int64_t>(kSearchWindow)) {
    const size_t got = read_at(s, base, window.data(), window.size());
    for (size_t i = 0; i + kHeader <= got && base + static_cast<int64_t>(i) + kHeader <= end; ++i) {
      if (!movi_name(&window[i])) continue;
      const int64_t at = base + static_cast<int64_t>(i);
      if (lands(s, at, le32(&window[i + 4]), end)) return at;
    }
  }
  return -1;
}

void add_chunk(Scan& s, int64_t at, uint32_t size, const uint8_t* peek, size_t peeked, bool damaged) {
  if (s.chunks.size() >= kMovieMaxFrames) {
    s.full = true;
    return;
  }
  const bool key = size > 0 && !damaged && s.key_look(peek, std::min<size_t>(peeked, size));
  s.chunks.push_back(MovieChunk{at + kHeader, size, key, damaged});
}

// The chunks of a movi list, or of a "rec " list inside one, in [begin, end).
void scan_list(Scan& s, int64_t begin, int64_t end, bool in_record) {
  uint8_t head[kHeader + kPeek];
  int64_t at = begin;
  int64_t last_data = -1;  // the last chunk's data, where a search for a lost header begins
  bool padded = false;     // the last chunk's size was odd, and `at` lies past its pad byte
  while (!s.full && at + kHeader <= end) {
    const size_t got = read_at(s, at, head, sizeof head);
    if (got < kHeader) return;
    uint8_t before[4];
    if (!movi_name(head) && padded && read_at(s, at - 1, before, 4) == 4 && movi_name(before)) {
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
      const int64_t found = find_header(s, last_data >= 0 ? last_data + 1 : at + 1, end);
      if (found < 0) return;
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
      // Past the end of its list: cut there, or where the next chunk is
      // found when the list goes on past it.
      const int64_t found = end == s.file_size ? -1 : find_header(s, at + kHeader, end);
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
    } else if (ours(s, name)) {
      add_chunk(s, at, size, head + kHeader, got - kHeader, cut);
    }
    padded = (size & 1) != 0;
    at = next;
  }
}

// The lists of one RIFF list in [begin, end).
void scan_riff(Scan& s, int64_t begin, int64_t end) {
  uint8_t head[12];
  for (int64_t at = begin; !s.full && at + kHeader <= end;) {
    const size_t got = read_at(s, at, head, sizeof head);
    if (got < kHeader || !name_like(head)) return;
    const uint32_t name = le32(head);
    const uint32_t size = le32(head + 4);
    // A size that was never written (0, or past the end) runs to the end.
    const int64_t after = chunk_after(s, at, size);
    const int64_t list_end = size == 0 || after > end ? end : after;
    if (name == kList && got == 12 && le32(head + 8) == kMovi) {
      if (s.movi_at < 0) s.movi_at = at + kHeader;
      scan_list(s, at + 12, list_end, false);
      if (s.idx1_at >= 0 && s.idx1_at < list_end) return;
    } else if (name == kIdx1) {
      s.idx1_at = at + kHeader;
      s.idx1_size = size;
    }
    at = list_end;
  }
}

struct IndexEntry {
  uint32_t name, flags, offset, size;
};

// This stream's entries of the index, read a block at a time: the index
// holds every stream's, and may claim more than the file holds.
std::vector<IndexEntry> read_index(const Scan& s) {
  std::vector<IndexEntry> entries;
  if (s.idx1_at < 0) return entries;
  const int64_t end = s.idx1_at + std::min<int64_t>(s.idx1_size, s.file_size - s.idx1_at);
  std::vector<uint8_t> block(kSearchWindow);
  for (int64_t at = s.idx1_at; at + 16 <= end && entries.size() < kMovieMaxFrames;) {
    const size_t got = read_at(s, at, block.data(), static_cast<size_t>(std::min<int64_t>(kSearchWindow, end - at)));
    if (got < 16) break;
    for (size_t i = 0; i + 16 <= got; i += 16) {
      const IndexEntry e{le32(&block[i]), le32(&block[i + 4]), le32(&block[i + 8]), le32(&block[i + 12])};
      if (ours(s, e.name)) entries.push_back(e);
    }
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

// Index offsets count from the movi list's name, or from the file's start.
// The base under which the entries meet most chunks; -1 when the index is
// not believed: its first entry meets no chunk, nor do half of them.
int64_t index_base(const Scan& s, const std::vector<IndexEntry>& entries) {
  int64_t best = -1;
  size_t best_hits = 0;
  for (const int64_t base : {s.movi_at, int64_t{0}}) {
    if (base < 0) continue;
    size_t hits = 0;
    size_t hint = 0;
    for (const IndexEntry& e : entries) hits += chunk_with_header_at(s, base + e.offset, &hint) >= 0 ? 1 : 0;
    hint = 0;
    const bool first = chunk_with_header_at(s, base + entries.front().offset, &hint) >= 0;
    if ((first || hits * 2 >= entries.size()) && hits > best_hits) {
      best = base;
      best_hits = hits;
    }
    if (best_hits == entries.size()) break;
  }
  return best;
}

// Whether the entries from k name the chunks from c by their sizes, as far
// as kLookAhead of them (fewer at the index's end).
bool sizes_go_on(const Scan& s, const std::vector<IndexEntry>& entries, size_t k, size_t c) {
  for (size_t n = 0; n < kLookAhead && k + n < entries.size(); ++n)
    if (c + n >= s.chunks.size() || entries[k + n].size != s.chunks[c + n].size) return false;
  return true;
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
  const std::vector<IndexEntry> entries = read_index(s);
  if (entries.empty()) return;
  const int64_t base = index_base(s, entries);
  if (base < 0) return;
  std::vector<int8_t> flagged(s.chunks.size(), -1);  // -1: no entry names it whole; else its key flag
  // Chunks the scan did not find, each before the chunk of that ordinal.
  std::vector<std::pair<size_t, MovieChunk>> found;
  const auto vouch = [&](size_t chunk, const IndexEntry& e) {
    int8_t& flag = flagged[chunk];
    flag = static_cast<int8_t>(flag == 1 || (e.flags & kKeyFlag) != 0);
  };
  // An entry in line with the chunk it names: its size holds, says nothing,
  // or says the chunk is not its picture.
  const auto name = [&](size_t chunk, const IndexEntry& e) {
    if (chunk >= s.chunks.size()) return;
    if (e.size == s.chunks[chunk].size) vouch(chunk, e);
    else if (e.size != 0) s.chunks[chunk].damaged = true;
  };
  size_t c = 0;         // the chunk the next entry names in line
  bool trusted = true;  // the offsets meet the chunks they name
  size_t hint = 0;
  for (size_t k = 0; k < entries.size(); ++k) {
    const IndexEntry& e = entries[k];
    const int64_t at = base + e.offset;
    const int64_t met = chunk_with_header_at(s, at, &hint);
    const size_t m = static_cast<size_t>(met);
    if (met >= 0 && (m == c || (trusted && e.size == s.chunks[m].size))) {
      if (m == c) name(m, e);
      else vouch(m, e);
      c = m + 1;
      trusted = true;
      continue;
    }
    uint8_t head[kHeader];
    if (met < 0 && trusted && e.size > 0 && read_at(s, at, head, kHeader) == kHeader && movi_name(head) &&
        le32(head + 4) == e.size && padded_end(at, e.size) <= s.file_size) {
      found.emplace_back(c, MovieChunk{at + kHeader, e.size, (e.flags & kKeyFlag) != 0, false});
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
      const int64_t offset = c < s.chunks.size() ? s.chunks[c].offset : s.file_size;
      for (size_t j = 0; j < lost; ++j) found.emplace_back(c, MovieChunk{offset, 0, false, true});
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

}  // namespace

std::vector<MovieChunk> movie_chunks_scan(const MovieApi* av, AVIOContext* pb, int stream, MovieKeyLook key_look,
                                          bool* whole) {
  *whole = false;
  Scan s{av, pb, av->avio_size(pb), {}, key_look, {}};
  if (s.file_size <= 0 || stream < 0 || stream > 99) return {};
  const uint32_t number = static_cast<uint32_t>('0' + stream / 10) | static_cast<uint32_t>('0' + stream % 10) << 8;
  s.names[0] = number | fourcc("\0\0dc");
  s.names[1] = number | fourcc("\0\0db");
  uint8_t head[12];
  for (int64_t at = 0; !s.full && read_at(s, at, head, sizeof head) == sizeof head && le32(head) == kRiff;) {
    const uint32_t size = le32(head + 4);
    const int64_t end = size < 4 || padded_end(at, size) > s.file_size ? s.file_size : padded_end(at, size);
    scan_riff(s, at + 12, end);
    at = end;
  }
  apply_index(s);
  if (!s.chunks.empty()) s.chunks.front().key = true;
  *whole = s.idx1_at >= 0;
  return std::move(s.chunks);
}
