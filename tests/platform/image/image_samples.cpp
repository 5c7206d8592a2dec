#include "platform/image/image_samples.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include <jpeglib.h>
#include <png.h>

namespace {

uint8_t ch(uint32_t c, int shift) { return static_cast<uint8_t>(c >> shift); }
void put16(Bytes& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(Bytes& b, uint32_t v) {
  put16(b, v & 0xFFFF);
  put16(b, v >> 16);
}
void set32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
uint8_t pure_index(uint32_t c) { return static_cast<uint8_t>((ch(c, 16) & 1) | ((ch(c, 8) & 1) << 1) | ((c & 1) << 2)); }
uint32_t pure_colour(int i) { return 0xFF000000u | ((i & 1) ? 0xFF0000 : 0) | ((i & 2) ? 0xFF00 : 0) | ((i & 4) ? 0xFF : 0); }

void png_write_vector(png_structp png, png_bytep data, png_size_t n) {
  auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + n);
}
void png_flush_none(png_structp) {}

}  // namespace

Picture sample_gradient(int width, int height) {
  Picture p{width, height, {}};
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      uint32_t r = static_cast<uint32_t>(x * 255 / (width > 1 ? width - 1 : 1));
      uint32_t g = static_cast<uint32_t>(y * 255 / (height > 1 ? height - 1 : 1));
      uint32_t b = (r + g) / 2;
      uint32_t a = static_cast<uint32_t>(255 - (x + y) * 7 % 256);
      p.argb.push_back((a << 24) | (r << 16) | (g << 8) | b);
    }
  return p;
}

Picture sample_pure(int width, int height) {
  Picture p{width, height, {}};
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) p.argb.push_back(pure_colour((x * 3 + y * 5) % 8));
  return p;
}

Picture sample_opaque(Picture p) {
  for (uint32_t& c : p.argb) c |= 0xFF000000u;
  return p;
}

Picture sample_grey(Picture p) {
  for (uint32_t& c : p.argb) {
    uint32_t m = (ch(c, 16) + ch(c, 8) + ch(c, 0)) / 3;
    c = (c & 0xFF000000u) | (m * 0x010101u);
  }
  return p;
}

Bytes write_png(const Picture& p, PngKind kind) {
  Bytes out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) throw std::runtime_error("png write failed");
  png_set_write_fn(png, &out, png_write_vector, png_flush_none);
  static const int types[] = {PNG_COLOR_TYPE_RGBA, PNG_COLOR_TYPE_RGB,  PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY,
                              PNG_COLOR_TYPE_GA,   PNG_COLOR_TYPE_PALETTE, PNG_COLOR_TYPE_RGBA, PNG_COLOR_TYPE_RGB};
  int k = static_cast<int>(kind);
  int depth = kind == PngKind::GREY1 ? 1 : kind == PngKind::RGBA16 ? 16 : 8;
  png_set_IHDR(png, info, p.width, p.height, depth, types[k],
               kind == PngKind::RGB8_INTERLACED ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (kind == PngKind::PALETTE_TRNS) {
    png_color palette[8];
    png_byte trns[8];
    for (int i = 0; i < 8; ++i) {
      uint32_t c = pure_colour(i);
      palette[i] = {ch(c, 16), ch(c, 8), ch(c, 0)};
      trns[i] = static_cast<png_byte>(i * 30);
    }
    png_set_PLTE(png, info, palette, 8);
    png_set_tRNS(png, info, trns, 8, nullptr);
  }
  png_write_info(png, info);
  std::vector<Bytes> rows(p.height);
  for (int y = 0; y < p.height; ++y) {
    Bytes& row = rows[y];
    for (int x = 0; x < p.width; ++x) {
      uint32_t c = p.at(x, y);
      uint8_t r = ch(c, 16), g = ch(c, 8), b = ch(c, 0), a = ch(c, 24);
      switch (kind) {
        case PngKind::RGBA8: row.insert(row.end(), {r, g, b, a}); break;
        case PngKind::RGB8:
        case PngKind::RGB8_INTERLACED: row.insert(row.end(), {r, g, b}); break;
        case PngKind::GREY8: row.push_back(r); break;
        case PngKind::GREY1:
          if (x % 8 == 0) row.push_back(0);
          if (r & 0x80) row.back() |= static_cast<uint8_t>(0x80 >> (x % 8));
          break;
        case PngKind::GREY_ALPHA8: row.insert(row.end(), {r, a}); break;
        case PngKind::PALETTE_TRNS: row.push_back(pure_index(c)); break;
        case PngKind::RGBA16: row.insert(row.end(), {r, r, g, g, b, b, a, a}); break;
      }
    }
  }
  std::vector<png_bytep> ptrs;
  for (Bytes& r : rows) ptrs.push_back(r.data());
  png_write_image(png, ptrs.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

// The inks of an RGB colour with all the black it can take in K.
void push_inks(Bytes& row, uint32_t v, JpegCmyk cmyk) {
  const int r = ch(v, 16), g = ch(v, 8), b = ch(v, 0);
  const int k = 255 - std::max({r, g, b});
  int inks[4] = {0, 0, 0, k};
  if (k < 255)
    for (int i = 0; i < 3; ++i) inks[i] = (255 - (i == 0 ? r : i == 1 ? g : b) - k) * 255 / (255 - k);
  for (int ink : inks) row.push_back(static_cast<uint8_t>(cmyk == JpegCmyk::Adobe ? 255 - ink : ink));
}

Bytes write_jpeg(const Picture& p, bool progressive, bool grey, JpegCmyk cmyk) {
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* mem = nullptr;
  unsigned long mem_size = 0;
  jpeg_mem_dest(&c, &mem, &mem_size);
  c.image_width = static_cast<JDIMENSION>(p.width);
  c.image_height = static_cast<JDIMENSION>(p.height);
  const bool inks = cmyk != JpegCmyk::None;
  c.input_components = grey ? 1 : inks ? 4 : 3;
  c.in_color_space = grey ? JCS_GRAYSCALE : inks ? JCS_CMYK : JCS_RGB;
  jpeg_set_defaults(&c);
  c.write_Adobe_marker = cmyk == JpegCmyk::Adobe;
  jpeg_set_quality(&c, 100, TRUE);
  for (int i = 0; i < c.num_components; ++i) c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
  if (progressive) jpeg_simple_progression(&c);
  jpeg_start_compress(&c, TRUE);
  Bytes row;
  while (c.next_scanline < c.image_height) {
    row.clear();
    for (int x = 0; x < p.width; ++x) {
      uint32_t v = p.at(x, static_cast<int>(c.next_scanline));
      if (grey) row.push_back(ch(v, 16));
      else if (inks) push_inks(row, v, cmyk);
      else row.insert(row.end(), {ch(v, 16), ch(v, 8), ch(v, 0)});
    }
    JSAMPROW rp = row.data();
    jpeg_write_scanlines(&c, &rp, 1);
  }
  jpeg_finish_compress(&c);
  Bytes out(mem, mem + mem_size);
  jpeg_destroy_compress(&c);
  std::free(mem);
  return out;
}

Bytes write_bmp(const Picture& p, const BmpOptions& o) {
  Bytes info;
  bool palette_based = o.bits <= 8;
  uint32_t colours = palette_based ? (o.bits == 1 ? 2u : 8u) : 0u;
  // Without a file header nothing tells a core header's palette short.
  if (palette_based && o.header_size == 12 && !o.file_header) colours = 1u << o.bits;
  if (o.header_size == 12) {
    put32(info, 12);
    put16(info, p.width);
    put16(info, p.height);
    put16(info, 1);
    put16(info, o.bits);
  } else {
    uint32_t compression = o.rle ? (o.bits == 8 ? 1 : 2) : o.bitfields ? 3 : 0;
    put32(info, o.header_size);
    put32(info, p.width);
    put32(info, o.top_down ? -p.height : p.height);
    put16(info, 1);
    put16(info, o.bits);
    put32(info, compression);
    put32(info, 0);
    put32(info, 2835);
    put32(info, 2835);
    put32(info, colours);
    put32(info, 0);
    uint32_t masks[4] = {0xF800, 0x07E0, 0x001F, 0};
    if (o.bits == 32) {
      masks[0] = 0xFF0000;
      masks[1] = 0xFF00;
      masks[2] = 0xFF;
      masks[3] = 0xFF000000u;
    }
    if (o.header_size > 40) {
      for (uint32_t m : masks) put32(info, o.bitfields ? m : 0);
      info.resize(o.header_size, 0);
    } else if (o.bitfields) {
      for (int i = 0; i < 3; ++i) put32(info, masks[i]);
    }
  }
  for (uint32_t i = 0; i < colours; ++i) {
    uint32_t c = o.bits == 1 ? (i ? 0xFFFFFFu : 0u) : pure_colour(static_cast<int>(i));
    info.insert(info.end(), {ch(c, 0), ch(c, 8), ch(c, 16)});
    if (o.header_size != 12) info.push_back(0);
  }

  Bytes pixels;
  for (int row = 0; row < p.height; ++row) {
    int y = o.top_down ? row : p.height - 1 - row;
    size_t start = pixels.size();
    if (o.rle) {
      // Row 0 as one literal run (padded), the others as runs of one pixel.
      if (y == 0 && p.width >= 3 && o.bits == 8) {
        pixels.insert(pixels.end(), {0, static_cast<uint8_t>(p.width)});
        for (int x = 0; x < p.width; ++x) pixels.push_back(pure_index(p.at(x, y)));
        if (p.width & 1) pixels.push_back(0);
      } else {
        for (int x = 0; x < p.width; ++x) {
          uint8_t i = pure_index(p.at(x, y));
          pixels.insert(pixels.end(), {1, static_cast<uint8_t>(o.bits == 8 ? i : i << 4)});
        }
      }
      pixels.insert(pixels.end(), {0, 0});
      continue;
    }
    for (int x = 0; x < p.width; ++x) {
      uint32_t c = p.at(x, y);
      switch (o.bits) {
        case 1:
          if (x % 8 == 0) pixels.push_back(0);
          if (c & 0x80) pixels.back() |= static_cast<uint8_t>(0x80 >> (x % 8));
          break;
        case 4:
          if (x % 2 == 0) pixels.push_back(static_cast<uint8_t>(pure_index(c) << 4));
          else pixels.back() |= pure_index(c);
          break;
        case 8: pixels.push_back(pure_index(c)); break;
        case 16:
          if (o.bitfields) put16(pixels, ((ch(c, 16) >> 3) << 11) | ((ch(c, 8) >> 2) << 5) | (ch(c, 0) >> 3));
          else put16(pixels, ((ch(c, 16) >> 3) << 10) | ((ch(c, 8) >> 3) << 5) | (ch(c, 0) >> 3));
          break;
        case 24: pixels.insert(pixels.end(), {ch(c, 0), ch(c, 8), ch(c, 16)}); break;
        case 32: put32(pixels, o.bitfields ? c : c & 0xFFFFFF); break;
      }
    }
    while ((pixels.size() - start) % 4) pixels.push_back(0);
  }
  if (o.rle) pixels.back() = 1;  // the last end-of-line becomes end of picture

  Bytes out;
  if (o.file_header) {
    out = {'B', 'M'};
    put32(out, static_cast<uint32_t>(14 + info.size() + pixels.size()));
    put32(out, 0);
    put32(out, static_cast<uint32_t>(14 + info.size()));
  }
  out.insert(out.end(), info.begin(), info.end());
  out.insert(out.end(), pixels.begin(), pixels.end());
  return out;
}

Bytes write_tga(const Picture& p, const TgaOptions& o) {
  int kind = o.type & 7;
  bool rle = (o.type & 8) != 0;
  Bytes out = {3, static_cast<uint8_t>(kind == 1), static_cast<uint8_t>(o.type)};
  put16(out, 0);
  put16(out, kind == 1 ? 8 : 0);
  out.push_back(static_cast<uint8_t>(kind == 1 ? o.map_bits : 0));
  put16(out, 0);
  put16(out, 0);
  put16(out, p.width);
  put16(out, p.height);
  out.push_back(static_cast<uint8_t>(o.bits));
  out.push_back(static_cast<uint8_t>(o.alpha_bits | (o.top ? 0x20 : 0) | (o.right_to_left ? 0x10 : 0)));
  out.insert(out.end(), {'i', 'd', '!'});
  if (kind == 1)
    for (int i = 0; i < 8; ++i) {
      uint32_t c = pure_colour(i);
      if (o.map_bits <= 16) put16(out, 0x8000 | (ch(c, 16) >> 3 << 10) | (ch(c, 8) >> 3 << 5) | (ch(c, 0) >> 3));
      else out.insert(out.end(), {ch(c, 0), ch(c, 8), ch(c, 16)});
      if (o.map_bits == 32) out.push_back(static_cast<uint8_t>(i * 30));
    }
  auto pixel = [&](uint32_t c) {
    Bytes b;
    if (kind == 1 && o.bits == 16) put16(b, pure_index(c));
    else if (kind == 1) b.push_back(pure_index(c));
    else if (kind == 3) b.push_back(ch(c, 16));
    else if (o.bits == 15 || o.bits == 16)
      put16(b, ((c >> 31) << 15) | ((ch(c, 16) >> 3) << 10) | ((ch(c, 8) >> 3) << 5) | (ch(c, 0) >> 3));
    else b.insert(b.end(), {ch(c, 0), ch(c, 8), ch(c, 16)});
    if ((kind == 2 && o.bits == 32) || (kind == 3 && o.bits == 16)) b.push_back(ch(c, 24));
    return b;
  };
  std::vector<Bytes> stream;
  for (int row = 0; row < p.height; ++row)
    for (int col = 0; col < p.width; ++col)
      stream.push_back(pixel(p.at(o.right_to_left ? p.width - 1 - col : col, o.top ? row : p.height - 1 - row)));
  for (size_t i = 0; i < stream.size();) {
    if (!rle) {
      out.insert(out.end(), stream[i].begin(), stream[i].end());
      ++i;
      continue;
    }
    // Repeat packets for runs of equal pixels, raw packets otherwise; packets
    // run across row ends as writers do.
    size_t n = 1;
    while (i + n < stream.size() && n < 128 && stream[i + n] == stream[i]) ++n;
    if (n > 1) {
      out.push_back(static_cast<uint8_t>(0x80 | (n - 1)));
      out.insert(out.end(), stream[i].begin(), stream[i].end());
    } else {
      while (i + n < stream.size() && n < 128 && stream[i + n] != stream[i + n - 1]) ++n;
      out.push_back(static_cast<uint8_t>(n - 1));
      for (size_t k = 0; k < n; ++k) out.insert(out.end(), stream[i + k].begin(), stream[i + k].end());
    }
    i += n;
  }
  return out;
}

namespace {
Bytes dds_header(int width, int height, uint32_t pf_flags, uint32_t fourcc, uint32_t bits, const uint32_t masks[4]) {
  Bytes h(128, 0);
  std::memcpy(h.data(), "DDS ", 4);
  set32(h, 4, 124);
  set32(h, 8, 0x1007);
  set32(h, 12, static_cast<uint32_t>(height));
  set32(h, 16, static_cast<uint32_t>(width));
  set32(h, 28, 1);
  set32(h, 76, 32);
  set32(h, 80, pf_flags);
  set32(h, 84, fourcc);
  set32(h, 88, bits);
  for (int i = 0; i < 4; ++i) set32(h, 92 + 4 * i, masks[i]);
  set32(h, 108, 0x1000);
  return h;
}
}  // namespace

Bytes write_dds_masked(const Picture& p, int bits, uint32_t dxgi) {
  const bool dx10 = dxgi != 0;
  const bool rgba = dxgi == 28 || dxgi == 29;
  const uint32_t argb[4] = {0xFF0000, 0xFF00, 0xFF, bits == 32 ? 0xFF000000u : 0};
  const uint32_t none[4] = {0, 0, 0, 0};
  Bytes out = dx10 ? dds_header(p.width, p.height, 0x4, 0x30315844, 0, none)
                   : dds_header(p.width, p.height, bits == 32 ? 0x41 : 0x40, 0, static_cast<uint32_t>(bits), argb);
  if (dx10) {
    put32(out, dxgi);
    put32(out, 3);
    put32(out, 0);
    put32(out, 1);
    put32(out, 0);
  }
  for (uint32_t c : p.argb) {
    if (rgba) out.insert(out.end(), {ch(c, 16), ch(c, 8), ch(c, 0), ch(c, 24)});
    else if (dx10) out.insert(out.end(), {ch(c, 0), ch(c, 8), ch(c, 16), ch(c, 24)});
    else if (bits == 32) put32(out, c);
    else out.insert(out.end(), {ch(c, 0), ch(c, 8), ch(c, 16)});
  }
  return out;
}

Bytes write_dds_blocks(int width, int height, const char* fourcc, const Bytes& blocks) {
  uint32_t code;
  std::memcpy(&code, fourcc, 4);
  const uint32_t none[4] = {0, 0, 0, 0};
  Bytes out = dds_header(width, height, 0x4, code, 0, none);
  out.insert(out.end(), blocks.begin(), blocks.end());
  return out;
}
