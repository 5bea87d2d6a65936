#include "bench/bench_report.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "engines/engine.h"

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

std::string percent_text(double share) { return share > 0 ? report_text("%.1f%%", 100 * share) : "-"; }

std::string share_text(const EngineFigures* f, int stage) { return percent_text(f->stage[stage] / f->pass); }

// The engine's figures on the job in the precision, when it ran.
const EngineReport* engine_report(const JobReport* r, EngineKind engine, Precision precision) {
  for (const EngineReport& e : r->engines)
    if (e.engine == engine && e.precision == precision && !e.passes.empty()) return &e;
  return nullptr;
}

// The engine's name, and its precision when that is double.
std::string engine_label(const EngineReport* e) {
  return std::string(engine_name(e->engine)) + (e->precision == kPrecisionDouble ? " (double)" : "");
}

// Speed against other: in particle-turns, or in samples for a job whose
// particles make no turn.
std::string speed_ratio_text(const EngineFigures* f, const EngineReport* other) {
  if (!other) return "-";
  EngineFigures o = engine_figures(other);
  return o.rate > 0 ? ratio_text(f->rate, o.rate) : ratio_text(o.pass, f->pass);
}

// An engine's speed against the CPU engine's in the same precision (whose
// levels are also the ones its level check compares with).
std::string cpu_ratio_text(const JobReport* r, const EngineReport* e, const EngineFigures* f) {
  return speed_ratio_text(f, engine_report(r, kEngineCpu, e->precision));
}

// Shares of the peak the CPU engine's tracking reached: per second of the
// tracking stage against the peak of all threads together, and per second
// of processor time (the figure to trust on a machine busy with other
// work).
double wall_peak_share(const JobReport* r, const EngineReport* e, const EngineFigures* f) {
  return peak_share(f->track_rate, r->flops_per_turn, precision_peak(r->peak.wall, e->precision));
}

double cpu_peak_share(const JobReport* r, const EngineReport* e, const EngineFigures* f) {
  return peak_share(f->cpu_rate, r->flops_per_turn, precision_peak(r->peak.per_cpu_second, e->precision));
}

std::string peak_text(const JobReport* r, const EngineReport* e, const EngineFigures* f) {
  if (e->engine != kEngineCpu) return "-";
  return percent_text(wall_peak_share(r, e, f)) + " (" + percent_text(cpu_peak_share(r, e, f)) + ")";
}

std::string engine_text(const JobReport* r, const EngineReport* e) {
  EngineFigures f = engine_figures(e);
  std::string t = report_text("  %-17s %8.4g samples/s  %s particle-turns/s  %s of the CPU engine; %d refused\n",
                              engine_label(e).c_str(), 1 / f.pass, rate_text(f.rate).c_str(),
                              cpu_ratio_text(r, e, &f).c_str(), e->refused);
  t += report_text("           pass: mean %.3g ms, median %.3g ms; stages (mean ms, share):", 1e3 * f.pass,
                   1e3 * f.median_pass);
  for (int k = 0; k < kPassStages; k++)
    t += report_text(" %s %.3g (%s)", kStageNames[k], 1e3 * f.stage[k], share_text(&f, k).c_str());
  t += report_text("\n           levels: largest per-level difference from the CPU tracker %.3g of the pixels\n",
                   f.level_difference);
  if (e->engine == kEngineCpu)
    t += std::string("           ") + (e->precision == kPrecisionDouble ? "FP64" : "FP32") +
         " peak reached while tracking: " + percent_text(wall_peak_share(r, e, &f)) + ", " +
         percent_text(cpu_peak_share(r, e, &f)) + " per processor second\n";
  return t;
}

std::string kernel_label(const KernelReport* k) {
  return std::string(cpu_kernel_name(k->kernel)) + (k->precision == kPrecisionDouble ? " (double)" : "");
}

std::string kernel_text(const JobReport* r, const KernelReport* k) {
  double rate = double(k->particle_turns) / k->seconds, cpu_rate = double(k->particle_turns) / k->process_seconds;
  return report_text("  tracker alone, %-16s kernel: %8.4g samples/s  %s particle-turns/s  %s peak %s, %s per "
                     "processor second\n",
                     kernel_label(k).c_str(), k->samples / k->seconds, rate_text(rate).c_str(),
                     k->precision == kPrecisionDouble ? "FP64" : "FP32",
                     percent_text(peak_share(rate, r->flops_per_turn, precision_peak(r->peak.wall, k->precision))).c_str(),
                     percent_text(peak_share(cpu_rate, r->flops_per_turn,
                                             precision_peak(r->peak.per_cpu_second, k->precision)))
                         .c_str());
}

}  // namespace

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  size_t m = v.size() / 2;
  return v.size() % 2 ? v[m] : 0.5 * (v[m - 1] + v[m]);
}

EngineFigures engine_figures(const EngineReport* r) {
  EngineFigures f{};
  double passes = double(r->passes.size()), turns = 0, processor = 0;
  std::vector<double> pass;
  for (const PassRecord& p : r->passes) {
    for (int k = 0; k < kPassStages; k++) f.stage[k] += p.stage[k] / passes;
    f.pass += p.pass / passes;
    pass.push_back(p.pass);
    processor += p.process_seconds;
    turns += double(p.particle_turns);
    f.level_difference = std::max(f.level_difference, p.level_difference);
  }
  f.median_pass = median(pass);
  f.rate = turns / (f.pass * passes);
  f.track_rate = f.stage[kStageTrack] > 0 ? turns / (f.stage[kStageTrack] * passes) : 0;
  f.cpu_rate = processor > 0 ? turns / processor : 0;
  return f;
}

namespace {

// A rotation: two 2 x 2 matrices, 12 flops; a 4 x 4 matrix 28.
double op_flops(const KernelOp* op) {
  switch (op->kind) {
    case kKernelRotation: return 12;
    case kKernelMatrix: return 28;
    default: return op->top == 0 ? 4 : 10.0 * op->top - 6;
  }
}

}  // namespace

double map_flops(const CpuMap* map) {
  double flops = 0;
  for (const KernelOp& op : map->ops) flops += op_flops(&op);
  return flops;
}

double map_kicks(const CpuMap* map) {
  double kicks = 0;
  for (const KernelOp& op : map->ops) kicks += op.kind == kKernelSkew || (op.kind == kKernelPlain && op.top > 0);
  return kicks;
}

double peak_share(double rate, double flops_per_turn, double peak) {
  return peak > 0 && std::isfinite(rate) ? rate * flops_per_turn / peak : 0;
}

double precision_peak(double fp32_peak, Precision precision) {
  return precision == kPrecisionDouble ? fp32_peak / 2 : fp32_peak;
}

double largest_level_difference(const std::vector<int64_t>& a, const std::vector<int64_t>& b, int64_t pixels) {
  if (a.size() != b.size()) return 1;
  int64_t worst = 0;
  for (size_t k = 0; k < a.size(); k++) worst = std::max<int64_t>(worst, std::llabs(a[k] - b[k]));
  return double(worst) / double(pixels);
}

std::string job_text(const JobReport* r) {
  std::string t = report_text("job %s: %lld particles per sample, %.0f flops per particle-turn\n", r->name.c_str(),
                              static_cast<long long>(r->particles), r->flops_per_turn);
  for (const EngineReport& e : r->engines)
    if (!e.passes.empty()) t += engine_text(r, &e);
  for (const KernelReport& k : r->kernels) t += kernel_text(r, &k);
  return t;
}

std::string table_head() {
  return "| job | engine | samples/s | particle-turns/s | particle-kicks/s | / cpu engine | tracking share of the pass "
         "| FP32 peak (FP64 in double) while tracking (per processor second) | level diff |\n"
         "|---|---|---|---|---|---|---|---|---|\n";
}

std::string table_rows(const JobReport* r) {
  std::string t;
  for (const EngineReport& e : r->engines) {
    if (e.passes.empty()) continue;
    EngineFigures f = engine_figures(&e);
    t += report_text("| %s | %s | %.4g | %s | %s | %s | %s | %s | %.2g |\n", r->name.c_str(), engine_label(&e).c_str(),
                     1 / f.pass, rate_text(f.rate).c_str(), rate_text(f.rate * r->kicks_per_turn).c_str(),
                     cpu_ratio_text(r, &e, &f).c_str(), share_text(&f, kStageTrack).c_str(),
                     peak_text(r, &e, &f).c_str(), f.level_difference);
  }
  return t;
}

std::string kernel_table_head() {
  return "| job | tracker alone: kernel | samples/s | particle-turns/s | FP32 peak (per processor second) |\n"
         "|---|---|---|---|---|\n";
}

std::string kernel_table_rows(const JobReport* r) {
  std::string t;
  for (const KernelReport& k : r->kernels) {
    double rate = double(k.particle_turns) / k.seconds, cpu_rate = double(k.particle_turns) / k.process_seconds;
    t += report_text("| %s | %s | %.4g | %s | %s (%s) |\n", r->name.c_str(), kernel_label(&k).c_str(),
                     k.samples / k.seconds, rate_text(rate).c_str(),
                     percent_text(peak_share(rate, r->flops_per_turn, precision_peak(r->peak.wall, k.precision))).c_str(),
                     percent_text(peak_share(cpu_rate, r->flops_per_turn,
                                             precision_peak(r->peak.per_cpu_second, k.precision)))
                         .c_str());
  }
  return t;
}

std::string precision_table_head() {
  return "| job | engine | single: samples/s | double: samples/s | double / single (loop) | double / single "
         "(tracking stage) | double / single (processor time) |\n"
         "|---|---|---|---|---|---|---|\n";
}

std::string precision_table_rows(const JobReport* r) {
  std::string t;
  for (const EngineReport& e : r->engines) {
    const EngineReport* d = engine_report(r, e.engine, kPrecisionDouble);
    if (e.precision != kPrecisionSingle || e.passes.empty() || !d) continue;
    EngineFigures single = engine_figures(&e), twice = engine_figures(d);
    std::string tracking = single.track_rate > 0 ? ratio_text(twice.track_rate, single.track_rate)
                                                 : ratio_text(single.stage[kStageTrack], twice.stage[kStageTrack]);
    t += report_text("| %s | %s | %.4g | %.4g | %s | %s | %s |\n", r->name.c_str(), engine_name(e.engine),
                     1 / single.pass, 1 / twice.pass, speed_ratio_text(&twice, &e).c_str(), tracking.c_str(),
                     ratio_text(twice.cpu_rate, single.cpu_rate).c_str());
  }
  return t;
}
