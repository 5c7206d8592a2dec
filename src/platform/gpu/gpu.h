// The drawing device: an immediate-mode device with render states, sampler
// states, texture-stage states, fixed-function vertex processing and texture
// combining, textures, surfaces and buffers, over OpenGL 3.3 core.
//
// Conventions seen by callers (every OpenGL difference is handled inside):
// row vectors and row-major matrices; a top-left origin for viewports,
// scissor rectangles, pre-transformed vertices and texture rows; pixel
// centres on integer coordinates for pre-transformed vertices; depth 0..1.
// Colours are ARGB words (alpha in bits 24 to 31, blue in bits 0 to 7).
// Enumerations keep the numbering the engine does arithmetic on.
//
// All calls belong to the thread that holds the device: the one that created
// it, or one it was handed to with gpu_device_release_thread and
// gpu_device_acquire_thread.
#pragma once

#include <cstddef>
#include <cstdint>

struct PlatformWindow;
struct GpuDevice;
struct GpuTexture;
struct GpuSurface;
struct GpuVertexBuffer;
struct GpuIndexBuffer;
struct GpuVertexDecl;
struct GpuShader;

// ---- Results ------------------------------------------------------------------

enum GpuResult : int32_t {
  GPU_OK = 0,
  GPU_DEVICE_LOST,       // the device cannot draw now; test the cooperative level
  GPU_DEVICE_NOT_RESET,  // the device can be reset now
  GPU_OUT_OF_MEMORY,
  GPU_INVALID_CALL,      // bad argument or call in the wrong state
  GPU_NOT_AVAILABLE,     // the adapter cannot do this (no context, unsupported format)
};

// ---- Formats ------------------------------------------------------------------

constexpr uint32_t gpu_fourcc(char a, char b, char c, char d) {
  return uint32_t(uint8_t(a)) | (uint32_t(uint8_t(b)) << 8) | (uint32_t(uint8_t(c)) << 16) |
         (uint32_t(uint8_t(d)) << 24);
}

enum GpuFormat : uint32_t {
  GPU_FMT_UNKNOWN = 0,
  GPU_FMT_R8G8B8 = 20,
  GPU_FMT_A8R8G8B8 = 21,
  GPU_FMT_X8R8G8B8 = 22,
  GPU_FMT_R5G6B5 = 23,
  GPU_FMT_X1R5G5B5 = 24,
  GPU_FMT_A1R5G5B5 = 25,
  GPU_FMT_A4R4G4B4 = 26,
  GPU_FMT_R3G3B2 = 27,
  GPU_FMT_A8 = 28,
  GPU_FMT_A8R3G3B2 = 29,
  GPU_FMT_X4R4G4B4 = 30,
  GPU_FMT_A2B10G10R10 = 31,
  GPU_FMT_A8B8G8R8 = 32,
  GPU_FMT_X8B8G8R8 = 33,
  GPU_FMT_G16R16 = 34,
  GPU_FMT_A2R10G10B10 = 35,
  GPU_FMT_A16B16G16R16 = 36,
  GPU_FMT_A8P8 = 40,
  GPU_FMT_P8 = 41,
  GPU_FMT_L8 = 50,
  GPU_FMT_A8L8 = 51,
  GPU_FMT_A4L4 = 52,
  GPU_FMT_V8U8 = 60,
  GPU_FMT_L6V5U5 = 61,
  GPU_FMT_X8L8V8U8 = 62,
  GPU_FMT_Q8W8V8U8 = 63,
  GPU_FMT_V16U16 = 64,
  GPU_FMT_A2W10V10U10 = 67,
  GPU_FMT_D16_LOCKABLE = 70,
  GPU_FMT_D32 = 71,
  GPU_FMT_D15S1 = 73,
  GPU_FMT_D24S8 = 75,
  GPU_FMT_D24X8 = 77,
  GPU_FMT_D24X4S4 = 79,
  GPU_FMT_D16 = 80,
  GPU_FMT_L16 = 81,
  GPU_FMT_D32F_LOCKABLE = 82,
  GPU_FMT_D24FS8 = 83,
  GPU_FMT_INDEX16 = 101,
  GPU_FMT_INDEX32 = 102,
  GPU_FMT_Q16W16V16U16 = 110,
  GPU_FMT_R16F = 111,
  GPU_FMT_G16R16F = 112,
  GPU_FMT_A16B16G16R16F = 113,
  GPU_FMT_R32F = 114,
  GPU_FMT_G32R32F = 115,
  GPU_FMT_A32B32G32R32F = 116,
  GPU_FMT_DXT1 = gpu_fourcc('D', 'X', 'T', '1'),
  GPU_FMT_DXT2 = gpu_fourcc('D', 'X', 'T', '2'),
  GPU_FMT_DXT3 = gpu_fourcc('D', 'X', 'T', '3'),
  GPU_FMT_DXT4 = gpu_fourcc('D', 'X', 'T', '4'),
  GPU_FMT_DXT5 = gpu_fourcc('D', 'X', 'T', '5'),
};

// Bytes per pixel of an uncompressed format the device stores, 0 otherwise.
uint32_t gpu_format_bytes(GpuFormat format);
bool gpu_format_is_depth(GpuFormat format);
bool gpu_format_has_stencil(GpuFormat format);

// ---- Adapter ------------------------------------------------------------------

enum GpuDeviceType : uint32_t { GPU_DEVICE_HAL = 1, GPU_DEVICE_REF = 2 };

// Creation behaviour flags.
enum : uint32_t {
  GPU_CREATE_PURE = 0x10,
  GPU_CREATE_SOFTWARE_VP = 0x20,
  GPU_CREATE_HARDWARE_VP = 0x40,
};

struct GpuCaps {
  uint32_t vertex_shader_version;  // 0xFFFE0000 | major << 8 | minor
  uint32_t pixel_shader_version;   // 0xFFFF0000 | major << 8 | minor
  uint32_t max_simultaneous_rts;
  uint32_t max_texture_width, max_texture_height;
  uint32_t max_texture_stages;
  uint32_t max_active_lights;
  uint32_t max_user_clip_planes;
  uint32_t max_streams;
  uint32_t max_primitive_count;
  uint32_t max_vertex_index;
};

struct GpuDisplayMode {
  uint32_t width, height, refresh_rate;
  GpuFormat format;
};

// Capabilities of the adapter (before a device exists).
GpuResult gpu_adapter_caps(GpuDeviceType type, GpuCaps* out);
GpuResult gpu_adapter_display_mode(GpuDisplayMode* out);

// Usage bits for resources and format checks.
enum : uint32_t {
  GPU_USAGE_RENDERTARGET = 0x1,
  GPU_USAGE_DEPTHSTENCIL = 0x2,
  GPU_USAGE_DYNAMIC = 0x200,
  GPU_USAGE_AUTOGENMIPMAP = 0x400,
  GPU_USAGE_QUERY_POSTPIXELSHADER_BLENDING = 0x80000,
  GPU_USAGE_QUERY_FILTER = 0x20000,
  GPU_USAGE_WRITEONLY = 0x8,
};

enum GpuResourceType : uint32_t { GPU_RTYPE_SURFACE = 1, GPU_RTYPE_TEXTURE = 3 };

// GPU_OK when a resource of the format can be made with the usage.
GpuResult gpu_check_format(GpuDeviceType type, GpuFormat adapter_format, uint32_t usage, GpuResourceType rtype,
                           GpuFormat format);

// ---- Device ---------------------------------------------------------------------

enum GpuSwapEffect : uint32_t { GPU_SWAP_DISCARD = 1, GPU_SWAP_FLIP = 2, GPU_SWAP_COPY = 3 };
enum : uint32_t { GPU_PRESENT_INTERVAL_DEFAULT = 0, GPU_PRESENT_INTERVAL_ONE = 1,
                  GPU_PRESENT_INTERVAL_IMMEDIATE = 0x80000000u };
enum : uint32_t { GPU_PRESENTFLAG_LOCKABLE_BACKBUFFER = 1 };

struct GpuPresentParams {
  uint32_t back_buffer_width;   // 0: the window's client width
  uint32_t back_buffer_height;  // 0: the window's client height
  GpuFormat back_buffer_format;
  uint32_t back_buffer_count;
  uint32_t multisample;
  GpuSwapEffect swap_effect;
  PlatformWindow* window;
  bool windowed;
  bool auto_depth_stencil;
  GpuFormat auto_depth_stencil_format;
  uint32_t flags;
  uint32_t refresh_rate;
  uint32_t presentation_interval;
};

// Creates the device on the window. The back buffer is an off-screen target
// of the parameters' size, presented to the window stretched to its client
// size, without waiting for the vertical retrace. The parameters' zero sizes
// are filled in.
GpuResult gpu_device_create(GpuDeviceType type, PlatformWindow* window, uint32_t behaviour, GpuPresentParams* params,
                            GpuDevice** out);
void gpu_device_release(GpuDevice* device);
GpuResult gpu_device_caps(GpuDevice* device, GpuCaps* out);
// Hands the device from one thread to another: the holding thread releases
// it, then the next one acquires it before its first call.
void gpu_device_release_thread(GpuDevice* device);
void gpu_device_acquire_thread(GpuDevice* device);
bool gpu_device_has_clip_control(GpuDevice* device);

GpuResult gpu_test_cooperative_level(GpuDevice* device);
// Rebuilds the back buffer from the parameters and returns every state to its
// default; textures and buffers survive.
GpuResult gpu_reset(GpuDevice* device, GpuPresentParams* params);
GpuResult gpu_present(GpuDevice* device);

GpuResult gpu_begin_scene(GpuDevice* device);
GpuResult gpu_end_scene(GpuDevice* device);

enum : uint32_t { GPU_CLEAR_TARGET = 1, GPU_CLEAR_ZBUFFER = 2, GPU_CLEAR_STENCIL = 4 };
// Clears the viewport rectangle (within the scissor rectangle when the scissor
// test is on) of the bound surfaces; flags for surfaces not bound are ignored.
GpuResult gpu_clear(GpuDevice* device, uint32_t flags, uint32_t argb, float z, uint32_t stencil);

struct GpuViewport {
  uint32_t x, y, width, height;
  float min_z, max_z;
};
struct GpuRect {
  int32_t left, top, right, bottom;
};
GpuResult gpu_set_viewport(GpuDevice* device, const GpuViewport& viewport);
GpuViewport gpu_get_viewport(GpuDevice* device);
GpuResult gpu_set_scissor_rect(GpuDevice* device, const GpuRect& rect);
GpuRect gpu_get_scissor_rect(GpuDevice* device);

// ---- Render states --------------------------------------------------------------

enum GpuRenderState : uint32_t {
  GPU_RS_ZENABLE,
  GPU_RS_FILLMODE,
  GPU_RS_SHADEMODE,
  GPU_RS_ZWRITEENABLE,
  GPU_RS_ALPHATESTENABLE,
  GPU_RS_SRCBLEND,
  GPU_RS_DESTBLEND,
  GPU_RS_CULLMODE,
  GPU_RS_ZFUNC,
  GPU_RS_ALPHAREF,
  GPU_RS_ALPHAFUNC,
  GPU_RS_ALPHABLENDENABLE,
  GPU_RS_FOGENABLE,
  GPU_RS_SPECULARENABLE,
  GPU_RS_FOGCOLOR,
  GPU_RS_FOGTABLEMODE,
  GPU_RS_FOGSTART,    // float bits
  GPU_RS_FOGEND,      // float bits
  GPU_RS_FOGDENSITY,  // float bits
  GPU_RS_RANGEFOGENABLE,
  GPU_RS_STENCILENABLE,
  GPU_RS_STENCILFAIL,
  GPU_RS_STENCILZFAIL,
  GPU_RS_STENCILPASS,
  GPU_RS_STENCILFUNC,
  GPU_RS_STENCILREF,
  GPU_RS_STENCILMASK,
  GPU_RS_STENCILWRITEMASK,
  GPU_RS_TEXTUREFACTOR,
  GPU_RS_LIGHTING,
  GPU_RS_AMBIENT,
  GPU_RS_FOGVERTEXMODE,
  GPU_RS_COLORVERTEX,
  GPU_RS_NORMALIZENORMALS,
  GPU_RS_DIFFUSEMATERIALSOURCE,
  GPU_RS_SPECULARMATERIALSOURCE,
  GPU_RS_AMBIENTMATERIALSOURCE,
  GPU_RS_EMISSIVEMATERIALSOURCE,
  GPU_RS_CLIPPLANEENABLE,
  GPU_RS_POINTSIZE,  // float bits
  GPU_RS_COLORWRITEENABLE,
  GPU_RS_BLENDOP,
  GPU_RS_SCISSORTESTENABLE,
  GPU_RS_DEPTHBIAS,            // float bits
  GPU_RS_SLOPESCALEDEPTHBIAS,  // float bits
  GPU_RS_SEPARATEALPHABLENDENABLE,
  GPU_RS_SRCBLENDALPHA,
  GPU_RS_DESTBLENDALPHA,
  GPU_RS_BLENDOPALPHA,
  GPU_RS_COUNT
};

enum : uint32_t { GPU_FILL_POINT = 1, GPU_FILL_WIREFRAME = 2, GPU_FILL_SOLID = 3 };
enum : uint32_t { GPU_SHADE_FLAT = 1, GPU_SHADE_GOURAUD = 2 };
enum : uint32_t { GPU_CULL_NONE = 1, GPU_CULL_CW = 2, GPU_CULL_CCW = 3 };
enum : uint32_t {
  GPU_CMP_NEVER = 1, GPU_CMP_LESS, GPU_CMP_EQUAL, GPU_CMP_LESSEQUAL,
  GPU_CMP_GREATER, GPU_CMP_NOTEQUAL, GPU_CMP_GREATEREQUAL, GPU_CMP_ALWAYS
};
enum : uint32_t {
  GPU_BLEND_ZERO = 1, GPU_BLEND_ONE, GPU_BLEND_SRCCOLOR, GPU_BLEND_INVSRCCOLOR, GPU_BLEND_SRCALPHA,
  GPU_BLEND_INVSRCALPHA, GPU_BLEND_DESTALPHA, GPU_BLEND_INVDESTALPHA, GPU_BLEND_DESTCOLOR, GPU_BLEND_INVDESTCOLOR,
  GPU_BLEND_SRCALPHASAT
};
enum : uint32_t { GPU_BLENDOP_ADD = 1, GPU_BLENDOP_SUBTRACT, GPU_BLENDOP_REVSUBTRACT, GPU_BLENDOP_MIN, GPU_BLENDOP_MAX };
enum : uint32_t {
  GPU_STENCILOP_KEEP = 1, GPU_STENCILOP_ZERO, GPU_STENCILOP_REPLACE, GPU_STENCILOP_INCRSAT,
  GPU_STENCILOP_DECRSAT, GPU_STENCILOP_INVERT, GPU_STENCILOP_INCR, GPU_STENCILOP_DECR
};
enum : uint32_t { GPU_FOG_NONE = 0, GPU_FOG_EXP = 1, GPU_FOG_EXP2 = 2, GPU_FOG_LINEAR = 3 };
enum : uint32_t { GPU_MCS_MATERIAL = 0, GPU_MCS_COLOR1 = 1, GPU_MCS_COLOR2 = 2 };
enum : uint32_t { GPU_COLORWRITE_RED = 1, GPU_COLORWRITE_GREEN = 2, GPU_COLORWRITE_BLUE = 4, GPU_COLORWRITE_ALPHA = 8 };

uint32_t gpu_float_bits(float f);
float gpu_bits_float(uint32_t bits);

GpuResult gpu_set_render_state(GpuDevice* device, GpuRenderState state, uint32_t value);
uint32_t gpu_get_render_state(GpuDevice* device, GpuRenderState state);

// ---- Sampler and texture-stage states -----------------------------------------------

enum { GPU_MAX_STAGES = 8 };

enum GpuSamplerState : uint32_t {
  GPU_SAMP_ADDRESSU,
  GPU_SAMP_ADDRESSV,
  GPU_SAMP_ADDRESSW,
  GPU_SAMP_BORDERCOLOR,
  GPU_SAMP_MAGFILTER,
  GPU_SAMP_MINFILTER,
  GPU_SAMP_MIPFILTER,
  GPU_SAMP_MIPMAPLODBIAS,  // float bits
  GPU_SAMP_MAXMIPLEVEL,
  GPU_SAMP_MAXANISOTROPY,
  GPU_SAMP_COUNT
};
enum : uint32_t { GPU_ADDRESS_WRAP = 1, GPU_ADDRESS_MIRROR, GPU_ADDRESS_CLAMP, GPU_ADDRESS_BORDER, GPU_ADDRESS_MIRRORONCE };
enum : uint32_t { GPU_FILTER_NONE = 0, GPU_FILTER_POINT, GPU_FILTER_LINEAR, GPU_FILTER_ANISOTROPIC };

enum GpuStageState : uint32_t {
  GPU_TSS_COLOROP,
  GPU_TSS_COLORARG1,
  GPU_TSS_COLORARG2,
  GPU_TSS_ALPHAOP,
  GPU_TSS_ALPHAARG1,
  GPU_TSS_ALPHAARG2,
  GPU_TSS_TEXCOORDINDEX,
  GPU_TSS_COUNT
};
enum : uint32_t {
  GPU_TOP_DISABLE = 1, GPU_TOP_SELECTARG1, GPU_TOP_SELECTARG2, GPU_TOP_MODULATE, GPU_TOP_MODULATE2X,
  GPU_TOP_MODULATE4X, GPU_TOP_ADD, GPU_TOP_ADDSIGNED, GPU_TOP_ADDSIGNED2X, GPU_TOP_SUBTRACT, GPU_TOP_ADDSMOOTH,
  GPU_TOP_BLENDDIFFUSEALPHA, GPU_TOP_BLENDTEXTUREALPHA, GPU_TOP_BLENDFACTORALPHA, GPU_TOP_BLENDTEXTUREALPHAPM,
  GPU_TOP_BLENDCURRENTALPHA
};
enum : uint32_t {
  GPU_TA_DIFFUSE = 0, GPU_TA_CURRENT = 1, GPU_TA_TEXTURE = 2, GPU_TA_TFACTOR = 3, GPU_TA_SPECULAR = 4,
  GPU_TA_COMPLEMENT = 0x10, GPU_TA_ALPHAREPLICATE = 0x20
};

GpuResult gpu_set_sampler_state(GpuDevice* device, uint32_t stage, GpuSamplerState state, uint32_t value);
uint32_t gpu_get_sampler_state(GpuDevice* device, uint32_t stage, GpuSamplerState state);
GpuResult gpu_set_stage_state(GpuDevice* device, uint32_t stage, GpuStageState state, uint32_t value);
uint32_t gpu_get_stage_state(GpuDevice* device, uint32_t stage, GpuStageState state);

// A stage with no texture reads opaque white.
GpuResult gpu_set_texture(GpuDevice* device, uint32_t stage, GpuTexture* texture);
GpuTexture* gpu_get_texture(GpuDevice* device, uint32_t stage);

// ---- Transforms, clip planes, lights ---------------------------------------------------

enum GpuTransform : uint32_t { GPU_TS_WORLD, GPU_TS_VIEW, GPU_TS_PROJECTION, GPU_TS_COUNT };
GpuResult gpu_set_transform(GpuDevice* device, GpuTransform which, const float m[16]);
void gpu_get_transform(GpuDevice* device, GpuTransform which, float m[16]);

enum { GPU_MAX_CLIP_PLANES = 6, GPU_MAX_LIGHTS = 8 };
// Plane (a, b, c, d) in world space for fixed-function drawing: points with
// a x + b y + c z + d < 0 are clipped.
GpuResult gpu_set_clip_plane(GpuDevice* device, uint32_t index, const float plane[4]);

struct GpuColorValue {
  float r, g, b, a;
};
enum : uint32_t { GPU_LIGHT_POINT = 1, GPU_LIGHT_SPOT = 2, GPU_LIGHT_DIRECTIONAL = 3 };
struct GpuLight {
  uint32_t type;
  GpuColorValue diffuse, specular, ambient;
  float position[3];
  float direction[3];
  float range, falloff, attenuation0, attenuation1, attenuation2, theta, phi;
};
struct GpuMaterial {
  GpuColorValue diffuse, ambient, specular, emissive;
  float power;
};
GpuResult gpu_set_light(GpuDevice* device, uint32_t index, const GpuLight& light);
GpuResult gpu_light_enable(GpuDevice* device, uint32_t index, bool enable);
GpuResult gpu_set_material(GpuDevice* device, const GpuMaterial& material);

// ---- Textures and surfaces ---------------------------------------------------------------

enum GpuPool : uint32_t { GPU_POOL_DEFAULT = 0, GPU_POOL_MANAGED = 1, GPU_POOL_SYSTEMMEM = 2 };

struct GpuSurfaceDesc {
  GpuFormat format;
  uint32_t usage;
  GpuPool pool;
  uint32_t width, height;
};
struct GpuLockedRect {
  int32_t pitch;
  void* bits;
};
enum : uint32_t { GPU_LOCK_READONLY = 0x10, GPU_LOCK_DISCARD = 0x2000 };

// A new texture holds zeros. levels 0 makes the full chain down to 1 x 1.
// Render targets live in the default pool, other textures in the managed one.
GpuResult gpu_create_texture(GpuDevice* device, uint32_t width, uint32_t height, uint32_t levels, uint32_t usage,
                             GpuFormat format, GpuPool pool, GpuTexture** out);
// A managed one-level-or-more texture that the caller fills whole with
// gpu_texture_write_rows before it is drawn: nothing is cleared, so its
// texels start undefined, and no copy is kept until the first lock.
GpuResult gpu_create_texture_unfilled(GpuDevice* device, uint32_t width, uint32_t height, uint32_t levels,
                                      GpuFormat format, GpuTexture** out);
void gpu_texture_add_ref(GpuTexture* texture);
void gpu_texture_release(GpuTexture* texture);
// A number that no other texture of this run has had; stays valid after release.
uint64_t gpu_texture_id(const GpuTexture* texture);
uint32_t gpu_texture_level_count(const GpuTexture* texture);
GpuResult gpu_texture_level_desc(const GpuTexture* texture, uint32_t level, GpuSurfaceDesc* out);
// A new reference to the level's surface.
GpuResult gpu_texture_surface(GpuTexture* texture, uint32_t level, GpuSurface** out);
// Lock a rectangle of a level (null = whole level) of a managed texture.
// Rows are top first, pitch in bytes; compressed formats lock whole 4 x 4 blocks.
GpuResult gpu_texture_lock(GpuTexture* texture, uint32_t level, const GpuRect* rect, GpuLockedRect* out,
                           uint32_t flags);
GpuResult gpu_texture_unlock(GpuTexture* texture, uint32_t level);
// Whole rows first to first + count - 1 of a level of a managed texture, from
// rows of the format's bytes laid one after the other; refused for rows
// outside the level, a compressed format or a locked level.
GpuResult gpu_texture_write_rows(GpuTexture* texture, uint32_t level, uint32_t first, uint32_t count,
                                 const void* pixels);
// Recomputes levels 1 and down from level 0 with a box filter.
GpuResult gpu_texture_generate_mips(GpuTexture* texture);

// Depth-stencil surfaces: discard means the contents need not survive a
// change of depth surface.
GpuResult gpu_create_depth_surface(GpuDevice* device, uint32_t width, uint32_t height, GpuFormat format,
                                   uint32_t multisample, uint32_t quality, bool discard, GpuSurface** out);
void gpu_surface_add_ref(GpuSurface* surface);
void gpu_surface_release(GpuSurface* surface);
GpuResult gpu_surface_desc(const GpuSurface* surface, GpuSurfaceDesc* out);
uint64_t gpu_surface_id(const GpuSurface* surface);

// Render targets: index 0 to max_simultaneous_rts - 1. Setting target 0 sets
// the viewport and the scissor rectangle to the whole target. The getters
// return new references (null when nothing is bound).
GpuResult gpu_set_render_target(GpuDevice* device, uint32_t index, GpuSurface* surface);
GpuResult gpu_get_render_target(GpuDevice* device, uint32_t index, GpuSurface** out);
GpuResult gpu_set_depth_surface(GpuDevice* device, GpuSurface* surface);
GpuResult gpu_get_depth_surface(GpuDevice* device, GpuSurface** out);

// Reads pixels of a colour surface (a render target or the back buffer) as
// ARGB words, rows top first. Not for the frame loop: it waits for the GPU.
GpuResult gpu_read_surface(GpuDevice* device, GpuSurface* surface, const GpuRect& rect, uint32_t* argb);

// ---- Buffers and vertex formats -------------------------------------------------------------

GpuResult gpu_create_vertex_buffer(GpuDevice* device, uint32_t bytes, uint32_t usage, uint32_t fvf, GpuPool pool,
                                   GpuVertexBuffer** out);
void gpu_vertex_buffer_release(GpuVertexBuffer* buffer);
// size 0 locks to the end. The contents reach the device at unlock.
GpuResult gpu_vertex_buffer_lock(GpuVertexBuffer* buffer, uint32_t offset, uint32_t size, void** out, uint32_t flags);
GpuResult gpu_vertex_buffer_unlock(GpuVertexBuffer* buffer);

GpuResult gpu_create_index_buffer(GpuDevice* device, uint32_t bytes, uint32_t usage, GpuFormat format, GpuPool pool,
                                  GpuIndexBuffer** out);
void gpu_index_buffer_release(GpuIndexBuffer* buffer);
GpuResult gpu_index_buffer_lock(GpuIndexBuffer* buffer, uint32_t offset, uint32_t size, void** out, uint32_t flags);
GpuResult gpu_index_buffer_unlock(GpuIndexBuffer* buffer);

GpuResult gpu_set_stream_source(GpuDevice* device, uint32_t stream, GpuVertexBuffer* buffer, uint32_t offset,
                                uint32_t stride);
GpuResult gpu_set_indices(GpuDevice* device, GpuIndexBuffer* buffer);

// Flexible vertex format codes.
enum : uint32_t {
  GPU_FVF_XYZ = 0x002,
  GPU_FVF_XYZRHW = 0x004,
  GPU_FVF_XYZB1 = 0x006,
  GPU_FVF_XYZB2 = 0x008,
  GPU_FVF_XYZB3 = 0x00A,
  GPU_FVF_XYZB4 = 0x00C,
  GPU_FVF_XYZB5 = 0x00E,
  GPU_FVF_POSITION_MASK = 0x00E,
  GPU_FVF_NORMAL = 0x010,
  GPU_FVF_PSIZE = 0x020,
  GPU_FVF_DIFFUSE = 0x040,
  GPU_FVF_SPECULAR = 0x080,
  GPU_FVF_TEXCOUNT_MASK = 0xF00,
  GPU_FVF_TEXCOUNT_SHIFT = 8,
  GPU_FVF_LASTBETA_UBYTE4 = 0x1000,
  GPU_FVF_LASTBETA_COLOR = 0x8000,
};
constexpr uint32_t gpu_fvf_tex(uint32_t n) { return n << GPU_FVF_TEXCOUNT_SHIFT; }
// Size code of texture-coordinate set i: 0 two floats, 1 three, 2 four, 3 one.
constexpr uint32_t gpu_fvf_texcoord_size(uint32_t set, uint32_t code) { return code << (set * 2 + 16); }
// Vertex size of a code, 0 for a code that names no position.
uint32_t gpu_fvf_stride(uint32_t fvf);

enum GpuDeclType : uint8_t {
  GPU_DECL_FLOAT1 = 0, GPU_DECL_FLOAT2, GPU_DECL_FLOAT3, GPU_DECL_FLOAT4, GPU_DECL_COLOR, GPU_DECL_UBYTE4,
  GPU_DECL_SHORT2, GPU_DECL_SHORT4, GPU_DECL_UBYTE4N, GPU_DECL_SHORT2N, GPU_DECL_SHORT4N,
  GPU_DECL_UNUSED = 17
};
enum GpuDeclUsage : uint8_t {
  GPU_USAGE_POSITION = 0, GPU_USAGE_BLENDWEIGHT, GPU_USAGE_BLENDINDICES, GPU_USAGE_NORMAL, GPU_USAGE_PSIZE,
  GPU_USAGE_TEXCOORD, GPU_USAGE_TANGENT, GPU_USAGE_BINORMAL, GPU_USAGE_TESSFACTOR, GPU_USAGE_POSITIONT,
  GPU_USAGE_COLOR, GPU_USAGE_FOG, GPU_USAGE_DEPTH, GPU_USAGE_SAMPLE
};
struct GpuVertexElement {
  uint16_t stream;  // 0xFF ends the list
  uint16_t offset;
  uint8_t type;     // GpuDeclType
  uint8_t method;   // 0
  uint8_t usage;    // GpuDeclUsage
  uint8_t usage_index;
};
constexpr GpuVertexElement GPU_DECL_END = {0xFF, 0, GPU_DECL_UNUSED, 0, 0, 0};

// The attribute location that a vertex input of the usage and index is fed
// through, for fixed-function programs and the programs of shader objects;
// -1 for inputs the device does not feed.
int gpu_attribute_location(uint8_t usage, uint8_t usage_index);

GpuResult gpu_create_vertex_decl(GpuDevice* device, const GpuVertexElement* elements, GpuVertexDecl** out);
// The declaration an FVF code describes (all in stream 0).
GpuResult gpu_create_vertex_decl_from_fvf(GpuDevice* device, uint32_t fvf, GpuVertexDecl** out);
void gpu_vertex_decl_release(GpuVertexDecl* decl);
GpuResult gpu_set_vertex_decl(GpuDevice* device, GpuVertexDecl* decl);
GpuResult gpu_set_fvf(GpuDevice* device, uint32_t fvf);
uint32_t gpu_get_fvf(GpuDevice* device);

// ---- Programmable stages ---------------------------------------------------------------------

// Shader objects are made by the shader module. Null selects the
// fixed-function stage; a declaration with pre-transformed positions always
// uses the fixed-function vertex stage.
GpuResult gpu_set_vertex_shader(GpuDevice* device, GpuShader* shader);
GpuResult gpu_set_pixel_shader(GpuDevice* device, GpuShader* shader);
GpuShader* gpu_get_vertex_shader(GpuDevice* device);
GpuShader* gpu_get_pixel_shader(GpuDevice* device);

enum GpuShaderStage : uint32_t { GPU_SHADER_VERTEX = 0, GPU_SHADER_PIXEL = 1 };
// Constant registers per stage, four 32-bit words each. The vertex stage
// holds a 128-matrix bone palette (3 registers a matrix) beside its
// transforms, lights and material colours.
enum : uint32_t { GPU_VS_CONSTANT_REGISTERS = 512, GPU_PS_CONSTANT_REGISTERS = 256 };
// Bytes of the stage's constant registers; 0 for no stage.
uint32_t gpu_shader_constant_bytes(GpuShaderStage stage);

// A value a stage program reads or writes between stages, by vertex usage:
// vertex outputs POSITION (clip position, Direct3D clip space), COLOR 0/1,
// TEXCOORD 0-7, FOG; pixel inputs COLOR 0/1, TEXCOORD 0-7; pixel output
// COLOR 0. Others are kept but not connected.
struct GpuShaderVarying {
  uint8_t usage;  // GpuDeclUsage
  uint8_t usage_index;
  uint8_t components;  // 1 to 4 floats
  bool output;
  char name[24];  // the program's global variable
};

// A stage program in GLSL 3.30 without the version line:
// - its code is the function `void tl_main()`;
// - vertex inputs are `in` variables at the locations gpu_attribute_location gives;
// - the varyings are plain global variables;
// - constants are the members of the uniform block "tl_vs_constants" or
//   "tl_ps_constants", whose bytes are the stage's constant registers;
// - samplers are named tl_s0 to tl_s7 after their sampler register.
struct GpuShaderDesc {
  GpuShaderStage stage;
  const char* glsl;
  const GpuShaderVarying* varyings;
  uint32_t varying_count;
};
// GPU_INVALID_CALL, with the reason on stderr, when OpenGL refuses the code;
// GPU_NOT_AVAILABLE when OpenGL's uniform blocks cannot hold the stage's registers.
GpuResult gpu_create_shader(GpuDevice* device, const GpuShaderDesc& desc, GpuShader** out);
// Release shaders before their device. Releasing a bound shader unbinds it.
void gpu_shader_release(GpuShader* shader);
GpuShaderStage gpu_shader_stage(const GpuShader* shader);

// The constant registers belong to the stage, not to a shader: a value stays
// in force for every program bound later. Offsets and sizes are in bytes,
// multiples of 4, within gpu_shader_constant_bytes of the stage.
GpuResult gpu_set_shader_constants(GpuDevice* device, GpuShaderStage stage, uint32_t offset, const void* data,
                                   uint32_t bytes);
GpuResult gpu_get_shader_constants(GpuDevice* device, GpuShaderStage stage, uint32_t offset, void* out,
                                   uint32_t bytes);

// ---- Drawing --------------------------------------------------------------------------------

enum GpuPrimitive : uint32_t {
  GPU_PT_POINTLIST = 1, GPU_PT_LINELIST, GPU_PT_LINESTRIP, GPU_PT_TRIANGLELIST, GPU_PT_TRIANGLESTRIP,
  GPU_PT_TRIANGLEFAN
};
// Vertices a number of primitives of the type uses.
uint32_t gpu_primitive_vertex_count(GpuPrimitive type, uint32_t count);

GpuResult gpu_draw_primitive(GpuDevice* device, GpuPrimitive type, uint32_t start_vertex, uint32_t count);
GpuResult gpu_draw_indexed_primitive(GpuDevice* device, GpuPrimitive type, int32_t base_vertex, uint32_t min_index,
                                     uint32_t num_vertices, uint32_t start_index, uint32_t count);
// Immediate forms: the vertices (and indices) are copied into a stream buffer.
// Stream 0 and the index buffer are unbound afterwards.
GpuResult gpu_draw_primitive_up(GpuDevice* device, GpuPrimitive type, uint32_t count, const void* vertices,
                                uint32_t stride);
GpuResult gpu_draw_indexed_primitive_up(GpuDevice* device, GpuPrimitive type, uint32_t min_index,
                                        uint32_t num_vertices, uint32_t count, const void* indices,
                                        GpuFormat index_format, const void* vertices, uint32_t stride);

// ---- Test hooks -------------------------------------------------------------------------------

// Loses the device: presents report GPU_DEVICE_LOST and show nothing; the
// cooperative level reports GPU_DEVICE_LOST lost_polls times, then
// GPU_DEVICE_NOT_RESET (or GPU_OK, ending the loss, when needs_reset is
// false); the first reset_failures resets fail.
struct GpuLossScript {
  int lost_polls;
  bool needs_reset;
  int reset_failures;
};
void gpu_debug_lose_device(GpuDevice* device, const GpuLossScript& script);

// Makes the next count index-buffer locks on the device fail.
void gpu_debug_fail_index_locks(GpuDevice* device, int count);

// Makes the adapter report other shader versions and refuse creation
// attempts: bit (type - 1) * 3 + k refuses the type with the behaviour
// k = 0 hardware and pure, 1 hardware, 2 software. Null restores the adapter.
struct GpuAdapterOverride {
  uint32_t vertex_shader_version;
  uint32_t pixel_shader_version;
  uint32_t refused_attempts;
};
void gpu_debug_override_adapter(const GpuAdapterOverride* override_or_null);
// The device takes textures of at most side x side from now on (when that is
// below its own limit); 0 restores its own limit.
void gpu_debug_limit_texture_side(GpuDevice* device, uint32_t side);
// The creation attempts made since the last override, in order: type << 8 | behaviour.
int gpu_debug_creation_attempts(uint32_t* out, int max);

// Per-frame trace of draws, for tests. A frame ends at each present.
struct GpuTraceDraw {
  GpuPrimitive type;
  uint32_t primitive_count;
  uint32_t vertex_count;
  uint32_t fvf;  // 0 when a declaration was used
  uint32_t render_states[GPU_RS_COUNT];
  uint32_t stage_states[2][GPU_TSS_COUNT];
  uint32_t sampler_states[2][GPU_SAMP_COUNT];
  uint64_t textures[2];  // texture ids of stages 0 and 1, 0 for none
  uint64_t render_target;  // surface id of target 0
  GpuViewport viewport;
  GpuRect scissor;
  bool vertex_shader, pixel_shader;
};
void gpu_trace_enable(GpuDevice* device, bool enable);
// Draws of the last presented frame, and of the frame being drawn.
const GpuTraceDraw* gpu_trace_last_frame(GpuDevice* device, size_t* count);
const GpuTraceDraw* gpu_trace_current_frame(GpuDevice* device, size_t* count);
