#include "util/files.h"

#include <cerrno>
#include <cstring>

namespace {

// Writes every byte of text and closes the file; 0 when all of it reached
// the file, else the errno of the first step that failed.
int write_and_close(FILE* file, const char* text) {
  size_t size = std::strlen(text);
  errno = 0;
  int failure = std::fwrite(text, 1, size, file) == size ? 0 : failure_code();
  if (std::fflush(file) != 0 && !failure) failure = failure_code();
  if (std::fclose(file) != 0 && !failure) failure = failure_code();
  return failure;
}

}  // namespace

int failure_code() { return errno ? errno : EIO; }

bool read_file_bytes(const char* path, std::string* bytes) {
  FILE* file = std::fopen(path, "rb");
  if (!file) return false;
  char buffer[1 << 16];
  for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) bytes->append(buffer, got);
  bool read = !std::ferror(file);
  std::fclose(file);
  return read;
}

// NOTE: a write that failed part way (a full disk, say) may have left part
// of the text in the file, in the middle of a number. The file is cut back
// to its length before the write, so that it only ever holds whole texts
// and the same text can be written again later without doubling anything.
// The cut comes after the close: closing may still write buffered bytes.
bool write_whole_file(const char* path, const char* mode, const char* text) {
  FILE* file = std::fopen(path, mode);
  if (!file) return false;
  int64_t before = file_length(path);
  int failure = write_and_close(file, text);
  if (!failure) return true;
  if (before < 0 || !truncate_file(path, before))
    std::fprintf(stderr, "%s could not be cut back to its length before a failed write\n", path);
  errno = failure;
  return false;
}

bool replace_whole_file(const char* path, const char* text, const char* mode) {
  std::string temporary = std::string(path) + ".tmp";
  if (write_whole_file(temporary.c_str(), mode, text) && replace_file(temporary.c_str(), path)) return true;
  int failure = errno;
  std::remove(temporary.c_str());
  errno = failure;
  return false;
}

// NOTE: the files the program writes whole in a job directory: the result
// files of a run or a merge, and the job file of veldspan import. A stale
// one would otherwise stay beside the results for good.
void remove_stale_temporaries() {
  const char* const names[] = {"output.csv.tmp", "aperture.csv.tmp", "input.txt.tmp"};
  for (const char* name : names)
    if (file_length(name) >= 0 && std::remove(name) == 0)
      std::fprintf(stderr, "%s, left by a write that never finished, was removed\n", name);
}
