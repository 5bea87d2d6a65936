// The fuzzed bytes as a job file's bytes, parsed as the run parses the
// bytes it read. The program keeps its settings until it exits, so the
// harnesses release them here, where every input would leak them.
#pragma once
#include <cstdint>
#include <cstdlib>
#include <string>

#include "map/job_file.h"

inline JobSettings read_fuzzed_job(const uint8_t* data, size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  JobSource source{"input.txt", bytes, job_hash(bytes), 0};
  return parse_job(&source);
}

inline void release_job(JobSettings* s) {
  for (int32_t k = 0; k < element_count(s); k++) std::free(element_at(s, k)->strengths);
  std::free(s->elements.data);
  std::free(s->iterations.data);
}
