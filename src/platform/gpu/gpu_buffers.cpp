// Vertex and index buffers (each with a system-memory shadow that locks
// write into) and vertex declarations.
#include <algorithm>
#include <cstring>

#include "platform/gpu/gpu_internal.h"

// ---- Buffers -----------------------------------------------------------------------------------

namespace {

template <typename B>
GpuResult buffer_lock(B* b, uint32_t offset, uint32_t size, void** out) {
  if (!out) return GPU_INVALID_CALL;
  *out = nullptr;
  if (!b || b->locked || offset > b->bytes) return GPU_INVALID_CALL;
  if (size == 0) size = b->bytes - offset;
  if (uint64_t(offset) + size > b->bytes) return GPU_INVALID_CALL;
  b->locked = true;
  b->lock_offset = offset;
  b->lock_size = size;
  *out = b->shadow.data() + offset;
  return GPU_OK;
}

template <typename B>
GpuResult buffer_unlock(B* b) {
  if (!b || !b->locked) return GPU_INVALID_CALL;
  b->locked = false;
  if (b->lock_size == 0) return GPU_OK;
  gpu_make_current(b->device);
  glBindBuffer(GL_COPY_WRITE_BUFFER, b->name);
  glBufferSubData(GL_COPY_WRITE_BUFFER, GLintptr(b->lock_offset), GLsizeiptr(b->lock_size),
                  b->shadow.data() + b->lock_offset);
  return GPU_OK;
}

template <typename B>
GpuResult buffer_create(GpuDevice* d, uint32_t bytes, B* b) {
  gpu_make_current(d);
  b->device = d;
  b->bytes = bytes;
  b->shadow.assign(bytes, 0);
  glGenBuffers(1, &b->name);
  glBindBuffer(GL_COPY_WRITE_BUFFER, b->name);
  glBufferData(GL_COPY_WRITE_BUFFER, GLsizeiptr(bytes), b->shadow.data(), GL_STATIC_DRAW);
  return glGetError() == GL_NO_ERROR ? GPU_OK : GPU_OUT_OF_MEMORY;
}

}  // namespace

GpuResult gpu_create_vertex_buffer(GpuDevice* d, uint32_t bytes, uint32_t usage, uint32_t fvf, GpuPool,
                                   GpuVertexBuffer** out) {
  if (!out) return GPU_INVALID_CALL;
  *out = nullptr;
  if (!d || bytes == 0) return GPU_INVALID_CALL;
  GpuVertexBuffer* b = new GpuVertexBuffer{};
  b->usage = usage;
  b->fvf = fvf;
  GpuResult r = buffer_create(d, bytes, b);
  if (r != GPU_OK) {
    gpu_vertex_buffer_release(b);
    return r;
  }
  *out = b;
  return GPU_OK;
}

void gpu_vertex_buffer_release(GpuVertexBuffer* b) {
  if (!b) return;
  GpuDevice* d = b->device;
  gpu_make_current(d);
  for (GpuStream& s : d->streams)
    if (s.buffer == b) s = GpuStream{};
  for (GLuint& a : d->attrib_buffers)
    if (a == b->name) a = 0xFFFFFFFFu;
  glDeleteBuffers(1, &b->name);
  delete b;
}

GpuResult gpu_vertex_buffer_lock(GpuVertexBuffer* b, uint32_t offset, uint32_t size, void** out, uint32_t) {
  return buffer_lock(b, offset, size, out);
}

GpuResult gpu_vertex_buffer_unlock(GpuVertexBuffer* b) { return buffer_unlock(b); }

GpuResult gpu_create_index_buffer(GpuDevice* d, uint32_t bytes, uint32_t usage, GpuFormat format, GpuPool,
                                  GpuIndexBuffer** out) {
  if (!out) return GPU_INVALID_CALL;
  *out = nullptr;
  if (!d || bytes == 0 || (format != GPU_FMT_INDEX16 && format != GPU_FMT_INDEX32)) return GPU_INVALID_CALL;
  GpuIndexBuffer* b = new GpuIndexBuffer{};
  b->usage = usage;
  b->format = format;
  GpuResult r = buffer_create(d, bytes, b);
  if (r != GPU_OK) {
    gpu_index_buffer_release(b);
    return r;
  }
  *out = b;
  return GPU_OK;
}

void gpu_index_buffer_release(GpuIndexBuffer* b) {
  if (!b) return;
  GpuDevice* d = b->device;
  gpu_make_current(d);
  if (d->indices == b) d->indices = nullptr;
  glDeleteBuffers(1, &b->name);
  delete b;
}

GpuResult gpu_index_buffer_lock(GpuIndexBuffer* b, uint32_t offset, uint32_t size, void** out, uint32_t) {
  if (b && b->device->failing_index_locks > 0) {
    --b->device->failing_index_locks;
    if (out) *out = nullptr;
    return GPU_INVALID_CALL;
  }
  return buffer_lock(b, offset, size, out);
}

void gpu_debug_fail_index_locks(GpuDevice* d, int count) {
  if (d) d->failing_index_locks = count;
}

GpuResult gpu_index_buffer_unlock(GpuIndexBuffer* b) { return buffer_unlock(b); }

GpuResult gpu_set_stream_source(GpuDevice* d, uint32_t stream, GpuVertexBuffer* b, uint32_t offset,
                                uint32_t stride) {
  if (!d || stream >= 4) return GPU_INVALID_CALL;
  d->streams[stream] = b ? GpuStream{b, offset, stride} : GpuStream{};
  return GPU_OK;
}

GpuResult gpu_set_indices(GpuDevice* d, GpuIndexBuffer* b) {
  if (!d) return GPU_INVALID_CALL;
  d->indices = b;
  return GPU_OK;
}

// ---- Vertex declarations ------------------------------------------------------------------------

GpuResult gpu_create_vertex_decl(GpuDevice* d, const GpuVertexElement* e, GpuVertexDecl** out) {
  if (!out) return GPU_INVALID_CALL;
  *out = nullptr;
  if (!d || !e) return GPU_INVALID_CALL;
  GpuVertexDecl* v = new GpuVertexDecl{};
  v->device = d;
  v->refs = 1;
  v->id = gpu_next_id();
  bool has_position = false;
  for (int i = 0; e[i].stream != 0xFF; ++i) {
    const GpuVertexElement& el = e[i];
    if (i >= 64 || el.stream >= 4 || gpu_decl_type_size(el.type) == 0) {
      delete v;
      return GPU_INVALID_CALL;
    }
    int loc = gpu_attribute_location(el.usage, el.usage_index);
    if (loc < 0) continue;
    v->attribs.push_back({int8_t(loc), uint8_t(el.stream), el.offset, el.type});
    switch (el.usage) {
      case GPU_USAGE_POSITIONT: v->pretransformed = true; [[fallthrough]];
      case GPU_USAGE_POSITION: has_position = true; break;
      case GPU_USAGE_NORMAL: v->has_normal = true; break;
      case GPU_USAGE_COLOR: (el.usage_index == 0 ? v->has_diffuse : v->has_specular) = true; break;
      case GPU_USAGE_TEXCOORD: {
        uint8_t n = el.type <= GPU_DECL_FLOAT4 ? uint8_t(el.type + 1) : 2;
        v->texcoord_sizes[el.usage_index] = n;
        v->texcoord_sets = std::max<uint8_t>(v->texcoord_sets, uint8_t(el.usage_index + 1));
        break;
      }
      default: break;
    }
  }
  if (!has_position) {
    delete v;
    return GPU_INVALID_CALL;
  }
  *out = v;
  return GPU_OK;
}

GpuResult gpu_create_vertex_decl_from_fvf(GpuDevice* d, uint32_t fvf, GpuVertexDecl** out) {
  if (!out) return GPU_INVALID_CALL;
  *out = nullptr;
  std::vector<GpuVertexElement> e;
  if (!gpu_fvf_elements(fvf, e)) return GPU_INVALID_CALL;
  e.push_back(GPU_DECL_END);
  return gpu_create_vertex_decl(d, e.data(), out);
}

void gpu_vertex_decl_release(GpuVertexDecl* v) {
  if (v && --v->refs == 0) delete v;
}

GpuResult gpu_set_vertex_decl(GpuDevice* d, GpuVertexDecl* v) {
  if (!d) return GPU_INVALID_CALL;
  if (v) ++v->refs;
  gpu_vertex_decl_release(d->decl);
  d->decl = v;
  d->fvf = 0;
  return GPU_OK;
}

GpuResult gpu_set_fvf(GpuDevice* d, uint32_t fvf) {
  if (!d) return GPU_INVALID_CALL;
  if (fvf == d->fvf && d->decl) return GPU_OK;
  GpuVertexDecl*& cached = d->fvf_decls[fvf];
  if (!cached && gpu_create_vertex_decl_from_fvf(d, fvf, &cached) != GPU_OK) {
    d->fvf_decls.erase(fvf);
    return GPU_INVALID_CALL;
  }
  gpu_set_vertex_decl(d, cached);
  d->fvf = fvf;
  return GPU_OK;
}

uint32_t gpu_get_fvf(GpuDevice* d) { return d ? d->fvf : 0; }
