// Arrangement files as a user hands them to LOAD: whatever parses must
// write back to the same bytes' meaning.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "viewer/save_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SaveArrangement a;
  if (save_parse(data, size, a) != SAVE_OK) return 0;
  if (a.points.size() > static_cast<size_t>(kSaveMaxPoints)) __builtin_trap();
  std::vector<uint8_t> image;
  if (save_serialize(a, image) != SAVE_OK) return 0;
  SaveArrangement b;
  if (save_parse(image.data(), image.size(), b) != SAVE_OK) __builtin_trap();
  if (b.points.size() != a.points.size() || b.picture != a.picture || b.order != a.order) __builtin_trap();
  for (size_t i = 0; i < a.points.size(); ++i) {
    if (b.points[i].dialogue_path != a.points[i].dialogue_path || b.points[i].number != a.points[i].number)
      __builtin_trap();
  }
  return 0;
}
