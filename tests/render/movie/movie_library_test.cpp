// The movie libraries are loaded when the first movie is opened, and a
// missing library refuses movies with a clear message while the caller goes
// on. This program does not link the libraries itself, so what it maps comes
// from the loader alone.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/movie/movie_file.h"

namespace {

bool mapped(const char* library) {
  std::ifstream maps("/proc/self/maps");
  std::stringstream text;
  text << maps.rdbuf();
  return text.str().find(library) != std::string::npos;
}

TEST(MovieLibrary, LoadsOnFirstUseAndTellsWhenMissing) {
  ASSERT_FALSE(mapped("libavcodec")) << "nothing may load the movie libraries before a movie is opened";

  ::setenv("TL_MOVIE_LIBRARY_DIR", "/nonexistent/tamberlune-movie-libraries", 1);
  const char bytes[] = "RIFF";
  struct Open {
    const char* name;
    bool memory;
  } const opens[] = {{"from a path", false}, {"from memory", true}};
  for (const Open& o : opens) {
    SCOPED_TRACE(o.name);
    std::string error;
    MovieFile* f = o.memory ? movie_file_open_memory(bytes, sizeof bytes, &error) : movie_file_open("a.avi", &error);
    EXPECT_EQ(f, nullptr);
    EXPECT_EQ(error.rfind("movies cannot play: ", 0), 0u) << error;
    EXPECT_NE(error.find("libav"), std::string::npos) << "the message names the library: " << error;
  }
  EXPECT_FALSE(mapped("libavcodec"));

  // A failed load is tried again: with the libraries found, the same bytes
  // reach the demuxer and are refused as a file, not for want of libraries.
  ::unsetenv("TL_MOVIE_LIBRARY_DIR");
  std::string error;
  EXPECT_EQ(movie_file_open_memory(bytes, sizeof bytes, &error), nullptr);
  EXPECT_EQ(error.find("movies cannot play"), std::string::npos) << error;
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(mapped("libavcodec"));
}

}  // namespace
