#include "platform/movie/movie_library.h"

#include <dlfcn.h>

#include <cstdlib>
#include <mutex>
#include <string>

namespace {

enum MovieLibraryId { LIB_AVUTIL, LIB_SWSCALE, LIB_AVCODEC, LIB_AVFORMAT, LIB_COUNT };

constexpr MovieLibraryId kLib_avutil = LIB_AVUTIL;
constexpr MovieLibraryId kLib_swscale = LIB_SWSCALE;
constexpr MovieLibraryId kLib_avcodec = LIB_AVCODEC;
constexpr MovieLibraryId kLib_avformat = LIB_AVFORMAT;

// The sonames the headers were built against, in load order (each after the
// ones it needs).
std::string library_file(MovieLibraryId id) {
  switch (id) {
    case LIB_AVUTIL: return "libavutil.so." + std::to_string(LIBAVUTIL_VERSION_MAJOR);
    case LIB_SWSCALE: return "libswscale.so." + std::to_string(LIBSWSCALE_VERSION_MAJOR);
    case LIB_AVCODEC: return "libavcodec.so." + std::to_string(LIBAVCODEC_VERSION_MAJOR);
    case LIB_AVFORMAT: return "libavformat.so." + std::to_string(LIBAVFORMAT_VERSION_MAJOR);
    case LIB_COUNT: break;
  }
  return {};
}

struct Loader {
  std::mutex lock;
  bool loaded = false;
  void* handles[LIB_COUNT] = {};
  MovieApi api{};
};

Loader loader;

void close_all() {
  for (int i = LIB_COUNT - 1; i >= 0; --i) {
    if (loader.handles[i] != nullptr) dlclose(loader.handles[i]);
    loader.handles[i] = nullptr;
  }
}

bool load(std::string* error) {
  // TL_MOVIE_LIBRARY_DIR names a folder to load the libraries from instead of
  // the system's search path.
  const char* dir = std::getenv("TL_MOVIE_LIBRARY_DIR");
  for (int i = 0; i < LIB_COUNT; ++i) {
    const std::string file = library_file(MovieLibraryId(i));
    const std::string name = dir != nullptr && *dir != '\0' ? std::string(dir) + "/" + file : file;
    loader.handles[i] = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (loader.handles[i] == nullptr) {
      const char* why = dlerror();
      *error = "movies cannot play: " + file + " cannot be loaded (" + (why != nullptr ? why : "not found") + ")";
      close_all();
      return false;
    }
  }
#define TL_MOVIE_RESOLVE(library, name)                                                                  \
  loader.api.name = reinterpret_cast<decltype(loader.api.name)>(dlsym(loader.handles[kLib_##library], #name)); \
  if (loader.api.name == nullptr) {                                                                      \
    *error = "movies cannot play: " + library_file(kLib_##library) + " has no " #name;                   \
    close_all();                                                                                         \
    return false;                                                                                        \
  }
  TL_MOVIE_FUNCTIONS(TL_MOVIE_RESOLVE)
#undef TL_MOVIE_RESOLVE
  loader.api.av_log_set_level(AV_LOG_QUIET);
  loader.api.av_max_alloc(kMovieMaxAlloc);
  return true;
}

}  // namespace

const MovieApi* movie_api(std::string* error) {
  std::lock_guard<std::mutex> guard(loader.lock);
  if (!loader.loaded) {
    std::string reason;
    loader.loaded = load(&reason);
    if (!loader.loaded) {
      if (error != nullptr) *error = reason;
      return nullptr;
    }
  }
  return &loader.api;
}
