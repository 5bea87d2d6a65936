// The loop benchmark: the program's own sampling loop, pass by pass and
// stage by stage, with every engine in turn, for each job directory given
// (default: the standard jobs in bench/jobs), beside the processor's
// measured single-precision peak.
//
//   loop_bench [--engines cpu,fragment,...] [--precision single|double|both] [--kernels] [--min-passes N]
//              [--min-seconds S] [job-dir ...]
//
// --kernels adds the CPU tracker alone, outside the loop, with each build
// of its kernel that the processor can run. --precision both runs each
// engine in single and then in double precision (an engine that tracks in
// single precision only is left out of double), side by side on each job.
//
// Each job runs in a scratch copy (beside this program, in bench-run/), so
// its output.csv and shadercode.txt stay out of the source tree.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "app/job.h"
#include "app/run.h"
#include "app/run_record.h"
#include "app/status.h"
#include "engines/cpu_tracker.h"
#include "engines/engine.h"
#include "results/schedule.h"
#include "bench/bench_report.h"
#include "bench/fp32_peak.h"
#include "gfx/clock.h"
#include "gfx/frame.h"
#include "gfx/gl.h"
#include "gfx/graphics_state.h"
#include "map/shader_program.h"

namespace {

struct BenchSettings {
  int32_t min_passes;               // timed passes per job and engine, at least
  double min_seconds;               // and at least this much loop time
  int32_t max_passes;               // but never more passes than this
  std::vector<EngineKind> engines;  // in the order they run
  std::vector<Precision> precisions;  // each engine runs in each, in this order
  bool kernels;                     // the tracker alone with each kernel too
  std::vector<std::string> jobs;    // absolute job directories
};

// NOTE: the engines run when --engines names none: the CPU engine first, as
// the levels and particle-turns it counts for each sample are the other
// engines' check and credit. The compute engine needs GL 4.3; it is skipped
// where the GL is older.
const EngineKind kDefaultEngines[] = {kEngineCpu, kEngineFragment, kEngineCompute};

// Levels and particle-turns of each sample number of the current job, as
// the CPU tracker counts them in one precision.
typedef std::map<int32_t, CpuSample> SampleCounts;

BenchSettings bench;
std::string scratch_root;

std::string absolute(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char cwd[4096];
  return std::string(getcwd(cwd, sizeof cwd) ? cwd : ".") + "/" + path;
}

std::string base_name(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool copy_file(const std::string& from, const std::string& to) {
  FILE* in = std::fopen(from.c_str(), "rb");
  if (!in) return false;
  FILE* out = std::fopen(to.c_str(), "wb");
  char buffer[65536];
  size_t n;
  while (out && (n = std::fread(buffer, 1, sizeof buffer, in)) > 0) std::fwrite(buffer, 1, n, out);
  std::fclose(in);
  return out && std::fclose(out) == 0;
}

[[noreturn]] void usage_error(const std::string& argument) {
  std::fprintf(stderr,
               "bad argument %s\nusage: loop_bench [--engines cpu,fragment,compute] [--precision single|double|both] "
               "[--kernels] [--min-passes N] [--min-seconds S] [job-dir ...]\n",
               argument.c_str());
  std::exit(2);
}

void read_engines(const std::string& list) {
  for (size_t start = 0; start <= list.size();) {
    size_t comma = std::min(list.find(',', start), list.size());
    EngineKind kind;
    std::string name = list.substr(start, comma - start);
    if (!engine_from_name(name.c_str(), &kind) || kind == kEngineAuto) usage_error(name);
    bench.engines.push_back(kind);
    start = comma + 1;
  }
}

void read_precision(const std::string& word) {
  if (word == "single" || word == "both") bench.precisions.push_back(kPrecisionSingle);
  if (word == "double" || word == "both") bench.precisions.push_back(kPrecisionDouble);
  if (bench.precisions.empty()) usage_error(word);
}

void read_arguments(int argc, char** argv) {
  bench = BenchSettings{5, 3.0, 4000, {}, {}, false, {}};
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    if (a == "--min-passes" && i + 1 < argc) bench.min_passes = std::atoi(argv[++i]);
    else if (a == "--min-seconds" && i + 1 < argc) bench.min_seconds = std::atof(argv[++i]);
    else if (a == "--engines" && i + 1 < argc) read_engines(argv[++i]);
    else if (a == "--precision" && i + 1 < argc && bench.precisions.empty()) read_precision(argv[++i]);
    else if (a == "--kernels") bench.kernels = true;
    else if (a.rfind("--", 0) == 0) usage_error(a);
    else bench.jobs.push_back(absolute(a));
  }
  if (bench.min_passes < 1) bench.min_passes = 1;
  if (bench.engines.empty()) bench.engines.assign(std::begin(kDefaultEngines), std::end(kDefaultEngines));
  if (bench.precisions.empty()) bench.precisions.push_back(kPrecisionSingle);
  if (!bench.jobs.empty()) return;
  for (const char* job : {"worked", "ring", "outside", "lattice"})
    bench.jobs.push_back(std::string(VELDSPAN_SOURCE_DIR) + "/bench/jobs/" + job);
}

// NOTE: the status font is read from the working directory, like the
// program does, so the scratch root holds the bundled font.dat.
void enter_scratch_root() {
  scratch_root = VELDSPAN_BENCH_SCRATCH;
  mkdir(scratch_root.c_str(), 0777);
  copy_file(std::string(VELDSPAN_SOURCE_DIR) + "/examples/font.dat", scratch_root + "/font.dat");
  if (chdir(scratch_root.c_str()) != 0) {
    std::fprintf(stderr, "cannot enter %s\n", scratch_root.c_str());
    std::exit(1);
  }
}

void print_machine() {
  const char* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
  std::printf("machine: %s, %u cores; CPU tracker: %d threads, %s kernel\n", cpu_model().c_str(),
              std::thread::hardware_concurrency(), cpu_tracker_threads(), cpu_kernel_name(cpu_best_kernel()));
  std::printf("GL_RENDERER %s\nGL_VERSION %s\n", renderer, reinterpret_cast<const char*>(glGetString(GL_VERSION)));
  for (Precision precision : bench.precisions) {
    EngineKind automatic = choose_engine(kEngineAuto, true, renderer, gl_version(), precision);
    std::printf("auto picks the %s engine here in %s precision\n", engine_name(automatic), precision_name(precision));
  }
  std::printf("\n");
}

double process_seconds() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

// A fresh copy of the job's input.txt in its own scratch directory, which
// becomes the working directory.
void enter_job_copy(const std::string& job) {
  std::string dir = scratch_root + "/" + base_name(job);
  mkdir(dir.c_str(), 0777);
  std::remove((dir + "/input.txt").c_str());
  if (!copy_file(job + "/input.txt", dir + "/input.txt"))
    std::fprintf(stderr, "%s has no input.txt: the default job runs\n", job.c_str());
  if (chdir(dir.c_str()) != 0) std::exit(1);
}

// The program's own start-up for the job in the working directory, on the
// window that is already open, with the given engine; false when the engine
// does not track in the precision.
// NOTE: the engine is prepared again when the run's start-up gave it
// another precision than the one benchmarked (the job's own, say): only
// the engine's state changes, the rest of the run is the program's.
bool start_bench_job(RunState* run, EngineKind engine, Precision precision) {
  run->windowed = true;
  RunOptions options = default_options();
  options.engine = engine;
  read_run_job(run, &options);
  start_job(run, &options, true);
  run->ledger.every = 0;  // scheduled samples alone are timed and checked
  if (run->engine.identity.precision == precision) return true;
  std::string renderer = run->engine.identity.renderer;
  release_engine(&run->engine);
  EngineSetup setup{true, nullptr, false, precision};
  Problem why;
  if (prepare_engine(&run->engine, engine, &run->map, &setup, renderer, &why)) return true;
  std::printf("(the %s engine in %s precision: %s; skipped)\n", engine_name(engine), precision_name(precision),
              why.message.c_str());
  return false;
}

void end_job(RunState* run) {
  release_engine(&run->engine);
  finish_run_record(run, 0);
}

// The CPU tracker's counts of a sample: the CPU engine's own when it took
// the sample, else tracked now (not timed).
const CpuSample* cpu_counts(const RunState* run, const CpuMap* map, int64_t turns, SampleCounts* counts) {
  int32_t sample = run_samples(run);
  if (!counts->count(sample)) {
    CpuSample s;
    if (run->engine.identity.kind == kEngineCpu && run->engine.identity.precision == map->precision) {
      s = CpuSample{std::vector<int64_t>(run->levels.begin(), run->levels.end()), turns, 0};
    } else {
      double jitter[4];
      sample_jitter(sample, jitter);
      s = cpu_track_sample(map, jitter);
    }
    (*counts)[sample] = s;
  }
  return &(*counts)[sample];
}

// One pass of the program's loop. False when the loop did not count it.
bool bench_pass(RunState* run, const CpuMap* map, SampleCounts* counts, PassRecord* r) {
  r->sample = run_samples(run) + 1;
  int64_t turns = run->particle_turns;
  double processor = process_seconds();
  run_pass(run);
  r->process_seconds = process_seconds() - processor;
  if (run_samples(run) != r->sample) return false;
  r->pass = 0;
  for (int k = 0; k < kPassStages; k++) r->pass += r->stage[k] = run->stage_seconds[k];
  const CpuSample* cpu = cpu_counts(run, map, run->particle_turns - turns, counts);
  r->particle_turns = cpu->particle_turns;
  std::vector<int64_t> levels(run->levels.begin(), run->levels.end());
  r->level_difference = largest_level_difference(levels, cpu->levels, int64_t(run->map.side) * run->map.side);
  return true;
}

// NOTE: the loop takes a refused sample again, forever if the window stays
// minimised; the benchmark gives up instead of hanging.
void count_refusal(const std::string& job, EngineReport* report) {
  if (++report->refused < 1000) return;
  std::fprintf(stderr, "job %s: 1000 passes refused (is the window on the screen?)\n", job.c_str());
  std::exit(1);
}

bool enough_passes(const EngineReport* report, double seconds) {
  int32_t n = int32_t(report->passes.size());
  return n >= bench.max_passes || (n >= bench.min_passes && seconds >= bench.min_seconds);
}

// NOTE: the first pass is not timed: the GL compiles the shader for the
// machine at its first draw, and the tracker's threads start at its first
// sample.
EngineReport bench_engine(const std::string& job, EngineKind engine, Precision precision, SampleCounts* counts) {
  EngineReport report{engine, 0, {}, precision};
  RunState* run = new RunState();
  if (!start_bench_job(run, engine, precision)) {
    end_job(run);
    delete run;
    return report;
  }
  CpuMap map;
  cpu_map(&run->map, &map, precision);
  PassRecord r;
  while (!bench_pass(run, &map, counts, &r)) count_refusal(job, &report);
  for (double seconds = 0; !enough_passes(&report, seconds);) {
    if (!bench_pass(run, &map, counts, &r)) {
      count_refusal(job, &report);
      continue;
    }
    report.passes.push_back(r);
    seconds += r.pass;
  }
  end_job(run);
  delete run;
  return report;
}

// The tracker alone on samples 1, 2, ... as long as an engine's passes.
KernelReport bench_kernel(const CpuMap* job, CpuKernel kernel) {
  CpuMap map = *job;  // its kernel form still points into the job's lowered map
  map.build = kernel;
  KernelReport report{kernel, 0, 0, 0, 0, job->precision};
  double jitter[4];
  sample_jitter(1, jitter);
  cpu_track_sample(&map, jitter);  // not timed: the threads start
  while (report.samples < bench.max_passes &&
         (report.samples < bench.min_passes || report.seconds < bench.min_seconds)) {
    sample_jitter(++report.samples, jitter);
    double start = PerfClock(), processor = process_seconds();
    report.particle_turns += cpu_track_sample(&map, jitter).particle_turns;
    report.seconds += PerfClock() - start;
    report.process_seconds += process_seconds() - processor;
  }
  return report;
}

bool engine_runs_here(EngineKind engine) {
  if (engine != kEngineCompute || gl_version() >= 4.3f) return true;
  std::printf("(the compute engine needs GL 4.3; skipped)\n");
  return false;
}

// NOTE: each engine runs in single and then in double precision before the
// next engine runs, so that the two runs compared are minutes apart at
// most, whatever else the machine does.
JobReport bench_job(const std::string& job) {
  enter_job_copy(job);
  JobSettings settings = read_job_file("input.txt");
  LoweredMap lowered = lower_map(&settings);
  CpuMap map;
  cpu_map(&lowered, &map);
  int64_t side = lowered.side;
  JobReport report{base_name(job), side * side, map_flops(&map), map_kicks(&map),
                   measure_fp32_peak(cpu_tracker_threads(), 1.0), {}, {}};
  SampleCounts counts[2];
  for (EngineKind engine : bench.engines)
    for (Precision precision : bench.precisions)
      if (engine_runs_here(engine))
        report.engines.push_back(bench_engine(report.name, engine, precision, &counts[precision]));
  for (Precision precision : bench.precisions) {
    cpu_map(&lowered, &map, precision);
    for (int k = kCpuKernelBaseline; bench.kernels && k < kCpuKernels; k++) {
      CpuKernel kernel = static_cast<CpuKernel>(k);
      if (cpu_kernel_available(kernel)) report.kernels.push_back(bench_kernel(&map, kernel));
    }
  }
  if (chdir(scratch_root.c_str()) != 0) std::exit(1);
  return report;
}

}  // namespace

int main(int argc, char** argv) {
  read_arguments(argc, argv);
  enter_scratch_root();
  graphics.instance = nullptr;
  open_graphics(1280, 1024, "Veldspan loop benchmark");
  setup_status_font();
  Problem why;
  if (!load_shader_api(&why)) {
    std::fprintf(stderr, "%s\n", why.message.c_str());
    return 1;
  }
  print_machine();
  std::string table = table_head(), kernel_table = kernel_table_head(), precision_table = precision_table_head();
  for (const std::string& job : bench.jobs) {
    JobReport report = bench_job(job);
    std::printf("%s  FP32 peak (%s, %d threads): %.3g flop/s, %.3g per processor second\n\n", job_text(&report).c_str(),
                report.peak.instructions, cpu_tracker_threads(), report.peak.wall, report.peak.per_cpu_second);
    std::fflush(stdout);
    table += table_rows(&report);
    kernel_table += kernel_table_rows(&report);
    precision_table += precision_table_rows(&report);
  }
  std::printf("%s", table.c_str());
  if (bench.kernels) std::printf("\n%s", kernel_table.c_str());
  if (bench.precisions.size() > 1) std::printf("\n%s", precision_table.c_str());
  std::fflush(stdout);
  close_graphics_and_exit(0);
}
