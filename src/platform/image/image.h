// Picture decoding into 32-bit ARGB (alpha in bits 24 to 31), from memory or
// from a file: PNG, JPEG, BMP and DIB, TGA, DDS. Pictures come from user
// files, so every decoder checks sizes before it allocates and refuses what
// it cannot read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum ImageResult {
  IMAGE_OK = 0,
  IMAGE_FILE_MISSING,  // the file cannot be opened
  IMAGE_UNSUPPORTED,   // not a format or variant we read
  IMAGE_CORRUPT,       // truncated or malformed
  IMAGE_TOO_LARGE,     // over the size limits below
};

enum : uint32_t {
  IMAGE_MAX_SIDE = 16384,
  IMAGE_MAX_PIXELS = 64u * 1024u * 1024u,
};

struct DecodedImage {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> argb;  // width * height pixels, rows top to bottom
  // The source carries alpha (texture A8R8G8B8); otherwise every alpha is 0xFF
  // and the texture may be X8R8G8B8.
  bool has_alpha = false;
};

ImageResult image_decode_memory(const void* data, size_t size, DecodedImage* out);
ImageResult image_decode_file(const std::string& path, DecodedImage* out);

// A picture handed over in bands of rows as it is decoded, so that no whole
// copy of it need exist outside where the caller puts the rows. begin comes
// once, before any band; band asks for room for count rows from first on
// (width words each, one row after the other), done says they are filled.
// Bands come top to bottom and cover every row once. A callback's result
// other than IMAGE_OK stops the decode, which then returns it.
struct ImageRowSink {
  void* user;
  ImageResult (*begin)(void* user, int width, int height, bool has_alpha);
  uint32_t* (*band)(void* user, int first, int count);
  ImageResult (*done)(void* user, int first, int count);
};
// Rows per band that JPEG and PNG use; an interlaced PNG and the other
// formats may hand over a band of any height, up to the whole picture.
enum : int { IMAGE_BAND_ROWS = 16 };
ImageResult image_decode_memory_rows(const void* data, size_t size, const ImageRowSink& sink);
ImageResult image_decode_file_rows(const std::string& path, const ImageRowSink& sink);
// A short English description of a result, for messages.
const char* image_result_text(ImageResult result);
