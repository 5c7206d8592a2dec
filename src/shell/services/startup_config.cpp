#include "shell/services/startup_config.h"

#include <cstdint>
#include <cstring>

#include "platform/sys/sys.h"

namespace {

StartupConfig config;

constexpr int kWordLimit = 1024;  // a word this long ends the reading
constexpr int kTextLimit = 127;   // a key or value this long ends the reading

enum class Word { ok, end, too_long };

bool is_space(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// Reads the next whitespace-delimited word, never storing more than the
// buffer holds; a word of kWordLimit characters or more is reported as such.
// The white space that ends the word stays unread, so a comment word at the
// end of its line still finds that line's end.
Word read_word(FILE* f, std::string& word) {
  word.clear();
  int c;
  do {
    c = std::fgetc(f);
  } while (c != EOF && is_space(c));
  if (c == EOF) return Word::end;
  while (c != EOF && !is_space(c)) {
    if (word.size() + 1 >= static_cast<size_t>(kWordLimit)) return Word::too_long;
    word += static_cast<char>(c);
    c = std::fgetc(f);
  }
  if (c != EOF) std::ungetc(c, f);
  return Word::ok;
}

// Discards the rest of a comment: up to and including a line end or Ctrl-Z,
// or up to the end of the file, a NUL or a 0xFF byte (the reading goes on
// after either).
void skip_comment(FILE* f) {
  for (;;) {
    int c = std::fgetc(f);
    if (c == EOF || sys_ends_comment_line(c) || c == 0 || c == 0xFF) return;
  }
}

// An optional '-' and decimal digits whose value fits a signed 32-bit
// integer; anything else is no integer, so that a typing slip or an
// overlong value leaves the caller's default instead of a number made of it.
bool parse_int(const char* text, int* out) {
  const char* p = text;
  const bool negative = *p == '-';
  if (negative) ++p;
  if (*p == 0) return false;
  const int64_t limit = negative ? -static_cast<int64_t>(INT32_MIN) : INT32_MAX;
  int64_t v = 0;
  for (; *p; ++p) {
    if (*p < '0' || *p > '9') return false;
    v = v * 10 + (*p - '0');
    if (v > limit) return false;
  }
  *out = static_cast<int>(negative ? -v : v);
  return true;
}

const StartupSlot* find_slot(const char* key) {
  if (!key) return nullptr;
  for (int i = 0; i < config.count; ++i) {
    const StartupSlot& s = config.slots[i];
    if (s.key[0] && s.value[0] && std::strcmp(s.key, key) == 0) return &s;
  }
  return nullptr;
}

}  // namespace

void load_startup_config(const std::string& file_name) {
  std::memset(&config, 0, sizeof config);
  FILE* f = sys_fopen(file_name, "r");
  if (!f) return;
  std::string key, value;
  while (config.count < STARTUP_SLOTS) {
    if (read_word(f, key) != Word::ok) break;
    if (key[0] == '#') {
      skip_comment(f);
      continue;
    }
    if (key.size() >= static_cast<size_t>(kTextLimit)) break;
    // A key at the very end of the file without its value is dropped.
    if (read_word(f, value) != Word::ok || value.size() >= static_cast<size_t>(kTextLimit)) break;
    StartupSlot& s = config.slots[config.count++];
    std::memcpy(s.key, key.c_str(), key.size() + 1);
    std::memcpy(s.value, value.c_str(), value.size() + 1);
  }
  std::fclose(f);
}

const char* get_startup_string(const char* key) {
  const StartupSlot* s = find_slot(key);
  return s ? s->value : nullptr;
}

int get_startup_int(const char* key, int* out) {
  *out = 0;
  const StartupSlot* s = find_slot(key);
  return s && parse_int(s->value, out) ? 1 : 0;
}

int get_startup_int_or(const char* key, int fallback) {
  int v;
  return get_startup_int(key, &v) ? v : fallback;
}

void shutdown_startup_config() {}
