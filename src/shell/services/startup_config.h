// "KT52.CF": whitespace-separated words taken in pairs (key, value), '#' in
// key position starting a comment to the end of the line (or to a NUL or
// 0xFF byte, after which the reading goes on). Read once at
// start-up; every component asks for its keys by name.
#pragma once

#include <string>

enum { STARTUP_SLOTS = 64, STARTUP_TEXT = 128 };

struct StartupSlot {
  char key[STARTUP_TEXT];
  char value[STARTUP_TEXT];
};

struct StartupConfig {
  StartupSlot slots[STARTUP_SLOTS];
  int count;
};

// Clears the table and reads the file; an absent file leaves it empty.
void load_startup_config(const std::string& file_name);
// The value of the first slot whose key matches exactly, or null.
const char* get_startup_string(const char* key);
// 1 and the value when the key is present and holds a decimal integer
// (optional '-', digits, within the signed 32-bit range); else 0 and
// *out = 0.
int get_startup_int(const char* key, int* out);
int get_startup_int_or(const char* key, int fallback);
void shutdown_startup_config();
