// The settings store: typed keys (integer, float or text), each with a value
// and a default, kept on disk in two numbered copies of a text file, each
// guarded by a CRC-32 in a companion file. Loading takes the first copy whose
// CRC matches; saving writes both, one after the other, so a failed write
// always leaves the other copy valid.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>

enum SettingType : int32_t { SETTING_INT = 0, SETTING_FLOAT = 1, SETTING_TEXT = 2 };

// A value cell: empty until first set, then one of the three kinds. The kind
// always follows the last setter, so re-typing a key never reads a cell as
// the wrong kind.
using SettingValue = std::variant<std::monostate, int32_t, float, std::string>;

struct SettingEntry {
  std::string name;
  int32_t type;  // SettingType of the last setter
  SettingValue value;
  SettingValue default_value;
};

// One row of a defaults table. default_value points to an int32_t, a float or
// a zero-terminated text, as type says.
struct SettingKeyDef {
  const char* name;
  int32_t type;
  const void* default_value;
  int32_t flag;  // 1: restored by the partial reset
};

enum {
  SETTINGS_KEY_COUNT = 66,
  // Copies and check files larger than this are refused as damaged.
  SETTINGS_FILE_MAX_BYTES = 1 << 20,
};

// The defaults table; one table serves every region.
const SettingKeyDef* get_settings_key_table();
int get_settings_key_count();

// Entries are kept in order of creation; names compare exactly. A pointer
// stays valid until free_settings.
SettingEntry* find_setting(const char* name);
SettingEntry* add_setting_entry(const char* name);
int get_setting_count();
const SettingEntry* get_setting_at(int index);

// Setters find or add the key, set its type and store the value. A name must
// be non-empty and hold no tab or line break, and a text no line break, so
// that every entry survives a save and a load; such a call changes nothing and
// returns false.
bool set_setting_int(const char* name, int32_t v);
bool set_setting_float(const char* name, float f);
bool set_setting_string(const char* name, const char* text);
bool set_setting_int_default(const char* name, int32_t v);
bool set_setting_float_default(const char* name, float f);
bool set_setting_string_default(const char* name, const char* text);

// 1 and *out (when out is not null) for an integer key with a value; else 0
// and *out untouched.
int get_setting_int(const char* name, int32_t* out);
int32_t get_setting_int_or(const char* name, int32_t fallback);
// The integer default; 0 when the key, its value or its default is missing or
// not an integer.
int32_t get_setting_int_default(const char* name);
// value = default for an integer key with both; returns it, else 0.
int32_t reset_setting_int(const char* name);
int get_setting_float(const char* name, float* out);
// The text of a text key, else null. Valid until the key is next set.
const char* get_setting_string(const char* name);

// Reads "<prefix>0.CFG" or, failing that, "<prefix>1.CFG" (whichever first
// matches its ".CRC"), gives every table key missing from the file its
// default, sets every table key's default, then saves both copies.
bool load_settings(const char* prefix, const SettingKeyDef* table, int count);
// Writes both copies and their check files; false when any write failed or no
// prefix was loaded.
bool save_settings();
// value = default for every row (all) or every flagged row, then saves.
bool apply_setting_defaults(const SettingKeyDef* table, int count, int all);
bool reset_all_settings(const SettingKeyDef* table, int count);
bool reset_flagged_settings(const SettingKeyDef* table, int count);
// Drops every entry and the file names.
void free_settings();

// CRC-32 of IEEE 802.3 (reflected 0xEDB88320, inverted in and out).
uint32_t crc32(const void* bytes, size_t length);
// Writes the 4-byte little-endian CRC-32 of the copy to the check file.
bool write_settings_crc(const std::string& copy_name, const std::string& check_name);
// Flushes an existing file's data to disk; false when it does not open.
bool flush_file_to_disk(const std::string& name);
uint64_t shell_get_file_size(const std::string& name);

// The text of one copy as save_settings writes it, and the parse of such a
// text into the store (bad lines are skipped). Exposed for the fuzz target.
std::string settings_to_text();
void settings_parse_text(const char* data, size_t size);
