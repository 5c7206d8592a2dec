// Which files are wave files, what a wave file decodes to, and the silent
// placeholder we ship.
#include <gtest/gtest.h>

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

TEST(WaveFile, DataChunkMayComeBeforeFormat) {
  const std::vector<uint8_t> good = make_dc_wav(100);
  std::vector<uint8_t> v(good.begin(), good.begin() + 12);
  v.insert(v.end(), good.begin() + 36, good.end());       // "data"
  v.insert(v.end(), good.begin() + 12, good.begin() + 36);  // "fmt "
  WaveData w;
  ASSERT_EQ(wave_decode(v.data(), v.size(), &w), WAVE_OK);
  EXPECT_EQ(w.frames, 100u);
  EXPECT_EQ(w.data_bytes, 200u);
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
