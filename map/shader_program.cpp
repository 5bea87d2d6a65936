#include "map/shader_program.h"

#include <cstdlib>
#include <string>

#include "gfx/frame.h"
#include "util/text_util.h"

ShaderApi shader_api;

namespace {

template <typename T>
bool fetch(T* entry, const char* name) {
  *entry = reinterpret_cast<T>(gl_proc_address(name));
  return *entry != nullptr;
}

#define VELDSPAN_FETCH(type, field, name) missing += fetch(&shader_api.field, #name) ? 0 : 1;

bool fetch_gl2() {
  int missing = 0;
  VELDSPAN_GL2_ENTRY_POINTS(VELDSPAN_FETCH)
  return missing == 0;
}

void fetch_later() {
  int missing = 0;
  VELDSPAN_LATER_ENTRY_POINTS(VELDSPAN_FETCH)
  (void)missing;
}

#undef VELDSPAN_FETCH

// The compiler's or linker's messages; shaders and programs have the same
// pair of query functions.
std::string info_log(GLuint object, PFNGLGETSHADERIVPROC get_iv, PFNGLGETSHADERINFOLOGPROC get_log) {
  GLint length = 0;
  get_iv(object, GL_INFO_LOG_LENGTH, &length);
  std::string log(size_t(length > 0 ? length : 1), '\0');
  get_log(object, GLsizei(log.size()), nullptr, &log[0]);
  return log.c_str();
}

Problem build_failure(const char* what, const std::string& log) {
  return problem(what, log.empty() || log.back() == '\n' ? log : log + "\n");
}

}  // namespace

float parse_gl_version(const char* text) { return static_cast<float>(std::atof(text ? text : "")); }

float gl_version() { return parse_gl_version(reinterpret_cast<const char*>(glGetString(GL_VERSION))); }

bool load_shader_api(Problem* why) {
  if (2.0f > gl_version()) {
    *why = problem(format_text("OpenGL version 2.0 or higher required for shaders; you have version %g",
                               static_cast<double>(gl_version())));
    return false;
  }
  if (!fetch_gl2()) {
    *why = problem("OpenGL shader functions are missing from this context");
    return false;
  }
  fetch_later();
  return true;
}

std::string shader_failure_message(int32_t turn_counts) {
  return format_text("Shader program failed to build for a job of %d turn counts; the source is in shadercode.txt",
                     turn_counts);
}

GLuint build_program(GLenum type, const char* source, const char* what, Problem* why) {
  GLuint shader = shader_api.create_shader(type);
  shader_api.shader_source(shader, 1, &source, nullptr);
  shader_api.compile_shader(shader);
  GLint compiled = 0, linked = 0;
  shader_api.get_shader_iv(shader, GL_COMPILE_STATUS, &compiled);
  if (!compiled) {
    *why = build_failure(what, info_log(shader, shader_api.get_shader_iv, shader_api.get_shader_info_log));
    return 0;
  }
  GLuint program = shader_api.create_program();
  shader_api.attach_shader(program, shader);
  shader_api.link_program(program);
  shader_api.get_program_iv(program, GL_LINK_STATUS, &linked);
  if (!linked) *why = build_failure(what, info_log(program, shader_api.get_program_iv, shader_api.get_program_info_log));
  return linked ? program : 0;
}
