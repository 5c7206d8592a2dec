// Programmable stages: shader objects, the constant registers of each stage
// (one uniform buffer per stage), and the programs that join a vertex and a
// pixel stage, either of which may be the fixed-function one.
//
// A shader object's GLSL is wrapped in a main function of ours. The vertex
// wrapper turns the Direct3D clip position into OpenGL's (top row first,
// pixel centres on integers, depth 0..w) and writes the varyings the
// fixed-function pixel stage reads; the pixel wrapper reads those varyings
// and applies the alpha test and fog, which Direct3D keeps fixed after a
// pixel shader.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/gpu/gpu_internal.h"

struct GpuShader {
  GpuDevice* device;
  uint64_t id;
  GpuShaderStage stage;
  GLuint object;  // compiled stage, wrapper included
  std::vector<GpuShaderVarying> varyings;
};

namespace {

struct ProgramKey {
  uint64_t vs, ps;  // shader ids, 0 for the fixed-function stage
  GpuFfKey ff;
  bool operator==(const ProgramKey& o) const { return vs == o.vs && ps == o.ps && ff == o.ff; }
};
struct ProgramKeyHash {
  size_t operator()(const ProgramKey& k) const {
    return GpuFfKeyHash{}(k.ff) ^ size_t(k.vs * 0x9E3779B97F4A7C15ull) ^ size_t(k.ps * 0xC2B2AE3D27D4EB4Full);
  }
};

struct ShaderProgram {
  GpuProgram program;
  GLint u_alpha_func, u_fog_on;
};

}  // namespace

struct GpuShaderState {
  uint8_t registers[2][GPU_VS_CONSTANT_REGISTERS * 16];  // the pixel stage uses the first part
  bool dirty[2];
  GLuint buffers[2];
  GLint max_block_bytes;  // the largest uniform block OpenGL takes
  std::unordered_map<ProgramKey, ShaderProgram, ProgramKeyHash> programs;
  const ShaderProgram* current;
};

namespace {

const char* kBlockNames[2] = {"tl_vs_constants", "tl_ps_constants"};

GpuShaderState* state_of(GpuDevice* d) {
  if (!d->shader_state) {
    gpu_make_current(d);
    auto* s = new GpuShaderState{};
    glGenBuffers(2, s->buffers);
    glGetIntegerv(GL_MAX_UNIFORM_BLOCK_SIZE, &s->max_block_bytes);
    for (int i = 0; i < 2; ++i) {
      glBindBuffer(GL_UNIFORM_BUFFER, s->buffers[i]);
      glBufferData(GL_UNIFORM_BUFFER, gpu_shader_constant_bytes(GpuShaderStage(i)), nullptr, GL_DYNAMIC_DRAW);
      s->dirty[i] = true;
    }
    // A shader reading a colour the format leaves out sees white, as the
    // fixed-function stages do.
    glVertexAttrib4f(GLuint(gpu_attribute_location(GPU_USAGE_COLOR, 0)), 1.0f, 1.0f, 1.0f, 1.0f);
    d->shader_state = s;
  }
  return d->shader_state;
}

void add_line(std::string& s, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void add_line(std::string& s, const char* fmt, ...) {
  char buf[256];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  s += buf;
  s += '\n';
}

// The device's varying of a usage, or null when the stages do not pass it.
const char* varying_name(uint8_t usage, uint8_t index) {
  static const char* kTc[8] = {"v_tc0", "v_tc1", "v_tc2", "v_tc3", "v_tc4", "v_tc5", "v_tc6", "v_tc7"};
  switch (usage) {
    case GPU_USAGE_COLOR: return index == 0 ? "v_diffuse" : index == 1 ? "v_specular" : nullptr;
    case GPU_USAGE_TEXCOORD: return index < 8 ? kTc[index] : nullptr;
    case GPU_USAGE_FOG: return index == 0 ? "v_fog" : nullptr;
    default: return nullptr;
  }
}

// A vecN value as vec4, the missing components (0, 0, 0, 1) as Direct3D fills them.
std::string widen(const char* name, int n) {
  static const char* kFill[4] = {", 0.0, 0.0, 1.0", ", 0.0, 1.0", ", 1.0", ""};
  if (n >= 4) return name;
  return std::string("vec4(") + name + kFill[n - 1] + ")";
}

std::string narrow(const char* vec4_expr, int n) {
  static const char* kSwizzle[4] = {".x", ".xy", ".xyz", ""};
  return std::string(vec4_expr) + kSwizzle[std::clamp(n, 1, 4) - 1];
}

std::string vertex_wrapper(const GpuShaderDesc& desc, bool depth_fixup) {
  std::string s;
  s += "out vec4 v_diffuse;\nout vec4 v_specular;\nout float v_fog;\n";
  for (int i = 0; i < 8; ++i) add_line(s, "out vec4 v_tc%d;", i);
  s += "uniform vec2 u_half_pixel;\nvoid main() {\n";
  s += "  gl_Position = vec4(0.0, 0.0, 0.0, 1.0);\n";
  s += "  v_diffuse = vec4(1.0);\n  v_specular = vec4(0.0);\n  v_fog = 1.0;\n";
  for (int i = 0; i < 8; ++i) add_line(s, "  v_tc%d = vec4(0.0, 0.0, 0.0, 1.0);", i);
  // Unwritten outputs read as zero.
  for (uint32_t i = 0; i < desc.varying_count; ++i) {
    const GpuShaderVarying& v = desc.varyings[i];
    if (v.output) add_line(s, "  %s = %s(0.0);", v.name, v.components == 1 ? "float" : v.components == 2 ? "vec2" : v.components == 3 ? "vec3" : "vec4");
  }
  s += "  tl_main();\n";
  for (uint32_t i = 0; i < desc.varying_count; ++i) {
    const GpuShaderVarying& v = desc.varyings[i];
    if (!v.output) continue;
    if (v.usage == GPU_USAGE_POSITION && v.usage_index == 0) {
      add_line(s, "  gl_Position = %s;", widen(v.name, v.components).c_str());
    } else if (v.usage == GPU_USAGE_FOG && v.usage_index == 0) {
      add_line(s, "  v_fog = %s;", v.components == 1 ? v.name : (std::string(v.name) + ".x").c_str());
    } else if (const char* n = varying_name(v.usage, v.usage_index)) {
      add_line(s, "  %s = %s;", n, widen(v.name, v.components).c_str());
    }
  }
  s += "  gl_Position.y = -gl_Position.y;\n  gl_Position.xy += u_half_pixel * gl_Position.w;\n";
  if (depth_fixup) s += "  gl_Position.z = 2.0 * gl_Position.z - gl_Position.w;\n";
  s += "}\n";
  return s;
}

std::string pixel_wrapper(const GpuShaderDesc& desc) {
  std::string s;
  std::string feed, result = "vec4(0.0)";
  for (uint32_t i = 0; i < desc.varying_count; ++i) {
    const GpuShaderVarying& v = desc.varyings[i];
    if (v.output) {
      if (v.usage == GPU_USAGE_COLOR && v.usage_index == 0) result = widen(v.name, v.components);
      continue;
    }
    const char* n = varying_name(v.usage, v.usage_index);
    if (n && v.usage == GPU_USAGE_FOG) {
      add_line(feed, "  %s = %s;", v.name, narrow("vec4(v_fog)", v.components).c_str());
    } else if (n) {
      add_line(s, "in vec4 %s;", n);
      add_line(feed, "  %s = %s;", v.name, narrow(n, v.components).c_str());
    } else {
      add_line(feed, "  %s = %s;", v.name, narrow("vec4(0.0)", v.components).c_str());
    }
  }
  s += "uniform int u_alpha_func;\nuniform float u_alpha_ref;\nuniform int u_fog_on;\nuniform vec4 u_fog_color;\n";
  s += "in float v_fog;\n";
  s += "out vec4 frag;\nvoid main() {\n" + feed + "  tl_main();\n";
  add_line(s, "  vec4 cur = clamp(%s, 0.0, 1.0);", result.c_str());
  s += "  float a8 = floor(cur.a * 255.0 + 0.5);\n";
  s += "  bool pass = true;\n";
  s += "  switch (u_alpha_func) {\n"
       "    case 1: pass = false; break;\n"
       "    case 2: pass = a8 < u_alpha_ref; break;\n"
       "    case 3: pass = a8 == u_alpha_ref; break;\n"
       "    case 4: pass = a8 <= u_alpha_ref; break;\n"
       "    case 5: pass = a8 > u_alpha_ref; break;\n"
       "    case 6: pass = a8 != u_alpha_ref; break;\n"
       "    case 7: pass = a8 >= u_alpha_ref; break;\n"
       "    default: break;\n"
       "  }\n  if (!pass) discard;\n";
  s += "  if (u_fog_on != 0) cur.rgb = mix(u_fog_color.rgb, cur.rgb, clamp(v_fog, 0.0, 1.0));\n";
  s += "  frag = cur;\n}\n";
  return s;
}

// Declares the varyings a pixel shader reads that the fixed-function vertex
// stage of the key leaves out; they read as undefined, as in Direct3D.
std::string ff_vertex_for(const GpuFfKey& key, const GpuShader* ps) {
  std::string src = gpu_ffp_vertex_source(key);
  std::string extra;
  for (const GpuShaderVarying& v : ps->varyings) {
    if (v.output || v.usage != GPU_USAGE_TEXCOORD || v.usage_index >= 8 || key.texcoord_sizes[v.usage_index]) continue;
    std::string decl = "out vec4 v_tc" + std::to_string(v.usage_index) + ";\n";
    if (extra.find(decl) == std::string::npos) extra += decl;
  }
  size_t eol = src.find('\n');
  return src.insert(eol + 1, extra);
}

ShaderProgram link(GpuDevice* d, const ProgramKey& k, GpuShader* vs, GpuShader* ps) {
  ShaderProgram out{};
  GLuint vobj = vs ? vs->object : gpu_compile_stage(GL_VERTEX_SHADER, ff_vertex_for(k.ff, ps), "fixed-function vertex stage");
  GLuint fobj = ps ? ps->object : gpu_compile_stage(GL_FRAGMENT_SHADER, gpu_ffp_fragment_source(k.ff), "fixed-function pixel stage");
  if (vobj && fobj) {
    GLuint prog = glCreateProgram();
    glAttachShader(prog, vobj);
    glAttachShader(prog, fobj);
    glLinkProgram(prog);
    glDetachShader(prog, vobj);
    glDetachShader(prog, fobj);
    GLint ok = 0;
    glGetProgramiv(prog, GL_LINK_STATUS, &ok);
    if (ok) {
      out.program = gpu_ffp_locate(prog);
      for (int i = 0; i < GPU_MAX_STAGES; ++i) {
        char n[16];
        snprintf(n, sizeof n, "tl_s%d", i);
        GLint loc = glGetUniformLocation(prog, n);
        if (loc >= 0) glUniform1i(loc, i);
      }
      for (int i = 0; i < 2; ++i) {
        GLuint block = glGetUniformBlockIndex(prog, kBlockNames[i]);
        if (block != GL_INVALID_INDEX) glUniformBlockBinding(prog, block, GLuint(i));
      }
      out.u_alpha_func = glGetUniformLocation(prog, "u_alpha_func");
      out.u_fog_on = glGetUniformLocation(prog, "u_fog_on");
    } else {
      char log[2048];
      glGetProgramInfoLog(prog, sizeof log, nullptr, log);
      std::fprintf(stderr, "tamberlune: shader program does not link: %s\n", log);
      glDeleteProgram(prog);
    }
  }
  if (!vs && vobj) glDeleteShader(vobj);
  if (!ps && fobj) glDeleteShader(fobj);
  d->gl.program = 0xFFFFFFFFu;
  return out;
}

void drop_programs_of(GpuShaderState* s, uint64_t id) {
  for (auto it = s->programs.begin(); it != s->programs.end();) {
    if (it->first.vs == id || it->first.ps == id) {
      if (s->current == &it->second) s->current = nullptr;
      if (it->second.program.name) glDeleteProgram(it->second.program.name);
      it = s->programs.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace

GpuResult gpu_create_shader(GpuDevice* d, const GpuShaderDesc& desc, GpuShader** out) {
  if (!out) return GPU_INVALID_CALL;
  *out = nullptr;
  if (!d || !desc.glsl || (desc.stage != GPU_SHADER_VERTEX && desc.stage != GPU_SHADER_PIXEL) ||
      (desc.varying_count && !desc.varyings))
    return GPU_INVALID_CALL;
  gpu_make_current(d);
  GpuShaderState* state = state_of(d);
  // OpenGL 3.3 takes blocks of 16384 bytes at least; a smaller limit could
  // not hold the stage's registers.
  const uint32_t register_bytes = gpu_shader_constant_bytes(desc.stage);
  if (int64_t(register_bytes) > state->max_block_bytes) {
    std::fprintf(stderr, "tamberlune: OpenGL's uniform blocks hold %d bytes, fewer than the stage's %u\n",
                 state->max_block_bytes, register_bytes);
    return GPU_NOT_AVAILABLE;
  }
  bool vertex = desc.stage == GPU_SHADER_VERTEX;
  std::string src = "#version 330 core\n";
  src += desc.glsl;
  src += vertex ? vertex_wrapper(desc, !d->clip_control) : pixel_wrapper(desc);
  GLuint obj = gpu_compile_stage(vertex ? GL_VERTEX_SHADER : GL_FRAGMENT_SHADER, src, vertex ? "vertex shader" : "pixel shader");
  if (!obj) return GPU_INVALID_CALL;
  auto* s = new GpuShader{};
  s->device = d;
  s->id = gpu_next_id();
  s->stage = desc.stage;
  s->object = obj;
  s->varyings.assign(desc.varyings, desc.varyings + desc.varying_count);
  *out = s;
  return GPU_OK;
}

void gpu_shader_release(GpuShader* s) {
  if (!s) return;
  GpuDevice* d = s->device;
  gpu_make_current(d);
  if (d->vertex_shader == s) d->vertex_shader = nullptr;
  if (d->pixel_shader == s) d->pixel_shader = nullptr;
  if (d->shader_state) drop_programs_of(d->shader_state, s->id);
  glDeleteShader(s->object);
  delete s;
}

GpuShaderStage gpu_shader_stage(const GpuShader* s) { return s ? s->stage : GPU_SHADER_VERTEX; }

uint32_t gpu_shader_constant_bytes(GpuShaderStage stage) {
  return stage == GPU_SHADER_VERTEX ? GPU_VS_CONSTANT_REGISTERS * 16
         : stage == GPU_SHADER_PIXEL ? GPU_PS_CONSTANT_REGISTERS * 16
                                     : 0;
}

GpuResult gpu_set_shader_constants(GpuDevice* d, GpuShaderStage stage, uint32_t offset, const void* data,
                                   uint32_t bytes) {
  const uint32_t size = gpu_shader_constant_bytes(stage);
  if (!d || size == 0 || (offset | bytes) % 4 || offset > size || bytes > size - offset || (bytes && !data))
    return GPU_INVALID_CALL;
  GpuShaderState* s = state_of(d);
  if (bytes && std::memcmp(s->registers[stage] + offset, data, bytes) != 0) {
    std::memcpy(s->registers[stage] + offset, data, bytes);
    s->dirty[stage] = true;
  }
  return GPU_OK;
}

GpuResult gpu_get_shader_constants(GpuDevice* d, GpuShaderStage stage, uint32_t offset, void* out, uint32_t bytes) {
  const uint32_t size = gpu_shader_constant_bytes(stage);
  if (!d || size == 0 || (offset | bytes) % 4 || offset > size || bytes > size - offset || (bytes && !out))
    return GPU_INVALID_CALL;
  std::memcpy(out, state_of(d)->registers[stage] + offset, bytes);
  return GPU_OK;
}

bool gpu_shader_active(const GpuDevice* d) {
  return d->pixel_shader || (d->vertex_shader && !d->decl->pretransformed);
}

const GpuProgram* gpu_shader_program(GpuDevice* d, const GpuFfKey& key) {
  GpuShaderState* s = state_of(d);
  GpuShader* vs = d->decl->pretransformed ? nullptr : d->vertex_shader;
  GpuShader* ps = d->pixel_shader;
  ProgramKey k{vs ? vs->id : 0, ps ? ps->id : 0, key};
  // Only the fixed-function half reads the key; the rest would only split the cache.
  k.ff.flat = 0;
  if (vs) {
    // The vertex shader writes every varying the pixel stage may read.
    std::memset(k.ff.light_types, 0, sizeof k.ff.light_types);
    k.ff.lighting = k.ff.normalize = k.ff.clip_planes = k.ff.range_fog = k.ff.pretransformed = 0;
    std::memset(k.ff.material_sources, 0, sizeof k.ff.material_sources);
    k.ff.has_normal = 0;
    k.ff.has_diffuse = k.ff.has_specular = 1;
    std::memset(k.ff.texcoord_sizes, 4, sizeof k.ff.texcoord_sizes);
    if (k.ff.fog_source) k.ff.fog_source = 1;
    k.ff.fog_mode = 0;
  }
  if (ps) {
    std::memset(k.ff.stages, 0, sizeof k.ff.stages);
    k.ff.alpha_func = 0;
    k.ff.specular_enable = 0;
    if (vs) k.ff = GpuFfKey{};
  }
  auto it = s->programs.find(k);
  if (it == s->programs.end()) it = s->programs.emplace(k, link(d, k, vs, ps)).first;
  s->current = &it->second;
  return it->second.program.name ? &it->second.program : nullptr;
}

void gpu_shader_send(GpuDevice* d) {
  GpuShaderState* s = state_of(d);
  for (int i = 0; i < 2; ++i) {
    glBindBufferBase(GL_UNIFORM_BUFFER, GLuint(i), s->buffers[i]);
    if (!s->dirty[i]) continue;
    glBufferData(GL_UNIFORM_BUFFER, gpu_shader_constant_bytes(GpuShaderStage(i)), s->registers[i], GL_DYNAMIC_DRAW);
    s->dirty[i] = false;
  }
  const ShaderProgram* p = s->current;
  if (!p) return;
  const uint32_t* rs = d->rs;
  if (p->u_alpha_func >= 0) {
    bool test = rs[GPU_RS_ALPHATESTENABLE] != 0;
    glUniform1i(p->u_alpha_func, test ? GLint(std::clamp<uint32_t>(rs[GPU_RS_ALPHAFUNC], GPU_CMP_NEVER, GPU_CMP_ALWAYS)) : 0);
  }
  if (p->u_fog_on >= 0) glUniform1i(p->u_fog_on, rs[GPU_RS_FOGENABLE] ? 1 : 0);
}

void gpu_shader_state_release(GpuDevice* d) {
  GpuShaderState* s = d->shader_state;
  if (!s) return;
  for (auto& [key, prog] : s->programs)
    if (prog.program.name) glDeleteProgram(prog.program.name);
  glDeleteBuffers(2, s->buffers);
  delete s;
  d->shader_state = nullptr;
}
