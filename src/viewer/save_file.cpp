#include "viewer/save_file.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <new>

#include "platform/sys/sys.h"
#include "platform/window/file_dialog.h"
#include "platform/window/window.h"
#include "viewer/dialogue_file.h"

namespace {

// Message captions, CP932.
// ファイルがロードできませんでした。
const char kMsgLoadFailed[] =
    "\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xaa\x83\x8d\x81\x5b\x83\x68\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1\x82\xc5"
    "\x82\xb5\x82\xbd\x81\x42";
// ファイルがセーブできませんでした。
const char kMsgSaveFailed[] =
    "\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xaa\x83\x5a\x81\x5b\x83\x75\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1\x82\xc5"
    "\x82\xb5\x82\xbd\x81\x42";
// メモリが確保できません
const char kMsgNoMemory[] = "\x83\x81\x83\x82\x83\x8a\x82\xaa\x8a\x6d\x95\xdb\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1";
// セーブする画像がありません
const char kMsgNoPicture[] =
    "\x83\x5a\x81\x5b\x83\x75\x82\xb7\x82\xe9\x89\xe6\x91\x9c\x82\xaa\x82\xa0\x82\xe8\x82\xdc\x82\xb9\x82\xf1";
// 台詞ファイルのパスが長すぎます
const char kMsgPathTooLong[] =
    "\x91\xe4\x8e\x8c\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xcc\x83\x70\x83\x58\x82\xaa\x92\xb7\x82\xb7\x82\xac\x82\xdc"
    "\x82\xb7";
// 台詞ファイルのパスにセーブデータに書けない文字があります
const char kMsgPathNotStorable[] =
    "\x91\xe4\x8e\x8c\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xcc\x83\x70\x83\x58\x82\xc9\x83\x5a\x81\x5b\x83\x75\x83\x66"
    "\x81\x5b\x83\x5e\x82\xc9\x8f\x91\x82\xaf\x82\xc8\x82\xa2\x95\xb6\x8e\x9a\x82\xaa\x82\xa0\x82\xe8\x82\xdc\x82\xb7";
// ポイントは最大１６個までです
const char kMsgTooManyPoints[] =
    "\x83\x7c\x83\x43\x83\x93\x83\x67\x82\xcd\x8d\xc5\x91\xe5\x82\x50\x82\x55\x8c\xc2\x82\xdc\x82\xc5\x82\xc5\x82\xb7";
// ポイントの位置が不正です
const char kMsgBadPosition[] =
    "\x83\x7c\x83\x43\x83\x93\x83\x67\x82\xcc\x88\xca\x92\x75\x82\xaa\x95\x73\x90\xb3\x82\xc5\x82\xb7";
// 画像ファイルが大きすぎます
const char kMsgPictureTooLarge[] =
    "\x89\xe6\x91\x9c\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xaa\x91\xe5\x82\xab\x82\xb7\x82\xac\x82\xdc\x82\xb7";
// Causes of a failed write, CP932.
// このフォルダには書き込めません
const char kCauseFolderNotWritable[] =
    "\x82\xb1\x82\xcc\x83\x74\x83\x48\x83\x8b\x83\x5f\x82\xc9\x82\xcd\x8f\x91\x82\xab\x8d\x9e\x82\xdf"
    "\x82\xdc\x82\xb9\x82\xf1";
// ディスクの空きが足りません
const char kCauseDiskFull[] =
    "\x83\x66\x83\x42\x83\x58\x83\x4e\x82\xcc\x8b\xf3\x82\xab\x82\xaa\x91\xab\x82\xe8\x82\xdc\x82\xb9"
    "\x82\xf1";
// ファイル名が長すぎます
const char kCauseNameTooLong[] =
    "\x83\x74\x83\x40\x83\x43\x83\x8b\x96\xbc\x82\xaa\x92\xb7\x82\xb7\x82\xac\x82\xdc\x82\xb7";
// フォルダがありません
const char kCauseNoFolder[] = "\x83\x74\x83\x48\x83\x8b\x83\x5f\x82\xaa\x82\xa0\x82\xe8\x82\xdc\x82\xb9\x82\xf1";
// 同じ名前のフォルダがあります
const char kCauseFolderOfThatName[] =
    "\x93\xaf\x82\xb6\x96\xbc\x91\x4f\x82\xcc\x83\x74\x83\x48\x83\x8b\x83\x5f\x82\xaa\x82\xa0\x82\xe8"
    "\x82\xdc\x82\xb7";
// このファイルには書き込めません
const char kCauseFileNotWritable[] =
    "\x82\xb1\x82\xcc\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xc9\x82\xcd\x8f\x91\x82\xab\x8d\x9e\x82\xdf"
    "\x82\xdc\x82\xb9\x82\xf1";
// このファイルは他のユーザーのもので、書き込めません
const char kCauseOthersFile[] =
    "\x82\xb1\x82\xcc\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xcd\x91\xbc\x82\xcc\x83\x86\x81\x5b\x83\x55"
    "\x81\x5b\x82\xcc\x82\xe0\x82\xcc\x82\xc5\x81\x41\x8f\x91\x82\xab\x8d\x9e\x82\xdf\x82\xdc\x82\xb9"
    "\x82\xf1";
// このファイルの所有者と属性を保ったまま書き込めません
const char kCauseOwnerNotKept[] =
    "\x82\xb1\x82\xcc\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xcc\x8f\x8a\x97\x4c\x8e\xd2\x82\xc6\x91\xae"
    "\x90\xab\x82\xf0\x95\xdb\x82\xc1\x82\xbd\x82\xdc\x82\xdc\x8f\x91\x82\xab\x8d\x9e\x82\xdf\x82\xdc"
    "\x82\xb9\x82\xf1";
// ファイルは途中まで書き換えられています
const char kCausePartWritten[] =
    "\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xcd\x93\x72\x92\x86\x82\xdc\x82\xc5\x8f\x91\x82\xab\x8a\xb7"
    "\x82\xa6\x82\xe7\x82\xea\x82\xc4\x82\xa2\x82\xdc\x82\xb7";
// リンクが循環しています
const char kCauseLinkLoop[] = "\x83\x8a\x83\x93\x83\x4e\x82\xaa\x8f\x7a\x8a\xc2\x82\xb5\x82\xc4\x82\xa2\x82\xdc\x82\xb7";
// 書き込めませんでした
const char kCauseOther[] = "\x8f\x91\x82\xab\x8d\x9e\x82\xdf\x82\xdc\x82\xb9\x82\xf1\x82\xc5\x82\xb5\x82\xbd";
// セーブデータ (*.sav)
const char kFilterName[] = "\x83\x5a\x81\x5b\x83\x75\x83\x66\x81\x5b\x83\x5e (*.sav)";

constexpr char kMagic[4] = {'K', 'T', 'S', 'X'};
constexpr size_t kHeaderBytes = 12;
constexpr size_t kRecordBytes = 40;  // ten words before the name

// Bounds-checked little-endian reads over the file image.
struct Reader {
  const uint8_t* data;
  size_t size;
  size_t pos;
  size_t left() const { return size - pos; }
  uint32_t u32() {
    uint32_t v = static_cast<uint32_t>(data[pos]) | static_cast<uint32_t>(data[pos + 1]) << 8 |
                 static_cast<uint32_t>(data[pos + 2]) << 16 | static_cast<uint32_t>(data[pos + 3]) << 24;
    pos += 4;
    return v;
  }
  float f32() {
    uint32_t bits = u32();
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
  }
};

void put_u32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void put_f32(std::vector<uint8_t>& out, float f) {
  uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  put_u32(out, bits);
}

// Start-up makes the working folder the current one and keeps it so.
// The working folder as a host path; the current folder before start-up
// has recorded one.
std::string work_dir_host() {
  const std::string& work = get_work_directory();
  return work.empty() ? sys_get_current_dir() : work;
}

// The points' dialogue paths as the file stores them, in CP932: one read
// from a file as it was stored there, byte for byte; one inside the working
// folder relative to it, as the shipped arrangements store theirs, so that
// the file keeps working when the folder is moved or copied. False, with the
// index of the first path CP932 cannot write, when one cannot be stored.
bool stored_dialogue_paths(SaveArrangement& a, const std::string& work_dir, size_t* bad) {
  for (size_t i = 0; i < a.points.size(); ++i) {
    std::string cp932 = a.points[i].stored_path;
    if (cp932.empty() && !sys_stored_path(a.points[i].dialogue_path, work_dir, cp932)) {
      *bad = i;
      return false;
    }
    a.points[i].dialogue_path = std::move(cp932);
  }
  return true;
}

// Why a step failed, in words for the user; a cause without words of its
// own is named by the system's text for it.
std::string error_cause(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
      return kCauseFolderNotWritable;
    case ENOSPC:
    case EDQUOT:
      return kCauseDiskFull;
    case ENAMETOOLONG:
      return kCauseNameTooLong;
    case ELOOP:
      return kCauseLinkLoop;
    case ENOENT:
    case ENOTDIR:
      return kCauseNoFolder;
    case EISDIR:
      return kCauseFolderOfThatName;
    default:
      return std::string(kCauseOther) + " (" + std::strerror(error) + ")";
  }
}

// Why a write failed: the file that was there, where it was the cause,
// else the step that failed.
std::string write_failure_cause(const SysWriteError& e) {
  // On a read-only file system nothing in the folder can be written.
  const bool refused = e.error != EROFS && (e.fault == SYS_WRITE_READ_ONLY || e.fault == SYS_WRITE_OTHERS_FILE ||
                                            (e.fault == SYS_WRITE_IN_PLACE && (e.error == EACCES || e.error == EPERM)));
  if (refused) return e.fault == SYS_WRITE_OTHERS_FILE ? kCauseOthersFile : kCauseFileNotWritable;
  // Written in place only where room for it can be set aside first.
  if (e.fault == SYS_WRITE_IN_PLACE && (e.error == EOPNOTSUPP || e.error == ENOSYS)) return kCauseOwnerNotKept;
  std::string cause = error_cause(e.error);
  if (e.fault == SYS_WRITE_PART_WRITTEN) cause += std::string("\n") + kCausePartWritten;
  return cause;
}

std::vector<FileDialogFilter> sav_filters() { return {{kFilterName, "*.sav"}}; }

}  // namespace

SaveStatus save_parse(const uint8_t* data, size_t size, SaveArrangement& out) {
  if (!data) size = 0;
  if (size >= sizeof kMagic && std::memcmp(data, kMagic, sizeof kMagic) != 0) return SAVE_BAD_MAGIC;
  if (size < kHeaderBytes) return size < sizeof kMagic ? SAVE_BAD_MAGIC : SAVE_TRUNCATED;
  Reader r{data, size, sizeof kMagic};
  int32_t count = static_cast<int32_t>(r.u32());
  SaveArrangement a;
  a.order = static_cast<int32_t>(r.u32());
  // Every record takes at least its ten words, and the picture size follows.
  if (count < 0 || static_cast<uint64_t>(count) * kRecordBytes + 4 > r.left()) return SAVE_BAD_COUNT;

  for (int32_t i = 0; i < count; ++i) {
    if (r.left() < kRecordBytes) return SAVE_TRUNCATED;
    r.u32();  // reserved
    SavePoint p;
    p.x = r.f32();
    p.y = r.f32();
    p.radius = r.f32();
    // The settings are words on file and bytes in use: their low byte counts.
    p.number = static_cast<uint8_t>(r.u32());
    p.effect = static_cast<uint8_t>(r.u32());
    p.effect_speed = static_cast<uint8_t>(r.u32());
    p.effect_level = static_cast<uint8_t>(r.u32());
    p.time = static_cast<uint8_t>(r.u32());
    uint32_t name_len = r.u32();
    if (name_len > kSaveMaxNameBytes) return SAVE_BAD_NAME_LENGTH;
    if (name_len > r.left()) return SAVE_TRUNCATED;
    std::string name(name_len, '\0');
    for (uint32_t k = 0; k < name_len; ++k) name[k] = static_cast<char>(data[r.pos + k] ^ kSaveNameKey);
    r.pos += name_len;
    name.resize(std::strlen(name.c_str()));
    if (i >= kSaveMaxPoints) continue;
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.radius)) return SAVE_BAD_POSITION;
    p.dialogue_path = std::move(name);
    a.points.push_back(std::move(p));
  }

  if (r.left() < 4) return SAVE_TRUNCATED;
  uint32_t picture_size = r.u32();
  if (picture_size > r.left()) return SAVE_BAD_PICTURE_SIZE;
  a.picture.assign(data + r.pos, data + r.pos + picture_size);
  out = std::move(a);
  return SAVE_OK;
}

SaveStatus save_serialize(const SaveArrangement& a, std::vector<uint8_t>& out) {
  if (a.picture.empty()) return SAVE_NO_PICTURE;
  if (a.points.size() > static_cast<size_t>(kSaveMaxPoints)) return SAVE_TOO_MANY_POINTS;
  uint64_t total = kHeaderBytes + 4 + a.picture.size();
  for (const SavePoint& p : a.points) {
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.radius)) return SAVE_BAD_POSITION;
    if (p.dialogue_path.size() > kSaveMaxNameBytes) return SAVE_BAD_NAME_LENGTH;
    total += kRecordBytes + p.dialogue_path.size();
  }
  if (total > kSaveMaxFileBytes) return SAVE_TOO_LARGE;

  std::vector<uint8_t> bytes;
  bytes.reserve(static_cast<size_t>(total));
  bytes.insert(bytes.end(), kMagic, kMagic + sizeof kMagic);
  put_u32(bytes, static_cast<uint32_t>(a.points.size()));
  put_u32(bytes, static_cast<uint32_t>(a.order));
  for (const SavePoint& p : a.points) {
    put_u32(bytes, 0);
    put_f32(bytes, p.x);
    put_f32(bytes, p.y);
    put_f32(bytes, p.radius);
    put_u32(bytes, p.number);
    put_u32(bytes, p.effect);
    put_u32(bytes, p.effect_speed);
    put_u32(bytes, p.effect_level);
    put_u32(bytes, p.time);
    put_u32(bytes, static_cast<uint32_t>(p.dialogue_path.size()));
    for (char c : p.dialogue_path) bytes.push_back(static_cast<uint8_t>(c) ^ kSaveNameKey);
  }
  put_u32(bytes, static_cast<uint32_t>(a.picture.size()));
  bytes.insert(bytes.end(), a.picture.begin(), a.picture.end());
  out = std::move(bytes);
  return SAVE_OK;
}

std::string save_resolve_dialogue_path(const std::string& stored, const std::string& work_dir) {
  if (stored.empty()) return {};
  std::string here = sys_host_path_from_cp932(stored, work_dir);
  if (deffile_exists(here)) return here;
  // The bare file name: drive and folders dropped, stepping over double-byte
  // characters whose trail byte is 0x5C.
  size_t base = 0;
  for (size_t i = 0; i < stored.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(stored[i]);
    if (sys_is_cp932_lead(c)) ++i;
    else if (c == '\\' || c == '/' || c == ':') base = i + 1;
  }
  std::string in_text = sys_join_path(work_dir, "text\\" + stored.substr(base));
  // A file that is there but may not be read is the one to name when the
  // text folder holds none that can be: its box then says it cannot be read.
  if (sys_is_file(here) && !deffile_exists(in_text)) return here;
  return in_text;
}

SaveStatus save_read_file(const std::string& path, SaveArrangement& out) {
  SaveStatus status = SAVE_NOT_FOUND;
  SaveArrangement a;
  uint64_t size = get_file_size(path);
  if (size > kSaveMaxFileBytes) {
    status = SAVE_TOO_LARGE;
  } else if (size > 0) {
    try {
      std::vector<uint8_t> bytes;
      if (sys_read_file(path, bytes, kSaveMaxFileBytes)) status = save_parse(bytes.data(), bytes.size(), a);
    } catch (const std::bad_alloc&) {
      status = SAVE_TOO_LARGE;
    }
  }
  if (status != SAVE_OK) {
    // Named as the file system spells it, over lines: a box is as wide as
    // its longest line.
    window_message_box_utf8(sys_path_lines(path, kSysMessageColumns),
                            status == SAVE_TOO_LARGE ? kMsgNoMemory : kMsgLoadFailed);
    return status;
  }
  const std::string work_dir = work_dir_host();
  for (SavePoint& p : a.points) {
    p.stored_path = std::move(p.dialogue_path);
    p.dialogue_path = save_resolve_dialogue_path(p.stored_path, work_dir);
  }
  out = std::move(a);
  return SAVE_OK;
}

SaveStatus save_write_file(const std::string& path, const SaveArrangement& arrangement) {
  SaveArrangement stored = arrangement;
  size_t bad = 0;
  // A dialogue path is named as the point holds it, the file the user chose,
  // spelled as the file system spells it: the letter at fault shows.
  auto show_dialogue = [&](size_t i, const char* caption) {
    window_message_box_utf8(sys_path_lines(arrangement.points[i].dialogue_path, kSysMessageColumns), caption);
  };
  if (!stored_dialogue_paths(stored, work_dir_host(), &bad)) {
    show_dialogue(bad, kMsgPathNotStorable);
    return SAVE_BAD_NAME_CHARS;
  }
  std::vector<uint8_t> bytes;
  SaveStatus status = save_serialize(stored, bytes);
  SysWriteError error;
  if (status == SAVE_OK && !sys_write_file(path, bytes.data(), bytes.size(), &error)) status = SAVE_WRITE_FAILED;
  // The file named as the file system spells it; a box is as wide as its
  // longest line, so a long path goes over lines.
  const std::string shown = sys_path_lines(path, kSysMessageColumns);
  switch (status) {
    case SAVE_OK:
      break;
    case SAVE_NO_PICTURE:
      window_message_box_utf8(shown, kMsgNoPicture);
      break;
    case SAVE_TOO_MANY_POINTS:
      window_message_box_utf8(shown, kMsgTooManyPoints);
      break;
    case SAVE_BAD_POSITION:
      window_message_box_utf8(shown, kMsgBadPosition);
      break;
    case SAVE_TOO_LARGE:
      window_message_box_utf8(shown, kMsgPictureTooLarge);
      break;
    case SAVE_BAD_NAME_LENGTH:
      for (size_t i = 0; i < stored.points.size(); ++i) {
        if (stored.points[i].dialogue_path.size() > kSaveMaxNameBytes) {
          show_dialogue(i, kMsgPathTooLong);
          break;
        }
      }
      break;
    default: {
      // The cause first, where the box starts, then the file the write went
      // to: through a link, the one it names, which the cause is about.
      const std::string target = sys_write_target(path);
      window_message_box_utf8(sys_cp932_to_utf8(write_failure_cause(error)) + "\n" +
                                  sys_path_lines(target.empty() ? path : target, kSysMessageColumns),
                              kMsgSaveFailed);
      break;
    }
  }
  return status;
}

SaveStatus save_load_arrangement(const char* name, SaveArrangement& out, std::string* path) {
  std::string file;
  if (name) {
    file = sys_host_path(std::string(".\\sav\\") + name);
  } else if (!file_dialog_open(sav_filters(), ".\\sav\\", file)) {
    return SAVE_CANCELLED;
  }
  if (path) *path = file;
  return save_read_file(file, out);
}

SaveStatus save_store_arrangement(const SaveArrangement& arrangement, std::string* path) {
  std::string file;
  if (!file_dialog_save(sav_filters(), ".\\sav\\", "sav", file)) return SAVE_CANCELLED;
  if (path) *path = file;
  return save_write_file(file, arrangement);
}
