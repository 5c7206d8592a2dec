// "KT52.CF" as a user may leave it: any bytes load without overrunning a
// slot, and every key found holds a bounded value.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "scratch_folder.h"
#include "shell/services/startup_config.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!fuzz_scratch_folder()) return 0;
  static const std::string path = std::string(fuzz_scratch_folder()) + "/KT52.CF";
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  load_startup_config(path);
  const char* keys[] = {"REGION", "CLIENTW", "CLIENTH", "SFEXT", "SHPATH"};
  for (const char* k : keys) {
    const char* v = get_startup_string(k);
    if (v && std::strlen(v) >= STARTUP_TEXT - 1) __builtin_trap();
    int n;
    get_startup_int(k, &n);
  }
  return 0;
}
