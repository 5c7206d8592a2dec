// "tex.lst" as a user may leave it: any bytes parse, every category, texture
// and crop reads back through the queries, and every crop names a texture of
// its own category with finite fractions.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "assets/texture_list.h"

namespace {

bool token_fits(const char* s) { return s && *s && std::strlen(s) <= kTexListTokenMax; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TexList list;
  texlist_parse(&list, reinterpret_cast<const char*>(data), size);
  const int categories = texlist_category_count(&list);
  if (texlist_category_name(&list, categories) || texlist_category_name(&list, -1)) __builtin_trap();
  for (int i = 0; i < categories; ++i) {
    const char* name = texlist_category_name(&list, i);
    if (!token_fits(name)) __builtin_trap();
    const TexListCategory* found = texlist_find_category(&list, name);
    if (!found || found->name != name) __builtin_trap();
    const int textures = texlist_texture_count(&list, i);
    for (int j = 0; j < textures; ++j) {
      if (!token_fits(texlist_texture_file(&list, i, j))) __builtin_trap();
    }
    if (texlist_texture_file(&list, i, textures)) __builtin_trap();
    const int crops = texlist_crop_count(&list, i);
    for (int j = 0; j < crops; ++j) {
      const TexListCrop* c = texlist_crop(&list, i, j);
      if (!c || !token_fits(c->name.c_str())) __builtin_trap();
      bool known = false;
      for (int k = 0; k < textures && !known; ++k) known = c->texture_file == texlist_texture_file(&list, i, k);
      if (!known) __builtin_trap();
      if (!std::isfinite(c->u) || !std::isfinite(c->v) || !std::isfinite(c->width) || !std::isfinite(c->height))
        __builtin_trap();
    }
    if (texlist_crop(&list, i, crops)) __builtin_trap();
  }
  texlist_clear(&list);
  return 0;
}
