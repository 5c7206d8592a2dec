// File dialogs: the desktop's file chooser (zenity, else kdialog) run as a
// child process while the caller waits, as a modal dialog would. The
// initial folder goes in as a system path (".\\sav\\"); the chosen file
// comes out as an absolute host path (see sys.h), whatever its characters.
//
// TL_FILE_DIALOG_ANSWERS=<file> answers the dialogs without any chooser, for
// scripted runs and tests: each dialog takes the next line of that file
// (UTF-8), an empty line or the end of the file meaning "cancelled".
#pragma once

#include <string>
#include <vector>

struct FileDialogFilter {
  std::string name;      // shown to the user, CP932: "セーブデータ (*.sav)"
  std::string patterns;  // ';'-separated: "*.jpg;*.bmp"
};

// Asks for an existing file. True with its path; false when the user
// cancelled (a chooser closed without a file, or one that started and then
// ended otherwise: killed, failed), when no chooser could be run or the
// answer held more than one line (a message box has said so), or when the
// choice is no regular file: *no_file, when given, then gets the choice,
// which nothing has named yet, and is left empty otherwise. Filter patterns
// match names in any case.
bool file_dialog_open(const std::vector<FileDialogFilter>& filters, const std::string& initial_dir,
                      std::string& path, std::string* no_file = nullptr);
// Asks for a file to write and returns the path a write lands on: the name
// chosen, or, when no file of that exact name is there, the one that differs
// from it only in case (see sys_map_path). A name that does not end in "."
// default_ext ("sav", no dot), in any case, gets it: "2024.12.08" becomes
// "2024.12.08.sav", "UP.SAV" stays. An existing file is returned only after
// one yes, about that file: the chooser's own, when it asked about that very
// path (kdialog always asks; zenity is not told to, as it would ask about
// the name typed, which may then get ".sav"), else a yes/no box
// (window_ask_yes_no) naming it; No is false. A scripted answer always gets
// the box, answered through TL_MESSAGEBOX_ANSWERS (see window.h). Through a
// symbolic link the file is the one it names (sys_write_target): a dangling
// link, or links that lead round in a circle, get no question. A folder
// in that place, and an answer of more than one line, are refused with a
// message box.
bool file_dialog_save(const std::vector<FileDialogFilter>& filters, const std::string& initial_dir,
                      const std::string& default_ext, std::string& path);

// Starts the answers of TL_FILE_DIALOG_ANSWERS again from the first line.
void file_dialog_reset_answers();
