// The GL 2.0 shader entry points, fetched from the current context, and
// the building of the generated shader into a program.
#pragma once
#include <cstdint>
#include <string>

#include "gfx/gl.h"
#include "util/problem.h"

// The GL entry points the program fetches by name, listed once: each line
// gives the pointer's type, its field in ShaderApi and the GL name.
// The shader functions of GL 2.0, which every engine on GL needs; status
// and logs among them, so that a shader that does not build stops the run
// instead of leaving every count of it wrong.
#define VELDSPAN_GL2_ENTRY_POINTS(X)                                  \
  X(PFNGLCREATESHADERPROC, create_shader, glCreateShader)             \
  X(PFNGLSHADERSOURCEPROC, shader_source, glShaderSource)             \
  X(PFNGLCOMPILESHADERPROC, compile_shader, glCompileShader)          \
  X(PFNGLCREATEPROGRAMPROC, create_program, glCreateProgram)          \
  X(PFNGLATTACHSHADERPROC, attach_shader, glAttachShader)             \
  X(PFNGLLINKPROGRAMPROC, link_program, glLinkProgram)                \
  X(PFNGLUSEPROGRAMPROC, use_program, glUseProgram)                   \
  X(PFNGLGETUNIFORMLOCATIONPROC, get_uniform_location, glGetUniformLocation) \
  X(PFNGLUNIFORM1FPROC, uniform1f, glUniform1f)                       \
  X(PFNGLGETSHADERIVPROC, get_shader_iv, glGetShaderiv)               \
  X(PFNGLGETSHADERINFOLOGPROC, get_shader_info_log, glGetShaderInfoLog) \
  X(PFNGLGETPROGRAMIVPROC, get_program_iv, glGetProgramiv)            \
  X(PFNGLGETPROGRAMINFOLOGPROC, get_program_info_log, glGetProgramInfoLog)

// Later functions: framebuffer objects (GL 3.0), for drawing without a
// window; buffers, images and compute shaders (GL 4.3), for the compute
// engine. NOTE: GLX hands out an address even for a function the context
// does not have, so users check gl_version() rather than a null pointer.
#define VELDSPAN_LATER_ENTRY_POINTS(X)                                          \
  X(PFNGLGENFRAMEBUFFERSPROC, gen_framebuffers, glGenFramebuffers)              \
  X(PFNGLBINDFRAMEBUFFERPROC, bind_framebuffer, glBindFramebuffer)              \
  X(PFNGLGENRENDERBUFFERSPROC, gen_renderbuffers, glGenRenderbuffers)           \
  X(PFNGLBINDRENDERBUFFERPROC, bind_renderbuffer, glBindRenderbuffer)           \
  X(PFNGLRENDERBUFFERSTORAGEPROC, renderbuffer_storage, glRenderbufferStorage)  \
  X(PFNGLFRAMEBUFFERRENDERBUFFERPROC, framebuffer_renderbuffer, glFramebufferRenderbuffer) \
  X(PFNGLCHECKFRAMEBUFFERSTATUSPROC, check_framebuffer_status, glCheckFramebufferStatus) \
  X(PFNGLGENBUFFERSPROC, gen_buffers, glGenBuffers)                             \
  X(PFNGLBINDBUFFERPROC, bind_buffer, glBindBuffer)                             \
  X(PFNGLBINDBUFFERBASEPROC, bind_buffer_base, glBindBufferBase)                \
  X(PFNGLBUFFERDATAPROC, buffer_data, glBufferData)                             \
  X(PFNGLBUFFERSUBDATAPROC, buffer_sub_data, glBufferSubData)                   \
  X(PFNGLGETBUFFERSUBDATAPROC, get_buffer_sub_data, glGetBufferSubData)         \
  X(PFNGLUNIFORM1IPROC, uniform1i, glUniform1i)                                 \
  X(PFNGLUNIFORM4FPROC, uniform4f, glUniform4f)                                 \
  X(PFNGLDISPATCHCOMPUTEPROC, dispatch_compute, glDispatchCompute)              \
  X(PFNGLMEMORYBARRIERPROC, memory_barrier, glMemoryBarrier)                    \
  X(PFNGLBINDIMAGETEXTUREPROC, bind_image_texture, glBindImageTexture)          \
  X(PFNGLTEXSTORAGE2DPROC, tex_storage_2d, glTexStorage2D)

struct ShaderApi {
#define VELDSPAN_ENTRY_FIELD(type, field, name) type field;
  VELDSPAN_GL2_ENTRY_POINTS(VELDSPAN_ENTRY_FIELD)
  VELDSPAN_LATER_ENTRY_POINTS(VELDSPAN_ENTRY_FIELD)
#undef VELDSPAN_ENTRY_FIELD
};

extern ShaderApi shader_api;

// The context's version: atof of the GL_VERSION text ("2.1.2 Mesa" -> 2.1).
float gl_version();
float parse_gl_version(const char* text);
// Checks for GL 2.0 and fills shader_api (later entry points as far as
// they can be fetched); false, with why, below 2.0 or when a GL 2.0 entry
// point is missing.
bool load_shader_api(Problem* why);
// NOTE: every number in the source is checked when the job is read, so a
// build that fails is most likely a job too large for the GL's compiler:
// the message says how many turn counts the job has.
std::string shader_failure_message(int32_t turn_counts);
// Builds a shader of the given type (GL_FRAGMENT_SHADER, GL_COMPUTE_SHADER)
// into a program; 0 when it does not build, with what (the message naming
// what was built and where its source is) and the compiler's or linker's
// log in why.
GLuint build_program(GLenum type, const char* source, const char* what, Problem* why);
