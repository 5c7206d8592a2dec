// Shaders: the engine's 50 vertex formats and their declarations, the ten
// vertex and five pixel shader slots compiled from "vxx" and "pxx", and
// begin_mesh_draw, with which every draw starts: it picks the slots for the
// shading mode (or the fixed-function stages), binds them with the draw's
// vertex format and sets the per-draw constants by name.
//
// Built at graphics start-up, released and rebuilt around a device reset,
// released at shutdown. Main thread only.
#pragma once

#include <cstdint>

#include "math/mat4.h"
#include "math/vec.h"
#include "platform/gpu/gpu.h"
#include "platform/shader/shader.h"

constexpr int kFvfCount = 50;
constexpr int kVertexSlotCount = 10;
constexpr int kPixelSlotCount = 5;
constexpr int kShaderCombinationCount = 5;
constexpr int kShaderModeCount = 3;
constexpr int kMaxShaderPointLights = 3;
constexpr int kMaxShaderBones = 128;
constexpr int kMaxSlotHandles = 16;

// ---------------------------------------------------------------- draw inputs

// A draw's material colours (the layout of a part's colour block): ARGB
// words M0 to M3, the specular power and a scale for red, green and blue.
struct ShaderMaterial {
  uint32_t ambient;   // M0
  uint32_t diffuse;   // M1
  uint32_t emissive;  // M2
  uint32_t specular;  // M3
  float power;
  float scale;
};

// A point light near the drawn object: world position, two scalars (the
// first also rides in the position's w), colour as floats.
struct ShaderPointLight {
  Vec3 position;
  float first;
  float second;
  float colour[4];
};

// The bones of a skinned mesh, in palette order.
struct ShaderBone {
  uint32_t name_hash;
  const char* name;
  Mat4 offset;
};
struct ShaderBoneSource {
  const ShaderBone* bones;
  int32_t count;
};

// A posed skeleton: each node's pose in model space and, for a skeleton
// built for a mesh, its palette index and ready skinning matrix.
struct ShaderSkeletonNode {
  uint32_t name_hash;
  const char* name;
  int32_t bone_index;  // -1 when the node is not one of the mesh's bones
  Mat4 pose;
  Mat4 skin;
};
struct ShaderSkeleton {
  const ShaderBoneSource* built_for;
  const ShaderSkeletonNode* nodes;
  int32_t count;
};

// ---------------------------------------------------------------- the block

struct ShaderSlot {
  int32_t loaded;
  GpuShader* shader;
  ShaderConstantTable* table;
  const ShaderConstant* handles[kMaxSlotHandles];  // in the order the create step fetched them
};

struct ShaderSet {
  ShaderSlot vertex[kVertexSlotCount];
  ShaderSlot pixel[kPixelSlotCount];
  float c[4][4];  // material colours c0 to c3
  float c4[4];
  const Mat4* world;          // null: none
  const Mat4* inverse_world;  // null when there is no world matrix
  Mat4 inverse_world_matrix;
  Mat4 palette[kMaxShaderBones];
  int32_t palette_count;
  GpuVertexDecl* declarations[kFvfCount];
  const Mat4* view;         // slot 0 of the current view
  const Mat4* camera;       // slot 1
  const Mat4* projection;   // slot 2
  const Mat4* view_proj;    // slot 4
  const Mat4* proj_view;    // slot 3
  Mat4 texture_projection[2];
  Mat4 identity;
  Vec3 camera_up;
  float fog_colour[2][4];
  float fog_on[2][4];
  float fog_off[2][4];
  float light_position[kMaxShaderPointLights][4];  // model space, w = first scalar
  float light_colour[kMaxShaderPointLights][4];
  float light_params[kMaxShaderPointLights][4];
  float near, far;
  float alpha;
  int32_t light_count;
  int32_t mode;          // current shading mode, 0 to 2
  int32_t last_vertex;   // last vertex slot bound
  int32_t last_pixel;    // last pixel slot bound
  int32_t draw_word;     // cleared by every begin_mesh_draw
  GpuDevice* device;
};

const ShaderSet* shader_set();

// ---------------------------------------------------------------- formats

// The vertex-format index of an FVF code (its first place in the table), or
// -1 for a code the table does not hold.
int find_fvf_index(uint32_t fvf);
// The code of an index, 0 outside the table.
uint32_t fvf_code(int index);
// The declaration of an FVF code: elements in stream 0, offsets
// accumulating, closed by GPU_DECL_END. Returns the element count with the
// end, 0 when the code names no position or out has too little room.
int fvf_declaration(uint32_t fvf, GpuVertexElement* out, int capacity);
// Bytes of one vertex of the declaration.
uint32_t fvf_declaration_stride(const GpuVertexElement* elements);

// ---------------------------------------------------------------- lifetime

// Declarations, compilation from the "SHPATH" folder, view matrices. A
// missing or failing source leaves its slots empty (the reason goes to
// stderr) and their draws use the fixed-function stages.
void shaders_init();
void shaders_release();
void shaders_reload();

// ---------------------------------------------------------------- drawing

// mode 0 to 2, or -1 to keep the current mode; kind 0 to 3; world,
// material, bones, skeleton and lights may be null. Returns 1 when the draw
// was set up; 0 when refused (mode or kind out of range, a format outside
// the table), leaving everything as it was.
int begin_mesh_draw(int mode, const void* param, int kind, int format, const Mat4* world,
                    const ShaderMaterial* material, const ShaderBoneSource* bones, const ShaderSkeleton* skeleton,
                    float alpha, const ShaderPointLight* lights, int light_count);
void vs_bind(int slot, const void* param, int keep, int format);
void ps_bind(int slot, const void* param, int keep);
// The combination a shading mode selects: {vertex slot, skinned vertex slot, pixel slot}.
const int* shader_combination(int mode, bool point_lights, bool lighting);

// Per frame, from the frame render: fog colours and factors of both views.
void shader_frame_constants();
void shader_set_view_matrices(const Mat4* view, const Mat4* camera, const Mat4* projection, const Mat4* view_proj,
                              const Mat4* proj_view);
void shader_set_depth_range(float near, float far);
const ShaderConstant* shader_constant_handle(const ShaderConstantTable* table, const char* name);

// ---------------------------------------------------------------- float4 helpers

float* shader_float4_set(float* out, float x, float y, float z, float w);
float* shader_float4_from_vec3(float* out, const Vec3* v, float w);
float* shader_float4_copy(float* out, const float* v);
float* shader_float4_scale3(float* out, const float* v, float factor);  // w kept
float* shader_float4_mul(float* out, const float* a, const float* b);
float* shader_float4_mul_add(float* out, const float* a, const float* b, const float* c);  // a x b + c
float* shader_float4_from_argb(float* out, uint32_t argb);
float* shader_float4_from_argb_scaled(float* out, uint32_t argb, float factor);  // rgb x factor
Vec3* shader_vec3_set(Vec3* out, float x, float y, float z);
Vec3* shader_vec3_normalize(Vec3* out, const Vec3* v);  // a zero vector stays zero
uint32_t shader_argb_red(uint32_t argb);
uint32_t shader_argb_green(uint32_t argb);
uint32_t shader_argb_blue(uint32_t argb);
uint32_t shader_argb_alpha(uint32_t argb);
