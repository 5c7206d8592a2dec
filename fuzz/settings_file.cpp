// A settings copy as a user may leave it: any bytes parse without a crash,
// and what the store then writes reads back to the very same text.
#include <cstdint>
#include <cstring>
#include <string>

#include "shell/services/settings_store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A copy holding a zero byte is refused before it is parsed.
  if (std::memchr(data, 0, size)) return 0;
  free_settings();
  settings_parse_text(reinterpret_cast<const char*>(data), size);
  std::string first = settings_to_text();
  free_settings();
  settings_parse_text(first.data(), first.size());
  if (settings_to_text() != first) __builtin_trap();
  free_settings();
  return 0;
}
