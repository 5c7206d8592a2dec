// The present: the back buffer, a texture the device draws into with its top
// row first, drawn onto the window upside down (the window's row 0 is its
// bottom) and scaled to the window's size, then swapped.
//
// It draws with a program of its own rather than a framebuffer blit: the
// software rasteriser builds a blit program at every start that it cannot
// keep in its shader cache, and a flipped blit takes its slow path on every
// frame besides; an ordinary program is cached like any other.
#include <SDL.h>

#include "platform/gpu/gpu_internal.h"

namespace {

// One triangle that covers the window; row 0 of the back buffer at the top.
constexpr const char* kVertexSource =
    "#version 330 core\n"
    "out vec2 v_uv;\n"
    "void main() {\n"
    "  vec2 p = vec2(gl_VertexID == 1 ? 3.0 : -1.0, gl_VertexID == 2 ? 3.0 : -1.0);\n"
    "  v_uv = vec2(p.x * 0.5 + 0.5, 0.5 - p.y * 0.5);\n"
    "  gl_Position = vec4(p, 0.0, 1.0);\n"
    "}\n";

constexpr const char* kFragmentSource =
    "#version 330 core\n"
    "in vec2 v_uv;\n"
    "uniform sampler2D u_back;\n"
    "out vec4 o_colour;\n"
    "void main() { o_colour = texture(u_back, v_uv); }\n";

GLuint compile(GLenum kind, const char* source) {
  GLuint shader = glCreateShader(kind);
  glShaderSource(shader, 1, &source, nullptr);
  glCompileShader(shader);
  GLint ok = GL_FALSE;
  glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
  if (ok != GL_TRUE) {
    glDeleteShader(shader);
    return 0;
  }
  return shader;
}

// Binds what the present draws with; everything else that affects a draw is
// switched off here and sent again by the next draw of the device.
void set_present_state(GpuDevice* d, int width, int height, bool same_size) {
  glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
  glViewport(0, 0, width, height);
  glDisable(GL_SCISSOR_TEST);
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_STENCIL_TEST);
  glDisable(GL_BLEND);
  glDisable(GL_CULL_FACE);
  glDisable(GL_POLYGON_OFFSET_FILL);
  for (int i = 0; i < GPU_MAX_CLIP_PLANES; ++i) glDisable(GLenum(GL_CLIP_DISTANCE0 + i));
  glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
  glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
  glUseProgram(d->present_program);
  glBindVertexArray(d->present_vao);
  gpu_bind_scratch_texture(d->back_buffer->colour);
  glBindSampler(GPU_MAX_STAGES, 0);
  const GLint filter = same_size ? GL_NEAREST : GL_LINEAR;
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
}

}  // namespace

void gpu_present_init(GpuDevice* d) {
  GLuint vs = compile(GL_VERTEX_SHADER, kVertexSource), fs = compile(GL_FRAGMENT_SHADER, kFragmentSource);
  GLuint program = 0;
  if (vs && fs) {
    program = glCreateProgram();
    glAttachShader(program, vs);
    glAttachShader(program, fs);
    glLinkProgram(program);
    GLint ok = GL_FALSE;
    glGetProgramiv(program, GL_LINK_STATUS, &ok);
    if (ok != GL_TRUE) {
      glDeleteProgram(program);
      program = 0;
    }
  }
  glDeleteShader(vs);
  glDeleteShader(fs);
  d->present_program = program;
  if (!program) return;
  glUseProgram(program);
  glUniform1i(glGetUniformLocation(program, "u_back"), GPU_MAX_STAGES);
  // A vertex array with no inputs: the triangle comes from the vertex index.
  glGenVertexArrays(1, &d->present_vao);
  gpu_gl_invalidate(d);
}

void gpu_present_release(GpuDevice* d) {
  if (d->present_program) glDeleteProgram(d->present_program);
  if (d->present_vao) glDeleteVertexArrays(1, &d->present_vao);
  d->present_program = d->present_vao = 0;
}

GpuResult gpu_present(GpuDevice* d) {
  if (!d) return GPU_INVALID_CALL;
  if (d->trace) {
    d->trace_last.swap(d->trace_current);
    d->trace_current.clear();
  }
  if (d->lost) return GPU_DEVICE_LOST;
  if (d->in_scene) return GPU_INVALID_CALL;
  gpu_make_current(d);
  int dw = 0, dh = 0;
  SDL_GL_GetDrawableSize(d->sdl, &dw, &dh);
  const GpuSurface* bb = d->back_buffer;
  const bool same = dw == int(bb->width) && dh == int(bb->height);
  if (d->present_program) {
    set_present_state(d, dw, dh, same);
    glDrawArrays(GL_TRIANGLES, 0, 3);
    gpu_bind_scratch_texture(0);
    glBindVertexArray(d->vao);
  } else {
    glBindFramebuffer(GL_READ_FRAMEBUFFER, d->present_fbo);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    glDisable(GL_SCISSOR_TEST);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glBlitFramebuffer(0, 0, GLint(bb->width), GLint(bb->height), 0, dh, dw, 0, GL_COLOR_BUFFER_BIT,
                      same ? GL_NEAREST : GL_LINEAR);
  }
  SDL_GL_SwapWindow(d->sdl);
  ++d->presents;
  gpu_gl_invalidate(d);
  return GPU_OK;
}
