// The fuzzed bytes as a job file. read_job_file takes a path, so the bytes
// are written to an in-memory file (memfd) that it opens by its /proc path;
// nothing touches the disk. The program keeps its settings until it exits,
// so the harnesses release them here, where every input would leak them.
#pragma once
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "map/job_file.h"

inline JobSettings read_fuzzed_job(const uint8_t* data, size_t size) {
  static int fd = memfd_create("input.txt", 0);
  static std::string path = "/proc/self/fd/" + std::to_string(fd);
  if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != ssize_t(size)) std::abort();
  return read_job_file(path.c_str());
}

inline void release_job(JobSettings* s) {
  for (int32_t k = 0; k < element_count(s); k++) std::free(element_at(s, k)->strengths);
  std::free(s->elements.data);
  std::free(s->iterations.data);
}
