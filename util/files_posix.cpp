// Files and the process's surroundings over POSIX.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "util/files.h"

int64_t file_length(const char* path) {
  struct stat status;
  return stat(path, &status) == 0 ? static_cast<int64_t>(status.st_size) : -1;
}

bool truncate_file(const char* path, int64_t length) { return truncate(path, static_cast<off_t>(length)) == 0; }

bool replace_file(const char* from, const char* to) { return std::rename(from, to) == 0; }

bool sync_file(FILE* file) { return fsync(fileno(file)) == 0; }

bool change_dir(const char* path) { return chdir(path) == 0; }

std::string working_dir_name() {
  char path[4096];
  if (!getcwd(path, sizeof path)) return "";
  std::string p = path;
  return p == "/" ? p : p.substr(p.find_last_of('/') + 1);
}

bool stderr_is_terminal() { return isatty(STDERR_FILENO) == 1; }
