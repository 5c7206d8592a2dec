// Platform-internal: answers that scripted runs and tests give the dialogs and
// questions instead of a user, one line of a file each, in order.
#pragma once

#include <cstddef>
#include <string>

// Line `next` of the file that the environment variable `variable` names
// (without its line end; empty past the end of the file), and moves `next`
// on. False, changing nothing, when the variable names no file.
bool scripted_answer_take(const char* variable, size_t& next, std::string& line);
