#include "viewer/dialogue_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sys/sys.h"
#include "viewer_test_util.h"

using viewer_test::sj;

namespace {

DialogueParseResult parse(const std::string& text, DialogueParseMode mode = DIALOGUE_PARSE_FILE) {
  return deffile_parse(reinterpret_cast<const uint8_t*>(text.data()), text.size(), mode);
}

std::string name_of(const DialogueParseResult& r) {
  return r.list.records.empty() || !r.list.records[0].name ? "<none>" : *r.list.records[0].name;
}

std::vector<std::string> lines_of(const DialogueParseResult& r, int pool) {
  std::vector<std::string> out;
  if (r.list.records.empty()) return out;
  for (const DialogueText& t : r.list.records[0].lines)
    if (t.pool == pool) out.push_back(t.text);
  return out;
}

const std::string kBadCommand = sj("コマンドが不正です");

TEST(DialogueFile, AcceptedGrammar) {
  struct Case {
    const char* what;
    std::string text;
    std::string name;
    std::vector<std::string> text1, text2, text3;
  };
  const Case cases[] = {
      {"upper case, CRLF", sj("#NAME\r\n[太郎]\r\n#TEXT1\r\n[こんにちは]\r\n#TEXT2\r\n[元気？]\r\n#TEXT3\r\n[またね]\r\n"),
       sj("太郎"), {sj("こんにちは")}, {sj("元気？")}, {sj("またね")}},
      {"lower and mixed case", sj("#name\n[花子]\n#text1\n[やあ]\n#Text3\n[じゃあ]\n"), sj("花子"), {sj("やあ")}, {}, {sj("じゃあ")}},
      {"argument after tabs and blank lines", "#NAME\n\n\t[a]\n\n#TEXT2\t[b]", "a", {}, {"b"}, {}},
      {"a ']' trail byte inside an argument", sj("#NAME\n[ゾロ]\n#TEXT1\n[ゾ]\n"), sj("ゾロ"), {sj("ゾ")}, {}, {}},
      {"file order kept", "#NAME\n[n]\n#TEXT1\n[1]\n#TEXT1\n[2]\n#TEXT1\n[3]\n", "n", {"1", "2", "3"}, {}, {}},
      {"leading single-byte kana skipped", "\xb1\xb2#NAME\n[n]\n", "n", {}, {}, {}},
      {"NUL ends the text", std::string("#NAME\n[n]\n\0#TEXT1\n[x]\n", 22), "n", {}, {}, {}},
      {"Ctrl-Z ends the text", "#NAME\n[n]\n\x1a#TEXT1\n[x]\n", "n", {}, {}, {}},
      {"a line starting with a double-byte character ends the text", sj("#NAME\n[n]\nあ\n#TEXT1\n[x]\n"), "n", {}, {}, {}},
      {"empty file", "", "<none>", {}, {}, {}},
      {"empty argument", "#NAME\n[]\n#TEXT1\n[]\n", "", {""}, {}, {}},
      {"argument at the end of the text", "#NAME\n[n]\n#TEXT1\n", "n", {""}, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DialogueParseResult r = parse(c.text);
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.list.records.size(), 1u);
    EXPECT_TRUE(r.messages.empty());
    EXPECT_EQ(name_of(r), c.name);
    EXPECT_EQ(lines_of(r, 0), c.text1);
    EXPECT_EQ(lines_of(r, 1), c.text2);
    EXPECT_EQ(lines_of(r, 2), c.text3);
  }
}

TEST(DialogueFile, RefusedFilesGiveTheirMessageAndNoList) {
  struct Case {
    const char* what;
    std::string text;
    std::string caption, subject;
  };
  const Case cases[] = {
      {"Japanese argument on the command's line", sj("#NAME [太郎]\n"), kBadCommand, "NAME ["},
      {"ASCII argument on the command's line", "#NAME[abc]\n", kBadCommand, "NAME[abc]"},
      {"trailing spaces after the word", "#NAME  \n[a]\n", kBadCommand, "NAME  "},
      {"leading space", " #NAME\n[a]\n", kBadCommand, " #NAME"},
      {"no '#'", "NAME\n[a]\n", kBadCommand, "NAME"},
      {"unknown word", "#NAME\n[a]\n#TEXT4\n[b]\n", kBadCommand, "TEXT4"},
      {"a line after the argument", "#NAME\n[a] x\n", kBadCommand, " x"},
      {"TEXT before NAME", "#TEXT1\n[a]\n", sj("NAMEが定義されていません"), "#TEXT1"},
      {"TYPE before NAME", "#type\n[a]\n", sj("NAMEが定義されていません"), "#type"},
      {"second NAME", "#NAME\n[a]\n#name\n[b]\n", sj("NAMEの２重定義があります"), "#name"},
      {"second TYPE", "#NAME\n[a]\n#TYPE\n[t]\n#TYPE\n[u]\n", sj("TYPEの２重定義があります"), "u"},
      {"second PART", "#NAME\n[a]\n#PART\n[p]\n#PART\n[q]\n", sj("PARTの２重定義があります"), "q"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DialogueParseResult r = parse(c.text);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.list.records.empty());
    ASSERT_FALSE(r.messages.empty());
    EXPECT_EQ(r.messages.back().caption, c.caption);
    EXPECT_EQ(r.messages.back().text, c.subject);
  }
}

TEST(DialogueFile, BracketErrorsAreReportedButKeepTheFile) {
  // No '[': the argument is empty and parsing goes on at that place.
  DialogueParseResult r = parse("#NAME\n#TEXT1\n[x]\n");
  ASSERT_TRUE(r.ok);
  ASSERT_EQ(r.messages.size(), 1u);
  EXPECT_EQ(r.messages[0].caption, sj("文法エラー:[ がありません"));
  EXPECT_EQ(r.messages[0].text, "#TEXT1\n[x]\n");
  EXPECT_EQ(name_of(r), "");
  EXPECT_EQ(lines_of(r, 0), std::vector<std::string>{"x"});

  // The subject stops at 100 bytes without splitting a double-byte character.
  std::string long_tail = "#" + std::string(99, 'a');
  r = parse("#NAME\n" + long_tail);
  ASSERT_FALSE(r.messages.empty());
  EXPECT_EQ(r.messages[0].text, long_tail.substr(0, 100));
  r = parse("#NAME\n" + sj("#ああああああああああああああああああああああああああああああああああああああああああああああああああああ"));
  ASSERT_FALSE(r.messages.empty());
  EXPECT_EQ(r.messages[0].text.size(), 99u);
  // A lead byte that ends the text stands alone in the subject.
  r = parse("#NAME\n#A\x82");
  ASSERT_FALSE(r.messages.empty());
  EXPECT_EQ(r.messages[0].text, "#A\x82");

  // No ']' before the line end: an empty argument, and parsing ends there.
  r = parse("#NAME\n[n]\n#TEXT1\n[abc\n#TEXT2\n[y]\n");
  ASSERT_TRUE(r.ok);
  ASSERT_EQ(r.messages.size(), 1u);
  EXPECT_EQ(r.messages[0].caption, sj("文法エラー:] がありません"));
  EXPECT_EQ(r.messages[0].text, "abc");
  EXPECT_EQ(lines_of(r, 0), std::vector<std::string>{""});
  EXPECT_TRUE(lines_of(r, 1).empty());
}

TEST(DialogueFile, SpeakerListStartsARecordAtEveryName) {
  DialogueParseResult r =
      parse("#NAME\n[a]\n#TYPE\n[t]\n#TEXT1\n[x]\n#NAME\n[b]\n#TYPE\n[u]\n#TEXT2\n[y]\n", DIALOGUE_PARSE_SPEAKERS);
  ASSERT_TRUE(r.ok);
  ASSERT_EQ(r.list.records.size(), 2u);
  EXPECT_EQ(*r.list.records[1].name, "b");
  EXPECT_EQ(*r.list.records[1].type, "u");
  ASSERT_EQ(r.list.records[1].lines.size(), 1u);
  EXPECT_EQ(r.list.records[1].lines[0].pool, 1);

  r = parse("#NAME\n[a]\n#NAME\n[b]\n#PART\n[p]\n#PART\n[q]\n", DIALOGUE_PARSE_SPEAKERS);
  EXPECT_FALSE(r.ok);
  EXPECT_TRUE(r.list.records.empty());
}

TEST(DialogueFile, LineChoiceByLevel) {
  DialogueParseResult r = parse("#NAME\n[n]\n#TEXT2\n[b1]\n#TEXT1\n[a]\n#TEXT2\n[b2]\n");
  ASSERT_TRUE(r.ok);
  const DialogueList* list = &r.list;

  // An empty pool falls back to the record's first line.
  EXPECT_STREQ(deffile_list_pick_text(list, 0, 2), "b1");
  EXPECT_STREQ(deffile_list_pick_text(list, 0, 0), "a");

  // Two lines of a pool are each chosen about half of the time, in the
  // order of the program's one random sequence.
  sys_rand_reset();
  int first = 0;
  for (int i = 0; i < 1000; ++i) first += std::string(deffile_list_pick_text(list, 0, 1)) == "b1";
  EXPECT_GT(first, 400);
  EXPECT_LT(first, 600);
  sys_rand_reset();
  int r0 = sys_rand() % 2;
  sys_rand_reset();
  EXPECT_STREQ(deffile_list_pick_text(list, 0, 1), r0 == 0 ? "b1" : "b2");

  // Only TEXT1 lines: shown at every level.
  DialogueParseResult only1 = parse("#NAME\n[n]\n#TEXT1\n[a]\n");
  for (int pool = 0; pool < 3; ++pool) EXPECT_STREQ(deffile_list_pick_text(&only1.list, 0, pool), "a");

  DialogueParseResult none = parse("#NAME\n[n]\n");
  EXPECT_STREQ(deffile_list_pick_text(&none.list, 0, 0), "");
  EXPECT_EQ(deffile_list_pick_text(nullptr, 0, 0), nullptr);
  EXPECT_EQ(deffile_list_pick_text(list, 1, 0), nullptr);
  EXPECT_EQ(deffile_list_get_type(list, 0), nullptr);
  EXPECT_EQ(deffile_list_get_name(nullptr, 0), nullptr);
  EXPECT_STREQ(deffile_list_get_name(list, 0), "n");
}

TEST(DialogueFile, FilesOnDisk) {
  viewer_test::TempDir dir;
  std::string good = dir.write("text/good.txt", sj("#NAME\r\n[語り手]\r\n#PART\r\n[腕]\r\n#TEXT1\r\n[よし]\r\n"));
  DialogueList* list = deffile_parse_file(good);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(deffile_list_count(list), 1);
  EXPECT_EQ(std::string(deffile_list_get_name(list, 0)), sj("語り手"));
  EXPECT_EQ(std::string(deffile_list_get_part(list, 0)), sj("腕"));
  deffile_free_list(list);

  // A malformed file is refused; the program goes on.
  EXPECT_EQ(deffile_parse_file(dir.write("text/bad.txt", "#NAME [x]\n")), nullptr);
  EXPECT_EQ(deffile_parse_file(dir.path + "/text/missing.txt"), nullptr);
  EXPECT_EQ(deffile_parse_file(dir.path + "/text"), nullptr);
  // A missing file is named over lines that keep the box on the screen.
  const std::string gone = dir.path + "/text/" + std::string(246, 'g');
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(deffile_parse_file(gone), nullptr);
  const std::string said = ::testing::internal::GetCapturedStderr();
  size_t widest = 0;
  EXPECT_EQ(viewer_test::joined(viewer_test::said_box(said, "定義ファイルがみつかりません", &widest)), gone) << said;
  EXPECT_LE(widest, kSysMessageColumns) << said;
  EXPECT_TRUE(deffile_exists(good));
  EXPECT_FALSE(deffile_exists(dir.path + "/text"));

  // Each box names the file as the file system spells it, then what it
  // quotes from the file, each over lines of at most 80 columns, never
  // broken inside a character; a file that is there but may not be read is
  // said to be so.
  ::mkdir((dir.path + "/gr\xC3\xBCn").c_str(), 0755);
  const std::string long_line = "It was a dark night " + std::string(280, 'x');
  // A double-byte character across the 80th column goes whole to the next line.
  const std::string long_text = std::string(79, 'z') + sj("あ") + std::string(219, 'z');
  struct Case {
    const char* what;
    std::string path;
    std::string caption, quoted;  // UTF-8
    mode_t mode = 0644;
  } cases[] = {
      {"a 300-column line that is no command", dir.write("text/command.txt", "#NAME\n[a]\n" + long_line + "\n"),
       "コマンドが不正です", long_line},
      {"a 300-column line without ']'", dir.write("text/bracket.txt", "#NAME\n[a]\n#TEXT1\n[" + long_text + "\n"),
       "文法エラー:] がありません", sys_cp932_to_utf8(long_text)},
      {"a file that may not be read", dir.write("text/locked.txt", "#NAME\n[a]\n"), "定義ファイルが読み込めません", "", 0},
      {"a missing file below a folder CP932 cannot write", dir.path + "/gr\xC3\xBCn/gr\xC3\xBC\xC3\x9F" "e.txt",
       "定義ファイルがみつかりません", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ::chmod(c.path.c_str(), c.mode);
    viewer_test::PermissionsHold hold;
    ::testing::internal::CaptureStderr();
    DialogueList* list = deffile_parse_file(c.path);
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(list != nullptr, c.caption == "文法エラー:] がありません") << "that file is still taken";
    deffile_free_list(list);
    size_t widest = 0;
    const std::string box = viewer_test::said_box(said, c.caption, &widest);
    EXPECT_EQ(viewer_test::joined(box), c.path + c.quoted) << said;
    EXPECT_EQ(box.find(c.path), 0u) << "the file first: " << said;
    EXPECT_LE(widest, kSysMessageColumns) << said;
    EXPECT_EQ(said.find("?"), std::string::npos) << said;
  }
}

// The speaker list read from ".\bin\text.txt" under the current folder:
// every NAME starts a record; a missing or malformed file is said and leaves
// the list empty.
TEST(DialogueFile, SpeakerListFromTheBinFolder) {
  viewer_test::TempDir dir;
  const std::string before = sys_get_current_dir();
  ASSERT_TRUE(sys_set_current_dir(dir.path));
  ::mkdir((dir.path + "/bin").c_str(), 0755);
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(deffile_parse_global());
  std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find(sys_cp932_to_utf8(sj("定義ファイルがみつかりません"))), std::string::npos) << said;
  EXPECT_EQ(deffile_global_count(), 0);

  dir.write("bin/text.txt", "#NAME\n[a]\n#TYPE\n[t]\n#PART\n[p]\n#TEXT3\n[x]\n#NAME\n[b]\n#TEXT1\n[y]\n");
  EXPECT_TRUE(deffile_parse_global());
  ASSERT_EQ(deffile_global_count(), 2);
  EXPECT_STREQ(deffile_global_get_name(0), "a");
  EXPECT_STREQ(deffile_global_get_type(0), "t");
  EXPECT_STREQ(deffile_global_get_part(0), "p");
  EXPECT_STREQ(deffile_global_get_name(1), "b");
  EXPECT_EQ(deffile_global_get_type(1), nullptr);
  EXPECT_STREQ(deffile_global_pick_text(0, 2), "x");
  EXPECT_STREQ(deffile_global_pick_text(1, 2), "y") << "the first line stands in for an empty pool";
  ASSERT_NE(deffile_global_get(1), nullptr);
  EXPECT_EQ(deffile_global_get(1)->lines.size(), 1u);
  EXPECT_EQ(deffile_global_get(2), nullptr);

  dir.write("bin/text.txt", "#TEXT1\n[x]\n");
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(deffile_parse_global());
  said = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find(sys_cp932_to_utf8(sj("NAMEが定義されていません"))), std::string::npos) << said;
  EXPECT_EQ(deffile_global_count(), 0) << "a refused file leaves no list";
  EXPECT_EQ(deffile_global_pick_text(0, 0), nullptr);
  deffile_free_global();
  EXPECT_EQ(deffile_global_count(), 0);
  sys_set_current_dir(before);
}

TEST(DialogueFile, SizeLimitIsSixteenMebibytesWithItsOwnMessage) {
  viewer_test::TempDir dir;
  const std::string no_memory = sys_cp932_to_utf8(sj("メモリが確保できません"));
  const struct {
    size_t bytes;
    bool accepted;
  } cases[] = {{(16u << 20) - 1, true}, {16u << 20, true}, {(16u << 20) + 1, false}};
  for (const auto& c : cases) {
    // Blank lines only: nothing to refuse but the size.
    const std::string path = dir.write("text/big.txt", std::string(c.bytes, '\n'));
    ::testing::internal::CaptureStderr();
    DialogueList* list = deffile_parse_file(path);
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(list != nullptr, c.accepted) << c.bytes;
    EXPECT_EQ(said.find(no_memory) != std::string::npos, !c.accepted) << c.bytes << ": " << said;
    deffile_free_list(list);
  }
}

}  // namespace
