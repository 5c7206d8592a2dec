// Which files are wave files, what a wave file decodes to, and the silent
// placeholder we ship.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/audio/audio.h"
#include "sound_test_util.h"

namespace {

void put32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  for (int i = 0; i < 4; ++i) v[at + i] = static_cast<uint8_t>(x >> (8 * i));
}

WaveStatus decode(const std::vector<uint8_t>& bytes) {
  WaveData w;
  return wave_decode(bytes.data(), bytes.size(), &w);
}

TEST(WaveFile, RiffChecksDecideWhatIsAWaveFile) {
  const std::vector<uint8_t> good = make_dc_wav(100);
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    WaveStatus want;
  };
  std::vector<Case> cases;
  cases.push_back({"good", good, WAVE_OK});
  std::vector<uint8_t> v = good;
  std::memcpy(v.data(), "RIFX", 4);
  cases.push_back({"not RIFF", v, WAVE_NOT_FOUND});
  v = good;
  std::memcpy(v.data() + 8, "AVI ", 4);
  cases.push_back({"not WAVE", v, WAVE_NOT_FOUND});
  v = good;
  put32(v, 16, 14);  // "fmt " of 14 bytes
  cases.push_back({"short fmt", v, WAVE_NOT_FOUND});
  v = good;
  std::memcpy(v.data() + 36, "junk", 4);
  cases.push_back({"no data", v, WAVE_NOT_FOUND});
  cases.push_back({"empty", {}, WAVE_NOT_FOUND});
  cases.push_back({"eight bytes", std::vector<uint8_t>(good.begin(), good.begin() + 8), WAVE_NOT_FOUND});
  cases.push_back({"no samples", make_dc_wav(0), WAVE_UNPLAYABLE});
  v = good;
  v.resize(36);  // "fmt " and no chunk after it
  cases.push_back({"cut after fmt", v, WAVE_NOT_FOUND});
  for (const Case& c : cases) EXPECT_EQ(decode(c.bytes), c.want) << c.what;
}

// RIFF/WAVE with a format chunk of the given bytes, then a data chunk; an
// odd-sized chunk is followed by its pad byte.
std::vector<uint8_t> riff(const std::vector<uint8_t>& fmt, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> v(12);
  std::memcpy(v.data(), "RIFF", 4);
  std::memcpy(v.data() + 8, "WAVE", 4);
  auto chunk = [&](const char* id, const std::vector<uint8_t>& body) {
    const size_t at = v.size();
    v.resize(at + 8);
    std::memcpy(v.data() + at, id, 4);
    put32(v, at + 4, static_cast<uint32_t>(body.size()));
    v.insert(v.end(), body.begin(), body.end());
    if (body.size() & 1) v.push_back(0);
  };
  chunk("fmt ", fmt);
  chunk("data", data);
  put32(v, 4, static_cast<uint32_t>(v.size() - 8));
  return v;
}

// The format words: tag, channels, rate, bytes per second, block align, bits.
std::vector<uint8_t> format_words(uint16_t tag, uint16_t bits) {
  std::vector<uint8_t> f(16);
  auto put16 = [&](size_t at, uint16_t x) {
    f[at] = static_cast<uint8_t>(x);
    f[at + 1] = static_cast<uint8_t>(x >> 8);
  };
  put16(0, tag);
  put16(2, 1);
  put32(f, 4, 8000);
  put32(f, 8, 8000u * bits / 8);
  put16(12, static_cast<uint16_t>(bits / 8));
  put16(14, bits);
  return f;
}

TEST(WaveFile, EachFormatCheckRefusesOnlyWhatItMust) {
  const std::vector<uint8_t> samples(16, 0x10);
  std::vector<uint8_t> pcm = format_words(1, 16);
  std::vector<uint8_t> pcm14(pcm.begin(), pcm.begin() + 14);
  // A float format with its count of extra bytes; the bytes after the count
  // up to the end of the file are 8 (data header) + 16 (samples).
  auto with_extra = [&](uint16_t extra) {
    std::vector<uint8_t> f = format_words(3, 32);
    f.push_back(static_cast<uint8_t>(extra));
    f.push_back(static_cast<uint8_t>(extra >> 8));
    return f;
  };
  const struct {
    const char* what;
    std::vector<uint8_t> bytes;
    WaveStatus want;
  } cases[] = {
      {"format of 16 bytes", riff(pcm, samples), WAVE_OK},
      {"format of 14 bytes, laid out right", riff(pcm14, samples), WAVE_NOT_FOUND},
      {"extra bytes up to the file's end", riff(with_extra(24), samples), WAVE_OK},
      {"extra bytes one past the file's end", riff(with_extra(25), samples), WAVE_NOT_FOUND},
  };
  for (const auto& c : cases) EXPECT_EQ(decode(c.bytes), c.want) << c.what;

  // A format chunk of odd size: its pad byte is stepped over, the samples
  // are the file's.
  std::vector<uint8_t> pcm17 = pcm;
  pcm17.push_back(0x7F);
  WaveData w;
  const std::vector<uint8_t> odd = riff(pcm17, samples);
  ASSERT_EQ(wave_decode(odd.data(), odd.size(), &w), WAVE_OK);
  ASSERT_EQ(w.frames, 8u);
  EXPECT_FLOAT_EQ(w.samples[7], 0x1010 / 32768.0f);
}

TEST(WaveFile, AFileOverTheSizeLimitIsUnplayable) {
  // Sparse: the size is what counts, the file is never read.
  char path[] = "/tmp/tl_wave_XXXXXX";
  const int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(WAVE_MAX_FILE_BYTES + 1)), 0);
  ::close(fd);
  WaveData w;
  EXPECT_EQ(wave_load(path, &w), WAVE_UNPLAYABLE);
  ::unlink(path);
}

TEST(WaveFile, DataChunkMayComeBeforeFormat) {
  const std::vector<uint8_t> good = make_dc_wav(100);
  std::vector<uint8_t> v(good.begin(), good.begin() + 12);
  v.insert(v.end(), good.begin() + 36, good.end());       // "data"
  v.insert(v.end(), good.begin() + 12, good.begin() + 36);  // "fmt "
  WaveData w;
  ASSERT_EQ(wave_decode(v.data(), v.size(), &w), WAVE_OK);
  EXPECT_EQ(w.frames, 100u);
  EXPECT_EQ(w.data_bytes, 200u);

  // A float format's count of extra bytes (none) may end the file.
  std::vector<uint8_t> f(good.begin(), good.begin() + 12);
  const float samples[2] = {0.25f, -0.5f};
  f.insert(f.end(), {'d', 'a', 't', 'a', 8, 0, 0, 0});
  f.insert(f.end(), reinterpret_cast<const uint8_t*>(samples), reinterpret_cast<const uint8_t*>(samples) + 8);
  f.insert(f.end(), {'f', 'm', 't', ' ', 18, 0, 0, 0, 3, 0, 1, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 32, 0, 0, 0});
  put32(f, 4, static_cast<uint32_t>(f.size() - 8));
  ASSERT_EQ(wave_decode(f.data(), f.size(), &w), WAVE_OK);
  EXPECT_EQ(w.format.tag, 3);
  ASSERT_EQ(w.frames, 2u);
  EXPECT_EQ(w.samples[1], -0.5f);
}

TEST(WaveFile, OversizedDataHeaderIsBoundedByTheFile) {
  std::vector<uint8_t> v = make_dc_wav(100);
  put32(v, 40, 0xFFFFFFF0u);
  WaveData w;
  ASSERT_EQ(wave_decode(v.data(), v.size(), &w), WAVE_OK);
  EXPECT_EQ(w.data_bytes, 200u);
  EXPECT_EQ(w.frames, 100u);
}

TEST(WaveFile, DecodesFormatAndSamples) {
  WaveData w;
  std::vector<uint8_t> v = make_wav(2, 22050, {16384, -16384, 8192, -8192});
  ASSERT_EQ(wave_decode(v.data(), v.size(), &w), WAVE_OK);
  EXPECT_EQ(w.format.tag, 1);
  EXPECT_EQ(w.format.channels, 2);
  EXPECT_EQ(w.format.rate, 22050u);
  EXPECT_EQ(w.format.block_align, 4);
  EXPECT_EQ(w.frames, 2u);
  ASSERT_EQ(w.samples.size(), 4u);
  EXPECT_FLOAT_EQ(w.samples[0], 0.5f);
  EXPECT_FLOAT_EQ(w.samples[3], -0.25f);
}

TEST(WaveFile, MissingFileIsNotFound) {
  WaveData w;
  EXPECT_EQ(wave_load("/nonexistent/0.wav", &w), WAVE_NOT_FOUND);
}

TEST(WaveFile, ShippedPlaceholderIsHalfASecondOfSilence) {
  WaveData w;
  ASSERT_EQ(wave_load("0.wav", &w), WAVE_OK);
  EXPECT_EQ(w.format.tag, 1);
  EXPECT_EQ(w.format.channels, 1);
  EXPECT_EQ(w.format.rate, 44100u);
  EXPECT_EQ(w.frames, 22050u);
  for (float s : w.samples) ASSERT_EQ(s, 0.0f);
}

}  // namespace
