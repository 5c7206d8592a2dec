// Arrangement files (".sav"): the ORDER flag, the points with their settings
// and dialogue-file paths, and the picture file's bytes, so that one file
// restores a whole viewer set-up. All fields little-endian:
//
//   "KTSX", point count N (signed 32), ORDER flag (32),
//   N x { reserved, x, y, radius (float), NUMBER, EFFECT, EF SPD, EF LV,
//         TIME (32 each, used as their low byte), name length L,
//         L bytes of the dialogue path XOR 0xB3 },
//   picture size S (32), S bytes of the picture file.
//
// Reading and writing go through the plain SaveArrangement; nothing here
// touches the viewer. A file is checked whole before anything is handed back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr int kSaveMaxPoints = 16;           // later records are read over and dropped
constexpr size_t kSaveMaxNameBytes = 259;    // a dialogue path, without a NUL
constexpr uint8_t kSaveNameKey = 0xB3;       // XOR key of the stored paths
constexpr uint64_t kSaveMaxFileBytes = 256u << 20;

struct SavePoint {
  // Centre and radius in units of the fitted picture (x of its width, y and
  // radius of its height), measured from the top-left of the layout.
  float x = 0, y = 0, radius = 0;
  uint8_t number = 0;         // NUMBER 0..15
  uint8_t effect = 0;         // EFFECT 0..5
  uint8_t effect_speed = 10;  // EF SPD 0..20
  uint8_t effect_level = 10;  // EF LV 0..20
  uint8_t time = 0;           // TIME 0..99 seconds, 0 = random
  // "" = no dialogue file. save_parse gives it as stored (CP932); the viewer
  // holds it, and hands it to save_write_file, as an absolute host path.
  std::string dialogue_path;
  // The dialogue path as a ".sav" stored it (CP932), which save_read_file
  // keeps beside the path it resolved to: save_write_file writes it back as
  // it stands, byte for byte, in place of dialogue_path, so that a path is
  // kept also where its file is missing, refused or unreadable. "" = none.
  std::string stored_path = {};
};

struct SaveArrangement {
  int32_t order = 0;               // as stored: nonzero = ORDER by NUMBER
  std::vector<SavePoint> points;   // at most kSaveMaxPoints
  std::vector<uint8_t> picture;    // the picture file's bytes
};

enum SaveStatus {
  SAVE_OK,
  SAVE_CANCELLED,            // the file dialog was closed without a file
  SAVE_NOT_FOUND,            // missing, empty or unreadable file
  SAVE_BAD_MAGIC,            // not an arrangement file
  SAVE_TRUNCATED,            // shorter than its fields announce
  SAVE_BAD_COUNT,            // negative point count, or more than the file can hold
  SAVE_BAD_NAME_LENGTH,      // a dialogue path over kSaveMaxNameBytes
  SAVE_BAD_PICTURE_SIZE,     // picture size past the end of the file
  SAVE_BAD_POSITION,         // a point position or radius that is not a finite number
  SAVE_TOO_LARGE,            // file over kSaveMaxFileBytes
  SAVE_NO_PICTURE,           // nothing to write: no picture bytes kept
  SAVE_TOO_MANY_POINTS,      // more points than a file restores
  SAVE_WRITE_FAILED,         // the file could not be written; an old one is untouched
  SAVE_BAD_NAME_CHARS,       // a dialogue path with characters CP932 cannot write; nothing written
};

// Parses a whole file image. On any refusal out is left as it was.
SaveStatus save_parse(const uint8_t* data, size_t size, SaveArrangement& out);
// Builds the file image of an arrangement. Paths are written without a NUL.
SaveStatus save_serialize(const SaveArrangement& arrangement, std::vector<uint8_t>& out);

// The host path a stored (CP932) dialogue path is loaded from: the stored
// path when it opens as a file, else its bare file name in the "text" folder
// of the working folder (work_dir, a host path). "" for an empty stored path.
std::string save_resolve_dialogue_path(const std::string& stored, const std::string& work_dir);

// Reads an arrangement from path. On success every dialogue_path has been
// resolved to the path to load, and stored_path holds it as stored. A
// refusal shows its message box and leaves out as it was.
SaveStatus save_read_file(const std::string& path, SaveArrangement& out);
// Writes an arrangement to path through sys_write_file: a symbolic link is
// written through, to the file it names, and stays a link; a file replaced
// keeps who may read and write it, and one this user may not write is
// never replaced. A stored_path is written as it stands; else a dialogue path inside
// the working folder is stored relative to it (".\text\a.txt", as the
// shipped arrangements store theirs), any other as it stands, in CP932. A
// failure shows its message box, naming the file as the file system spells
// it: a write that failed says why, then names the file written.
SaveStatus save_write_file(const std::string& path, const SaveArrangement& arrangement);

// LOAD: with a name, ".\sav\<name>"; without, the open-file dialog in the
// working folder's "sav" folder (a cancelled dialog shows nothing).
SaveStatus save_load_arrangement(const char* name, SaveArrangement& out, std::string* path = nullptr);
// SAVE: the save-file dialog in the working folder's "sav" folder, then
// save_write_file.
SaveStatus save_store_arrangement(const SaveArrangement& arrangement, std::string* path = nullptr);
