// Drawing: sending the states in force to OpenGL, vertex inputs, stream
// buffers for immediate draws, and the per-frame trace.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <utility>

#include "platform/gpu/gpu_internal.h"

namespace {

constexpr uint32_t kUnknown = 0xFFFFFFFFu;
// Each of a ring's two buffers at first.
constexpr uint32_t kRingBufferBytes = 128u << 10;
// Frames whose draws may still read the stream memory after their present.
constexpr uint64_t kFramesInFlight = 2;

GLenum gl_compare(uint32_t f) {
  static const GLenum k[8] = {GL_NEVER, GL_LESS, GL_EQUAL, GL_LEQUAL, GL_GREATER, GL_NOTEQUAL, GL_GEQUAL, GL_ALWAYS};
  return f >= 1 && f <= 8 ? k[f - 1] : GL_ALWAYS;
}

GLenum gl_blend(uint32_t b) {
  switch (b) {
    case GPU_BLEND_ZERO: return GL_ZERO;
    case GPU_BLEND_ONE: return GL_ONE;
    case GPU_BLEND_SRCCOLOR: return GL_SRC_COLOR;
    case GPU_BLEND_INVSRCCOLOR: return GL_ONE_MINUS_SRC_COLOR;
    case GPU_BLEND_SRCALPHA: return GL_SRC_ALPHA;
    case GPU_BLEND_INVSRCALPHA: return GL_ONE_MINUS_SRC_ALPHA;
    case GPU_BLEND_DESTALPHA: return GL_DST_ALPHA;
    case GPU_BLEND_INVDESTALPHA: return GL_ONE_MINUS_DST_ALPHA;
    case GPU_BLEND_DESTCOLOR: return GL_DST_COLOR;
    case GPU_BLEND_INVDESTCOLOR: return GL_ONE_MINUS_DST_COLOR;
    case GPU_BLEND_SRCALPHASAT: return GL_SRC_ALPHA_SATURATE;
    default: return GL_ONE;
  }
}

GLenum gl_blend_op(uint32_t op) {
  switch (op) {
    case GPU_BLENDOP_SUBTRACT: return GL_FUNC_SUBTRACT;
    case GPU_BLENDOP_REVSUBTRACT: return GL_FUNC_REVERSE_SUBTRACT;
    case GPU_BLENDOP_MIN: return GL_MIN;
    case GPU_BLENDOP_MAX: return GL_MAX;
    default: return GL_FUNC_ADD;
  }
}

GLenum gl_stencil_op(uint32_t op) {
  static const GLenum k[8] = {GL_KEEP, GL_ZERO, GL_REPLACE, GL_INCR, GL_DECR, GL_INVERT, GL_INCR_WRAP, GL_DECR_WRAP};
  return op >= 1 && op <= 8 ? k[op - 1] : GL_KEEP;
}

GLenum gl_address(uint32_t a) {
  switch (a) {
    case GPU_ADDRESS_MIRROR:
    case GPU_ADDRESS_MIRRORONCE: return GL_MIRRORED_REPEAT;
    case GPU_ADDRESS_CLAMP: return GL_CLAMP_TO_EDGE;
    case GPU_ADDRESS_BORDER: return GL_CLAMP_TO_BORDER;
    default: return GL_REPEAT;
  }
}

GLenum gl_primitive(GpuPrimitive t) {
  switch (t) {
    case GPU_PT_POINTLIST: return GL_POINTS;
    case GPU_PT_LINELIST: return GL_LINES;
    case GPU_PT_LINESTRIP: return GL_LINE_STRIP;
    case GPU_PT_TRIANGLESTRIP: return GL_TRIANGLE_STRIP;
    case GPU_PT_TRIANGLEFAN: return GL_TRIANGLE_FAN;
    default: return GL_TRIANGLES;
  }
}

bool valid_primitive(GpuPrimitive t) { return t >= GPU_PT_POINTLIST && t <= GPU_PT_TRIANGLEFAN; }

void ring_init(GpuRing& r, GLenum target) {
  r.target = target;
  r.size = r.spare_size = kRingBufferBytes;
  r.head = 0;
  r.spare_free_at = 0;
  for (GLuint* name : {&r.name, &r.spare}) {
    glGenBuffers(1, name);
    glBindBuffer(GL_COPY_WRITE_BUFFER, *name);
    glBufferData(GL_COPY_WRITE_BUFFER, kRingBufferBytes, nullptr, GL_STREAM_DRAW);
  }
}

// Copies bytes into the ring during frame `frame` (presents so far) and
// returns their offset. A full buffer hands over to the other one, written
// from its start. Once the frames that drew from that one are done it is
// written as it is: no buffer is made anew, which would cost the frame a page
// fault on every page. While they may still read it, it is made anew at
// twice the size rather than waited for, so the buffers settle at a size that
// outlasts the frames in flight.
uint32_t ring_put(GpuRing& r, uint64_t frame, const void* data, uint32_t bytes) {
  uint32_t at = (r.head + 15u) & ~15u;
  bool remake = false;
  if (uint64_t(at) + bytes > r.size) {
    const bool in_use = frame < r.spare_free_at;
    std::swap(r.name, r.spare);
    std::swap(r.size, r.spare_size);
    r.spare_free_at = frame + kFramesInFlight;
    at = 0;
    uint64_t size = in_use ? uint64_t(r.size) * 2 : r.size;
    while (size < bytes) size *= 2;
    remake = size != r.size;
    r.size = uint32_t(std::min<uint64_t>(size, 0x80000000u));
  }
  glBindBuffer(GL_COPY_WRITE_BUFFER, r.name);
  if (remake) glBufferData(GL_COPY_WRITE_BUFFER, r.size, nullptr, GL_STREAM_DRAW);
  glBufferSubData(GL_COPY_WRITE_BUFFER, at, bytes, data);
  r.head = at + bytes;
  return at;
}

}  // namespace

void gpu_draw_init(GpuDevice* d) {
  glGenVertexArrays(1, &d->vao);
  glBindVertexArray(d->vao);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glProvokingVertex(GL_FIRST_VERTEX_CONVENTION);
  glFrontFace(GL_CCW);
  const uint32_t white = 0xFFFFFFFFu;
  glGenTextures(1, &d->white);
  glActiveTexture(GL_TEXTURE0 + GPU_MAX_STAGES);
  glBindTexture(GL_TEXTURE_2D, d->white);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 1, 1, 0, GL_BGRA, GL_UNSIGNED_BYTE, &white);
  glGenSamplers(GPU_MAX_STAGES, d->samplers);
  ring_init(d->vertex_ring, GL_ARRAY_BUFFER);
  ring_init(d->index_ring, GL_ELEMENT_ARRAY_BUFFER);
  gpu_gl_invalidate(d);
}

void gpu_draw_release(GpuDevice* d) {
  for (auto& [key, prog] : d->programs)
    if (prog.name) glDeleteProgram(prog.name);
  d->programs.clear();
  gpu_shader_state_release(d);
  glDeleteSamplers(GPU_MAX_STAGES, d->samplers);
  glDeleteTextures(1, &d->white);
  for (GpuRing* r : {&d->vertex_ring, &d->index_ring}) {
    glDeleteBuffers(1, &r->name);
    glDeleteBuffers(1, &r->spare);
  }
  glDeleteVertexArrays(1, &d->vao);
}

void gpu_gl_invalidate(GpuDevice* d) {
  GpuGlState& g = d->gl;
  g.valid = false;
  g.program = kUnknown;
  g.fbo = kUnknown;
  for (GLuint& t : g.textures) t = kUnknown;
  for (bool& v : g.sampler_valid) v = false;
  d->attrib_decl_id = 0;
}

namespace {

GpuFfKey build_key(const GpuDevice* d) {
  GpuFfKey k;
  std::memset(&k, 0, sizeof k);
  const GpuVertexDecl* v = d->decl;
  const uint32_t* rs = d->rs;
  k.pretransformed = v->pretransformed;
  k.has_normal = v->has_normal;
  k.has_diffuse = v->has_diffuse;
  k.has_specular = v->has_specular;
  std::memcpy(k.texcoord_sizes, v->texcoord_sizes, sizeof k.texcoord_sizes);
  k.lighting = !v->pretransformed && rs[GPU_RS_LIGHTING];
  if (k.lighting) {
    for (int i = 0; i < GPU_MAX_LIGHTS; ++i) k.light_types[i] = d->light_on[i] ? uint8_t(d->lights[i].type) : 0;
    k.normalize = rs[GPU_RS_NORMALIZENORMALS] != 0;
    k.specular_enable = rs[GPU_RS_SPECULARENABLE] != 0;
    bool colour_vertex = rs[GPU_RS_COLORVERTEX] != 0;
    const GpuRenderState src[4] = {GPU_RS_DIFFUSEMATERIALSOURCE, GPU_RS_SPECULARMATERIALSOURCE,
                                   GPU_RS_AMBIENTMATERIALSOURCE, GPU_RS_EMISSIVEMATERIALSOURCE};
    for (int m = 0; m < 4; ++m) {
      uint32_t s = rs[src[m]];
      bool present = (s == GPU_MCS_COLOR1 && v->has_diffuse) || (s == GPU_MCS_COLOR2 && v->has_specular);
      k.material_sources[m] = colour_vertex && present ? uint8_t(s) : 0;
    }
  } else {
    k.specular_enable = rs[GPU_RS_SPECULARENABLE] != 0;
  }
  if (rs[GPU_RS_FOGENABLE]) {
    if (rs[GPU_RS_FOGTABLEMODE] != GPU_FOG_NONE) {
      k.fog_source = 3;
      k.fog_mode = uint8_t(rs[GPU_RS_FOGTABLEMODE]);
    } else if (rs[GPU_RS_FOGVERTEXMODE] != GPU_FOG_NONE && !v->pretransformed) {
      k.fog_source = 2;
      k.fog_mode = uint8_t(rs[GPU_RS_FOGVERTEXMODE]);
      k.range_fog = rs[GPU_RS_RANGEFOGENABLE] != 0;
    } else {
      k.fog_source = 1;
    }
  }
  if (rs[GPU_RS_ALPHATESTENABLE] && rs[GPU_RS_ALPHAFUNC] != GPU_CMP_ALWAYS)
    k.alpha_func = uint8_t(std::clamp<uint32_t>(rs[GPU_RS_ALPHAFUNC], GPU_CMP_NEVER, GPU_CMP_ALWAYS));
  if (!v->pretransformed) k.clip_planes = uint8_t(rs[GPU_RS_CLIPPLANEENABLE] & 0x3F);
  k.flat = rs[GPU_RS_SHADEMODE] == GPU_SHADE_FLAT;
  k.depth_fixup = !d->clip_control;
  for (int i = 0; i < GPU_MAX_STAGES; ++i) {
    const uint32_t* t = d->tss[i];
    GpuFfStage& st = k.stages[i];
    st.colorop = uint8_t(t[GPU_TSS_COLOROP]);
    if (st.colorop == GPU_TOP_DISABLE || st.colorop == 0) {
      st.colorop = GPU_TOP_DISABLE;
      break;
    }
    st.colorarg1 = uint8_t(t[GPU_TSS_COLORARG1] & 0x37);
    st.colorarg2 = uint8_t(t[GPU_TSS_COLORARG2] & 0x37);
    st.alphaop = uint8_t(t[GPU_TSS_ALPHAOP] ? t[GPU_TSS_ALPHAOP] : GPU_TOP_DISABLE);
    st.alphaarg1 = uint8_t(t[GPU_TSS_ALPHAARG1] & 0x37);
    st.alphaarg2 = uint8_t(t[GPU_TSS_ALPHAARG2] & 0x37);
    st.texcoord = uint8_t(t[GPU_TSS_TEXCOORDINDEX] & 7);
  }
  return k;
}

const GpuProgram* program_for(GpuDevice* d) {
  GpuFfKey key = build_key(d);
  auto it = d->programs.find(key);
  if (it == d->programs.end()) it = d->programs.emplace(key, gpu_ffp_build(key)).first;
  return it->second.name ? &it->second : nullptr;
}

void set_colour_uniform(GLint loc, uint32_t argb) {
  if (loc >= 0)
    glUniform4f(loc, float((argb >> 16) & 0xFF) / 255.0f, float((argb >> 8) & 0xFF) / 255.0f,
                float(argb & 0xFF) / 255.0f, float(argb >> 24) / 255.0f);
}

void transform_point(float out[3], const float p[3], const float m[16], float w) {
  for (int j = 0; j < 3; ++j) out[j] = p[0] * m[j] + p[1] * m[4 + j] + p[2] * m[8 + j] + w * m[12 + j];
}

void send_uniforms(GpuDevice* d, const GpuProgram* p) {
  const GpuViewport& vp = d->viewport;
  const uint32_t* rs = d->rs;
  if (p->u_viewport >= 0) glUniform4f(p->u_viewport, float(vp.x), float(vp.y), float(vp.width), float(vp.height));
  if (p->u_depth >= 0) glUniform2f(p->u_depth, vp.min_z, vp.max_z - vp.min_z);
  if (p->u_half_pixel >= 0) glUniform2f(p->u_half_pixel, 1.0f / float(vp.width), 1.0f / float(vp.height));
  float wv[16];
  gpu_mat4_multiply(wv, d->transforms[GPU_TS_WORLD], d->transforms[GPU_TS_VIEW]);
  if (p->u_wv >= 0) glUniformMatrix4fv(p->u_wv, 1, GL_FALSE, wv);
  if (p->u_proj >= 0) glUniformMatrix4fv(p->u_proj, 1, GL_FALSE, d->transforms[GPU_TS_PROJECTION]);
  if (p->u_world >= 0) glUniformMatrix4fv(p->u_world, 1, GL_FALSE, d->transforms[GPU_TS_WORLD]);
  if (p->u_normal_matrix >= 0) {
    // Normals go through the inverse transpose of the upper 3 x 3 of world x view.
    float a = wv[0], b = wv[1], c = wv[2], e = wv[4], f = wv[5], g = wv[6], h = wv[8], i = wv[9], j = wv[10];
    float det = a * (f * j - g * i) - b * (e * j - g * h) + c * (e * i - f * h);
    float s = std::fabs(det) > 1e-20f ? 1.0f / det : 0.0f;
    // Row-vector n x M^-T, sent as the column-major matrix that computes it.
    float nm[9] = {(f * j - g * i) * s, (g * h - e * j) * s, (e * i - f * h) * s,
                   (c * i - b * j) * s, (a * j - c * h) * s, (b * h - a * i) * s,
                   (b * g - c * f) * s, (c * e - a * g) * s, (a * f - b * e) * s};
    glUniformMatrix3fv(p->u_normal_matrix, 1, GL_TRUE, nm);
  }
  if (p->u_alpha_ref >= 0) glUniform1f(p->u_alpha_ref, float(rs[GPU_RS_ALPHAREF] & 0xFF));
  if (p->u_fog >= 0) {
    float start = gpu_bits_float(rs[GPU_RS_FOGSTART]), end = gpu_bits_float(rs[GPU_RS_FOGEND]);
    float span = end - start;
    glUniform4f(p->u_fog, start, end, gpu_bits_float(rs[GPU_RS_FOGDENSITY]),
                std::fabs(span) > 1e-6f ? 1.0f / span : 1e6f);
  }
  set_colour_uniform(p->u_fog_color, rs[GPU_RS_FOGCOLOR]);
  set_colour_uniform(p->u_tfactor, rs[GPU_RS_TEXTUREFACTOR]);
  set_colour_uniform(p->u_ambient, rs[GPU_RS_AMBIENT]);
  if (p->u_clip >= 0) glUniform4fv(p->u_clip, GPU_MAX_CLIP_PLANES, &d->clip_planes[0][0]);
  if (p->u_mat >= 0) {
    const GpuMaterial& m = d->material;
    float v[20] = {m.diffuse.r,  m.diffuse.g,  m.diffuse.b,  m.diffuse.a,  m.ambient.r,  m.ambient.g,  m.ambient.b,
                   m.ambient.a,  m.specular.r, m.specular.g, m.specular.b, m.specular.a, m.emissive.r, m.emissive.g,
                   m.emissive.b, m.emissive.a, m.power,      0,            0,            0};
    glUniform4fv(p->u_mat, 5, v);
  }
  const float* view = d->transforms[GPU_TS_VIEW];
  for (int i = 0; i < GPU_MAX_LIGHTS; ++i) {
    if (p->u_light[i] < 0) continue;
    const GpuLight& l = d->lights[i];
    float pos[3], dir[3];
    transform_point(pos, l.position, view, 1.0f);
    transform_point(dir, l.direction, view, 0.0f);
    float len = std::sqrt(dir[0] * dir[0] + dir[1] * dir[1] + dir[2] * dir[2]);
    if (len > 0) for (float& c : dir) c /= len;
    float v[32] = {l.diffuse.r, l.diffuse.g, l.diffuse.b, l.diffuse.a, l.specular.r, l.specular.g, l.specular.b,
                   l.specular.a, l.ambient.r, l.ambient.g, l.ambient.b, l.ambient.a, pos[0], pos[1], pos[2], 1,
                   dir[0], dir[1], dir[2], 0, l.range > 0 ? l.range : 1e30f, l.falloff, std::cos(l.theta * 0.5f),
                   std::cos(l.phi * 0.5f), l.attenuation0, l.attenuation1, l.attenuation2, 0, 0, 0, 0, 0};
    glUniform4fv(p->u_light[i], 8, v);
  }
}

void enable(GLenum cap, bool on) { on ? glEnable(cap) : glDisable(cap); }

// Sends the render states that differ from what OpenGL holds.
void send_render_states(GpuDevice* d) {
  const uint32_t* rs = d->rs;
  uint32_t* g = d->gl.rs;
  bool all = !d->gl.valid;
  auto changed = [&](std::initializer_list<GpuRenderState> list) {
    bool c = all;
    for (GpuRenderState s : list)
      if (g[s] != rs[s]) c = true;
    for (GpuRenderState s : list) g[s] = rs[s];
    return c;
  };
  if (changed({GPU_RS_ZENABLE, GPU_RS_ZFUNC})) {
    enable(GL_DEPTH_TEST, rs[GPU_RS_ZENABLE] != 0);
    glDepthFunc(gl_compare(rs[GPU_RS_ZFUNC]));
  }
  if (changed({GPU_RS_ZWRITEENABLE})) glDepthMask(rs[GPU_RS_ZWRITEENABLE] ? GL_TRUE : GL_FALSE);
  if (changed({GPU_RS_ALPHABLENDENABLE})) enable(GL_BLEND, rs[GPU_RS_ALPHABLENDENABLE] != 0);
  if (changed({GPU_RS_SRCBLEND, GPU_RS_DESTBLEND, GPU_RS_BLENDOP, GPU_RS_SEPARATEALPHABLENDENABLE,
               GPU_RS_SRCBLENDALPHA, GPU_RS_DESTBLENDALPHA, GPU_RS_BLENDOPALPHA})) {
    bool sep = rs[GPU_RS_SEPARATEALPHABLENDENABLE] != 0;
    glBlendFuncSeparate(gl_blend(rs[GPU_RS_SRCBLEND]), gl_blend(rs[GPU_RS_DESTBLEND]),
                        gl_blend(rs[sep ? GPU_RS_SRCBLENDALPHA : GPU_RS_SRCBLEND]),
                        gl_blend(rs[sep ? GPU_RS_DESTBLENDALPHA : GPU_RS_DESTBLEND]));
    glBlendEquationSeparate(gl_blend_op(rs[GPU_RS_BLENDOP]), gl_blend_op(rs[sep ? GPU_RS_BLENDOPALPHA : GPU_RS_BLENDOP]));
  }
  if (changed({GPU_RS_CULLMODE})) {
    // Clockwise on screen is front. The target keeps its top row first, so a
    // clockwise triangle on screen winds counter-clockwise for OpenGL.
    uint32_t c = rs[GPU_RS_CULLMODE];
    enable(GL_CULL_FACE, c == GPU_CULL_CW || c == GPU_CULL_CCW);
    glCullFace(c == GPU_CULL_CW ? GL_FRONT : GL_BACK);
  }
  if (changed({GPU_RS_FILLMODE})) {
    uint32_t f = rs[GPU_RS_FILLMODE];
    glPolygonMode(GL_FRONT_AND_BACK, f == GPU_FILL_POINT ? GL_POINT : f == GPU_FILL_WIREFRAME ? GL_LINE : GL_FILL);
  }
  if (changed({GPU_RS_STENCILENABLE, GPU_RS_STENCILFUNC, GPU_RS_STENCILREF, GPU_RS_STENCILMASK, GPU_RS_STENCILFAIL,
               GPU_RS_STENCILZFAIL, GPU_RS_STENCILPASS, GPU_RS_STENCILWRITEMASK})) {
    enable(GL_STENCIL_TEST, rs[GPU_RS_STENCILENABLE] != 0);
    glStencilFunc(gl_compare(rs[GPU_RS_STENCILFUNC]), GLint(rs[GPU_RS_STENCILREF] & 0xFF), rs[GPU_RS_STENCILMASK]);
    glStencilOp(gl_stencil_op(rs[GPU_RS_STENCILFAIL]), gl_stencil_op(rs[GPU_RS_STENCILZFAIL]),
                gl_stencil_op(rs[GPU_RS_STENCILPASS]));
    glStencilMask(rs[GPU_RS_STENCILWRITEMASK]);
  }
  if (changed({GPU_RS_COLORWRITEENABLE})) {
    uint32_t m = rs[GPU_RS_COLORWRITEENABLE];
    glColorMask(m & 1 ? GL_TRUE : GL_FALSE, m & 2 ? GL_TRUE : GL_FALSE, m & 4 ? GL_TRUE : GL_FALSE,
                m & 8 ? GL_TRUE : GL_FALSE);
  }
  if (changed({GPU_RS_CLIPPLANEENABLE})) {
    for (int i = 0; i < GPU_MAX_CLIP_PLANES; ++i) enable(GLenum(GL_CLIP_DISTANCE0 + i), rs[GPU_RS_CLIPPLANEENABLE] >> i & 1);
  }
  if (changed({GPU_RS_POINTSIZE})) glPointSize(std::max(1.0f, gpu_bits_float(rs[GPU_RS_POINTSIZE])));
  if (changed({GPU_RS_DEPTHBIAS, GPU_RS_SLOPESCALEDEPTHBIAS})) {
    float bias = gpu_bits_float(rs[GPU_RS_DEPTHBIAS]), slope = gpu_bits_float(rs[GPU_RS_SLOPESCALEDEPTHBIAS]);
    bool on = bias != 0.0f || slope != 0.0f;
    enable(GL_POLYGON_OFFSET_FILL, on);
    // The bias is in depth units of a 24-bit buffer.
    glPolygonOffset(slope, bias * 16777216.0f);
  }
  if (changed({GPU_RS_SCISSORTESTENABLE})) enable(GL_SCISSOR_TEST, rs[GPU_RS_SCISSORTESTENABLE] != 0);
}

void send_sampler(GpuDevice* d, uint32_t stage) {
  const uint32_t* s = d->samp[stage];
  uint32_t* g = d->gl.samplers[stage];
  if (d->gl.sampler_valid[stage] && std::memcmp(s, g, sizeof d->samp[stage]) == 0) return;
  GLuint smp = d->samplers[stage];
  glSamplerParameteri(smp, GL_TEXTURE_WRAP_S, GLint(gl_address(s[GPU_SAMP_ADDRESSU])));
  glSamplerParameteri(smp, GL_TEXTURE_WRAP_T, GLint(gl_address(s[GPU_SAMP_ADDRESSV])));
  glSamplerParameteri(smp, GL_TEXTURE_WRAP_R, GLint(gl_address(s[GPU_SAMP_ADDRESSW])));
  uint32_t bc = s[GPU_SAMP_BORDERCOLOR];
  float border[4] = {float((bc >> 16) & 0xFF) / 255.0f, float((bc >> 8) & 0xFF) / 255.0f, float(bc & 0xFF) / 255.0f,
                     float(bc >> 24) / 255.0f};
  glSamplerParameterfv(smp, GL_TEXTURE_BORDER_COLOR, border);
  bool mag_linear = s[GPU_SAMP_MAGFILTER] >= GPU_FILTER_LINEAR;
  bool min_linear = s[GPU_SAMP_MINFILTER] >= GPU_FILTER_LINEAR;
  uint32_t mip = s[GPU_SAMP_MIPFILTER];
  GLenum min = min_linear ? GL_LINEAR : GL_NEAREST;
  if (mip == GPU_FILTER_POINT) min = min_linear ? GL_LINEAR_MIPMAP_NEAREST : GL_NEAREST_MIPMAP_NEAREST;
  else if (mip >= GPU_FILTER_LINEAR) min = min_linear ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST_MIPMAP_LINEAR;
  glSamplerParameteri(smp, GL_TEXTURE_MAG_FILTER, mag_linear ? GL_LINEAR : GL_NEAREST);
  glSamplerParameteri(smp, GL_TEXTURE_MIN_FILTER, GLint(min));
  glSamplerParameterf(smp, GL_TEXTURE_LOD_BIAS, gpu_bits_float(s[GPU_SAMP_MIPMAPLODBIAS]));
  glSamplerParameterf(smp, GL_TEXTURE_MIN_LOD, float(s[GPU_SAMP_MAXMIPLEVEL]));
  std::memcpy(g, s, sizeof d->samp[stage]);
  d->gl.sampler_valid[stage] = true;
}

void send_textures(GpuDevice* d) {
  for (uint32_t i = 0; i < GPU_MAX_STAGES; ++i) {
    // A pixel shader samples every stage; the texture stages stop at the first disabled one.
    if (d->tss[i][GPU_TSS_COLOROP] == GPU_TOP_DISABLE && !d->pixel_shader) break;
    GLuint name = d->textures[i] ? d->textures[i]->name : d->white;
    if (d->gl.textures[i] != name) {
      glActiveTexture(GL_TEXTURE0 + i);
      glBindTexture(GL_TEXTURE_2D, name);
      glBindSampler(i, d->samplers[i]);
      d->gl.textures[i] = name;
    }
    send_sampler(d, i);
  }
}

void send_targets_view(GpuDevice* d) {
  GpuGlState& g = d->gl;
  const GpuViewport& v = d->viewport;
  if (!g.valid || std::memcmp(&g.viewport, &v, sizeof v) != 0) {
    glViewport(GLint(v.x), GLint(v.y), GLsizei(v.width), GLsizei(v.height));
    glDepthRange(double(v.min_z), double(v.max_z));
    g.viewport = v;
  }
  const GpuRect& r = d->scissor;
  if (!g.valid || std::memcmp(&g.scissor, &r, sizeof r) != 0) {
    glScissor(r.left, r.top, std::max(0, r.right - r.left), std::max(0, r.bottom - r.top));
    g.scissor = r;
  }
}

// Points each vertex input at its stream; stream 0 may be given directly.
void send_attribs(GpuDevice* d, GLuint stream0_buffer, uint32_t stream0_offset, uint32_t stream0_stride) {
  const GpuVertexDecl* v = d->decl;
  GLuint bufs[4];
  uint32_t offs[4], strides[4];
  for (int s = 0; s < 4; ++s) {
    const GpuStream& st = d->streams[s];
    bufs[s] = st.buffer ? st.buffer->name : 0;
    offs[s] = st.offset;
    strides[s] = st.stride;
  }
  if (stream0_buffer) {
    bufs[0] = stream0_buffer;
    offs[0] = stream0_offset;
    strides[0] = stream0_stride;
  }
  if (d->attrib_decl_id == v->id && std::memcmp(bufs, d->attrib_buffers, sizeof bufs) == 0 &&
      std::memcmp(offs, d->attrib_offsets, sizeof offs) == 0 &&
      std::memcmp(strides, d->attrib_strides, sizeof strides) == 0)
    return;
  uint32_t enabled = 0;
  for (const GpuAttrib& a : v->attribs) {
    if (!bufs[a.stream]) continue;
    glBindBuffer(GL_ARRAY_BUFFER, bufs[a.stream]);
    const void* ptr = reinterpret_cast<const void*>(uintptr_t(offs[a.stream]) + a.offset);
    GLsizei stride = GLsizei(strides[a.stream]);
    GLuint loc = GLuint(a.location);
    switch (a.type) {
      case GPU_DECL_FLOAT1:
      case GPU_DECL_FLOAT2:
      case GPU_DECL_FLOAT3:
      case GPU_DECL_FLOAT4: glVertexAttribPointer(loc, a.type + 1, GL_FLOAT, GL_FALSE, stride, ptr); break;
      case GPU_DECL_COLOR: glVertexAttribPointer(loc, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, stride, ptr); break;
      case GPU_DECL_UBYTE4: glVertexAttribPointer(loc, 4, GL_UNSIGNED_BYTE, GL_FALSE, stride, ptr); break;
      case GPU_DECL_UBYTE4N: glVertexAttribPointer(loc, 4, GL_UNSIGNED_BYTE, GL_TRUE, stride, ptr); break;
      case GPU_DECL_SHORT2: glVertexAttribPointer(loc, 2, GL_SHORT, GL_FALSE, stride, ptr); break;
      case GPU_DECL_SHORT4: glVertexAttribPointer(loc, 4, GL_SHORT, GL_FALSE, stride, ptr); break;
      case GPU_DECL_SHORT2N: glVertexAttribPointer(loc, 2, GL_SHORT, GL_TRUE, stride, ptr); break;
      case GPU_DECL_SHORT4N: glVertexAttribPointer(loc, 4, GL_SHORT, GL_TRUE, stride, ptr); break;
      default: continue;
    }
    enabled |= 1u << loc;
  }
  for (GLuint loc = 0; loc < 16; ++loc) {
    bool on = enabled >> loc & 1;
    if (on != bool(d->attrib_enabled >> loc & 1) || d->attrib_decl_id == 0)
      on ? glEnableVertexAttribArray(loc) : glDisableVertexAttribArray(loc);
  }
  d->attrib_enabled = enabled;
  d->attrib_decl_id = v->id;
  std::memcpy(d->attrib_buffers, bufs, sizeof bufs);
  std::memcpy(d->attrib_offsets, offs, sizeof offs);
  std::memcpy(d->attrib_strides, strides, sizeof strides);
}

// Everything but the vertex inputs; false when nothing can be drawn.
bool prepare(GpuDevice* d) {
  if (!d->decl || d->lost) return false;
  gpu_make_current(d);
  if (!gpu_bind_targets(d)) return false;
  send_targets_view(d);
  send_render_states(d);
  bool shaders = gpu_shader_active(d);
  const GpuProgram* p = shaders ? gpu_shader_program(d, build_key(d)) : program_for(d);
  if (!p) return false;
  if (d->gl.program != p->name) {
    glUseProgram(p->name);
    d->gl.program = p->name;
  }
  send_uniforms(d, p);
  if (shaders) gpu_shader_send(d);
  send_textures(d);
  d->gl.valid = true;
  return true;
}

void trace(GpuDevice* d, GpuPrimitive type, uint32_t count, uint32_t vertices) {
  if (!d->trace) return;
  GpuTraceDraw t;
  std::memset(&t, 0, sizeof t);
  t.type = type;
  t.primitive_count = count;
  t.vertex_count = vertices;
  t.fvf = d->fvf;
  std::memcpy(t.render_states, d->rs, sizeof t.render_states);
  for (int s = 0; s < 2; ++s) {
    std::memcpy(t.stage_states[s], d->tss[s], sizeof t.stage_states[s]);
    std::memcpy(t.sampler_states[s], d->samp[s], sizeof t.sampler_states[s]);
    t.textures[s] = gpu_texture_id(d->textures[s]);
  }
  t.render_target = gpu_surface_id(d->targets[0]);
  t.viewport = d->viewport;
  t.scissor = d->scissor;
  t.vertex_shader = d->vertex_shader != nullptr;
  t.pixel_shader = d->pixel_shader != nullptr;
  d->trace_current.push_back(t);
}

}  // namespace

GpuResult gpu_draw_primitive(GpuDevice* d, GpuPrimitive type, uint32_t start, uint32_t count) {
  if (!d || !valid_primitive(type)) return GPU_INVALID_CALL;
  uint32_t n = gpu_primitive_vertex_count(type, count);
  if (n == 0) return GPU_OK;
  if (!d->decl) return GPU_INVALID_CALL;
  if (!prepare(d)) return d->lost ? GPU_OK : GPU_INVALID_CALL;
  send_attribs(d, 0, 0, 0);
  glDrawArrays(gl_primitive(type), GLint(start), GLsizei(n));
  trace(d, type, count, n);
  return GPU_OK;
}

GpuResult gpu_draw_indexed_primitive(GpuDevice* d, GpuPrimitive type, int32_t base_vertex, uint32_t,
                                     uint32_t num_vertices, uint32_t start_index, uint32_t count) {
  if (!d || !valid_primitive(type)) return GPU_INVALID_CALL;
  uint32_t n = gpu_primitive_vertex_count(type, count);
  if (n == 0) return GPU_OK;
  GpuIndexBuffer* ib = d->indices;
  if (!ib || !d->decl) return GPU_INVALID_CALL;
  uint32_t isize = ib->format == GPU_FMT_INDEX32 ? 4 : 2;
  if ((uint64_t(start_index) + n) * isize > ib->bytes) return GPU_INVALID_CALL;
  if (!prepare(d)) return d->lost ? GPU_OK : GPU_INVALID_CALL;
  send_attribs(d, 0, 0, 0);
  glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, ib->name);
  glDrawElementsBaseVertex(gl_primitive(type), GLsizei(n), isize == 4 ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT,
                           reinterpret_cast<const void*>(uintptr_t(start_index) * isize), base_vertex);
  trace(d, type, count, num_vertices);
  return GPU_OK;
}

GpuResult gpu_draw_primitive_up(GpuDevice* d, GpuPrimitive type, uint32_t count, const void* vertices,
                                uint32_t stride) {
  if (!d || !valid_primitive(type) || !vertices || stride == 0) return GPU_INVALID_CALL;
  uint32_t n = gpu_primitive_vertex_count(type, count);
  if (n == 0) return GPU_OK;
  if (uint64_t(n) * stride > 0x7FFFFFFFu) return GPU_INVALID_CALL;
  if (!prepare(d)) return d->lost ? GPU_OK : GPU_INVALID_CALL;
  uint32_t at = ring_put(d->vertex_ring, d->presents, vertices, n * stride);
  send_attribs(d, d->vertex_ring.name, at, stride);
  glDrawArrays(gl_primitive(type), 0, GLsizei(n));
  trace(d, type, count, n);
  d->streams[0] = GpuStream{};
  d->indices = nullptr;
  return GPU_OK;
}

GpuResult gpu_draw_indexed_primitive_up(GpuDevice* d, GpuPrimitive type, uint32_t min_index,
                                        uint32_t num_vertices, uint32_t count, const void* indices,
                                        GpuFormat index_format, const void* vertices, uint32_t stride) {
  if (!d || !valid_primitive(type) || !indices || !vertices || stride == 0 || num_vertices == 0)
    return GPU_INVALID_CALL;
  if (index_format != GPU_FMT_INDEX16 && index_format != GPU_FMT_INDEX32) return GPU_INVALID_CALL;
  uint32_t n = gpu_primitive_vertex_count(type, count);
  if (n == 0) return GPU_OK;
  uint32_t isize = index_format == GPU_FMT_INDEX32 ? 4 : 2;
  if (uint64_t(num_vertices) * stride > 0x7FFFFFFFu || uint64_t(n) * isize > 0x7FFFFFFFu) return GPU_INVALID_CALL;
  if (!prepare(d)) return d->lost ? GPU_OK : GPU_INVALID_CALL;
  // Only vertices min_index .. min_index + num_vertices - 1 are copied; the
  // base vertex shifts the indices onto them.
  const uint8_t* first = static_cast<const uint8_t*>(vertices) + size_t(min_index) * stride;
  uint32_t vat = ring_put(d->vertex_ring, d->presents, first, num_vertices * stride);
  uint32_t iat = ring_put(d->index_ring, d->presents, indices, n * isize);
  send_attribs(d, d->vertex_ring.name, vat, stride);
  glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, d->index_ring.name);
  glDrawElementsBaseVertex(gl_primitive(type), GLsizei(n), isize == 4 ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT,
                           reinterpret_cast<const void*>(uintptr_t(iat)), -int32_t(min_index));
  trace(d, type, count, num_vertices);
  d->streams[0] = GpuStream{};
  d->indices = nullptr;
  return GPU_OK;
}
