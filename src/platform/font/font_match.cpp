// Face matching through fontconfig.
#include <fontconfig/fontconfig.h>
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include "platform/font/font_internal.h"
#include "platform/sys/sys.h"

namespace {

// Windows faces and the free faces drawn to the same metrics. Names are CP932
// and compared after folding (full-width letters as ASCII, no spaces, no case).
struct Substitute {
  const char* name;
  const char* family;
};
const Substitute kSubstitutes[] = {
    {"MS PGothic", "IPAPGothic"},
    {"MSP\x83\x53\x83\x56\x83\x62\x83\x4e", "IPAPGothic"},  // MSPゴシック
    {"MS Gothic", "IPAGothic"},
    {"MS\x83\x53\x83\x56\x83\x62\x83\x4e", "IPAGothic"},  // MSゴシック
    {"MS UI Gothic", "IPAPGothic"},
    {"MSUI\x83\x53\x83\x56\x83\x62\x83\x4e", "IPAPGothic"},  // MSUIゴシック
    {"MS Mincho", "IPAMincho"},
    {"MS\x96\xbe\x92\xa9", "IPAMincho"},  // MS明朝
    {"MS PMincho", "IPAPMincho"},
    {"MSP\x96\xbe\x92\xa9", "IPAPMincho"},  // MSP明朝
    {"Meiryo", "IPAPGothic"},
    {"Meiryo UI", "IPAPGothic"},
    {"\x83\x81\x83\x43\x83\x8a\x83\x49", "IPAPGothic"},  // メイリオ
    {"Yu Gothic", "IPAPGothic"},
    {"\x9f\xe0\x83\x53\x83\x56\x83\x62\x83\x4e", "IPAPGothic"},  // 游ゴシック
    {"Yu Mincho", "IPAPMincho"},
    {"\x9f\xe0\x96\xbe\x92\xa9", "IPAPMincho"},  // 游明朝
};

constexpr uint32_t kHiraganaA = 0x3042;

std::vector<uint32_t> fold(const std::string& cp932) {
  std::vector<uint32_t> out;
  for (uint32_t c : font_decode_cp932(cp932.data(), cp932.size())) {
    if (c >= 0xFF01 && c <= 0xFF5E) c -= 0xFEE0;  // full-width ASCII forms
    if (c == 0x3000 || c == ' ' || c == '\t') continue;
    if (c >= 'A' && c <= 'Z') c += 'a' - 'A';
    out.push_back(c);
  }
  return out;
}

void add_common(FcPattern* pattern, const FontParams& params) {
  if (params.charset == FONT_CHARSET_SHIFTJIS) {
    FcLangSet* langs = FcLangSetCreate();
    FcLangSetAdd(langs, reinterpret_cast<const FcChar8*>("ja"));
    FcPatternAddLangSet(pattern, FC_LANG, langs);
    FcLangSetDestroy(langs);
  }
  FcPatternAddInteger(pattern, FC_WEIGHT, FcWeightFromOpenType(params.weight > 0 ? params.weight : 400));
  FcPatternAddInteger(pattern, FC_SLANT, params.italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
}

// Matches the pattern (consumed); fills out when the face has the code point
// (or when code_point is 0).
bool match(FcPattern* pattern, uint32_t code_point, FontFaceFile* out) {
  FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* found = FcFontMatch(nullptr, pattern, &result);
  FcPatternDestroy(pattern);
  if (!found) return false;
  bool ok = false;
  FcChar8* file = nullptr;
  FcCharSet* chars = nullptr;
  if (FcPatternGetString(found, FC_FILE, 0, &file) == FcResultMatch &&
      (code_point == 0 ||
       (FcPatternGetCharSet(found, FC_CHARSET, 0, &chars) == FcResultMatch && FcCharSetHasChar(chars, code_point)))) {
    out->path = reinterpret_cast<const char*>(file);
    int index = 0;
    FcPatternGetInteger(found, FC_INDEX, 0, &index);
    out->index = index;
    FcChar8* family = nullptr;
    out->family = FcPatternGetString(found, FC_FAMILY, 0, &family) == FcResultMatch
                      ? reinterpret_cast<const char*>(family)
                      : "";
    ok = true;
  }
  FcPatternDestroy(found);
  return ok;
}

// Fontconfig loses a few bytes once while it parses its configuration files;
// the leak checker of sanitized builds is told not to count them.
bool init_fontconfig() {
#if defined(__SANITIZE_ADDRESS__)
  __lsan_disable();
  bool ok = FcInit();
  __lsan_enable();
  return ok;
#else
  return FcInit();
#endif
}

FcPattern* generic_pattern(const FontParams& params) {
  FcPattern* pattern = FcPatternCreate();
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>("sans-serif"));
  add_common(pattern, params);
  return pattern;
}

}  // namespace

bool font_system_init() { return init_fontconfig(); }

std::string font_substitute_family(const std::string& face_cp932) {
  std::vector<uint32_t> name = fold(face_cp932);
  for (const Substitute& s : kSubstitutes) {
    if (fold(s.name) == name) return s.family;
  }
  return "";
}

bool font_match_primary(const FontParams& params, FontFaceFile* out) {
  if (!init_fontconfig()) return false;
  FcPattern* pattern = FcPatternCreate();
  // The name itself first, so the real face wins where it is installed.
  std::string face = sys_cp932_to_utf8(params.face);
  if (!face.empty()) FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(face.c_str()));
  std::string substitute = font_substitute_family(params.face);
  if (!substitute.empty()) {
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(substitute.c_str()));
  }
  if (face.empty() && substitute.empty()) {
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>("sans-serif"));
  }
  add_common(pattern, params);
  // A Japanese font that lands on a face without kana takes the system's
  // Japanese sans-serif face instead.
  bool japanese = params.charset == FONT_CHARSET_SHIFTJIS;
  if (match(pattern, japanese ? kHiraganaA : 0, out)) return true;
  if (japanese && match(generic_pattern(params), kHiraganaA, out)) return true;
  return match(generic_pattern(params), 0, out);
}

bool font_match_covering(const FontParams& params, uint32_t code_point, FontFaceFile* out) {
  if (!init_fontconfig()) return false;
  FcPattern* pattern = generic_pattern(params);
  FcCharSet* chars = FcCharSetCreate();
  FcCharSetAddChar(chars, code_point);
  FcPatternAddCharSet(pattern, FC_CHARSET, chars);
  FcCharSetDestroy(chars);
  return match(pattern, code_point, out);
}
