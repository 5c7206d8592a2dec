// The device: creation on a window, the back buffer, present and reset, the
// lost-device script, scene brackets, clears, viewport and scissor, states.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "platform/gpu/gpu_internal.h"
#include "platform/window/window.h"
#include "platform/window/window_sdl.h"

namespace {

// Shader model the OpenGL 3.3 programs stand in for.
constexpr uint32_t kVertexShaderVersion = 0xFFFE0300u;
constexpr uint32_t kPixelShaderVersion = 0xFFFF0300u;

bool adapter_overridden = false;
GpuAdapterOverride adapter_override;
std::vector<uint32_t> creation_attempts;
uint64_t id_counter = 0;

constexpr float kIdentity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

int behaviour_kind(uint32_t behaviour) {
  bool hw = behaviour & GPU_CREATE_HARDWARE_VP, sw = behaviour & GPU_CREATE_SOFTWARE_VP;
  bool pure = behaviour & GPU_CREATE_PURE;
  if (hw == sw) return -1;
  if (sw) return pure ? -1 : 2;
  return pure ? 0 : 1;
}

void fill_caps(GpuCaps* c) {
  *c = GpuCaps{};
  c->vertex_shader_version = adapter_overridden ? adapter_override.vertex_shader_version : kVertexShaderVersion;
  c->pixel_shader_version = adapter_overridden ? adapter_override.pixel_shader_version : kPixelShaderVersion;
  c->max_simultaneous_rts = 4;
  c->max_texture_width = c->max_texture_height = 8192;
  c->max_texture_stages = GPU_MAX_STAGES;
  c->max_active_lights = GPU_MAX_LIGHTS;
  c->max_user_clip_planes = GPU_MAX_CLIP_PLANES;
  c->max_streams = 4;
  c->max_primitive_count = 0xFFFFFF;
  c->max_vertex_index = 0xFFFFFF;
}

void resolve_size(GpuDevice* d, GpuPresentParams* p) {
  int w = 0, h = 0;
  window_get_client_size(d->window, &w, &h);
  if (p->back_buffer_width == 0) p->back_buffer_width = uint32_t(std::max(w, 1));
  if (p->back_buffer_height == 0) p->back_buffer_height = uint32_t(std::max(h, 1));
  if (p->back_buffer_format == GPU_FMT_UNKNOWN) p->back_buffer_format = GPU_FMT_X8R8G8B8;
  if (p->back_buffer_count == 0) p->back_buffer_count = 1;
}

}  // namespace

uint64_t gpu_next_id() { return ++id_counter; }

namespace {

// Marks what a clear or a present changed behind the draw state's back.
void forget_gl(GpuDevice* d, std::initializer_list<GpuRenderState> states, bool scissor_rect) {
  for (GpuRenderState s : states) d->gl.rs[s] = 0xFFFFFFFFu;
  if (scissor_rect) d->gl.scissor = GpuRect{-1, -1, -1, -1};
}

}  // namespace

void gpu_make_current(GpuDevice* d) {
  if (SDL_GL_GetCurrentContext() != d->context) SDL_GL_MakeCurrent(d->sdl, d->context);
}

void gpu_device_release_thread(GpuDevice* d) {
  if (d && SDL_GL_GetCurrentContext() == d->context) SDL_GL_MakeCurrent(d->sdl, nullptr);
  // The window library keeps per-thread records for a thread that made a
  // context current; a thread it did not start must free them itself, or
  // they outlive the thread.
  SDL_TLSCleanup();
}

void gpu_device_acquire_thread(GpuDevice* d) {
  if (d) gpu_make_current(d);
}

// ---- Adapter ------------------------------------------------------------------------

GpuResult gpu_adapter_caps(GpuDeviceType type, GpuCaps* out) {
  if (!out || (type != GPU_DEVICE_HAL && type != GPU_DEVICE_REF)) return GPU_INVALID_CALL;
  fill_caps(out);
  return GPU_OK;
}

GpuResult gpu_adapter_display_mode(GpuDisplayMode* out) {
  if (!out) return GPU_INVALID_CALL;
  SDL_DisplayMode mode;
  if (SDL_GetDesktopDisplayMode(0, &mode) == 0) {
    *out = {uint32_t(mode.w), uint32_t(mode.h), uint32_t(mode.refresh_rate), GPU_FMT_X8R8G8B8};
  } else {
    *out = {640, 480, 60, GPU_FMT_X8R8G8B8};
  }
  return GPU_OK;
}

void gpu_debug_limit_texture_side(GpuDevice* d, uint32_t side) {
  if (!d) return;
  gpu_make_current(d);
  GLint max_tex = 8192;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &max_tex);
  uint32_t limit = uint32_t(std::min(max_tex, 16384));
  if (side > 0) limit = std::min(limit, side);
  d->caps.max_texture_width = d->caps.max_texture_height = limit;
}

void gpu_debug_override_adapter(const GpuAdapterOverride* o) {
  adapter_overridden = o != nullptr;
  if (o) adapter_override = *o;
  creation_attempts.clear();
}

int gpu_debug_creation_attempts(uint32_t* out, int max) {
  int n = std::min(int(creation_attempts.size()), max);
  for (int i = 0; i < n; ++i) out[i] = creation_attempts[size_t(i)];
  return int(creation_attempts.size());
}

// ---- Creation -------------------------------------------------------------------------

GpuResult gpu_make_back_buffer(GpuDevice* d) {
  const GpuPresentParams& p = d->params;
  GLenum internal = p.back_buffer_format == GPU_FMT_A8R8G8B8 ? GL_RGBA8 : GL_RGB8;
  if (!d->back_buffer) {
    d->back_buffer = gpu_surface_new(d, GPU_SURFACE_BACK_BUFFER, p.back_buffer_format, 0, 0);
    glGenTextures(1, &d->back_buffer->colour);
  }
  GpuSurface* bb = d->back_buffer;
  gpu_forget_fbos_of(d, bb->id);
  bb->format = p.back_buffer_format;
  bb->width = p.back_buffer_width;
  bb->height = p.back_buffer_height;
  gpu_bind_scratch_texture(bb->colour);
  // The present samples it edge to edge.
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  glTexImage2D(GL_TEXTURE_2D, 0, GLint(internal), GLsizei(bb->width), GLsizei(bb->height), 0, GL_RGBA,
               GL_UNSIGNED_BYTE, nullptr);
  if (!d->present_fbo) glGenFramebuffers(1, &d->present_fbo);
  glBindFramebuffer(GL_FRAMEBUFFER, d->present_fbo);
  glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, bb->colour, 0);
  bool complete = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
  // A new back buffer starts black.
  glDisable(GL_SCISSOR_TEST);
  glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
  glClearColor(0, 0, 0, 0);
  glClear(GL_COLOR_BUFFER_BIT);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  gpu_gl_invalidate(d);

  if (d->auto_depth) {
    gpu_surface_release(d->auto_depth);
    d->auto_depth = nullptr;
  }
  if (p.auto_depth_stencil) {
    GpuSurface* depth = nullptr;
    if (gpu_create_depth_surface(d, bb->width, bb->height, p.auto_depth_stencil_format, 0, 0, true, &depth) !=
        GPU_OK)
      return GPU_NOT_AVAILABLE;
    d->auto_depth = depth;
  }
  return complete && glGetError() == GL_NO_ERROR ? GPU_OK : GPU_OUT_OF_MEMORY;
}

GpuResult gpu_device_create(GpuDeviceType type, PlatformWindow* window, uint32_t behaviour, GpuPresentParams* params,
                            GpuDevice** out) {
  if (!out) return GPU_INVALID_CALL;
  *out = nullptr;
  int kind = behaviour_kind(behaviour);
  if (!params || !window || kind < 0 || (type != GPU_DEVICE_HAL && type != GPU_DEVICE_REF)) return GPU_INVALID_CALL;
  creation_attempts.push_back(uint32_t(type) << 8 | behaviour);
  if (adapter_overridden && (adapter_override.refused_attempts >> ((type - 1) * 3 + kind) & 1))
    return GPU_NOT_AVAILABLE;
  if (params->multisample > 1) return GPU_NOT_AVAILABLE;
  SDL_Window* sdl = window_sdl_handle(window);
  if (!sdl) return GPU_INVALID_CALL;

  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
  SDL_GLContext ctx = window_create_gl_context(window);
  if (!ctx) {
    std::fprintf(stderr, "tamberlune: no OpenGL 3.3 context: %s\n", SDL_GetError());
    return GPU_NOT_AVAILABLE;
  }
  SDL_GL_MakeCurrent(sdl, ctx);
  if (epoxy_gl_version() < 33) {
    std::fprintf(stderr, "tamberlune: OpenGL %d.%d is older than 3.3\n", epoxy_gl_version() / 10,
                 epoxy_gl_version() % 10);
    SDL_GL_DeleteContext(ctx);
    return GPU_NOT_AVAILABLE;
  }
  SDL_GL_SetSwapInterval(0);

  GpuDevice* d = new GpuDevice{};
  d->window = window;
  d->sdl = sdl;
  d->context = ctx;
  d->type = type;
  d->behaviour = behaviour;
  d->clip_control = epoxy_gl_version() >= 45 || epoxy_has_gl_extension("GL_ARB_clip_control");
  d->s3tc = epoxy_has_gl_extension("GL_EXT_texture_compression_s3tc");
  fill_caps(&d->caps);
  GLint draw_buffers = 4, max_tex = 8192;
  glGetIntegerv(GL_MAX_DRAW_BUFFERS, &draw_buffers);
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &max_tex);
  d->caps.max_simultaneous_rts = uint32_t(std::clamp(draw_buffers, 1, 4));
  d->caps.max_texture_width = d->caps.max_texture_height = uint32_t(std::min(max_tex, 16384));
  if (d->clip_control) glClipControl(GL_LOWER_LEFT, GL_ZERO_TO_ONE);

  resolve_size(d, params);
  d->params = *params;
  gpu_draw_init(d);
  gpu_present_init(d);
  if (gpu_make_back_buffer(d) != GPU_OK) {
    gpu_device_release(d);
    return GPU_OUT_OF_MEMORY;
  }
  gpu_states_reset(d);
  *out = d;
  return GPU_OK;
}

void gpu_device_release(GpuDevice* d) {
  if (!d) return;
  gpu_make_current(d);
  for (GpuTexture*& t : d->textures) {
    if (t) gpu_texture_release(t);
    t = nullptr;
  }
  for (GpuSurface*& s : d->targets) {
    if (s) gpu_surface_release(s);
    s = nullptr;
  }
  if (d->depth) gpu_surface_release(d->depth);
  d->depth = nullptr;
  if (d->auto_depth) gpu_surface_release(d->auto_depth);
  d->auto_depth = nullptr;
  if (d->back_buffer) gpu_surface_release(d->back_buffer);
  d->back_buffer = nullptr;
  if (d->decl) gpu_vertex_decl_release(d->decl);
  d->decl = nullptr;
  for (auto& [code, decl] : d->fvf_decls) gpu_vertex_decl_release(decl);
  d->fvf_decls.clear();
  gpu_present_release(d);
  gpu_draw_release(d);
  for (GpuFbo& f : d->fbos) glDeleteFramebuffers(1, &f.name);
  d->fbos.clear();
  if (d->present_fbo) glDeleteFramebuffers(1, &d->present_fbo);
  SDL_GL_MakeCurrent(d->sdl, nullptr);
  SDL_GL_DeleteContext(d->context);
  delete d;
}

GpuResult gpu_device_caps(GpuDevice* d, GpuCaps* out) {
  if (!d || !out) return GPU_INVALID_CALL;
  *out = d->caps;
  return GPU_OK;
}

bool gpu_device_has_clip_control(GpuDevice* d) { return d && d->clip_control; }

// ---- Default states -------------------------------------------------------------------

void gpu_states_reset(GpuDevice* d) {
  uint32_t* rs = d->rs;
  std::memset(rs, 0, sizeof d->rs);
  rs[GPU_RS_ZENABLE] = d->params.auto_depth_stencil ? 1 : 0;
  rs[GPU_RS_FILLMODE] = GPU_FILL_SOLID;
  rs[GPU_RS_SHADEMODE] = GPU_SHADE_GOURAUD;
  rs[GPU_RS_ZWRITEENABLE] = 1;
  rs[GPU_RS_SRCBLEND] = GPU_BLEND_ONE;
  rs[GPU_RS_DESTBLEND] = GPU_BLEND_ZERO;
  rs[GPU_RS_CULLMODE] = GPU_CULL_CCW;
  rs[GPU_RS_ZFUNC] = GPU_CMP_LESSEQUAL;
  rs[GPU_RS_ALPHAFUNC] = GPU_CMP_ALWAYS;
  rs[GPU_RS_FOGEND] = gpu_float_bits(1.0f);
  rs[GPU_RS_FOGDENSITY] = gpu_float_bits(1.0f);
  rs[GPU_RS_STENCILFAIL] = rs[GPU_RS_STENCILZFAIL] = rs[GPU_RS_STENCILPASS] = GPU_STENCILOP_KEEP;
  rs[GPU_RS_STENCILFUNC] = GPU_CMP_ALWAYS;
  rs[GPU_RS_STENCILMASK] = rs[GPU_RS_STENCILWRITEMASK] = 0xFFFFFFFFu;
  rs[GPU_RS_TEXTUREFACTOR] = 0xFFFFFFFFu;
  rs[GPU_RS_LIGHTING] = 1;
  rs[GPU_RS_COLORVERTEX] = 1;
  rs[GPU_RS_DIFFUSEMATERIALSOURCE] = GPU_MCS_COLOR1;
  rs[GPU_RS_SPECULARMATERIALSOURCE] = GPU_MCS_COLOR2;
  rs[GPU_RS_POINTSIZE] = gpu_float_bits(1.0f);
  rs[GPU_RS_COLORWRITEENABLE] = 0xF;
  rs[GPU_RS_BLENDOP] = GPU_BLENDOP_ADD;
  rs[GPU_RS_SRCBLENDALPHA] = GPU_BLEND_ONE;
  rs[GPU_RS_DESTBLENDALPHA] = GPU_BLEND_ZERO;
  rs[GPU_RS_BLENDOPALPHA] = GPU_BLENDOP_ADD;

  for (uint32_t s = 0; s < GPU_MAX_STAGES; ++s) {
    uint32_t* sp = d->samp[s];
    std::memset(sp, 0, sizeof d->samp[s]);
    sp[GPU_SAMP_ADDRESSU] = sp[GPU_SAMP_ADDRESSV] = sp[GPU_SAMP_ADDRESSW] = GPU_ADDRESS_WRAP;
    sp[GPU_SAMP_MAGFILTER] = sp[GPU_SAMP_MINFILTER] = GPU_FILTER_POINT;
    sp[GPU_SAMP_MIPFILTER] = GPU_FILTER_NONE;
    sp[GPU_SAMP_MAXANISOTROPY] = 1;
    uint32_t* t = d->tss[s];
    t[GPU_TSS_COLOROP] = s == 0 ? GPU_TOP_MODULATE : GPU_TOP_DISABLE;
    t[GPU_TSS_ALPHAOP] = s == 0 ? GPU_TOP_SELECTARG1 : GPU_TOP_DISABLE;
    t[GPU_TSS_COLORARG1] = t[GPU_TSS_ALPHAARG1] = GPU_TA_TEXTURE;
    t[GPU_TSS_COLORARG2] = t[GPU_TSS_ALPHAARG2] = GPU_TA_CURRENT;
    t[GPU_TSS_TEXCOORDINDEX] = s;
    if (d->textures[s]) gpu_texture_release(d->textures[s]);
    d->textures[s] = nullptr;
  }
  for (float* m : d->transforms) std::memcpy(m, kIdentity, sizeof kIdentity);
  std::memset(d->clip_planes, 0, sizeof d->clip_planes);
  for (uint32_t i = 0; i < GPU_MAX_LIGHTS; ++i) {
    d->lights[i] = GpuLight{};
    d->lights[i].type = GPU_LIGHT_DIRECTIONAL;
    d->lights[i].diffuse = {1, 1, 1, 0};
    d->lights[i].direction[2] = 1;
    d->light_on[i] = false;
  }
  d->material = GpuMaterial{};
  for (GpuStream& s : d->streams) s = GpuStream{};
  d->indices = nullptr;
  if (d->decl) gpu_vertex_decl_release(d->decl);
  d->decl = nullptr;
  d->fvf = 0;
  d->vertex_shader = d->pixel_shader = nullptr;
  for (uint32_t i = 1; i < 4; ++i) gpu_set_render_target(d, i, nullptr);
  gpu_set_depth_surface(d, d->auto_depth);
  gpu_set_render_target(d, 0, d->back_buffer);
  gpu_gl_invalidate(d);
}

// ---- Present, reset, lost device ------------------------------------------------------------

void gpu_debug_lose_device(GpuDevice* d, const GpuLossScript& script) {
  if (!d) return;
  d->loss = script;
  d->lost = true;
}

GpuResult gpu_test_cooperative_level(GpuDevice* d) {
  if (!d) return GPU_INVALID_CALL;
  if (!d->lost) return GPU_OK;
  if (d->loss.lost_polls > 0) {
    --d->loss.lost_polls;
    return GPU_DEVICE_LOST;
  }
  if (d->loss.needs_reset) return GPU_DEVICE_NOT_RESET;
  d->lost = false;
  return GPU_OK;
}

GpuResult gpu_reset(GpuDevice* d, GpuPresentParams* params) {
  if (!d || !params) return GPU_INVALID_CALL;
  if (d->in_scene) return GPU_INVALID_CALL;
  if (d->lost) {
    if (d->loss.lost_polls > 0) return GPU_DEVICE_LOST;
    if (d->loss.reset_failures > 0) {
      --d->loss.reset_failures;
      return GPU_DEVICE_LOST;
    }
  }
  if (params->multisample > 1) return GPU_INVALID_CALL;
  gpu_make_current(d);
  resolve_size(d, params);
  d->params = *params;
  d->lost = false;
  d->loss = GpuLossScript{};
  for (GpuSurface*& s : d->targets) {
    if (s) gpu_surface_release(s);
    s = nullptr;
  }
  if (d->depth) gpu_surface_release(d->depth);
  d->depth = nullptr;
  GpuResult r = gpu_make_back_buffer(d);
  gpu_states_reset(d);
  return r;
}

// ---- Scene, clear, viewport, scissor -----------------------------------------------------

GpuResult gpu_begin_scene(GpuDevice* d) {
  if (!d || d->in_scene) return GPU_INVALID_CALL;
  d->in_scene = true;
  return GPU_OK;
}

GpuResult gpu_end_scene(GpuDevice* d) {
  if (!d || !d->in_scene) return GPU_INVALID_CALL;
  d->in_scene = false;
  return GPU_OK;
}

GpuResult gpu_clear(GpuDevice* d, uint32_t flags, uint32_t argb, float z, uint32_t stencil) {
  if (!d) return GPU_INVALID_CALL;
  if (!d->targets[0]) flags &= ~uint32_t(GPU_CLEAR_TARGET);
  if (!d->depth) flags &= ~uint32_t(GPU_CLEAR_ZBUFFER | GPU_CLEAR_STENCIL);
  else if (!gpu_format_has_stencil(d->depth->format)) flags &= ~uint32_t(GPU_CLEAR_STENCIL);
  if (!flags) return GPU_OK;
  gpu_make_current(d);
  if (!gpu_bind_targets(d)) return GPU_INVALID_CALL;
  int32_t l = int32_t(d->viewport.x), t = int32_t(d->viewport.y);
  int32_t r = l + int32_t(d->viewport.width), b = t + int32_t(d->viewport.height);
  if (d->rs[GPU_RS_SCISSORTESTENABLE]) {
    l = std::max(l, d->scissor.left);
    t = std::max(t, d->scissor.top);
    r = std::min(r, d->scissor.right);
    b = std::min(b, d->scissor.bottom);
  }
  if (r <= l || b <= t) return GPU_OK;
  glEnable(GL_SCISSOR_TEST);
  glScissor(l, t, r - l, b - t);
  GLbitfield mask = 0;
  if (flags & GPU_CLEAR_TARGET) {
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glClearColor(float((argb >> 16) & 0xFF) / 255.0f, float((argb >> 8) & 0xFF) / 255.0f,
                 float(argb & 0xFF) / 255.0f, float(argb >> 24) / 255.0f);
    mask |= GL_COLOR_BUFFER_BIT;
  }
  if (flags & GPU_CLEAR_ZBUFFER) {
    glDepthMask(GL_TRUE);
    glClearDepth(double(std::clamp(z, 0.0f, 1.0f)));
    mask |= GL_DEPTH_BUFFER_BIT;
  }
  if (flags & GPU_CLEAR_STENCIL) {
    glStencilMask(0xFF);
    glClearStencil(GLint(stencil & 0xFF));
    mask |= GL_STENCIL_BUFFER_BIT;
  }
  glClear(mask);
  forget_gl(d, {GPU_RS_SCISSORTESTENABLE, GPU_RS_COLORWRITEENABLE, GPU_RS_ZWRITEENABLE, GPU_RS_STENCILWRITEMASK}, true);
  return GPU_OK;
}

GpuResult gpu_set_viewport(GpuDevice* d, const GpuViewport& v) {
  if (!d) return GPU_INVALID_CALL;
  const GpuSurface* rt = d->targets[0];
  if (rt && (uint64_t(v.x) + v.width > rt->width || uint64_t(v.y) + v.height > rt->height)) return GPU_INVALID_CALL;
  if (v.width == 0 || v.height == 0) return GPU_INVALID_CALL;
  d->viewport = v;
  return GPU_OK;
}

GpuViewport gpu_get_viewport(GpuDevice* d) { return d ? d->viewport : GpuViewport{}; }

GpuResult gpu_set_scissor_rect(GpuDevice* d, const GpuRect& r) {
  if (!d || r.right < r.left || r.bottom < r.top) return GPU_INVALID_CALL;
  d->scissor = r;
  return GPU_OK;
}

GpuRect gpu_get_scissor_rect(GpuDevice* d) { return d ? d->scissor : GpuRect{}; }

// ---- States -------------------------------------------------------------------------------

GpuResult gpu_set_render_state(GpuDevice* d, GpuRenderState s, uint32_t value) {
  if (!d || s >= GPU_RS_COUNT) return GPU_INVALID_CALL;
  d->rs[s] = value;
  return GPU_OK;
}

uint32_t gpu_get_render_state(GpuDevice* d, GpuRenderState s) { return d && s < GPU_RS_COUNT ? d->rs[s] : 0; }

GpuResult gpu_set_sampler_state(GpuDevice* d, uint32_t stage, GpuSamplerState s, uint32_t value) {
  if (!d || stage >= GPU_MAX_STAGES || s >= GPU_SAMP_COUNT) return GPU_INVALID_CALL;
  d->samp[stage][s] = value;
  return GPU_OK;
}

uint32_t gpu_get_sampler_state(GpuDevice* d, uint32_t stage, GpuSamplerState s) {
  return d && stage < GPU_MAX_STAGES && s < GPU_SAMP_COUNT ? d->samp[stage][s] : 0;
}

GpuResult gpu_set_stage_state(GpuDevice* d, uint32_t stage, GpuStageState s, uint32_t value) {
  if (!d || stage >= GPU_MAX_STAGES || s >= GPU_TSS_COUNT) return GPU_INVALID_CALL;
  d->tss[stage][s] = value;
  return GPU_OK;
}

uint32_t gpu_get_stage_state(GpuDevice* d, uint32_t stage, GpuStageState s) {
  return d && stage < GPU_MAX_STAGES && s < GPU_TSS_COUNT ? d->tss[stage][s] : 0;
}

GpuResult gpu_set_texture(GpuDevice* d, uint32_t stage, GpuTexture* t) {
  if (!d || stage >= GPU_MAX_STAGES) return GPU_INVALID_CALL;
  if (t == d->textures[stage]) return GPU_OK;
  if (t) gpu_texture_add_ref(t);
  if (d->textures[stage]) gpu_texture_release(d->textures[stage]);
  d->textures[stage] = t;
  return GPU_OK;
}

GpuTexture* gpu_get_texture(GpuDevice* d, uint32_t stage) {
  return d && stage < GPU_MAX_STAGES ? d->textures[stage] : nullptr;
}

GpuResult gpu_set_transform(GpuDevice* d, GpuTransform which, const float m[16]) {
  if (!d || which >= GPU_TS_COUNT || !m) return GPU_INVALID_CALL;
  std::memcpy(d->transforms[which], m, sizeof d->transforms[which]);
  return GPU_OK;
}

void gpu_get_transform(GpuDevice* d, GpuTransform which, float m[16]) {
  if (d && which < GPU_TS_COUNT) std::memcpy(m, d->transforms[which], sizeof d->transforms[which]);
}

GpuResult gpu_set_clip_plane(GpuDevice* d, uint32_t index, const float plane[4]) {
  if (!d || index >= GPU_MAX_CLIP_PLANES || !plane) return GPU_INVALID_CALL;
  std::memcpy(d->clip_planes[index], plane, sizeof d->clip_planes[index]);
  return GPU_OK;
}

GpuResult gpu_set_light(GpuDevice* d, uint32_t index, const GpuLight& light) {
  if (!d || index >= GPU_MAX_LIGHTS || light.type < GPU_LIGHT_POINT || light.type > GPU_LIGHT_DIRECTIONAL)
    return GPU_INVALID_CALL;
  d->lights[index] = light;
  return GPU_OK;
}

GpuResult gpu_light_enable(GpuDevice* d, uint32_t index, bool enable) {
  if (!d || index >= GPU_MAX_LIGHTS) return GPU_INVALID_CALL;
  d->light_on[index] = enable;
  return GPU_OK;
}

GpuResult gpu_set_material(GpuDevice* d, const GpuMaterial& m) {
  if (!d) return GPU_INVALID_CALL;
  d->material = m;
  return GPU_OK;
}

GpuResult gpu_set_vertex_shader(GpuDevice* d, GpuShader* s) {
  if (!d) return GPU_INVALID_CALL;
  d->vertex_shader = s;
  return GPU_OK;
}

GpuResult gpu_set_pixel_shader(GpuDevice* d, GpuShader* s) {
  if (!d) return GPU_INVALID_CALL;
  d->pixel_shader = s;
  return GPU_OK;
}

GpuShader* gpu_get_vertex_shader(GpuDevice* d) { return d ? d->vertex_shader : nullptr; }
GpuShader* gpu_get_pixel_shader(GpuDevice* d) { return d ? d->pixel_shader : nullptr; }

// ---- Trace ---------------------------------------------------------------------------------

void gpu_trace_enable(GpuDevice* d, bool enable) {
  if (!d) return;
  d->trace = enable;
  d->trace_current.clear();
  d->trace_last.clear();
}

const GpuTraceDraw* gpu_trace_last_frame(GpuDevice* d, size_t* count) {
  *count = d ? d->trace_last.size() : 0;
  return d ? d->trace_last.data() : nullptr;
}

const GpuTraceDraw* gpu_trace_current_frame(GpuDevice* d, size_t* count) {
  *count = d ? d->trace_current.size() : 0;
  return d ? d->trace_current.data() : nullptr;
}
