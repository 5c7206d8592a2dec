// "font.cf" as a user may leave it: the face name taken from any bytes is one
// line without leading blanks that fits its buffer on a character boundary,
// and the font layer matches, opens and lays out text with whatever face it
// names.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/font/font.h"
#include "render/text/fonts.h"
#include "render/text/text_queue.h"
#include "scratch_folder.h"

namespace {

// The font layer reads "font.cf" from the working folder.
bool in_own_folder() {
  static const bool ready = fuzz_scratch_folder() && ::chdir(fuzz_scratch_folder()) == 0;
  return ready;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!in_own_folder()) return 0;
  FILE* f = std::fopen("font.cf", "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);

  char face[FONT_FACE_NAME_BYTES + 1];
  std::memset(face, 0x7F, sizeof face);
  d3dx_font_face_name(face);
  const size_t length = ::strnlen(face, sizeof face);
  if (length == 0 || length > FONT_FACE_NAME_BYTES) __builtin_trap();
  if (text_cp932_fit(face, length, FONT_FACE_NAME_BYTES) != length) __builtin_trap();
  for (size_t i = 0; i < length; ++i) {
    if (face[i] == '\r' || face[i] == '\n') __builtin_trap();
  }
  if (face[0] == ' ' || face[0] == '\t') __builtin_trap();

  FontParams params{16, 0, 400, false, FONT_CHARSET_SHIFTJIS, FONT_QUALITY_ANTIALIASED, face};
  PlatformFont* font = nullptr;
  if (font_create(nullptr, params, &font) == GPU_OK && font) {
    std::vector<uint8_t> coverage;
    font_render_text(font, "A\x82\xa0", 3, 64, 32, &coverage);  // "Aあ"
    font_release(font);
  }
  return 0;
}
