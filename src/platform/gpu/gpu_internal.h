// Records shared by the device's source files. Not part of the interface.
#pragma once

#include <epoxy/gl.h>

#include <SDL.h>

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/gpu/gpu.h"

// How a format is stored in OpenGL.
struct GpuFormatInfo {
  GpuFormat format;
  GLenum internal_format;
  GLenum upload_format;  // pixel transfer format (or 0 for compressed formats)
  GLenum upload_type;
  GLint swizzle[4];
  uint32_t bytes;        // per pixel; per 4 x 4 block for compressed formats
  bool compressed;
  bool depth;
  bool stencil;
  bool renderable;
};
const GpuFormatInfo* gpu_format_info(GpuFormat format);
// The variant of a 32-bit ARGB format whose texels keep the bytes of ARGB
// words in memory order (swizzled when sampled); null for other formats.
const GpuFormatInfo* gpu_format_info_memory_order(GpuFormat format);
bool gpu_format_is_memory_order(const GpuFormatInfo* info);

struct GpuTexture {
  GpuDevice* device;
  int refs;
  uint64_t id;
  GLuint name;
  GpuFormat format;
  const GpuFormatInfo* info;
  uint32_t usage;
  GpuPool pool;
  uint32_t width, height, levels;
  // Managed textures keep a copy of every level for locks and reads; an
  // unfilled one makes it from the device at its first lock.
  std::vector<std::vector<uint8_t>> shadow;
  std::vector<GpuRect> locked;  // per level: the locked rectangle, or right < 0 when not locked
  std::vector<uint32_t> lock_flags;
  std::vector<GpuSurface*> surfaces;  // per level, made on demand, owned by the texture
};

enum GpuSurfaceKind : uint8_t { GPU_SURFACE_TEXTURE_LEVEL, GPU_SURFACE_DEPTH, GPU_SURFACE_BACK_BUFFER };

struct GpuSurface {
  GpuDevice* device;
  int refs;  // outside references; a texture level's surface also holds one on its texture
  uint64_t id;
  GpuSurfaceKind kind;
  GpuTexture* texture;  // texture levels
  uint32_t level;
  GLuint renderbuffer;  // depth surfaces
  GLuint colour;        // the back buffer: a texture, so the present can draw it
  GpuFormat format;
  uint32_t width, height;
};

struct GpuVertexBuffer {
  GpuDevice* device;
  GLuint name;
  uint32_t bytes, usage, fvf;
  std::vector<uint8_t> shadow;
  uint32_t lock_offset, lock_size;
  bool locked;
};

struct GpuIndexBuffer {
  GpuDevice* device;
  GLuint name;
  uint32_t bytes, usage;
  GpuFormat format;
  std::vector<uint8_t> shadow;
  uint32_t lock_offset, lock_size;
  bool locked;
};

// One vertex input as the device feeds it.
struct GpuAttrib {
  int8_t location;
  uint8_t stream;
  uint16_t offset;
  uint8_t type;  // GpuDeclType
};

struct GpuVertexDecl {
  GpuDevice* device;
  int refs;
  uint64_t id;
  std::vector<GpuAttrib> attribs;
  bool pretransformed;
  bool has_normal, has_diffuse, has_specular;
  uint8_t texcoord_sizes[8];  // components per set, 0 when absent
  uint8_t texcoord_sets;
};

// Fixed-function program key: everything that changes the generated code.
struct GpuFfStage {
  uint8_t colorop, colorarg1, colorarg2, alphaop, alphaarg1, alphaarg2, texcoord;
  uint8_t pad;
};
struct GpuFfKey {
  uint8_t pretransformed;
  uint8_t has_normal, has_diffuse, has_specular;
  uint8_t texcoord_sizes[8];
  uint8_t lighting;
  uint8_t light_types[GPU_MAX_LIGHTS];  // 0 when off
  uint8_t normalize;
  uint8_t specular_enable;
  uint8_t material_sources[4];  // diffuse, specular, ambient, emissive: 0 material, 1 colour 1, 2 colour 2
  uint8_t fog_mode;    // 0 none, else GPU_FOG_*
  uint8_t fog_source;  // 0 vertex-supplied (specular alpha), 1 per-vertex distance, 2 per-pixel depth
  uint8_t range_fog;
  uint8_t alpha_func;  // 0 off, else GPU_CMP_*
  uint8_t clip_planes;
  uint8_t flat;
  uint8_t depth_fixup;  // no clip control: map z from 0..w to -w..w
  uint8_t pad;
  GpuFfStage stages[GPU_MAX_STAGES];
  bool operator==(const GpuFfKey& o) const;
};
struct GpuFfKeyHash {
  size_t operator()(const GpuFfKey& k) const;
};

struct GpuProgram {
  GLuint name;
  GLint u_viewport, u_depth, u_half_pixel, u_wv, u_proj, u_world, u_normal_matrix, u_alpha_ref, u_fog, u_fog_color,
      u_tfactor, u_ambient, u_clip, u_mat;
  GLint u_light[GPU_MAX_LIGHTS];
};
// Compiles one GLSL stage; 0 (and the log on stderr, naming what) on failure.
GLuint gpu_compile_stage(GLenum type, const std::string& src, const char* what);
GpuProgram gpu_ffp_build(const GpuFfKey& key);
GpuProgram gpu_ffp_locate(GLuint program);
std::string gpu_ffp_vertex_source(const GpuFfKey& key);
std::string gpu_ffp_fragment_source(const GpuFfKey& key);

// Programmable stages (gpu_shader_bind.cpp): constant registers per stage and
// the programs linked from shader objects and fixed-function halves.
struct GpuShaderState;
// A shader takes part in the next draw.
bool gpu_shader_active(const GpuDevice* device);
// The program for the bound shaders with the fixed-function key; null when it does not link.
const GpuProgram* gpu_shader_program(GpuDevice* device, const GpuFfKey& key);
// Constant registers and the pixel shader's alpha test and fog, for the program in use.
void gpu_shader_send(GpuDevice* device);
void gpu_shader_state_release(GpuDevice* device);

struct GpuStream {
  GpuVertexBuffer* buffer;
  uint32_t offset, stride;
};

// Stream memory for the immediate draws: two buffers filled in turn.
struct GpuRing {
  GLuint name;   // the buffer being filled
  GLuint spare;  // the other
  GLenum target;
  uint32_t size, spare_size;
  uint32_t head;
  uint64_t spare_free_at;  // the first frame in which no draw reads the spare
};

struct GpuFbo {
  uint64_t key[5];  // surface ids of targets 0 to 3 and the depth surface
  GLuint name;
};

// OpenGL state as last sent, so each draw sends only what changed.
struct GpuGlState {
  bool valid;
  GLuint program, fbo;
  GpuViewport viewport;
  GpuRect scissor;
  uint32_t rs[GPU_RS_COUNT];
  GLuint textures[GPU_MAX_STAGES];
  uint32_t samplers[GPU_MAX_STAGES][GPU_SAMP_COUNT];
  bool sampler_valid[GPU_MAX_STAGES];
  uint32_t fb_height;
};

struct GpuDevice {
  PlatformWindow* window;
  SDL_Window* sdl;
  SDL_GLContext context;
  GpuDeviceType type;
  uint32_t behaviour;
  GpuPresentParams params;
  GpuCaps caps;
  bool clip_control;
  bool s3tc;
  bool in_scene;

  // Back buffer and the current targets.
  GpuSurface* back_buffer;
  GpuSurface* auto_depth;
  GpuSurface* targets[4];
  GpuSurface* depth;
  std::vector<GpuFbo> fbos;
  GLuint present_fbo;
  // Draws the back buffer onto the window (see gpu_present.cpp).
  GLuint present_program, present_vao;

  // Device states.
  uint32_t rs[GPU_RS_COUNT];
  uint32_t samp[GPU_MAX_STAGES][GPU_SAMP_COUNT];
  uint32_t tss[GPU_MAX_STAGES][GPU_TSS_COUNT];
  GpuTexture* textures[GPU_MAX_STAGES];
  float transforms[GPU_TS_COUNT][16];
  float clip_planes[GPU_MAX_CLIP_PLANES][4];
  GpuLight lights[GPU_MAX_LIGHTS];
  bool light_on[GPU_MAX_LIGHTS];
  GpuMaterial material;
  GpuViewport viewport;
  GpuRect scissor;
  GpuStream streams[4];
  GpuIndexBuffer* indices;
  GpuVertexDecl* decl;  // the declaration in force (an FVF's own or the caller's)
  uint32_t fvf;
  std::unordered_map<uint32_t, GpuVertexDecl*> fvf_decls;
  GpuShader* vertex_shader;
  GpuShader* pixel_shader;
  GpuShaderState* shader_state;

  // OpenGL objects of the device.
  GLuint vao;
  GLuint white;
  GLuint samplers[GPU_MAX_STAGES];
  GpuRing vertex_ring, index_ring;
  uint64_t presents;  // frames presented: the stream rings' clock
  std::unordered_map<GpuFfKey, GpuProgram, GpuFfKeyHash> programs;
  GpuGlState gl;
  // Vertex inputs as last specified on the VAO.
  uint64_t attrib_decl_id;
  GLuint attrib_buffers[4];
  uint32_t attrib_offsets[4], attrib_strides[4];
  uint32_t attrib_enabled;

  // Lost-device script.
  GpuLossScript loss;
  int failing_index_locks;  // test hook: index-buffer locks still to refuse
  bool lost;

  // Trace.
  bool trace;
  std::vector<GpuTraceDraw> trace_current, trace_last;
};

uint64_t gpu_next_id();
void gpu_make_current(GpuDevice* device);
// Default states, as after creation and reset.
void gpu_states_reset(GpuDevice* device);
// Forgets what was sent to OpenGL, so the next draw sends everything.
void gpu_gl_invalidate(GpuDevice* device);
// Binds the framebuffer of the current targets; false when target 0 is none.
bool gpu_bind_targets(GpuDevice* device);
void gpu_forget_fbos_of(GpuDevice* device, uint64_t surface_id);
// Binds a texture on the unit no stage samples from, for uploads and the present.
void gpu_bind_scratch_texture(GLuint texture);
GpuSurface* gpu_surface_new(GpuDevice* device, GpuSurfaceKind kind, GpuFormat format, uint32_t width,
                            uint32_t height);
GpuResult gpu_make_back_buffer(GpuDevice* device);
void gpu_draw_release(GpuDevice* device);
void gpu_draw_init(GpuDevice* device);
// The program and vertex array the present draws with; 0 when they cannot be
// made, and the present falls back to a framebuffer blit.
void gpu_present_init(GpuDevice* device);
void gpu_present_release(GpuDevice* device);
void gpu_mat4_multiply(float out[16], const float a[16], const float b[16]);
bool gpu_fvf_elements(uint32_t fvf, std::vector<GpuVertexElement>& out);
uint32_t gpu_decl_type_size(uint8_t type);
