// Formats, vertex format codes and small conversions.
#include <cstring>

#include "platform/gpu/gpu_internal.h"

namespace {

#define SW(a, b, c, d) {a, b, c, d}
const GpuFormatInfo kFormats[] = {
    {GPU_FMT_A8R8G8B8, GL_RGBA8, GL_BGRA, GL_UNSIGNED_BYTE, SW(GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA), 4, false, false, false, true},
    {GPU_FMT_X8R8G8B8, GL_RGBA8, GL_BGRA, GL_UNSIGNED_BYTE, SW(GL_RED, GL_GREEN, GL_BLUE, GL_ONE), 4, false, false, false, true},
    {GPU_FMT_R8G8B8, GL_RGB8, GL_BGR, GL_UNSIGNED_BYTE, SW(GL_RED, GL_GREEN, GL_BLUE, GL_ONE), 3, false, false, false, true},
    {GPU_FMT_R5G6B5, GL_RGB565, GL_RGB, GL_UNSIGNED_SHORT_5_6_5, SW(GL_RED, GL_GREEN, GL_BLUE, GL_ONE), 2, false, false, false, true},
    {GPU_FMT_X1R5G5B5, GL_RGB5_A1, GL_BGRA, GL_UNSIGNED_SHORT_1_5_5_5_REV, SW(GL_RED, GL_GREEN, GL_BLUE, GL_ONE), 2, false, false, false, true},
    {GPU_FMT_A1R5G5B5, GL_RGB5_A1, GL_BGRA, GL_UNSIGNED_SHORT_1_5_5_5_REV, SW(GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA), 2, false, false, false, true},
    {GPU_FMT_A4R4G4B4, GL_RGBA4, GL_BGRA, GL_UNSIGNED_SHORT_4_4_4_4_REV, SW(GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA), 2, false, false, false, true},
    {GPU_FMT_X4R4G4B4, GL_RGBA4, GL_BGRA, GL_UNSIGNED_SHORT_4_4_4_4_REV, SW(GL_RED, GL_GREEN, GL_BLUE, GL_ONE), 2, false, false, false, true},
    {GPU_FMT_R3G3B2, GL_R3_G3_B2, GL_RGB, GL_UNSIGNED_BYTE_3_3_2, SW(GL_RED, GL_GREEN, GL_BLUE, GL_ONE), 1, false, false, false, false},
    // An alpha-only texture reads black with its alpha, a luminance one grey.
    {GPU_FMT_A8, GL_R8, GL_RED, GL_UNSIGNED_BYTE, SW(GL_ZERO, GL_ZERO, GL_ZERO, GL_RED), 1, false, false, false, false},
    {GPU_FMT_L8, GL_R8, GL_RED, GL_UNSIGNED_BYTE, SW(GL_RED, GL_RED, GL_RED, GL_ONE), 1, false, false, false, false},
    {GPU_FMT_A8L8, GL_RG8, GL_RG, GL_UNSIGNED_BYTE, SW(GL_RED, GL_RED, GL_RED, GL_GREEN), 2, false, false, false, false},
    {GPU_FMT_L16, GL_R16, GL_RED, GL_UNSIGNED_SHORT, SW(GL_RED, GL_RED, GL_RED, GL_ONE), 2, false, false, false, false},
    {GPU_FMT_A8B8G8R8, GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE, SW(GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA), 4, false, false, false, true},
    {GPU_FMT_X8B8G8R8, GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE, SW(GL_RED, GL_GREEN, GL_BLUE, GL_ONE), 4, false, false, false, true},
    {GPU_FMT_A2R10G10B10, GL_RGB10_A2, GL_BGRA, GL_UNSIGNED_INT_2_10_10_10_REV, SW(GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA), 4, false, false, false, true},
    {GPU_FMT_A2B10G10R10, GL_RGB10_A2, GL_RGBA, GL_UNSIGNED_INT_2_10_10_10_REV, SW(GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA), 4, false, false, false, true},
    {GPU_FMT_G16R16, GL_RG16, GL_RG, GL_UNSIGNED_SHORT, SW(GL_RED, GL_GREEN, GL_ONE, GL_ONE), 4, false, false, false, true},
    {GPU_FMT_A16B16G16R16, GL_RGBA16, GL_RGBA, GL_UNSIGNED_SHORT, SW(GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA), 8, false, false, false, true},
    {GPU_FMT_R16F, GL_R16F, GL_RED, GL_HALF_FLOAT, SW(GL_RED, GL_ONE, GL_ONE, GL_ONE), 2, false, false, false, true},
    {GPU_FMT_G16R16F, GL_RG16F, GL_RG, GL_HALF_FLOAT, SW(GL_RED, GL_GREEN, GL_ONE, GL_ONE), 4, false, false, false, true},
    {GPU_FMT_A16B16G16R16F, GL_RGBA16F, GL_RGBA, GL_HALF_FLOAT, SW(GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA), 8, false, false, false, true},
    {GPU_FMT_R32F, GL_R32F, GL_RED, GL_FLOAT, SW(GL_RED, GL_ONE, GL_ONE, GL_ONE), 4, false, false, false, true},
    {GPU_FMT_G32R32F, GL_RG32F, GL_RG, GL_FLOAT, SW(GL_RED, GL_GREEN, GL_ONE, GL_ONE), 8, false, false, false, true},
    {GPU_FMT_A32B32G32R32F, GL_RGBA32F, GL_RGBA, GL_FLOAT, SW(GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA), 16, false, false, false, true},
    {GPU_FMT_DXT1, GL_COMPRESSED_RGBA_S3TC_DXT1_EXT, 0, 0, SW(GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA), 8, true, false, false, false},
    {GPU_FMT_DXT2, GL_COMPRESSED_RGBA_S3TC_DXT3_EXT, 0, 0, SW(GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA), 16, true, false, false, false},
    {GPU_FMT_DXT3, GL_COMPRESSED_RGBA_S3TC_DXT3_EXT, 0, 0, SW(GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA), 16, true, false, false, false},
    {GPU_FMT_DXT4, GL_COMPRESSED_RGBA_S3TC_DXT5_EXT, 0, 0, SW(GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA), 16, true, false, false, false},
    {GPU_FMT_DXT5, GL_COMPRESSED_RGBA_S3TC_DXT5_EXT, 0, 0, SW(GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA), 16, true, false, false, false},
    {GPU_FMT_D16, GL_DEPTH_COMPONENT16, 0, 0, SW(GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA), 2, false, true, false, true},
    {GPU_FMT_D16_LOCKABLE, GL_DEPTH_COMPONENT16, 0, 0, SW(GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA), 2, false, true, false, true},
    {GPU_FMT_D24X8, GL_DEPTH_COMPONENT24, 0, 0, SW(GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA), 4, false, true, false, true},
    {GPU_FMT_D32, GL_DEPTH_COMPONENT32, 0, 0, SW(GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA), 4, false, true, false, true},
    {GPU_FMT_D32F_LOCKABLE, GL_DEPTH_COMPONENT32F, 0, 0, SW(GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA), 4, false, true, false, true},
    {GPU_FMT_D24S8, GL_DEPTH24_STENCIL8, 0, 0, SW(GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA), 4, false, true, true, true},
    {GPU_FMT_D24X4S4, GL_DEPTH24_STENCIL8, 0, 0, SW(GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA), 4, false, true, true, true},
    {GPU_FMT_D15S1, GL_DEPTH24_STENCIL8, 0, 0, SW(GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA), 2, false, true, true, true},
    {GPU_FMT_D24FS8, GL_DEPTH32F_STENCIL8, 0, 0, SW(GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA), 4, false, true, true, true},
};

// Unfilled textures of 32-bit ARGB keep each word as it lies in memory (B, G,
// R, A bytes) and read it back through the swizzle, so rows go up without
// the conversion a BGRA upload costs.
const GpuFormatInfo kMemoryOrder[] = {
    {GPU_FMT_A8R8G8B8, GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE, SW(GL_BLUE, GL_GREEN, GL_RED, GL_ALPHA), 4, false, false, false, false},
    {GPU_FMT_X8R8G8B8, GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE, SW(GL_BLUE, GL_GREEN, GL_RED, GL_ONE), 4, false, false, false, false},
};
#undef SW

}  // namespace

const GpuFormatInfo* gpu_format_info_memory_order(GpuFormat format) {
  for (const GpuFormatInfo& f : kMemoryOrder)
    if (f.format == format) return &f;
  return nullptr;
}

bool gpu_format_is_memory_order(const GpuFormatInfo* info) {
  return info >= kMemoryOrder && info < kMemoryOrder + sizeof kMemoryOrder / sizeof kMemoryOrder[0];
}

const GpuFormatInfo* gpu_format_info(GpuFormat format) {
  for (const GpuFormatInfo& f : kFormats)
    if (f.format == format) return &f;
  return nullptr;
}

uint32_t gpu_format_bytes(GpuFormat format) {
  const GpuFormatInfo* f = gpu_format_info(format);
  return f && !f->compressed && !f->depth ? f->bytes : 0;
}

bool gpu_format_is_depth(GpuFormat format) {
  const GpuFormatInfo* f = gpu_format_info(format);
  return f && f->depth;
}

bool gpu_format_has_stencil(GpuFormat format) {
  const GpuFormatInfo* f = gpu_format_info(format);
  return f && f->stencil;
}

uint32_t gpu_float_bits(float f) {
  uint32_t u;
  std::memcpy(&u, &f, 4);
  return u;
}

float gpu_bits_float(uint32_t bits) {
  float f;
  std::memcpy(&f, &bits, 4);
  return f;
}

uint32_t gpu_primitive_vertex_count(GpuPrimitive type, uint32_t count) {
  switch (type) {
    case GPU_PT_POINTLIST: return count;
    case GPU_PT_LINELIST: return count * 2;
    case GPU_PT_LINESTRIP: return count ? count + 1 : 0;
    case GPU_PT_TRIANGLELIST: return count * 3;
    case GPU_PT_TRIANGLESTRIP:
    case GPU_PT_TRIANGLEFAN: return count ? count + 2 : 0;
  }
  return 0;
}

int gpu_attribute_location(uint8_t usage, uint8_t index) {
  switch (usage) {
    case GPU_USAGE_POSITION:
    case GPU_USAGE_POSITIONT: return index == 0 ? 0 : -1;
    case GPU_USAGE_NORMAL: return index == 0 ? 1 : -1;
    case GPU_USAGE_COLOR: return index < 2 ? 2 + index : -1;
    case GPU_USAGE_TEXCOORD: return index < 8 ? 4 + index : -1;
    case GPU_USAGE_BLENDWEIGHT: return index == 0 ? 12 : -1;
    case GPU_USAGE_BLENDINDICES: return index == 0 ? 13 : -1;
    case GPU_USAGE_PSIZE: return index == 0 ? 14 : -1;
    case GPU_USAGE_TANGENT: return index == 0 ? 15 : -1;
    default: return -1;
  }
}

namespace {

uint32_t decl_type_size(uint8_t type) {
  switch (type) {
    case GPU_DECL_FLOAT1: return 4;
    case GPU_DECL_FLOAT2: return 8;
    case GPU_DECL_FLOAT3: return 12;
    case GPU_DECL_FLOAT4: return 16;
    case GPU_DECL_COLOR:
    case GPU_DECL_UBYTE4:
    case GPU_DECL_SHORT2:
    case GPU_DECL_UBYTE4N:
    case GPU_DECL_SHORT2N: return 4;
    case GPU_DECL_SHORT4:
    case GPU_DECL_SHORT4N: return 8;
    default: return 0;
  }
}

}  // namespace

// Builds the element list of an FVF code; false for a code without a position.
bool gpu_fvf_elements(uint32_t fvf, std::vector<GpuVertexElement>& out) {
  out.clear();
  uint16_t off = 0;
  auto add = [&](uint8_t type, uint8_t usage, uint8_t index) {
    out.push_back({0, off, type, 0, usage, index});
    off = uint16_t(off + decl_type_size(type));
  };
  uint32_t pos = fvf & GPU_FVF_POSITION_MASK;
  if (pos == GPU_FVF_XYZRHW) {
    add(GPU_DECL_FLOAT4, GPU_USAGE_POSITIONT, 0);
  } else if (pos == GPU_FVF_XYZ) {
    add(GPU_DECL_FLOAT3, GPU_USAGE_POSITION, 0);
  } else if (pos >= GPU_FVF_XYZB1 && pos <= GPU_FVF_XYZB5) {
    add(GPU_DECL_FLOAT3, GPU_USAGE_POSITION, 0);
    uint32_t betas = (pos - GPU_FVF_XYZB1) / 2 + 1;
    bool last_indices = (fvf & (GPU_FVF_LASTBETA_UBYTE4 | GPU_FVF_LASTBETA_COLOR)) != 0;
    uint32_t weights = last_indices ? betas - 1 : betas;
    if (weights > 4) weights = 4;
    if (weights > 0) add(uint8_t(GPU_DECL_FLOAT1 + weights - 1), GPU_USAGE_BLENDWEIGHT, 0);
    if (last_indices)
      add((fvf & GPU_FVF_LASTBETA_UBYTE4) ? GPU_DECL_UBYTE4 : GPU_DECL_COLOR, GPU_USAGE_BLENDINDICES, 0);
  } else {
    return false;
  }
  if (fvf & GPU_FVF_NORMAL) add(GPU_DECL_FLOAT3, GPU_USAGE_NORMAL, 0);
  if (fvf & GPU_FVF_PSIZE) add(GPU_DECL_FLOAT1, GPU_USAGE_PSIZE, 0);
  if (fvf & GPU_FVF_DIFFUSE) add(GPU_DECL_COLOR, GPU_USAGE_COLOR, 0);
  if (fvf & GPU_FVF_SPECULAR) add(GPU_DECL_COLOR, GPU_USAGE_COLOR, 1);
  uint32_t sets = (fvf & GPU_FVF_TEXCOUNT_MASK) >> GPU_FVF_TEXCOUNT_SHIFT;
  if (sets > 8) return false;
  for (uint32_t i = 0; i < sets; ++i) {
    static const uint8_t kBySize[4] = {GPU_DECL_FLOAT2, GPU_DECL_FLOAT3, GPU_DECL_FLOAT4, GPU_DECL_FLOAT1};
    add(kBySize[(fvf >> (16 + 2 * i)) & 3], GPU_USAGE_TEXCOORD, uint8_t(i));
  }
  return true;
}

uint32_t gpu_fvf_stride(uint32_t fvf) {
  std::vector<GpuVertexElement> e;
  if (!gpu_fvf_elements(fvf, e)) return 0;
  const GpuVertexElement& last = e.back();
  return last.offset + decl_type_size(last.type);
}

GpuResult gpu_check_format(GpuDeviceType type, GpuFormat adapter_format, uint32_t usage, GpuResourceType rtype,
                           GpuFormat format) {
  if (type != GPU_DEVICE_HAL && type != GPU_DEVICE_REF) return GPU_INVALID_CALL;
  if (adapter_format != GPU_FMT_X8R8G8B8 && adapter_format != GPU_FMT_A8R8G8B8) return GPU_NOT_AVAILABLE;
  const GpuFormatInfo* f = gpu_format_info(format);
  if (!f) return GPU_NOT_AVAILABLE;
  if (usage & GPU_USAGE_DEPTHSTENCIL) return f->depth && rtype == GPU_RTYPE_SURFACE ? GPU_OK : GPU_NOT_AVAILABLE;
  if (f->depth) return GPU_NOT_AVAILABLE;
  if ((usage & GPU_USAGE_RENDERTARGET) && !f->renderable) return GPU_NOT_AVAILABLE;
  if ((usage & GPU_USAGE_AUTOGENMIPMAP) && f->compressed) return GPU_NOT_AVAILABLE;
  // Blending into 32-bit float targets is not something every driver does.
  if ((usage & GPU_USAGE_QUERY_POSTPIXELSHADER_BLENDING) &&
      (format == GPU_FMT_R32F || format == GPU_FMT_G32R32F || format == GPU_FMT_A32B32G32R32F))
    return GPU_NOT_AVAILABLE;
  return GPU_OK;
}

uint32_t gpu_decl_type_size(uint8_t type) { return decl_type_size(type); }

void gpu_mat4_multiply(float out[16], const float a[16], const float b[16]) {
  float r[16];
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      r[i * 4 + j] = a[i * 4 + 0] * b[0 * 4 + j] + a[i * 4 + 1] * b[1 * 4 + j] + a[i * 4 + 2] * b[2 * 4 + j] +
                     a[i * 4 + 3] * b[3 * 4 + j];
  std::memcpy(out, r, sizeof r);
}
