// The shader slots, their compilation from the shader folder, and the
// binding every draw starts with.
#include "render/device/shaders.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/sys/sys.h"
#include "render/device/gfx_device.h"
#include "render/device/render_states.h"
#include "render/view/view_matrices.h"
#include "render/view/view_state.h"
#include "shell/services/startup_config.h"

namespace {

ShaderSet S;

// Point-light constants of a slot kind: positions, count (vertex slots);
// colours, parameters, count (pixel slots).
enum LightSet { kNoLights, kLightSet1, kLightSet2 };

struct SlotDef {
  const char* file;  // null: the fixed-function slot
  LightSet lights;
};

constexpr SlotDef kVertexSlots[kVertexSlotCount] = {
    {nullptr, kNoLights}, {"vxx", kNoLights},  {"vxx", kLightSet1}, {"vxx", kLightSet1}, {"vxx", kLightSet1},
    {"vxx", kLightSet1},  {"vxx", kLightSet2}, {"vxx", kLightSet2}, {"vxx", kLightSet2}, {"vxx", kLightSet2},
};
constexpr SlotDef kPixelSlots[kPixelSlotCount] = {
    {nullptr, kNoLights}, {"pxx", kLightSet1}, {"pxx", kLightSet1}, {"pxx", kLightSet2}, {"pxx", kLightSet2},
};

// Constant names in the order the create step fetches them. The point-light
// positions of the first set have their own name: "va" carries c1.
const char* const kVertexCommon[] = {"m1", "m2", "m3", "v4", "v5", "v6", "v7", "v8", "v9", "va", "vb"};
const char* const kVertexLights[3][2] = {{nullptr, nullptr}, {"vlp", "ib"}, {"vadf", "iv"}};
const char* const kPixelCommon[] = {"v1", "v2", "v3", "v4", "v5", "v6"};
const char* const kPixelLights[3][3] = {{nullptr, nullptr, nullptr}, {"x", "xd", "zx"}, {"gsg", "gd", "fgs"}};
constexpr int kVertexCommonCount = int(sizeof kVertexCommon / sizeof kVertexCommon[0]);
constexpr int kPixelCommonCount = int(sizeof kPixelCommon / sizeof kPixelCommon[0]);
// After the light set every vertex slot fetches "ik", the number of palette
// matrices a skinned slot blends with (0 draws the vertices as they stand).
constexpr int IK = kVertexCommonCount + 2;
const char* const kSkinCount = "ik";
enum { M1, M2, M3, V4, V5, V6, V7, V8, V9, VA, VB };
enum { P1, P2, P3, P4, P5, P6 };

constexpr int kCombinations[kShaderCombinationCount][3] = {{0, 1, 0}, {2, 3, 1}, {4, 5, 2}, {6, 7, 3}, {8, 9, 4}};

// The skinned vertex slots: the second number of each combination.
bool skinned_slot(int index) { return index % 2 == 1; }

// ---------------------------------------------------------------- compilation

void fetch_handles(ShaderSlot& slot, const char* const* names, int count, int first) {
  for (int i = 0; i < count && first + i < kMaxSlotHandles; ++i)
    slot.handles[first + i] = names[i] ? shader_constant_by_name(slot.table, names[i]) : nullptr;
}

void create_vertex_handles(int index) {
  ShaderSlot& slot = S.vertex[index];
  fetch_handles(slot, kVertexCommon, kVertexCommonCount, 0);
  fetch_handles(slot, kVertexLights[kVertexSlots[index].lights], 2, kVertexCommonCount);
  fetch_handles(slot, &kSkinCount, 1, IK);
}

void create_pixel_handles(int index) {
  ShaderSlot& slot = S.pixel[index];
  fetch_handles(slot, kPixelCommon, kPixelCommonCount, 0);
  fetch_handles(slot, kPixelLights[kPixelSlots[index].lights], 3, kPixelCommonCount);
}

// The shader folder as a host path, joined to the working folder when relative.
std::string shader_folder() {
  const char* key = get_startup_string("SHPATH");
  std::string folder = key ? key : ".\\bin\\kts\\";
  std::string mapped = sys_join_path(get_work_directory(), folder);
  if (!mapped.empty() && mapped.back() != '/') mapped += '/';
  return mapped;
}

// Compiles one file for a stage and makes a shader object for each slot that names it.
void compile_slots(const std::string& folder, ShaderSlot* slots, const SlotDef* defs, int count, const char* entry,
                   const char* profile, void (*create)(int)) {
  const char* file = nullptr;
  for (int i = 0; i < count; ++i) {
    if (!defs[i].file) {
      slots[i].loaded = 1;  // the fixed-function slot
    } else {
      file = defs[i].file;
    }
  }
  if (!file) return;
  std::string path = sys_join_path(folder, file);
  ShaderCode* code = nullptr;
  ShaderConstantTable* table = nullptr;
  std::string errors;
  if (!shader_compile_file(path.c_str(), entry, profile, &code, &table, &errors)) {
    std::fprintf(stderr, "tamberlune: shader %s (%s) is not used; those draws go through the fixed-function stages:\n%s",
                 path.c_str(), profile, errors.c_str());
    return;
  }
  for (int i = 0; i < count; ++i) {
    if (!defs[i].file) continue;
    GpuShader* shader = nullptr;
    if (shader_create(S.device, code, &shader) != GPU_OK || !shader) {
      std::fprintf(stderr, "tamberlune: shader %s could not be made for slot %d\n", path.c_str(), i);
      continue;
    }
    slots[i].loaded = 1;
    slots[i].shader = shader;
    slots[i].table = shader_table_copy(table);
    create(i);
  }
  shader_code_release(code);
  shader_table_release(table);
}

// ---------------------------------------------------------------- per-draw constants

void set_vector(const ShaderSlot& slot, int handle, const float* v) {
  if (slot.handles[handle]) shader_set_vector(S.device, slot.table, slot.handles[handle], v);
}

void set_matrix(const ShaderSlot& slot, int handle, const Mat4& m) {
  if (slot.handles[handle]) shader_set_matrix(S.device, slot.table, slot.handles[handle], m.m);
}

// A world-space direction in model space, normalised, as a float4 with w 0.
void model_direction(float out[4], const Vec3* world_dir) {
  Vec3 d = *world_dir;
  if (S.inverse_world) mat4_transform_direction(&d, S.inverse_world, world_dir);
  shader_vec3_normalize(&d, &d);
  shader_float4_from_vec3(out, &d, 0.0f);
}

const Mat4& or_identity(const Mat4* m) { return m ? *m : S.identity; }

void common_vertex_constants(const ShaderSlot& slot, bool skinned) {
  const Mat4& vp = or_identity(S.view_proj);
  const Mat4& view = or_identity(S.view);
  Mat4 m;
  if (S.world) {
    mat4_multiply(&m, &vp, S.world);  // world, then view x projection
    set_matrix(slot, M1, m);
    mat4_multiply(&m, &view, S.world);
    set_matrix(slot, M2, m);
  } else {
    set_matrix(slot, M1, vp);
    set_matrix(slot, M2, view);
  }
  // The constant registers outlive the draw, so every slot states how many
  // matrices to blend: none outside the skinned slots, and none when the
  // palette is longer than the shader's (its indices would read past it).
  int blended = 0;
  if (skinned && slot.handles[M3] && S.palette_count > 0 &&
      uint32_t(S.palette_count) <= shader_constant_elements(slot.handles[M3])) {
    shader_set_matrix_array(S.device, slot.table, slot.handles[M3], S.palette[0].m, uint32_t(S.palette_count));
    blended = S.palette_count;
  }
  if (slot.handles[IK]) shader_set_int(S.device, slot.table, slot.handles[IK], blended);
  float v[4];
  const Mat4& cam = or_identity(S.camera);
  Vec3 eye = {cam.m[12], cam.m[13], cam.m[14]};
  if (S.inverse_world) mat4_transform_point(&eye, S.inverse_world, &eye);
  set_vector(slot, V4, shader_float4_from_vec3(v, &eye, 1.0f));
  int view_index = get_current_view();
  const LightBlock* light = get_light_record(view_index);
  model_direction(v, &light->direction);
  set_vector(slot, V5, v);
  model_direction(v, &light->axis);
  set_vector(slot, V6, v);
  set_vector(slot, V7, S.c4);
  set_vector(slot, V8, gfx_preset_fog() ? S.fog_on[view_index & 1] : S.fog_off[view_index & 1]);
  set_vector(slot, V9, S.c[0]);
  set_vector(slot, VA, S.c[1]);
  set_vector(slot, VB, S.c[2]);
}

void common_pixel_constants(const ShaderSlot& slot) {
  float v[4];
  const LightBlock* light = get_light_record(get_current_view());
  set_vector(slot, P1, S.c[0]);
  set_vector(slot, P2, S.c[1]);
  model_direction(v, &light->direction);
  set_vector(slot, P3, v);
  set_vector(slot, P4, S.c[2]);
  set_vector(slot, P5, S.c[3]);
  model_direction(v, &light->axis);
  set_vector(slot, P6, v);
}

void set_light_array(const ShaderSlot& slot, int handle, const float (*values)[4]) {
  if (slot.handles[handle])
    shader_set_vector_array(S.device, slot.table, slot.handles[handle], values[0], kMaxShaderPointLights);
}

void set_count(const ShaderSlot& slot, int handle) {
  if (slot.handles[handle]) shader_set_int(S.device, slot.table, slot.handles[handle], S.light_count);
}

void vertex_per_draw(int index) {
  const ShaderSlot& slot = S.vertex[index];
  common_vertex_constants(slot, skinned_slot(index));
  if (kVertexSlots[index].lights == kNoLights) return;
  set_light_array(slot, kVertexCommonCount, S.light_position);
  set_count(slot, kVertexCommonCount + 1);
}

void pixel_per_draw(int index) {
  const ShaderSlot& slot = S.pixel[index];
  common_pixel_constants(slot);
  if (kPixelSlots[index].lights == kNoLights) return;
  set_light_array(slot, kPixelCommonCount, S.light_colour);
  set_light_array(slot, kPixelCommonCount + 1, S.light_params);
  set_count(slot, kPixelCommonCount + 2);
}

// ---------------------------------------------------------------- begin_mesh_draw steps

void material_colours(const ShaderMaterial* mat) {
  if (!mat) {
    shader_float4_set(S.c[0], 0, 0, 0, 0);
    shader_float4_set(S.c[1], 0, 0, 0, 0);
    shader_float4_set(S.c[2], 1, 1, 1, 1);
    shader_float4_set(S.c[3], 0, 0, 0, 0);
    shader_float4_copy(S.c4, S.c[2]);
  } else {
    float s = mat->scale;
    shader_float4_from_argb_scaled(S.c[0], mat->ambient, s);
    shader_float4_copy(S.c[1], S.c[0]);
    shader_float4_from_argb_scaled(S.c[2], mat->diffuse, s);
    shader_float4_copy(S.c4, S.c[2]);
    shader_float4_from_argb_scaled(S.c[3], mat->specular, s);
    float e[4];
    shader_float4_from_argb(e, mat->emissive);
    if (gfx_preset_lighting()) {
      int view = get_current_view();
      shader_float4_mul_add(S.c[0], S.c[0], get_light_color_float4(view, 0), e);
      shader_float4_mul_add(S.c[1], S.c[1], get_light_color_float4(view, 1), e);
      shader_float4_mul(S.c[2], S.c[2], get_light_color_float4(view, 2));
      shader_float4_mul(S.c[3], S.c[3], get_light_color_float4(view, 3));
      S.c[3][3] = mat->power;
    } else {
      shader_float4_set(S.c[0], 1, 1, 1, 0);
      shader_float4_set(S.c[1], 1, 1, 1, 0);
      shader_float4_set(S.c[2], 0, 0, 0, 1);
      shader_float4_set(S.c[3], 0, 0, 0, 0);
    }
  }
  S.c[3][3] = std::max(S.c[3][3], 0.1f);
}

void point_lights(const ShaderPointLight* lights, int count) {
  S.light_count = lights ? std::clamp(count, 0, kMaxShaderPointLights) : 0;
  for (int i = 0; i < kMaxShaderPointLights; ++i) {
    if (i >= S.light_count) {
      shader_float4_set(S.light_position[i], 0, 0, 0, 0);
      shader_float4_set(S.light_colour[i], 0, 0, 0, 0);
      shader_float4_set(S.light_params[i], 0, 0, 0, 0);
      continue;
    }
    const ShaderPointLight& l = lights[i];
    Vec3 p = l.position;
    if (S.inverse_world) mat4_transform_point(&p, S.inverse_world, &l.position);
    shader_float4_from_vec3(S.light_position[i], &p, l.first);
    shader_float4_copy(S.light_colour[i], l.colour);
    shader_float4_set(S.light_params[i], l.first, l.second, 0, 0);
  }
}

void bone_palette(const ShaderBoneSource* bones, const ShaderSkeleton* skeleton) {
  S.palette_count = 0;
  if (!bones || !skeleton || !bones->bones) return;
  int count = std::clamp(bones->count, 0, kMaxShaderBones);
  for (int i = 0; i < count; ++i) {
    Mat4& out = S.palette[i];
    mat4_identity(&out);
    for (int n = 0; n < skeleton->count; ++n) {
      const ShaderSkeletonNode& node = skeleton->nodes[n];
      if (skeleton->built_for == bones) {
        if (node.bone_index == i) {
          out = node.skin;
          break;
        }
      } else if (node.name_hash == bones->bones[i].name_hash && node.name && bones->bones[i].name &&
                 std::strcmp(node.name, bones->bones[i].name) == 0) {
        mat4_multiply(&out, &node.pose, &bones->bones[i].offset);  // offset, then the node's pose
        break;
      }
    }
  }
  S.palette_count = count;
}

}  // namespace

const ShaderSet* shader_set() { return &S; }

const ShaderConstant* shader_constant_handle(const ShaderConstantTable* table, const char* name) {
  return shader_constant_by_name(table, name);
}

const int* shader_combination(int mode, bool point_lights, bool lighting) {
  int combination = 0;
  if (mode == 1) combination = point_lights && lighting ? 2 : 1;
  if (mode == 2) combination = point_lights && lighting ? 4 : 3;
  return kCombinations[combination];
}

// ---------------------------------------------------------------- lifetime

void shaders_init() {
  shaders_release();
  S = ShaderSet{};
  S.device = gfx_device();
  mat4_identity(&S.identity);
  bool vertex = gfx_supports_vs2(), pixel = gfx_supports_ps2();
  if (vertex) {
    for (int i = 0; i < kFvfCount; ++i) {
      GpuVertexElement elements[20];
      if (fvf_declaration(fvf_code(i), elements, 20) == 0 ||
          gpu_create_vertex_decl(S.device, elements, &S.declarations[i]) != GPU_OK)
        S.declarations[i] = nullptr;
    }
  }
  std::string folder = shader_folder();
  if (!sys_is_directory(folder)) {
    std::fprintf(stderr, "tamberlune: shader folder %s not found; drawing uses the fixed-function stages\n",
                 folder.c_str());
  } else {
    if (vertex)
      compile_slots(folder, S.vertex, kVertexSlots, kVertexSlotCount, "VsMain", "vs_4_0", create_vertex_handles);
    if (pixel) compile_slots(folder, S.pixel, kPixelSlots, kPixelSlotCount, "PsMain", "ps_2_0", create_pixel_handles);
  }
  int view = get_current_view();
  shader_set_view_matrices(get_view_matrix(view), get_camera_matrix(view), get_projection_matrix(view),
                           get_matrix_slot4(view), get_proj_view_matrix(view));
  shader_set_depth_range(get_near(0), get_far(0));
}

void shaders_release() {
  for (GpuVertexDecl*& d : S.declarations) {
    gpu_vertex_decl_release(d);
    d = nullptr;
  }
  auto release = [](ShaderSlot& slot) {
    if (slot.shader) gpu_shader_release(slot.shader);
    shader_table_release(slot.table);
    slot = ShaderSlot{};
  };
  for (ShaderSlot& slot : S.vertex) release(slot);
  for (ShaderSlot& slot : S.pixel) release(slot);
}

void shaders_reload() {
  shaders_release();
  shaders_init();
}

// ---------------------------------------------------------------- views and frames

void shader_set_view_matrices(const Mat4* view, const Mat4* camera, const Mat4* projection, const Mat4* view_proj,
                              const Mat4* proj_view) {
  S.view = view;
  S.camera = camera;
  S.projection = projection;
  S.view_proj = view_proj;
  S.proj_view = proj_view;
  Vec3 up = {0, 1, 0};
  if (camera) mat4_transform_direction(&up, camera, &up);
  shader_vec3_normalize(&S.camera_up, &up);
  const Mat4 bias = {{0.5f, 0, 0, 0, 0, -0.5f, 0, 0, 0, 0, 1, 0, 0.5f, 0.5f, 0, 1}};
  int current = get_current_view();
  for (int i = 0; i < 2; ++i) mat4_multiply(&S.texture_projection[i], &bias, get_light_matrix_e(current, i));
}

void shader_set_depth_range(float near, float far) {
  S.near = near;
  S.far = far;
}

void shader_frame_constants() {
  // Equal start and end would divide by zero: keep the span away from it.
  auto span = [](float s, float e) {
    float d = e - s;
    return std::fabs(d) < 1e-6f ? (d < 0.0f ? -1e-6f : 1e-6f) : d;
  };
  for (int v = 0; v < 2; ++v) {
    float far = get_far(v);
    float s = far, e = far + 1.0f, s2 = far, e2 = far + 1.0f;
    if (get_fog_enable(v)) {
      s = get_fog_start(v);
      e = get_fog_end(v);
    }
    if (get_fog2_enable(v)) {
      s2 = get_fog2_start(v);
      e2 = get_fog2_end(v);
    }
    shader_float4_copy(S.fog_colour[v], get_fog_color_float4(v));
    float d = span(s, e), d2 = span(s2, e2);
    shader_float4_set(S.fog_on[v], -1.0f / d, e / d, -1.0f / d2, e2 / d2);
    shader_float4_set(S.fog_off[v], -1.0f, far + 1.0f, -1.0f / d2, e2 / d2);
  }
}

// ---------------------------------------------------------------- binding

void vs_bind(int slot, const void*, int keep, int format) {
  uint32_t fvf = fvf_code(format);
  bool shader = slot >= 1 && slot < kVertexSlotCount && S.vertex[slot].shader;
  GpuVertexDecl* decl = format >= 0 && format < kFvfCount ? S.declarations[format] : nullptr;
  if (shader && decl) {
    gpu_set_vertex_decl(S.device, decl);
    if (!keep) gpu_set_vertex_shader(S.device, S.vertex[slot].shader);
    vertex_per_draw(slot);
    return;
  }
  // The format is set even when the shader is kept: it may differ from the
  // last draw's. A slot whose format has no declaration draws fixed-function.
  gpu_set_fvf(S.device, fvf);
  if (!keep || shader) gpu_set_vertex_shader(S.device, nullptr);
}

void ps_bind(int slot, const void*, int keep) {
  if (slot >= 1 && slot < kPixelSlotCount && S.pixel[slot].shader) {
    if (!keep) gpu_set_pixel_shader(S.device, S.pixel[slot].shader);
    pixel_per_draw(slot);
  } else if (!keep) {
    gpu_set_pixel_shader(S.device, nullptr);
  }
}

int begin_mesh_draw(int mode, const void* param, int kind, int format, const Mat4* world,
                    const ShaderMaterial* material, const ShaderBoneSource* bones, const ShaderSkeleton* skeleton,
                    float alpha, const ShaderPointLight* lights, int light_count) {
  if (mode < -1 || mode >= kShaderModeCount || kind < 0 || kind > 3) return 0;
  if (format < 0 || format >= kFvfCount) {
    std::fprintf(stderr, "tamberlune: a draw with vertex format %d is not in the format table; skipped\n", format);
    return 0;
  }
  if (mode >= 0) S.mode = mode;
  S.draw_word = 0;
  S.device = gfx_device();
  S.world = world;
  S.inverse_world = nullptr;
  if (world) {
    mat4_invert(&S.inverse_world_matrix, world);
    S.inverse_world = &S.inverse_world_matrix;
  }
  material_colours(material);
  S.alpha = alpha;
  point_lights(lights, light_count);
  const int* combination = shader_combination(S.mode, S.light_count > 0, gfx_preset_lighting() != 0);
  int pixel = combination[2];
  int vertex = combination[0];
  S.palette_count = 0;
  if (skeleton) {
    bone_palette(bones, skeleton);
    vertex = combination[1];
  }
  int keep_vertex = mode == -1 && vertex == S.last_vertex;
  int keep_pixel = mode == -1 && pixel == S.last_pixel;
  vs_bind(vertex, param, keep_vertex, format);
  ps_bind(pixel, param, keep_pixel);
  // A shader slot that fell back to the fixed-function stages still needs
  // the draw's world transform, which callers set only for mode 0.
  if (vertex != 0 && !gpu_get_vertex_shader(S.device)) gpu_set_transform(S.device, GPU_TS_WORLD, or_identity(world).m);
  S.last_vertex = vertex;
  S.last_pixel = pixel;
  return 1;
}
