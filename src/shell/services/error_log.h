// The error log: a text file to which each call appends one line with the
// date, the time and three codes, flushed to disk at once.
#pragma once

#include <cstdint>

// Sets the log file (a copy of path is kept); null turns the log off.
void set_error_log_path(const char* path);
// Turns the log off and drops the stored path.
void free_error_log_path();
const char* get_error_log_path();
// Appends "MM/DD/YY\tHH:MM:SS\t%08x\t%08x\t%08x\n". Without a path, or when
// the file does not open, nothing happens and no file is made; false then.
bool write_error_log(uint32_t code1, uint32_t code2, uint32_t code3);
