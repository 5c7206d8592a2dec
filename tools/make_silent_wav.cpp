// Writes the silent placeholder sound the sound tables name: a RIFF/WAVE
// file, PCM, 16-bit mono at 44,100 Hz, half a second long. It is silent so
// that the start-up BGM (played and stopped at once) makes no click.
//
//   make_silent_wav <output.wav> [frames]
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

void put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void put16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

void put_id(std::vector<uint8_t>& out, const char* id) { out.insert(out.end(), id, id + 4); }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: make_silent_wav <output.wav> [frames]\n");
    return 2;
  }
  const uint32_t rate = 44100, channels = 1, bits = 16;
  const uint32_t frames = argc > 2 ? static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10)) : rate / 2;
  const uint32_t block = channels * bits / 8, data_bytes = frames * block;

  std::vector<uint8_t> out;
  put_id(out, "RIFF");
  put32(out, 4 + 8 + 16 + 8 + data_bytes);
  put_id(out, "WAVE");
  put_id(out, "fmt ");
  put32(out, 16);
  put16(out, 1);  // PCM
  put16(out, static_cast<uint16_t>(channels));
  put32(out, rate);
  put32(out, rate * block);
  put16(out, static_cast<uint16_t>(block));
  put16(out, static_cast<uint16_t>(bits));
  put_id(out, "data");
  put32(out, data_bytes);
  out.resize(out.size() + data_bytes, 0);

  FILE* f = std::fopen(argv[1], "wb");
  if (!f || std::fwrite(out.data(), 1, out.size(), f) != out.size() || std::fclose(f) != 0) {
    std::fprintf(stderr, "make_silent_wav: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
