// Dialogue text files: a speaker name and lines in three pools, one per
// LEVEL, written by the user in CP932. Each command ("#NAME", "#TYPE",
// "#PART", "#TEXT1".."#TEXT3", any case) stands alone on its line; its
// argument follows in square brackets after the line break.
//
// Parsing is a pure function over the file's bytes that hands back the
// records and the messages for the user; a malformed file is refused as a
// whole and never ends the program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct DialogueText {
  std::string text;  // CP932
  int32_t pool = 0;  // 0, 1 or 2 (TEXT1..TEXT3)
};

struct DialogueRecord {
  std::optional<std::string> name, type, part;  // CP932; unset = never given
  std::vector<DialogueText> lines;              // in file order
};

// A parsed file: one record, or several for the speaker-list form in which
// every NAME after the first starts a new record.
struct DialogueList {
  std::vector<DialogueRecord> records;
};

// A message box for the user: caption is the message, text its subject (CP932).
struct DialogueMessage {
  std::string caption;
  std::string text;
};

enum DialogueParseMode {
  DIALOGUE_PARSE_FILE,      // one speaker; a second NAME refuses the file
  DIALOGUE_PARSE_SPEAKERS,  // every NAME after the first starts a new record
};

struct DialogueParseResult {
  bool ok = false;                        // false: the file is refused, list is empty
  DialogueList list;
  std::vector<DialogueMessage> messages;  // in the order they arose, also when ok
};

DialogueParseResult deffile_parse(const uint8_t* data, size_t size, DialogueParseMode mode = DIALOGUE_PARSE_FILE);

// Reads and parses a dialogue file, showing every message in a message box
// that names the file and quotes what it quotes from it, over lines that
// keep the box on the screen; a file that is there but may not be read is
// said to be so, not missing. Returns a new list (free it with
// deffile_free_list), or null when the file is missing, unreadable or
// refused.
DialogueList* deffile_parse_file(const std::string& path);
void deffile_free_list(DialogueList* list);
bool deffile_exists(const std::string& path);

int deffile_list_count(const DialogueList* list);
const DialogueRecord* deffile_list_get(const DialogueList* list, int i);
// The record's texts; null for a null list, a missing record or an unset field.
const char* deffile_list_get_name(const DialogueList* list, int i);
const char* deffile_list_get_type(const DialogueList* list, int i);
const char* deffile_list_get_part(const DialogueList* list, int i);
// A random line of the pool (sys_rand), else the record's first line, else
// "". Null for a null list or a missing record. The text lives as long as
// the list.
const char* deffile_list_pick_text(const DialogueList* list, int i, int pool);

// The speaker list read from ".\bin\text.txt": every NAME starts a record.
// A missing or malformed file is reported and leaves the list empty.
bool deffile_parse_global();
void deffile_free_global();
int deffile_global_count();
const DialogueRecord* deffile_global_get(int i);
const char* deffile_global_get_name(int i);
const char* deffile_global_get_type(int i);
const char* deffile_global_get_part(int i);
const char* deffile_global_pick_text(int i, int pool);
