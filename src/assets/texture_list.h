// The texture list "tex.lst": named categories of loose texture files and
// crops given in pixels. A queued package name that is a category loads
// those textures and crops instead of a package file.
//
// The file is text of whitespace-separated tokens. A token beginning with
// '#' comments out the rest of its line, up to a line feed, a carriage return
// or a Ctrl-Z (26), as in "KT52.CF"; the word after a Ctrl-Z is read whole.
// A keyword is one marker character followed by "cat", "tex", "size" or
// "crop" (so "*cat" and "@cat"); other tokens are ignored:
//   cat NAME            starts a category
//   tex FILE            adds a texture file to the current category
//   size W H            the current texture's size in pixels
//   crop X Y W H NAME   a crop of the current texture, in pixels
// A number is read from the start of its token, and what follows it there is
// read next ("64px" is 64, then "px"), as formatted input reads numbers.
// Entries without a place (a texture before any category, a crop before any
// texture or of a texture without a size) or with arguments that do not
// read are left out with a message; nothing in the file can fail the parse.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct TexListCrop {
  std::string name;
  std::string texture_file;  // the file of the texture it was declared under
  float u, v, width, height;  // fractions of that texture's size
};

struct TexListCategory {
  std::string name;
  std::vector<std::string> textures;
  std::vector<TexListCrop> crops;
};

struct TexList {
  std::vector<TexListCategory> categories;  // in file order
  int rejected;  // entries left out
};

// Tokens longer than this are not names or numbers of the list.
constexpr size_t kTexListTokenMax = 271;

void texlist_parse(TexList* list, const char* text, size_t size);
void texlist_clear(TexList* list);

int texlist_category_count(const TexList* list);
// Null past the end.
const char* texlist_category_name(const TexList* list, int i);
int texlist_texture_count(const TexList* list, int category);
const char* texlist_texture_file(const TexList* list, int category, int j);
int texlist_crop_count(const TexList* list, int category);
const TexListCrop* texlist_crop(const TexList* list, int category, int j);
// Exact, case-sensitive; null when absent.
const TexListCategory* texlist_find_category(const TexList* list, const char* name);
