// Shader generation from fuzzed job files that the run would accept: the
// job lowered, then the fragment shader and the compute shader made from it.
#include <cstdlib>
#include <cstring>

#include "fuzz/job_input.h"
#include "map/shader_source.h"

namespace {

void expect_start(char* source, const char* version) {
  if (std::strncmp(source, version, std::strlen(version)) != 0) std::abort();
  std::free(source);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  JobSettings s = read_fuzzed_job(data, size);
  if (job_refusal(&s).empty()) {
    LoweredMap m = lower_map(&s);
    expect_start(generate_shader(&m), "#version 120\n");
    expect_start(generate_compute_shader(&m, true), "#version 430\n");
  }
  release_job(&s);
  return 0;
}
