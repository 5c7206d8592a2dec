// State tables, the preset cache without a device, ARGB helpers, vertex
// formats and primitive counts.
#include <gtest/gtest.h>

#include "render/device/gfx_device.h"
#include "render/device/gfx_resources.h"
#include "render/device/render_states.h"

TEST(RenderTables, IndicesOutsideATableTakeItsDefault) {
  struct Case {
    int index;
    uint32_t got, want;
  };
  const Case cases[] = {
      {12, gfx_blend_pair_by_index(12).source, GPU_BLEND_ONE},
      {12, gfx_blend_pair_by_index(12).destination, GPU_BLEND_ZERO},
      {-1, gfx_blend_pair_by_index(-1).source, GPU_BLEND_ONE},
      {9, gfx_zfunc_by_index(9), GPU_CMP_LESS},
      {-3, gfx_zfunc_by_index(-3), GPU_CMP_LESS},
      {6, gfx_alpha_ref_by_index(6), 1},
      {24, gfx_format_by_index(24), GPU_FMT_L8},
      {-1, gfx_format_by_index(-1), GPU_FMT_L8},
      {2, gfx_filter_by_index(2), GPU_FILTER_LINEAR},
      {3, gfx_cull_mode_by_index(3), GPU_CULL_CCW},
      {3, gfx_fill_mode_by_index(3), GPU_FILL_SOLID},
      {8, gfx_stencil_op_by_index(8), GPU_STENCILOP_KEEP},
      {2, gfx_depth_format_by_index(2), GPU_FMT_D16},
      {6, gfx_clear_flags_by_index(6), 0},
      {-1, gfx_clear_flags_by_index(-1), 0},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.want) << "index " << c.index;
  for (int i = 0; i < 8; ++i) EXPECT_EQ(gfx_zfunc_by_index(i), uint32_t(i + 1));
  EXPECT_EQ(gfx_format_by_index(0), GPU_FMT_A8R8G8B8);
  EXPECT_EQ(gfx_format_by_index(1), GPU_FMT_X8R8G8B8);
  EXPECT_EQ(gfx_blend_pair_by_index(10).destination, GPU_BLEND_SRCALPHA);
}

TEST(RenderTables, BitsPerPixelFollowTheRegistryTable) {
  // Three entries are not the formats' true sizes; the registry's byte counts
  // are kept with these values, so they must not drift.
  const struct {
    GpuFormat format;
    uint32_t bits;
  } cases[] = {
      {GPU_FMT_A8R8G8B8, 32}, {GPU_FMT_R8G8B8, 24},          {GPU_FMT_DXT1, 4},  {GPU_FMT_R16F, 32},
      {GPU_FMT_G16R16F, 32},  {GPU_FMT_A16B16G16R16, 32},    {GPU_FMT_A4L4, 16}, {GPU_FMT_A8L8, 16},
      {GPU_FMT_L8, 8},        {GPU_FMT_A16B16G16R16F, 64},   {GpuFormat(999), 32},
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
}
