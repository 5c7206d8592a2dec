// State tables, the preset cache without a device, ARGB helpers, vertex
// formats and primitive counts.
#include <gtest/gtest.h>

#include <vector>

#include "render/device/gfx_device.h"
#include "render/device/gfx_resources.h"
#include "render/device/render_states.h"

// Every entry of each table, and indices outside it taking its default.
TEST(RenderTables, IndicesOutsideATableTakeItsDefault) {
  struct Table {
    const char* name;
    uint32_t (*lookup)(int);
    std::vector<uint32_t> entries;
    uint32_t fallback;
  };
  const Table tables[] = {
      {"clear", gfx_clear_flags_by_index,
       {GPU_CLEAR_TARGET, GPU_CLEAR_ZBUFFER, GPU_CLEAR_STENCIL, GPU_CLEAR_ZBUFFER | GPU_CLEAR_STENCIL,
        GPU_CLEAR_TARGET | GPU_CLEAR_ZBUFFER, GPU_CLEAR_TARGET | GPU_CLEAR_ZBUFFER | GPU_CLEAR_STENCIL},
       0},
      {"format", [](int i) { return uint32_t(gfx_format_by_index(i)); },
       {GPU_FMT_A8R8G8B8, GPU_FMT_X8R8G8B8, GPU_FMT_A1R5G5B5, GPU_FMT_X1R5G5B5, GPU_FMT_R5G6B5, GPU_FMT_R8G8B8,
        GPU_FMT_A4R4G4B4, GPU_FMT_A16B16G16R16, GPU_FMT_A2R10G10B10, GPU_FMT_A2B10G10R10, GPU_FMT_A8, GPU_FMT_L8,
        GPU_FMT_A8L8, GPU_FMT_DXT1, GPU_FMT_DXT2, GPU_FMT_DXT3, GPU_FMT_DXT4, GPU_FMT_DXT5, GPU_FMT_R16F,
        GPU_FMT_R32F, GPU_FMT_G16R16F, GPU_FMT_A16B16G16R16F, GPU_FMT_G32R32F, GPU_FMT_A32B32G32R32F},
       GPU_FMT_L8},
      {"depth format", [](int i) { return uint32_t(gfx_depth_format_by_index(i)); },
       {GPU_FMT_D16, GPU_FMT_D24S8}, GPU_FMT_D16},
      {"blend source", [](int i) { return gfx_blend_pair_by_index(i).source; },
       {GPU_BLEND_ONE, GPU_BLEND_SRCALPHA, GPU_BLEND_SRCALPHA, GPU_BLEND_ONE, GPU_BLEND_INVDESTCOLOR,
        GPU_BLEND_SRCCOLOR, GPU_BLEND_SRCCOLOR, GPU_BLEND_ONE, GPU_BLEND_ZERO, GPU_BLEND_DESTCOLOR,
        GPU_BLEND_DESTCOLOR, GPU_BLEND_INVDESTCOLOR},
       GPU_BLEND_ONE},
      {"blend destination", [](int i) { return gfx_blend_pair_by_index(i).destination; },
       {GPU_BLEND_ZERO, GPU_BLEND_INVSRCALPHA, GPU_BLEND_ONE, GPU_BLEND_ONE, GPU_BLEND_ONE, GPU_BLEND_ONE,
        GPU_BLEND_INVSRCCOLOR, GPU_BLEND_INVSRCALPHA, GPU_BLEND_SRCCOLOR, GPU_BLEND_ONE, GPU_BLEND_SRCALPHA,
        GPU_BLEND_ZERO},
       GPU_BLEND_ZERO},
      {"cull", gfx_cull_mode_by_index, {GPU_CULL_CCW, GPU_CULL_CW, GPU_CULL_NONE}, GPU_CULL_CCW},
      {"fill", gfx_fill_mode_by_index, {GPU_FILL_SOLID, GPU_FILL_WIREFRAME, GPU_FILL_POINT}, GPU_FILL_SOLID},
      {"filter", gfx_filter_by_index, {GPU_FILTER_POINT, GPU_FILTER_LINEAR}, GPU_FILTER_LINEAR},
      {"alpha reference", gfx_alpha_ref_by_index, {1, 48, 129, 192, 254, 0}, 1},
      {"depth compare", gfx_zfunc_by_index,
       {GPU_CMP_NEVER, GPU_CMP_LESS, GPU_CMP_EQUAL, GPU_CMP_LESSEQUAL, GPU_CMP_GREATER, GPU_CMP_NOTEQUAL,
        GPU_CMP_GREATEREQUAL, GPU_CMP_ALWAYS},
       GPU_CMP_LESS},
      {"stencil operation", gfx_stencil_op_by_index,
       {GPU_STENCILOP_KEEP, GPU_STENCILOP_ZERO, GPU_STENCILOP_REPLACE, GPU_STENCILOP_INCRSAT,
        GPU_STENCILOP_DECRSAT, GPU_STENCILOP_INVERT, GPU_STENCILOP_INCR, GPU_STENCILOP_DECR},
       GPU_STENCILOP_KEEP},
      {"address", gfx_address_by_index, {GPU_ADDRESS_WRAP, GPU_ADDRESS_CLAMP}, GPU_ADDRESS_WRAP},
  };
  for (const Table& t : tables) {
    SCOPED_TRACE(t.name);
    const int n = int(t.entries.size());
    for (int i = 0; i < n; ++i) EXPECT_EQ(t.lookup(i), t.entries[size_t(i)]) << "index " << i;
    for (int i : {n, n + 1, 1000, -1, -1000}) EXPECT_EQ(t.lookup(i), t.fallback) << "index " << i;
  }
  // The depth-compare and stencil-operation values are the index plus one.
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(gfx_zfunc_by_index(i), uint32_t(i + 1));
    EXPECT_EQ(gfx_stencil_op_by_index(i), uint32_t(i + 1));
  }
}

TEST(RenderTables, BitsPerPixelFollowTheRegistryTable) {
  // Every pair of the list. R16F, A16B16G16R16 and A4L4 are not the formats'
  // true sizes; the registry's byte counts are kept with these values.
  const struct {
    GpuFormat format;
    uint32_t bits;
  } cases[] = {
      {GPU_FMT_D16_LOCKABLE, 16}, {GPU_FMT_D32, 32},           {GPU_FMT_D15S1, 16},         {GPU_FMT_D24S8, 32},
      {GPU_FMT_D24X8, 32},        {GPU_FMT_D24X4S4, 32},       {GPU_FMT_D32F_LOCKABLE, 32}, {GPU_FMT_D24FS8, 32},
      {GPU_FMT_D16, 16},          {GPU_FMT_INDEX16, 16},       {GPU_FMT_INDEX32, 32},       {GPU_FMT_DXT1, 4},
      {GPU_FMT_DXT2, 8},          {GPU_FMT_DXT3, 8},           {GPU_FMT_DXT4, 8},           {GPU_FMT_DXT5, 8},
      {GPU_FMT_R16F, 32},         {GPU_FMT_G16R16F, 32},       {GPU_FMT_A16B16G16R16F, 64}, {GPU_FMT_R32F, 32},
      {GPU_FMT_G32R32F, 64},      {GPU_FMT_A32B32G32R32F, 128}, {GPU_FMT_L6V5U5, 16},       {GPU_FMT_X8L8V8U8, 32},
      {GPU_FMT_A2W10V10U10, 32},  {GPU_FMT_V8U8, 16},          {GPU_FMT_Q8W8V8U8, 32},      {GPU_FMT_V16U16, 32},
      {GPU_FMT_Q16W16V16U16, 64}, {GPU_FMT_R8G8B8, 24},        {GPU_FMT_A8R8G8B8, 32},      {GPU_FMT_X8R8G8B8, 32},
      {GPU_FMT_R5G6B5, 16},       {GPU_FMT_X1R5G5B5, 16},      {GPU_FMT_A1R5G5B5, 16},      {GPU_FMT_A4R4G4B4, 16},
      {GPU_FMT_R3G3B2, 8},        {GPU_FMT_A8, 8},             {GPU_FMT_A8R3G3B2, 16},      {GPU_FMT_X4R4G4B4, 16},
      {GPU_FMT_A2B10G10R10, 32},  {GPU_FMT_A8B8G8R8, 32},      {GPU_FMT_X8B8G8R8, 32},      {GPU_FMT_G16R16, 32},
      {GPU_FMT_A2R10G10B10, 32},  {GPU_FMT_A16B16G16R16, 32},  {GPU_FMT_A8P8, 16},          {GPU_FMT_P8, 8},
      {GPU_FMT_L8, 8},            {GPU_FMT_L16, 16},           {GPU_FMT_A8L8, 16},          {GPU_FMT_A4L4, 16},
      {GPU_FMT_UNKNOWN, 32},      {GpuFormat(999), 32},
  };
  for (const auto& c : cases) EXPECT_EQ(gfx_format_bits(c.format), c.bits) << "format " << int(c.format);
}

TEST(RenderPreset, SendsOnlyChangesAndReportsLightingFogAndShader) {
  gfx_invalidate_render_cache();
  EXPECT_EQ(gfx_set_render_preset(1, 1, 3, 0, 1, 0, 0, 0, 0), 1);
  EXPECT_EQ(gfx_set_render_preset(1, 1, 3, 0, 1, 0, 0, 0, 0), 0);
  EXPECT_EQ(gfx_set_render_preset(1, 1, 3, 0, 2, 1, 0, 0, 0), 0);  // blend and cull alone
  EXPECT_EQ(gfx_preset_blend(), 2);
  EXPECT_EQ(gfx_set_render_preset(1, 1, 3, 0, 2, 1, 0, 0, 1), 1);  // shader draw turns lighting off
  EXPECT_EQ(gfx_preset_lighting(), 1);
  EXPECT_EQ(gfx_preset_effective_lighting(), 0);
  EXPECT_EQ(gfx_set_render_preset(1, 1, 3, 1, 2, 1, 0, 0, 1), 1);  // fog
  EXPECT_EQ(gfx_preset_fog(), 1);
  gfx_invalidate_render_cache();
  EXPECT_EQ(gfx_preset_zfunc(), -1);
  EXPECT_EQ(gfx_preset_fog_state(), -1);
}

TEST(RenderArgb, ChannelsAlphaAndShift) {
  EXPECT_EQ(gfx_argb_shift(0x80FF8040u, 1), 0x807F4020u);
  EXPECT_EQ(gfx_argb_with_alpha(0xFF336699u, 0), 0x00336699u);
  EXPECT_EQ(gfx_argb_red(0x11223344u), 0x22u);
  EXPECT_EQ(gfx_argb_alpha(0x11223344u), 0x11u);
}

TEST(GpuFormats, FvfStridesAndPrimitiveCounts) {
  EXPECT_EQ(gpu_fvf_stride(kScreenVertexFvf), 36u);
  EXPECT_EQ(gpu_fvf_stride(GPU_FVF_XYZ | GPU_FVF_DIFFUSE | gpu_fvf_tex(1)), 24u);
  EXPECT_EQ(gpu_fvf_stride(GPU_FVF_XYZB3 | GPU_FVF_LASTBETA_UBYTE4 | GPU_FVF_NORMAL | gpu_fvf_tex(1)), 44u);
  EXPECT_EQ(gpu_fvf_stride(GPU_FVF_XYZ | gpu_fvf_tex(1) | gpu_fvf_texcoord_size(0, 3)), 16u);
  EXPECT_EQ(gpu_fvf_stride(GPU_FVF_DIFFUSE), 0u);  // no position
  const GpuPrimitive types[] = {GPU_PT_POINTLIST,     GPU_PT_LINELIST,      GPU_PT_LINESTRIP,
                                GPU_PT_TRIANGLELIST, GPU_PT_TRIANGLESTRIP, GPU_PT_TRIANGLEFAN};
  const uint32_t want[] = {5, 10, 6, 15, 7, 7};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(gfx_vertex_count_for_primitives(types[i], 5), want[i]);
  // The device's own count agrees, and no primitives take no vertices.
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(gpu_primitive_vertex_count(types[i], 5), want[i]) << types[i];
    EXPECT_EQ(gpu_primitive_vertex_count(types[i], 0), 0u) << types[i];
  }
}
