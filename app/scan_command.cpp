#include "app/scan_command.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "app/options.h"
#include "gfx/clock.h"
#include "gfx/graphics_state.h"
#include "map/scan_plan.h"
#include "results/reports.h"
#include "results/scan_table.h"
#include "util/files.h"
#include "util/numbers.h"
#include "util/process.h"
#include "util/text_util.h"

namespace {

namespace fs = std::filesystem;

// One working point: its values, its directory and its job's text.
struct PointJob {
  ScanPoint point;
  std::string name;  // "3-1", or "3"
  std::string dir;   // "scan/3-1", from the job's directory
  std::string text;  // its input.txt
};

// Whether a point's run is complete, and its figures when it is.
struct PointState {
  std::string missing;  // what is missing; "" when complete
  ApertureTable aperture;
};

struct ScanRun {
  ScanOptions options;
  JobSource source;      // the job's input.txt, named for messages as the user gave its directory
  JobSettings job;       // the job the points share but for their map values
  ScanPlan plan;
  int32_t max_samples;   // every point's last sample
  std::vector<PointJob> points;
  std::vector<PointState> states;
  std::string job_name;  // the job directory's name, for scan.csv
  bool table_lost;       // scan.csv could not be written at the last try
};

const char* const kTable = "scan.csv";

bool parse_jobs(const char* text, int32_t* jobs) { return parse_whole32(text, 1, kMostScanJobs, jobs); }
bool parse_shards(const char* text, int32_t* shards) { return parse_whole32(text, 1, INT32_MAX, shards); }

bool takes_value(const std::string& a) {
  return a == "--engine" || a == "--max-samples" || a == "--precision" || a == "--jobs" || a == "--shards";
}

bool read_flag(const std::string& a, ScanOptions* o) {
  bool* flag = a == "--resume"    ? &o->resume
               : a == "--force"   ? &o->force
               : a == "--table"   ? &o->table
               : a == "--prepare" ? &o->prepare
               : a == "--list"    ? &o->list
               : a == "--help" || a == "-h" ? &o->help
                                            : nullptr;
  if (flag) *flag = true;
  return flag || a == "--headless";  // a scan's points always run without a window
}

bool read_valued(const std::string& a, const char* value, ScanOptions* o, std::string* error) {
  bool ok = true;
  if (a == "--precision") o->precision = value;
  if (a == "--engine") o->engine = value;
  else if (a == "--max-samples") o->max_samples = value;
  else if (a == "--precision") ok = parse_precision(value, &o->precision_level);
  else if (a == "--jobs") ok = parse_jobs(value, &o->jobs);
  else ok = parse_shards(value, &o->shards);
  if (!ok) *error = format_text("bad value for %s: %s", a.c_str(), value);
  return ok;
}

// The options each point's run is given, in the order it is given them.
std::vector<std::string> point_options(const ScanOptions* o) {
  std::vector<std::string> line;
  if (!o->engine.empty()) line.insert(line.end(), {"--engine", o->engine});
  if (!o->max_samples.empty()) line.insert(line.end(), {"--max-samples", o->max_samples});
  if (!o->precision.empty()) line.insert(line.end(), {"--precision", o->precision});
  return line;
}

// NOTE: the options passed on are read by the very reader each point's
// run uses, so that a bad one is refused before any point is written.
bool check_point_options(const ScanOptions* o, std::string* error) {
  std::vector<std::string> line{"veldspan", "--headless"};
  std::vector<std::string> passed = point_options(o);
  line.insert(line.end(), passed.begin(), passed.end());
  std::vector<const char*> argv;
  for (const std::string& word : line) argv.push_back(word.c_str());
  RunOptions run = default_options();
  return parse_options(int(argv.size()), argv.data(), &run, error);
}

bool check_modes(const ScanOptions* o, std::string* error) {
  if (int(o->table) + int(o->prepare) + int(o->list) > 1) *error = "--table, --prepare and --list go alone";
  else if (o->shards && !o->table) *error = "--shards goes with --table";
  else if (o->force && o->table) *error = "--force goes with a scan, --prepare or --list";
  else if (o->jobs > 1 && (o->table || o->prepare || o->list)) *error = "--jobs goes with a scan that runs";
  return error->empty();
}

bool read_argument(int argc, const char* const* argv, int* i, ScanOptions* o, std::string* error) {
  std::string a = argv[*i];
  if (takes_value(a)) {
    if (*i + 1 >= argc) *error = a + " needs a value";
    else read_valued(a, argv[++*i], o, error);
  } else if (!read_flag(a, o)) {
    if (a.size() > 1 && a[0] == '-') *error = "unknown option " + a;
    else if (o->job_dir.empty() && !a.empty()) o->job_dir = a;
    else *error = "more than one job directory: " + a;
  }
  return error->empty();
}


// The command that goes on with the scan where it stopped.
std::string resume_text(const ScanOptions* o) {
  std::string line = "veldspan scan --resume";
  for (const std::string& word : point_options(o)) line += " " + shell_word(word);
  if (o->jobs > 1) line += format_text(" --jobs %d", o->jobs);
  return line + (o->job_dir.empty() ? "" : " " + shell_word(o->job_dir));
}

std::string in_job_dir(const ScanOptions* o, const std::string& name) {
  return o->job_dir.empty() ? name : o->job_dir + "/" + name;
}

// --- the plan and the points' jobs ---

// The job's scan plan and the points; false after saying why not.
bool plan_points(ScanRun* run) {
  read_job_source("input.txt", &run->source);
  run->source.path = in_job_dir(&run->options, "input.txt");
  run->plan = plan_scan(&run->source, run->options.precision_level);
  if (!run->plan.refusal.empty()) {
    std::fprintf(stderr, "veldspan scan: %s; nothing was written\n", run->plan.refusal.c_str());
    return false;
  }
  run->job = parse_job(&run->source);
  for (int64_t k = 0; k < scan_point_count(&run->plan); k++) {
    PointJob p{scan_point(&run->plan, k), "", "", ""};
    p.name = scan_point_name(&p.point);
    p.dir = "scan/" + p.name;
    p.text = scan_point_job(run->source.bytes, &run->plan, &p.point, false);
    run->points.push_back(p);
  }
  return true;
}

// NOTE: each point's completeness is judged against one sample limit, the
// one every point is run to; a run without one would never end.
bool choose_limits(ScanRun* run) {
  int32_t given = -1;
  if (!run->options.max_samples.empty()) parse_whole32(run->options.max_samples, 0, INT32_MAX, &given);
  run->max_samples = given >= 0 ? given : run->job.maxsamples;
  const char* why = run->max_samples < 1 ? "a scan needs a sample limit: give --max-samples N, or maxsamples in the job"
                    : run->job.randompasses < 1 ? "a scan's table is made of the random passes' figures: the job "
                                                  "needs randompasses 1 or more"
                                                : nullptr;
  if (why) std::fprintf(stderr, "veldspan scan: %s; nothing was written\n", why);
  return why == nullptr;
}

bool same_bytes(const std::string& path, const std::string& text) {
  std::string bytes;
  return read_file_bytes(path.c_str(), &bytes) && bytes == text;
}

// Points whose input.txt is there and is not their job's: the job was
// edited since they were written.
std::vector<const PointJob*> other_jobs(const ScanRun* run) {
  std::vector<const PointJob*> found;
  for (const PointJob& p : run->points) {
    std::string path = p.dir + "/input.txt";
    if (file_length(path.c_str()) >= 0 && !same_bytes(path, p.text)) found.push_back(&p);
  }
  return found;
}

bool refuse_other_jobs(const ScanRun* run) {
  std::vector<const PointJob*> found = other_jobs(run);
  if (found.empty() || run->options.force) return true;
  std::string names;
  for (size_t k = 0; k < found.size() && k < 5; k++) names += (k ? ", " : "") + in_job_dir(&run->options, found[k]->dir);
  if (found.size() > 5) names += format_text(" and %d more", int(found.size()) - 5);
  std::fprintf(stderr, "veldspan scan: %s hold%s another job's input.txt (was the job edited?): %s; --force writes "
               "them anew and deletes their results; nothing was written\n", found.size() == 1 ? "a point" : "points",
               found.size() == 1 ? "s" : "", names.c_str());
  return false;
}

// NOTE: a point's records and results of another job can be neither
// resumed nor merged with its new job; --force asked for them to go.
void delete_old_results(const std::string& dir) {
  std::error_code e, removed;
  for (const char* name : {"samples.rec", "output.csv", "aperture.csv", "point.log"})
    fs::remove(dir + "/" + name, removed);
  for (fs::directory_iterator it(dir, e), end; !e && it != end; it.increment(e)) {
    std::string name = it->path().filename().string();
    if (name.compare(0, 6, "shard-") == 0 && name.size() > 4 && name.compare(name.size() - 4, 4, ".rec") == 0)
      fs::remove(it->path(), removed);
  }
}

// The job's font beside each point's job, for a point run in a window;
// copied only when the point has none of its length.
bool copy_font(const std::string& dir) {
  std::error_code e;
  if (!fs::is_regular_file("font.dat", e)) return true;
  if (file_length((dir + "/font.dat").c_str()) == file_length("font.dat")) return true;
  std::string temporary = dir + "/font.dat.tmp";
  bool copied = fs::copy_file("font.dat", temporary, fs::copy_options::overwrite_existing, e) &&
                replace_file(temporary.c_str(), (dir + "/font.dat").c_str());
  if (!copied) std::remove(temporary.c_str());
  return copied;
}

// The point's directory with its job; false after saying why not.
bool write_point(const ScanRun* run, const PointJob* p) {
  std::error_code e;
  fs::create_directories(p->dir, e);
  std::string input = p->dir + "/input.txt";
  bool other = file_length(input.c_str()) >= 0 && !same_bytes(input, p->text);
  if (other) delete_old_results(p->dir);
  bool written = !e && (same_bytes(input, p->text) || replace_whole_file(input.c_str(), p->text.c_str(), "wb")) && copy_font(p->dir);
  if (!written)
    std::fprintf(stderr, "veldspan scan: the job of point %s cannot be written into %s\n", p->name.c_str(),
                 in_job_dir(&run->options, p->dir).c_str());
  return written;
}

bool write_points(const ScanRun* run) {
  for (const PointJob& p : run->points)
    if (!write_point(run, &p)) return false;
  return true;
}

// --- which points are complete, and scan.csv ---

std::vector<std::string> record_paths(const ScanRun* run, const PointJob* p) {
  if (!run->options.shards) return {p->dir + "/" + record_file_name(0, 0)};
  std::vector<std::string> paths;
  for (int32_t k = 0; k < run->options.shards; k++)
    paths.push_back(p->dir + "/" + record_file_name(k, run->options.shards));
  return paths;
}

PointState judge_point(const ScanRun* run, const PointJob* p) {
  PointState s{"", ApertureTable{false, -1, {}, {}}};
  std::string input, aperture, error;
  if (!read_file_bytes((p->dir + "/input.txt").c_str(), &input)) return PointState{"it has no input.txt", s.aperture};
  std::vector<RecordHolding> records;
  for (const std::string& path : record_paths(run, p)) {
    if (file_length(path.c_str()) < 0) continue;
    RecordReader reader;
    bool read = open_record_reader(&reader, path, &run->job) && read_to_end(&reader);
    if (read) records.push_back(record_holding(&reader));
    close_record_reader(&reader);
    if (!read) return PointState{reader.error, s.aperture};
  }
  if (read_file_bytes((p->dir + "/aperture.csv").c_str(), &aperture)) s.aperture = parse_aperture_table(aperture);
  PointGoal goal{job_hash(input), run->max_samples, run->job.randompasses};
  s.missing = point_incompleteness(records, &goal, &s.aperture);
  return s;
}

void judge_points(ScanRun* run) {
  run->states.clear();
  for (const PointJob& p : run->points) run->states.push_back(judge_point(run, &p));
}

std::string table_text(const ScanRun* run) {
  std::vector<TablePoint> complete;
  for (size_t k = 0; k < run->points.size(); k++) {
    if (!run->states[k].missing.empty()) continue;
    TablePoint t{run->points[k].name, {}, run->states[k].aperture};
    for (double v : run->points[k].point.values) t.values.push_back(scan_value_text(v));
    complete.push_back(t);
  }
  return scan_table_text(run->job_name, date_time_text(time_text), scan_lines_text(&run->plan),
                         int32_t(run->plan.lines.size()), complete);
}

// scan.csv rewritten whole; a failure is said, and tried again later.
void write_table(ScanRun* run) {
  run->table_lost = !replace_whole_file(kTable, table_text(run).c_str());
  if (run->table_lost)
    std::fprintf(stderr, "veldspan scan: %s could not be written (%s); it is written again after the next point\n",
                 in_job_dir(&run->options, kTable).c_str(), std::strerror(failure_code()));
}

int32_t complete_count(const ScanRun* run) {
  int32_t n = 0;
  for (const PointState& s : run->states) n += s.missing.empty();
  return n;
}

// Names the points not complete (at most a few) and why.
void report_missing(const ScanRun* run) {
  int32_t said = 0, missing = int32_t(run->points.size()) - complete_count(run);
  for (size_t k = 0; k < run->points.size() && said < 5; k++)
    if (!run->states[k].missing.empty() && ++said)
      std::fprintf(stderr, "veldspan scan: point %s is not complete: %s\n", run->points[k].name.c_str(),
                   run->states[k].missing.c_str());
  if (missing > said) std::fprintf(stderr, "veldspan scan: and %d more points are not complete\n", missing - said);
}

int table_only(ScanRun* run) {
  judge_points(run);
  write_table(run);
  std::fprintf(stderr, "veldspan scan: %s holds %d of the %d points\n", in_job_dir(&run->options, kTable).c_str(),
               complete_count(run), int(run->points.size()));
  report_missing(run);
  if (run->table_lost) return kExitResultsLost;
  return complete_count(run) == int32_t(run->points.size()) ? 0 : kExitPointsMissing;
}

void list_points(const ScanRun* run) {
  for (const PointJob& p : run->points) std::printf("%s\n", p.dir.c_str());
}

// --- running the points ---

struct Running {
  size_t point;  // index into the points
  ChildProcess child;
};

struct Progress {
  std::vector<Running> running;
  int32_t stops_seen;  // stop signals passed on so far
  int stop;            // the stop signal that ended the scan; 0 for none
  size_t failed;       // the point that failed; points.size() for none
  int failed_status;
};

std::vector<std::string> point_command(const ScanRun* run, const PointJob* p, const std::string& program) {
  std::vector<std::string> line{program, "--headless"};
  std::vector<std::string> passed = point_options(&run->options);
  line.insert(line.end(), passed.begin(), passed.end());
  if (run->options.resume) line.push_back("--resume");
  line.push_back(p->dir);
  return line;
}

std::string point_label(const ScanRun* run, size_t k) {
  return format_text("point %d of %d (%s)", int(k + 1), int(run->points.size()), run->points[k].name.c_str());
}

// NOTE: one point at a time passes its messages (its progress) through;
// several at once would mix their lines, so each writes to its point.log.
bool start_point(ScanRun* run, Progress* g, size_t k, const std::string& program) {
  const PointJob* p = &run->points[k];
  std::string log = run->options.jobs > 1 ? p->dir + "/point.log" : "", error;
  std::fprintf(stderr, "veldspan scan: %s%s\n", point_label(run, k).c_str(),
               log.empty() ? "" : (": its messages go to " + in_job_dir(&run->options, log)).c_str());
  std::fflush(stderr);
  ChildProcess child;
  if (!start_child(point_command(run, p, program), log, &child, &error)) {
    std::fprintf(stderr, "veldspan scan: %s\n", error.c_str());
    g->failed = k;
    g->failed_status = 1;
    return false;
  }
  g->running.push_back(Running{k, child});
  return true;
}

void stop_running(const Progress* g) {
  for (const Running& r : g->running) stop_child(&r.child);
}

void point_ended(ScanRun* run, Progress* g, size_t k, int status) {
  run->states[k] = judge_point(run, &run->points[k]);
  write_table(run);
  if (status == 0 && run->options.jobs > 1) std::fprintf(stderr, "veldspan scan: %s done\n", point_label(run, k).c_str());
  if (status == 0 || g->stop || g->failed < run->points.size()) return;
  g->failed = k;
  g->failed_status = status;
  stop_running(g);
}

// Waits for the next point to end, or passes a stop signal on.
void wait_next(ScanRun* run, Progress* g) {
  std::vector<ChildProcess> children;
  for (const Running& r : g->running) children.push_back(r.child);
  int status = 0;
  int k = wait_for_child(children, g->stops_seen, &status);
  // NOTE: each stop is passed on once. A batch system that signals every
  // process of a job gives the point a second one, which ends it at once:
  // its record still holds every whole sample, and --resume goes on.
  if (k < 0) {
    g->stops_seen = stop_signals_caught();
    g->stop = last_stop_signal();
    stop_running(g);
    return;
  }
  size_t point = g->running[size_t(k)].point;
  g->running.erase(g->running.begin() + k);
  point_ended(run, g, point, status);
}

std::vector<size_t> points_to_run(const ScanRun* run) {
  std::vector<size_t> todo;
  for (size_t k = 0; k < run->points.size(); k++)
    if (!run->options.resume || !run->states[k].missing.empty()) todo.push_back(k);
  return todo;
}

void run_points(ScanRun* run, Progress* g, const std::vector<size_t>& todo, const std::string& program) {
  size_t next = 0;
  while (next < todo.size() || !g->running.empty()) {
    bool going = !g->stop && g->failed == run->points.size();
    while (going && next < todo.size() && int32_t(g->running.size()) < run->options.jobs)
      going = start_point(run, g, todo[next++], program);
    if (g->running.empty()) return;
    wait_next(run, g);
  }
}

std::string signal_name(int signal_number) {
  return signal_number == SIGTERM  ? "SIGTERM"
         : signal_number == SIGINT ? "SIGINT"
                                   : format_text("signal %d", signal_number);
}

int scan_outcome(ScanRun* run, const Progress* g) {
  if (g->stop || g->failed < run->points.size()) {
    if (g->stop) std::fprintf(stderr, "veldspan scan: stopped by %s; ", signal_name(g->stop).c_str());
    else std::fprintf(stderr, "veldspan scan: %s failed (status %d); once that is mended, ",
                      point_label(run, g->failed).c_str(), g->failed_status);
    std::fprintf(stderr, "the points done are in %s.\nTo go on: %s\n", in_job_dir(&run->options, kTable).c_str(),
                 resume_text(&run->options).c_str());
    return g->stop ? 128 + g->stop : g->failed_status;
  }
  if (run->table_lost) write_table(run);
  std::fprintf(stderr, "veldspan scan: %d of the %d points complete, in %s\n", complete_count(run),
               int(run->points.size()), in_job_dir(&run->options, kTable).c_str());
  report_missing(run);
  if (run->table_lost) return kExitResultsLost;
  return complete_count(run) == int32_t(run->points.size()) ? 0 : kExitPointsMissing;
}

int run_scan(ScanRun* run) {
  std::string program = own_executable_path();
  if (program.empty()) {
    std::fprintf(stderr, "veldspan scan: this program's own executable cannot be found to run the points\n");
    return 1;
  }
  if (run->options.resume) judge_points(run);
  else run->states.assign(run->points.size(), PointState{"not run yet", ApertureTable{false, -1, {}, {}}});
  std::vector<size_t> todo = points_to_run(run);
  if (todo.size() < run->points.size())
    std::fprintf(stderr, "veldspan scan: %d of the %d points are complete already\n",
                 int(run->points.size() - todo.size()), int(run->points.size()));
  write_table(run);
  catch_stop_signals();
  Progress g{{}, 0, 0, run->points.size(), 0};
  run_points(run, &g, todo, program);
  return scan_outcome(run, &g);
}

int scan_job(ScanRun* run) {
  if (!run->options.job_dir.empty() && !change_dir(run->options.job_dir.c_str())) {
    std::fprintf(stderr, "veldspan scan: the job directory %s cannot be entered\n", run->options.job_dir.c_str());
    return 1;
  }
  run->job_name = working_dir_name();
  if (!plan_points(run) || !choose_limits(run) || !refuse_other_jobs(run)) return 1;
  if (run->options.list) return list_points(run), 0;
  if (run->options.table) return table_only(run);
  if (!write_points(run)) return 1;
  if (run->options.prepare) return list_points(run), 0;
  return run_scan(run);
}

}  // namespace

bool parse_scan_options(int argc, const char* const* argv, ScanOptions* o, std::string* error) {
  *o = ScanOptions{"", "", "", "", -1, 1, 0, false, false, false, false, false, false};
  error->clear();
  for (int i = 1; i < argc; i++)
    if (!read_argument(argc, argv, &i, o, error)) return false;
  return o->help || (check_modes(o, error) && check_point_options(o, error));
}

std::string scan_usage_text() {
  return "usage: veldspan scan [options] [JOBDIR]\n"
         "Runs the job in JOBDIR/input.txt (default: the working directory) at every point of its\n"
         "scan lines (\"scan E V FROM TO STEPS\": value V of map line E from FROM to TO in STEPS\n"
         "steps; two lines make a grid), each point a job of its own in JOBDIR/scan/<point>, and\n"
         "writes their figures at each turn count into JOBDIR/scan.csv after each point.\n"
         "  --engine NAME       the engine of every point (auto, fragment, compute or cpu)\n"
         "  --max-samples N     every point's last sample (default: the job's maxsamples)\n"
         "  --precision P       single or double: every point's precision\n"
         "  --resume            skip the points that are complete, resume the others\n"
         "  --jobs J            run J points at once (1 to 64; default 1): each point's messages\n"
         "                      then go to its point.log\n"
         "  --force             write the points whose input.txt is another job's (the job was\n"
         "                      edited) anew, deleting their records and results\n"
         "  --table             only write scan.csv from the points complete; with --shards N, the\n"
         "                      points were run as N shards each and merged (veldspan-submit --scan)\n"
         "  --prepare           only write the points' jobs, and list their directories\n"
         "  --list              only list the points' directories; nothing is written\n"
         "A point is complete when its record holds samples 1 to N and the random passes owed\n"
         "for them, and its aperture.csv was written at its last result block.\n"
         "Exit status: 0 all points complete; 1 refused; 2 bad usage; a failed point's own status;\n"
         "143 (130) when stopped by SIGTERM (SIGINT); 3 points not complete (--table).\n";
}

int scan_command(int argc, const char* const* argv) {
  graphics.headless = 1;  // a scan never opens a window, nor shows a box
  ScanRun run;
  std::string error;
  if (!parse_scan_options(argc, argv, &run.options, &error)) {
    std::fprintf(stderr, "veldspan scan: %s\n%s", error.c_str(), scan_usage_text().c_str());
    return 2;
  }
  if (run.options.help) {
    std::fputs(scan_usage_text().c_str(), stdout);
    return 0;
  }
  run.table_lost = false;
  return scan_job(&run);
}
