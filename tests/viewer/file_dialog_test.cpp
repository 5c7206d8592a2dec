#include "platform/window/file_dialog.h"

#include <gtest/gtest.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>

#include "platform/window/window.h"
#include "viewer_test_util.h"

using viewer_test::sj;

namespace {

const std::vector<FileDialogFilter> kFilters = {{sj("セーブデータ (*.sav)"), "*.sav"}};

struct Answers {
  viewer_test::TempDir dir;
  explicit Answers(const std::string& lines) {
    ::setenv("TL_FILE_DIALOG_ANSWERS", dir.write("answers", lines).c_str(), 1);
    file_dialog_reset_answers();
  }
  ~Answers() { ::unsetenv("TL_FILE_DIALOG_ANSWERS"); }
};

TEST(FileDialog, ScriptedAnswersAreTakenInOrder) {
  viewer_test::TempDir files;
  const std::string jp_utf8 = files.path + "/" + sys_cp932_to_utf8(sj("配置ソ.sav"));
  files.write(sys_cp932_to_utf8(sj("配置ソ.sav")), "x");
  files.write("a.sav", "x");
  files.write("two\rlines.sav", "x");
  Answers answers(files.path + "/a.sav\n\n" + jp_utf8 + "\r\n" + files.path + "/missing.sav\n" + files.path + "\n" +
                  files.path + "/two\rlines.sav\n");

  std::string path = "unchanged";
  std::string no_file = "unchanged";
  ASSERT_TRUE(file_dialog_open(kFilters, ".\\sav\\", path, &no_file));
  EXPECT_EQ(path, files.path + "/a.sav");
  EXPECT_EQ(no_file, "");
  // Each refusal: whether the caller is left to name the choice, which
  // nothing has named, or not, because nothing was chosen or a box has said
  // why (a cancel says nothing).
  struct Refusal {
    const char* what;
    std::string no_file;
  } refusals[] = {
      {"empty line: cancelled", ""},
      {"the file must exist", files.path + "/missing.sav"},
      {"a folder is no file", files.path},
      {"a line break in the answer", ""},
      {"answers used up", ""},
  };
  for (size_t i = 0; i < std::size(refusals); ++i) {
    if (i == 1) {
      ASSERT_TRUE(file_dialog_open(kFilters, ".\\sav\\", path));
      EXPECT_EQ(path, jp_utf8);  // the host path as chosen, CR dropped
      path = "unchanged";
    }
    EXPECT_FALSE(file_dialog_open(kFilters, ".\\sav\\", path, &no_file)) << refusals[i].what;
    EXPECT_EQ(no_file, refusals[i].no_file) << refusals[i].what;
  }
  EXPECT_EQ(path, "unchanged");

  file_dialog_reset_answers();
  ASSERT_TRUE(file_dialog_open(kFilters, ".\\sav\\", path));
  EXPECT_EQ(path, files.path + "/a.sav");
}

// A save dialog's path, and the question before an existing file is
// replaced, asked once, about the file written. kdialog asks itself about
// the path it returns, and zenity does when told to confirm (the stand-ins
// say so on stderr, as the real ones ask, when that path is there), so the
// program asks when it added ".sav" to that path or the write lands on a
// file whose name differs in case, after zenity, which is not told to, and
// always after a scripted answer; only where a file is there to be
// replaced, not at a dangling link or a loop of links. A zenity that started and ended without a
// path is a cancel, with kdialog behind it never asked; one that could not
// start gives way to kdialog.
TEST(FileDialog, SaveNamesGetTheDefaultExtensionAndReplaceOnlyAfterAYes) {
  viewer_test::TempDir files;
  files.write("old.sav", "x");
  files.write("2024.12.08.sav", "x");
  files.write("UP.SAV", "x");
  files.write("sample01.sav", "x");
  files.write("notes", "x");
  files.write("notes.sav", "x");
  files.write(std::string(251, 'l') + ".sav", "x");
  ::mkdir((files.path + "/dir.sav").c_str(), 0755);
  ::mkdir((files.path + "/caf\xC3\xA9.sav").c_str(), 0755);
  // A folder whose path is 200 bytes.
  const std::string folder200(200 - files.path.size() - 1, 'f');
  ::mkdir((files.path + "/" + folder200).c_str(), 0755);
  ::symlink((files.path + "/gone").c_str(), (files.path + "/link.sav").c_str());
  ::symlink("loop.sav", (files.path + "/loop.sav").c_str());
  viewer_test::TempDir bin;
  const std::string old_path = std::getenv("PATH") ? std::getenv("PATH") : "";
  struct Case {
    const char* chooser;  // "" for a scripted answer
    std::string typed;
    const char* reply;  // the answer to the question, null for none at all
    std::string want;   // "" when nothing is to be written
    bool asked;
    const char* zenity_before = nullptr;  // a zenity stand-in in front of the chooser
    const char* named = nullptr;          // the file asked about, when the typed name differs in case
    std::string says = "";                // a message shown instead of writing
  } cases[] = {
      {"", "new", "", "new.sav", false},
      {"", "new.SAV", "", "new.SAV", false},
      {"", "dotted.d/new", "", "dotted.d/new.sav", false},
      {"", "2025.01.31", "", "2025.01.31.sav", false},
      {"zenity", "2024.12.08", "no", "", true},
      {"zenity", "UP.SAV", "yes", "UP.SAV", true},
      {"kdialog", "UP.SAV", "", "UP.SAV", false},
      {"", "", "", "", false},  // the folder itself
      {"", "old", "no", "", true},
      {"", "old", "yes", "old.sav", true},
      {"", "old", nullptr, "", true},
      {"", "old.sav", "no", "", true},
      {"", "link", "", "link.sav", false},  // dangling: the write makes its file
      {"", "loop", "", "loop.sav", false},  // the write is refused at once
      {"zenity", "new", "", "new.sav", false},
      {"zenity", "old", "no", "", true},
      {"zenity", "old.sav", "no", "", true},
      {"kdialog", "old", "no", "", true},
      {"kdialog", "old.sav", "no", "old.sav", false},
      {"kdialog", "new", "", "", false, "#!/bin/sh\nkill -TERM $$\n"},
      {"kdialog", "new", "", "", false, "#!/bin/sh\nexit 5\n"},
      {"kdialog", "new", "", "new.sav", false, "#!/bin/sh\nexit 127\n"},
      {"kdialog", "new", "", "new.sav", false, "#!/no/such/interpreter\n"},
      {"", "up", "no", "", true, nullptr, "UP.SAV"},
      {"", "up", "yes", "UP.SAV", true, nullptr, "UP.SAV"},
      {"zenity", "SAMPLE01.SAV", "no", "", true, nullptr, "sample01.sav"},
      {"zenity", "notes", "yes", "notes.sav", true},
      {"", "notes", "yes", "notes.sav", true},
      {"", std::string(251, 'l'), "no", "", true},  // 255 bytes with ".sav", the most a name holds
      {"", "dir", "", "", false, nullptr, nullptr,
       "同じ名前のフォルダがあるため保存できません\n" + files.path + "/dir.sav"},
      {"", "caf\xC3\xA9", "", "", false, nullptr, nullptr,
       "同じ名前のフォルダがあるため保存できません\n" + files.path + "/caf\xC3\xA9.sav"},
      {"zenity", "foo\nbar", "", "", false, nullptr, nullptr, "名前を付けて保存: 改行を含む名前は使えません"},
      {"", folder200, "", "", false, nullptr, nullptr, "同じ名前のフォルダがあるため保存できません\n" + files.path},
  };
  for (const Case& c : cases) {
    const std::string typed = files.path + (c.typed.empty() ? "" : "/" + c.typed);
    SCOPED_TRACE(std::string(c.chooser) + " " + c.typed);
    std::unique_ptr<Answers> scripted;
    if (*c.chooser) {
      ::unsetenv("TL_FILE_DIALOG_ANSWERS");
      const bool zenity = std::string(c.chooser) == "zenity";
      // kdialog's filter as Qt reads it and shows it, "name (patterns)", after
      // the folder: the name as zenity shows it.
      const std::string wanted =
          zenity ? "\" --save \"" : "\" --getsavefilename \"*\"/ セーブデータ (*.sav) --title \"";
      const std::string asks = zenity ? "case \" $* \" in *\" --confirm-overwrite \"*) " : "";
      const std::string script = bin.write(
          c.chooser, "#!/bin/sh\ncase \" $* \" in *" + wanted + "*) ;; *) exit 2 ;; esac\n" + asks + "[ ! -e '" +
                         typed + "' ] || echo '" + c.chooser + " asks: 上書きの確認' >&2" + (zenity ? " ;; esac" : "") +
                         "\necho '" + typed + "'\n");
      ::chmod(script.c_str(), 0755);
      if (c.zenity_before) ::chmod(bin.write("zenity", c.zenity_before).c_str(), 0755);
      ::setenv("PATH", bin.path.c_str(), 1);
    } else {
      scripted = std::make_unique<Answers>(typed + "\n");
    }
    if (c.reply) {
      ::setenv("TL_MESSAGEBOX_ANSWERS", bin.write("replies", std::string(c.reply) + "\n").c_str(), 1);
      window_reset_answers();
    }
    std::string path = "unchanged";
    ::testing::internal::CaptureStderr();
    const bool ok = file_dialog_save(kFilters, ".\\sav\\", "sav", path);
    const std::string said = ::testing::internal::GetCapturedStderr();
    ::setenv("PATH", old_path.c_str(), 1);
    ::unsetenv("TL_MESSAGEBOX_ANSWERS");
    if (*c.chooser) std::remove((bin.path + "/" + c.chooser).c_str());
    std::remove((bin.path + "/zenity").c_str());
    EXPECT_EQ(ok, !c.want.empty());
    EXPECT_EQ(path, c.want.empty() ? "unchanged" : files.path + "/" + c.want);
    // The program's own question, and any the chooser asked.
    const std::string head = "tamberlune: 上書きの確認: ";
    EXPECT_EQ(said.find(head) != std::string::npos, c.asked) << said;
    size_t questions = 0;
    for (size_t at = said.find("上書きの確認"); at != std::string::npos; at = said.find("上書きの確認", at + 1))
      ++questions;
    EXPECT_LE(questions, 1u) << "asked more than once: " << said;
    EXPECT_EQ(said.find("zenity または kdialog"), std::string::npos) << said;
    const bool has_sav = c.typed.size() > 4 && ::strcasecmp(c.typed.c_str() + c.typed.size() - 4, ".sav") == 0;
    const std::string name = c.named ? c.named : has_sav ? c.typed : c.typed + ".sav";
    const size_t asked_at = said.find(head);
    if (c.asked && asked_at != std::string::npos) {
      // The file's name on lines of its own that keep the box on the screen.
      const size_t at = asked_at + head.size();
      std::istringstream subject(said.substr(at, said.find(": このファイルは既にあります", at) - at));
      std::string named;
      for (std::string line; std::getline(subject, line);) {
        EXPECT_LE(line.size(), kSysMessageColumns) << line;
        named += line;
      }
      EXPECT_EQ(named, name) << said;
    }
    EXPECT_NE(said.find(c.says), std::string::npos) << said;
    // A message names the file over lines that keep the box on the screen.
    size_t widest = 0;
    viewer_test::said_box(said, "名前を付けて保存", &widest);
    EXPECT_LE(widest, kSysMessageColumns) << said;
  }
}

// A chosen file is used where it lies, whatever its name: accents, an emoji
// and a name longer than a Windows path buffer all come back unchanged, and
// an answer relative to the current folder comes back absolute.
TEST(FileDialog, ChosenPathsAreTakenWhateverTheirCharacters) {
  viewer_test::TempDir files;
  ::mkdir((files.path + "/caf\xC3\xA9").c_str(), 0755);
  const std::string cafe = files.write("caf\xC3\xA9/a.sav", "x");
  const std::string emoji = files.write("\xF0\x9F\x98\x80.sav", "x");
  std::string deep = files.path;
  for (int i = 0; i < 3; ++i) {
    deep += "/" + std::string(100, 'a');
    ::mkdir(deep.c_str(), 0755);
  }
  const std::string long_name = deep + "/b.sav";
  files.write(long_name.substr(files.path.size() + 1), "x");
  Answers answers(cafe + "\n" + emoji + "\n" + long_name + "\n" + files.path + "/caf\xC3\xA9/new\nrel.sav\n");

  struct Case {
    bool save;
    std::string want;
  } cases[] = {
      {false, cafe},
      {false, emoji},
      {false, long_name},
      {true, files.path + "/caf\xC3\xA9/new.sav"},
      {true, sys_get_current_dir() + "/rel.sav"},
  };
  for (const Case& c : cases) {
    std::string path;
    const bool ok = c.save ? file_dialog_save(kFilters, ".\\sav\\", "sav", path)
                           : file_dialog_open(kFilters, ".\\sav\\", path);
    EXPECT_TRUE(ok) << c.want;
    EXPECT_EQ(path, c.want);
  }
}

TEST(FileDialog, NoChooserMeansNoFile) {
  viewer_test::TempDir empty;
  ::unsetenv("TL_FILE_DIALOG_ANSWERS");
  std::string old_path = std::getenv("PATH") ? std::getenv("PATH") : "";
  ::setenv("PATH", empty.path.c_str(), 1);
  std::string path = "unchanged";
  EXPECT_FALSE(file_dialog_open(kFilters, ".\\sav\\", path));
  ::setenv("PATH", old_path.c_str(), 1);
  EXPECT_EQ(path, "unchanged");
}

}  // namespace
