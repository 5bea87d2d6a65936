#include "bench/bench_report.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

// NOTE: the C library's own formatting: the program's format_text widens
// exponents to three digits for its files, which a report does not need.
std::string report_text(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string report_text(const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return buffer;
}

const char* const kStageNames[kPassStages] = {"track", "read", "count", "status", "present"};

std::string rate_text(double rate) { return rate > 0 ? report_text("%.3g", rate) : "-"; }

std::string ratio_text(double a, double b) { return a > 0 && b > 0 ? report_text("%.2f", a / b) : "-"; }

std::string share_text(const JobFigures* f, int stage) {
  return report_text("%.1f%%", 100 * f->stage[stage] / f->pass);
}

}  // namespace

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  size_t m = v.size() / 2;
  return v.size() % 2 ? v[m] : 0.5 * (v[m - 1] + v[m]);
}

JobFigures job_figures(const JobReport* r) {
  JobFigures f{};
  double passes = double(r->passes.size()), turns = 0, cpu = 0;
  std::vector<double> pass;
  for (const PassRecord& p : r->passes) {
    for (int k = 0; k < kPassStages; k++) f.stage[k] += p.stage[k] / passes;
    f.pass += p.pass / passes;
    pass.push_back(p.pass);
    cpu += p.cpu_seconds;
    turns += double(p.particle_turns);
    f.level_difference = std::max(f.level_difference, p.level_difference);
  }
  f.median_pass = median(pass);
  f.cpu_pass = cpu / passes;
  f.loop_rate = turns / (f.pass * passes);
  f.cpu_rate = turns / cpu;
  return f;
}

std::vector<int64_t> raw_levels(const int32_t* h, int32_t n) {
  std::vector<int64_t> raw(size_t(n) + 1);
  raw[0] = h[0];
  raw[size_t(n)] = int64_t(h[n]) - h[0];
  for (int32_t k = 1; k < n; k++) raw[size_t(k)] = int64_t(h[k]) - h[k + 1];
  return raw;
}

double largest_level_difference(const std::vector<int64_t>& a, const std::vector<int64_t>& b, int64_t pixels) {
  if (a.size() != b.size()) return 1;
  int64_t worst = 0;
  for (size_t k = 0; k < a.size(); k++) worst = std::max<int64_t>(worst, std::llabs(a[k] - b[k]));
  return double(worst) / double(pixels);
}

std::string rates_text(const JobFigures* f) {
  std::string t = report_text("  loop:        %8.3f samples/s  %s particle-turns/s\n", 1 / f->pass,
                              rate_text(f->loop_rate).c_str());
  t += report_text("  CPU tracker: %8.3f samples/s  %s particle-turns/s\n", 1 / f->cpu_pass,
                   rate_text(f->cpu_rate).c_str());
  return t + "  loop / CPU tracker: particle-turns " + ratio_text(f->loop_rate, f->cpu_rate) + ", samples " +
         ratio_text(f->cpu_pass, f->pass) + "\n";
}

std::string job_text(const JobReport* r, const JobFigures* f) {
  std::string t = report_text("job %s: %lld particles per sample, %zu timed passes, %d refused\n", r->name.c_str(),
                              static_cast<long long>(r->particles), r->passes.size(), r->refused);
  t += rates_text(f) + report_text("  pass: mean %.3g ms, median %.3g ms\n", 1e3 * f->pass, 1e3 * f->median_pass);
  t += "  stages (mean ms, share):";
  for (int k = 0; k < kPassStages; k++)
    t += report_text(" %s %.3g (%s)", kStageNames[k], 1e3 * f->stage[k], share_text(f, k).c_str());
  return t + report_text("\n  level check: largest per-level difference %.3g of the pixels\n", f->level_difference);
}

std::string table_head() {
  std::string t = "| job | loop samples/s | CPU samples/s | loop/CPU | loop p-turns/s | CPU p-turns/s | loop/CPU |";
  for (int k = 0; k < kPassStages; k++) t += std::string(" ") + kStageNames[k] + " |";
  t += " level diff |\n|---|---|---|---|---|---|---|";
  for (int k = 0; k < kPassStages; k++) t += "---|";
  return t + "---|\n";
}

std::string table_row(const JobReport* r, const JobFigures* f) {
  std::string t = report_text("| %s | %.3g | %.3g | %s | %s | %s | %s |", r->name.c_str(), 1 / f->pass, 1 / f->cpu_pass,
                              ratio_text(f->cpu_pass, f->pass).c_str(), rate_text(f->loop_rate).c_str(),
                              rate_text(f->cpu_rate).c_str(), ratio_text(f->loop_rate, f->cpu_rate).c_str());
  for (int k = 0; k < kPassStages; k++) t += " " + share_text(f, k) + " |";
  return t + report_text(" %.2g |\n", f->level_difference);
}
