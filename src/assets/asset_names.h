// Asset names: reducing file paths to names and the option tags that names
// carry ("_NRx", "_SPx" on meshes). Names are CP932 text, so scans step over
// the trail byte of a double-byte character (which may equal '\' or '_').
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

enum : uint32_t {
  NAME_TAG_NORMAL_MAP = 1u << 0,    // "NRx"
  NAME_TAG_SPECULAR_MAP = 1u << 1,  // "SPx"
};

// The file name without folder and extension: what follows the last '\' or
// '/', up to the first '.'. A view into path.
std::string_view base_name_of(std::string_view path);
// The same as a string; a null or empty path gives "".
std::string copy_base_name(const char* path);
// What precedes the last '\' or '/'; "" when there is none.
std::string copy_directory(const char* path);
// True when some '_' in name is followed by exactly tag, ended by '_' or the end.
bool name_has_tag(const char* name, const char* tag);
// The name up to its first '_', then '_' and suffix; a null name gives "".
std::string replace_name_suffix(const char* name, const char* suffix);
// a + '_' + b; a null a gives "".
std::string join_with_underscore(const char* a, const char* b);
// Removes the option tags of the table ("NRx", then "SPx") from name into
// out and returns their bits. At each '_' the tags are tried in table
// order; after a match the following tags are tried at the same place, and
// copying resumes there without trying the table again. out may hold name.
uint32_t strip_name_tags(std::string* out, const char* name);
