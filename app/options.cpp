#include "app/options.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "util/numbers.h"
#include "util/text_util.h"

namespace {

// A whole decimal number from 0 to 2^31 - 1, nothing else.
bool parse_count(const char* text, int32_t* value) { return parse_whole32(text, 0, INT32_MAX, value); }

// The option at argv[*i] that takes a value: the value, or null (and the
// error) when it is missing or bad.
const char* option_value(int argc, const char* const* argv, int* i, std::string* error) {
  if (*i + 1 >= argc) {
    *error = format_text("%s needs a value", argv[*i]);
    return nullptr;
  }
  return argv[++*i];
}

// K/N with 0 <= K < N.
bool parse_shard(const char* text, int32_t* shard, int32_t* shards) {
  const char* slash = std::strchr(text, '/');
  if (!slash) return false;
  std::string k(text, size_t(slash - text));
  return parse_count(k.c_str(), shard) && parse_count(slash + 1, shards) && *shard < *shards;
}

bool read_valued(const std::string& name, const char* value, RunOptions* o, std::string* error) {
  bool ok = name == "--engine"        ? engine_from_name(value, &o->engine)
            : name == "--precision"   ? parse_precision(value, &o->precision)
            : name == "--max-samples" ? parse_count(value, &o->max_samples)
            : name == "--shard"       ? parse_shard(value, &o->shard, &o->shards)
            : name == "--max-seconds" ? parse_count(value, &o->max_seconds)
                                      : parse_count(value, &o->device);
  if (!ok) *error = format_text("bad value for %s: %s", name.c_str(), value);
  return ok;
}

bool takes_value(const std::string& a) {
  return a == "--engine" || a == "--max-samples" || a == "--device" || a == "--shard" || a == "--max-seconds" ||
         a == "--precision";
}

bool read_flag(const std::string& a, RunOptions* o) {
  if (a == "--headless") o->headless = true;
  else if (a == "--resume") o->resume = true;
  else if (a == "--help" || a == "-h") o->help = true;
  else if (a == "--version") o->version = true;
  else return false;
  return true;
}

}  // namespace

bool parse_precision(const char* text, int32_t* precision) {
  std::string word = text;
  if (word == "single") *precision = kPrecisionSingle;
  else if (word == "double") *precision = kPrecisionDouble;
  else return false;
  return true;
}

RunOptions default_options() { return RunOptions{"", false, kEngineAuto, -1, -1, 0, 0, false, 0, -1, false, false}; }

bool parse_options(int argc, const char* const* argv, RunOptions* o, std::string* error) {
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    if (takes_value(a)) {
      const char* value = option_value(argc, argv, &i, error);
      if (!value || !read_valued(a, value, o, error)) return false;
    } else if (read_flag(a, o)) {
      continue;
    } else if (a.size() > 1 && a[0] == '-') {
      *error = "unknown option " + a;
      return false;
    } else if (a.empty()) {
      *error = "the job directory is empty (\"\"); name a directory, or none for the working directory";
      return false;
    } else if (o->job_dir.empty()) {
      o->job_dir = a;
    } else {
      *error = "more than one job directory: " + a;
      return false;
    }
  }
  return true;
}

std::string usage_text() {
  return "usage: veldspan [options] [JOBDIR]\n"
         "Measures the dynamic aperture of the job in JOBDIR/input.txt (default: the working\n"
         "directory) and writes output.csv there.\n"
         "  --headless          no window: runs without a display (EGL, or the CPU)\n"
         "  --engine NAME       auto (default), fragment, compute or cpu\n"
         "  --max-samples N     end after sample N (overrides \"maxsamples\" in the job)\n"
         "  --precision P       single or double (overrides \"precision\" in the job)\n"
         "  --device N          the EGL device (GPU) of a headless run; default: the first that works\n"
         "  --shard K/N         take only the samples s with (s - 1) mod N = K, into shard-K-of-N.rec;\n"
         "                      output.csv is left to \"veldspan merge\"\n"
         "  --resume            continue from the sample record (samples.rec, or the shard's);\n"
         "                      without one, start afresh\n"
         "  --max-seconds S     stop after S seconds as on SIGTERM (status 143), ready to resume\n"
         "  --help              this text\n"
         "  --version           the program's version\n"
         "   or: veldspan merge [--samples N] [--job DIR] RECORD...\n"
         "Merges sample records into DIR/output.csv (default: the working directory's); see\n"
         "\"veldspan merge --help\".\n"
         "   or: veldspan scan [options] [JOBDIR]\n"
         "Runs the job at every point of its scan lines into JOBDIR/scan/, and their figures into\n"
         "JOBDIR/scan.csv; see \"veldspan scan --help\".\n"
         "   or: veldspan import [options] TABLE.tfs JOBDIR\n"
         "Makes JOBDIR/input.txt of a MAD-X Twiss table; see \"veldspan import --help\".\n";
}

const char* program_version() { return VELDSPAN_VERSION; }

int refuse_run_command(const std::string& why) {
  std::string usage = usage_text();
  std::fprintf(stderr, "veldspan: %s\n%s", why.c_str(), usage.substr(0, usage.find('\n') + 1).c_str());
  return kExitBadCommandLine;
}

// NOTE: a batch script may name the task's GPU whatever the engine (the
// Slurm task script does, for every task given a GPU), so a device that
// nothing uses is not refused; it is named, so that nobody takes the run
// for one on that GPU.
std::string unused_device_text(const RunOptions* o) {
  if (o->device < 0) return "";
  if (o->engine == kEngineCpu)
    return format_text("--device %d is ignored: the cpu engine uses no GPU", static_cast<int>(o->device));
  if (!o->headless)
    return format_text("--device %d is ignored: it chooses the GPU of a run without a window (--headless)",
                       static_cast<int>(o->device));
  return "";
}

int read_command_line(int argc, const char* const* argv, RunOptions* options) {
  std::string error;
  if (!parse_options(argc, argv, options, &error)) {
    std::fprintf(stderr, "veldspan: %s\n%s", error.c_str(), usage_text().c_str());
    return kExitBadCommandLine;
  }
  if (options->help) std::fputs(usage_text().c_str(), stdout);
  else if (options->version) std::printf("veldspan %s\n", program_version());
  if (options->help || options->version) return 0;
  std::string unused = unused_device_text(options);
  if (!unused.empty()) std::fprintf(stderr, "veldspan: %s\n", unused.c_str());
  return -1;
}
