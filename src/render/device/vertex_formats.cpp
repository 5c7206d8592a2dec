// The engine's vertex formats: the FVF table (index = vertex-format index)
// and the declaration each code describes.
#include <cstddef>

#include "render/device/shaders.h"

namespace {

constexpr uint32_t kFvfTable[kFvfCount] = {
    0x244,    0x844,    0x342,    0x112,    0x12,     0x40112,  0x52,     0x40152,  0x1D2,    0x112,
    0x192,    0x40212,  0x152,    0x40252,  0x1118,   0x111A,   0x111C,   0x111E,   0x1198,   0x119A,
    0x119C,   0x119E,   0x41218,  0x4121A,  0x4121C,  0x4121E,  0x1158,   0x115A,   0x115C,   0x115E,
    0x11D8,   0x11DA,   0x11DC,   0x11DE,   0x41258,  0x4125A,  0x4125C,  0x4125E,  0x1258,   0x125A,
    0x125C,   0x125E,   0x101358, 0x10135A, 0x10135C, 0x10135E, 0x501458, 0x50145A, 0x50145C, 0x50145E,
};

uint32_t type_bytes(uint8_t type) {
  switch (type) {
    case GPU_DECL_FLOAT1: return 4;
    case GPU_DECL_FLOAT2: return 8;
    case GPU_DECL_FLOAT3: return 12;
    case GPU_DECL_FLOAT4: return 16;
    case GPU_DECL_COLOR:
    case GPU_DECL_UBYTE4: return 4;
    default: return 0;
  }
}

}  // namespace

int find_fvf_index(uint32_t fvf) {
  for (int i = 0; i < kFvfCount; ++i)
    if (kFvfTable[i] == fvf) return i;
  return -1;
}

uint32_t fvf_code(int index) { return index >= 0 && index < kFvfCount ? kFvfTable[index] : 0; }

int fvf_declaration(uint32_t fvf, GpuVertexElement* out, int capacity) {
  GpuVertexElement e[20];
  int n = 0;
  uint16_t offset = 0;
  auto add = [&](uint8_t type, uint8_t usage, uint8_t index) {
    e[n++] = GpuVertexElement{0, offset, type, 0, usage, index};
    offset = uint16_t(offset + type_bytes(type));
  };
  uint32_t position = fvf & GPU_FVF_POSITION_MASK;
  if (position == GPU_FVF_XYZ) {
    add(GPU_DECL_FLOAT3, GPU_USAGE_POSITION, 0);
  } else if (position == GPU_FVF_XYZRHW) {
    add(GPU_DECL_FLOAT4, GPU_USAGE_POSITIONT, 0);
  } else if (position >= GPU_FVF_XYZB1) {
    add(GPU_DECL_FLOAT3, GPU_USAGE_POSITION, 0);
    int betas = int(position - GPU_FVF_XYZRHW) / 2;  // B1 = 0x6 .. B5 = 0xE
    bool indices = fvf & GPU_FVF_LASTBETA_UBYTE4;
    int weights = indices ? betas - 1 : betas;
    if (weights > 4) return 0;
    if (weights > 0) add(uint8_t(GPU_DECL_FLOAT1 + weights - 1), GPU_USAGE_BLENDWEIGHT, 0);
    if (indices) add(GPU_DECL_UBYTE4, GPU_USAGE_BLENDINDICES, 0);
  } else {
    return 0;
  }
  if (fvf & GPU_FVF_NORMAL) add(GPU_DECL_FLOAT3, GPU_USAGE_NORMAL, 0);
  if (fvf & GPU_FVF_PSIZE) add(GPU_DECL_FLOAT1, GPU_USAGE_PSIZE, 0);
  if (fvf & GPU_FVF_DIFFUSE) add(GPU_DECL_COLOR, GPU_USAGE_COLOR, 0);
  if (fvf & GPU_FVF_SPECULAR) add(GPU_DECL_COLOR, GPU_USAGE_COLOR, 1);
  uint32_t sets = (fvf & GPU_FVF_TEXCOUNT_MASK) >> GPU_FVF_TEXCOUNT_SHIFT;
  if (sets > 8) return 0;
  static const uint8_t kSizeType[4] = {GPU_DECL_FLOAT2, GPU_DECL_FLOAT3, GPU_DECL_FLOAT4, GPU_DECL_FLOAT1};
  for (uint32_t i = 0; i < sets; ++i) add(kSizeType[(fvf >> (16 + 2 * i)) & 3], GPU_USAGE_TEXCOORD, uint8_t(i));
  e[n++] = GPU_DECL_END;
  if (!out || n > capacity) return 0;
  for (int i = 0; i < n; ++i) out[i] = e[i];
  return n;
}

uint32_t fvf_declaration_stride(const GpuVertexElement* elements) {
  uint32_t end = 0;
  for (const GpuVertexElement* e = elements; e && e->stream != 0xFF; ++e) {
    uint32_t to = uint32_t(e->offset) + type_bytes(e->type);
    if (to > end) end = to;
  }
  return end;
}
