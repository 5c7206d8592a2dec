// HLSL to the device's GLSL: glslang (HLSL front end, Direct3D 9 compatible
// mode, HLSL semantics kept) to SPIR-V, then SPIRV-Cross to GLSL 3.30 with
// the names the device expects (see GpuShaderDesc), and the constant table
// from the reflection of the global constant block.

// The installed glslang is built with its HLSL front end; its headers show
// the matching declarations only with this set.
#define ENABLE_HLSL 1
#include <glslang/Public/ResourceLimits.h>
#include <glslang/Public/ShaderLang.h>
#include <glslang/SPIRV/GlslangToSpv.h>
#include <spirv_cross_c.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <sstream>

#include "platform/shader/shader_internal.h"

namespace {

constexpr size_t kMaxSource = 1u << 20;

struct Profile {
  GpuShaderStage stage;
  uint32_t registers;  // float constant registers the profile offers
};

bool parse_profile(const char* profile, Profile* out) {
  static const struct {
    const char* name;
    GpuShaderStage stage;
    uint32_t registers;
  } kProfiles[] = {
      {"vs_1_1", GPU_SHADER_VERTEX, 96},  {"vs_2_0", GPU_SHADER_VERTEX, 256}, {"vs_2_a", GPU_SHADER_VERTEX, 256},
      {"vs_3_0", GPU_SHADER_VERTEX, 256}, {"vs_4_0", GPU_SHADER_VERTEX, GPU_VS_CONSTANT_REGISTERS},
      {"ps_2_0", GPU_SHADER_PIXEL, 32},   {"ps_2_a", GPU_SHADER_PIXEL, 32},   {"ps_2_b", GPU_SHADER_PIXEL, 32},
      {"ps_3_0", GPU_SHADER_PIXEL, 224},
  };
  for (const auto& p : kProfiles)
    if (profile && std::strcmp(profile, p.name) == 0) {
      *out = {p.stage, p.registers};
      return true;
    }
  return false;
}

// Semantic name to vertex usage and index ("TEXCOORD3" -> TEXCOORD, 3).
bool parse_semantic(const char* semantic, uint8_t* usage, uint8_t* index) {
  static const struct {
    const char* name;
    uint8_t usage;
  } kUsages[] = {
      {"POSITION", GPU_USAGE_POSITION},   {"SV_POSITION", GPU_USAGE_POSITION}, {"POSITIONT", GPU_USAGE_POSITIONT},
      {"BLENDWEIGHT", GPU_USAGE_BLENDWEIGHT}, {"BLENDINDICES", GPU_USAGE_BLENDINDICES},
      {"NORMAL", GPU_USAGE_NORMAL},       {"PSIZE", GPU_USAGE_PSIZE},          {"TEXCOORD", GPU_USAGE_TEXCOORD},
      {"TANGENT", GPU_USAGE_TANGENT},     {"BINORMAL", GPU_USAGE_BINORMAL},    {"COLOR", GPU_USAGE_COLOR},
      {"SV_TARGET", GPU_USAGE_COLOR},     {"FOG", GPU_USAGE_FOG},              {"DEPTH", GPU_USAGE_DEPTH},
  };
  if (!semantic) return false;
  std::string s;
  for (const char* p = semantic; *p; ++p) s += char(std::toupper(static_cast<unsigned char>(*p)));
  size_t digits = s.size();
  while (digits > 0 && std::isdigit(static_cast<unsigned char>(s[digits - 1]))) --digits;
  int n = digits < s.size() ? std::atoi(s.c_str() + digits) : 0;
  s.resize(digits);
  for (const auto& u : kUsages)
    if (s == u.name && n < 16) {
      *usage = u.usage;
      *index = uint8_t(n);
      return true;
    }
  return false;
}

void glslang_init() {
  static std::once_flag once;
  std::call_once(once, [] {
    glslang::InitializeProcess();
    std::atexit([] { glslang::FinalizeProcess(); });
  });
}

bool hlsl_to_spirv(const char* source, size_t size, const char* name, const char* entry, GpuShaderStage stage,
                   std::vector<uint32_t>* spirv, std::string* errors) {
  glslang_init();
  EShLanguage lang = stage == GPU_SHADER_VERTEX ? EShLangVertex : EShLangFragment;
  glslang::TShader shader(lang);
  const char* strings[1] = {source};
  const int lengths[1] = {int(size)};
  const char* names[1] = {name};
  shader.setStringsWithLengthsAndNames(strings, lengths, names, 1);
  shader.setEntryPoint(entry);
  shader.setSourceEntryPoint(entry);
  shader.setEnvInput(glslang::EShSourceHlsl, lang, glslang::EShClientVulkan, 100);
  shader.setEnvClient(glslang::EShClientVulkan, glslang::EShTargetVulkan_1_0);
  shader.setEnvTarget(glslang::EShTargetSpv, glslang::EShTargetSpv_1_0);
  shader.setEnvTargetHlslFunctionality1();
  shader.setAutoMapBindings(true);
  shader.setAutoMapLocations(true);
  const auto messages = EShMessages(EShMsgSpvRules | EShMsgVulkanRules | EShMsgReadHlsl | EShMsgHlslDX9Compatible);
  if (!shader.parse(GetDefaultResources(), 100, false, messages)) {
    std::string log = shader.getInfoLog();
    *errors += log.empty() ? std::string(name) + ": the source does not compile\n" : log;
    return false;
  }
  glslang::TProgram program;
  program.addShader(&shader);
  if (!program.link(messages) || !program.mapIO()) {
    *errors += program.getInfoLog();
    return false;
  }
  glslang::SpvOptions options;
  options.disableOptimizer = false;  // the legalisation passes HLSL needs
  options.validate = false;
  spv::SpvBuildLogger logger;
  std::vector<unsigned> words;
  glslang::GlslangToSpv(*program.getIntermediate(lang), words, &logger, &options);
  std::string log = logger.getAllMessages();
  if (words.empty()) {
    *errors += log.empty() ? "no code was generated\n" : log;
    return false;
  }
  spirv->assign(words.begin(), words.end());
  return true;
}

struct Cross {
  spvc_context context = nullptr;
  std::string error;
  ~Cross() {
    if (context) spvc_context_destroy(context);
  }
};

bool member_constant(spvc_compiler c, spvc_type block, spvc_type_id block_id, unsigned i, ShaderConstant* out) {
  spvc_type_id tid = spvc_type_get_member_type(block, i);
  spvc_type t = spvc_compiler_get_type_handle(c, tid);
  spvc_basetype base = spvc_type_get_basetype(t);
  ShaderConstant k{};
  const char* name = spvc_compiler_get_member_name(c, block_id, i);
  if (!name || !*name) return false;
  k.name = name;
  switch (base) {
    case SPVC_BASETYPE_FP32: k.base = SHADER_FLOAT; break;
    case SPVC_BASETYPE_INT32: k.base = SHADER_INT; break;
    case SPVC_BASETYPE_UINT32:
    case SPVC_BASETYPE_BOOLEAN: k.base = SHADER_UINT; break;
    default: return false;  // structures and other types are not reachable by name
  }
  unsigned offset = 0;
  if (spvc_compiler_type_struct_member_offset(c, block, i, &offset) != SPVC_SUCCESS) return false;
  k.offset = offset;
  unsigned vec = spvc_type_get_vector_size(t), cols = spvc_type_get_columns(t);
  k.matrix = cols > 1;
  if (k.matrix) {
    // HLSL row r is SPIR-V column r; RowMajor in SPIR-V is HLSL's column_major.
    k.rows = uint8_t(cols);
    k.columns = uint8_t(vec);
    k.transposed = spvc_compiler_has_member_decoration(c, block_id, i, SpvDecorationRowMajor);
    unsigned stride = 16;
    spvc_compiler_type_struct_member_matrix_stride(c, block, i, &stride);
    k.matrix_stride = stride;
  } else {
    k.rows = 1;
    k.columns = uint8_t(vec);
  }
  k.elements = 1;
  unsigned dims = spvc_type_get_num_array_dimensions(t);
  if (dims > 1) return false;
  if (dims == 1) {
    if (!spvc_type_array_dimension_is_literal(t, 0)) return false;
    k.elements = spvc_type_get_array_dimension(t, 0);
    unsigned stride = 16;
    spvc_compiler_type_struct_member_array_stride(c, block, i, &stride);
    k.array_stride = stride;
  }
  *out = k;
  return true;
}

// Removes the storage qualifier of a varying's declaration line, keeping type and name.
bool make_global(std::string& line, const std::string& name) {
  std::string tail = " " + name + ";";
  if (line.size() < tail.size() || line.compare(line.size() - tail.size(), tail.size(), tail) != 0) return false;
  std::istringstream words(line);
  std::string w, type;
  bool qualified = false;
  while (words >> w) {
    if (qualified) {
      type = w;
      break;
    }
    qualified = w == "in" || w == "out";
  }
  if (type.empty()) return false;
  line = type + " " + name + ";";
  return true;
}

bool spirv_to_glsl(const std::vector<uint32_t>& spirv, GpuShaderStage stage, uint32_t budget, ShaderCode* code,
                   ShaderConstantTable* table, std::string* errors) {
  Cross x;
  if (spvc_context_create(&x.context) != SPVC_SUCCESS) {
    *errors += "the cross compiler could not start\n";
    return false;
  }
  spvc_context_set_error_callback(
      x.context, [](void* user, const char* e) { *static_cast<std::string*>(user) += std::string(e) + "\n"; },
      &x.error);
  spvc_parsed_ir ir = nullptr;
  spvc_compiler c = nullptr;
  if (spvc_context_parse_spirv(x.context, spirv.data(), spirv.size(), &ir) != SPVC_SUCCESS ||
      spvc_context_create_compiler(x.context, SPVC_BACKEND_GLSL, ir, SPVC_CAPTURE_MODE_TAKE_OWNERSHIP, &c) !=
          SPVC_SUCCESS) {
    *errors += x.error;
    return false;
  }
  spvc_compiler_options options = nullptr;
  spvc_compiler_create_compiler_options(c, &options);
  spvc_compiler_options_set_uint(options, SPVC_COMPILER_OPTION_GLSL_VERSION, 330);
  spvc_compiler_options_set_bool(options, SPVC_COMPILER_OPTION_GLSL_ES, SPVC_FALSE);
  spvc_compiler_options_set_bool(options, SPVC_COMPILER_OPTION_GLSL_ENABLE_420PACK_EXTENSION, SPVC_FALSE);
  spvc_compiler_install_compiler_options(c, options);

  spvc_resources res = nullptr;
  spvc_compiler_create_shader_resources(c, &res);
  const spvc_reflected_resource* list = nullptr;
  size_t count = 0;
  bool vertex = stage == GPU_SHADER_VERTEX;
  const char* prefix = vertex ? "tl_vs" : "tl_ps";

  static const spvc_resource_type kRefused[] = {SPVC_RESOURCE_TYPE_STORAGE_BUFFER, SPVC_RESOURCE_TYPE_PUSH_CONSTANT,
                                                SPVC_RESOURCE_TYPE_SEPARATE_IMAGE, SPVC_RESOURCE_TYPE_SEPARATE_SAMPLERS,
                                                SPVC_RESOURCE_TYPE_STORAGE_IMAGE};
  for (spvc_resource_type type : kRefused) {
    spvc_resources_get_resource_list_for_type(res, type, &list, &count);
    if (count) {
      *errors += "only constants and sampler2D/tex2D-style samplers are supported\n";
      return false;
    }
  }

  spvc_resources_get_resource_list_for_type(res, SPVC_RESOURCE_TYPE_UNIFORM_BUFFER, &list, &count);
  if (count > 1) {
    *errors += "constants must be global (no constant buffers)\n";
    return false;
  }
  if (count == 1) {
    spvc_type block = spvc_compiler_get_type_handle(c, list[0].base_type_id);
    size_t bytes = 0;
    spvc_compiler_get_declared_struct_size(c, block, &bytes);
    if (bytes > size_t(budget) * 16) {
      char msg[128];
      std::snprintf(msg, sizeof msg, "the constants need %zu registers; the profile has %u\n", (bytes + 15) / 16,
                    budget);
      *errors += msg;
      return false;
    }
    for (unsigned i = 0, n = spvc_type_get_num_member_types(block); i < n; ++i) {
      ShaderConstant k;
      if (member_constant(c, block, list[0].base_type_id, i, &k)) table->constants.push_back(k);
    }
    spvc_compiler_set_name(c, list[0].base_type_id, (std::string(prefix) + "_constants").c_str());
    spvc_compiler_set_name(c, list[0].id, (std::string(prefix) + "_c").c_str());
    spvc_compiler_unset_decoration(c, list[0].id, SpvDecorationBinding);
    spvc_compiler_unset_decoration(c, list[0].id, SpvDecorationDescriptorSet);
  }

  spvc_resources_get_resource_list_for_type(res, SPVC_RESOURCE_TYPE_SAMPLED_IMAGE, &list, &count);
  for (size_t i = 0; i < count; ++i) {
    unsigned reg = spvc_compiler_get_decoration(c, list[i].id, SpvDecorationBinding);
    if (reg >= GPU_MAX_STAGES) {
      *errors += std::string("sampler ") + list[i].name + " is beyond register s7\n";
      return false;
    }
    spvc_compiler_set_name(c, list[i].id, ("tl_s" + std::to_string(reg)).c_str());
    spvc_compiler_unset_decoration(c, list[i].id, SpvDecorationBinding);
    spvc_compiler_unset_decoration(c, list[i].id, SpvDecorationDescriptorSet);
  }

  std::vector<std::string> globals;
  for (int output = 0; output < 2; ++output) {
    spvc_resources_get_resource_list_for_type(
        res, output ? SPVC_RESOURCE_TYPE_STAGE_OUTPUT : SPVC_RESOURCE_TYPE_STAGE_INPUT, &list, &count);
    for (size_t i = 0; i < count; ++i) {
      const char* semantic = spvc_compiler_get_decoration_string(c, list[i].id, SpvDecorationUserSemantic);
      spvc_type t = spvc_compiler_get_type_handle(c, list[i].type_id);
      uint8_t usage = 0, index = 0;
      if (!parse_semantic(semantic, &usage, &index)) {
        *errors += std::string(list[i].name) + ": unknown semantic " + (semantic ? semantic : "(none)") + "\n";
        return false;
      }
      if (spvc_type_get_basetype(t) != SPVC_BASETYPE_FP32 || spvc_type_get_columns(t) != 1 ||
          spvc_type_get_num_array_dimensions(t) != 0) {
        *errors += std::string(semantic) + ": only float scalars and vectors pass between stages\n";
        return false;
      }
      if (vertex && !output) {
        int loc = gpu_attribute_location(usage, index);
        if (loc < 0) {
          *errors += std::string("vertex input ") + semantic + " is not supported\n";
          return false;
        }
        spvc_compiler_set_name(c, list[i].id, ("tl_a" + std::to_string(i)).c_str());
        spvc_compiler_set_decoration(c, list[i].id, SpvDecorationLocation, unsigned(loc));
        continue;
      }
      GpuShaderVarying v{};
      v.usage = usage;
      v.usage_index = index;
      v.components = uint8_t(spvc_type_get_vector_size(t));
      v.output = output != 0;
      std::snprintf(v.name, sizeof v.name, "tl_%s%u", output ? "o" : "i", unsigned(i));
      spvc_compiler_set_name(c, list[i].id, v.name);
      spvc_compiler_unset_decoration(c, list[i].id, SpvDecorationLocation);
      code->varyings.push_back(v);
      globals.push_back(v.name);
    }
  }

  const char* text = nullptr;
  if (spvc_compiler_compile(c, &text) != SPVC_SUCCESS || !text) {
    *errors += x.error;
    return false;
  }
  // The device adds the version line and its own main around ours.
  std::istringstream in(text);
  std::string line;
  bool renamed = false;
  while (std::getline(in, line)) {
    if (line.rfind("#version", 0) == 0) continue;
    if (!renamed && line == "void main()") {
      line = "void tl_main()";
      renamed = true;
    }
    for (const std::string& g : globals)
      if (make_global(line, g)) break;
    code->glsl += line;
    code->glsl += '\n';
  }
  if (!renamed) {
    *errors += "the entry point was not found in the cross-compiled code\n";
    return false;
  }
  return true;
}

}  // namespace

bool shader_compile(const char* source, size_t size, const char* source_name, const char* entry, const char* profile,
                    ShaderCode** code, ShaderConstantTable** table, std::string* errors) {
  std::string local_errors;
  std::string& err = errors ? *errors : local_errors;
  err.clear();
  if (code) *code = nullptr;
  if (table) *table = nullptr;
  Profile p;
  if (!parse_profile(profile, &p)) {
    err = std::string("unknown profile ") + (profile ? profile : "(none)") + "\n";
    return false;
  }
  if (!source || !entry || !*entry || size > 0x7FFFFFFF) {
    err = "no source or entry point\n";
    return false;
  }
  auto c = std::make_unique<ShaderCode>();
  auto t = std::make_unique<ShaderConstantTable>();
  const uint64_t key = shader_cache_key(source, size, entry, profile);
  if (!shader_cache_find(key, c.get(), t.get())) {
    std::vector<uint32_t> spirv;
    if (!hlsl_to_spirv(source, size, source_name ? source_name : "shader", entry, p.stage, &spirv, &err)) return false;
    c = std::make_unique<ShaderCode>();
    t = std::make_unique<ShaderConstantTable>();
    c->stage = t->stage = p.stage;
    if (!spirv_to_glsl(spirv, p.stage, p.registers, c.get(), t.get(), &err)) return false;
    shader_cache_store(key, *c, *t);
  }
  if (code) *code = c.release();
  if (table) *table = t.release();
  return true;
}

bool shader_compile_file(const char* path, const char* entry, const char* profile, ShaderCode** code,
                         ShaderConstantTable** table, std::string* errors) {
  if (code) *code = nullptr;
  if (table) *table = nullptr;
  std::FILE* f = path ? std::fopen(path, "rb") : nullptr;
  if (!f) {
    if (errors) *errors = std::string(path ? path : "(none)") + ": cannot be read\n";
    return false;
  }
  std::string text;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0 && text.size() <= kMaxSource) text.append(buf, n);
  std::fclose(f);
  if (text.size() > kMaxSource) {
    if (errors) *errors = std::string(path) + ": too large for a shader source\n";
    return false;
  }
  return shader_compile(text.data(), text.size(), path, entry, profile, code, table, errors);
}

void shader_code_release(ShaderCode* code) { delete code; }

GpuShaderStage shader_code_stage(const ShaderCode* code) { return code ? code->stage : GPU_SHADER_VERTEX; }

const char* shader_code_glsl(const ShaderCode* code) { return code ? code->glsl.c_str() : ""; }

GpuResult shader_create(GpuDevice* device, const ShaderCode* code, GpuShader** out) {
  if (out) *out = nullptr;
  if (!code) return GPU_INVALID_CALL;
  GpuShaderDesc desc{code->stage, code->glsl.c_str(), code->varyings.data(), uint32_t(code->varyings.size())};
  return gpu_create_shader(device, desc, out);
}
