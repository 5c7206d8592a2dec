// Render and stage states an unrelated draw may leave on the device, and the
// checks that a run sets its own over them.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>

#include "platform/gpu/gpu.h"

struct LeftState {
  GpuRenderState state;
  uint32_t left, want;
};

// Sets each render state to what was left, and the operations and arguments
// of stages 0 and 1 to ones no run of ours draws with.
template <size_t N>
void leave_states(GpuDevice* device, const LeftState (&states)[N]) {
  for (const LeftState& s : states) gpu_set_render_state(device, s.state, s.left);
  for (uint32_t stage = 0; stage < 2; ++stage) {
    for (GpuStageState s : {GPU_TSS_COLOROP, GPU_TSS_ALPHAOP}) gpu_set_stage_state(device, stage, s, GPU_TOP_SELECTARG1);
    for (GpuStageState s : {GPU_TSS_COLORARG1, GPU_TSS_COLORARG2, GPU_TSS_ALPHAARG1, GPU_TSS_ALPHAARG2})
      gpu_set_stage_state(device, stage, s, GPU_TA_SPECULAR);
  }
}

template <size_t N>
void expect_states_set(const GpuTraceDraw& draw, const LeftState (&states)[N], const char* what) {
  for (const LeftState& s : states) EXPECT_EQ(draw.render_states[s.state], s.want) << what << ", state " << s.state;
}

// Colour and alpha of the stage both take op(arg1, arg2).
inline void expect_stage(const GpuTraceDraw& draw, int stage, uint32_t op, uint32_t arg1, uint32_t arg2,
                         const char* what) {
  const uint32_t want[] = {op, arg1, arg2, op, arg1, arg2};
  const GpuStageState states[] = {GPU_TSS_COLOROP, GPU_TSS_COLORARG1, GPU_TSS_COLORARG2,
                                  GPU_TSS_ALPHAOP, GPU_TSS_ALPHAARG1, GPU_TSS_ALPHAARG2};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(draw.stage_states[stage][states[i]], want[i]) << what << ", stage " << stage << " " << i;
}
