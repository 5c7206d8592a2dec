// Movie files: any bytes either open as a movie whose frames decode or fail
// cleanly, or are refused. A few frames are read per input, in and out of
// order, so seeking is exercised without letting one input run long.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/movie/movie_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string error;
  MovieFile* f = movie_file_open_memory(data, size, &error);
  if (f == nullptr) return 0;
  const MovieStreamInfo info = movie_file_info(f);
  if (info.width < 1 || info.height < 1 || info.frame_count < 1 || info.rate == 0 || info.scale == 0)
    __builtin_trap();
  const uint32_t last = info.frame_count - 1;
  const uint32_t picks[] = {1, 2, last, last / 2, 0};
  for (uint32_t n : picks) movie_file_frame(f, n);
  movie_file_close(f);
  return 0;
}
