#include "viewer/dialogue_file.h"

#include <cstring>

#include "platform/sys/sys.h"
#include "platform/window/window.h"

namespace {

// Message captions, CP932.
// 定義ファイルがみつかりません
const char kMsgNotFound[] =
    "\x92\xe8\x8b\x60\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xaa\x82\xdd\x82\xc2\x82\xa9\x82\xe8\x82\xdc\x82\xb9\x82\xf1";
// 定義ファイルが読み込めません
const char kMsgUnreadable[] =
    "\x92\xe8\x8b\x60\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xaa\x93\xc7\x82\xdd\x8d\x9e\x82\xdf\x82\xdc\x82\xb9\x82\xf1";
// メモリが確保できません
const char kMsgNoMemory[] = "\x83\x81\x83\x82\x83\x8a\x82\xaa\x8a\x6d\x95\xdb\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1";
// コマンドが不正です
const char kMsgBadCommand[] = "\x83\x52\x83\x7d\x83\x93\x83\x68\x82\xaa\x95\x73\x90\xb3\x82\xc5\x82\xb7";
// NAMEの２重定義があります
const char kMsgNameTwice[] = "NAME\x82\xcc\x82\x51\x8f\x64\x92\xe8\x8b\x60\x82\xaa\x82\xa0\x82\xe8\x82\xdc\x82\xb7";
// NAMEが定義されていません
const char kMsgNoName[] = "NAME\x82\xaa\x92\xe8\x8b\x60\x82\xb3\x82\xea\x82\xc4\x82\xa2\x82\xdc\x82\xb9\x82\xf1";
// TYPEの２重定義があります
const char kMsgTypeTwice[] = "TYPE\x82\xcc\x82\x51\x8f\x64\x92\xe8\x8b\x60\x82\xaa\x82\xa0\x82\xe8\x82\xdc\x82\xb7";
// PARTの２重定義があります
const char kMsgPartTwice[] = "PART\x82\xcc\x82\x51\x8f\x64\x92\xe8\x8b\x60\x82\xaa\x82\xa0\x82\xe8\x82\xdc\x82\xb7";
// 文法エラー:[ がありません
const char kMsgNoOpen[] = "\x95\xb6\x96\x40\x83\x47\x83\x89\x81\x5b:[ \x82\xaa\x82\xa0\x82\xe8\x82\xdc\x82\xb9\x82\xf1";
// 文法エラー:] がありません
const char kMsgNoClose[] = "\x95\xb6\x96\x40\x83\x47\x83\x89\x81\x5b:] \x82\xaa\x82\xa0\x82\xe8\x82\xdc\x82\xb9\x82\xf1";

// Dialogue files are a few kilobytes; anything past this is not one.
constexpr uint64_t kMaxFileBytes = 16u << 20;
constexpr size_t kExcerptBytes = 100;

enum CommandId { CMD_NONE, CMD_NAME, CMD_TYPE, CMD_PART, CMD_TEXT1, CMD_TEXT2, CMD_TEXT3 };

// The text as the parser sees it: the file's bytes followed by a NUL.
struct Scanner {
  const uint8_t* data;
  size_t size;
  size_t pos;
  int at(size_t i) const { return i < size ? data[i] : 0; }
};

// A run of command text ends at every byte that is below 32 taken as a signed
// byte: control characters and every byte of 128 or more.
bool ends_run(int c) { return c < 32 || c >= 128; }

bool is_cp932_trail(int c) { return c >= 0x40 && c <= 0xFC && c != 0x7F; }

// Skips control bytes and single-byte upper-half characters, stopping at a
// double-byte lead. False at the end of the text (NUL or Ctrl-Z).
bool deffile_skip_blanks(Scanner& s) {
  for (;;) {
    int c = s.at(s.pos);
    if (c == 0 || c == 26) return false;
    if (!ends_run(c) || sys_is_cp932_lead(static_cast<unsigned char>(c))) return true;
    ++s.pos;
  }
}

std::string deffile_read_line(Scanner& s) {
  size_t start = s.pos;
  while (!ends_run(s.at(s.pos))) ++s.pos;
  return std::string(reinterpret_cast<const char*>(s.data) + start, s.pos - start);
}

// Up to kExcerptBytes of the text from pos, never splitting a double-byte
// character, for the subject of a message.
std::string excerpt(const Scanner& s, size_t pos) {
  size_t end = pos;
  while (end < s.size && end - pos < kExcerptBytes && s.data[end] != 0) {
    size_t step = (sys_is_cp932_lead(s.data[end]) && end + 1 < s.size) ? 2 : 1;
    if (end + step - pos > kExcerptBytes) break;
    end += step;
  }
  return std::string(reinterpret_cast<const char*>(s.data) + pos, end - pos);
}

// The bracketed argument after a command. A missing '[' gives an empty
// argument and leaves the scanner at that place; a missing ']' gives an empty
// argument and sets stop, which ends the parsing.
std::string deffile_parse_bracket_arg(Scanner& s, std::vector<DialogueMessage>& messages, bool& stop) {
  if (!deffile_skip_blanks(s)) return {};
  if (s.at(s.pos) != '[') {
    messages.push_back({kMsgNoOpen, excerpt(s, s.pos)});
    return {};
  }
  size_t start = ++s.pos;
  for (;;) {
    int c = s.at(s.pos);
    if (c == ']') {
      std::string arg(reinterpret_cast<const char*>(s.data) + start, s.pos - start);
      ++s.pos;
      return arg;
    }
    if (c == 0 || c == 26 || c == '\r' || c == '\n') {
      messages.push_back({kMsgNoClose, std::string(reinterpret_cast<const char*>(s.data) + start, s.pos - start)});
      stop = true;
      return {};
    }
    // Step over a double-byte character whole so that a ']' trail byte does
    // not end the argument.
    s.pos += (sys_is_cp932_lead(static_cast<unsigned char>(c)) && is_cp932_trail(s.at(s.pos + 1))) ? 2 : 1;
  }
}

CommandId deffile_command_id(const std::string& word) {
  static const struct {
    const char* word;
    CommandId id;
  } table[] = {{"NAME", CMD_NAME},   {"TYPE", CMD_TYPE},   {"PART", CMD_PART},
               {"TEXT1", CMD_TEXT1}, {"TEXT2", CMD_TEXT2}, {"TEXT3", CMD_TEXT3}};
  for (const auto& e : table) {
    if (word.size() != std::strlen(e.word)) continue;
    bool same = true;
    for (size_t i = 0; i < word.size() && same; ++i) {
      char c = word[i];
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
      same = c == e.word[i];
    }
    if (same) return e.id;
  }
  return CMD_NONE;
}

DialogueList* g_global = nullptr;

const char* text_or_null(const std::optional<std::string>& t) { return t ? t->c_str() : nullptr; }

}  // namespace

DialogueParseResult deffile_parse(const uint8_t* data, size_t size, DialogueParseMode mode) {
  DialogueParseResult result;
  Scanner s{data, data ? size : 0, 0};
  std::vector<DialogueRecord>& records = result.list.records;
  records.emplace_back();
  bool refused = false;
  bool stop = false;
  auto refuse = [&](const char* caption, const std::string& subject) {
    result.messages.push_back({caption, subject});
    refused = true;
  };

  while (!refused && !stop) {
    if (!deffile_skip_blanks(s)) break;
    std::string line = deffile_read_line(s);
    if (line.empty()) break;
    if (line[0] != '#') {
      refuse(kMsgBadCommand, line);
      break;
    }
    std::string word = line.substr(1);
    CommandId id = deffile_command_id(word);
    if (id == CMD_NONE) {
      refuse(kMsgBadCommand, word);
      break;
    }
    DialogueRecord* rec = &records.back();
    if (id == CMD_NAME) {
      if (rec->name && mode == DIALOGUE_PARSE_FILE) {
        refuse(kMsgNameTwice, line);
        break;
      }
      std::string arg = deffile_parse_bracket_arg(s, result.messages, stop);
      if (rec->name) rec = &records.emplace_back();
      rec->name = std::move(arg);
      continue;
    }
    if (!rec->name) {
      refuse(kMsgNoName, line);
      break;
    }
    std::string arg = deffile_parse_bracket_arg(s, result.messages, stop);
    switch (id) {
      case CMD_TYPE:
        if (rec->type) refuse(kMsgTypeTwice, arg);
        else rec->type = std::move(arg);
        break;
      case CMD_PART:
        if (rec->part) refuse(kMsgPartTwice, arg);
        else rec->part = std::move(arg);
        break;
      default:
        rec->lines.push_back({std::move(arg), static_cast<int32_t>(id - CMD_TEXT1)});
        break;
    }
  }

  result.ok = !refused;
  if (refused) records.clear();
  return result;
}

bool deffile_exists(const std::string& path) {
  FILE* f = sys_fopen(path, "rb");
  if (!f) return false;
  std::fclose(f);
  return true;
}

namespace {

// A box about the file at path: the file named as the file system spells it,
// then what it quotes from the file (CP932), each over lines that keep the
// box on the screen: a box is as wide as its longest line.
void file_box(const std::string& caption, const std::string& path, const std::string& quoted = "") {
  std::string text = sys_path_lines(path, kSysMessageColumns);
  if (!quoted.empty()) {
    text += '\n';
    text += sys_cp932_to_utf8(sys_cp932_text_lines(quoted, kSysMessageColumns));
  }
  window_message_box_utf8(text, caption);
}

// Reads and parses a file, showing its messages; false when it is refused.
bool parse_into(const std::string& path, DialogueParseMode mode, DialogueList& out) {
  if (!deffile_exists(path)) {
    // A file that is there but may not be read is not missing.
    file_box(sys_is_file(path) ? kMsgUnreadable : kMsgNotFound, path);
    return false;
  }
  if (get_file_size(path) > kMaxFileBytes) {
    window_message_box("", kMsgNoMemory);
    return false;
  }
  std::vector<uint8_t> bytes;
  if (!sys_read_file(path, bytes, kMaxFileBytes)) {
    file_box(kMsgUnreadable, path);
    return false;
  }
  DialogueParseResult r = deffile_parse(bytes.data(), bytes.size(), mode);
  for (const DialogueMessage& m : r.messages) file_box(m.caption, path, m.text);
  if (!r.ok) return false;
  out = std::move(r.list);
  return true;
}

}  // namespace

DialogueList* deffile_parse_file(const std::string& path) {
  DialogueList list;
  if (!parse_into(path, DIALOGUE_PARSE_FILE, list)) return nullptr;
  return new DialogueList(std::move(list));
}

void deffile_free_list(DialogueList* list) { delete list; }

int deffile_list_count(const DialogueList* list) { return list ? static_cast<int>(list->records.size()) : 0; }

const DialogueRecord* deffile_list_get(const DialogueList* list, int i) {
  if (!list || i < 0 || i >= static_cast<int>(list->records.size())) return nullptr;
  return &list->records[static_cast<size_t>(i)];
}

const char* deffile_list_get_name(const DialogueList* list, int i) {
  const DialogueRecord* r = deffile_list_get(list, i);
  return r ? text_or_null(r->name) : nullptr;
}

const char* deffile_list_get_type(const DialogueList* list, int i) {
  const DialogueRecord* r = deffile_list_get(list, i);
  return r ? text_or_null(r->type) : nullptr;
}

const char* deffile_list_get_part(const DialogueList* list, int i) {
  const DialogueRecord* r = deffile_list_get(list, i);
  return r ? text_or_null(r->part) : nullptr;
}

const char* deffile_list_pick_text(const DialogueList* list, int i, int pool) {
  const DialogueRecord* r = deffile_list_get(list, i);
  if (!r) return nullptr;
  int count = 0;
  for (const DialogueText& t : r->lines) count += t.pool == pool;
  if (count > 0) {
    int pick = sys_rand() % count;
    for (const DialogueText& t : r->lines) {
      if (t.pool == pool && pick-- == 0) return t.text.c_str();
    }
  }
  return r->lines.empty() ? "" : r->lines.front().text.c_str();
}

bool deffile_parse_global() {
  deffile_free_global();
  DialogueList list;
  if (!parse_into(".\\bin\\text.txt", DIALOGUE_PARSE_SPEAKERS, list)) return false;
  g_global = new DialogueList(std::move(list));
  return true;
}

void deffile_free_global() {
  delete g_global;
  g_global = nullptr;
}

int deffile_global_count() { return deffile_list_count(g_global); }
const DialogueRecord* deffile_global_get(int i) { return deffile_list_get(g_global, i); }
const char* deffile_global_get_name(int i) { return deffile_list_get_name(g_global, i); }
const char* deffile_global_get_type(int i) { return deffile_list_get_type(g_global, i); }
const char* deffile_global_get_part(int i) { return deffile_list_get_part(g_global, i); }
const char* deffile_global_pick_text(int i, int pool) { return deffile_list_pick_text(g_global, i, pool); }
