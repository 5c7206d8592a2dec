// Small pictures written in every format the decoder reads, for the tests and
// for the fuzz seed corpus.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> argb;  // rows top to bottom
  uint32_t at(int x, int y) const { return argb[static_cast<size_t>(y) * width + x]; }
};

// A smooth gradient with varying alpha (every pixel distinct in red/green).
Picture sample_gradient(int width, int height);
// Channels only 0x00 or 0xFF (exact in 16-bit and palette formats); alpha 0xFF.
Picture sample_pure(int width, int height);
// A picture with every alpha set to 0xFF.
Picture sample_opaque(Picture p);
// Red, green and blue replaced by their mean; alpha kept.
Picture sample_grey(Picture p);

enum class PngKind { RGBA8, RGB8, GREY8, GREY1, GREY_ALPHA8, PALETTE_TRNS, RGBA16, RGB8_INTERLACED };
Bytes write_png(const Picture& p, PngKind kind);
// How a JPEG stores colour as four inks: plain CMYK without an Adobe marker,
// or inverted (0 = full ink) with one, as print software writes it.
enum class JpegCmyk { None, Plain, Adobe };
// quality 100, no chroma subsampling; grey writes one component.
Bytes write_jpeg(const Picture& p, bool progressive, bool grey, JpegCmyk cmyk = JpegCmyk::None);

struct BmpOptions {
  int bits = 24;
  bool top_down = false;
  bool file_header = true;
  uint32_t header_size = 40;  // 12, 40 or 124
  bool bitfields = false;     // 16/32: BI_BITFIELDS (565 / ARGB masks)
  bool rle = false;           // 8 or 4 bits
};
// Palette formats use sample_pure's eight colours, index = r | g << 1 | b << 2.
Bytes write_bmp(const Picture& p, const BmpOptions& o);

struct TgaOptions {
  int type = 2;  // 1, 2, 3, 9, 10, 11
  int bits = 24;
  bool top = false;
  bool right_to_left = false;
  int alpha_bits = 0;
  int map_bits = 24;  // colour-mapped: 15, 16 (X1R5G5B5), 24 or 32 (alpha = index * 30)
};
Bytes write_tga(const Picture& p, const TgaOptions& o);

// 32-bit A8R8G8B8 or 24-bit R8G8B8 through channel masks, or with a DX10
// header of that DXGI format: 28/29 R8G8B8A8, 87/91 B8G8R8A8, 88/93 B8G8R8X8
// (the spare byte holds the alpha all the same).
Bytes write_dds_masked(const Picture& p, int bits, uint32_t dxgi = 0);
// A DDS header for fourCC with the given block bytes appended.
Bytes write_dds_blocks(int width, int height, const char* fourcc, const Bytes& blocks);
