// Wave files: our own walk over the RIFF chunks decides whether the file is a
// wave file at all (the checks the sound system reports as a missing file),
// then libsndfile decodes the samples from the bytes in memory.
#include <sndfile.h>

#include <cstring>

#include "platform/audio/audio.h"
#include "platform/sys/sys.h"

namespace {

uint32_t le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }
uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

struct Chunk {
  size_t data;  // offset of the chunk's contents
  uint32_t size;
};

// The first chunk named id between begin and end; chunks are padded to an
// even size.
bool find_chunk(const uint8_t* bytes, size_t begin, size_t end, const char* id, Chunk* out) {
  size_t at = begin;
  while (at + 8 <= end) {
    uint32_t size = le32(bytes + at + 4);
    if (std::memcmp(bytes + at, id, 4) == 0) {
      *out = {at + 8, size};
      return true;
    }
    uint64_t next = static_cast<uint64_t>(at) + 8 + size + (size & 1);
    if (next > end) break;
    at = static_cast<size_t>(next);
  }
  return false;
}

// libsndfile reads the file from memory through these.
struct MemoryFile {
  const uint8_t* bytes;
  sf_count_t size;
  sf_count_t at;
};

sf_count_t mem_length(void* user) { return static_cast<MemoryFile*>(user)->size; }

sf_count_t mem_seek(sf_count_t offset, int whence, void* user) {
  MemoryFile* m = static_cast<MemoryFile*>(user);
  sf_count_t base = whence == SEEK_CUR ? m->at : whence == SEEK_END ? m->size : 0;
  sf_count_t to = base + offset;
  if (to < 0 || to > m->size) return -1;
  m->at = to;
  return m->at;
}

sf_count_t mem_read(void* ptr, sf_count_t count, void* user) {
  MemoryFile* m = static_cast<MemoryFile*>(user);
  sf_count_t n = count < m->size - m->at ? count : m->size - m->at;
  if (n <= 0) return 0;
  std::memcpy(ptr, m->bytes + m->at, static_cast<size_t>(n));
  m->at += n;
  return n;
}

sf_count_t mem_write(const void*, sf_count_t, void*) { return 0; }
sf_count_t mem_tell(void* user) { return static_cast<MemoryFile*>(user)->at; }

}  // namespace

namespace {

// The end of the RIFF chunk within the bytes; 0 when they are no RIFF/WAVE file.
size_t riff_end(const uint8_t* bytes, size_t size) {
  if (size < 12 || std::memcmp(bytes, "RIFF", 4) != 0 || std::memcmp(bytes + 8, "WAVE", 4) != 0) return 0;
  const uint64_t end = 8 + static_cast<uint64_t>(le32(bytes + 4));
  return end < size ? static_cast<size_t>(end) : size;
}

}  // namespace

WaveStatus wave_file_open(const std::string& host_path, std::vector<uint8_t>* bytes) {
  bytes->clear();
  if (get_file_size(host_path) > WAVE_MAX_FILE_BYTES) return WAVE_UNPLAYABLE;
  if (!sys_read_file(host_path, *bytes, WAVE_MAX_FILE_BYTES)) return WAVE_NOT_FOUND;
  if (riff_end(bytes->data(), bytes->size()) == 0) {
    bytes->clear();
    return WAVE_NOT_FOUND;
  }
  return WAVE_OK;
}

WaveStatus wave_decode(const uint8_t* bytes, size_t size, WaveData* out) {
  *out = WaveData{};
  WaveStatus status = wave_read_format(bytes, size, &out->format);
  if (status == WAVE_OK) status = wave_file_read_data(bytes, size, out);
  if (status != WAVE_OK) *out = WaveData{};
  return status;
}

WaveStatus wave_read_format(const uint8_t* bytes, size_t size, WaveFormat* out) {
  *out = WaveFormat{};
  const size_t end = riff_end(bytes, size);
  if (end == 0) return WAVE_NOT_FOUND;
  Chunk fmt;
  if (!find_chunk(bytes, 12, end, "fmt ", &fmt) || fmt.size < 16 || fmt.data + 16 > size) return WAVE_NOT_FOUND;
  const uint8_t* f = bytes + fmt.data;
  WaveFormat& wf = *out;
  wf.tag = le16(f);
  wf.channels = le16(f + 2);
  wf.rate = le32(f + 4);
  wf.bytes_per_second = le32(f + 8);
  wf.block_align = le16(f + 12);
  wf.bits = le16(f + 14);
  if (wf.tag != 1) {
    // Other formats carry a count of extra bytes, which must all be there.
    if (fmt.data + 18 > size) return WAVE_NOT_FOUND;
    uint16_t extra = le16(f + 16);
    if (fmt.data + 18 + extra > size) return WAVE_NOT_FOUND;
    wf.extra.assign(f + 18, f + 18 + extra);
  }
  return WAVE_OK;
}

WaveStatus wave_file_read_data(const uint8_t* bytes, size_t size, WaveData* out) {
  const size_t end = riff_end(bytes, size);
  Chunk fmt;
  if (end == 0 || !find_chunk(bytes, 12, end, "fmt ", &fmt) || fmt.data + 16 > size) return WAVE_NOT_FOUND;
  Chunk data;
  if (!find_chunk(bytes, 12, end, "data", &data)) return WAVE_NOT_FOUND;
  // A header that claims more than the file holds gets what is there.
  size_t available = data.data <= size ? size - data.data : 0;
  out->data_bytes = static_cast<uint32_t>(data.size < available ? data.size : available);

  // The decoder sees the file laid out plainly: "fmt " first, then the data
  // as far as the file holds it, whatever order and extra chunks it had.
  const size_t fmt_bytes = fmt.data + fmt.size <= size ? fmt.size : size - fmt.data;
  const size_t data_at = 20 + fmt_bytes + (fmt_bytes & 1);
  std::vector<uint8_t> plain(data_at + 8 + out->data_bytes);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) plain[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  std::memcpy(plain.data(), "RIFF", 4);
  put32(4, static_cast<uint32_t>(plain.size() - 8));
  std::memcpy(plain.data() + 8, "WAVEfmt ", 8);
  put32(16, static_cast<uint32_t>(fmt_bytes));
  std::memcpy(plain.data() + 20, bytes + fmt.data, fmt_bytes);
  std::memcpy(plain.data() + data_at, "data", 4);
  put32(data_at + 4, out->data_bytes);
  if (out->data_bytes) std::memcpy(plain.data() + data_at + 8, bytes + data.data, out->data_bytes);

  MemoryFile mem{plain.data(), static_cast<sf_count_t>(plain.size()), 0};
  SF_VIRTUAL_IO io{mem_length, mem_seek, mem_read, mem_write, mem_tell};
  SF_INFO info{};
  SNDFILE* sf = sf_open_virtual(&io, SFM_READ, &info, &mem);
  if (!sf) return WAVE_UNPLAYABLE;
  WaveStatus status = WAVE_UNPLAYABLE;
  if (info.channels > 0 && info.channels <= 64 && info.frames > 0 && info.samplerate > 0) {
    // The decoder's frame count follows the header; never trust it beyond
    // what the bytes can hold.
    sf_count_t limit = static_cast<sf_count_t>(plain.size()) * 8 / info.channels + 1;
    sf_count_t frames = info.frames < limit ? info.frames : limit;
    out->samples.resize(static_cast<size_t>(frames) * info.channels);
    sf_count_t got = sf_readf_float(sf, out->samples.data(), frames);
    if (got > 0) {
      out->samples.resize(static_cast<size_t>(got) * info.channels);
      out->frames = static_cast<uint32_t>(got);
      out->format.channels = static_cast<uint16_t>(info.channels);
      out->format.rate = static_cast<uint32_t>(info.samplerate);
      status = WAVE_OK;
    }
  }
  sf_close(sf);
  return status;
}

WaveStatus wave_load(const std::string& host_path, WaveData* out) {
  *out = WaveData{};
  std::vector<uint8_t> bytes;
  if (WaveStatus s = wave_file_open(host_path, &bytes); s != WAVE_OK) return s;
  return wave_decode(bytes.data(), bytes.size(), out);
}
