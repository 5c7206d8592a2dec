// Fixed-function vertex processing and texture combining as generated GLSL
// programs, one per state key.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/gpu/gpu_internal.h"

bool GpuFfKey::operator==(const GpuFfKey& o) const { return std::memcmp(this, &o, sizeof *this) == 0; }

size_t GpuFfKeyHash::operator()(const GpuFfKey& k) const {
  const auto* p = reinterpret_cast<const uint8_t*>(&k);
  uint64_t h = 1469598103934665603ull;
  for (size_t i = 0; i < sizeof k; ++i) h = (h ^ p[i]) * 1099511628211ull;
  return size_t(h);
}

namespace {

void add(std::string& s, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void add(std::string& s, const char* fmt, ...) {
  char buf[512];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  s += buf;
}

bool stage_reads_texture(const GpuFfStage& st) {
  auto reads = [](uint8_t a) { return (a & 7) == GPU_TA_TEXTURE; };
  bool colour = reads(st.colorarg1) || reads(st.colorarg2) || st.colorop == GPU_TOP_BLENDTEXTUREALPHA ||
                st.colorop == GPU_TOP_BLENDTEXTUREALPHAPM;
  bool alpha = st.alphaop != GPU_TOP_DISABLE &&
               (reads(st.alphaarg1) || reads(st.alphaarg2) || st.alphaop == GPU_TOP_BLENDTEXTUREALPHA ||
                st.alphaop == GPU_TOP_BLENDTEXTUREALPHAPM);
  return colour || alpha;
}

std::string arg_expr(uint8_t arg, int stage) {
  std::string base;
  switch (arg & 7) {
    case GPU_TA_DIFFUSE: base = "diffuse"; break;
    case GPU_TA_CURRENT: base = "cur"; break;
    case GPU_TA_TEXTURE: add(base, "t%d", stage); break;
    case GPU_TA_TFACTOR: base = "u_tfactor"; break;
    case GPU_TA_SPECULAR: base = "specular"; break;
    default: base = "cur"; break;
  }
  if (arg & GPU_TA_ALPHAREPLICATE) base = "vec4(" + base + ".a)";
  if (arg & GPU_TA_COMPLEMENT) base = "(vec4(1.0) - " + base + ")";
  return base;
}

std::string op_expr(uint8_t op, const std::string& a1, const std::string& a2, int stage) {
  std::string t;
  add(t, "t%d", stage);
  switch (op) {
    case GPU_TOP_SELECTARG1: return a1;
    case GPU_TOP_SELECTARG2: return a2;
    case GPU_TOP_MODULATE2X: return "(" + a1 + " * " + a2 + " * 2.0)";
    case GPU_TOP_MODULATE4X: return "(" + a1 + " * " + a2 + " * 4.0)";
    case GPU_TOP_ADD: return "(" + a1 + " + " + a2 + ")";
    case GPU_TOP_ADDSIGNED: return "(" + a1 + " + " + a2 + " - vec4(0.5))";
    case GPU_TOP_ADDSIGNED2X: return "((" + a1 + " + " + a2 + " - vec4(0.5)) * 2.0)";
    case GPU_TOP_SUBTRACT: return "(" + a1 + " - " + a2 + ")";
    case GPU_TOP_ADDSMOOTH: return "(" + a1 + " + " + a2 + " - " + a1 + " * " + a2 + ")";
    case GPU_TOP_BLENDDIFFUSEALPHA: return "mix(" + a2 + ", " + a1 + ", diffuse.a)";
    case GPU_TOP_BLENDTEXTUREALPHA: return "mix(" + a2 + ", " + a1 + ", " + t + ".a)";
    case GPU_TOP_BLENDFACTORALPHA: return "mix(" + a2 + ", " + a1 + ", u_tfactor.a)";
    case GPU_TOP_BLENDTEXTUREALPHAPM: return "(" + a1 + " + " + a2 + " * (1.0 - " + t + ".a))";
    case GPU_TOP_BLENDCURRENTALPHA: return "mix(" + a2 + ", " + a1 + ", cur.a)";
    default: return "(" + a1 + " * " + a2 + ")";
  }
}

const char* compare_expr(uint8_t func) {
  switch (func) {
    case GPU_CMP_NEVER: return "false";
    case GPU_CMP_LESS: return "a8 < u_alpha_ref";
    case GPU_CMP_EQUAL: return "a8 == u_alpha_ref";
    case GPU_CMP_LESSEQUAL: return "a8 <= u_alpha_ref";
    case GPU_CMP_GREATER: return "a8 > u_alpha_ref";
    case GPU_CMP_NOTEQUAL: return "a8 != u_alpha_ref";
    case GPU_CMP_GREATEREQUAL: return "a8 >= u_alpha_ref";
    default: return "true";
  }
}

std::string fog_factor_expr(uint8_t mode, const char* d) {
  char buf[256];
  switch (mode) {
    case GPU_FOG_EXP: snprintf(buf, sizeof buf, "exp(-u_fog.z * %s)", d); break;
    case GPU_FOG_EXP2: snprintf(buf, sizeof buf, "exp(-(u_fog.z * %s) * (u_fog.z * %s))", d, d); break;
    default: snprintf(buf, sizeof buf, "(u_fog.y - %s) * u_fog.w", d); break;
  }
  return std::string("clamp(") + buf + ", 0.0, 1.0)";
}

std::string vertex_source(const GpuFfKey& k) {
  std::string s = "#version 330 core\n";
  const char* flat = k.flat ? "flat " : "";
  s += "layout(location = 0) in vec4 a_pos;\nlayout(location = 1) in vec3 a_normal;\n";
  s += "layout(location = 2) in vec4 a_diffuse;\nlayout(location = 3) in vec4 a_specular;\n";
  for (int i = 0; i < 8; ++i)
    if (k.texcoord_sizes[i]) add(s, "layout(location = %d) in vec4 a_tc%d;\nout vec4 v_tc%d;\n", 4 + i, i, i);
  add(s, "%sout vec4 v_diffuse;\n%sout vec4 v_specular;\nout float v_fog;\n", flat, flat);
  s += "uniform vec4 u_viewport;\nuniform vec2 u_depth;\nuniform vec2 u_half_pixel;\n";
  s += "uniform mat4 u_wv;\nuniform mat4 u_proj;\nuniform mat4 u_world;\nuniform mat3 u_normal_matrix;\n";
  s += "uniform vec4 u_fog;\nuniform vec4 u_clip[6];\nuniform vec4 u_ambient;\n";
  s += "uniform vec4 u_mat[5];\n";
  if (k.lighting)
    for (int i = 0; i < GPU_MAX_LIGHTS; ++i)
      if (k.light_types[i]) add(s, "uniform vec4 u_light%d[8];\n", i);
  s += "void main() {\n";
  s += k.has_diffuse ? "  vec4 col0 = a_diffuse;\n" : "  vec4 col0 = vec4(1.0);\n";
  s += k.has_specular ? "  vec4 col1 = a_specular;\n" : "  vec4 col1 = vec4(0.0);\n";
  if (k.pretransformed) {
    // Positions are target pixels with centres on integers; w = 1 / rhw.
    s += "  float w = a_pos.w > 0.0 ? 1.0 / a_pos.w : 1.0;\n";
    s += "  vec2 ndc = (a_pos.xy + 0.5 - u_viewport.xy) / u_viewport.zw * 2.0 - 1.0;\n";
    s += "  float z = u_depth.y != 0.0 ? (a_pos.z - u_depth.x) / u_depth.y : 0.0;\n";
    s += "  gl_Position = vec4(ndc * w, z * w, w);\n";
    s += "  float eye_z = w;\n";
    s += "  v_diffuse = col0;\n  v_specular = col1;\n";
  } else {
    s += "  vec4 p = vec4(a_pos.xyz, 1.0);\n  vec4 pv = u_wv * p;\n  float eye_z = pv.z;\n";
    s += "  vec4 clip = u_proj * pv;\n";
    // The target stores its top row first: flip y, and move half a pixel so
    // that pixel centres fall on integer coordinates.
    s += "  clip.y = -clip.y;\n  clip.xy += u_half_pixel * clip.w;\n";
    s += "  gl_Position = clip;\n";
    for (int i = 0; i < GPU_MAX_CLIP_PLANES; ++i)
      if (k.clip_planes >> i & 1) add(s, "  gl_ClipDistance[%d] = dot(u_world * p, u_clip[%d]);\n", i, i);
    if (k.lighting) {
      s += k.has_normal ? "  vec3 n = u_normal_matrix * a_normal;\n" : "  vec3 n = vec3(0.0);\n";
      if (k.normalize) s += "  if (dot(n, n) > 0.0) n = normalize(n);\n";
      const char* src[3] = {"u_mat[%d]", "col0", "col1"};
      char mat[4][32];
      static const int kMatSlot[4] = {0, 2, 1, 3};  // diffuse, specular, ambient, emissive
      for (int m = 0; m < 4; ++m) {
        int which = k.material_sources[m] <= 2 ? k.material_sources[m] : 0;
        snprintf(mat[m], sizeof mat[m], src[which], kMatSlot[m]);
      }
      add(s, "  vec4 md = %s, ms = %s, ma = %s, me = %s;\n", mat[0], mat[1], mat[2], mat[3]);
      s += "  vec3 dsum = vec3(0.0), asum = vec3(0.0), ssum = vec3(0.0);\n  vec3 vdir = normalize(-pv.xyz);\n";
      for (int i = 0; i < GPU_MAX_LIGHTS; ++i) {
        if (!k.light_types[i]) continue;
        // Slots: diffuse, specular, ambient, position (view), direction (view),
        // (range, falloff, theta cos/2, phi cos/2), attenuation.
        add(s, "  {\n    vec3 l; float att = 1.0;\n");
        if (k.light_types[i] == GPU_LIGHT_DIRECTIONAL) {
          add(s, "    l = -u_light%d[4].xyz;\n", i);
        } else {
          add(s,
              "    vec3 d = u_light%d[3].xyz - pv.xyz; float dist = length(d); l = dist > 0.0 ? d / dist : vec3(0.0);\n"
              "    att = dist > u_light%d[5].x ? 0.0 : 1.0 / max(u_light%d[6].x + u_light%d[6].y * dist + u_light%d[6].z * dist * dist, 1e-6);\n",
              i, i, i, i, i);
          if (k.light_types[i] == GPU_LIGHT_SPOT)
            add(s,
                "    float rho = dot(-l, u_light%d[4].xyz);\n"
                "    att *= rho > u_light%d[5].z ? 1.0 : rho <= u_light%d[5].w ? 0.0 : pow(max((rho - u_light%d[5].w) / max(u_light%d[5].z - u_light%d[5].w, 1e-6), 0.0), u_light%d[5].y);\n",
                i, i, i, i, i, i, i);
        }
        add(s, "    float ndl = max(dot(n, l), 0.0);\n");
        add(s, "    asum += u_light%d[2].rgb * att;\n    dsum += u_light%d[0].rgb * ndl * att;\n", i, i);
        if (k.specular_enable)
          add(s,
              "    if (ndl > 0.0) ssum += u_light%d[1].rgb * pow(max(dot(n, normalize(vdir + l)), 0.0), u_mat[4].x) * att;\n",
              i);
        s += "  }\n";
      }
      s += "  v_diffuse = vec4(me.rgb + ma.rgb * (u_ambient.rgb + asum) + md.rgb * dsum, md.a);\n";
      s += k.specular_enable ? "  v_specular = vec4(ms.rgb * ssum, col1.a);\n" : "  v_specular = vec4(0.0, 0.0, 0.0, col1.a);\n";
    } else {
      s += "  v_diffuse = col0;\n  v_specular = col1;\n";
    }
  }
  if (k.depth_fixup) s += "  gl_Position.z = 2.0 * gl_Position.z - gl_Position.w;\n";
  for (int i = 0; i < 8; ++i)
    if (k.texcoord_sizes[i]) add(s, "  v_tc%d = a_tc%d;\n", i, i);
  switch (k.fog_source) {
    case 1: s += "  v_fog = col1.a;\n"; break;
    case 2:
      s += "  float fd = " + std::string(k.range_fog && !k.pretransformed ? "length(pv.xyz)" : "abs(eye_z)") + ";\n";
      s += "  v_fog = " + fog_factor_expr(k.fog_mode, "fd") + ";\n";
      break;
    case 3: s += "  v_fog = abs(eye_z);\n"; break;
    default: s += "  v_fog = 1.0;\n"; break;
  }
  s += "}\n";
  return s;
}

std::string fragment_source(const GpuFfKey& k) {
  std::string s = "#version 330 core\n";
  const char* flat = k.flat ? "flat " : "";
  add(s, "%sin vec4 v_diffuse;\n%sin vec4 v_specular;\nin float v_fog;\n", flat, flat);
  for (int i = 0; i < 8; ++i)
    if (k.texcoord_sizes[i]) add(s, "in vec4 v_tc%d;\n", i);
  s += "uniform vec4 u_tfactor;\nuniform float u_alpha_ref;\nuniform vec4 u_fog;\nuniform vec4 u_fog_color;\n";
  int active = 0;
  while (active < GPU_MAX_STAGES && k.stages[active].colorop != GPU_TOP_DISABLE) ++active;
  for (int i = 0; i < active; ++i)
    if (stage_reads_texture(k.stages[i])) add(s, "uniform sampler2D s%d;\n", i);
  s += "out vec4 frag;\nvoid main() {\n";
  s += "  vec4 diffuse = v_diffuse;\n  vec4 specular = v_specular;\n  vec4 cur = diffuse;\n";
  for (int i = 0; i < active; ++i) {
    const GpuFfStage& st = k.stages[i];
    if (stage_reads_texture(st)) {
      int set = st.texcoord & 7;
      std::string tc = "vec2(0.0)";
      if (k.texcoord_sizes[set] == 1) tc = "vec2(v_tc" + std::to_string(set) + ".x, 0.0)";
      else if (k.texcoord_sizes[set]) tc = "v_tc" + std::to_string(set) + ".xy";
      add(s, "  vec4 t%d = texture(s%d, %s);\n", i, i, tc.c_str());
    }
    std::string c = op_expr(st.colorop, arg_expr(st.colorarg1, i), arg_expr(st.colorarg2, i), i);
    add(s, "  {\n    vec3 c = (%s).rgb;\n", c.c_str());
    if (st.alphaop == GPU_TOP_DISABLE) {
      s += "    float a = cur.a;\n";
    } else {
      std::string a = op_expr(st.alphaop, arg_expr(st.alphaarg1, i), arg_expr(st.alphaarg2, i), i);
      add(s, "    float a = (%s).a;\n", a.c_str());
    }
    s += "    cur = clamp(vec4(c, a), 0.0, 1.0);\n  }\n";
  }
  if (k.specular_enable) s += "  cur.rgb = clamp(cur.rgb + specular.rgb, 0.0, 1.0);\n";
  if (k.alpha_func) {
    s += "  float a8 = floor(cur.a * 255.0 + 0.5);\n";
    add(s, "  if (!(%s)) discard;\n", compare_expr(k.alpha_func));
  }
  if (k.fog_source == 3) {
    s += "  float f = " + fog_factor_expr(k.fog_mode, "v_fog") + ";\n";
    s += "  cur.rgb = mix(u_fog_color.rgb, cur.rgb, f);\n";
  } else if (k.fog_source) {
    s += "  cur.rgb = mix(u_fog_color.rgb, cur.rgb, clamp(v_fog, 0.0, 1.0));\n";
  }
  s += "  frag = cur;\n}\n";
  return s;
}

}  // namespace

GLuint gpu_compile_stage(GLenum type, const std::string& src, const char* what) {
  GLuint sh = glCreateShader(type);
  const char* p = src.c_str();
  glShaderSource(sh, 1, &p, nullptr);
  glCompileShader(sh);
  GLint ok = 0;
  glGetShaderiv(sh, GL_COMPILE_STATUS, &ok);
  if (!ok) {
    char log[2048];
    glGetShaderInfoLog(sh, sizeof log, nullptr, log);
    std::fprintf(stderr, "tamberlune: %s does not compile:\n%s\n", what, log);
    glDeleteShader(sh);
    return 0;
  }
  return sh;
}

// Builds the program of a key; a program with name 0 when OpenGL refuses it.
GpuProgram gpu_ffp_build(const GpuFfKey& k) {
  GpuProgram p{};
  GLuint vs = gpu_compile_stage(GL_VERTEX_SHADER, vertex_source(k), "fixed-function vertex stage");
  GLuint fs = gpu_compile_stage(GL_FRAGMENT_SHADER, fragment_source(k), "fixed-function pixel stage");
  if (!vs || !fs) {
    if (vs) glDeleteShader(vs);
    if (fs) glDeleteShader(fs);
    return p;
  }
  GLuint prog = glCreateProgram();
  glAttachShader(prog, vs);
  glAttachShader(prog, fs);
  glLinkProgram(prog);
  glDeleteShader(vs);
  glDeleteShader(fs);
  GLint ok = 0;
  glGetProgramiv(prog, GL_LINK_STATUS, &ok);
  if (!ok) {
    char log[2048];
    glGetProgramInfoLog(prog, sizeof log, nullptr, log);
    std::fprintf(stderr, "tamberlune: fixed-function program does not link: %s\n", log);
    glDeleteProgram(prog);
    return p;
  }
  return gpu_ffp_locate(prog);
}

std::string gpu_ffp_vertex_source(const GpuFfKey& key) { return vertex_source(key); }
std::string gpu_ffp_fragment_source(const GpuFfKey& key) { return fragment_source(key); }

// The uniform locations of a linked program; samplers s0 to s7 read units 0 to 7.
GpuProgram gpu_ffp_locate(GLuint prog) {
  GpuProgram p{};
  p.name = prog;
  glUseProgram(prog);
  for (int i = 0; i < GPU_MAX_STAGES; ++i) {
    char n[16];
    snprintf(n, sizeof n, "s%d", i);
    GLint loc = glGetUniformLocation(prog, n);
    if (loc >= 0) glUniform1i(loc, i);
  }
  p.u_viewport = glGetUniformLocation(prog, "u_viewport");
  p.u_depth = glGetUniformLocation(prog, "u_depth");
  p.u_half_pixel = glGetUniformLocation(prog, "u_half_pixel");
  p.u_wv = glGetUniformLocation(prog, "u_wv");
  p.u_proj = glGetUniformLocation(prog, "u_proj");
  p.u_world = glGetUniformLocation(prog, "u_world");
  p.u_normal_matrix = glGetUniformLocation(prog, "u_normal_matrix");
  p.u_alpha_ref = glGetUniformLocation(prog, "u_alpha_ref");
  p.u_fog = glGetUniformLocation(prog, "u_fog");
  p.u_fog_color = glGetUniformLocation(prog, "u_fog_color");
  p.u_tfactor = glGetUniformLocation(prog, "u_tfactor");
  p.u_ambient = glGetUniformLocation(prog, "u_ambient");
  p.u_clip = glGetUniformLocation(prog, "u_clip");
  p.u_mat = glGetUniformLocation(prog, "u_mat");
  for (int i = 0; i < GPU_MAX_LIGHTS; ++i) {
    char n[24];
    snprintf(n, sizeof n, "u_light%d", i);
    p.u_light[i] = glGetUniformLocation(prog, n);
  }
  return p;
}
