#include "results/reports.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "gfx/clock.h"
#include "gfx/frame.h"
#include "results/intervals.h"
#include "results/schedule.h"
#include "util/files.h"
#include "util/text_util.h"

namespace {

bool write_now(ReportFile* r) {
  if (r->whole) return replace_whole_file(r->name, r->unwritten.c_str());
  if (!write_whole_file(r->name, r->truncate ? "wt" : "at", r->unwritten.c_str())) return false;
  r->truncate = false;
  return true;
}

// The schedule's mean less the random passes' mean, from the exact count
// sums: the domain's, the same whole square in every pass, is exactly 0.
double lattice_bias(const Ledger* l, int32_t row) {
  __int128 n = l->samples.passes, p = l->randoms.passes;
  __int128 difference = __int128(l->samples.sum[size_t(row)]) * p - __int128(l->randoms.sum[size_t(row)]) * n;
  return particle_volume(l->job) * (static_cast<double>(difference) / (double(n) * double(p)));
}

// NOTE: the interval's ends map to the DA's, as D grows with the volume; a
// lower end below 0 is a DA of 0.
std::string da_sigma_columns(const JobSettings* job, const RandomInterval* v) {
  if (!has_emittance(job)) return "";
  std::string t = v->passes >= 1 ? format_text(",%.9lg", da_sigma(job, v->volume)) : std::string(",-");
  return t + (v->passes >= 2 ? format_text(",%.9lg,%.9lg", da_sigma(job, v->low), da_sigma(job, v->high))
                             : std::string(",-,-"));
}

// NOTE: a figure that does not exist yet (a mean of no pass, an error of
// one) is written as "-" rather than as 0 or a NaN, which a reader could
// take for a measurement.
std::string aperture_row(const Ledger* l, int32_t row) {
  RandomInterval v = random_interval(l->job, &l->randoms, row);
  std::string t = row_label(l->job, row) + format_text(",%lld", static_cast<long long>(v.passes));
  t += v.passes >= 1 ? format_text(",%.9lg", v.volume) : std::string(",-");
  t += v.passes >= 2 ? format_text(",%.9lg,%.9lg,%.9lg", v.error, v.low, v.high) : std::string(",-,-,-");
  t += v.passes >= 1 && l->samples.passes >= 1 ? format_text(",%.9lg", lattice_bias(l, row)) : std::string(",-");
  return t + da_sigma_columns(l->job, &v) + "\n";
}

// The box cuts the stable region when survivors of the last turn count
// started on its outermost layer of grid points.
std::string box_edge_text(const Ledger* l) {
  if (l->randoms.edge <= 0) return "";
  return format_text("; %lld survivors of the last turn count in the random passes started on the box's edge: the "
                     "box cuts the stable region, and every volume is too small",
                     static_cast<long long>(l->randoms.edge));
}

std::string aperture_header(const Ledger* l, const std::string& job, const char* when) {
  int64_t grid = int64_t(l->job->baseres) * (l->next_checkpoint - 1);
  return format_text("Veldspan aperture of job \"%s\" at %s: sample %d (%lld^4 grid), %lld random passes "
                     "(randompasses %d, seed %llu)",
                     job.c_str(), when, ledger_samples(l), static_cast<long long>(grid),
                     static_cast<long long>(l->randoms.passes), l->every, static_cast<unsigned long long>(l->seed)) +
         box_edge_text(l) + "\n";
}

}  // namespace

ReportFile output_report() { return ReportFile{"output.csv", false, "its text is kept and tried again later", "", true}; }

ReportFile aperture_report() {
  return ReportFile{"aperture.csv", true, "it is written again at the next checkpoint", "", false};
}

bool report_write(ReportFile* r, const std::string& text) {
  r->unwritten = r->whole ? text : r->unwritten + text;
  if (write_now(r)) {
    r->unwritten.clear();
    return true;
  }
  std::fprintf(stderr, "%s could not be written (%s); %s\n", r->name, std::strerror(errno), r->later);
  return false;
}

// NOTE: the run's end is the last chance for text still unwritten (the
// program that held the file may have let go of it). What still does not
// reach the file goes to stderr whole; the log only says so, as the log
// may be on the same full disk.
int report_finish(ReportFile* r) {
  if (r->unwritten.empty()) return 0;
  if (r->whole ? write_now(r) : report_write(r, "")) {
    r->unwritten.clear();
    return 0;
  }
  std::string message = format_text("%s could not be written; %s", r->name,
                                    r->whole ? "its text was written to stderr"
                                             : "the results missing from it were written to stderr");
  std::fprintf(stderr, "%s:\n%s", message.c_str(), r->unwritten.c_str());
  std::fflush(stderr);
  log_error(message.c_str());
  return kExitResultsLost;
}

double da_sigma(const JobSettings* job, double volume) {
  const double kPi = 3.14159265358979323846;
  double v = volume > 0 ? volume : 0;
  return std::pow(2 * v / (kPi * kPi * job->emittance[0] * job->emittance[1]), 0.25);
}

std::string results_start_text(const char* when) { return format_text("Veldspan job started %s\n", when); }

std::string row_label(const JobSettings* job, int32_t row) {
  return row == 0 ? std::string("Domain") : format_text("%d", iteration_at(job, row - 1));
}

std::string result_block_text(const Ledger* l, int32_t checkpoint) {
  bool errors = l->samples.passes >= 2;
  std::string t = format_text("%lld^4 %sgrid\nIters,4D_Vol", static_cast<long long>(l->job->baseres) * checkpoint,
                              checkpoint_irregular(checkpoint) ? "irregular " : "");
  t += errors ? ",+/-\n" : "\n";
  for (int32_t i = 0; i <= iteration_count(l->job); i++) {
    t += row_label(l->job, i) + format_text(",%.9lg", sums_mean(l->job, &l->samples, i));
    if (errors) t += format_text(",%.9lg", sums_standard_error(l->job, &l->samples, i));
    t += "\n";
  }
  return t + "\n";
}

std::string aperture_text(const Ledger* l, const std::string& job, const char* when) {
  std::string t = aperture_header(l, job, when) + "Iters,passes,volume,stat_err,lo95,hi95,lattice_bias" +
                  (has_emittance(l->job) ? ",da_sigma,da_lo95,da_hi95\n" : "\n");
  for (int32_t row = 0; row <= iteration_count(l->job); row++) t += aperture_row(l, row);
  return t;
}

Reports start_reports() {
  Reports r{output_report(), aperture_report()};
  report_write(&r.output, results_start_text(date_time_text(time_text)));
  return r;
}

void write_due_reports(Reports* r, const Ledger* l, const LedgerDue* due) {
  if (due->block) report_write(&r->output, result_block_text(l, due->block));
  if (due->aperture) report_write(&r->aperture, aperture_text(l, working_dir_name(), date_time_text(time_text)));
}

// NOTE: a run ended while its last checkpoint's pass was owed writes the
// file with the passes it has: the file then says how many.
int finish_reports(Reports* r, Ledger* l) {
  if (l->aperture_due) {
    l->aperture_due = false;
    report_write(&r->aperture, aperture_text(l, working_dir_name(), date_time_text(time_text)));
  }
  int output = report_finish(&r->output), aperture = report_finish(&r->aperture);
  return output ? output : aperture;
}
