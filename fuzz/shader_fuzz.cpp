// Shader generation from fuzzed job files, with both forms of the kicks.
#include <cstdlib>
#include <cstring>

#include "fuzz/job_input.h"
#include "map/shader_source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  JobSettings s = read_fuzzed_job(data, size);
  for (bool recurrence : {false, true}) {
    char* source = generate_shader(&s, recurrence);
    if (std::strncmp(source, "#version 120\n", 13) != 0) std::abort();
    std::free(source);
  }
  release_job(&s);
  return 0;
}
