#include "platform/window/file_dialog.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

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
  Answers answers(files.path + "/a.sav\n\n" + jp_utf8 + "\r\n" + files.path + "/missing.sav\n" + files.path + "\n");

  std::string path = "unchanged";
  ASSERT_TRUE(file_dialog_open(kFilters, ".\\sav\\", path));
  EXPECT_EQ(path, files.path + "/a.sav");
  EXPECT_FALSE(file_dialog_open(kFilters, ".\\sav\\", path));  // empty line: cancelled
  ASSERT_TRUE(file_dialog_open(kFilters, ".\\sav\\", path));
  EXPECT_EQ(path, jp_utf8);  // the host path as chosen, CR dropped
  path = "unchanged";
  EXPECT_FALSE(file_dialog_open(kFilters, ".\\sav\\", path));  // the file must exist
  EXPECT_FALSE(file_dialog_open(kFilters, ".\\sav\\", path));  // a folder is no file
  EXPECT_FALSE(file_dialog_open(kFilters, ".\\sav\\", path));  // answers used up
  EXPECT_EQ(path, "unchanged");

  file_dialog_reset_answers();
  ASSERT_TRUE(file_dialog_open(kFilters, ".\\sav\\", path));
  EXPECT_EQ(path, files.path + "/a.sav");
}

TEST(FileDialog, SaveNamesGetTheDefaultExtension) {
  viewer_test::TempDir files;
  Answers answers(files.path + "/new\n" + files.path + "/new.SAV\n" + files.path + "/dotted.d/new\n" + files.path +
                  "\n");
  std::string path;
  ASSERT_TRUE(file_dialog_save(kFilters, ".\\sav\\", "sav", path));
  EXPECT_EQ(path, files.path + "/new.sav");
  ASSERT_TRUE(file_dialog_save(kFilters, ".\\sav\\", "sav", path));
  EXPECT_EQ(path, files.path + "/new.SAV");
  ASSERT_TRUE(file_dialog_save(kFilters, ".\\sav\\", "sav", path));
  EXPECT_EQ(path, files.path + "/dotted.d/new.sav");
  EXPECT_FALSE(file_dialog_save(kFilters, ".\\sav\\", "sav", path));  // an existing folder
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
