// Dialogue text files as a user hands them to the point panel: both parse
// modes and the line choice over whatever they give.
#include <cstddef>
#include <cstdint>

#include "viewer/dialogue_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  for (DialogueParseMode mode : {DIALOGUE_PARSE_FILE, DIALOGUE_PARSE_SPEAKERS}) {
    DialogueParseResult r = deffile_parse(data, size, mode);
    if (r.ok != !r.list.records.empty()) __builtin_trap();
    for (int i = 0; i < deffile_list_count(&r.list); ++i) {
      for (int pool = 0; pool < 3; ++pool) {
        if (!deffile_list_pick_text(&r.list, i, pool)) __builtin_trap();
      }
    }
  }
  return 0;
}
