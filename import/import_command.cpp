#include "import/import_command.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "import/import_job.h"
#include "util/files.h"
#include "util/numbers.h"
#include "util/text_util.h"

namespace {

const char* const kJobFile = "input.txt";

bool parse_positive(const char* text, double* value) {
  return parse_real(text, value) && std::isfinite(*value) && *value > 0;
}

bool is_whole(const char* text) { return *text && std::strspn(text, "0123456789") == std::strlen(text); }

// --iterations N ...: the whole numbers after it, at least one, ascending.
bool read_iterations(int argc, const char* const* argv, int* i, ImportOptions* o, std::string* error) {
  o->iterations.clear();
  for (; *i + 1 < argc && is_whole(argv[*i + 1]); ++*i) {
    int32_t n;
    if (!parse_whole32(argv[*i + 1], 1, INT32_MAX, &n)) *error = format_text("bad turn count %s", argv[*i + 1]);
    else if (!o->iterations.empty() && n < o->iterations.back()) *error = "the turn counts of --iterations must ascend";
    if (!error->empty()) return false;
    o->iterations.push_back(n);
  }
  if (o->iterations.empty()) *error = "--iterations needs one or more whole numbers";
  return error->empty();
}

// An option with a fixed number of values: the values, or the error.
bool read_values(int argc, const char* const* argv, int* i, int count, std::string* error) {
  if (*i + count >= argc) {
    *error = format_text("%s needs %d value%s", argv[*i], count, count > 1 ? "s" : "");
    return false;
  }
  return true;
}

bool read_valued(int argc, const char* const* argv, int* i, ImportOptions* o, std::string* error) {
  std::string a = argv[*i];
  int count = a == "--box" ? 4 : 1;
  if (!read_values(argc, argv, i, count, error)) return false;
  bool ok = true;
  if (a == "--sigmas") ok = parse_positive(argv[*i + 1], &o->sigmas);
  else if (a == "--baseres") ok = parse_whole32(argv[*i + 1], 1, 32, &o->baseres);
  else if (a == "--maxsamples") ok = parse_whole32(argv[*i + 1], 0, INT32_MAX, &o->maxsamples);
  for (int k = 0; k < 4 && a == "--box"; k++) ok = ok && parse_positive(argv[*i + 1 + k], &o->box[k]);
  o->has_box = o->has_box || a == "--box";
  if (!ok) *error = format_text("bad value for %s: %s", a.c_str(), argv[*i + 1]);
  *i += count;
  return ok;
}

bool takes_values(const std::string& a) { return a == "--sigmas" || a == "--baseres" || a == "--maxsamples" || a == "--box"; }

bool read_flag(const std::string& a, ImportOptions* o) {
  if (a == "--coupled-as-kicks") o->coupled_as_kicks = true;
  else if (a == "--force") o->force = true;
  else if (a == "--help" || a == "-h") o->help = true;
  else return false;
  return true;
}

bool read_operand(const std::string& a, ImportOptions* o, std::string* error) {
  if (a.empty()) *error = "an empty argument";
  else if (a.size() > 1 && a[0] == '-') *error = "unknown option " + a;
  else if (o->table_path.empty()) o->table_path = a;
  else if (o->job_dir.empty()) o->job_dir = a;
  else *error = "one table and one job directory, not " + a;
  return error->empty();
}

std::string job_path(const std::string& dir) {
  bool slash = !dir.empty() && (dir.back() == '/' || dir.back() == '\\');
  return dir + (slash ? "" : "/") + kJobFile;
}

bool exists(const std::string& path) { return file_length(path.c_str()) >= 0; }

// The directory and any missing parents, as mkdir -p.
bool make_directories(const std::string& dir, std::string* error) {
  std::error_code failure;
  if (std::filesystem::create_directories(dir, failure) || !failure) return true;
  *error = format_text("the directory %s cannot be made: %s", dir.c_str(), failure.message().c_str());
  return false;
}

int fail(const std::string& error) {
  std::fprintf(stderr, "veldspan import: %s\n", error.c_str());
  return 1;
}

bool read_whole_file(const std::string& path, std::string* text, std::string* error) {
  errno = 0;
  if (read_file_bytes(path.c_str(), text)) return true;
  *error = format_text("%s cannot be read: %s", path.c_str(), std::strerror(failure_code()));
  return false;
}

std::string refusal_to_replace(const std::string& path) {
  return path + " exists and is kept; --force replaces it";
}

}  // namespace

bool parse_import_options(int argc, const char* const* argv, ImportOptions* o, std::string* error) {
  error->clear();
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    bool ok = a == "--iterations" ? read_iterations(argc, argv, &i, o, error)
              : takes_values(a)   ? read_valued(argc, argv, &i, o, error)
                                  : read_flag(a, o) || read_operand(a, o, error);
    if (!ok) return false;
  }
  if (!o->help && o->job_dir.empty()) *error = o->table_path.empty() ? "no table and no job directory" : "no job directory";
  return error->empty();
}

std::string import_usage_text() {
  return "usage: veldspan import [options] TABLE.tfs JOBDIR\n"
         "Turns a MAD-X Twiss table of a ring (made thin, with the strengths KnL, KnSL) into\n"
         "the job JOBDIR/input.txt: thin kicks for every element with strengths of order 2 or\n"
         "more, linear transport between them from the Twiss functions.\n"
         "  --sigmas S          the box is +-S beam sigmas in x, xp, y, yp (default 10)\n"
         "  --box X XP Y YP     the box's half-widths in m and rad instead (needed when the\n"
         "                      table has no emittances EX, EY)\n"
         "  --iterations N ...  turn counts, ascending (default 1000 10000 100000)\n"
         "  --baseres B         grid points per coordinate, 1 to 32 (default 32)\n"
         "  --maxsamples M      the job's maxsamples (default 256)\n"
         "  --coupled-as-kicks  import coupled optics: skew quadrupoles (K1SL) become kicks on\n"
         "                      the uncoupled transport\n"
         "  --force             replace an existing JOBDIR/input.txt\n"
         "Exit status 1 when the table is refused or the job not written, 2 for a bad command line.\n";
}

bool write_job_file(const std::string& dir, const std::string& text, bool replace, std::string* error) {
  std::string path = job_path(dir), temporary = path + ".tmp";
  errno = 0;
  bool placed = write_whole_file(temporary.c_str(), "wb", text.c_str()) &&
                (replace ? replace_file(temporary.c_str(), path.c_str()) : place_new_file(temporary.c_str(), path.c_str()));
  if (placed) return true;
  int failure = errno;
  std::remove(temporary.c_str());
  *error = failure == EEXIST ? refusal_to_replace(path)
                             : format_text("%s could not be written: %s", path.c_str(), std::strerror(failure));
  return false;
}

int import_command(int argc, const char* const* argv) {
  ImportOptions o = default_import_options();
  std::string error, text;
  if (!parse_import_options(argc, argv, &o, &error)) {
    std::fprintf(stderr, "veldspan import: %s\n%s", error.c_str(), import_usage_text().c_str());
    return 2;
  }
  if (o.help) {
    std::fputs(import_usage_text().c_str(), stdout);
    return 0;
  }
  if (!o.force && exists(job_path(o.job_dir))) return fail(refusal_to_replace(job_path(o.job_dir)));
  if (!read_whole_file(o.table_path, &text, &error)) return fail(error);
  ImportResult result;
  if (!import_table(text.data(), text.size(), &o, &result)) return fail(result.error);
  if (!make_directories(o.job_dir, &error) || !write_job_file(o.job_dir, result.job, o.force, &error)) return fail(error);
  std::printf("veldspan import: %s -> %s\n%s", o.table_path.c_str(), job_path(o.job_dir).c_str(), result.summary.c_str());
  return 0;
}
