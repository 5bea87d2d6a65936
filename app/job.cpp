#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/run_state.h"
#include "gfx/clock.h"
#include "gfx/frame.h"
#include "gfx/platform.h"
#include "map/shader_source.h"

namespace {

int failure_code() { return errno ? errno : EIO; }

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

// NOTE: a write that failed part way (a full disk, say) may have left part
// of the text in the file, in the middle of a number. The file is cut back
// to its length before the write, so that it only ever holds whole texts
// and the same text can be written again later without doubling anything.
// The cut comes after the close: closing may still write buffered bytes.
bool write_whole_file(const char* path, const char* mode, const char* text) {
  FILE* file = std::fopen(path, mode);
  if (!file) return false;
  int64_t before = platform_file_length(path);
  int failure = write_and_close(file, text);
  if (!failure) return true;
  if (before < 0 || !platform_truncate_file(path, before))
    std::fprintf(stderr, "%s could not be cut back to its length before a failed write\n", path);
  errno = failure;
  return false;
}

char* prepare_job(RunState* run) {
  run->settings = read_job_file("input.txt");
  JobSettings copy = run->settings;
  char* source = generate_shader(&copy, false);
  if (!write_whole_file("shadercode.txt", "wt", source))
    std::fprintf(stderr, "shadercode.txt could not be written; the run goes on without it\n");
  return source;
}

bool write_results_text(RunState* run, const char* text) {
  string_append(&run->results_pending, text);
  const char* mode = run->results_truncate ? "wt" : "at";
  if (!write_whole_file("output.csv", mode, run->results_pending)) {
    std::fprintf(stderr, "output.csv could not be written (%s); its text is kept and tried again later\n",
                 std::strerror(errno));
    return false;
  }
  run->results_pending[0] = 0;
  run->results_truncate = false;
  return true;
}

void start_run(RunState* run) {
  run->results_pending = nullptr;
  string_set(&run->results_pending, "");
  run->results_truncate = true;
  std::string first = format_text("Veldspan job started %s\n", date_time_text(time_text));
  if (!run->shards) write_results_text(run, first.c_str());  // a shard's results are its record alone
  run->side = run->settings.baseres * run->settings.baseres;
  int32_t n = iteration_count(&run->settings);
  run->pixels = static_cast<unsigned char*>(std::malloc(size_t(run->side) * size_t(run->side) * 3));
  run->histogram = static_cast<int32_t*>(std::malloc(sizeof(int32_t) * (size_t(n) + 1)));
  run->count_sum = static_cast<int64_t*>(std::calloc(size_t(n) + 1, sizeof(int64_t)));
  run->count_sq_sum = static_cast<SquareSum*>(std::calloc(size_t(n) + 1, sizeof(SquareSum)));
  run->samples = 0;
  run->next_checkpoint = 1;
  run->clock_presented = -HUGE_VAL;  // the first pass presents
}

// NOTE: the run's end is the last chance for text still pending (the
// program that held the file may have let go of it). What still does not
// reach the file goes to stderr whole, so that no result is lost silently;
// the log only says so, as the log may be on the same full disk.
int finish_results(RunState* run) {
  if (!run->results_pending || !run->results_pending[0] || write_results_text(run, "")) return 0;
  const char* message = "output.csv could not be written; the results missing from it were written to stderr";
  std::fprintf(stderr, "%s:\n%s", message, run->results_pending);
  std::fflush(stderr);
  log_error(message);
  return kExitResultsLost;
}
