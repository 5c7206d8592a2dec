#include "viewer/save_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "platform/window/file_dialog.h"
#include "viewer/dialogue_file.h"
#include "viewer_test_util.h"

using viewer_test::sj;

namespace {

// Builds file images field by field, independently of the writer.
struct Image {
  std::vector<uint8_t> bytes;
  Image& u32(uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return *this;
  }
  Image& f32(float f) {
    uint32_t b;
    std::memcpy(&b, &f, 4);
    return u32(b);
  }
  Image& raw(const std::string& s) {
    bytes.insert(bytes.end(), s.begin(), s.end());
    return *this;
  }
  Image& header(int32_t count, int32_t order) { return raw("KTSX").u32(static_cast<uint32_t>(count)).u32(static_cast<uint32_t>(order)); }
  Image& record(float x, float y, float r, uint32_t number, uint32_t effect, uint32_t speed, uint32_t level,
                uint32_t time, const std::string& name, uint32_t name_len) {
    u32(0x12345678).f32(x).f32(y).f32(r).u32(number).u32(effect).u32(speed).u32(level).u32(time).u32(name_len);
    for (char c : name) bytes.push_back(static_cast<uint8_t>(c) ^ 0xB3);
    return *this;
  }
  Image& record(float x, const std::string& name = "") {
    return record(x, 0.5f, 0.1f, 1, 2, 3, 4, 5, name, static_cast<uint32_t>(name.size()));
  }
  Image& picture(const std::string& p) { return u32(static_cast<uint32_t>(p.size())).raw(p); }
};

SaveStatus parse(const Image& img, SaveArrangement& out) { return save_parse(img.bytes.data(), img.bytes.size(), out); }

const std::string kPicture = "\x89PNG not really a picture";

TEST(SaveFile, ReadsRecordsAndKeepsTheFirstSixteen) {
  Image img;
  img.header(20, 7);
  for (int i = 0; i < 20; ++i) img.record(static_cast<float>(i) / 20.0f, "text\\p" + std::to_string(i) + ".txt");
  img.picture(kPicture);
  SaveArrangement a;
  ASSERT_EQ(parse(img, a), SAVE_OK);
  EXPECT_EQ(a.order, 7);
  ASSERT_EQ(a.points.size(), 16u);
  EXPECT_EQ(a.points[15].x, 15.0f / 20.0f);
  EXPECT_EQ(a.points[15].dialogue_path, "text\\p15.txt");
  EXPECT_EQ(a.points[3].y, 0.5f);
  EXPECT_EQ(a.points[3].radius, 0.1f);
  EXPECT_EQ(a.points[3].number, 1);
  EXPECT_EQ(a.points[3].effect, 2);
  EXPECT_EQ(a.points[3].effect_speed, 3);
  EXPECT_EQ(a.points[3].effect_level, 4);
  EXPECT_EQ(a.points[3].time, 5);
  // The picture after the four dropped records is still found.
  EXPECT_EQ(std::string(a.picture.begin(), a.picture.end()), kPicture);

  Image empty;
  empty.header(0, 0).picture(kPicture);
  ASSERT_EQ(parse(empty, a), SAVE_OK);
  EXPECT_TRUE(a.points.empty());
  EXPECT_EQ(a.picture.size(), kPicture.size());
}

TEST(SaveFile, SettingsAreTheLowByteOfTheirWords) {
  Image img;
  img.header(1, 0).record(0.25f, 0.75f, 0.05f, 256, 0x10005, 0xFFFFFF14, 0x30A, 17, "a", 1).picture(kPicture);
  SaveArrangement a;
  ASSERT_EQ(parse(img, a), SAVE_OK);
  ASSERT_EQ(a.points.size(), 1u);
  EXPECT_EQ(a.points[0].number, 0);
  EXPECT_EQ(a.points[0].effect, 5);
  EXPECT_EQ(a.points[0].effect_speed, 20);
  EXPECT_EQ(a.points[0].effect_level, 10);
  EXPECT_EQ(a.points[0].time, 17);
}

TEST(SaveFile, NamesEndAtTheirFirstNulOrLength) {
  Image img;
  img.header(3, 0)
      .record(0.1f, std::string("abc\0xyz", 7))
      .record(0.2f, std::string(259, 'n'))
      .record(0.3f, "")
      .picture(kPicture);
  SaveArrangement a;
  ASSERT_EQ(parse(img, a), SAVE_OK);
  EXPECT_EQ(a.points[0].dialogue_path, "abc");
  EXPECT_EQ(a.points[1].dialogue_path.size(), 259u);
  EXPECT_EQ(a.points[2].dialogue_path, "");
}

TEST(SaveFile, EveryTruncationIsRefusedAndChangesNothing) {
  Image img;
  img.header(3, 1).record(0.1f, "text\\a.txt").record(0.2f).record(0.3f, sj("台詞.txt")).picture(kPicture);
  SaveArrangement ok;
  ASSERT_EQ(parse(img, ok), SAVE_OK);
  for (size_t n = 0; n < img.bytes.size(); ++n) {
    SaveArrangement a;
    a.order = 99;
    std::vector<uint8_t> cut(img.bytes.begin(), img.bytes.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_NE(save_parse(cut.data(), cut.size(), a), SAVE_OK) << "cut at " << n;
    EXPECT_EQ(a.order, 99);
    EXPECT_TRUE(a.points.empty());
  }
}

TEST(SaveFile, MalformedFilesAreRefused) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  struct Case {
    const char* what;
    Image img;
    SaveStatus status;
  };
  std::vector<Case> cases;
  cases.push_back({"wrong magic", Image().raw("KTSY").u32(0).u32(0).picture(kPicture), SAVE_BAD_MAGIC});
  cases.push_back({"negative count", Image().header(-1, 0).picture(kPicture), SAVE_BAD_COUNT});
  cases.push_back({"huge count", Image().header(0x7FFFFFFF, 0).record(0.1f).picture(kPicture), SAVE_BAD_COUNT});
  cases.push_back({"count past the records", Image().header(2, 0).record(0.1f).picture(""), SAVE_BAD_COUNT});
  cases.push_back({"name over 259 bytes",
                   Image().header(1, 0).record(0.1f, 0.1f, 0.1f, 0, 0, 0, 0, 0, std::string(260, 'x'), 260).picture(kPicture),
                   SAVE_BAD_NAME_LENGTH});
  cases.push_back({"name length past the end",
                   Image().header(1, 0).record(0.1f, 0.1f, 0.1f, 0, 0, 0, 0, 0, "abc", 200).picture(kPicture),
                   SAVE_TRUNCATED});
  cases.push_back({"name of a dropped record over 259 bytes", [] {
                     Image i;
                     i.header(17, 0);
                     for (int k = 0; k < 16; ++k) i.record(0.1f);
                     i.record(0.1f, 0.1f, 0.1f, 0, 0, 0, 0, 0, "", 0x80000000u);
                     return i.picture(kPicture);
                   }(),
                   SAVE_BAD_NAME_LENGTH});
  cases.push_back({"picture size past the end", Image().header(0, 0).u32(1000).raw("abc"), SAVE_BAD_PICTURE_SIZE});
  cases.push_back({"picture size of 2^32 - 1", Image().header(0, 0).u32(0xFFFFFFFFu).raw("abc"), SAVE_BAD_PICTURE_SIZE});
  cases.push_back({"position not a number",
                   Image().header(1, 0).record(nan, 0.1f, 0.1f, 0, 0, 0, 0, 0, "", 0).picture(kPicture), SAVE_BAD_POSITION});
  cases.push_back({"infinite radius",
                   Image().header(1, 0).record(0.1f, 0.1f, INFINITY, 0, 0, 0, 0, 0, "", 0).picture(kPicture),
                   SAVE_BAD_POSITION});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SaveArrangement a;
    a.order = 5;
    EXPECT_EQ(parse(c.img, a), c.status);
    EXPECT_EQ(a.order, 5);
  }
}

SaveArrangement sample_arrangement(const std::string& dialogue) {
  SaveArrangement a;
  a.order = 1;
  for (int i = 0; i < 16; ++i) {
    SavePoint p;
    p.x = 0.05f * static_cast<float>(i);
    p.y = 1.0f - 0.03f * static_cast<float>(i);
    p.radius = 0.01f + 0.002f * static_cast<float>(i);
    p.number = static_cast<uint8_t>(15 - i);
    p.effect = static_cast<uint8_t>(i % 6);
    p.effect_speed = static_cast<uint8_t>(i);
    p.effect_level = static_cast<uint8_t>(20 - i);
    p.time = static_cast<uint8_t>(i * 6);
    p.dialogue_path = i % 3 == 0 ? std::string() : dialogue;
    a.points.push_back(p);
  }
  a.picture.assign(kPicture.begin(), kPicture.end());
  return a;
}

void expect_same(const SaveArrangement& a, const SaveArrangement& b) {
  EXPECT_EQ(a.order, b.order);
  ASSERT_EQ(a.points.size(), b.points.size());
  for (size_t i = 0; i < a.points.size(); ++i) {
    const SavePoint& p = a.points[i];
    const SavePoint& q = b.points[i];
    EXPECT_EQ(p.x, q.x);
    EXPECT_EQ(p.y, q.y);
    EXPECT_EQ(p.radius, q.radius);
    EXPECT_EQ(p.number, q.number);
    EXPECT_EQ(p.effect, q.effect);
    EXPECT_EQ(p.effect_speed, q.effect_speed);
    EXPECT_EQ(p.effect_level, q.effect_level);
    EXPECT_EQ(p.time, q.time);
    EXPECT_EQ(p.dialogue_path, q.dialogue_path);
  }
  EXPECT_EQ(a.picture, b.picture);
}

TEST(SaveFile, WhatSaveWritesLoadReadsBack) {
  viewer_test::TempDir dir;
  // A dialogue file chosen in a dialog: a host path, stored in CP932.
  std::string dialogue = dir.write("text/" + sys_cp932_to_utf8(sj("ソ.txt")), "#NAME\n[a]\n");
  SaveArrangement a = sample_arrangement(dialogue);
  std::vector<uint8_t> image;
  ASSERT_EQ(save_serialize(a, image), SAVE_OK);
  // The path is stored scrambled and without a NUL.
  ASSERT_EQ(std::search(image.begin(), image.end(), dialogue.begin(), dialogue.end()), image.end());
  SaveArrangement b;
  ASSERT_EQ(save_parse(image.data(), image.size(), b), SAVE_OK);
  expect_same(a, b);

  // Field by field as the format lays them out: a zero reserved word, the
  // settings as whole words, the name's length without a NUL.
  SaveArrangement one;
  one.order = 1;
  one.points.push_back(SavePoint{0.25f, 0.5f, 0.125f, 15, 5, 20, 0, 99, "a\\b.txt"});
  one.picture = {'P', 'I', 'C'};
  Image want;
  want.header(1, 1).u32(0).f32(0.25f).f32(0.5f).f32(0.125f).u32(15).u32(5).u32(20).u32(0).u32(99).u32(7);
  for (char ch : std::string("a\\b.txt")) want.bytes.push_back(static_cast<uint8_t>(ch) ^ 0xB3);
  want.picture("PIC");
  ASSERT_EQ(save_serialize(one, image), SAVE_OK);
  EXPECT_EQ(image, want.bytes);

  std::string path = dir.path + "/round.sav";
  ASSERT_EQ(save_write_file(path, a), SAVE_OK);
  SaveArrangement c;
  ASSERT_EQ(save_read_file(path, c), SAVE_OK);
  expect_same(a, c);
}

TEST(SaveFile, WriterRefusalsLeaveTheOldFile) {
  viewer_test::TempDir dir;
  std::string path = dir.write("old.sav", "old contents");
  SaveArrangement a = sample_arrangement("");

  SaveArrangement no_picture = a;
  no_picture.picture.clear();
  EXPECT_EQ(save_write_file(path, no_picture), SAVE_NO_PICTURE);
  SaveArrangement too_many = a;
  too_many.points.push_back(SavePoint{});
  EXPECT_EQ(save_write_file(path, too_many), SAVE_TOO_MANY_POINTS);
  SaveArrangement long_name = a;
  long_name.points[2].dialogue_path = std::string(260, 'x');
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(save_write_file(path, long_name), SAVE_BAD_NAME_LENGTH);
  std::string said = ::testing::internal::GetCapturedStderr();
  size_t widest = 0;
  EXPECT_EQ(viewer_test::joined(viewer_test::said_box(said, "台詞ファイルのパスが長すぎます", &widest)),
            long_name.points[2].dialogue_path)
      << said;
  EXPECT_LE(widest, kSysMessageColumns) << said;
  SaveArrangement nan_pos = a;
  nan_pos.points[1].y = std::numeric_limits<float>::quiet_NaN();
  EXPECT_EQ(save_write_file(path, nan_pos), SAVE_BAD_POSITION);
  EXPECT_EQ(viewer_test::read_all(path), "old contents");

  // A write that fails says why, then names the file over lines that keep
  // the box on the screen: through a link, the file it names. A file that
  // may not be written is never replaced.
  ::mkdir((dir.path + "/locked").c_str(), 0555);
  ::symlink("locked/x.sav", (dir.path + "/into-locked.sav").c_str());
  const std::string read_only = dir.write("read-only.sav", "read only");
  ::chmod(read_only.c_str(), 0444);
  struct Failure {
    std::string target;
    const char* cause;
    std::string named = "";  // the file named, where not the target
  } failures[] = {
      {dir.path + "/no/such/folder/x.sav", "フォルダがありません"},
      {dir.path + "/caf\xC3\xA9/x.sav", "フォルダがありません"},  // named as the file system spells it
      {dir.path + "/text", "同じ名前のフォルダがあります"},
      {dir.path + "/" + std::string(253, 'n') + ".sav", "ファイル名が長すぎます"},
      {dir.path + "/into-locked.sav", "このフォルダには書き込めません", dir.path + "/locked/x.sav"},
      {read_only, "このファイルには書き込めません"},
  };
  viewer_test::PermissionsHold hold;
  for (const Failure& f : failures) {
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(save_write_file(f.target, a), SAVE_WRITE_FAILED) << f.target;
    said = ::testing::internal::GetCapturedStderr();
    const std::string first = "ファイルがセーブできませんでした。: " + std::string(f.cause) + "\n";
    const size_t at = said.find(first);
    ASSERT_NE(at, std::string::npos) << said;
    std::string named;
    size_t widest = 0;
    std::istringstream lines(said.substr(at + first.size()));
    for (std::string line; std::getline(lines, line);) {
      named += line;
      widest = std::max(widest, line.size());
    }
    EXPECT_EQ(named, f.named.empty() ? f.target : f.named) << said;
    EXPECT_LE(widest, kSysMessageColumns) << said;
  }
  EXPECT_EQ(viewer_test::read_all(read_only), "read only");
  ASSERT_EQ(save_write_file(path, a), SAVE_OK);
  EXPECT_NE(viewer_test::read_all(path), "old contents");
}

TEST(SaveFile, ReaderRefusalsOnDisk) {
  viewer_test::TempDir dir;
  SaveArrangement a;
  a.order = 3;
  EXPECT_EQ(save_read_file(dir.path + "/missing.sav", a), SAVE_NOT_FOUND);
  EXPECT_EQ(save_read_file(dir.write("empty.sav", ""), a), SAVE_NOT_FOUND);
  EXPECT_EQ(save_read_file(dir.path + "/text", a), SAVE_NOT_FOUND);
  EXPECT_EQ(save_read_file(dir.write("bad.sav", "KTSX\x01"), a), SAVE_TRUNCATED);
  EXPECT_EQ(a.order, 3);
}

TEST(SaveFile, DialoguePathsFallBackToTheTextFolder) {
  viewer_test::TempDir dir;
  const std::string& work = dir.path;
  std::string here = dir.write("elsewhere.txt", "#NAME\n[a]\n");
  const std::string found = dir.write("text/" + sys_cp932_to_utf8(sj("台詞ソ.txt")), "#NAME\n[a]\n");

  EXPECT_EQ(save_resolve_dialogue_path("", work), "");
  // Present at its stored place: kept.
  EXPECT_EQ(save_resolve_dialogue_path(sys_utf8_to_cp932(here), work), here);
  // Absent there: the bare name in the text folder, also after a "ソ"
  // whose trail byte is a backslash.
  EXPECT_EQ(save_resolve_dialogue_path("C:\\old\\" + sj("台詞ソ.txt"), work), found);
  EXPECT_EQ(save_resolve_dialogue_path(sj("ソ\\ソ.txt"), work), work + "/text/" + sys_cp932_to_utf8(sj("ソ.txt")));
  EXPECT_EQ(save_resolve_dialogue_path("D:x.txt", work), work + "/text/x.txt");
  // There but not to be read, and none of its name in the text folder: taken
  // where it lies, so that its box says it cannot be read rather than that a
  // file elsewhere is missing.
  const std::string locked = dir.write("locked.txt", "#NAME\n[a]\n");
  ::chmod(locked.c_str(), 0);
  // There but not to be read, beside a copy in the text folder that can be:
  // the copy.
  const std::string unread = dir.write("unread.txt", "#NAME\n[a]\n");
  ::chmod(unread.c_str(), 0);
  const std::string copy = dir.write("text/unread.txt", "#NAME\n[a]\n");
  {
    viewer_test::PermissionsHold hold;
    EXPECT_EQ(save_resolve_dialogue_path(sys_utf8_to_cp932(locked), work), locked);
    EXPECT_EQ(save_resolve_dialogue_path(sys_utf8_to_cp932(unread), work), copy);
  }
  // A relative path lies below the working folder, wherever the current
  // folder is.
  ::mkdir((work + "/sub").c_str(), 0755);
  const std::string below = dir.write("sub/x.txt", "#NAME\n[a]\n");
  EXPECT_EQ(save_resolve_dialogue_path(".\\sub\\x.txt", work), below);
  EXPECT_EQ(save_resolve_dialogue_path("sub\\x.txt", work), below);

  // Through a whole file: the loaded path is the one found in "text".
  Image img;
  img.header(2, 0)
      .record(0.1f, "C:\\gone\\" + sj("台詞ソ.txt"))
      .record(0.2f, sys_utf8_to_cp932(here))
      .picture(kPicture);
  std::ofstream(dir.path + "/s.sav", std::ios::binary)
      .write(reinterpret_cast<const char*>(img.bytes.data()), static_cast<std::streamsize>(img.bytes.size()));
  // The working folder, which other tests set, is this one's.
  const std::string cwd = sys_get_current_dir();
  setup_work_directory_from(dir.path);
  SaveArrangement a;
  SaveStatus status = save_read_file("s.sav", a);
  setup_work_directory_from(cwd);
  ASSERT_EQ(status, SAVE_OK);
  ASSERT_EQ(a.points.size(), 2u);
  EXPECT_EQ(a.points[0].dialogue_path, found);
  EXPECT_EQ(a.points[1].dialogue_path, here);
}

// A dialogue path inside the working folder is stored relative to it, as
// the shipped arrangement stores its own, whatever characters or depth the
// folder has (also when the path reaches it through a link), and is read
// back below it. Any other path is stored as it stands, in CP932. A path
// that cannot be stored so is refused with nothing written, rather than
// stored as a path that cannot be read back, and its box names it as the
// file system spells it, the letter at fault too, over lines that keep it
// on the screen. The file's own name may hold any character.
TEST(SaveFile, SaveRefusesDialoguePathsItCannotStore) {
  viewer_test::TempDir dir;
  const std::string cafe = dir.path + "/caf\xC3\xA9";
  const std::string work = dir.path + "/j\xC3\xBCrgen/prog";  // "jürgen": no CP932 letter
  std::string deep = dir.path;
  for (int i = 0; i < 3; ++i) {
    deep += "/" + std::string(100, 'd');
    ::mkdir(deep.c_str(), 0755);
  }
  for (const std::string& d : {cafe, dir.path + "/\xE3\x83\x86", dir.path + "/j\xC3\xBCrgen", work, work + "/text",
                               deep + "/text"})
    ::mkdir(d.c_str(), 0755);
  ::symlink(work.c_str(), (dir.path + "/link").c_str());
  const std::string body = "#NAME\n[a]\n";
  const std::string so = sys_cp932_to_utf8(sj("ソ"));
  const std::string inside = dir.write(work.substr(dir.path.size() + 1) + "/text/a.txt", body);
  struct Case {
    std::string work, dialogue;
    SaveStatus want;
    std::string stored;     // CP932, as the file holds it
    std::string back;       // the path read back
    std::string kept = "";  // the path as a file read before stored it
  } cases[] = {
      {work, dir.write("caf\xC3\xA9/a.txt", body), SAVE_BAD_NAME_CHARS, "", ""},
      {work, dir.write("\xE3\x83\x86/a.txt", body), SAVE_OK, sys_utf8_to_cp932(dir.path) + "/\x83\x65/a.txt",
       dir.path + "/\xE3\x83\x86/a.txt"},
      {work, inside, SAVE_OK, ".\\text\\a.txt", inside},
      {work, dir.write(work.substr(dir.path.size() + 1) + "/text/" + so + ".txt", body), SAVE_OK,
       ".\\text\\" + sj("ソ") + ".txt", work + "/text/" + so + ".txt"},
      {work, dir.path + "/link/text/a.txt", SAVE_OK, ".\\text\\a.txt", inside},
      {deep, dir.write(deep.substr(dir.path.size() + 1) + "/text/a.txt", body), SAVE_OK, ".\\text\\a.txt",
       deep + "/text/a.txt"},
      {deep, dir.write(deep.substr(dir.path.size() + 1) + "/text/caf\xC3\xA9.txt", body), SAVE_BAD_NAME_CHARS, "", ""},
      {work, dir.write("a\\b.txt", body), SAVE_BAD_NAME_CHARS, "", ""},  // read back, '\' would be a separator
      {work, dir.write("j\xC3\xBCrgen/gr\xC3\xBC\xC3\x9F" "e.txt", body), SAVE_BAD_NAME_CHARS, "", ""},  // "grüße"
      // A path read from a file is written back byte for byte, also where
      // its file is found nowhere, and in place of the path it led to.
      {work, "", SAVE_OK, "C:\\gone\\" + sj("台詞.txt"), work + "/text/" + sys_cp932_to_utf8(sj("台詞.txt")),
       "C:\\gone\\" + sj("台詞.txt")},
      {work, inside, SAVE_OK, "text\\a.txt", inside, "text\\a.txt"},
  };
  const std::string cwd = sys_get_current_dir();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dialogue);
    setup_work_directory_from(c.work);
    const std::string path = cafe + "/out.sav";
    std::remove(path.c_str());
    ::testing::internal::CaptureStderr();
    SaveArrangement a = sample_arrangement(c.dialogue);
    for (size_t i = 0; i < a.points.size(); ++i)
      if (i % 3 != 0) a.points[i].stored_path = c.kept;
    EXPECT_EQ(save_write_file(path, a), c.want);
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(get_file_size(path) > 0, c.want == SAVE_OK);
    if (c.want != SAVE_OK) {
      size_t widest = 0;
      std::string named = viewer_test::joined(
          viewer_test::said_box(said, "台詞ファイルのパスにセーブデータに書けない文字があります", &widest));
      EXPECT_EQ(named, c.dialogue) << said;
      EXPECT_LE(widest, kSysMessageColumns) << said;
      continue;
    }
    const std::string bytes = viewer_test::read_all(path);
    SaveArrangement stored, back;
    ASSERT_EQ(save_parse(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), stored), SAVE_OK);
    EXPECT_EQ(stored.points[1].dialogue_path, c.stored);
    ASSERT_EQ(save_read_file(path, back), SAVE_OK);
    EXPECT_EQ(back.points[1].dialogue_path, c.back);
  }
  setup_work_directory_from(cwd);
}

TEST(SaveFile, LoadAndSaveThroughTheDialogs) {
  viewer_test::TempDir dir;
  std::string answers = dir.write("answers", dir.path + "/picked\n\n" + dir.path + "/picked.sav\n");
  ::setenv("TL_FILE_DIALOG_ANSWERS", answers.c_str(), 1);
  file_dialog_reset_answers();
  SaveArrangement a = sample_arrangement("");
  std::string path;
  EXPECT_EQ(save_store_arrangement(a, &path), SAVE_OK);
  EXPECT_EQ(path, sys_utf8_to_cp932(dir.path) + "/picked.sav");
  SaveArrangement b;
  EXPECT_EQ(save_load_arrangement(nullptr, b), SAVE_CANCELLED);
  EXPECT_EQ(save_load_arrangement(nullptr, b), SAVE_OK);
  expect_same(a, b);
  ::unsetenv("TL_FILE_DIALOG_ANSWERS");
}

}  // namespace

namespace {

// The shipped sample loads with every dialogue file, and saved unchanged it
// is the same file byte for byte: its dialogue paths are stored again as it
// stores them, relative to the working folder.
TEST(SaveFile, ShippedSampleLoadsWithItsDialogues) {
  viewer_test::TempDir out;
  std::string cwd = sys_get_current_dir();
  setup_work_directory_from(TL_DATA_DIR);
  SaveArrangement a;
  SaveStatus status = save_load_arrangement("sample01.sav", a);
  std::vector<DialogueList*> lists;
  for (const SavePoint& p : a.points)
    if (!p.dialogue_path.empty()) lists.push_back(deffile_parse_file(p.dialogue_path));
  EXPECT_EQ(save_write_file(out.path + "/again.sav", a), SAVE_OK);
  setup_work_directory_from(cwd);
  EXPECT_EQ(viewer_test::read_all(out.path + "/again.sav"), viewer_test::read_all(TL_DATA_DIR "/sav/sample01.sav"));
  ASSERT_EQ(status, SAVE_OK);
  EXPECT_GE(a.points.size(), 6u);
  EXPECT_GE(a.picture.size(), 1000u);
  EXPECT_GE(lists.size(), 4u);
  for (DialogueList* list : lists) {
    ASSERT_NE(list, nullptr);
    EXPECT_NE(deffile_list_get_name(list, 0), nullptr);
    for (int pool = 0; pool < 3; ++pool) EXPECT_STRNE(deffile_list_pick_text(list, 0, pool), "");
    deffile_free_list(list);
  }
}

}  // namespace
