#include "shell/services/settings_store.h"

#include <zlib.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string_view>
#include <vector>

#include "platform/sys/sys.h"

namespace {

struct SettingsStore {
  std::deque<SettingEntry> entries;  // a deque keeps entry pointers stable
  std::string copy_names[2];
  std::string check_names[2];
};

SettingsStore store;

// The defaults. Flagged keys (1) are restored by the partial reset.
#define INT_KEY(name, value, flag) {name, SETTING_INT, &k_##value, flag}
const int32_t k_0 = 0, k_1 = 1, k_3 = 3, k_7 = 7, k_10 = 10, k_12 = 12, k_15 = 15, k_16 = 16, k_20 = 20,
              k_30 = 30, k_80 = 80, k_100 = 100, k_4000 = 4000, k_26000 = 26000, k_28000 = 28000,
              k_44000 = 44000, k_47000 = 47000, k_64000 = 64000;

const SettingKeyDef kKeys[SETTINGS_KEY_COUNT] = {
    INT_KEY("sndvol", 16, 1),      INT_KEY("sndvold", 12, 1),     INT_KEY("seltime", 0, 1),
    INT_KEY("ioacmax", 44000, 0),  INT_KEY("ioacmin", 26000, 0),  INT_KEY("iobrmax", 47000, 0),
    INT_KEY("iobrmin", 28000, 0),  INT_KEY("iostmax", 64000, 0),  INT_KEY("iostmin", 4000, 0),
    INT_KEY("ioabcflag", 0, 0),    INT_KEY("iostcflag", 0, 0),    INT_KEY("coinfree", 0, 1),
    INT_KEY("coincpc", 1, 1),      INT_KEY("coinstart", 1, 1),    INT_KEY("coinconti", 1, 1),
    INT_KEY("networkid", 0, 0),    INT_KEY("al0", 0, 0),          INT_KEY("al1", 0, 0),
    INT_KEY("al2", 0, 0),          INT_KEY("al3", 0, 0),          INT_KEY("godiff", 3, 1),
    INT_KEY("dfdec", 15, 1),       INT_KEY("gocontt", 30, 1),     INT_KEY("gosst", 30, 1),
    INT_KEY("goss", 1, 1),         INT_KEY("goett", 20, 1),       INT_KEY("gopet", 80, 1),
    INT_KEY("godemo", 1, 1),       INT_KEY("goslot", 0, 1),       INT_KEY("life", 7, 1),
    INT_KEY("gospd", 0, 1),        INT_KEY("golng", 0, 1),        INT_KEY("gomcgunnr", 100, 1),
    INT_KEY("bslf1", 10, 1),       INT_KEY("bslf2", 16, 1),       INT_KEY("bslf3", 10, 1),
    INT_KEY("bslf4", 10, 1),       INT_KEY("bslf5", 10, 1),       INT_KEY("bslf6", 10, 1),
    INT_KEY("mgstk", 0, 1),        INT_KEY("bcmin", 100, 1),      INT_KEY("bcmax", 100, 1),
    INT_KEY("scnst", 0, 1),        INT_KEY("gunf", 0, 0),         INT_KEY("c1f", 0, 0),
    INT_KEY("c2f", 0, 0),          INT_KEY("c11x", 0, 0),         INT_KEY("c11y", 0, 0),
    INT_KEY("c12x", 0, 0),         INT_KEY("c12y", 0, 0),         INT_KEY("c13x", 0, 0),
    INT_KEY("c13y", 0, 0),         INT_KEY("c14x", 0, 0),         INT_KEY("c14y", 0, 0),
    INT_KEY("c15x", 0, 0),         INT_KEY("c15y", 0, 0),         INT_KEY("c21x", 0, 0),
    INT_KEY("c21y", 0, 0),         INT_KEY("c22x", 0, 0),         INT_KEY("c22y", 0, 0),
    INT_KEY("c23x", 0, 0),         INT_KEY("c23y", 0, 0),         INT_KEY("c24x", 0, 0),
    INT_KEY("c24y", 0, 0),         INT_KEY("c25x", 0, 0),         INT_KEY("c25y", 0, 0),
};
#undef INT_KEY

bool has_line_break(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

bool valid_name(const char* name) {
  if (!name || !*name) return false;
  return std::string_view(name).find_first_of("\t\r\n") == std::string_view::npos;
}

// Finds or adds the entry and stores v in its value or its default.
template <typename T>
bool store_value(const char* name, int32_t type, T v, bool is_default) {
  if (!valid_name(name)) return false;
  SettingEntry* e = find_setting(name);
  if (!e) e = add_setting_entry(name);
  e->type = type;
  (is_default ? e->default_value : e->value) = std::move(v);
  return true;
}

template <typename T>
const T* value_of(const char* name, int32_t type) {
  const SettingEntry* e = find_setting(name);
  if (!e || e->type != type) return nullptr;
  return std::get_if<T>(&e->value);
}

// A whole field as a number; false for anything else (sign, spaces, junk).
template <typename T>
bool parse_number(std::string_view field, T* out) {
  if (field.empty()) return false;
  auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), *out);
  return ec == std::errc() && end == field.data() + field.size();
}

bool set_row_default(const SettingKeyDef& row, bool value, bool default_value) {
  if (!row.default_value) return false;
  bool ok = true;
  switch (row.type) {
    case SETTING_INT: {
      int32_t v = *static_cast<const int32_t*>(row.default_value);
      if (value) ok = set_setting_int(row.name, v);
      if (default_value) ok = set_setting_int_default(row.name, v) && ok;
      break;
    }
    case SETTING_FLOAT: {
      float v = *static_cast<const float*>(row.default_value);
      if (value) ok = set_setting_float(row.name, v);
      if (default_value) ok = set_setting_float_default(row.name, v) && ok;
      break;
    }
    case SETTING_TEXT: {
      const char* v = static_cast<const char*>(row.default_value);
      if (value) ok = set_setting_string(row.name, v);
      if (default_value) ok = set_setting_string_default(row.name, v) && ok;
      break;
    }
    default:
      return false;
  }
  return ok;
}

// The CRC-32 a check file holds in its first four bytes; false when it does
// not open or holds fewer.
bool read_check(const std::string& check_name, uint32_t* stored) {
  FILE* f = sys_fopen(check_name, "rb");
  if (!f) return false;
  uint8_t b[4];
  const bool ok = std::fread(b, 1, sizeof b, f) == sizeof b;
  std::fclose(f);
  *stored = b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
  return ok;
}

// A copy is valid when it and its check file read, the check's first four
// bytes equal the copy's CRC-32, and the copy holds no zero byte (a text file
// never does).
bool read_valid_copy(int i, std::vector<uint8_t>& copy) {
  uint32_t stored;
  if (!sys_read_file(store.copy_names[i], copy, SETTINGS_FILE_MAX_BYTES)) return false;
  if (!read_check(store.check_names[i], &stored) || stored != crc32(copy.data(), copy.size())) return false;
  return std::memchr(copy.data(), 0, copy.size()) == nullptr;
}

bool write_check(const std::string& check_name, uint32_t crc) {
  const uint8_t bytes[4] = {static_cast<uint8_t>(crc), static_cast<uint8_t>(crc >> 8),
                            static_cast<uint8_t>(crc >> 16), static_cast<uint8_t>(crc >> 24)};
  return sys_write_file(check_name, bytes, sizeof bytes);
}

}  // namespace

const SettingKeyDef* get_settings_key_table() { return kKeys; }
int get_settings_key_count() { return SETTINGS_KEY_COUNT; }

SettingEntry* find_setting(const char* name) {
  if (!name) return nullptr;
  for (SettingEntry& e : store.entries)
    if (e.name == name) return &e;
  return nullptr;
}

SettingEntry* add_setting_entry(const char* name) {
  store.entries.push_back(SettingEntry{name ? name : "", SETTING_INT, {}, {}});
  return &store.entries.back();
}

int get_setting_count() { return static_cast<int>(store.entries.size()); }

const SettingEntry* get_setting_at(int index) {
  if (index < 0 || index >= get_setting_count()) return nullptr;
  return &store.entries[static_cast<size_t>(index)];
}

bool set_setting_int(const char* name, int32_t v) { return store_value(name, SETTING_INT, v, false); }
bool set_setting_float(const char* name, float f) { return store_value(name, SETTING_FLOAT, f, false); }
bool set_setting_int_default(const char* name, int32_t v) { return store_value(name, SETTING_INT, v, true); }
bool set_setting_float_default(const char* name, float f) { return store_value(name, SETTING_FLOAT, f, true); }

bool set_setting_string(const char* name, const char* text) {
  if (!text || has_line_break(text)) return false;
  return store_value(name, SETTING_TEXT, std::string(text), false);
}

bool set_setting_string_default(const char* name, const char* text) {
  if (!text || has_line_break(text)) return false;
  return store_value(name, SETTING_TEXT, std::string(text), true);
}

int get_setting_int(const char* name, int32_t* out) {
  const int32_t* v = value_of<int32_t>(name, SETTING_INT);
  if (!v) return 0;
  if (out) *out = *v;
  return 1;
}

int32_t get_setting_int_or(const char* name, int32_t fallback) {
  get_setting_int(name, &fallback);
  return fallback;
}

int32_t get_setting_int_default(const char* name) {
  const SettingEntry* e = find_setting(name);
  if (!e || e->type != SETTING_INT || !std::holds_alternative<int32_t>(e->value)) return 0;
  const int32_t* d = std::get_if<int32_t>(&e->default_value);
  return d ? *d : 0;
}

int32_t reset_setting_int(const char* name) {
  SettingEntry* e = find_setting(name);
  if (!e || e->type != SETTING_INT || !std::holds_alternative<int32_t>(e->value)) return 0;
  const int32_t* d = std::get_if<int32_t>(&e->default_value);
  if (!d) return 0;
  e->value = *d;
  return *d;
}

int get_setting_float(const char* name, float* out) {
  const float* v = value_of<float>(name, SETTING_FLOAT);
  if (!v) return 0;
  if (out) *out = *v;
  return 1;
}

const char* get_setting_string(const char* name) {
  const std::string* v = value_of<std::string>(name, SETTING_TEXT);
  return v ? v->c_str() : nullptr;
}

std::string settings_to_text() {
  std::string text;
  char number[32];
  for (const SettingEntry& e : store.entries) {
    if (!valid_name(e.name.c_str())) continue;  // made through add_setting_entry; no line could hold it
    std::string value;
    if (const int32_t* i = std::get_if<int32_t>(&e.value); i && e.type == SETTING_INT) {
      value.assign(number, std::to_chars(number, number + sizeof number, *i).ptr);
    } else if (const float* f = std::get_if<float>(&e.value); f && e.type == SETTING_FLOAT) {
      // Nine significant digits bring every float back exactly, and to_chars
      // ignores the locale.
      value.assign(number, std::to_chars(number, number + sizeof number, *f, std::chars_format::general, 9).ptr);
    } else if (const std::string* s = std::get_if<std::string>(&e.value); s && e.type == SETTING_TEXT) {
      value = *s;
    } else {
      continue;  // a key with a default only has no value to keep
    }
    text += e.name;
    text += '\t';
    text += static_cast<char>('0' + e.type);
    text += '\t';
    text += value;
    text += '\n';
  }
  return text;
}

// One entry a line: name, tab, type, tab, value to the end of the line (a
// text value may hold spaces or be empty). Lines that do not parse are
// skipped whole, so one damaged line never shifts the rest.
void settings_parse_text(const char* data, size_t size) {
  std::string_view rest(data, size);
  while (!rest.empty()) {
    size_t eol = rest.find('\n');
    std::string_view line = rest.substr(0, eol);
    rest = eol == std::string_view::npos ? std::string_view() : rest.substr(eol + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    size_t t1 = line.find('\t');
    if (t1 == std::string_view::npos || t1 == 0) continue;
    size_t t2 = line.find('\t', t1 + 1);
    if (t2 == std::string_view::npos) continue;
    std::string name(line.substr(0, t1));
    std::string_view value = line.substr(t2 + 1);
    int32_t type;
    if (!parse_number(line.substr(t1 + 1, t2 - t1 - 1), &type)) continue;
    if (type == SETTING_INT) {
      int32_t v;
      if (parse_number(value, &v)) set_setting_int(name.c_str(), v);
    } else if (type == SETTING_FLOAT) {
      float v;
      if (parse_number(value, &v)) set_setting_float(name.c_str(), v);
    } else if (type == SETTING_TEXT) {
      set_setting_string(name.c_str(), std::string(value).c_str());
    }
  }
}

bool load_settings(const char* prefix, const SettingKeyDef* table, int count) {
  if (!prefix) return false;
  for (int i = 0; i < 2; ++i) {
    store.copy_names[i] = std::string(prefix) + static_cast<char>('0' + i) + ".CFG";
    store.check_names[i] = std::string(prefix) + static_cast<char>('0' + i) + ".CRC";
  }
  for (int i = 0; i < 2; ++i) {
    std::vector<uint8_t> copy;
    if (!read_valid_copy(i, copy)) continue;
    settings_parse_text(reinterpret_cast<const char*>(copy.data()), copy.size());
    break;
  }
  for (int r = 0; table && r < count; ++r) {
    const SettingKeyDef& row = table[r];
    set_row_default(row, find_setting(row.name) == nullptr, true);
  }
  return save_settings();
}

bool save_settings() {
  if (store.copy_names[0].empty()) return false;
  std::string text = settings_to_text();
  uint32_t crc = crc32(text.data(), text.size());
  bool ok = true;
  for (int i = 0; i < 2; ++i) {
    // Copy i and its check are written before copy i + 1 is touched; when the
    // copy fails, its old check still matches its old text.
    if (sys_write_file(store.copy_names[i], text.data(), text.size()))
      ok = write_check(store.check_names[i], crc) && ok;
    else
      ok = false;
  }
  return ok;
}

bool apply_setting_defaults(const SettingKeyDef* table, int count, int all) {
  for (int r = 0; table && r < count; ++r)
    if (all || table[r].flag) set_row_default(table[r], true, false);
  return save_settings();
}

bool reset_all_settings(const SettingKeyDef* table, int count) { return apply_setting_defaults(table, count, 1); }
bool reset_flagged_settings(const SettingKeyDef* table, int count) { return apply_setting_defaults(table, count, 0); }

void free_settings() {
  store.entries.clear();
  for (int i = 0; i < 2; ++i) {
    store.copy_names[i].clear();
    store.check_names[i].clear();
  }
}

uint32_t crc32(const void* bytes, size_t length) {
  if (length == 0) return 0;
  return static_cast<uint32_t>(crc32_z(0, static_cast<const Bytef*>(bytes), length));
}

bool write_settings_crc(const std::string& copy_name, const std::string& check_name) {
  std::vector<uint8_t> copy;
  if (!sys_read_file(copy_name, copy, SETTINGS_FILE_MAX_BYTES)) return false;
  return write_check(check_name, crc32(copy.data(), copy.size()));
}

bool flush_file_to_disk(const std::string& name) {
  // Opened for reading so that a missing file is not created; the flush
  // reaches the file's data whatever the descriptor's mode.
  FILE* f = sys_fopen(name, "rb");
  if (!f) return false;
  bool ok = sys_flush_to_disk(f);
  std::fclose(f);
  return ok;
}

uint64_t shell_get_file_size(const std::string& name) { return get_file_size(name); }
