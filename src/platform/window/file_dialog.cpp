#include "platform/window/file_dialog.h"

#include <fcntl.h>
#include <spawn.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/sys/sys.h"
#include "platform/window/scripted_answers.h"
#include "platform/window/window.h"

extern char** environ;

namespace {

// 開く
const char kTitleOpen[] = "\x8a\x4a\x82\xad";
// 名前を付けて保存
const char kTitleSave[] = "\x96\xbc\x91\x4f\x82\xf0\x95\x74\x82\xaf\x82\xc4\x95\xdb\x91\xb6";
// ファイル選択ダイアログを開けません
const char kMsgNoChooser[] =
    "\x83\x74\x83\x40\x83\x43\x83\x8b\x91\x49\x91\xf0\x83\x5f\x83\x43\x83\x41\x83\x8d\x83\x4f\x82\xf0\x8a\x4a\x82\xaf"
    "\x82\xdc\x82\xb9\x82\xf1";
// zenity または kdialog が必要です
const char kMsgNeedChooser[] = "zenity \x82\xdc\x82\xbd\x82\xcd kdialog \x82\xaa\x95\x4b\x97\x76\x82\xc5\x82\xb7";
// 上書きの確認
const char kCaptionReplace[] = "\x8f\xe3\x8f\x91\x82\xab\x82\xcc\x8a\x6d\x94\x46";
// このファイルは既にあります。上書きしますか？
const char kMsgReplace[] =
    "\x82\xb1\x82\xcc\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xcd\x8a\xf9\x82\xc9\x82\xa0\x82\xe8\x82\xdc"
    "\x82\xb7\x81\x42\x8f\xe3\x8f\x91\x82\xab\x82\xb5\x82\xdc\x82\xb7\x82\xa9\x81\x48";

// 改行を含む名前は使えません
const char kMsgLineBreak[] =
    "\x89\xfc\x8d\x73\x82\xf0\x8a\xdc\x82\xde\x96\xbc\x91\x4f\x82\xcd\x8e\x67\x82\xa6\x82\xdc"
    "\x82\xb9\x82\xf1";
// 同じ名前のフォルダがあるため保存できません
const char kMsgFolderOfThatName[] =
    "\x93\xaf\x82\xb6\x96\xbc\x91\x4f\x82\xcc\x83\x74\x83\x48\x83\x8b\x83\x5f\x82\xaa\x82\xa0"
    "\x82\xe9\x82\xbd\x82\xdf\x95\xdb\x91\xb6\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1";

// Index of the next line of TL_FILE_DIALOG_ANSWERS to hand out.
size_t g_next_answer = 0;

enum ChooserResult { CHOOSER_CHOSEN, CHOOSER_CANCELLED, CHOOSER_FAILED };

// The next scripted answer; false when no answer file is set.
bool take_answer(ChooserResult& result, std::string& utf8) {
  if (!scripted_answer_take("TL_FILE_DIALOG_ANSWERS", g_next_answer, utf8)) return false;
  result = utf8.empty() ? CHOOSER_CANCELLED : CHOOSER_CHOSEN;
  return true;
}

std::string find_in_path(const char* name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  size_t pos = 0;
  while (pos <= dirs.size()) {
    size_t end = dirs.find(':', pos);
    if (end == std::string::npos) end = dirs.size();
    std::string candidate = (end > pos ? dirs.substr(pos, end - pos) : std::string(".")) + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    pos = end + 1;
  }
  return {};
}

// How a child run ended: it could not be started, it exited with 0, or it
// ended otherwise (another exit code, or killed by a signal).
enum ChildEnd { CHILD_NOT_STARTED, CHILD_SUCCEEDED, CHILD_ENDED };

// Runs program with argv (no shell), collecting its standard output. The
// 126 and 127 a shell exits with when it cannot start a program count as no
// start, as a spawn that failed does.
ChildEnd run_child(const std::string& program, const std::vector<std::string>& args, std::string& output) {
  int fds[2];
  if (::pipe(fds) != 0) return CHILD_NOT_STARTED;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  posix_spawn_file_actions_addclose(&actions, fds[1]);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  if (rc != 0) {
    ::close(fds[0]);
    return CHILD_NOT_STARTED;
  }
  char buf[4096];
  for (;;) {
    ssize_t n = ::read(fds[0], buf, sizeof buf);
    if (n > 0) output.append(buf, static_cast<size_t>(n));
    else if (n == 0 || errno != EINTR) break;
  }
  ::close(fds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return CHILD_ENDED;
  }
  if (!WIFEXITED(status)) return CHILD_ENDED;
  if (WEXITSTATUS(status) == 126 || WEXITSTATUS(status) == 127) return CHILD_NOT_STARTED;
  return WEXITSTATUS(status) == 0 ? CHILD_SUCCEEDED : CHILD_ENDED;
}

// A pattern that matches names in any case, as the filters' patterns do on
// the system they were written for: each letter becomes "[xX]", which both
// choosers' patterns take.
std::string any_case(const std::string& pattern) {
  std::string out;
  for (char c : pattern) {
    const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    out += lower == upper ? std::string(1, c) : std::string{'[', lower, upper, ']'};
  }
  return out;
}

// The patterns apart by spaces, each made to match in any case when
// any_case_letters is set. "*.*" means every file, as it does on the system
// the filters were written for, not only names with a dot.
std::string space_patterns(const std::string& patterns, bool any_case_letters) {
  std::string out;
  size_t pos = 0;
  while (pos <= patterns.size()) {
    size_t end = patterns.find(';', pos);
    if (end == std::string::npos) end = patterns.size();
    if (end > pos) {
      const std::string p = patterns.substr(pos, end - pos);
      if (!out.empty()) out += ' ';
      out += p == "*.*" ? std::string("*") : any_case_letters ? any_case(p) : p;
    }
    pos = end + 1;
  }
  return out;
}

std::vector<std::string> zenity_args(bool save, const std::vector<FileDialogFilter>& filters, const std::string& dir) {
  std::vector<std::string> args = {"--file-selection",
                                   "--title=" + sys_cp932_to_utf8(save ? kTitleSave : kTitleOpen),
                                   "--filename=" + dir + "/"};
  // Not told to confirm a replace: it would ask about the name typed, which
  // may then get ".sav", so that the user would be asked about a file never
  // written and then again about the one written.
  if (save) args.push_back("--save");
  for (const FileDialogFilter& f : filters)
    args.push_back("--file-filter=" + sys_cp932_to_utf8(f.name) + " | " + space_patterns(f.patterns, true));
  return args;
}

std::vector<std::string> kdialog_args(bool save, const std::vector<FileDialogFilter>& filters, const std::string& dir) {
  // kdialog hands the filters to Qt's file dialog, one a line, each read as
  // "name (patterns)" and shown as it is written. The name's own "(...)"
  // gives way to the patterns, written as they are: Qt's dialog and the
  // desktop's own file dialog both match them in any case, so the filter
  // reads as zenity shows it, "セーブデータ (*.sav)".
  std::string filter;
  for (const FileDialogFilter& f : filters) {
    std::string name = sys_cp932_to_utf8(f.name);
    const size_t open = name.rfind('(');
    if (open != std::string::npos && name.back() == ')') name.erase(open);
    while (!name.empty() && name.back() == ' ') name.pop_back();
    if (!filter.empty()) filter += "\n";
    filter += name + " (" + space_patterns(f.patterns, false) + ")";
  }
  return {save ? "--getsavefilename" : "--getopenfilename", dir + "/", filter, "--title",
          sys_cp932_to_utf8(save ? kTitleSave : kTitleOpen)};
}

using ChooserArgs = std::vector<std::string> (*)(bool, const std::vector<FileDialogFilter>&, const std::string&);

// Asks the scripted answers, else the first chooser that starts. utf8 gets
// the chosen path. *confirmed tells whether the chooser asked before it
// returned an existing file to write: kdialog always does; zenity is not told
// to, and a scripted answer has been confirmed by no one. A chooser that
// started and ended without a path (closed, failed, or killed: Ctrl-C in the
// terminal kills it, and then ends the program too) is a cancel: the next
// chooser would ask the user a second time, and the missing-chooser box
// would be wrong.
ChooserResult ask_chooser(bool save, const std::vector<FileDialogFilter>& filters, const std::string& initial_dir,
                          std::string& utf8, bool* confirmed) {
  ChooserResult scripted;
  if (take_answer(scripted, utf8)) return scripted;
  std::string dir = sys_host_path(initial_dir);
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  static const struct {
    const char* name;
    ChooserArgs args;
    bool confirms;  // asks itself before it returns an existing file to write
  } choosers[] = {{"zenity", zenity_args, false}, {"kdialog", kdialog_args, true}};
  for (const auto& c : choosers) {
    std::string program = find_in_path(c.name);
    if (program.empty()) continue;
    std::string out;
    const ChildEnd end = run_child(program, c.args(save, filters, dir), out);
    if (end == CHILD_NOT_STARTED) continue;
    if (end != CHILD_SUCCEEDED) return CHOOSER_CANCELLED;
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    utf8 = out;
    if (confirmed) *confirmed = c.confirms;
    return utf8.empty() ? CHOOSER_CANCELLED : CHOOSER_CHOSEN;
  }
  window_message_box(kMsgNeedChooser, kMsgNoChooser);
  return CHOOSER_FAILED;
}

// As ask_chooser, refusing an answer of more than one line: no name holds a
// line break, and taking the lines as one would write a file no one named.
ChooserResult run_chooser(bool save, const std::vector<FileDialogFilter>& filters, const std::string& initial_dir,
                          std::string& utf8, bool* confirmed = nullptr) {
  const ChooserResult result = ask_chooser(save, filters, initial_dir, utf8, confirmed);
  if (result != CHOOSER_CHOSEN || utf8.find_first_of("\r\n") == std::string::npos) return result;
  window_message_box(kMsgLineBreak, save ? kTitleSave : kTitleOpen);
  return CHOOSER_FAILED;
}

// The chosen path as an absolute host path: choosers answer absolute paths,
// a scripted answer may be relative to the current folder.
std::string chosen_path(const std::string& utf8) {
  if (sys_is_host_path(utf8)) return utf8;
  std::string cwd = sys_get_current_dir();
  return cwd + (cwd.empty() || cwd.back() == '/' ? "" : "/") + utf8;
}

bool is_regular_file(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Whether a write to path replaces something: through a symbolic link, the
// file it names. A dangling link names none (the write makes it), and links
// that lead round in a circle name none either (the write is refused).
bool replaces_something(const std::string& path) {
  const std::string target = sys_write_target(path);
  struct stat st;
  return !target.empty() && ::lstat(target.c_str(), &st) == 0;
}

std::string base_name(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// Whether the file name ends in "." ext in any case, after at least one
// character of its own.
bool has_extension(const std::string& path, const std::string& ext) {
  const std::string name = base_name(path);
  const std::string suffix = "." + ext;
  return name.size() > suffix.size() &&
         ::strcasecmp(name.c_str() + name.size() - suffix.size(), suffix.c_str()) == 0;
}

}  // namespace

bool file_dialog_open(const std::vector<FileDialogFilter>& filters, const std::string& initial_dir,
                      std::string& path, std::string* no_file) {
  if (no_file) no_file->clear();
  std::string utf8;
  if (run_chooser(false, filters, initial_dir, utf8) != CHOOSER_CHOSEN) return false;
  std::string chosen = chosen_path(utf8);
  if (!is_regular_file(chosen)) {
    if (no_file) *no_file = std::move(chosen);
    return false;
  }
  path = std::move(chosen);
  return true;
}

bool file_dialog_save(const std::vector<FileDialogFilter>& filters, const std::string& initial_dir,
                      const std::string& default_ext, std::string& path) {
  std::string utf8;
  bool confirmed = false;
  if (run_chooser(true, filters, initial_dir, utf8, &confirmed) != CHOOSER_CHOSEN) return false;
  const std::string returned = chosen_path(utf8);
  std::string chosen = returned;
  if (!sys_is_directory(chosen) && !default_ext.empty() && !has_extension(chosen, default_ext))
    chosen += "." + default_ext;
  // The file a write lands on: the name itself when it is there, else one
  // that differs from it only in case ("up.sav" writes over "UP.SAV").
  const std::string target = sys_map_path(chosen);
  if (sys_is_directory(target)) {
    window_message_box_utf8(sys_cp932_to_utf8(kMsgFolderOfThatName) + "\n" + sys_path_lines(target, kSysMessageColumns),
                            kTitleSave);
    return false;
  }
  // A chooser asked only about the very path it returned, when it was there.
  const bool asked = confirmed && target == returned;
  if (!asked && replaces_something(target) &&
      !window_ask_yes_no(sys_host_text_lines(base_name(target), kSysMessageColumns), kMsgReplace, kCaptionReplace))
    return false;
  path = target;
  return true;
}

void file_dialog_reset_answers() { g_next_answer = 0; }
