// Small AVI files written at test time: each frame's top half is one colour
// and its bottom half another, both chosen from the frame index.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Raw: BGR24 frames; RawYuv420: planar YUV 4:2:0 frames stored as they are;
// Mjpeg: JPEG frames.
enum class TestMovieCodec { Raw, RawYuv420, Mjpeg };

// Colours of frame n (ARGB, alpha 255).
uint32_t test_movie_top(int n);
uint32_t test_movie_bottom(int n);

// Writes the movie; false when the encoder is not available.
bool write_test_movie(const std::string& path, TestMovieCodec codec, int width, int height, int frames, int rate);
std::vector<uint8_t> read_test_file(const std::string& path);
// A path under the test temp folder, unique within the process.
std::string test_movie_path(const char* name);
