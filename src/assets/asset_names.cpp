#include "assets/asset_names.h"

#include <cstring>

#include "platform/sys/sys.h"

namespace {

// Length in bytes of the character starting at s[i]: 2 for a CP932 lead
// byte with a trail byte after it, else 1.
size_t char_length(std::string_view s, size_t i) {
  return (sys_is_cp932_lead(static_cast<unsigned char>(s[i])) && i + 1 < s.size()) ? 2 : 1;
}

// Index of the last '\' or '/' outside double-byte characters, or npos.
size_t last_separator(std::string_view s) {
  size_t found = std::string_view::npos;
  for (size_t i = 0; i < s.size(); i += char_length(s, i)) {
    if (s[i] == '\\' || s[i] == '/') found = i;
  }
  return found;
}

struct NameTag {
  const char* text;
  uint32_t bit;
};

const NameTag kMeshTags[] = {{"NRx", NAME_TAG_NORMAL_MAP}, {"SPx", NAME_TAG_SPECULAR_MAP}};

// True when s[at] is '_' followed by exactly tag and then '_' or the end.
bool tag_at(std::string_view s, size_t at, std::string_view tag) {
  if (at >= s.size() || s[at] != '_') return false;
  if (s.substr(at + 1, tag.size()) != tag) return false;
  const size_t end = at + 1 + tag.size();
  return end == s.size() || s[end] == '_';
}

}  // namespace

std::string_view base_name_of(std::string_view path) {
  const size_t sep = last_separator(path);
  std::string_view name = sep == std::string_view::npos ? path : path.substr(sep + 1);
  for (size_t i = 0; i < name.size(); i += char_length(name, i)) {
    if (name[i] == '.') return name.substr(0, i);
  }
  return name;
}

std::string copy_base_name(const char* path) { return path ? std::string(base_name_of(path)) : std::string(); }

std::string copy_directory(const char* path) {
  if (!path) return std::string();
  const std::string_view s(path);
  const size_t sep = last_separator(s);
  return sep == std::string_view::npos ? std::string() : std::string(s.substr(0, sep));
}

bool name_has_tag(const char* name, const char* tag) {
  if (!name || !tag) return false;
  const std::string_view s(name);
  for (size_t i = 0; i < s.size(); i += char_length(s, i)) {
    if (tag_at(s, i, tag)) return true;
  }
  return false;
}

std::string replace_name_suffix(const char* name, const char* suffix) {
  if (!name) return std::string();
  const std::string_view s(name);
  size_t end = s.size();
  for (size_t i = 0; i < s.size(); i += char_length(s, i)) {
    if (s[i] == '_') {
      end = i;
      break;
    }
  }
  std::string out(s.substr(0, end));
  out += '_';
  if (suffix) out += suffix;
  return out;
}

std::string join_with_underscore(const char* a, const char* b) {
  if (!a) return std::string();
  std::string out(a);
  out += '_';
  if (b) out += b;
  return out;
}

uint32_t strip_name_tags(std::string* out, const char* name) {
  if (!name) {
    out->clear();
    return 0;
  }
  const std::string_view s(name);
  std::string work;
  work.reserve(s.size());
  uint32_t bits = 0;
  size_t i = 0;
  while (i < s.size()) {
    if (s[i] == '_') {
      size_t at = i;
      for (const NameTag& tag : kMeshTags) {
        if (tag_at(s, at, tag.text)) {
          bits |= tag.bit;
          at += 1 + std::strlen(tag.text);
        }
      }
      if (at != i) {
        // Resume at the character after the last tag; an underscore there is
        // copied as it is, not tried as the start of another tag.
        i = at;
        if (i < s.size()) work += s[i++];
        continue;
      }
    }
    const size_t n = char_length(s, i);
    work.append(s.substr(i, n));
    i += n;
  }
  *out = std::move(work);
  return bits;
}
