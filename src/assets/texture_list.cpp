#include "assets/texture_list.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/sys/sys.h"

namespace {

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

class Tokens {
 public:
  Tokens(const char* text, size_t size) : text_(text), size_(size) {}

  // The next token, or false at the end. A token longer than the limit is
  // returned marked as too long.
  bool next(std::string_view* token, bool* too_long) {
    while (pos_ < size_ && is_space(text_[pos_])) ++pos_;
    if (pos_ >= size_) return false;
    const size_t start = pos_;
    while (pos_ < size_ && !is_space(text_[pos_])) ++pos_;
    *token = std::string_view(text_ + start, pos_ - start);
    *too_long = token->size() > kTexListTokenMax;
    return true;
  }

  // Goes back to a place inside the last token, so that what follows it
  // there (or the whole token) is taken as the next token.
  void unread(const char* at) { pos_ = static_cast<size_t>(at - text_); }

  // Steps over the rest of a comment line and the byte that ends it.
  void skip_line() {
    while (pos_ < size_ && !sys_ends_comment_line(static_cast<unsigned char>(text_[pos_]))) ++pos_;
    if (pos_ < size_) ++pos_;
  }

 private:
  const char* text_;
  size_t size_;
  size_t pos_ = 0;
};

// Numbers read as formatted input reads them: the longest number at the
// token's start, the rest of the token left for what is read next. The
// characters read (0 when none, or for a value out of range or not finite).
size_t read_int(std::string_view token, int* out) {
  const std::string s(token);
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(s.c_str(), &end, 10);
  if (end == s.c_str() || errno == ERANGE || v < -2147483647L || v > 2147483647L) return 0;
  *out = static_cast<int>(v);
  return static_cast<size_t>(end - s.c_str());
}

size_t read_float(std::string_view token, float* out) {
  const std::string s(token);
  char* end = nullptr;
  const float v = std::strtof(s.c_str(), &end);
  if (end == s.c_str() || !std::isfinite(v)) return 0;
  *out = v;
  return static_cast<size_t>(end - s.c_str());
}

enum class Keyword { None, Cat, Tex, Size, Crop };

Keyword keyword_of(std::string_view token) {
  if (token.size() < 2) return Keyword::None;
  const std::string_view word = token.substr(1);
  if (word == "cat") return Keyword::Cat;
  if (word == "tex") return Keyword::Tex;
  if (word == "size") return Keyword::Size;
  if (word == "crop") return Keyword::Crop;
  return Keyword::None;
}

struct Parser {
  TexList* list;
  Tokens tokens;
  // Indices, not pointers: the lists grow while they are read.
  int category = -1;
  int texture = -1;
  int width = 0, height = 0;

  void reject(const char* what) {
    ++list->rejected;
    std::fprintf(stderr, "tex.lst: %s left out\n", what);
  }

  // A name argument: any token of a sensible length, up to its first zero
  // byte, as it reads into a C string; a name that is empty then is none.
  bool name(std::string* out) {
    std::string_view t;
    bool too_long = false;
    if (!tokens.next(&t, &too_long)) return false;
    t = t.substr(0, t.find('\0'));
    if (too_long || t.empty()) return false;
    *out = std::string(t);
    return true;
  }

  // A number argument. One that does not read leaves its token to be read
  // again; what follows a number inside its token is read next.
  template <typename T, typename Read>
  bool number(T* out, Read read) {
    std::string_view t;
    bool too_long = false;
    if (!tokens.next(&t, &too_long)) return false;
    const size_t used = too_long ? 0 : read(t, out);
    if (used < t.size()) tokens.unread(t.data() + used);
    return used > 0;
  }

  void cat() {
    std::string n;
    if (!name(&n)) return reject("a category without a name");
    list->categories.push_back(TexListCategory{std::move(n), {}, {}});
    category = static_cast<int>(list->categories.size()) - 1;
    texture = -1;
    width = height = 0;
  }

  void tex() {
    std::string file;
    if (!name(&file)) return reject("a texture without a file");
    if (category < 0) return reject("a texture before any category");
    std::vector<std::string>& textures = list->categories[static_cast<size_t>(category)].textures;
    textures.push_back(std::move(file));
    texture = static_cast<int>(textures.size()) - 1;
    width = height = 0;
  }

  void size() {
    int w = 0, h = 0;
    if (!number(&w, read_int) || !number(&h, read_int)) return reject("a size that does not read");
    if (texture < 0) return reject("a size before any texture");
    width = w;
    height = h;
  }

  void crop() {
    float x = 0, y = 0, w = 0, h = 0;
    std::string n;
    if (!number(&x, read_float) || !number(&y, read_float) || !number(&w, read_float) ||
        !number(&h, read_float) || !name(&n)) {
      return reject("a crop that does not read");
    }
    if (texture < 0) return reject("a crop before any texture");
    if (width <= 0 || height <= 0) return reject("a crop of a texture without a size");
    const float fw = static_cast<float>(width), fh = static_cast<float>(height);
    TexListCategory& c = list->categories[static_cast<size_t>(category)];
    c.crops.push_back(TexListCrop{std::move(n), c.textures[static_cast<size_t>(texture)], x / fw, y / fh, w / fw,
                                  h / fh});
  }

  void run() {
    std::string_view t;
    bool too_long = false;
    while (tokens.next(&t, &too_long)) {
      if (t[0] == '#') {
        tokens.skip_line();
        continue;
      }
      if (too_long) continue;
      switch (keyword_of(t)) {
        case Keyword::Cat: cat(); break;
        case Keyword::Tex: tex(); break;
        case Keyword::Size: size(); break;
        case Keyword::Crop: crop(); break;
        case Keyword::None: break;
      }
    }
  }
};

const TexListCategory* category_at(const TexList* list, int i) {
  if (list == nullptr || i < 0 || static_cast<size_t>(i) >= list->categories.size()) return nullptr;
  return &list->categories[static_cast<size_t>(i)];
}

}  // namespace

void texlist_parse(TexList* list, const char* text, size_t size) {
  texlist_clear(list);
  if (text == nullptr) return;
  Parser parser{list, Tokens(text, size)};
  parser.run();
}

void texlist_clear(TexList* list) {
  list->categories.clear();
  list->categories.shrink_to_fit();
  list->rejected = 0;
}

int texlist_category_count(const TexList* list) {
  return list != nullptr ? static_cast<int>(list->categories.size()) : 0;
}

const char* texlist_category_name(const TexList* list, int i) {
  const TexListCategory* c = category_at(list, i);
  return c != nullptr ? c->name.c_str() : nullptr;
}

int texlist_texture_count(const TexList* list, int category) {
  const TexListCategory* c = category_at(list, category);
  return c != nullptr ? static_cast<int>(c->textures.size()) : 0;
}

const char* texlist_texture_file(const TexList* list, int category, int j) {
  const TexListCategory* c = category_at(list, category);
  if (c == nullptr || j < 0 || static_cast<size_t>(j) >= c->textures.size()) return nullptr;
  return c->textures[static_cast<size_t>(j)].c_str();
}

int texlist_crop_count(const TexList* list, int category) {
  const TexListCategory* c = category_at(list, category);
  return c != nullptr ? static_cast<int>(c->crops.size()) : 0;
}

const TexListCrop* texlist_crop(const TexList* list, int category, int j) {
  const TexListCategory* c = category_at(list, category);
  if (c == nullptr || j < 0 || static_cast<size_t>(j) >= c->crops.size()) return nullptr;
  return &c->crops[static_cast<size_t>(j)];
}

const TexListCategory* texlist_find_category(const TexList* list, const char* name) {
  if (list == nullptr || name == nullptr) return nullptr;
  for (const TexListCategory& c : list->categories) {
    if (c.name == name) return &c;
  }
  return nullptr;
}
