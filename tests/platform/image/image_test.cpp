#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>

#include "platform/image/image.h"
#include "platform/image/image_samples.h"

namespace {

constexpr int W = 13;  // odd and not a multiple of 4 or 8: row padding and block edges
constexpr int H = 7;

struct Good {
  const char* name;
  std::function<Bytes()> make;
  std::function<Picture()> expect;
  bool has_alpha;
  int tolerance = 0;  // per channel
};

uint32_t dxt_colour(uint32_t r, uint32_t g, uint32_t b) { return 0xFF000000u | (r << 16) | (g << 8) | b; }

// Two DXT1 blocks for a 5 x 3 picture (the right block and the bottom row hang over).
// Block 0: red and blue in four-colour mode; block 1: green and white in
// three-colour mode with the transparent index.
Bytes dxt1_blocks() {
  return {0x00, 0xF8, 0x1F, 0x00, 0b11100100, 0b11100100, 0b00000000, 0,
          0xE0, 0x07, 0xFF, 0xFF, 0b11111011, 0b00000010, 0b00000000, 0};
}
Picture dxt1_expected() {
  const uint32_t red = dxt_colour(255, 0, 0), blue = dxt_colour(0, 0, 255);
  const uint32_t p0[4] = {red, blue, dxt_colour(170, 0, 85), dxt_colour(85, 0, 170)};
  const uint32_t green = dxt_colour(0, 255, 0), white = dxt_colour(255, 255, 255);
  const uint32_t p1[4] = {green, white, dxt_colour(127, 255, 127), 0};
  Picture p{5, 3, {}};
  p.argb = {p0[0], p0[1], p0[2], p0[3], p1[3],  //
            p0[0], p0[1], p0[2], p0[3], p1[2],  //
            p0[0], p0[0], p0[0], p0[0], p1[0]};
  return p;
}
// DXT1 with both colours equal is still three-colour mode: index 2 is their
// average and index 3 transparent black. Rows: 0 1 2 3, 3 2 1 0, all 2, all 3.
Bytes dxt1_equal_block() { return {0xE0, 0x07, 0xE0, 0x07, 0b11100100, 0b00011011, 0b10101010, 0b11111111}; }
Picture dxt1_equal_expected() {
  const uint32_t green = dxt_colour(0, 255, 0);
  Picture p{4, 4, {}};
  p.argb = {green, green, green, 0, 0, green, green, green, green, green, green, green, 0, 0, 0, 0};
  return p;
}
// DXT3/DXT5: one block, explicit alpha then a red/blue colour half (always four colours).
Bytes dxt_alpha_block(bool dxt5) {
  Bytes alpha = dxt5 ? Bytes{255, 0, 0b10001000, 0b11000110, 0b11111010, 0, 0, 0}  // texels 0..7: 0,1,2..7
                     : Bytes{0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE};
  Bytes colour = {0x1F, 0x00, 0x00, 0xF8, 0, 0, 0, 0};  // c0 blue < c1 red, all index 0
  alpha.insert(alpha.end(), colour.begin(), colour.end());
  return alpha;
}
Picture dxt_alpha_expected(bool dxt5) {
  const uint32_t a5[8] = {255, 0, 218, 182, 145, 109, 72, 36};
  Picture p{4, 4, {}};
  for (uint32_t i = 0; i < 16; ++i) {
    uint32_t a = dxt5 ? (i < 8 ? a5[i] : 255) : i * 17;
    p.argb.push_back((a << 24) | 0x0000FF);
  }
  return p;
}

Picture one_bit(Picture p) {
  for (uint32_t& c : p.argb) c = (c & 0x80) ? 0xFFFFFFFFu : 0xFF000000u;
  return p;
}
Picture palette_alpha(Picture p) {
  for (uint32_t& c : p.argb) {
    uint32_t i = ((c >> 16) & 1) | (((c >> 8) & 1) << 1) | ((c & 1) << 2);
    c = (c & 0xFFFFFF) | ((i * 30) << 24);
  }
  return p;
}
Picture alpha_bit(Picture p) {
  for (uint32_t& c : p.argb) c = (c & 0xFFFFFF) | ((c >> 31) ? 0xFF000000u : 0);
  return p;
}
Picture half_transparent(Picture p) {
  for (size_t i = 0; i < p.argb.size(); i += 3) p.argb[i] &= 0x00FFFFFF;
  return p;
}

const Picture grad = sample_gradient(W, H);
const Picture pure = sample_pure(W, H);
const Picture grey = sample_grey(sample_gradient(W, H));

std::vector<Good> good_cases() {
  return {
      {"png rgba8", [] { return write_png(grad, PngKind::RGBA8); }, [] { return grad; }, true},
      {"png rgb8", [] { return write_png(grad, PngKind::RGB8); }, [] { return sample_opaque(grad); }, false},
      {"png rgb8 interlaced", [] { return write_png(grad, PngKind::RGB8_INTERLACED); }, [] { return sample_opaque(grad); }, false},
      {"png grey8", [] { return write_png(grey, PngKind::GREY8); }, [] { return sample_opaque(grey); }, false},
      {"png grey1", [] { return write_png(grey, PngKind::GREY1); }, [] { return one_bit(grey); }, false},
      {"png grey+alpha", [] { return write_png(grey, PngKind::GREY_ALPHA8); }, [] { return grey; }, true},
      {"png palette+tRNS", [] { return write_png(pure, PngKind::PALETTE_TRNS); }, [] { return palette_alpha(pure); }, true},
      {"png rgba16", [] { return write_png(grad, PngKind::RGBA16); }, [] { return grad; }, true},
      {"jpeg baseline", [] { return write_jpeg(grad, false, false); }, [] { return sample_opaque(grad); }, false, 12},
      {"jpeg progressive", [] { return write_jpeg(grad, true, false); }, [] { return sample_opaque(grad); }, false, 12},
      {"jpeg without end marker", [] { Bytes b = write_jpeg(grad, false, false); b.resize(b.size() - 2); return b; }, [] { return sample_opaque(grad); }, false, 12},
      {"jpeg progressive without end marker", [] { Bytes b = write_jpeg(grad, true, false); b.resize(b.size() - 2); return b; }, [] { return sample_opaque(grad); }, false, 12},
      {"jpeg grey", [] { return write_jpeg(grey, false, true); }, [] { return sample_opaque(grey); }, false, 6},
      {"jpeg cmyk", [] { return write_jpeg(grad, false, false, JpegCmyk::Plain); }, [] { return sample_opaque(grad); }, false, 12},
      {"jpeg adobe cmyk", [] { return write_jpeg(grad, false, false, JpegCmyk::Adobe); }, [] { return sample_opaque(grad); }, false, 12},
      {"jpeg progressive adobe cmyk", [] { return write_jpeg(grad, true, false, JpegCmyk::Adobe); }, [] { return sample_opaque(grad); }, false, 12},
      {"bmp 24 bottom-up", [] { return write_bmp(grad, {}); }, [] { return sample_opaque(grad); }, false},
      {"bmp 24 top-down", [] { return write_bmp(grad, {.top_down = true}); }, [] { return sample_opaque(grad); }, false},
      {"bmp 32 BI_RGB ignores spare byte", [] { return write_bmp(grad, {.bits = 32}); }, [] { return sample_opaque(grad); }, false},
      {"bmp 32 v5 alpha mask", [] { return write_bmp(grad, {.bits = 32, .header_size = 124, .bitfields = true}); }, [] { return grad; }, true},
      {"bmp 16 565 bitfields", [] { return write_bmp(pure, {.bits = 16, .bitfields = true}); }, [] { return pure; }, false},
      {"bmp 16 555", [] { return write_bmp(pure, {.bits = 16}); }, [] { return pure; }, false},
      {"bmp 8 palette", [] { return write_bmp(pure, {.bits = 8}); }, [] { return pure; }, false},
      {"bmp 4 palette", [] { return write_bmp(pure, {.bits = 4, .top_down = true}); }, [] { return pure; }, false},
      {"bmp 1 palette", [] { return write_bmp(grey, {.bits = 1}); }, [] { return one_bit(grey); }, false},
      {"bmp rle8", [] { return write_bmp(pure, {.bits = 8, .rle = true}); }, [] { return pure; }, false},
      {"bmp rle4", [] { return write_bmp(pure, {.bits = 4, .rle = true}); }, [] { return pure; }, false},
      // The picture's end given as a jump past the last row, its two bytes the file's last.
      {"bmp rle8 ending on a delta", [] { Bytes b = write_bmp(pure, {.bits = 8, .rle = true}); b.back() = 2; b.insert(b.end(), {0, 1}); return b; }, [] { return pure; }, false},
      {"bmp os/2 core header", [] { return write_bmp(pure, {.bits = 8, .header_size = 12}); }, [] { return pure; }, false},
      {"dib os/2 core header", [] { return write_bmp(pure, {.bits = 4, .file_header = false, .header_size = 12}); }, [] { return pure; }, false},
      {"dib 8 palette", [] { return write_bmp(pure, {.bits = 8, .file_header = false}); }, [] { return pure; }, false},
      {"dib 16 555", [] { return write_bmp(pure, {.bits = 16, .file_header = false}); }, [] { return pure; }, false},
      {"dib 1 palette", [] { return write_bmp(grey, {.bits = 1, .file_header = false}); }, [] { return one_bit(grey); }, false},
      {"bmp last row without its padding", [] { Bytes b = write_bmp(grad, {}); b.pop_back(); return b; }, [] { return sample_opaque(grad); }, false},
      {"dib 24", [] { return write_bmp(grad, {.file_header = false}); }, [] { return sample_opaque(grad); }, false},
      {"dib 32 bitfields", [] { return write_bmp(grad, {.bits = 32, .file_header = false, .bitfields = true}); }, [] { return sample_opaque(grad); }, false},
      {"tga 24 bottom-left", [] { return write_tga(grad, {}); }, [] { return sample_opaque(grad); }, false},
      {"tga 32 top-left alpha", [] { return write_tga(grad, {.bits = 32, .top = true, .alpha_bits = 8}); }, [] { return grad; }, true},
      {"tga 32 without alpha bits is opaque", [] { return write_tga(grad, {.bits = 32}); }, [] { return sample_opaque(grad); }, false},
      {"tga 16 alpha bit right-to-left", [] { return write_tga(half_transparent(pure), {.bits = 16, .right_to_left = true, .alpha_bits = 1}); }, [] { return alpha_bit(half_transparent(pure)); }, true},
      {"tga 15 ignores the top bit", [] { return write_tga(half_transparent(pure), {.bits = 15, .alpha_bits = 1}); }, [] { return pure; }, false},
      {"tga grey 16 with alpha", [] { return write_tga(grey, {.type = 3, .bits = 16, .alpha_bits = 8}); }, [] { return grey; }, true},
      {"tga mapped 16-bit indexes, 15-bit map", [] { return write_tga(pure, {.type = 1, .bits = 16, .map_bits = 15}); }, [] { return pure; }, false},
      {"tga mapped 32-bit map alpha", [] { return write_tga(pure, {.type = 1, .bits = 8, .alpha_bits = 8, .map_bits = 32}); }, [] { return palette_alpha(pure); }, true},
      {"tga mapped", [] { return write_tga(pure, {.type = 1, .bits = 8}); }, [] { return pure; }, false},
      {"tga grey", [] { return write_tga(grey, {.type = 3, .bits = 8}); }, [] { return sample_opaque(grey); }, false},
      {"tga rle mapped", [] { return write_tga(pure, {.type = 9, .bits = 8, .top = true}); }, [] { return pure; }, false},
      {"tga rle 32", [] { return write_tga(pure, {.type = 10, .bits = 32, .alpha_bits = 8}); }, [] { return pure; }, true},
      {"tga rle grey", [] { return write_tga(grey, {.type = 11, .bits = 8}); }, [] { return sample_opaque(grey); }, false},
      {"dds a8r8g8b8", [] { return write_dds_masked(grad, 32); }, [] { return grad; }, true},
      {"dds r8g8b8", [] { return write_dds_masked(grad, 24); }, [] { return sample_opaque(grad); }, false},
      {"dds dx10 r8g8b8a8", [] { return write_dds_masked(grad, 32, 28); }, [] { return grad; }, true},
      {"dds dx10 r8g8b8a8 srgb", [] { return write_dds_masked(grad, 32, 29); }, [] { return grad; }, true},
      {"dds dx10 b8g8r8a8", [] { return write_dds_masked(grad, 32, 87); }, [] { return grad; }, true},
      {"dds dx10 b8g8r8a8 srgb", [] { return write_dds_masked(grad, 32, 91); }, [] { return grad; }, true},
      {"dds dx10 b8g8r8x8", [] { return write_dds_masked(grad, 32, 88); }, [] { return sample_opaque(grad); }, false},
      {"dds dx10 b8g8r8x8 srgb", [] { return write_dds_masked(grad, 32, 93); }, [] { return sample_opaque(grad); }, false},
      {"dds dxt1 edges and transparency", [] { return write_dds_blocks(5, 3, "DXT1", dxt1_blocks()); }, dxt1_expected, true},
      {"dds dxt1 equal colours are three-colour", [] { return write_dds_blocks(4, 4, "DXT1", dxt1_equal_block()); }, dxt1_equal_expected, true},
      {"dds dxt3", [] { return write_dds_blocks(4, 4, "DXT3", dxt_alpha_block(false)); }, [] { return dxt_alpha_expected(false); }, true},
      {"dds dxt5", [] { return write_dds_blocks(4, 4, "DXT5", dxt_alpha_block(true)); }, [] { return dxt_alpha_expected(true); }, true},
  };
}

int channel_diff(uint32_t a, uint32_t b) {
  int worst = 0;
  for (int s = 0; s < 32; s += 8) worst = std::max(worst, std::abs(static_cast<int>((a >> s) & 0xFF) - static_cast<int>((b >> s) & 0xFF)));
  return worst;
}

TEST(ImageDecode, EachFormatDecodesToTheSamePixels) {
  for (const Good& c : good_cases()) {
    SCOPED_TRACE(c.name);
    Bytes bytes = c.make();
    Picture want = c.expect();
    DecodedImage img;
    ASSERT_EQ(image_decode_memory(bytes.data(), bytes.size(), &img), IMAGE_OK);
    ASSERT_EQ(img.width, want.width);
    ASSERT_EQ(img.height, want.height);
    ASSERT_EQ(img.argb.size(), want.argb.size());
    EXPECT_EQ(img.has_alpha, c.has_alpha);
    int worst = 0;
    size_t worst_at = 0;
    for (size_t i = 0; i < want.argb.size(); ++i) {
      int d = channel_diff(img.argb[i], want.argb[i]);
      if (d > worst) worst = d, worst_at = i;
    }
    EXPECT_LE(worst, c.tolerance) << "pixel " << worst_at % want.width << "," << worst_at / want.width << " got "
                                  << std::hex << img.argb[worst_at] << " want " << want.argb[worst_at];
  }
}

// Plain 8-bit RGB rows are widened to four bytes a pixel in place: pictures
// of one to a few pixels a row, plain and interlaced, come out as stored.
TEST(ImageDecode, NarrowRgbPngsWidenExactly) {
  for (const int width : {1, 2, 3, 4, 5}) {
    for (const PngKind kind : {PngKind::RGB8, PngKind::RGB8_INTERLACED}) {
      SCOPED_TRACE(testing::Message() << width << (kind == PngKind::RGB8 ? " plain" : " interlaced"));
      const Picture want = sample_opaque(sample_gradient(width, 9));
      const Bytes bytes = write_png(want, kind);
      DecodedImage img;
      ASSERT_EQ(image_decode_memory(bytes.data(), bytes.size(), &img), IMAGE_OK);
      EXPECT_EQ(img.argb, want.argb);
      EXPECT_FALSE(img.has_alpha);
    }
  }
}

// Collects what a band decode hands over and checks the bands' order.
struct BandLog {
  int width = 0, height = 0, next_row = 0, largest_band = 0, bands = 0;
  bool has_alpha = false, in_order = true;
  std::vector<uint32_t> argb, band;
  int fail_at_band = -1;  // done refuses this band
  bool refuse_begin = false, no_room = false;

  static ImageResult begin(void* u, int w, int h, bool a) {
    auto* l = static_cast<BandLog*>(u);
    l->width = w, l->height = h, l->has_alpha = a;
    return l->refuse_begin ? IMAGE_TOO_LARGE : IMAGE_OK;
  }
  static uint32_t* room(void* u, int first, int count) {
    auto* l = static_cast<BandLog*>(u);
    l->in_order = l->in_order && first == l->next_row;
    l->band.assign(static_cast<size_t>(count) * l->width, 0xDEADBEEF);
    return l->no_room ? nullptr : l->band.data();
  }
  static ImageResult done(void* u, int first, int count) {
    auto* l = static_cast<BandLog*>(u);
    if (l->bands++ == l->fail_at_band) return IMAGE_CORRUPT;
    l->next_row = first + count;
    l->largest_band = std::max(l->largest_band, count);
    l->argb.insert(l->argb.end(), l->band.begin(), l->band.end());
    return IMAGE_OK;
  }
  ImageRowSink sink() { return {this, begin, room, done}; }
};

// Band decoding gives the pixels of the whole decode, top to bottom, each row
// once, in bands of at most IMAGE_BAND_ROWS for PNG and JPEG; a sink that
// refuses stops the decode with its result.
TEST(ImageDecode, BandsCoverEveryRowOnceInOrder) {
  const Picture tall = sample_gradient(13, 2 * IMAGE_BAND_ROWS + 3);
  const struct {
    const char* name;
    Bytes bytes;
    int largest_band;
  } cases[] = {
      {"png", write_png(tall, PngKind::RGBA8), IMAGE_BAND_ROWS},
      {"png rgb8", write_png(tall, PngKind::RGB8), IMAGE_BAND_ROWS},
      {"png interlaced", write_png(tall, PngKind::RGB8_INTERLACED), tall.height},
      {"jpeg", write_jpeg(tall, false, false), IMAGE_BAND_ROWS},
      {"jpeg adobe cmyk", write_jpeg(tall, true, false, JpegCmyk::Adobe), IMAGE_BAND_ROWS},
      {"bmp", write_bmp(tall, {}), IMAGE_BAND_ROWS},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DecodedImage whole;
    ASSERT_EQ(image_decode_memory(c.bytes.data(), c.bytes.size(), &whole), IMAGE_OK);
    BandLog log;
    ASSERT_EQ(image_decode_memory_rows(c.bytes.data(), c.bytes.size(), log.sink()), IMAGE_OK);
    EXPECT_EQ(log.width, tall.width);
    EXPECT_EQ(log.height, tall.height);
    EXPECT_EQ(log.has_alpha, whole.has_alpha);
    EXPECT_TRUE(log.in_order);
    EXPECT_EQ(log.next_row, tall.height);
    EXPECT_EQ(log.largest_band, c.largest_band);
    EXPECT_EQ(log.argb, whole.argb);

    BandLog refused;
    refused.refuse_begin = true;
    EXPECT_EQ(image_decode_memory_rows(c.bytes.data(), c.bytes.size(), refused.sink()), IMAGE_TOO_LARGE);
    EXPECT_EQ(refused.bands, 0);
    BandLog no_room;
    no_room.no_room = true;
    EXPECT_EQ(image_decode_memory_rows(c.bytes.data(), c.bytes.size(), no_room.sink()), IMAGE_TOO_LARGE);
    BandLog failing;
    failing.fail_at_band = 0;
    EXPECT_EQ(image_decode_memory_rows(c.bytes.data(), c.bytes.size(), failing.sink()), IMAGE_CORRUPT);
    EXPECT_EQ(failing.bands, 1) << "no band after a refused one";
  }
  BandLog junk;
  const Bytes text = {'n', 'o', 'p', 'e'};
  EXPECT_EQ(image_decode_memory_rows(text.data(), text.size(), junk.sink()), IMAGE_UNSUPPORTED);
  EXPECT_EQ(image_decode_memory_rows(nullptr, 0, junk.sink()), IMAGE_UNSUPPORTED);
  EXPECT_EQ(junk.bands, 0);
}

// Every prefix of every sample: no crash, no read outside the data (the
// sanitizer build checks that), and a cut inside the pixel data is refused.
TEST(ImageDecode, EveryTruncationIsRefusedWithoutCrashing) {
  for (const Good& c : good_cases()) {
    SCOPED_TRACE(c.name);
    Bytes bytes = c.make();
    for (size_t n = 0; n < bytes.size(); ++n) {
      Bytes cut(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(n));
      DecodedImage img;
      ImageResult r = image_decode_memory(cut.data(), cut.size(), &img);
      // TGA and DDS pictures need every byte they hold.
      const bool whole = std::strncmp(c.name, "tga", 3) == 0 || std::strncmp(c.name, "dds", 3) == 0;
      if (n * 4 < bytes.size() * 3 || whole) {
        EXPECT_NE(r, IMAGE_OK) << "prefix " << n << " of " << bytes.size();
      }
      if (r != IMAGE_OK) {
        EXPECT_EQ(img.width, 0);
        EXPECT_TRUE(img.argb.empty());
      }
    }
  }
}

void put_be32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}
void put_le32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void put_le16(Bytes& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
// Rewrites the IHDR size and its CRC, so only the size is wrong.
Bytes png_with_size(uint32_t w, uint32_t h) {
  Bytes b = write_png(grad, PngKind::RGBA8);
  put_be32(b, 16, w);
  put_be32(b, 20, h);
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 12; i < 29; ++i) {
    crc ^= b[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  put_be32(b, 29, ~crc);
  return b;
}
Bytes jpeg_with_size(uint32_t w, uint32_t h) {
  Bytes b = write_jpeg(grad, false, false);
  for (size_t i = 2; i + 9 < b.size(); ++i)
    if (b[i] == 0xFF && b[i + 1] == 0xC0) {
      b[i + 5] = static_cast<uint8_t>(h >> 8), b[i + 6] = static_cast<uint8_t>(h);
      b[i + 7] = static_cast<uint8_t>(w >> 8), b[i + 8] = static_cast<uint8_t>(w);
      break;
    }
  return b;
}
Bytes patched(Bytes b, const std::function<void(Bytes&)>& f) {
  f(b);
  return b;
}

struct Bad {
  const char* name;
  Bytes bytes;
  ImageResult want;
};

TEST(ImageDecode, OversizedCorruptAndUnknownInputIsRefused) {
  const Bytes bmp = write_bmp(grad, {});
  const Bytes tga = write_tga(grad, {});
  const Bytes dds = write_dds_masked(grad, 32);
  const Bytes png = write_png(grad, PngKind::RGB8);
  const std::vector<Bad> cases = {
      {"empty", {}, IMAGE_UNSUPPORTED},
      {"text", Bytes{'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'}, IMAGE_UNSUPPORTED},
      {"png 100000 square", png_with_size(100000, 100000), IMAGE_TOO_LARGE},
      {"png over the pixel limit", png_with_size(16384, 8192), IMAGE_TOO_LARGE},
      {"png zero width", png_with_size(0, 5), IMAGE_CORRUPT},
      {"png size beyond its data", png_with_size(4000, 4000), IMAGE_CORRUPT},
      {"png damaged pixel data", patched(png, [](Bytes& b) { b[b.size() - 20] ^= 0x55; }), IMAGE_CORRUPT},
      {"jpeg 60000 square", jpeg_with_size(60000, 60000), IMAGE_TOO_LARGE},
      {"jpeg zero height", jpeg_with_size(5, 0), IMAGE_CORRUPT},
      {"bmp 100000 square", patched(bmp, [](Bytes& b) { put_le32(b, 18, 100000), put_le32(b, 22, 100000); }), IMAGE_TOO_LARGE},
      {"bmp most negative height", patched(bmp, [](Bytes& b) { put_le32(b, 22, 0x80000000u); }), IMAGE_TOO_LARGE},
      {"bmp negative width", patched(bmp, [](Bytes& b) { put_le32(b, 18, 0xFFFFFFF0u); }), IMAGE_CORRUPT},
      {"bmp height beyond its data", patched(bmp, [](Bytes& b) { put_le32(b, 22, 1000); }), IMAGE_CORRUPT},
      {"bmp last row cut into its pixels", patched(bmp, [](Bytes& b) { b.resize(b.size() - 2); }), IMAGE_CORRUPT},
      {"bmp 7 bits", patched(bmp, [](Bytes& b) { put_le16(b, 28, 7); }), IMAGE_UNSUPPORTED},
      {"bmp jpeg compression", patched(bmp, [](Bytes& b) { put_le32(b, 30, 4); }), IMAGE_UNSUPPORTED},
      {"bmp unknown header size", patched(bmp, [](Bytes& b) { put_le32(b, 14, 41); }), IMAGE_UNSUPPORTED},
      {"tga 65535 square", patched(tga, [](Bytes& b) { put_le16(b, 12, 65535), put_le16(b, 14, 65535); }), IMAGE_TOO_LARGE},
      {"tga height beyond its data", patched(tga, [](Bytes& b) { put_le16(b, 14, 500); }), IMAGE_CORRUPT},
      {"tga rle stream too short", patched(write_tga(pure, {.type = 10}), [](Bytes& b) { put_le16(b, 14, 4000); }), IMAGE_CORRUPT},
      {"dds 100000 square", patched(dds, [](Bytes& b) { put_le32(b, 12, 100000), put_le32(b, 16, 100000); }), IMAGE_TOO_LARGE},
      {"dds height beyond its data", patched(dds, [](Bytes& b) { put_le32(b, 12, 1000); }), IMAGE_CORRUPT},
      {"dds dxt1 blocks missing", write_dds_blocks(8, 8, "DXT1", dxt1_blocks()), IMAGE_CORRUPT},
      {"dds unknown fourcc", write_dds_blocks(4, 4, "ATI2", Bytes(16, 0)), IMAGE_UNSUPPORTED},
      {"dds odd bit count", patched(dds, [](Bytes& b) { put_le32(b, 88, 12); }), IMAGE_UNSUPPORTED},
  };
  for (const Bad& c : cases) {
    SCOPED_TRACE(c.name);
    DecodedImage img;
    img.width = 3;
    img.argb.assign(3, 1);
    EXPECT_EQ(image_decode_memory(c.bytes.data(), c.bytes.size(), &img), c.want);
    EXPECT_EQ(img.width, 0);
    EXPECT_TRUE(img.argb.empty());
  }
}

TEST(ImageDecode, FilesAreReadThroughTheSystemPaths) {
  char tmpl[] = "/tmp/tl_image_XXXXXX";
  std::string dir = ::mkdtemp(tmpl);
  Bytes png = write_png(grad, PngKind::RGBA8);
  std::ofstream(dir + "/Pic.PNG", std::ios::binary).write(reinterpret_cast<const char*>(png.data()), png.size());
  DecodedImage img;
  // Windows-style separators and a name in another case still find the file.
  EXPECT_EQ(image_decode_file("C:" + dir + "\\pic.png", &img), IMAGE_OK);
  EXPECT_EQ(img.width, W);
  EXPECT_EQ(img.argb, grad.argb);
  EXPECT_EQ(image_decode_file(dir + "/missing.png", &img), IMAGE_FILE_MISSING);
  EXPECT_TRUE(img.argb.empty());
  EXPECT_EQ(image_decode_file(dir, &img), IMAGE_FILE_MISSING);
  // In bands as well.
  BandLog rows;
  EXPECT_EQ(image_decode_file_rows(std::string("C:").append(dir).append("\\PIC.png"), rows.sink()), IMAGE_OK);
  EXPECT_EQ(rows.argb, grad.argb);
  BandLog none;
  EXPECT_EQ(image_decode_file_rows(dir + "/missing.png", none.sink()), IMAGE_FILE_MISSING);
  EXPECT_EQ(none.bands, 0);
  std::system(("rm -rf '" + dir + "'").c_str());
  EXPECT_STRNE(image_result_text(IMAGE_CORRUPT), image_result_text(IMAGE_TOO_LARGE));
}

// With TL_IMAGE_CORPUS_DIR set, the samples are written there as fuzz seeds.
TEST(ImageDecode, SeedCorpus) {
  const char* dir = std::getenv("TL_IMAGE_CORPUS_DIR");
  if (!dir) GTEST_SKIP() << "TL_IMAGE_CORPUS_DIR not set";
  for (const Good& c : good_cases()) {
    Bytes b = c.make();
    std::string name = std::string(dir) + "/";
    for (const char* p = c.name; *p; ++p) name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    std::ofstream(name, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), b.size());
  }
}

}  // namespace
