// The sprite type's draw: one run of the draw list in as few draws as the
// sprites' states allow.
#include "render/overlay2d/overlay_device.h"
#include "render/overlay2d/sprite2d.h"

namespace {

// The filter a sprite samples with: its own, or point sampling when it is
// drawn 1:1 (unscaled, unrotated) and linear filtering otherwise.
int effective_filter(const SpriteData& s) {
  if (s.filter != -1) return s.filter;
  return s.scale_x == 1.0f && s.scale_y == 1.0f && s.angle == 0.0f ? 0 : 1;
}

void append_quad(ScreenVertex* v, const SpriteData& s) {
  Vec2 corners[4], uv0[4], uv1[4];
  sprite2d_corners(corners, &s, 1.0f, 1.0f, 0.5f);
  sprite2d_orient_uvs(uv0, s.uv0, s.uv0_turns, s.uv0_flips);
  sprite2d_orient_uvs(uv1, s.uv1, s.uv1_turns, s.uv1_flips);
  for (int k = 0; k < 4; ++k) {
    v[k].x = corners[k].x;
    v[k].y = corners[k].y;
    v[k].diffuse = s.colour;
    v[k].tu0 = uv0[k].x;
    v[k].tv0 = uv0[k].y;
    v[k].tu1 = uv1[k].x;
    v[k].tv1 = uv1[k].y;
  }
}

// The textures of all eight stages, unbound at the end of a sprite run.
void sprite2d_unbind_textures() { overlay_unbind_all_textures(); }

}  // namespace

void sprite2d_draw_batch(Task* const* entries, int count) {
  overlay_begin_sprites();
  const GpuRect saved_scissor = overlay_get_scissor();
  ScreenVertex* vertices = overlay_vertex_scratch();

  // -1: nothing set yet, so the first sprite starts a batch.
  int64_t last_blend = -1, last_filter = -1, last_texture0 = -1, last_texture1 = -1;
  int selector_in_force = 0;
  bool clip_applied = false;
  int pending = 0;

  for (int i = 0; i < count; ++i) {
    const SpriteData& s = *task_data<SpriteData>(entries[i]);
    const int filter = effective_filter(s);
    // A sprite with a clip of its own starts a batch as well, or its clip
    // would never reach the scissor when it follows a batchable sprite.
    const bool clipped = s.clip_width > 0;
    const bool new_batch = s.blend != last_blend || s.shader != selector_in_force ||
                           s.shader != 0 || filter != last_filter ||
                           s.texture0 != last_texture0 || s.texture1 != last_texture1 ||
                           clip_applied || clipped || pending >= kSpriteBatchQuads;
    if (new_batch) {
      if (pending > 0) overlay_draw_quads(pending);
      pending = 0;
      // A clip width of 0 or less means no clip.
      if (!clipped) {
        if (clip_applied) overlay_set_scissor(saved_scissor);
      } else {
        const int height = s.clip_height > 0 ? s.clip_height : 0;
        overlay_set_scissor(GpuRect{s.clip_x, s.clip_y, s.clip_x + s.clip_width, s.clip_y + height});
        clip_applied = true;
      }
      if (s.blend != last_blend) {
        overlay_set_blend(s.blend);
        last_blend = s.blend;
      }
      const bool filter_changed = filter != last_filter;
      if (s.texture0 != last_texture0 || filter_changed) {
        overlay_bind_texture(0, s.texture0, filter);
        last_texture0 = s.texture0;
        last_filter = filter;
      }
      // Stage 1 follows a filter change too, so it never samples with the
      // previous sprite's filter.
      if (s.texture1 != last_texture1 || filter_changed) {
        overlay_bind_texture(1, s.texture1, filter);
        last_texture1 = s.texture1;
      }
      if (s.shader == selector_in_force) {
        overlay_begin_shader(-1, s.shader_params);
      } else {
        overlay_begin_shader(s.shader, s.shader_params);
        selector_in_force = s.shader;
      }
    }
    append_quad(&vertices[pending * 4], s);
    ++pending;
  }
  if (pending > 0) overlay_draw_quads(pending);
  overlay_set_scissor(saved_scissor);
  overlay_begin_shader(0, nullptr);
  overlay_end_sprites();
  sprite2d_unbind_textures();
}
