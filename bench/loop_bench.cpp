// The loop benchmark: the program's own sampling loop, pass by pass and
// stage by stage, against the CPU tracker on the same samples, for each job
// directory given (default: the standard jobs in bench/jobs).
//
//   loop_bench [--min-passes N] [--min-seconds S] [job-dir ...]
//
// Each job runs in a scratch copy (beside this program, in bench-run/), so
// its output.csv and shadercode.txt stay out of the source tree.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/run.h"
#include "app/schedule.h"
#include "app/statistics.h"
#include "bench/bench_report.h"
#include "bench/cpu_tracker.h"
#include "gfx/clock.h"
#include "gfx/frame.h"
#include "gfx/gl.h"
#include "gfx/graphics_state.h"
#include "map/shader_program.h"

namespace {

struct BenchSettings {
  int32_t min_passes;              // timed passes per job, at least
  double min_seconds;              // and at least this much loop time
  int32_t max_passes;              // but never more passes than this
  std::vector<std::string> jobs;   // absolute job directories
};

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
  std::fprintf(stderr, "unknown option %s\nusage: loop_bench [--min-passes N] [--min-seconds S] [job-dir ...]\n",
               argument.c_str());
  std::exit(2);
}

void read_arguments(int argc, char** argv) {
  bench = BenchSettings{5, 3.0, 400, {}};
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    if (a == "--min-passes" && i + 1 < argc) bench.min_passes = std::atoi(argv[++i]);
    else if (a == "--min-seconds" && i + 1 < argc) bench.min_seconds = std::atof(argv[++i]);
    else if (a.rfind("--", 0) == 0) usage_error(a);
    else bench.jobs.push_back(absolute(a));
  }
  if (bench.min_passes < 1) bench.min_passes = 1;
  if (!bench.jobs.empty()) return;
  for (const char* job : {"worked", "ring", "outside"})
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
  std::printf("machine: %s, %u cores; CPU tracker threads %d\n", cpu_model().c_str(),
              std::thread::hardware_concurrency(), cpu_tracker_threads());
  std::printf("GL_RENDERER %s\nGL_VERSION %s\n\n", reinterpret_cast<const char*>(glGetString(GL_RENDERER)),
              reinterpret_cast<const char*>(glGetString(GL_VERSION)));
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

// The start-up of the program's run_job for the job in the working
// directory, on the window that is already open.
void start_job(RunState* run) {
  std::memset(run, 0, sizeof *run);
  JobSettings early = read_job_file("input.txt");
  check_job(&early);
  char* source = prepare_job(run);
  run->program = build_shader_program(source, iteration_count(&run->settings));
  start_run(run);
  run->clock_now = PerfClock();
  pump_messages();
}

void end_job(RunState* run) {
  std::free(run->pixels);
  std::free(run->histogram);
  counted_doubles_free(run->volume_sum);
  counted_doubles_free(run->volume_sq_sum);
}

void sample_jitter(int32_t sample, double jitter[4]) {
  uint32_t i[4];
  jitter_indices(sample, &i[0], &i[1], &i[2], &i[3]);
  for (int k = 0; k < 4; k++) jitter[k] = jitter_fraction(i[k]);
}

// One pass of the program's loop, then the CPU tracker on the sample it
// took. False when the loop did not count the pass.
bool bench_pass(RunState* run, const CpuMap* map, PassRecord* r) {
  r->sample = run->samples + 1;
  run_pass(run);
  if (run->samples != r->sample) return false;
  r->pass = 0;
  for (int k = 0; k < kPassStages; k++) r->pass += r->stage[k] = run->stage_seconds[k];
  double jitter[4];
  sample_jitter(r->sample, jitter);
  double start = PerfClock();
  CpuSample cpu = cpu_track_sample(map, jitter);
  r->cpu_seconds = PerfClock() - start;
  r->particle_turns = cpu.particle_turns;
  int64_t pixels = int64_t(run->side) * run->side;
  std::vector<int64_t> loop = raw_levels(run->histogram, iteration_count(&run->settings));
  r->level_difference = largest_level_difference(loop, cpu.levels, pixels);
  return true;
}

// NOTE: the loop takes a refused sample again, forever if the window stays
// minimised; the benchmark gives up instead of hanging.
void count_refusal(JobReport* report) {
  if (++report->refused < 1000) return;
  std::fprintf(stderr, "job %s: 1000 passes refused (is the window on the screen?)\n", report->name.c_str());
  std::exit(1);
}

bool enough_passes(const JobReport* report, double seconds) {
  int32_t n = int32_t(report->passes.size());
  return n >= bench.max_passes || (n >= bench.min_passes && seconds >= bench.min_seconds);
}

// NOTE: the first pass is not timed: the GL compiles the shader for the
// machine at its first draw, and the tracker's threads start at its first
// sample.
JobReport bench_job(const std::string& job) {
  enter_job_copy(job);
  JobReport report{base_name(job), 0, 0, {}};
  RunState run;
  start_job(&run);
  CpuMap map = cpu_map(&run.settings);
  report.particles = int64_t(run.side) * run.side;
  PassRecord r;
  while (!bench_pass(&run, &map, &r)) count_refusal(&report);
  for (double seconds = 0; !enough_passes(&report, seconds);) {
    if (!bench_pass(&run, &map, &r)) {
      count_refusal(&report);
      continue;
    }
    report.passes.push_back(r);
    seconds += r.pass;
  }
  end_job(&run);
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
  load_shader_api();
  print_machine();
  std::string table = table_head();
  for (const std::string& job : bench.jobs) {
    JobReport report = bench_job(job);
    JobFigures figures = job_figures(&report);
    std::printf("%s\n", job_text(&report, &figures).c_str());
    std::fflush(stdout);
    table += table_row(&report, &figures);
  }
  std::printf("%s", table.c_str());
  std::fflush(stdout);
  close_graphics_with_status(0);
}
