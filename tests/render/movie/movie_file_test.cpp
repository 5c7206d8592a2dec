// Reading AVI files written by the test: stream information, frames in and
// out of order, and files that must be refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/movie/movie_file.h"
#include "platform/movie/movie_library.h"
#include "test_movie.h"

namespace {

int channel_distance(uint32_t a, uint32_t b) {
  int worst = 0;
  for (int shift = 0; shift < 32; shift += 8)
    worst = std::max(worst, std::abs(static_cast<int>((a >> shift) & 255) - static_cast<int>((b >> shift) & 255)));
  return worst;
}

uint32_t get32(const std::vector<uint8_t>& bytes, size_t at) {
  return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | uint32_t{bytes[at + 3]} << 24;
}

void put32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t chunk_size(const std::vector<uint8_t>& bytes, size_t at) { return get32(bytes, at + 4); }

// Where the first chunk or list named `tag` begins (its name), or 0.
size_t tag_at(const std::vector<uint8_t>& bytes, const char* tag) {
  const size_t at = std::string(bytes.begin(), bytes.end()).find(tag);
  return at == std::string::npos ? 0 : at;
}

// Where the `packet`-th chunk of the movi list that is not the audio
// stream's begins (counted from 0, empty chunks included; the chunk after
// the last picture is the index), or 0.
size_t chunk_at(const std::vector<uint8_t>& bytes, int packet) {
  size_t at = tag_at(bytes, "movi");
  if (at == 0) return 0;
  at += 4;
  for (int n = 0; at + 8 <= bytes.size();) {
    const bool audio = bytes[at] == '0' && bytes[at + 1] == '1';
    if (!audio && n++ == packet) return at;
    const uint32_t size = chunk_size(bytes, at);
    at += 8 + size + (size & 1);
  }
  return 0;
}

// The bytes cut inside that chunk, keeping `kept` bytes of its data; when
// `kept` is negative, a picture keeps all but its last byte and the index
// its first half.
void cut_in_packet(std::vector<uint8_t>& bytes, int packet, int kept = -1) {
  const size_t at = chunk_at(bytes, packet);
  const uint32_t size = chunk_size(bytes, at);
  if (kept < 0) kept = static_cast<int>(std::memcmp(&bytes[at], "idx1", 4) == 0 ? size / 2 : size - 1);
  bytes.resize(at + 8 + static_cast<size_t>(kept));
}

// The last two thirds of that chunk's data overwritten with noise.
void damage_packet(std::vector<uint8_t>& bytes, int packet) {
  const size_t at = chunk_at(bytes, packet);
  const uint32_t size = chunk_size(bytes, at);
  for (uint32_t i = size / 3; i < size; ++i) bytes[at + 8 + i] = static_cast<uint8_t>(i * 37);
}

// Where the coded data of the JPEG in that chunk begins: after the header
// of its first scan (FF DA); *size: its bytes up to the end-of-image marker
// (FF D9) or the chunk's end.
size_t jpeg_scan_at(const std::vector<uint8_t>& bytes, int packet, uint32_t* size) {
  const size_t at = chunk_at(bytes, packet) + 8;
  const size_t end = at + chunk_size(bytes, at - 8);
  size_t scan = at;
  while (scan + 4 < end && !(bytes[scan] == 0xFF && bytes[scan + 1] == 0xDA)) ++scan;
  scan += 2 + (bytes[scan + 2] << 8 | bytes[scan + 3]);
  size_t stop = end;
  while (stop - 2 > scan && !(bytes[stop - 2] == 0xFF && bytes[stop - 1] == 0xD9)) --stop;
  *size = static_cast<uint32_t>(stop - 2 - scan);
  return scan;
}

// Where the picture's own data begins inside that chunk's: a JPEG's coded
// data, else after the last start code that is followed by at least 8 bytes
// (the headers of the stream, its layers and slices before the picture).
size_t picture_data_at(const std::vector<uint8_t>& bytes, int packet, uint32_t* size) {
  const size_t at = chunk_at(bytes, packet) + 8;
  if (bytes[at] == 0xFF && bytes[at + 1] == 0xD8) return jpeg_scan_at(bytes, packet, size);
  const size_t end = at + chunk_size(bytes, at - 8);
  size_t data = at;
  for (size_t i = at; i + 3 + 8 < end; ++i)
    if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1) data = i + 4;
  *size = static_cast<uint32_t>(end - data);
  return data;
}

// Three bytes inverted in the middle of that chunk's picture data.
void flip_bytes(std::vector<uint8_t>& bytes, int packet) {
  uint32_t size = 0;
  const size_t at = picture_data_at(bytes, packet, &size) + size / 2;
  for (size_t i = 0; i < 3; ++i) bytes[at + i] = static_cast<uint8_t>(~bytes[at + i]);
}

// Up to 64 bytes zeroed from a quarter into that chunk's picture data.
void zero_bytes(std::vector<uint8_t>& bytes, int packet) {
  uint32_t size = 0;
  const size_t at = picture_data_at(bytes, packet, &size) + size / 4;
  std::fill_n(bytes.begin() + static_cast<long>(at), std::min<uint32_t>(64, size / 2), 0);
}

// Up to 64 bytes zeroed from `from` bytes into that chunk's picture data.
void zero_bytes_at(std::vector<uint8_t>& bytes, int packet, uint32_t from) {
  uint32_t size = 0;
  const size_t at = picture_data_at(bytes, packet, &size);
  std::fill_n(bytes.begin() + static_cast<long>(at + from), std::min<uint32_t>(64, size - from), 0);
}

// Three bytes inverted `from` bytes into that chunk's picture data.
void flip_bytes_at(std::vector<uint8_t>& bytes, int packet, uint32_t from) {
  uint32_t size = 0;
  const size_t at = picture_data_at(bytes, packet, &size) + from;
  for (size_t i = 0; i < 3; ++i) bytes[at + i] = static_cast<uint8_t>(~bytes[at + i]);
}

// The lists around the movi data grown or shrunk by `delta` bytes.
void resize_lists(std::vector<uint8_t>& bytes, int64_t delta) {
  put32(bytes, 4, static_cast<uint32_t>(get32(bytes, 4) + delta));
  const size_t movi = tag_at(bytes, "movi") - 4;
  put32(bytes, movi, static_cast<uint32_t>(get32(bytes, movi) + delta));
}

// That chunk loses the second half of its data (its size says so); the
// chunks after it move up, and the index keeps their old offsets.
void cut_chunk_short(std::vector<uint8_t>& bytes, int packet) {
  const size_t at = chunk_at(bytes, packet);
  const uint32_t size = chunk_size(bytes, at);
  const uint32_t kept = size / 2 & ~1u;
  const size_t end = at + 8 + size + (size & 1);
  bytes.erase(bytes.begin() + static_cast<long>(at + 8 + kept), bytes.begin() + static_cast<long>(end));
  put32(bytes, at + 4, kept);
  resize_lists(bytes, -static_cast<int64_t>(end - at - 8 - kept));
}

// Bytes taken out from the middle of that chunk's data to the middle of the
// next one's, the next chunk's header with them; the sizes and the index
// stay as they were.
void cut_across(std::vector<uint8_t>& bytes, int packet) {
  const size_t at = chunk_at(bytes, packet);
  const size_t next = chunk_at(bytes, packet + 1);
  const size_t from = at + 8 + chunk_size(bytes, at) / 2;
  const size_t to = next + 8 + chunk_size(bytes, next) / 2;
  bytes.erase(bytes.begin() + static_cast<long>(from), bytes.begin() + static_cast<long>(to));
  resize_lists(bytes, -static_cast<int64_t>(to - from));
}

// The byte that keeps chunks on even offsets left out after each chunk of
// odd size, as some writers leave it out; the index goes with it.
void drop_pad_bytes(std::vector<uint8_t>& bytes) {
  bytes.resize(tag_at(bytes, "idx1"));
  for (size_t at = tag_at(bytes, "movi") + 4; at + 8 <= bytes.size();) {
    const uint32_t size = chunk_size(bytes, at);
    at += 8 + size;
    if ((size & 1) == 0 || at >= bytes.size()) continue;
    bytes.erase(bytes.begin() + static_cast<long>(at));
    resize_lists(bytes, -1);
  }
}

// That chunk's name says another stream's: "01dc".
void rename_chunk(std::vector<uint8_t>& bytes, int packet) { bytes[chunk_at(bytes, packet) + 1] = '1'; }

// Chunks `packet` and the one after it change places; the index stays.
void swap_chunks(std::vector<uint8_t>& bytes, int packet) {
  const size_t a = chunk_at(bytes, packet);
  const size_t b = chunk_at(bytes, packet + 1);
  const size_t end = b + 8 + chunk_size(bytes, b) + (chunk_size(bytes, b) & 1);
  std::rotate(bytes.begin() + static_cast<long>(a), bytes.begin() + static_cast<long>(b),
              bytes.begin() + static_cast<long>(end));
}

// Sets the frame counts of the main header and of the video stream's header.
void set_header_frames(std::vector<uint8_t>& bytes, uint32_t frames) {
  put32(bytes, tag_at(bytes, "avih") + 8 + 16, frames);
  put32(bytes, tag_at(bytes, "strh") + 8 + 32, frames);
}

// The video stream's header says it starts at `start` frames.
void set_stream_start(std::vector<uint8_t>& bytes, uint32_t start) { put32(bytes, tag_at(bytes, "strh") + 8 + 28, start); }

// Sets the sizes of the RIFF list and of the movi list, as a capture that
// never finished leaves them.
void set_list_sizes(std::vector<uint8_t>& bytes, uint32_t size) {
  put32(bytes, 4, size);
  put32(bytes, tag_at(bytes, "movi") - 4, size);
}

// The index's entries, 16 bytes each: chunk name, flags, offset, size.
size_t index_entry_at(const std::vector<uint8_t>& bytes, int entry) {
  return tag_at(bytes, "idx1") + 8 + 16 * static_cast<size_t>(entry);
}

int index_entries(const std::vector<uint8_t>& bytes) {
  return static_cast<int>(chunk_size(bytes, tag_at(bytes, "idx1")) / 16);
}

void flag_every_entry_key(std::vector<uint8_t>& bytes) {
  for (int e = 0; e < index_entries(bytes); ++e) bytes[index_entry_at(bytes, e) + 4] |= 0x10;
}

// The index entry `entry` takes the offset and size of entry `other`.
void point_entry_at(std::vector<uint8_t>& bytes, int entry, int other) {
  const size_t to = index_entry_at(bytes, entry);
  const size_t from = index_entry_at(bytes, other);
  std::copy_n(bytes.begin() + static_cast<long>(from) + 8, 8, bytes.begin() + static_cast<long>(to) + 8);
}

void drop_index_entry(std::vector<uint8_t>& bytes, int entry) {
  const size_t at = index_entry_at(bytes, entry);
  bytes.erase(bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(at) + 16);
  const size_t idx1 = tag_at(bytes, "idx1");
  put32(bytes, idx1 + 4, chunk_size(bytes, idx1) - 16);
  put32(bytes, 4, get32(bytes, 4) - 16);
}

void set_entry_size(std::vector<uint8_t>& bytes, int entry, uint32_t size) {
  put32(bytes, index_entry_at(bytes, entry) + 12, size);
}

// That chunk's data replaced with `data`, as a writer stored it: its size,
// the lists around it and the index (its entry's size, the offsets after it)
// say so.
void replace_chunk_data(std::vector<uint8_t>& bytes, int packet, const std::vector<uint8_t>& data) {
  const size_t at = chunk_at(bytes, packet);
  const uint32_t size = chunk_size(bytes, at);
  const size_t old_end = at + 8 + size + (size & 1);
  std::vector<uint8_t> chunk(data);
  if (chunk.size() % 2 != 0) chunk.push_back(0);
  bytes.erase(bytes.begin() + static_cast<long>(at + 8), bytes.begin() + static_cast<long>(old_end));
  bytes.insert(bytes.begin() + static_cast<long>(at + 8), chunk.begin(), chunk.end());
  put32(bytes, at + 4, static_cast<uint32_t>(data.size()));
  const int64_t delta = static_cast<int64_t>(at + 8 + chunk.size()) - static_cast<int64_t>(old_end);
  resize_lists(bytes, delta);
  // The index's offsets count from the movi list's name.
  const size_t movi = tag_at(bytes, "movi");
  for (int e = 0; e < index_entries(bytes); ++e) {
    const size_t entry = index_entry_at(bytes, e);
    const uint32_t offset = get32(bytes, entry + 8);
    if (movi + offset == at)
      put32(bytes, entry + 12, static_cast<uint32_t>(data.size()));
    else if (movi + offset > at)
      put32(bytes, entry + 8, static_cast<uint32_t>(offset + delta));
  }
}

// Every offset of the index moved by as much as puts its first entry at the
// audio chunk after the first picture.
void displace_index(std::vector<uint8_t>& bytes) {
  const size_t first = chunk_at(bytes, 0);
  const size_t audio = first + 8 + chunk_size(bytes, first) + (chunk_size(bytes, first) & 1);
  for (int e = 0; e < index_entries(bytes); ++e) {
    const size_t at = index_entry_at(bytes, e) + 8;
    put32(bytes, at, static_cast<uint32_t>(get32(bytes, at) + (audio - first)));
  }
}

// Every entry of the index grown by `delta` bytes, as an index left from
// before the chunks were written again gives them.
void grow_index_sizes(std::vector<uint8_t>& bytes, uint32_t delta) {
  for (int e = 0; e < index_entries(bytes); ++e) {
    const size_t at = index_entry_at(bytes, e) + 12;
    put32(bytes, at, get32(bytes, at) + delta);
  }
}

// Each odd size of the index counted with the chunk's pad byte.
void count_pad_bytes(std::vector<uint8_t>& bytes) {
  for (int e = 0; e < index_entries(bytes); ++e) {
    const size_t at = index_entry_at(bytes, e) + 12;
    put32(bytes, at, get32(bytes, at) + (get32(bytes, at) & 1));
  }
}

// The `n`-th audio chunk (counted from 0) renamed to the video stream's name.
void rename_audio_chunk(std::vector<uint8_t>& bytes, int n) {
  for (size_t at = tag_at(bytes, "movi") + 4; at + 8 <= bytes.size();) {
    if (bytes[at] == '0' && bytes[at + 1] == '1' && n-- == 0) {
      std::memcpy(&bytes[at], "00dc", 4);
      return;
    }
    at += 8 + chunk_size(bytes, at) + (chunk_size(bytes, at) & 1);
  }
}

// The video stream's OpenDML index, as a writer adds it to files larger than
// one RIFF list holds: a standard index ("ix00") at the end of the movi list,
// giving each chunk's data offset from the list's name and its size (the top
// bit set on a chunk that is no key), and a super index ("indx") naming it,
// in place of the padding the writer left for it in the stream's header list.
void add_opendml_index(std::vector<uint8_t>& bytes) {
  const size_t movi = tag_at(bytes, "movi");
  const size_t idx1 = tag_at(bytes, "idx1");
  std::vector<uint32_t> entries;  // offset, size
  for (size_t at = movi + 4; at < idx1; at += 8 + chunk_size(bytes, at) + (chunk_size(bytes, at) & 1)) {
    if (bytes[at] != '0' || bytes[at + 1] != '0') continue;
    bool key = false;
    for (int e = 0; e < index_entries(bytes); ++e)
      if (get32(bytes, index_entry_at(bytes, e) + 8) == at - movi) key = (bytes[index_entry_at(bytes, e) + 4] & 0x10) != 0;
    entries.push_back(static_cast<uint32_t>(at + 8 - movi));
    entries.push_back(chunk_size(bytes, at) | (key ? 0 : 0x80000000u));
  }
  const uint32_t count = static_cast<uint32_t>(entries.size() / 2);
  std::vector<uint8_t> ix(32 + 4 * entries.size());
  std::memcpy(&ix[0], "ix00", 4);
  put32(ix, 4, static_cast<uint32_t>(ix.size() - 8));
  put32(ix, 8, 2 | 1u << 24);  // two words an entry; an index of chunks
  put32(ix, 12, count);
  std::memcpy(&ix[16], "00dc", 4);
  put32(ix, 20, static_cast<uint32_t>(movi));
  for (size_t i = 0; i < entries.size(); ++i) put32(ix, 32 + 4 * i, entries[i]);
  bytes.insert(bytes.begin() + static_cast<long>(idx1), ix.begin(), ix.end());
  resize_lists(bytes, static_cast<int64_t>(ix.size()));
  const size_t indx = tag_at(bytes, "JUNK");
  std::memcpy(&bytes[indx], "indx", 4);
  put32(bytes, indx + 8, 4);  // four words an entry; an index of indexes
  put32(bytes, indx + 12, 1);
  std::memcpy(&bytes[indx + 16], "00dc", 4);
  put32(bytes, indx + 32, static_cast<uint32_t>(idx1));
  put32(bytes, indx + 40, static_cast<uint32_t>(ix.size()));
  put32(bytes, indx + 44, count);
}

// Index entries `a` and `b` exchange their bytes from..to (0..4: the chunk
// names, so the streams; 8..16: offsets and sizes, so the chunks they name,
// the entries still tiling the list).
void swap_entry_bytes(std::vector<uint8_t>& bytes, int a, int b, size_t from, size_t to) {
  for (size_t i = from; i < to; ++i) std::swap(bytes[index_entry_at(bytes, a) + i], bytes[index_entry_at(bytes, b) + i]);
}

// The size the OpenDML index gives chunk `packet`, its key flag kept.
void set_opendml_entry_size(std::vector<uint8_t>& bytes, int packet, uint32_t size) {
  const size_t at = tag_at(bytes, "ix00") + 32 + 8 * static_cast<size_t>(packet) + 4;
  put32(bytes, at, size | (get32(bytes, at) & 0x80000000u));
}

// That chunk and the audio chunk after it change places; the index stays.
void swap_with_audio(std::vector<uint8_t>& bytes, int packet) {
  const size_t at = chunk_at(bytes, packet);
  const size_t audio = at + 8 + chunk_size(bytes, at) + (chunk_size(bytes, at) & 1);
  const size_t end = audio + 8 + chunk_size(bytes, audio) + (chunk_size(bytes, audio) & 1);
  std::rotate(bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(audio),
              bytes.begin() + static_cast<long>(end));
}

// That chunk's name says the audio stream's, "01wb"; its entry stays.
void relabel_as_audio(std::vector<uint8_t>& bytes, int packet) { std::memcpy(&bytes[chunk_at(bytes, packet)], "01wb", 4); }

// The index entry `entry` points into the middle of the audio chunk after
// the chunk it names, its size kept.
void point_entry_into_audio(std::vector<uint8_t>& bytes, int entry) {
  const size_t at = index_entry_at(bytes, entry) + 8;
  const size_t movi = tag_at(bytes, "movi");
  const size_t chunk = movi + get32(bytes, at);
  const size_t audio = chunk + 8 + chunk_size(bytes, chunk) + (chunk_size(bytes, chunk) & 1);
  put32(bytes, at, static_cast<uint32_t>(audio + 8 + chunk_size(bytes, audio) / 2 - movi));
}

// The file without its index, and that chunk's size set to `size`.
void unindexed_chunk_size(std::vector<uint8_t>& bytes, int packet, uint32_t size) {
  bytes.resize(tag_at(bytes, "idx1"));
  put32(bytes, chunk_at(bytes, packet) + 4, size);
}

// A palette change ("00pc") stored before that chunk, with its index entry:
// the eight colours of the palette in reverse order from there on, each
// chunk's indexes from there on turned round to match. A second change
// turns them back.
void change_palette(std::vector<uint8_t>& bytes, int packet, bool reversed) {
  const size_t movi = tag_at(bytes, "movi");
  const size_t at = chunk_at(bytes, packet);
  for (size_t c = at; c < tag_at(bytes, "idx1"); c += 8 + chunk_size(bytes, c) + (chunk_size(bytes, c) & 1))
    for (size_t i = c + 8; i < c + 8 + chunk_size(bytes, c); ++i)
      if (bytes[i] < 8) bytes[i] = static_cast<uint8_t>(7 - bytes[i]);
  std::vector<uint8_t> change = {'0', '0', 'p', 'c', 36, 0, 0, 0, 0, 8, 0, 0};
  for (int i = 0; i < 8; ++i) {
    const uint32_t colour = test_movie_top(reversed ? 7 - i : i);
    change.insert(change.end(), {static_cast<uint8_t>(colour >> 16), static_cast<uint8_t>(colour >> 8),
                                 static_cast<uint8_t>(colour), 0});
  }
  int entry = 0;
  while (get32(bytes, index_entry_at(bytes, entry) + 8) != at - movi) ++entry;
  for (int e = entry; e < index_entries(bytes); ++e)
    put32(bytes, index_entry_at(bytes, e) + 8, get32(bytes, index_entry_at(bytes, e) + 8) + 44);
  std::vector<uint8_t> record = {'0', '0', 'p', 'c', 0, 1, 0, 0};
  record.resize(16);
  put32(record, 8, static_cast<uint32_t>(at - movi));
  put32(record, 12, 36);
  bytes.insert(bytes.begin() + static_cast<long>(index_entry_at(bytes, entry)), record.begin(), record.end());
  const size_t idx1 = tag_at(bytes, "idx1");
  put32(bytes, idx1 + 4, chunk_size(bytes, idx1) + 16);
  put32(bytes, 4, get32(bytes, 4) + 16);
  bytes.insert(bytes.begin() + static_cast<long>(at), change.begin(), change.end());
  resize_lists(bytes, 44);
}

// Every H.264 SEI message turned into filler data, which decoders step
// over: the I-frames of an open-GOP stream are then no recovery points.
void hide_recovery_points(std::vector<uint8_t>& bytes) {
  const size_t end = tag_at(bytes, "idx1");
  for (size_t at = tag_at(bytes, "movi"); at + 4 < end; ++at)
    if (bytes[at] == 0 && bytes[at + 1] == 0 && bytes[at + 2] == 1 && (bytes[at + 3] & 0x1F) == 6) bytes[at + 3] = 12;
}

// Replaces that chunk's picture with a not-coded one, which encoders write
// for a frame that repeats the one before: a header of the picture's own
// type (its time increment four bits long, as at 10 frames a second) with
// the coded flag clear, then stuffing. The chunk begins with the picture.
void uncode_packet(std::vector<uint8_t>& bytes, int packet) {
  const size_t at = chunk_at(bytes, packet);
  const uint32_t size = chunk_size(bytes, at);
  const uint8_t vop[] = {0, 0, 1, 0xB6, static_cast<uint8_t>((bytes[at + 12] & 0xC0) | 0x15), 0x9F};
  for (uint32_t i = 0; i < size; ++i) bytes[at + 8 + i] = i < sizeof vop ? vop[i] : 0xFF;
}

// Drops the control parameters (chroma format, low delay, no buffer model)
// from every MPEG-4 video object layer header, as old writers left them out
// of streams that hold B-frames; the decoder then guesses no B-frames until
// it meets one. The header keeps its length: four more stuffing bits end it.
void drop_vol_control(std::vector<uint8_t>& bytes) {
  for (size_t at = 0; at + 8 < bytes.size(); ++at) {
    if (bytes[at] != 0 || bytes[at + 1] != 0 || bytes[at + 2] != 1 || (bytes[at + 3] & 0xF0) != 0x20) continue;
    size_t end = at + 4;
    while (end + 3 < bytes.size() && !(bytes[end] == 0 && bytes[end + 1] == 0 && bytes[end + 2] == 1)) ++end;
    std::vector<int> bits;
    for (size_t i = (at + 4) * 8; i < end * 8; ++i) bits.push_back(bytes[i / 8] >> (7 - i % 8) & 1);
    size_t pos = 0;
    const auto skip = [&](size_t n) {
      size_t v = 0;
      for (size_t i = 0; i < n; ++i) v = v << 1 | static_cast<size_t>(bits[pos++]);
      return v;
    };
    skip(9);                    // random access, object type
    if (skip(1) != 0) skip(7);  // layer verid and priority
    if (skip(4) == 15) skip(16);
    if (bits[pos] == 0) continue;
    bits[pos] = 0;
    bits.erase(bits.begin() + static_cast<long>(pos) + 1, bits.begin() + static_cast<long>(pos) + 5);
    bits.insert(bits.end(), 4, 1);
    for (size_t i = 0; i < bits.size(); ++i) {
      uint8_t& byte = bytes[at + 4 + i / 8];
      byte = static_cast<uint8_t>(bits[i] != 0 ? byte | 0x80 >> i % 8 : byte & ~(0x80 >> i % 8));
    }
  }
}


// That chunk holds only its first `kept` bytes, as a writer stored them (its
// size and the index say so).
void keep_chunk_data(std::vector<uint8_t>& bytes, int packet, size_t kept) {
  const size_t data = chunk_at(bytes, packet) + 8;
  replace_chunk_data(bytes, packet, std::vector<uint8_t>(bytes.begin() + static_cast<long>(data),
                                                         bytes.begin() + static_cast<long>(data + kept)));
}

// That chunk holds the JPEG only up to the middle of its coded data.
void cut_jpeg_scan(std::vector<uint8_t>& bytes, int packet) {
  uint32_t size = 0;
  const size_t at = jpeg_scan_at(bytes, packet, &size) + size / 2;
  keep_chunk_data(bytes, packet, at - chunk_at(bytes, packet) - 8);
}

// The file ends in the middle of that JPEG's coded data.
void cut_file_in_jpeg_scan(std::vector<uint8_t>& bytes, int packet) {
  uint32_t size = 0;
  bytes.resize(jpeg_scan_at(bytes, packet, &size) + size / 2);
}

// The marker of that JPEG's scan (FF DA) zeroed: the picture holds its
// headers and no scan.
void zero_jpeg_scan_marker(std::vector<uint8_t>& bytes, int packet) {
  uint32_t size = 0;
  const size_t scan = jpeg_scan_at(bytes, packet, &size);
  size_t at = scan;
  while (!(bytes[at] == 0xFF && bytes[at + 1] == 0xDA)) --at;
  bytes[at] = bytes[at + 1] = 0;
}

std::vector<int> range(int first, int last) {
  std::vector<int> r;
  for (int n = first; n <= last; ++n) r.push_back(n);
  return r;
}

// first..last without `out`.
std::vector<int> range_without(int first, int last, int out) {
  std::vector<int> r = range(first, last);
  r.erase(std::remove(r.begin(), r.end(), out), r.end());
  return r;
}

using Bytes = std::vector<uint8_t>;

struct Case {
  const char* name;
  TestMovieCodec codec;
  int width, height;
  int frames;
  int tolerance;
  TestMovieShape shape = {};
  std::function<void(Bytes&)> alter = {};  // what is done to the file's bytes before it is read
  std::vector<int> lost = {};               // positions that may give nothing; any other must give its frame
  std::vector<int> nothing = {};            // positions that must give nothing
  bool all_orders = true;                   // every position in order, backwards and scattered
  std::vector<int> reads = {};              // then these
  int repeats = -1;                         // a position that shows the frame before it (a picture not coded)
  // Positions whose damage nothing in a numbered movie tells (a codec with
  // no checksums): nothing, or a picture made from the damage as the decoder
  // makes it, never another frame: its number, where it still reads, is its
  // own.
  std::vector<int> spoiled = {};
};

// Whether the pixels are those of the frame shown at position n, every one
// but the two rows where the halves meet, which scaling blurs, and those at
// the edges of the digits of a numbered frame, whose number must read right.
bool shows_frame(const Case& c, const uint32_t* px, int n, int* worst) {
  const int shown = n == c.repeats ? n - 1 : test_movie_shown(c.shape, n);
  *worst = 0;
  if (c.shape.numbered && test_movie_read_number(px, c.width) != shown) {
    *worst = 255;
    return false;
  }
  for (int y = 0; y < c.height; ++y)
    for (int x = 0; x < c.width; ++x) {
      if (c.height > 4 && (y == c.height / 2 - 1 || y == c.height / 2)) continue;
      if (c.shape.numbered && test_movie_near_digit_edge(x, y)) continue;
      const uint32_t want = test_movie_pixel(c.shape, shown, x, y, c.width, c.height);
      *worst = std::max(*worst, channel_distance(px[y * c.width + x], want));
    }
  return *worst <= c.tolerance && px[0] >> 24 == 0xFFu;
}

void read_movie(const Case& c) {
  const std::string path = test_movie_path("read.avi");
  ASSERT_TRUE(write_test_movie(path, c.codec, c.width, c.height, c.frames, 10, c.shape));
  Bytes bytes = c.alter ? read_test_file(path) : Bytes{};
  if (c.alter) c.alter(bytes);
  std::string error;
  MovieFile* f = c.alter ? movie_file_open_memory(bytes.data(), bytes.size(), &error) : movie_file_open(path, &error);
  std::remove(path.c_str());
  ASSERT_NE(f, nullptr) << error;
  const MovieStreamInfo info = movie_file_info(f);
  EXPECT_EQ(info.frame_count, static_cast<uint32_t>(c.frames));
  EXPECT_EQ(info.rate / info.scale, 10u);
  EXPECT_EQ(info.width, c.width);
  EXPECT_EQ(info.height, c.height);
  // In order, backwards, then scattered (steps of 7 wrap round every frame).
  std::vector<int> reads;
  if (c.all_orders) {
    for (int n = 0; n < c.frames; ++n) reads.push_back(n);
    for (int n = c.frames - 1; n >= 0; --n) reads.push_back(n);
    for (int i = 0; i < c.frames; ++i) reads.push_back((i * 7 + 3) % c.frames);
  }
  reads.insert(reads.end(), c.reads.begin(), c.reads.end());
  const auto in = [](const std::vector<int>& list, int n) { return std::find(list.begin(), list.end(), n) != list.end(); };
  for (int n : reads) {
    const uint32_t* px = movie_file_frame(f, static_cast<uint32_t>(n));
    if (in(c.nothing, n)) {
      EXPECT_EQ(px, nullptr) << "frame " << n << " is made from damaged data";
      continue;
    }
    if (px == nullptr && (in(c.lost, n) || in(c.spoiled, n))) continue;
    if (in(c.spoiled, n)) {
      const int number = test_movie_read_number(px, c.width);
      EXPECT_TRUE(number < 0 || number == n) << "frame " << n << " shows frame " << number;
      continue;
    }
    EXPECT_NE(px, nullptr) << "frame " << n;
    int worst = 0;
    if (px != nullptr) {
      EXPECT_TRUE(shows_frame(c, px, n, &worst))
          << "frame " << n << " is off by " << worst
          << (c.shape.numbered ? " and reads " + std::to_string(test_movie_read_number(px, c.width)) : "");
    }
  }
  EXPECT_EQ(movie_file_frame(f, static_cast<uint32_t>(c.frames)), nullptr);
  movie_file_close(f);
}

TEST(MovieFile, ReadsFramesInAnyOrder) {
  // Reordering codecs store frames out of display order; each read must still
  // give the frame asked for, the last ones included, whole. An empty chunk
  // shows the frame before it; where data is lost or damaged, or a picture is
  // made from damaged data, a read gives nothing, never another frame.
  const TestMovieShape open_gop{12, true};
  const TestMovieShape gap{12, false, 10, 5};
  const TestMovieShape refresh{.key_interval = 30, .intra_refresh = true, .moving = true};
  const TestMovieShape resized{.key_interval = 12, .resize_at = 30};
  const TestMovieShape packed{.key_interval = 12, .packed = true};
  const TestMovieShape packed_empty{.key_interval = 12, .packed = true, .packed_empty = true};
  const TestMovieShape packed_marked{.key_interval = 12, .packed = true, .packed_marker = true};
  const TestMovieShape still_top{.key_interval = 12, .still_top = true};
  // Audio chunks the size of a raw 16 x 16 frame's.
  const TestMovieShape with_audio{.key_interval = 12, .audio = 768};
  // Each frame's number burnt in.
  const TestMovieShape numbered{.key_interval = 12, .numbered = true};
  const TestMovieShape numbered_24{.key_interval = 24, .numbered = true};
  const TestMovieShape numbered_open_gop{.key_interval = 12, .open_gop = true, .numbered = true};
  const TestMovieShape numbered_audio{.key_interval = 12, .audio = 768, .numbered = true};
  const Case cases[] = {
      {"raw", TestMovieCodec::Raw, 8, 6, 5, 0},
      {"raw_odd_width", TestMovieCodec::Raw, 6, 4, 5, 0},
      {"yuv420_2_wide", TestMovieCodec::RawYuv420, 2, 4, 5, 12},
      {"yuv420_6_wide", TestMovieCodec::RawYuv420, 6, 4, 5, 12},
      {"yuv420_14_wide", TestMovieCodec::RawYuv420, 14, 8, 5, 12},
      // The palette lies in the stream's header, before the mark by which
      // the demuxer says the picture is stored bottom-up.
      {"raw_pal8_bottom_up", TestMovieCodec::RawPal8Bottom, 16, 16, 5, 0},
      // The palette changed before frame 3 and changed back before frame 6.
      {.name = "raw_pal8_palette_changes", .codec = TestMovieCodec::RawPal8Bottom, .width = 16, .height = 16,
       .frames = 8, .tolerance = 0, .alter = [](Bytes& b) { change_palette(b, 3, true), change_palette(b, 6, false); }},
      {"mjpeg", TestMovieCodec::Mjpeg, 16, 16, 5, 12},
      {"mpeg4_b_frames", TestMovieCodec::Mpeg4BFrames, 16, 16, 30, 12},
      // The last frame is a key frame stored before the last two B-frames,
      // or before the last one.
      {"mpeg4_two_b_frames_after_the_last_key", TestMovieCodec::Mpeg4BFrames, 16, 16, 13, 12},
      {"mpeg4_one_b_frame_after_the_last_key", TestMovieCodec::Mpeg4BFrames, 16, 16, 24, 12},
      {"h264_b_frames", TestMovieCodec::H264BFrames, 16, 16, 30, 12},
      // The B-frames stored after each key frame are shown before it, and a
      // seek to that key cannot make them.
      {"h264_open_gop", TestMovieCodec::H264BFrames, 16, 16, 13, 12, open_gop},
      {.name = "h264_open_gop_last_after_first", .codec = TestMovieCodec::H264BFrames, .width = 16, .height = 16,
       .frames = 100, .tolerance = 12, .shape = open_gop, .reads = {0, 99, 0, 98}},
      // Five empty chunks after frame 9.
      {"mjpeg_gap", TestMovieCodec::Mjpeg, 16, 16, 30, 12, gap},
      {"mpeg4_gap", TestMovieCodec::Mpeg4, 16, 16, 30, 12, gap},
      // Cut inside the last packet, a B-frame, which loses the index: the
      // damaged B-frame gives nothing, yet still puts the P-frame stored
      // before it and shown after it in its place.
      {.name = "h264_cut", .codec = TestMovieCodec::H264BFrames, .width = 16, .height = 16, .frames = 36,
       .tolerance = 12, .alter = [](Bytes& b) { cut_in_packet(b, 35); }, .lost = {34}},
      // Cut inside the index after the last picture: the pictures are all
      // there, the index holds only some.
      {.name = "mpeg4_b_frames_index_cut", .codec = TestMovieCodec::Mpeg4BFrames, .width = 16, .height = 16,
       .frames = 30, .tolerance = 12, .alter = [](Bytes& b) { cut_in_packet(b, 30); }},
      // Cut inside the B-frame shown first after the last key frame, with the
      // one after it missing: where the key frame belongs cannot be known.
      {.name = "mpeg4_b_frames_cut", .codec = TestMovieCodec::Mpeg4BFrames, .width = 16, .height = 16,
       .frames = 37, .tolerance = 12, .alter = [](Bytes& b) { cut_in_packet(b, 35); }, .lost = {34, 35, 36}},
      // Cut right after the start code of a B-frame: what is left is no key
      // frame, and with the B-frame after it lost, where the P-frame stored
      // before them belongs cannot be known.
      {.name = "mpeg4_b_frames_cut_to_start_code", .codec = TestMovieCodec::Mpeg4BFrames, .width = 16,
       .height = 16, .frames = 17, .tolerance = 12, .alter = [](Bytes& b) { cut_in_packet(b, 14, 4); },
       .lost = {13, 14, 15, 16}},
      // A damaged P-frame, after which its group's frames cannot be placed:
      // the next group's are placed by decoding through it.
      {.name = "h264_damaged", .codec = TestMovieCodec::H264BFrames, .width = 16, .height = 16, .frames = 30,
       .tolerance = 12, .alter = [](Bytes& b) { damage_packet(b, 10); }, .lost = {8, 9, 10, 11}},
      // Bytes damaged inside one P-frame, the last before a key frame: the
      // decoder conceals what it could not read, and that frame is not shown.
      {.name = "mpeg4_concealed", .codec = TestMovieCodec::Mpeg4, .width = 16, .height = 16, .frames = 30,
       .tolerance = 12, .alter = [](Bytes& b) { flip_bytes(b, 23); }, .nothing = {23}},
      // Damage in the first picture, in a P-frame and in a key frame: the
      // frames made from it give nothing up to the next key frame.
      {.name = "mpeg4_first_picture_damaged", .codec = TestMovieCodec::Mpeg4, .width = 16, .height = 16,
       .frames = 36, .tolerance = 12, .alter = [](Bytes& b) { flip_bytes(b, 0); }, .nothing = range(0, 11)},
      {.name = "mpeg4_p_frame_damaged", .codec = TestMovieCodec::Mpeg4, .width = 16, .height = 16, .frames = 36,
       .tolerance = 12, .alter = [](Bytes& b) { flip_bytes(b, 20); }, .nothing = range(20, 23)},
      {.name = "mpeg4_key_damaged", .codec = TestMovieCodec::Mpeg4, .width = 16, .height = 16, .frames = 48,
       .tolerance = 12, .alter = [](Bytes& b) { flip_bytes(b, 24); }, .nothing = range(24, 35)},
      {.name = "h264_p_frame_zeroed", .codec = TestMovieCodec::H264, .width = 32, .height = 32, .frames = 36,
       .tolerance = 12, .alter = [](Bytes& b) { zero_bytes(b, 20); }, .nothing = range(20, 23)},
      // The header leaves the decoder to guess that no frame is reordered,
      // until the first B-frame.
      {.name = "mpeg4_b_frames_unstated_delay", .codec = TestMovieCodec::Mpeg4BFrames, .width = 16, .height = 16,
       .frames = 30, .tolerance = 12, .alter = drop_vol_control},
      {.name = "mpeg4_not_coded", .codec = TestMovieCodec::Mpeg4, .width = 16, .height = 16, .frames = 30,
       .tolerance = 12, .alter = [](Bytes& b) { uncode_packet(b, 5); }, .repeats = 5},
      // A B-frame stored sixth and shown fifth.
      {.name = "mpeg4_b_frames_not_coded", .codec = TestMovieCodec::Mpeg4BFrames, .width = 16, .height = 16,
       .frames = 30, .tolerance = 12, .alter = [](Bytes& b) { uncode_packet(b, 5); }, .repeats = 4},
      // A header that counts no frames, or a capture that never finished (no
      // frame count, list sizes 0 or unset), with or without its index: the
      // index or the packets tell how long the movie is.
      {.name = "mpeg4_b_frames_header_without_frames_or_index", .codec = TestMovieCodec::Mpeg4BFrames, .width = 16,
       .height = 16, .frames = 30, .tolerance = 12,
       .alter = [](Bytes& b) { set_header_frames(b, 0), b.resize(tag_at(b, "idx1")); }},
      {.name = "mpeg4_b_frames_list_sizes_zero", .codec = TestMovieCodec::Mpeg4BFrames, .width = 16, .height = 16,
       .frames = 30, .tolerance = 12, .alter = [](Bytes& b) { set_header_frames(b, 0), set_list_sizes(b, 0); }},
      {.name = "mpeg4_b_frames_list_sizes_unset_without_index", .codec = TestMovieCodec::Mpeg4BFrames, .width = 16,
       .height = 16, .frames = 30, .tolerance = 12, .alter = [](Bytes& b) {
         set_header_frames(b, 0), set_list_sizes(b, 0xFFFFFFFF), b.resize(tag_at(b, "idx1"));
       }},
      // The stream's header says it starts at frame 5: position 0 is still
      // its first picture.
      {.name = "mpeg4_stream_start", .codec = TestMovieCodec::Mpeg4, .width = 16, .height = 16, .frames = 30,
       .tolerance = 12, .alter = [](Bytes& b) { set_stream_start(b, 5); }},
      // Written without pad bytes.
      {.name = "mpeg4_b_frames_unpadded", .codec = TestMovieCodec::Mpeg4BFrames, .width = 16, .height = 16,
       .frames = 30, .tolerance = 12, .alter = drop_pad_bytes},
      // The last three positions are empty chunks: they show the last picture.
      {"mpeg4_b_frames_end_in_empty_chunks", TestMovieCodec::Mpeg4BFrames, 16, 16, 20, 12, {12, false, 17, 3}},
      // Every index entry flagged key, which the decoder makes of P- and
      // B-frames, and a decoder that calls every picture a key while it keeps
      // skipped blocks from the picture before.
      {.name = "mpeg4_all_keys", .codec = TestMovieCodec::Mpeg4, .width = 16, .height = 16, .frames = 30,
       .tolerance = 12, .alter = flag_every_entry_key},
      {.name = "mpeg4_b_frames_all_keys", .codec = TestMovieCodec::Mpeg4BFrames, .width = 16, .height = 16,
       .frames = 30, .tolerance = 12, .alter = flag_every_entry_key, .reads = {29, 0, 29}},
      {.name = "h264_all_keys", .codec = TestMovieCodec::H264BFrames, .width = 16, .height = 16, .frames = 30,
       .tolerance = 12, .alter = flag_every_entry_key},
      {.name = "msvideo1_all_keys", .codec = TestMovieCodec::MsVideo1, .width = 16, .height = 16, .frames = 30,
       .tolerance = 12, .shape = still_top, .alter = flag_every_entry_key},
      // A chunk cut short in a codec whose pictures do not say whether they
      // are intra ones: the damage ends at the next key proven by decoding it
      // alone, also when reading in order goes through it.
      {.name = "msvideo1_chunk_cut_short", .codec = TestMovieCodec::MsVideo1, .width = 16, .height = 16,
       .frames = 30, .tolerance = 12, .shape = still_top, .alter = [](Bytes& b) { cut_chunk_short(b, 5); },
       .nothing = {5}},
      // What the index says of the chunks, against the chunks: the key entry
      // of frame 24 points at the chunk of frame 36, another key, or of frame
      // 30, a P-frame; an entry is missing; an entry says a chunk is empty;
      // two chunks changed places; every offset is moved, the first onto an
      // audio chunk, so that each entry names an audio chunk of its
      // picture's size.
      {.name = "mpeg4_key_entry_at_another_key", .codec = TestMovieCodec::Mpeg4, .width = 16, .height = 16,
       .frames = 48, .tolerance = 12, .alter = [](Bytes& b) { point_entry_at(b, 24, 36); },
       .reads = {40, 32, 24, 47, 25}},
      {.name = "mpeg4_key_entry_at_a_p_frame", .codec = TestMovieCodec::Mpeg4, .width = 16, .height = 16,
       .frames = 48, .tolerance = 12, .alter = [](Bytes& b) { point_entry_at(b, 24, 30); },
       .reads = {40, 32, 24, 47, 25}},
      {.name = "mpeg4_index_missing_an_entry", .codec = TestMovieCodec::Mpeg4, .width = 16, .height = 16,
       .frames = 48, .tolerance = 12, .alter = [](Bytes& b) { drop_index_entry(b, 30); }},
      {.name = "mpeg4_index_entry_empty", .codec = TestMovieCodec::Mpeg4, .width = 16, .height = 16, .frames = 36,
       .tolerance = 12, .alter = [](Bytes& b) { set_entry_size(b, 20, 0); }},
      {.name = "mpeg4_chunks_swapped", .codec = TestMovieCodec::Mpeg4, .width = 16, .height = 16, .frames = 36,
       .tolerance = 12, .alter = [](Bytes& b) { swap_chunks(b, 20); }, .nothing = range(20, 23)},
      {.name = "raw_index_displaced", .codec = TestMovieCodec::Raw, .width = 16, .height = 16, .frames = 12,
       .tolerance = 0, .shape = with_audio, .alter = displace_index},
      // A chunk cut short, the index keeping the old offsets of the chunks
      // after it; cut across the next chunk's header, its size left as it
      // was; or renamed to another stream's: the damage stays where it is, in
      // every order of reads.
      {.name = "mpeg4_chunk_cut_short", .codec = TestMovieCodec::Mpeg4, .width = 16, .height = 16, .frames = 48,
       .tolerance = 12, .alter = [](Bytes& b) { cut_chunk_short(b, 20); }, .nothing = range(20, 23)},
      {.name = "mpeg4_chunk_cut_across_the_next", .codec = TestMovieCodec::Mpeg4, .width = 16, .height = 16,
       .frames = 48, .tolerance = 12, .alter = [](Bytes& b) { cut_across(b, 20); }, .nothing = range(20, 23)},
      // Cut from the middle of B2's chunk to the middle of P6's, stored I0
      // P3 B1 B2 P6 B4 B5 P9 B7 B8 I12 B10 B11: the index shows P6 lost, and
      // what refers to it gives nothing, its own position too.
      {.name = "mpeg4_b_frames_cut_across_a_p_frame", .codec = TestMovieCodec::Mpeg4BFrames, .width = 160,
       .height = 64, .frames = 24, .tolerance = 32, .shape = numbered, .alter = [](Bytes& b) { cut_across(b, 3); },
       .nothing = {2, 4, 5, 6, 7, 8, 9, 10, 11}},
      {.name = "mpeg4_chunk_renamed", .codec = TestMovieCodec::Mpeg4, .width = 16, .height = 16, .frames = 48,
       .tolerance = 12, .alter = [](Bytes& b) { rename_chunk(b, 20); }},
      // An OpenDML index beside an idx1 whose sizes are stale: the index of
      // the stream's own is believed.
      {.name = "mpeg4_b_frames_stale_idx1_beside_opendml", .codec = TestMovieCodec::Mpeg4BFrames, .width = 16,
       .height = 16, .frames = 36, .tolerance = 12,
       .alter = [](Bytes& b) { add_opendml_index(b), grow_index_sizes(b, 2); }},
      {.name = "h264_b_frames_stale_idx1_beside_opendml", .codec = TestMovieCodec::H264BFrames, .width = 16,
       .height = 16, .frames = 36, .tolerance = 12,
       .alter = [](Bytes& b) { add_opendml_index(b), grow_index_sizes(b, 2); }},
      // An audio chunk renamed to the video stream's name, which the index
      // gives to the audio stream with its size: it is no position.
      {.name = "mpeg4_audio_chunk_renamed_to_video", .codec = TestMovieCodec::Mpeg4, .width = 16, .height = 16,
       .frames = 60, .tolerance = 12, .shape = with_audio, .alter = [](Bytes& b) { rename_audio_chunk(b, 25); }},
      // An index whose sizes count each odd chunk's pad byte.
      {.name = "mpeg4_index_counts_pad_bytes", .codec = TestMovieCodec::Mpeg4, .width = 16, .height = 16,
       .frames = 36, .tolerance = 12, .alter = count_pad_bytes},
      {.name = "h264_b_frames_index_counts_pad_bytes", .codec = TestMovieCodec::H264BFrames, .width = 16,
       .height = 16, .frames = 36, .tolerance = 12, .alter = count_pad_bytes},
      // Key frames that refresh the picture a band at a time: a decode begun
      // at one makes half-made frames.
      {"h264_intra_refresh", TestMovieCodec::H264, 128, 32, 75, 12, refresh},
      {"h264_b_frames_intra_refresh", TestMovieCodec::H264BFrames, 128, 32, 75, 12, refresh},
      // Two clips joined, the second twice the size: the decoder drops the
      // frame it holds back when the size changes, unless it is drained
      // before.
      {"mpeg4_b_frames_size_change", TestMovieCodec::Mpeg4BFrames, 16, 16, 40, 12, resized},
      // B-frames packed as packing writers store them, with a placeholder
      // picture or an empty chunk after each group, and nothing that says the
      // stream is packed; then with the marker, which the decoder follows
      // itself.
      {"mpeg4_b_frames_packed", TestMovieCodec::Mpeg4BFrames, 16, 16, 30, 12, packed},
      {"mpeg4_b_frames_packed_empty", TestMovieCodec::Mpeg4BFrames, 16, 16, 30, 12, packed_empty},
      {"mpeg4_b_frames_packed_marked", TestMovieCodec::Mpeg4BFrames, 16, 16, 30, 12, packed_marked},
      // One key frame: far frames are reached by decoding on from it.
      {.name = "h264_one_key", .codec = TestMovieCodec::H264BFrames, .width = 16, .height = 16, .frames = 5000,
       .tolerance = 12, .shape = {5000}, .all_orders = false, .reads = {4200, 4999, 0, 4999}},
      // Pictures the decoder refuses or never gives out keep their places,
      // and so does every other frame. Three B-frames between reference
      // pictures, the middle one a reference for the other two (P4 B2 b1
      // b3), stored I0 P4 B2 b1 b3 P8 B6 b5 b7 P12 B10 b9 b11 ...: the slice
      // header of b7, which no picture refers to, zeroed after its order
      // fields, so its place is still read; then zeroed whole, where b7 may
      // have been shown on either side of B6 and of P8 for all the stream
      // says; and the header of P12 damaged after its order fields, while
      // the frames of b7 and P8, stored before it, are still inside the
      // decoder.
      {.name = "h264_pyramid_unreferenced_b_frame_zeroed", .codec = TestMovieCodec::H264Pyramid, .width = 160,
       .height = 64, .frames = 48, .tolerance = 12, .shape = numbered_24,
       .alter = [](Bytes& b) { zero_bytes_at(b, 8, 4); }, .nothing = {7}},
      {.name = "h264_pyramid_unreferenced_b_frame_header_zeroed", .codec = TestMovieCodec::H264Pyramid, .width = 160,
       .height = 64, .frames = 48, .tolerance = 12, .shape = numbered_24,
       .alter = [](Bytes& b) { zero_bytes_at(b, 8, 0); }, .lost = {6, 8}, .nothing = {7}},
      {.name = "h264_pyramid_p_frame_flipped", .codec = TestMovieCodec::H264Pyramid, .width = 160, .height = 64,
       .frames = 48, .tolerance = 12, .shape = numbered_24, .alter = [](Bytes& b) { flip_bytes_at(b, 9, 8); },
       .nothing = range(9, 23)},
      // Damage at the start of a slice header that still reads whole, with
      // an order count that is not the picture's: in P8, whose frame the
      // decoder then never gives out, and in B2, whose frame it gives out
      // first. Where the frames around them are shown cannot be told.
      {.name = "h264_pyramid_p_frame_header_garbled", .codec = TestMovieCodec::H264Pyramid, .width = 160,
       .height = 64, .frames = 48, .tolerance = 12, .shape = numbered_24,
       .alter = [](Bytes& b) { flip_bytes_at(b, 5, 0); }, .lost = {3, 4}, .nothing = range(5, 23)},
      {.name = "h264_pyramid_b_frame_header_garbled", .codec = TestMovieCodec::H264Pyramid, .width = 160,
       .height = 64, .frames = 48, .tolerance = 12, .shape = numbered_24,
       .alter = [](Bytes& b) { flip_bytes_at(b, 2, 1); }, .lost = {0, 4}, .nothing = range_without(1, 23, 4)},
      // A key frame followed by a chunk of zeros, or of one byte, which the
      // decoder refuses: the key frame shows; what follows, predicted from
      // what that chunk held, does not up to the next key frame. A file of
      // a key frame and one such chunk opens.
      {.name = "mpeg4_key_then_zeros", .codec = TestMovieCodec::Mpeg4, .width = 160, .height = 64, .frames = 36,
       .tolerance = 12, .shape = numbered, .alter = [](Bytes& b) { replace_chunk_data(b, 13, Bytes(900, 0)); },
       .nothing = range(13, 23)},
      {.name = "mpeg4_key_then_one_byte", .codec = TestMovieCodec::Mpeg4, .width = 160, .height = 64, .frames = 36,
       .tolerance = 12, .shape = numbered, .alter = [](Bytes& b) { replace_chunk_data(b, 13, Bytes(1, 0)); },
       .nothing = range(13, 23)},
      {.name = "mpeg4_key_and_one_byte", .codec = TestMovieCodec::Mpeg4, .width = 160, .height = 64, .frames = 2,
       .tolerance = 12, .shape = numbered, .alter = [](Bytes& b) { replace_chunk_data(b, 1, Bytes(1, 0)); },
       .nothing = {1}},
      // Cut inside the header of chunk 40: the pictures sent before the cut
      // have their frames, those the decoder still holds at the end too.
      {.name = "mpeg4_cut_in_a_chunk_header", .codec = TestMovieCodec::Mpeg4, .width = 160, .height = 64,
       .frames = 48, .tolerance = 12, .shape = numbered, .alter = [](Bytes& b) { b.resize(chunk_at(b, 40) + 4); },
       .nothing = range(40, 47)},
      {.name = "h264_cut_in_a_chunk_header", .codec = TestMovieCodec::H264, .width = 160, .height = 64, .frames = 48,
       .tolerance = 12, .shape = numbered, .alter = [](Bytes& b) { b.resize(chunk_at(b, 40) + 4); },
       .nothing = range(40, 47)},
      // Damage in P9, stored I0 P3 B1 B2 P6 B4 B5 P9 B7 B8 I12 B10 B11 P15
      // B13 B14 P18: the B-frames stored right after I12 refer to P9 and
      // are not shown, but B13 and B14, stored between the I-frame's first
      // and second P-frames, refer to I12 and P15 only.
      // The same at the start of a picture's header, stored I0 P3 B1 B2 P6
      // B4 B5 P9 B7 B8 I12: in P6, whose coding type then reads B, and in
      // B4, whose type reads P.
      {.name = "mpeg4_b_frames_p_frame_header_garbled", .codec = TestMovieCodec::Mpeg4BFrames, .width = 160,
       .height = 64, .frames = 24, .tolerance = 32, .shape = numbered, .alter = [](Bytes& b) { flip_bytes_at(b, 4, 0); },
       .lost = {3}, .nothing = range(4, 11)},
      {.name = "mpeg4_b_frames_b_frame_header_garbled", .codec = TestMovieCodec::Mpeg4BFrames, .width = 160,
       .height = 64, .frames = 24, .tolerance = 32, .shape = numbered, .alter = [](Bytes& b) { flip_bytes_at(b, 5, 0); },
       .nothing = range(4, 11)},
      {.name = "mpeg4_b_frames_damage_ended_by_an_i_frame", .codec = TestMovieCodec::Mpeg4BFrames, .width = 160,
       .height = 64, .frames = 24, .tolerance = 32, .shape = numbered, .alter = [](Bytes& b) { flip_bytes(b, 7); },
       .nothing = range(7, 11)},
      // With MPEG-4 B-frames, stored I0 P3 B1 B2 ... I24 B22 B23 ... P39 B37
      // B38 P42: a key frame followed by a chunk whose start code is zeroed,
      // or by a chunk of zeros; the file cut inside the chunk after P39's.
      // The key frame, and P39, still show; what is made from the damage
      // does not.
      {.name = "mpeg4_b_frames_key_then_start_code_zeroed", .codec = TestMovieCodec::Mpeg4BFrames, .width = 160,
       .height = 64, .frames = 24, .tolerance = 32, .shape = numbered,
       .alter = [](Bytes& b) { std::fill_n(b.begin() + static_cast<long>(chunk_at(b, 1) + 8), 4, 0); },
       .nothing = range(1, 11)},
      {.name = "mpeg4_b_frames_key_then_zeros", .codec = TestMovieCodec::Mpeg4BFrames, .width = 160, .height = 64,
       .frames = 36, .tolerance = 32, .shape = numbered,
       .alter = [](Bytes& b) { replace_chunk_data(b, 23, Bytes(900, 0)); }, .nothing = {22}},
      {.name = "mpeg4_b_frames_cut_after_a_p_frame", .codec = TestMovieCodec::Mpeg4BFrames, .width = 160,
       .height = 64, .frames = 48, .tolerance = 32, .shape = numbered, .alter = [](Bytes& b) { cut_in_packet(b, 38); },
       .lost = {37, 38}, .nothing = range(40, 47)},
      // The same, cut inside the chunk after P45, whose group's B-frames B40
      // and B41 count their seconds from P39, before the second P42 begins.
      {.name = "mpeg4_b_frames_cut_after_a_second", .codec = TestMovieCodec::Mpeg4BFrames, .width = 160,
       .height = 64, .frames = 48, .tolerance = 32, .shape = numbered, .alter = [](Bytes& b) { cut_in_packet(b, 44); },
       .lost = {43, 44}, .nothing = {46, 47}},
      // An index that tiles the list and lies. An audio entry names the
      // chunk of frame 33, and frame 33's entry the audio chunk.
      {.name = "mpeg4_audio_entry_at_a_picture", .codec = TestMovieCodec::Mpeg4, .width = 148, .height = 64,
       .frames = 48, .tolerance = 12, .shape = numbered_audio,
       .alter = [](Bytes& b) { swap_entry_bytes(b, 66, 67, 8, 16); }},
      // The name of frame 30's chunk zeroed, its entry right: the position
      // shows its picture or nothing, and no position another frame.
      {.name = "mpeg4_chunk_name_zeroed", .codec = TestMovieCodec::Mpeg4, .width = 160, .height = 64, .frames = 48,
       .tolerance = 12, .shape = numbered,
       .alter = [](Bytes& b) { std::fill_n(b.begin() + static_cast<long>(chunk_at(b, 30)), 4, 0); },
       .lost = range(30, 35)},
      // The entries of frame 30 and of its audio chunk name each other's
      // stream; the audio entry's key flag comes with it.
      {.name = "h264_entry_streams_swapped", .codec = TestMovieCodec::H264, .width = 160, .height = 64, .frames = 48,
       .tolerance = 12, .shape = numbered_audio, .alter = [](Bytes& b) { swap_entry_bytes(b, 60, 61, 0, 8); }},
      // The same at the key frame 24, only the names swapped and the audio
      // entry flagged no key (as some writers flag audio): found as it is
      // read, the picture is a key after all, and the decode begins again.
      {.name = "h264_key_entry_streams_swapped", .codec = TestMovieCodec::H264, .width = 160, .height = 64,
       .frames = 48, .tolerance = 12, .shape = numbered_audio,
       .alter = [](Bytes& b) { b[index_entry_at(b, 49) + 4] = 0, swap_entry_bytes(b, 48, 49, 0, 4); }},
      {.name = "mpeg4_key_entry_streams_swapped", .codec = TestMovieCodec::Mpeg4, .width = 160, .height = 64,
       .frames = 48, .tolerance = 12, .shape = numbered_audio,
       .alter = [](Bytes& b) { b[index_entry_at(b, 49) + 4] = 0, swap_entry_bytes(b, 48, 49, 0, 4); }},
      // An entry's size 8 bytes short of its chunk's, whose header leads to
      // the next chunk's: in idx1, and in the OpenDML index.
      {.name = "mpeg4_entry_8_bytes_short", .codec = TestMovieCodec::Mpeg4, .width = 160, .height = 64, .frames = 48,
       .tolerance = 12, .shape = numbered,
       .alter = [](Bytes& b) { set_entry_size(b, 25, chunk_size(b, chunk_at(b, 25)) - 8); }},
      {.name = "mpeg4_opendml_entry_8_bytes_short", .codec = TestMovieCodec::Mpeg4, .width = 160, .height = 64,
       .frames = 48, .tolerance = 12, .shape = numbered, .alter = [](Bytes& b) {
         add_opendml_index(b), set_opendml_entry_size(b, 25, chunk_size(b, chunk_at(b, 25)) - 8);
       }},
      // The chunk of b7, a B-frame no picture refers to, holds no picture:
      // zeros, or bytes with no start code. The other pictures' order counts
      // place them.
      {.name = "h264_pyramid_unreferenced_b_frame_chunk_zeros", .codec = TestMovieCodec::H264Pyramid, .width = 160,
       .height = 64, .frames = 48, .tolerance = 12, .shape = numbered_24,
       .alter = [](Bytes& b) { replace_chunk_data(b, 8, Bytes(chunk_size(b, chunk_at(b, 8)), 0)); }, .nothing = {7}},
      {.name = "h264_pyramid_unreferenced_b_frame_chunk_other_bytes", .codec = TestMovieCodec::H264Pyramid,
       .width = 160, .height = 64, .frames = 48, .tolerance = 12, .shape = numbered_24,
       .alter = [](Bytes& b) { replace_chunk_data(b, 8, Bytes(chunk_size(b, chunk_at(b, 8)), 0x5A)); },
       .nothing = {7}},
      // Frame 30's chunk and the audio chunk after it changed places, the
      // index tiling as before: the lie is found as the picture is read, and
      // every position still reads its own frame.
      {.name = "mpeg4_chunk_behind_its_audio", .codec = TestMovieCodec::Mpeg4, .width = 160, .height = 64,
       .frames = 48, .tolerance = 12, .shape = numbered_audio, .alter = [](Bytes& b) { swap_with_audio(b, 30); }},
      {.name = "mpeg4_b_frames_chunk_behind_its_audio", .codec = TestMovieCodec::Mpeg4BFrames, .width = 160,
       .height = 64, .frames = 48, .tolerance = 32, .shape = numbered_audio,
       .alter = [](Bytes& b) { swap_with_audio(b, 30); }},
      {.name = "h264_b_frames_chunk_behind_its_audio", .codec = TestMovieCodec::H264BFrames, .width = 160,
       .height = 64, .frames = 48, .tolerance = 12, .shape = numbered_audio,
       .alter = [](Bytes& b) { swap_with_audio(b, 30); }},
      // An empty entry where the chunk holds a picture.
      {.name = "h264_b_frames_index_entry_empty", .codec = TestMovieCodec::H264BFrames, .width = 160, .height = 64,
       .frames = 36, .tolerance = 12, .shape = numbered, .alter = [](Bytes& b) { set_entry_size(b, 20, 0); }},
      // Damage in P21, stored ... P21 B19 B20 I24 B22 B23 P27, in a stream
      // whose I-frames after the first are neither IDR pictures nor recovery
      // points: each of them is whole itself, and the pictures after it may
      // refer to the damage before it.
      {.name = "h264_b_frames_damage_before_a_plain_i_frame", .codec = TestMovieCodec::H264BFrames, .width = 160,
       .height = 64, .frames = 48, .tolerance = 12, .shape = numbered_open_gop,
       .alter = [](Bytes& b) { hide_recovery_points(b), flip_bytes(b, 19); }, .lost = range_without(25, 47, 36),
       .nothing = range(19, 23)},
      // A key's entry pointing into the middle of the audio chunk after its
      // picture; a picture's chunk named for the audio stream, its entry
      // right: every position still reads its own frame.
      {.name = "h264_key_entry_into_audio", .codec = TestMovieCodec::H264, .width = 160, .height = 64, .frames = 48,
       .tolerance = 12, .shape = numbered_audio, .alter = [](Bytes& b) { point_entry_into_audio(b, 48); }},
      {.name = "mpeg4_chunk_named_for_audio", .codec = TestMovieCodec::Mpeg4, .width = 160, .height = 64,
       .frames = 48, .tolerance = 12, .shape = numbered_audio, .alter = [](Bytes& b) { relabel_as_audio(b, 30); }},
      {.name = "h264_chunk_named_for_audio", .codec = TestMovieCodec::H264, .width = 160, .height = 64,
       .frames = 48, .tolerance = 12, .shape = numbered_audio, .alter = [](Bytes& b) { relabel_as_audio(b, 30); }},
      // The same after a cut across frame 10's chunk and 11's, where the
      // entries' offsets no longer meet the chunks: the entries' sizes find
      // it among the other stream's chunks, and the cut costs its own group.
      {.name = "mpeg4_chunk_named_for_audio_after_a_cut", .codec = TestMovieCodec::Mpeg4, .width = 160,
       .height = 64, .frames = 48, .tolerance = 12, .shape = numbered_audio,
       .alter = [](Bytes& b) { relabel_as_audio(b, 30), cut_across(b, 10); }, .nothing = {10, 11}},
      // A file that begins with a picture predicted from one it lacks, as a
      // capture cut inside a group: its group gives nothing.
      {.name = "mpeg4_first_chunk_no_key", .codec = TestMovieCodec::Mpeg4, .width = 160, .height = 64, .frames = 36,
       .tolerance = 12, .shape = numbered,
       .alter = [](Bytes& b) {
         const size_t p = chunk_at(b, 1);
         replace_chunk_data(b, 0, Bytes(b.begin() + static_cast<long>(p) + 8,
                                        b.begin() + static_cast<long>(p + 8 + chunk_size(b, p))));
       },
       .nothing = range(0, 11)},
      // No index, and one chunk's size leading past the file's end: that
      // chunk's group is lost, and the scan finds the chunks after it.
      {.name = "mpeg4_unindexed_size_past_the_end", .codec = TestMovieCodec::Mpeg4, .width = 160, .height = 64,
       .frames = 48, .tolerance = 12, .shape = numbered,
       .alter = [](Bytes& b) { unindexed_chunk_size(b, 20, 0x7FFFFF00); }, .lost = range(20, 23)},
      // An entry larger than its chunk, whose header's size leads to the
      // next chunk's header: by 8 bytes, 48 MB, 1 GB, or by the audio chunk
      // after it.
      {.name = "mpeg4_entry_8_bytes_long", .codec = TestMovieCodec::Mpeg4, .width = 160, .height = 64, .frames = 48,
       .tolerance = 12, .shape = numbered,
       .alter = [](Bytes& b) { set_entry_size(b, 25, chunk_size(b, chunk_at(b, 25)) + 8); }},
      {.name = "mpeg4_entry_48_mb_long", .codec = TestMovieCodec::Mpeg4, .width = 160, .height = 64, .frames = 48,
       .tolerance = 12, .shape = numbered,
       .alter = [](Bytes& b) { set_entry_size(b, 25, chunk_size(b, chunk_at(b, 25)) + (48u << 20)); }},
      {.name = "mpeg4_entry_1_gb_long", .codec = TestMovieCodec::Mpeg4, .width = 160, .height = 64, .frames = 48,
       .tolerance = 12, .shape = numbered,
       .alter = [](Bytes& b) { set_entry_size(b, 25, chunk_size(b, chunk_at(b, 25)) + (1u << 30)); }},
      {.name = "mpeg4_entry_covers_its_audio", .codec = TestMovieCodec::Mpeg4, .width = 160, .height = 64,
       .frames = 48, .tolerance = 12, .shape = numbered_audio, .alter = [](Bytes& b) {
         const uint32_t size = chunk_size(b, chunk_at(b, 25));
         set_entry_size(b, 50, size + (size & 1) + 8 + 768);
       }},
      // Damage inside an intra picture, which its decoder conceals without a
      // word: in picture 10's coded data, JPEG bytes flipped or zeroed, or
      // the chunk ending in the middle of them; the file cut inside picture
      // 20's; the marker of picture 10's scan zeroed, which leaves the
      // decoder nothing to draw in the buffer it reuses, an earlier frame.
      // FFV1 without checksums, picture 10's chunk cut to its first quarter:
      // the decoder stops where the data does and gives out the rest of its
      // buffer as it was, and the contexts picture 11 goes on from are
      // damaged; with slice CRCs, bytes flipped in the first slice, which the
      // decoder fills from the picture before.
      {.name = "mjpeg_scan_flipped", .codec = TestMovieCodec::Mjpeg, .width = 160, .height = 64, .frames = 30,
       .tolerance = 12, .shape = numbered, .alter = [](Bytes& b) { flip_bytes(b, 10); }, .nothing = {10}},
      {.name = "mjpeg_scan_zeroed", .codec = TestMovieCodec::Mjpeg, .width = 160, .height = 64, .frames = 30,
       .tolerance = 12, .shape = numbered, .alter = [](Bytes& b) { zero_bytes(b, 10); }, .nothing = {10}},
      {.name = "mjpeg_scan_cut", .codec = TestMovieCodec::Mjpeg, .width = 160, .height = 64, .frames = 30,
       .tolerance = 12, .shape = numbered, .alter = [](Bytes& b) { cut_jpeg_scan(b, 10); }, .nothing = {10}},
      {.name = "mjpeg_file_cut_in_a_scan", .codec = TestMovieCodec::Mjpeg, .width = 160, .height = 64, .frames = 30,
       .tolerance = 12, .shape = numbered, .alter = [](Bytes& b) { cut_file_in_jpeg_scan(b, 20); },
       .nothing = range(20, 29)},
      {.name = "mjpeg_scan_marker_zeroed", .codec = TestMovieCodec::Mjpeg, .width = 160, .height = 64, .frames = 64,
       .tolerance = 12, .shape = numbered, .alter = [](Bytes& b) { zero_jpeg_scan_marker(b, 10); }, .nothing = {10}},
      {.name = "ffv1_cut_to_a_quarter", .codec = TestMovieCodec::Ffv1, .width = 160, .height = 64, .frames = 30,
       .tolerance = 12, .shape = numbered,
       .alter = [](Bytes& b) { keep_chunk_data(b, 10, chunk_size(b, chunk_at(b, 10)) / 4); }, .spoiled = {10, 11}},
      {.name = "ffv1_slice_crc_flipped", .codec = TestMovieCodec::Ffv1SliceCrc, .width = 160, .height = 64,
       .frames = 30, .tolerance = 12, .shape = numbered, .alter = [](Bytes& b) { flip_bytes_at(b, 10, 40); },
       .nothing = range(10, 11)},
      // Layouts of other writers, with audio: MJPEG as GStreamer's avimux
      // writes it; MPEG-4 with each chunk padded by a JUNK chunk to 2,048
      // bytes of the file, with each frame and its audio in a 'LIST rec ',
      // and with idx1's offsets counted from the first chunk.
      {"mjpeg_audio_avimux", TestMovieCodec::Mjpeg, 160, 64, 30, 12, {.audio = 768, .avimux = true, .numbered = true}},
      {"mpeg4_audio_padded_to_2048", TestMovieCodec::Mpeg4, 160, 64, 36, 12,
       {.audio = 768, .pad_to = 2048, .numbered = true}},
      {"mpeg4_audio_rec_lists", TestMovieCodec::Mpeg4, 160, 64, 36, 12,
       {.audio = 768, .rec_lists = true, .numbered = true}},
      {"mpeg4_audio_index_from_the_first_chunk", TestMovieCodec::Mpeg4, 160, 64, 36, 12,
       {.audio = 768, .index_shift = -4, .numbered = true}}};
  std::string missing;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (!test_movie_codec_available(c.codec)) {
      missing += std::string(" ") + c.name;
      continue;
    }
    read_movie(c);
  }
  if (!missing.empty()) GTEST_SKIP() << "no encoder for:" << missing;
}

// The most address space the process has held, in bytes: an allocation
// raises it whether or not its pages are touched.
size_t peak_address_space() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmPeak:", 0) == 0) return std::stoul(line.substr(7)) << 10;
  return 0;
}

TEST(MovieFile, RefusesWhatCannotBeRead) {
  const std::string path = test_movie_path("good.avi");
  ASSERT_TRUE(write_test_movie(path, TestMovieCodec::Raw, 8, 6, 4, 10));
  const std::vector<uint8_t> good = read_test_file(path);
  ASSERT_GT(good.size(), 300u);
  std::vector<uint8_t> garbage = good;
  for (size_t i = 12; i < garbage.size(); ++i) garbage[i] = static_cast<uint8_t>(i * 7);
  std::vector<uint8_t> frames_gone(good.begin(), good.begin() + static_cast<long>(good.size()) - 1200);
  const std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 0};
  // The padding in the stream's header list renamed to stream data that
  // claims four times the allocation cap, the lists around it as long.
  std::vector<uint8_t> over_cap = good;
  const uint32_t claim = static_cast<uint32_t>(kMovieMaxAlloc * 4);
  const size_t junk = tag_at(over_cap, "JUNK");
  std::memcpy(&over_cap[junk], "strd", 4);
  put32(over_cap, junk + 4, claim);
  put32(over_cap, tag_at(over_cap, "strl") - 4, claim + 64);
  put32(over_cap, tag_at(over_cap, "hdrl") - 4, claim + 128);
  // One MPEG-4 key frame, then a million chunks of one byte each and no
  // index: no chunk without a picture is a key, so it opens or is refused
  // at a small cost a chunk.
  const std::string key_path = test_movie_path("one_key.avi");
  ASSERT_TRUE(write_test_movie(key_path, TestMovieCodec::Mpeg4, 16, 16, 1, 10));
  std::vector<uint8_t> one_byte_chunks = read_test_file(key_path);
  std::remove(key_path.c_str());
  one_byte_chunks.resize(tag_at(one_byte_chunks, "idx1"));
  const size_t before = one_byte_chunks.size();
  for (int n = 0; n < 1000000; ++n) one_byte_chunks.insert(one_byte_chunks.end(), {'0', '0', 'd', 'c', 1, 0, 0, 0, 0, 0});
  resize_lists(one_byte_chunks, static_cast<int64_t>(one_byte_chunks.size() - before));
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
    bool first_only = false;  // it opens, its first frame shows and no position after it does
  } cases[] = {{"empty", {}},
               {"header only", std::vector<uint8_t>(good.begin(), good.begin() + 12)},
               {"truncated headers", std::vector<uint8_t>(good.begin(), good.begin() + 200)},
               {"frames cut off", frames_gone},
               {"garbage after the RIFF header", garbage},
               {"a picture", png},
               {"headers over the allocation cap", over_cap},
               {"a key and a million chunks of one byte", one_byte_chunks, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error;
    const size_t peak = peak_address_space();
    MovieFile* f = movie_file_open_memory(c.bytes.data(), c.bytes.size(), &error);
    EXPECT_LT(peak_address_space() - peak, 2 * kMovieMaxAlloc) << "memory taken";
    EXPECT_TRUE(f != nullptr || !c.first_only) << error;
    if (f != nullptr) {
      // What opens must still answer every index without crashing.
      for (uint32_t n = 0; n < 6; ++n) {
        const bool shown = movie_file_frame(f, n) != nullptr;
        EXPECT_TRUE(!c.first_only || shown == (n == 0)) << "frame " << n;
      }
      movie_file_close(f);
    } else {
      EXPECT_FALSE(error.empty());
    }
  }
  for (const auto& c : cases) {
    if (c.bytes.size() > 200) continue;
    std::string error;
    EXPECT_EQ(movie_file_open_memory(c.bytes.data(), c.bytes.size(), &error), nullptr) << c.name;
  }
  std::string error;
  EXPECT_EQ(movie_file_open(path + ".missing", &error), nullptr);
  EXPECT_FALSE(error.empty());
  std::remove(path.c_str());
}

TEST(MovieFile, RefusesFramesWiderThanTheLimit) {
  const std::string path = test_movie_path("wide.avi");
  ASSERT_TRUE(write_test_movie(path, TestMovieCodec::Raw, kMovieMaxSide + 4, 2, 1, 10));
  std::string error;
  EXPECT_EQ(movie_file_open(path, &error), nullptr);
  EXPECT_FALSE(error.empty());
  std::remove(path.c_str());
}

TEST(MovieFile, OpensFromMemoryLikeFromAFile) {
  const std::string path = test_movie_path("memory.avi");
  ASSERT_TRUE(write_test_movie(path, TestMovieCodec::Raw, 8, 6, 3, 25));
  const std::vector<uint8_t> bytes = read_test_file(path);
  std::string error;
  MovieFile* f = movie_file_open_memory(bytes.data(), bytes.size(), &error);
  ASSERT_NE(f, nullptr) << error;
  EXPECT_EQ(movie_file_info(f).frame_count, 3u);
  const uint32_t* px = movie_file_frame(f, 2);
  ASSERT_NE(px, nullptr);
  EXPECT_EQ(px[0], test_movie_top(2));
  movie_file_close(f);
  // Cut before the last frame's chunk, while the header still counts three:
  // that frame is refused, and the others read again after it.
  const std::string text(bytes.begin(), bytes.end());
  size_t cut = text.find("movi");
  for (int chunk = 0; chunk < 3 && cut != std::string::npos; ++chunk) cut = text.find("00d", cut + 4);
  ASSERT_NE(cut, std::string::npos);
  f = movie_file_open_memory(bytes.data(), cut, &error);
  ASSERT_NE(f, nullptr) << error;
  EXPECT_EQ(movie_file_info(f).frame_count, 3u);
  EXPECT_EQ(movie_file_frame(f, 2), nullptr);
  for (int n : {1, 0, 1}) {
    px = movie_file_frame(f, static_cast<uint32_t>(n));
    ASSERT_NE(px, nullptr) << "frame " << n;
    EXPECT_EQ(px[0], test_movie_top(n)) << "frame " << n;
  }
  movie_file_close(f);
  std::remove(path.c_str());
}

}  // namespace
