// Textures, surfaces and render-target binding.
#include <algorithm>
#include <cstring>

#include "platform/gpu/gpu_internal.h"

// Uploads and the present use a unit that no stage samples from.
void gpu_bind_scratch_texture(GLuint texture) {
  glActiveTexture(GL_TEXTURE0 + GPU_MAX_STAGES);
  glBindTexture(GL_TEXTURE_2D, texture);
}

namespace {

uint32_t level_size(uint32_t size, uint32_t level) { return std::max(1u, size >> level); }

uint32_t level_pitch(const GpuTexture* t, uint32_t level) {
  uint32_t w = level_size(t->width, level);
  return t->info->compressed ? (w + 3) / 4 * t->info->bytes : w * t->info->bytes;
}

uint32_t level_rows(const GpuTexture* t, uint32_t level) {
  uint32_t h = level_size(t->height, level);
  return t->info->compressed ? (h + 3) / 4 : h;
}

void upload_level(GpuTexture* t, uint32_t level, const uint8_t* data, bool create) {
  GLsizei w = GLsizei(level_size(t->width, level)), h = GLsizei(level_size(t->height, level));
  const GpuFormatInfo* f = t->info;
  if (f->compressed) {
    GLsizei size = GLsizei(level_pitch(t, level) * level_rows(t, level));
    if (create)
      glCompressedTexImage2D(GL_TEXTURE_2D, GLint(level), f->internal_format, w, h, 0, size, data);
    else
      glCompressedTexSubImage2D(GL_TEXTURE_2D, GLint(level), 0, 0, w, h, f->internal_format, size, data);
  } else if (create) {
    glTexImage2D(GL_TEXTURE_2D, GLint(level), GLint(f->internal_format), w, h, 0, f->upload_format, f->upload_type,
                 data);
  } else {
    glTexSubImage2D(GL_TEXTURE_2D, GLint(level), 0, 0, w, h, f->upload_format, f->upload_type, data);
  }
}

void texture_destroy(GpuTexture* t) {
  GpuDevice* d = t->device;
  gpu_make_current(d);
  for (GpuSurface* s : t->surfaces) {
    if (!s) continue;
    gpu_forget_fbos_of(d, s->id);
    delete s;
  }
  for (GLuint& g : d->gl.textures)
    if (g == t->name) g = 0xFFFFFFFFu;
  glDeleteTextures(1, &t->name);
  delete t;
}

}  // namespace

// ---- Textures -----------------------------------------------------------------------------

namespace {

// filled: every level starts as zeros, and managed textures keep their copy
// from the start; otherwise the levels are allocated without data.
GpuResult make_texture(GpuDevice* d, uint32_t width, uint32_t height, uint32_t levels, uint32_t usage,
                       GpuFormat format, GpuPool pool, bool filled, GpuTexture** out) {
  if (!out) return GPU_INVALID_CALL;
  *out = nullptr;
  if (!d || width == 0 || height == 0) return GPU_INVALID_CALL;
  const GpuFormatInfo* f = gpu_format_info(format);
  if (!f || f->depth || (f->compressed && !d->s3tc)) return GPU_NOT_AVAILABLE;
  if (!filled && gpu_format_info_memory_order(format)) f = gpu_format_info_memory_order(format);
  bool rt = usage & GPU_USAGE_RENDERTARGET;
  if (rt && (pool != GPU_POOL_DEFAULT || !f->renderable)) return GPU_INVALID_CALL;
  if (width > d->caps.max_texture_width || height > d->caps.max_texture_height) return GPU_INVALID_CALL;
  uint32_t full = 1;
  while ((std::max(width, height) >> full) > 0) ++full;
  if (levels == 0 || levels > full) levels = full;

  gpu_make_current(d);
  GpuTexture* t = new GpuTexture{};
  t->device = d;
  t->refs = 1;
  t->id = gpu_next_id();
  t->format = format;
  t->info = f;
  t->usage = usage;
  t->pool = rt ? GPU_POOL_DEFAULT : pool;
  t->width = width;
  t->height = height;
  t->levels = levels;
  t->locked.assign(levels, GpuRect{0, 0, -1, -1});
  t->lock_flags.assign(levels, 0);
  t->surfaces.assign(levels, nullptr);
  bool shadowed = !rt && filled;
  if (shadowed) t->shadow.resize(levels);
  glGenTextures(1, &t->name);
  gpu_bind_scratch_texture(t->name);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_BASE_LEVEL, 0);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, GLint(levels - 1));
  glTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_RGBA, f->swizzle);
  std::vector<uint8_t> zeros;
  for (uint32_t l = 0; l < levels; ++l) {
    size_t bytes = size_t(level_pitch(t, l)) * level_rows(t, l);
    if (shadowed) {
      t->shadow[l].assign(bytes, 0);
      upload_level(t, l, t->shadow[l].data(), true);
    } else if (!filled) {
      upload_level(t, l, nullptr, true);
    } else {
      zeros.assign(bytes, 0);
      upload_level(t, l, zeros.data(), true);
    }
  }
  GLenum err = glGetError();
  if (err != GL_NO_ERROR) {
    texture_destroy(t);
    return err == GL_OUT_OF_MEMORY ? GPU_OUT_OF_MEMORY : GPU_NOT_AVAILABLE;
  }
  *out = t;
  return GPU_OK;
}

// The copy of an unfilled texture, read back from the device.
void make_shadow(GpuTexture* t) {
  gpu_make_current(t->device);
  gpu_bind_scratch_texture(t->name);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  t->shadow.resize(t->levels);
  for (uint32_t l = 0; l < t->levels; ++l) {
    t->shadow[l].resize(size_t(level_pitch(t, l)) * level_rows(t, l));
    if (t->info->compressed)
      glGetCompressedTexImage(GL_TEXTURE_2D, GLint(l), t->shadow[l].data());
    else
      glGetTexImage(GL_TEXTURE_2D, GLint(l), t->info->upload_format, t->info->upload_type, t->shadow[l].data());
  }
}

}  // namespace

GpuResult gpu_create_texture(GpuDevice* d, uint32_t width, uint32_t height, uint32_t levels, uint32_t usage,
                             GpuFormat format, GpuPool pool, GpuTexture** out) {
  return make_texture(d, width, height, levels, usage, format, pool, true, out);
}

GpuResult gpu_create_texture_unfilled(GpuDevice* d, uint32_t width, uint32_t height, uint32_t levels,
                                      GpuFormat format, GpuTexture** out) {
  return make_texture(d, width, height, levels, 0, format, GPU_POOL_MANAGED, false, out);
}

void gpu_texture_add_ref(GpuTexture* t) {
  if (t) ++t->refs;
}

void gpu_texture_release(GpuTexture* t) {
  if (t && --t->refs == 0) texture_destroy(t);
}

uint64_t gpu_texture_id(const GpuTexture* t) { return t ? t->id : 0; }
uint32_t gpu_texture_level_count(const GpuTexture* t) { return t ? t->levels : 0; }

GpuResult gpu_texture_level_desc(const GpuTexture* t, uint32_t level, GpuSurfaceDesc* out) {
  if (!t || !out || level >= t->levels) return GPU_INVALID_CALL;
  *out = {t->format, t->usage, t->pool, level_size(t->width, level), level_size(t->height, level)};
  return GPU_OK;
}

GpuResult gpu_texture_surface(GpuTexture* t, uint32_t level, GpuSurface** out) {
  if (!out) return GPU_INVALID_CALL;
  *out = nullptr;
  if (!t || level >= t->levels) return GPU_INVALID_CALL;
  GpuSurface*& s = t->surfaces[level];
  if (!s) {
    s = new GpuSurface{};
    s->device = t->device;
    s->id = gpu_next_id();
    s->kind = GPU_SURFACE_TEXTURE_LEVEL;
    s->texture = t;
    s->level = level;
    s->format = t->format;
    s->width = level_size(t->width, level);
    s->height = level_size(t->height, level);
  }
  gpu_surface_add_ref(s);
  *out = s;
  return GPU_OK;
}

GpuResult gpu_texture_lock(GpuTexture* t, uint32_t level, const GpuRect* rect, GpuLockedRect* out, uint32_t flags) {
  if (!out) return GPU_INVALID_CALL;
  *out = GpuLockedRect{};
  if (!t || level >= t->levels || t->pool != GPU_POOL_MANAGED || t->locked[level].right >= 0)
    return GPU_INVALID_CALL;
  if (t->shadow.empty()) make_shadow(t);
  int64_t w = level_size(t->width, level), h = level_size(t->height, level);
  GpuRect r = rect ? *rect : GpuRect{0, 0, int32_t(w), int32_t(h)};
  if (r.left < 0 || r.top < 0 || r.right <= r.left || r.bottom <= r.top || int64_t(r.right) > w ||
      int64_t(r.bottom) > h)
    return GPU_INVALID_CALL;
  uint32_t pitch = level_pitch(t, level);
  size_t offset;
  if (t->info->compressed) {
    if ((r.left & 3) || (r.top & 3)) return GPU_INVALID_CALL;
    offset = size_t(r.top / 4) * pitch + size_t(r.left / 4) * t->info->bytes;
  } else {
    offset = size_t(r.top) * pitch + size_t(r.left) * t->info->bytes;
  }
  t->locked[level] = r;
  t->lock_flags[level] = flags;
  out->pitch = int32_t(pitch);
  out->bits = t->shadow[level].data() + offset;
  return GPU_OK;
}

GpuResult gpu_texture_unlock(GpuTexture* t, uint32_t level) {
  if (!t || level >= t->levels || t->locked[level].right < 0) return GPU_INVALID_CALL;
  GpuRect r = t->locked[level];
  t->locked[level] = GpuRect{0, 0, -1, -1};
  if (t->lock_flags[level] & GPU_LOCK_READONLY) return GPU_OK;
  gpu_make_current(t->device);
  gpu_bind_scratch_texture(t->name);
  const GpuFormatInfo* f = t->info;
  if (f->compressed) {
    upload_level(t, level, t->shadow[level].data(), false);
  } else {
    uint32_t lw = level_size(t->width, level);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, GLint(lw));
    const uint8_t* start = t->shadow[level].data() + (size_t(r.top) * lw + size_t(r.left)) * f->bytes;
    glTexSubImage2D(GL_TEXTURE_2D, GLint(level), r.left, r.top, r.right - r.left, r.bottom - r.top,
                    f->upload_format, f->upload_type, start);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
  }
  return GPU_OK;
}

GpuResult gpu_texture_write_rows(GpuTexture* t, uint32_t level, uint32_t first, uint32_t count, const void* pixels) {
  if (!t || !pixels || level >= t->levels || t->pool != GPU_POOL_MANAGED || t->info->compressed ||
      t->locked[level].right >= 0 || count == 0 || uint64_t(first) + count > level_size(t->height, level))
    return GPU_INVALID_CALL;
  const uint32_t w = level_size(t->width, level);
  if (!t->shadow.empty()) {
    const size_t row = size_t(level_pitch(t, level));
    std::memcpy(t->shadow[level].data() + size_t(first) * row, pixels, size_t(count) * row);
  }
  gpu_make_current(t->device);
  gpu_bind_scratch_texture(t->name);
  glTexSubImage2D(GL_TEXTURE_2D, GLint(level), 0, GLint(first), GLsizei(w), GLsizei(count), t->info->upload_format,
                  t->info->upload_type, pixels);
  return GPU_OK;
}

GpuResult gpu_texture_generate_mips(GpuTexture* t) {
  if (!t) return GPU_INVALID_CALL;
  if (t->levels < 2) return GPU_OK;
  if (t->info->compressed) return GPU_NOT_AVAILABLE;
  gpu_make_current(t->device);
  gpu_bind_scratch_texture(t->name);
  const GpuFormatInfo* f = t->info;
  bool argb = f->bytes == 4 && f->upload_type == GL_UNSIGNED_BYTE;
  if (argb && !t->shadow.empty()) {
    // A box filter on the copy keeps the copy and the device in step.
    for (uint32_t l = 1; l < t->levels; ++l) {
      uint32_t sw = level_size(t->width, l - 1), sh = level_size(t->height, l - 1);
      uint32_t dw = level_size(t->width, l), dh = level_size(t->height, l);
      const uint8_t* src = t->shadow[l - 1].data();
      uint8_t* dst = t->shadow[l].data();
      for (uint32_t y = 0; y < dh; ++y)
        for (uint32_t x = 0; x < dw; ++x) {
          uint32_t x0 = std::min(2 * x, sw - 1), x1 = std::min(2 * x + 1, sw - 1);
          uint32_t y0 = std::min(2 * y, sh - 1), y1 = std::min(2 * y + 1, sh - 1);
          for (uint32_t c = 0; c < 4; ++c) {
            uint32_t sum = src[(y0 * sw + x0) * 4 + c] + src[(y0 * sw + x1) * 4 + c] + src[(y1 * sw + x0) * 4 + c] +
                           src[(y1 * sw + x1) * 4 + c];
            dst[(y * dw + x) * 4 + c] = uint8_t((sum + 2) / 4);
          }
        }
      upload_level(t, l, dst, false);
    }
    return GPU_OK;
  }
  glGenerateMipmap(GL_TEXTURE_2D);
  if (!t->shadow.empty())
    for (uint32_t l = 1; l < t->levels; ++l)
      glGetTexImage(GL_TEXTURE_2D, GLint(l), f->upload_format, f->upload_type, t->shadow[l].data());
  return GPU_OK;
}

// ---- Surfaces ---------------------------------------------------------------------------------

GpuSurface* gpu_surface_new(GpuDevice* d, GpuSurfaceKind kind, GpuFormat format, uint32_t width, uint32_t height) {
  GpuSurface* s = new GpuSurface{};
  s->device = d;
  s->refs = 1;
  s->id = gpu_next_id();
  s->kind = kind;
  s->format = format;
  s->width = width;
  s->height = height;
  return s;
}

GpuResult gpu_create_depth_surface(GpuDevice* d, uint32_t width, uint32_t height, GpuFormat format,
                                   uint32_t multisample, uint32_t, bool, GpuSurface** out) {
  if (!out) return GPU_INVALID_CALL;
  *out = nullptr;
  if (!d || width == 0 || height == 0 || width > d->caps.max_texture_width || height > d->caps.max_texture_height)
    return GPU_INVALID_CALL;
  const GpuFormatInfo* f = gpu_format_info(format);
  if (!f || !f->depth) return GPU_INVALID_CALL;
  if (multisample > 1) return GPU_NOT_AVAILABLE;
  gpu_make_current(d);
  GpuSurface* s = gpu_surface_new(d, GPU_SURFACE_DEPTH, format, width, height);
  glGenRenderbuffers(1, &s->renderbuffer);
  glBindRenderbuffer(GL_RENDERBUFFER, s->renderbuffer);
  glRenderbufferStorage(GL_RENDERBUFFER, f->internal_format, GLsizei(width), GLsizei(height));
  GLenum err = glGetError();
  if (err != GL_NO_ERROR) {
    gpu_surface_release(s);
    return err == GL_OUT_OF_MEMORY ? GPU_OUT_OF_MEMORY : GPU_NOT_AVAILABLE;
  }
  *out = s;
  return GPU_OK;
}

void gpu_surface_add_ref(GpuSurface* s) {
  if (!s) return;
  if (s->refs++ == 0 && s->kind == GPU_SURFACE_TEXTURE_LEVEL) gpu_texture_add_ref(s->texture);
}

void gpu_surface_release(GpuSurface* s) {
  if (!s || s->refs <= 0 || --s->refs > 0) return;
  if (s->kind == GPU_SURFACE_TEXTURE_LEVEL) {
    gpu_texture_release(s->texture);  // the texture owns the record
    return;
  }
  GpuDevice* d = s->device;
  gpu_make_current(d);
  gpu_forget_fbos_of(d, s->id);
  glDeleteRenderbuffers(1, &s->renderbuffer);
  glDeleteTextures(1, &s->colour);
  delete s;
}

GpuResult gpu_surface_desc(const GpuSurface* s, GpuSurfaceDesc* out) {
  if (!s || !out) return GPU_INVALID_CALL;
  uint32_t usage = s->kind == GPU_SURFACE_DEPTH ? GPU_USAGE_DEPTHSTENCIL
                   : s->kind == GPU_SURFACE_BACK_BUFFER ? GPU_USAGE_RENDERTARGET
                                                        : s->texture->usage;
  *out = {s->format, usage, GPU_POOL_DEFAULT, s->width, s->height};
  return GPU_OK;
}

uint64_t gpu_surface_id(const GpuSurface* s) { return s ? s->id : 0; }

// ---- Render targets ------------------------------------------------------------------------

GpuResult gpu_set_render_target(GpuDevice* d, uint32_t index, GpuSurface* s) {
  if (!d || index >= d->caps.max_simultaneous_rts || (index == 0 && !s)) return GPU_INVALID_CALL;
  if (s && s->kind == GPU_SURFACE_DEPTH) return GPU_INVALID_CALL;
  if (s && s->kind == GPU_SURFACE_TEXTURE_LEVEL && !(s->texture->usage & GPU_USAGE_RENDERTARGET))
    return GPU_INVALID_CALL;
  if (s != d->targets[index]) {
    gpu_surface_add_ref(s);
    gpu_surface_release(d->targets[index]);
    d->targets[index] = s;
  }
  if (index == 0) {
    d->viewport = {0, 0, s->width, s->height, 0.0f, 1.0f};
    d->scissor = {0, 0, int32_t(s->width), int32_t(s->height)};
  }
  return GPU_OK;
}

GpuResult gpu_get_render_target(GpuDevice* d, uint32_t index, GpuSurface** out) {
  if (!out) return GPU_INVALID_CALL;
  *out = nullptr;
  if (!d || index >= d->caps.max_simultaneous_rts) return GPU_INVALID_CALL;
  *out = d->targets[index];
  gpu_surface_add_ref(*out);
  return *out ? GPU_OK : GPU_NOT_AVAILABLE;
}

GpuResult gpu_set_depth_surface(GpuDevice* d, GpuSurface* s) {
  if (!d || (s && s->kind != GPU_SURFACE_DEPTH)) return GPU_INVALID_CALL;
  if (s != d->depth) {
    gpu_surface_add_ref(s);
    gpu_surface_release(d->depth);
    d->depth = s;
  }
  return GPU_OK;
}

GpuResult gpu_get_depth_surface(GpuDevice* d, GpuSurface** out) {
  if (!out) return GPU_INVALID_CALL;
  *out = nullptr;
  if (!d) return GPU_INVALID_CALL;
  *out = d->depth;
  gpu_surface_add_ref(*out);
  return *out ? GPU_OK : GPU_NOT_AVAILABLE;
}

void gpu_forget_fbos_of(GpuDevice* d, uint64_t id) {
  auto& v = d->fbos;
  for (size_t i = 0; i < v.size();) {
    const uint64_t* k = v[i].key;
    if (std::find(k, k + 5, id) != k + 5) {
      if (d->gl.fbo == v[i].name) d->gl.fbo = 0xFFFFFFFFu;
      glDeleteFramebuffers(1, &v[i].name);
      v[i] = v.back();
      v.pop_back();
    } else {
      ++i;
    }
  }
}

namespace {

void attach(GLenum point, const GpuSurface* s) {
  if (!s) {
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, point, GL_RENDERBUFFER, 0);
  } else if (s->kind == GPU_SURFACE_TEXTURE_LEVEL) {
    glFramebufferTexture2D(GL_FRAMEBUFFER, point, GL_TEXTURE_2D, s->texture->name, GLint(s->level));
  } else if (s->kind == GPU_SURFACE_BACK_BUFFER) {
    glFramebufferTexture2D(GL_FRAMEBUFFER, point, GL_TEXTURE_2D, s->colour, 0);
  } else {
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, point, GL_RENDERBUFFER, s->renderbuffer);
  }
}

}  // namespace

bool gpu_bind_targets(GpuDevice* d) {
  if (!d->targets[0]) return false;
  uint64_t key[5];
  for (int i = 0; i < 4; ++i) key[i] = gpu_surface_id(d->targets[i]);
  key[4] = gpu_surface_id(d->depth);
  GLuint name = 0;
  for (const GpuFbo& f : d->fbos)
    if (std::memcmp(f.key, key, sizeof key) == 0) name = f.name;
  if (!name) {
    glGenFramebuffers(1, &name);
    glBindFramebuffer(GL_FRAMEBUFFER, name);
    GLenum bufs[4];
    for (int i = 0; i < 4; ++i) {
      attach(GLenum(GL_COLOR_ATTACHMENT0 + i), d->targets[i]);
      bufs[i] = d->targets[i] ? GLenum(GL_COLOR_ATTACHMENT0 + i) : GLenum(GL_NONE);
    }
    glDrawBuffers(4, bufs);
    if (d->depth) {
      attach(gpu_format_has_stencil(d->depth->format) ? GL_DEPTH_STENCIL_ATTACHMENT : GL_DEPTH_ATTACHMENT, d->depth);
    }
    GpuFbo f;
    std::memcpy(f.key, key, sizeof key);
    f.name = name;
    d->fbos.push_back(f);
    d->gl.fbo = name;
  }
  if (d->gl.fbo != name) {
    glBindFramebuffer(GL_FRAMEBUFFER, name);
    d->gl.fbo = name;
  }
  return true;
}

GpuResult gpu_read_surface(GpuDevice* d, GpuSurface* s, const GpuRect& r, uint32_t* argb) {
  if (!d || !s || !argb || s->kind == GPU_SURFACE_DEPTH) return GPU_INVALID_CALL;
  if (r.left < 0 || r.top < 0 || r.right <= r.left || r.bottom <= r.top || uint32_t(r.right) > s->width ||
      uint32_t(r.bottom) > s->height)
    return GPU_INVALID_CALL;
  gpu_make_current(d);
  GLuint fbo = 0;
  if (s->kind == GPU_SURFACE_BACK_BUFFER) {
    glBindFramebuffer(GL_READ_FRAMEBUFFER, d->present_fbo);
  } else {
    glGenFramebuffers(1, &fbo);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, fbo);
    glFramebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, s->texture->name,
                           GLint(s->level));
  }
  glReadBuffer(GL_COLOR_ATTACHMENT0);
  glPixelStorei(GL_PACK_ALIGNMENT, 4);
  const bool memory_order = s->texture && gpu_format_is_memory_order(s->texture->info);
  glReadPixels(r.left, r.top, r.right - r.left, r.bottom - r.top, memory_order ? GL_RGBA : GL_BGRA, GL_UNSIGNED_BYTE,
               argb);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
  if (fbo) glDeleteFramebuffers(1, &fbo);
  gpu_gl_invalidate(d);
  return glGetError() == GL_NO_ERROR ? GPU_OK : GPU_INVALID_CALL;
}
