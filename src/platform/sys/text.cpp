#include "platform/sys/sys.h"

#include <iconv.h>

namespace {

std::string convert(const char* to, const char* from, const std::string& in) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return in;
  std::string out;
  out.resize(in.size() * 4 + 4);
  char* src = const_cast<char*>(in.data());
  size_t src_left = in.size();
  char* dst = out.data();
  size_t dst_left = out.size();
  while (src_left > 0) {
    if (iconv(cd, &src, &src_left, &dst, &dst_left) != static_cast<size_t>(-1)) break;
    // An unconvertible or truncated sequence: emit '?' and skip one byte.
    if (dst_left == 0) break;
    *dst++ = '?';
    --dst_left;
    ++src;
    --src_left;
  }
  out.resize(out.size() - dst_left);
  iconv_close(cd);
  return out;
}

}  // namespace

std::string sys_cp932_to_utf8(const std::string& cp932) { return convert("UTF-8", "CP932", cp932); }
std::string sys_utf8_to_cp932(const std::string& utf8) { return convert("CP932", "UTF-8", utf8); }
