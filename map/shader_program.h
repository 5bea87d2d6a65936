// The GL 2.0 shader entry points, fetched from the current context, and
// the building of the generated shader into a program.
#pragma once
#include <cstdint>
#include <string>

#include "gfx/gl.h"

struct ShaderApi {
  PFNGLCREATESHADERPROC create_shader;
  PFNGLSHADERSOURCEPROC shader_source;
  PFNGLCOMPILESHADERPROC compile_shader;
  PFNGLCREATEPROGRAMPROC create_program;
  PFNGLATTACHSHADERPROC attach_shader;
  PFNGLLINKPROGRAMPROC link_program;
  PFNGLUSEPROGRAMPROC use_program;
  PFNGLGETUNIFORMLOCATIONPROC get_uniform_location;
  PFNGLUNIFORM1FPROC uniform1f;
  // Status and logs, so that a shader that does not build stops the run
  // instead of leaving every count of it wrong.
  PFNGLGETSHADERIVPROC get_shader_iv;
  PFNGLGETSHADERINFOLOGPROC get_shader_info_log;
  PFNGLGETPROGRAMIVPROC get_program_iv;
  PFNGLGETPROGRAMINFOLOGPROC get_program_info_log;
};

extern ShaderApi shader_api;

// The context's version: atof of the GL_VERSION text ("2.1.2 Mesa" -> 2.1).
float gl_version();
float parse_gl_version(const char* text);
// Checks for GL 2.0 and fills shader_api; ends the program below 2.0 or
// when an entry point is missing.
void load_shader_api();
// Compiles and links the fragment shader; a source that does not build is a
// fatal error whose message gives the job's number of turn counts.
GLuint build_shader_program(const char* source, int32_t turn_counts);
// NOTE: every number in the source is checked when the job is read, so a
// build that fails is most likely a job too large for the GL's compiler:
// the message says how many turn counts the job has.
std::string shader_failure_message(int32_t turn_counts);
