#include "app/aperture.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/random_passes.h"
#include "app/statistics.h"
#include "gfx/clock.h"
#include "gfx/frame.h"
#include "gfx/platform.h"

namespace {

const char* const kApertureFile = "aperture.csv";

std::string header_line(const RunState* run, const std::string& job, const char* when) {
  int64_t grid = int64_t(run->settings.baseres) * (run->next_checkpoint - 1);
  return format_text("Veldspan aperture of job \"%s\" at %s: sample %d (%lld^4 grid), %lld random passes "
                     "(randompasses %d, seed %llu)\n",
                     job.c_str(), when, run->samples, static_cast<long long>(grid),
                     static_cast<long long>(run->random.passes), run->random.every,
                     static_cast<unsigned long long>(run->random.seed));
}

// The schedule's mean less the random passes' mean, from the exact count
// sums: the domain's, the same whole square in every pass, is exactly 0.
double lattice_bias(const RunState* run, int32_t row) {
  __int128 n = run->samples, p = run->random.passes;
  __int128 difference = __int128(run->count_sum[row]) * p - __int128(run->random.count_sum[row]) * n;
  return particle_volume(&run->settings) * (static_cast<double>(difference) / (double(n) * double(p)));
}

// NOTE: a figure that does not exist yet (a mean of no pass, an error of
// one) is written as "-" rather than as 0 or a NaN, which a reader could
// take for a measurement.
std::string row_text(const RunState* run, int32_t row) {
  RandomInterval v = random_interval(run, row);
  std::string t = row_label(run, row) + format_text(",%lld", static_cast<long long>(v.passes));
  t += v.passes >= 1 ? format_text(",%.9lg", v.volume) : std::string(",-");
  t += v.passes >= 2 ? format_text(",%.9lg,%.9lg,%.9lg", v.error, v.low, v.high) : std::string(",-,-,-");
  t += v.passes >= 1 && run->samples >= 1 ? format_text(",%.9lg", lattice_bias(run, row)) : std::string(",-");
  return t + "\n";
}

void write_aperture(RunState* run) {
  std::string text = aperture_text(run, platform_working_dir_name(), date_time_text(time_text));
  string_replace(&run->random.aperture_unwritten, text.c_str());
  if (replace_whole_file(kApertureFile, text.c_str())) {
    std::free(run->random.aperture_unwritten);
    run->random.aperture_unwritten = nullptr;
    return;
  }
  std::fprintf(stderr, "%s could not be written (%s); it is written again at the next checkpoint\n", kApertureFile,
               std::strerror(errno));
}

}  // namespace

std::string aperture_text(const RunState* run, const std::string& job, const char* when) {
  std::string t = header_line(run, job, when) + "Iters,passes,volume,stat_err,lo95,hi95,lattice_bias\n";
  for (int32_t row = 0; row <= iteration_count(&run->settings); row++) t += row_text(run, row);
  return t;
}

void aperture_checkpoint(RunState* run) {
  if (run->random.every <= 0) return;
  run->random.aperture_due = true;
  write_aperture_when_due(run);
}

void write_aperture_when_due(RunState* run) {
  if (!run->random.aperture_due || random_pass_owed(run)) return;
  run->random.aperture_due = false;
  write_aperture(run);
}

// NOTE: a run ended while its last checkpoint's pass was owed writes the
// file with the passes it has: the file then says how many.
int finish_aperture(RunState* run) {
  RandomPasses* r = &run->random;
  if (r->aperture_due) {
    r->aperture_due = false;
    write_aperture(run);
  } else if (r->aperture_unwritten && replace_whole_file(kApertureFile, r->aperture_unwritten)) {
    std::free(r->aperture_unwritten);
    r->aperture_unwritten = nullptr;
  }
  if (!r->aperture_unwritten) return 0;
  const char* message = "aperture.csv could not be written; its text was written to stderr";
  std::fprintf(stderr, "%s:\n%s", message, r->aperture_unwritten);
  std::fflush(stderr);
  log_error(message);
  return kExitResultsLost;
}

bool replace_whole_file(const char* path, const char* text) {
  std::string temporary = std::string(path) + ".tmp";
  if (write_whole_file(temporary.c_str(), "wt", text) && platform_replace_file(temporary.c_str(), path)) return true;
  int failure = errno;
  std::remove(temporary.c_str());
  errno = failure;
  return false;
}
