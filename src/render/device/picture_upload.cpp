#include "render/device/picture_upload.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <new>
#include <vector>

#include "platform/image/image.h"
#include "platform/sys/sys.h"

namespace {

// Decoded rows waiting for the upload take at most about this much memory.
// Making a big texture (its first touch of every page) takes about as long
// as decoding the picture, so the decoder runs ahead by most of the picture
// before the first band can go in.
constexpr size_t kQueueBytes = size_t(96) << 20;
// The main thread is woken for this many ready bands at a time, so that a
// busy machine's wake-up latency is paid a few dozen times, not per band.
constexpr size_t kBatchBands = 8;

struct Band {
  int first = 0, count = 0;
  uint32_t* pixels = nullptr;  // in the upload's band block
};

// Shared by the decoding worker and the main thread. The worker owns a band
// slot from taking it off the free list until it queues it as ready; the
// main thread owns it from then until it puts it back on the free list.
struct Upload {
  // Set before the worker starts.
  const void* data;
  size_t size;
  const char* path;
  uint32_t max_width, max_height;

  std::mutex lock;
  std::condition_variable changed;
  // Under the lock.
  bool sized = false, finished = false, cancelled = false;
  ImageResult result = IMAGE_OK;
  std::vector<int> free_slots;
  std::deque<int> ready;

  // Written by the worker before it announces the size, read after.
  int width = 0, height = 0, texture_width = 0, texture_height = 0;
  bool has_alpha = false;
  std::vector<Band> bands;
  // A picture that is scaled down, kept whole; the main thread reads it
  // only once the worker has finished.
  DecodedImage whole;
  int writing = -1;  // the worker's current slot
  size_t batch = 1;  // ready bands that wake the main thread
  // A band taller than IMAGE_BAND_ROWS (an interlaced PNG comes as one band)
  // gets memory of its own in the last slot, one such band at a time.
  int tall_slot = -1;
  bool tall_busy = false, tall_ready = false;  // under the lock
  std::vector<uint32_t> tall;
  // The memory of every band slot, made once: slots are used again and
  // again, so the pages are touched once per picture at most, and in huge
  // pages where the system has them.
  void* block = nullptr;
  size_t block_bytes = 0;

  Upload() = default;
  Upload(const Upload&) = delete;
  Upload& operator=(const Upload&) = delete;
  ~Upload() { sys_free_large(block, block_bytes); }
};

// Box-filter weights of the source cells that each destination cell covers,
// for scaling a side of src cells down to dst cells.
struct Span {
  int first;
  std::vector<float> weights;
};

std::vector<Span> box_spans(int src, int dst) {
  std::vector<Span> spans(size_t(dst), Span{});
  const double ratio = double(src) / dst;
  for (int o = 0; o < dst; ++o) {
    const double a = o * ratio, b = std::min(double(src), (o + 1) * ratio);
    Span& s = spans[size_t(o)];
    s.first = int(a);
    for (int i = s.first; i < src && i < b; ++i)
      s.weights.push_back(float((std::min(b, i + 1.0) - std::max(a, double(i))) / ratio));
  }
  return spans;
}

// Rows first to first + count - 1 of the picture scaled down by the spans
// (box_spans of each side), each destination pixel the average of the source
// area it covers.
void scale_rows_down(const DecodedImage& src, const std::vector<Span>& xs, const std::vector<Span>& ys, int first,
                     int count, uint32_t* dst) {
  const int dw = int(xs.size());
  std::vector<float> acc(size_t(src.width) * 4);
  for (int y = first; y < first + count; ++y) {
    std::fill(acc.begin(), acc.end(), 0.0f);
    const Span& sy = ys[size_t(y)];
    for (size_t k = 0; k < sy.weights.size(); ++k) {
      const uint32_t* row = src.argb.data() + size_t(sy.first + int(k)) * size_t(src.width);
      for (int x = 0; x < src.width; ++x)
        for (int c = 0; c < 4; ++c)
          acc[size_t(x) * 4 + size_t(c)] += sy.weights[k] * float((row[x] >> (8 * c)) & 0xFF);
    }
    for (int x = 0; x < dw; ++x) {
      const Span& sx = xs[size_t(x)];
      uint32_t out = 0;
      for (int c = 0; c < 4; ++c) {
        float v = 0;
        for (size_t k = 0; k < sx.weights.size(); ++k)
          v += sx.weights[k] * acc[size_t(sx.first + int(k)) * 4 + size_t(c)];
        out |= uint32_t(std::clamp(v + 0.5f, 0.0f, 255.0f)) << (8 * c);
      }
      dst[size_t(y - first) * size_t(dw) + size_t(x)] = out;
    }
  }
}

// ---- The worker's side: the decoder's sink ------------------------------------------------

ImageResult on_begin(void* user, int width, int height, bool has_alpha) noexcept {
  auto* u = static_cast<Upload*>(user);
  u->width = width;
  u->height = height;
  u->has_alpha = has_alpha;
  uint64_t tw = uint32_t(width), th = uint32_t(height);
  try {
    if (tw > u->max_width || th > u->max_height) {
      if (tw * u->max_height >= th * u->max_width) {
        th = std::max<uint64_t>(1, (th * u->max_width + tw / 2) / tw);
        tw = u->max_width;
      } else {
        tw = std::max<uint64_t>(1, (tw * u->max_height + th / 2) / th);
        th = u->max_height;
      }
      u->whole.argb.assign(size_t(width) * size_t(height), 0);
      u->whole.width = width;
      u->whole.height = height;
    } else {
      const size_t band_bytes = size_t(IMAGE_BAND_ROWS) * size_t(width) * 4;
      // Never more than three quarters of the picture, so LOAD stays within
      // one and three quarters times the picture's memory.
      const size_t most = (size_t(height) + IMAGE_BAND_ROWS - 1) / IMAGE_BAND_ROWS * 3 / 4;
      const size_t slots = std::clamp<size_t>(kQueueBytes / band_bytes, 2, std::max<size_t>(most, 2));
      u->block = sys_alloc_large(slots * band_bytes);
      if (!u->block) return IMAGE_TOO_LARGE;
      u->block_bytes = slots * band_bytes;
      u->bands.resize(slots + 1);
      u->tall_slot = int(slots);
      for (size_t i = 0; i < slots; ++i)
        u->bands[i].pixels = static_cast<uint32_t*>(u->block) + i * (band_bytes / sizeof(uint32_t));
      u->free_slots.reserve(slots);
      for (size_t i = slots; i-- > 0;) u->free_slots.push_back(int(i));
      // One slot may be the decoder's: the rest must be able to fill a batch.
      u->batch = std::min(kBatchBands, slots - 1);
    }
  } catch (...) {
    return IMAGE_TOO_LARGE;
  }
  u->texture_width = int(tw);
  u->texture_height = int(th);
  std::lock_guard<std::mutex> hold(u->lock);
  u->sized = true;
  u->changed.notify_all();
  return IMAGE_OK;
}

uint32_t* on_band(void* user, int first, int count) noexcept {
  auto* u = static_cast<Upload*>(user);
  if (!u->whole.argb.empty()) return u->whole.argb.data() + size_t(first) * size_t(u->width);
  const bool tall = count > IMAGE_BAND_ROWS;
  int slot;
  {
    std::unique_lock<std::mutex> hold(u->lock);
    if (tall) {
      u->changed.wait(hold, [u] { return !u->tall_busy || u->cancelled; });
      if (u->cancelled) return nullptr;
      u->tall_busy = true;
      slot = u->tall_slot;
    } else {
      u->changed.wait(hold, [u] { return !u->free_slots.empty() || u->cancelled; });
      if (u->cancelled) return nullptr;
      slot = u->free_slots.back();
      u->free_slots.pop_back();
    }
  }
  Band& b = u->bands[size_t(slot)];
  if (tall) {
    try {
      u->tall.resize(size_t(count) * size_t(u->width));
    } catch (...) {
      return nullptr;
    }
    b.pixels = u->tall.data();
  }
  b.first = first;
  b.count = count;
  u->writing = slot;
  return b.pixels;
}

ImageResult on_done(void* user, int, int) noexcept {
  auto* u = static_cast<Upload*>(user);
  if (!u->whole.argb.empty()) return IMAGE_OK;
  std::lock_guard<std::mutex> hold(u->lock);
  u->ready.push_back(u->writing);
  // The next tall band waits for this one to be written, so it is taken
  // without waiting for a batch to fill.
  if (u->writing == u->tall_slot) u->tall_ready = true;
  if (u->ready.size() >= u->batch || u->tall_ready) u->changed.notify_all();
  return u->cancelled ? IMAGE_CORRUPT : IMAGE_OK;
}

void decode_worker(Upload* u) {
  const ImageRowSink sink{u, on_begin, on_band, on_done};
  ImageResult r;
  try {
    r = u->data ? image_decode_memory_rows(u->data, u->size, sink) : image_decode_file_rows(u->path, sink);
  } catch (...) {
    r = IMAGE_TOO_LARGE;
  }
  std::lock_guard<std::mutex> hold(u->lock);
  u->finished = true;
  u->result = r;
  u->changed.notify_all();
}

// ---- The main thread's side ---------------------------------------------------------------

// Makes the texture once the size is known and writes the bands into it as
// they come. False stops the worker at its next band.
bool receive_bands(GpuDevice* device, Upload* u, uint8_t mip, GpuTexture** texture) {
  std::unique_lock<std::mutex> hold(u->lock);
  u->changed.wait(hold, [u] { return u->sized || u->finished; });
  if (!u->sized) return false;
  hold.unlock();
  const GpuFormat format = u->has_alpha ? GPU_FMT_A8R8G8B8 : GPU_FMT_X8R8G8B8;
  const GpuResult made = gpu_create_texture_unfilled(device, uint32_t(u->texture_width),
                                                     uint32_t(u->texture_height), mip ? 0 : 1, format, texture);
  hold.lock();
  bool ok = made == GPU_OK;
  std::vector<int> batch;
  while (ok) {
    u->changed.wait(hold, [u] { return u->ready.size() >= u->batch || u->tall_ready || u->finished; });
    if (u->ready.empty()) break;
    batch.assign(u->ready.begin(), u->ready.end());
    u->ready.clear();
    u->tall_ready = false;
    hold.unlock();
    // Each slot goes back as soon as it is written: a backlog from while the
    // texture was made must not hold the decoder up until all of it is in.
    for (int slot : batch) {
      const Band& b = u->bands[size_t(slot)];
      ok = ok && gpu_texture_write_rows(*texture, 0, uint32_t(b.first), uint32_t(b.count), b.pixels) == GPU_OK;
      std::lock_guard<std::mutex> give(u->lock);
      if (slot == u->tall_slot) {
        u->tall_busy = false;
        u->changed.notify_all();
      } else {
        if (u->free_slots.empty()) u->changed.notify_all();
        u->free_slots.push_back(slot);
      }
    }
    hold.lock();
  }
  if (!ok) {
    u->cancelled = true;
    u->changed.notify_all();
  }
  return ok;
}

// The whole picture scaled into the texture, a band at a time.
bool upload_scaled(Upload* u, GpuTexture* texture) {
  std::fprintf(stderr, "picture %dx%d is larger than the device's %ux%u texture limit: shown scaled down to %dx%d\n",
               u->width, u->height, u->max_width, u->max_height, u->texture_width, u->texture_height);
  std::vector<uint32_t> rows(size_t(IMAGE_BAND_ROWS) * size_t(u->texture_width));
  const std::vector<Span> xs = box_spans(u->width, u->texture_width), ys = box_spans(u->height, u->texture_height);
  for (int first = 0; first < u->texture_height; first += IMAGE_BAND_ROWS) {
    const int n = std::min<int>(IMAGE_BAND_ROWS, u->texture_height - first);
    scale_rows_down(u->whole, xs, ys, first, n, rows.data());
    if (gpu_texture_write_rows(texture, 0, uint32_t(first), uint32_t(n), rows.data()) != GPU_OK) return false;
  }
  return true;
}

}  // namespace

bool picture_upload(GpuDevice* device, const void* data, size_t size, const char* path, uint8_t mip,
                    PictureTexture* out) {
  *out = PictureTexture{};
  if (!device || (!data && !path)) return false;
  GpuCaps caps{};
  gpu_device_caps(device, &caps);
  Upload u;
  u.data = data;
  u.size = size;
  u.path = path;
  u.max_width = caps.max_texture_width;
  u.max_height = caps.max_texture_height;
  GpuTexture* texture = nullptr;
  bool ok = false;
  try {
    SysThread worker(decode_worker, &u);
    ok = receive_bands(device, &u, mip, &texture);
    worker.join();
    ok = ok && u.result == IMAGE_OK && (u.whole.argb.empty() || upload_scaled(&u, texture));
  } catch (...) {
    // No thread to decode on, or no memory to scale with: not made. A
    // started worker has been joined, since only the scaling can throw.
    ok = false;
  }
  if (!ok) {
    if (texture) gpu_texture_release(texture);
    return false;
  }
  if (mip) gpu_texture_generate_mips(texture);
  *out = PictureTexture{texture, u.width, u.height};
  return true;
}
