// 4,096 textured sprite quads in one immediate indexed draw per frame, then
// present: the main thread's CPU time per frame (the rasteriser's own
// threads are not counted). Runs headless like the tests.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "common/bench_device.h"

namespace {

struct Vertex {
  float x, y, z, rhw;
  uint32_t diffuse;
  float u0, v0, u1, v1;
};
constexpr uint32_t kFvf = GPU_FVF_XYZRHW | GPU_FVF_DIFFUSE | gpu_fvf_tex(2);
constexpr int kQuads = 4096;
constexpr int kWidth = 640, kHeight = 480;

void BM_TexturedQuadsOneDraw(benchmark::State& state) {
  setenv("SDL_VIDEODRIVER", "offscreen", 0);
  BenchDevice bench;
  if (!bench_device_open(state, kWidth, kHeight, &bench)) return;
  GpuDevice* d = bench.device;
  GpuTexture* tex = nullptr;
  gpu_create_texture(d, 64, 64, 1, 0, GPU_FMT_A8R8G8B8, GPU_POOL_MANAGED, &tex);
  GpuLockedRect lr;
  gpu_texture_lock(tex, 0, nullptr, &lr, 0);
  for (int i = 0; i < 64 * 64; ++i) static_cast<uint32_t*>(lr.bits)[i] = 0x80000000u | uint32_t(i * 2654435761u >> 8);
  gpu_texture_unlock(tex, 0);

  std::vector<uint16_t> indices(kQuads * 6);
  for (int q = 0; q < kQuads; ++q) {
    const uint16_t b = uint16_t(q * 4);
    const uint16_t k[6] = {b, uint16_t(b + 1), uint16_t(b + 2), uint16_t(b + 3), uint16_t(b + 2), uint16_t(b + 1)};
    for (int i = 0; i < 6; ++i) indices[size_t(q * 6 + i)] = k[i];
  }
  std::vector<Vertex> v(kQuads * 4);
  gpu_set_render_state(d, GPU_RS_LIGHTING, 0);
  gpu_set_render_state(d, GPU_RS_CULLMODE, GPU_CULL_NONE);
  gpu_set_render_state(d, GPU_RS_ALPHABLENDENABLE, 1);
  gpu_set_render_state(d, GPU_RS_SRCBLEND, GPU_BLEND_SRCALPHA);
  gpu_set_render_state(d, GPU_RS_DESTBLEND, GPU_BLEND_INVSRCALPHA);
  gpu_set_stage_state(d, 0, GPU_TSS_COLORARG2, GPU_TA_DIFFUSE);
  gpu_set_stage_state(d, 0, GPU_TSS_ALPHAOP, GPU_TOP_MODULATE);
  gpu_set_stage_state(d, 0, GPU_TSS_ALPHAARG2, GPU_TA_DIFFUSE);
  gpu_set_sampler_state(d, 0, GPU_SAMP_MAGFILTER, GPU_FILTER_LINEAR);
  gpu_set_sampler_state(d, 0, GPU_SAMP_MINFILTER, GPU_FILTER_LINEAR);
  gpu_set_texture(d, 0, tex);
  uint32_t frame = 0;
  for (auto _ : state) {
    // Move every quad, as the sprite batch rewrites its vertices each frame.
    for (int q = 0; q < kQuads; ++q) {
      float x = float((q * 37 + frame) % (kWidth - 16)) - 0.5f, y = float((q * 11 + frame) % (kHeight - 16)) - 0.5f;
      Vertex* o = &v[size_t(q) * 4];
      o[0] = {x, y, 0, 1, 0xFFFFFFFF, 0, 0, 0, 0};
      o[1] = {x + 16, y, 0, 1, 0xFFFFFFFF, 1, 0, 1, 0};
      o[2] = {x, y + 16, 0, 1, 0xFFFFFFFF, 0, 1, 0, 1};
      o[3] = {x + 16, y + 16, 0, 1, 0xFFFFFFFF, 1, 1, 1, 1};
    }
    gpu_begin_scene(d);
    gpu_clear(d, GPU_CLEAR_TARGET, 0, 1, 0);
    gpu_set_fvf(d, kFvf);
    gpu_draw_indexed_primitive_up(d, GPU_PT_TRIANGLELIST, 0, kQuads * 4, kQuads * 2, indices.data(), GPU_FMT_INDEX16,
                                  v.data(), sizeof(Vertex));
    gpu_end_scene(d);
    gpu_present(d);
    ++frame;
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kQuads);
  gpu_set_texture(d, 0, nullptr);
  gpu_texture_release(tex);
  bench_device_close(&bench);
}
BENCHMARK(BM_TexturedQuadsOneDraw)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
