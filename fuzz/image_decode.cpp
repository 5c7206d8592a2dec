// Feeds arbitrary bytes to the picture decoder: it must refuse or decode,
// never crash or read outside the data.
#include <cstddef>
#include <cstdint>

#include "platform/image/image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  DecodedImage img;
  ImageResult r = image_decode_memory(data, size, &img);
  if (r == IMAGE_OK && img.argb.size() != static_cast<size_t>(img.width) * static_cast<size_t>(img.height))
    __builtin_trap();
  return 0;
}
