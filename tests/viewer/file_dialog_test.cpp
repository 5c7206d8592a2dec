#include "platform/window/file_dialog.h"

#include <gtest/gtest.h>

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
  EXPECT_EQ(path, sys_utf8_to_cp932(jp_utf8));  // CP932 out, CR dropped
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

TEST(FileDialog, NamesTheSystemCannotHoldAreRefused) {
  viewer_test::TempDir files;
  std::string long_name = files.path + "/" + std::string(260, 'a');
  Answers answers(long_name + "\n" + files.path + "/\xF0\x9F\x98\x80.sav\n");
  std::string path;
  EXPECT_FALSE(file_dialog_save(kFilters, ".\\sav\\", "sav", path));  // over 259 bytes
  EXPECT_FALSE(file_dialog_save(kFilters, ".\\sav\\", "sav", path));  // not CP932
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
