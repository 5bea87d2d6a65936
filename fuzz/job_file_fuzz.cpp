// The job file reader on any bytes: lines, words, keys and numbers, and the
// checks that refuse a job no run can use.
#include <cstdlib>

#include "fuzz/job_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  JobSettings s = read_fuzzed_job(data, size);
  // A job always has a turn count, and a colour code for each of them.
  int32_t n = iteration_count(&s), levels = s.colourlevels;
  if (n < 1 || int64_t(levels) * levels * levels < int64_t(n) + 1) std::abort();
  job_refusal(&s);
  release_job(&s);
  return 0;
}
