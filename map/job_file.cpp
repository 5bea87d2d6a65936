#include "map/job_file.h"

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "map/colour_code.h"
#include "util/numbers.h"
#include "util/text_util.h"

namespace {

const double kNoLimit = 1e20;
// The keys of the six ranges; the first four are the grid's.
const char* const kRangeKeys[] = {"xrange", "xprange", "yrange", "yprange", "xcollimator", "ycollimator"};

// Where a line came from, for the messages about it.
struct JobLine {
  const char* path;
  int32_t number;  // 1 for the first line
};

// The values a whole-number key takes, and how its refusal says so.
struct WholeRange {
  int64_t min, max;
  const char* allowed;
};

const WholeRange kTurnCounts = {1, INT32_MAX, "turn counts are 1 to 2147483647"};
const WholeRange kSampleLimit = {0, INT32_MAX, "it must be 0 (no limit) to 2147483647"};
const WholeRange kRandomPasses = {INT32_MIN, INT32_MAX, "it must be -2147483648 to 2147483647 (0 or less: none)"};

bool is_blank(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool ends_line(int c) { return c == '\n' || c == '\r' || c == 0; }

void note_problem(JobSettings* s, const std::string& what) {
  if (!s->problem[0]) std::snprintf(s->problem, sizeof s->problem, "%s", what.c_str());
}

void note_line_problem(JobSettings* s, const JobLine& at, const std::string& what) {
  note_problem(s, format_text("%s line %d: ", at.path, at.number) + what);
}

// NOTE: a NaN, an infinity or a number beyond the double range would be
// written into the shader as text that is no GLSL number ("inf", "nan"),
// and the run would end in a shader that does not build.
void check_finite(JobSettings* s, double value, const WordList* w, int32_t k, const JobLine& at) {
  if (std::isfinite(value)) return;
  note_line_problem(s, at, format_text("%s value %s is not a finite number", w->words[0], w->words[k]));
}

// NOTE: numbers are read with strtod, not atof: Windows' C runtime has an
// atof of its own that reads "nan", "inf" and hexadecimal numbers as 0, so
// a job would mean another map there; strtod is the C99 reader on both
// platforms. The whole word must be the number: "1,5" read as 1 or "x" as
// 0 would track another map than the one written, with no trace.
double number_at(JobSettings* s, const WordList* w, int32_t k, const JobLine& at) {
  const char* word = word_at(w, k);
  double value = 0;
  if (!parse_real(word, &value) && *word)
    note_line_problem(s, at, format_text("%s value %s is not a number", w->words[0], word));
  else
    check_finite(s, value, w, k, at);
  return value;
}

// Digits alone after at most one '-': a whole number, however large.
bool whole_shaped(const char* word) {
  if (*word == '-') word++;
  if (!*word) return false;
  for (; *word; word++)
    if (*word < '0' || *word > '9') return false;
  return true;
}

// allowed: the values the key takes, for a whole number out of range; null
// for a word that is no whole number.
void note_whole_fault(JobSettings* s, const WordList* w, int32_t k, const JobLine& at, const char* allowed) {
  const char* key = w->words[0];
  if (allowed) note_line_problem(s, at, format_text("%s %s is out of range; %s", key, w->words[k], allowed));
  else note_line_problem(s, at, format_text("%s value %s is not a whole number", key, w->words[k]));
}

// NOTE: atoi wraps a number it cannot hold into another one (4294967396
// turns into 100) and reads "1e3" as 1: a turn count or a sample limit
// would silently be another number than the one written. A whole number
// is read whole and within its range, or refused; a missing one reads as 0.
bool whole_at(JobSettings* s, const WordList* w, int32_t k, const JobLine& at, const WholeRange& range,
              int64_t* value) {
  const char* word = word_at(w, k);
  *value = 0;
  if (!*word || parse_whole(word, range.min, range.max, value)) return true;
  note_whole_fault(s, w, k, at, whole_shaped(word) ? range.allowed : nullptr);
  return false;
}

// A single-valued whole-number key; the field keeps its value when the
// word is refused.
void read_whole_setting(JobSettings* s, const WordList* w, const JobLine& at, const WholeRange& range,
                        int32_t* field) {
  int64_t value;
  if (whole_at(s, w, 1, at, range, &value)) *field = static_cast<int32_t>(value);
}

void read_seed(JobSettings* s, const WordList* w, const JobLine& at) {
  const char* word = word_at(w, 1);
  uint64_t seed = 0;
  if (!*word || parse_whole_u64(word, &seed)) s->seed = seed;
  else note_whole_fault(s, w, 1, at, whole_shaped(word) ? "it must be 0 to 18446744073709551615" : nullptr);
}

// NOTE: every engine tracks in single precision, where a value beyond the
// largest float is an infinity: the CPU engine then loses every particle
// (its coordinates turn into NaN) while the shaders keep every one (their
// comparisons with NaN are false), and neither counts the job as written.
// Values that are not finite are the reader's problem already.
bool beyond_single(double value) { return std::isfinite(value) && std::fabs(value) > FLT_MAX; }

void note_single(JobSettings* s, const JobLine& at, const std::string& subject) {
  if (s->single_problem[0]) return;
  std::string text = format_text("%s line %d: %s is beyond single precision (the largest float is 3.40282347e+38)",
                                 at.path, at.number, subject.c_str());
  std::snprintf(s->single_problem, sizeof s->single_problem, "%s", text.c_str());
}

// A collimator limit at or beyond +-1e20 means none: it is never tracked
// against, so it need not fit.
void check_range_single(JobSettings* s, int index, const Range& r, const WordList* w, const JobLine& at) {
  bool grid = index < 4;
  const char* key = w->words[0];
  if ((grid || r.low > -kNoLimit) && beyond_single(r.low))
    note_single(s, at, format_text("%s value %s", key, word_at(w, 1)));
  if ((grid || r.high < kNoLimit) && beyond_single(r.high))
    note_single(s, at, format_text("%s value %s", key, word_at(w, 2)));
  if (grid && beyond_single(r.high - r.low))
    note_single(s, at, format_text("%s %s %s: its span %.9lg", key, word_at(w, 1), word_at(w, 2), r.high - r.low));
}

// A rotation's Twiss functions give the matrix the engines track, whose
// entries must fit too: (1 + alpha^2) / beta sin mu, say, overflows for a
// beta small enough, even in double precision.
void check_rotation_matrix(JobSettings* s, const MapElement* e, const WordList* w, const JobLine& at) {
  for (int plane = 0; plane < 2; plane++) {
    double m[4];
    rotation_matrix(e->strengths[plane], e->strengths[2 + 2 * plane], e->strengths[3 + 2 * plane], m);
    std::string entries = format_text("%s: its matrix in %s", w->words[0], plane ? "y" : "x");
    for (double entry : m) {
      if (!std::isfinite(entry)) note_line_problem(s, at, entries + " has an entry that is not a finite number");
      else if (beyond_single(entry)) note_single(s, at, entries + format_text(" has the entry %.9lg", entry));
    }
  }
}

// A kick's coefficients k_j / j! are what the engines track. A linear
// element's numbers are tracked as they are written, and a rotation's
// matrix made from them.
void check_element_single(JobSettings* s, const MapElement* e, const WordList* w, const JobLine& at) {
  if (e->kind == kElementDrift && beyond_single(e->length))
    note_single(s, at, format_text("%s length %s", w->words[0], word_at(w, 1)));
  if (e->kind == kElementRotation || e->kind == kElementMatrix) {
    for (int32_t k = 0; k < e->orders; k++)
      if (beyond_single(e->strengths[k])) note_single(s, at, format_text("%s value %s", w->words[0], word_at(w, k + 1)));
    if (e->kind == kElementRotation) check_rotation_matrix(s, e, w, at);
    return;
  }
  for (int32_t j = 1; j <= e->orders; j++) {
    double coefficient = kick_strength(e, j);
    if (beyond_single(coefficient))
      note_single(s, at, format_text("%s strength %s of order %d: its k%d/%d! %.9lg", w->words[0], w->words[j], j, j,
                                     j, coefficient));
  }
}

int range_index(const char* key) {
  for (int i = 0; i < 6; i++)
    if (ascii_equal_nocase(key, kRangeKeys[i])) return i;
  return -1;
}

// A grid range's span is written into the shader too: finite limits so
// far apart that their difference overflows are refused as well.
void read_range(JobSettings* s, int index, const WordList* w, const JobLine& at) {
  Range* fields[] = {&s->xrange, &s->xprange, &s->yrange, &s->yprange, &s->xcollimator, &s->ycollimator};
  Range r{number_at(s, w, 1, at), number_at(s, w, 2, at)};
  if (index < 4 && std::isfinite(r.low) && std::isfinite(r.high) && !std::isfinite(r.high - r.low))
    note_line_problem(s, at, format_text("%s %s %s is too wide: its span is not a finite number", w->words[0],
                                         w->words[1], w->words[2]));
  check_range_single(s, index, r, w, at);
  *fields[index] = r;
}

// baseres is read as atoi reads it, but a value beyond 32 bits is reported
// as written rather than wrapped into another number.
int32_t read_baseres(JobSettings* s, const WordList* w, const JobLine& at) {
  const char* word = word_at(w, 1);
  char* end = nullptr;
  errno = 0;
  long long value = std::strtoll(word, &end, 10);
  if (errno != ERANGE && value >= INT32_MIN && value <= INT32_MAX) return static_cast<int32_t>(value);
  note_line_problem(s, at, format_text("baseres %.*s is out of range; it must be 1 to 32", int(end - word), word));
  return value < 0 ? INT32_MIN : INT32_MAX;
}

void append_iterations(JobSettings* s, const WordList* w, const JobLine& at) {
  for (int32_t k = 1; k < w->count; k++) {
    int64_t turns;
    if (!whole_at(s, w, k, at, kTurnCounts, &turns)) continue;
    int32_t t = static_cast<int32_t>(turns);
    growarray_append(&s->iterations, &t);
  }
}

void append_element(JobSettings* s, const WordList* w, const JobLine& at) {
  std::string why;
  MapElement e = parse_element(w, &why);
  if (!why.empty()) note_line_problem(s, at, why);
  int32_t values = e.kind == kElementDrift ? (w->count > 1 ? 1 : 0) : std::min(w->count - 1, e.orders);
  for (int32_t k = 1; k <= values; k++) number_at(s, w, k, at);
  check_element_single(s, &e, w, at);
  growarray_append(&s->elements, &e);
}

// NOTE: the beam sizes are sqrt(beta * emittance): a DA in sigma needs
// positive emittances.
void read_emittance(JobSettings* s, const WordList* w, const JobLine& at) {
  for (int k = 0; k < 2; k++) {
    s->emittance[k] = number_at(s, w, k + 1, at);
    if (!(s->emittance[k] > 0))
      note_line_problem(s, at, format_text("emittance %s %s: emittances must be positive", word_at(w, 1), word_at(w, 2)));
  }
}

void read_precision(JobSettings* s, const WordList* w, const JobLine& at) {
  const char* word = word_at(w, 1);
  if (ascii_equal_nocase(word, "single")) s->precision = kPrecisionSingle;
  else if (ascii_equal_nocase(word, "double")) s->precision = kPrecisionDouble;
  else note_line_problem(s, at, format_text("precision %s: it must be single or double", word));
}

void apply_line(JobSettings* s, const WordList* w, const JobLine& at) {
  const char* key = w->words[0];
  int range = range_index(key);
  if (range >= 0) read_range(s, range, w, at);
  else if (ascii_equal_nocase(key, "iterations")) append_iterations(s, w, at);
  else if (ascii_equal_nocase(key, "baseres")) s->baseres = read_baseres(s, w, at);
  else if (ascii_equal_nocase(key, "maxsamples")) read_whole_setting(s, w, at, kSampleLimit, &s->maxsamples);
  else if (ascii_equal_nocase(key, "randompasses")) read_whole_setting(s, w, at, kRandomPasses, &s->randompasses);
  else if (ascii_equal_nocase(key, "seed")) read_seed(s, w, at);
  else if (ascii_equal_nocase(key, "emittance")) read_emittance(s, w, at);
  else if (ascii_equal_nocase(key, "precision")) read_precision(s, w, at);
  else if (is_element_key(key)) append_element(s, w, at);
}

void apply_text(JobSettings* s, char* line, const JobLine& at) {
  if (char* hash = std::strchr(line, '#')) *hash = 0;
  WordList* w = split_words(line);
  if (w->count > 0) apply_line(s, w, at);
  free_words(w);
}

// Applies every line of the file's bytes.
void parse_lines(JobSettings* s, const std::string& bytes, const char* path) {
  std::string line;
  size_t at = 0;
  for (JobLine where{path, 1}; next_text_line(bytes, &at, &line); where.number++) apply_text(s, &line[0], where);
}

void note_unreadable(JobSettings* s, const char* path, int error) {
  note_problem(s, format_text("%s cannot be read: %s", path, std::strerror(error)));
}

}  // namespace

JobSettings job_defaults() {
  JobSettings s;
  s.xrange = s.xprange = s.yrange = s.yprange = Range{-1, 1};
  s.xcollimator = s.ycollimator = Range{-kNoLimit, kNoLimit};
  s.baseres = 32;
  s.colourlevels = 3;
  growarray_init(&s.iterations, sizeof(int32_t));
  growarray_init(&s.elements, sizeof(MapElement));
  s.maxsamples = 0;
  s.randompasses = 4;
  s.seed = kDefaultSeed;
  s.emittance[0] = s.emittance[1] = 0;
  s.precision = kPrecisionSingle;
  s.problem[0] = 0;
  s.single_problem[0] = 0;
  return s;
}

// NOTE: only a missing file means the default job. A file that is there
// but cannot be read (a directory, no permission) must not silently run
// another job than the one written in it.
bool read_job_source(const char* path, JobSource* source) {
  *source = JobSource{path, "", 0, 0};
  errno = 0;
  FILE* file = std::fopen(path, "rb");
  if (!file) source->error = errno == ENOENT ? 0 : errno ? errno : EIO;
  char buffer[1 << 16];
  for (size_t got; file && (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) source->bytes.append(buffer, got);
  if (file && std::ferror(file)) source->error = errno ? errno : EIO;
  if (file) std::fclose(file);
  source->hash = job_hash(source->bytes);
  return source->error == 0;
}

// NOTE: FNV-1a: the job's identity is its file's bytes, so a record is
// never merged into the results of a job whose ranges, map or turn counts
// changed, however small the change.
uint64_t job_hash(const std::string& bytes) {
  uint64_t hash = 14695981039346656037ull;
  for (unsigned char byte : bytes) hash = (hash ^ byte) * 1099511628211ull;
  return hash;
}

JobSettings parse_job(const JobSource* source) {
  JobSettings s = job_defaults();
  if (source->error) note_unreadable(&s, source->path.c_str(), source->error);
  else parse_lines(&s, source->bytes, source->path.c_str());
  if (s.iterations.count == 0) {
    int32_t turns = 100;
    growarray_append(&s.iterations, &turns);
  }
  s.colourlevels = colour_levels_for(s.iterations.count);
  return s;
}

JobSettings read_job_file(const char* path) {
  JobSource source;
  read_job_source(path, &source);
  return parse_job(&source);
}

// NOTE: what double precision cannot hold is not finite, which the reader
// refuses whatever the precision.
std::string precision_refusal(const JobSettings* s, Precision precision) {
  return precision == kPrecisionSingle ? s->single_problem : "";
}

std::string job_refusal(const JobSettings* s) {
  if (s->problem[0]) return s->problem;
  std::string beyond = precision_refusal(s, s->precision);
  if (!beyond.empty()) return beyond;
  int b = s->baseres;
  if (b < 1 || b > 32) return format_text("baseres %d is out of range; it must be 1 to 32", b);
  const Range* grid[] = {&s->xrange, &s->xprange, &s->yrange, &s->yprange};
  for (int k = 0; k < 4; k++)
    if (!(grid[k]->low < grid[k]->high))
      return format_text("%s %.9lg %.9lg: its low value must be below its high value", kRangeKeys[k], grid[k]->low,
                         grid[k]->high);
  for (int32_t k = 1; k < iteration_count(s); k++)
    if (iteration_at(s, k) < iteration_at(s, k - 1))
      return format_text("iterations must be ascending: %d follows %d", iteration_at(s, k), iteration_at(s, k - 1));
  // NOTE: a pixel's colour codes the loss class in three bytes; a class
  // beyond them would be read back as another one.
  if (iteration_count(s) > kMostTurnCounts)
    return format_text("iterations: %d turn counts, more than the %d a pixel's colour can tell apart",
                       iteration_count(s), kMostTurnCounts);
  return "";
}

bool next_text_line(const std::string& bytes, size_t* at, std::string* line) {
  size_t start = *at;
  if (start >= bytes.size()) return false;
  size_t end = start;
  while (end < bytes.size() && !ends_line(static_cast<unsigned char>(bytes[end]))) end++;
  line->assign(bytes, start, end - start);
  *at = end + (end < bytes.size());
  if (end < bytes.size() && bytes[end] == '\r' && *at < bytes.size() && bytes[*at] == '\n') *at += 1;
  return true;
}

WordList* split_words(const char* text) {
  WordList* w = static_cast<WordList*>(std::malloc(sizeof(WordList)));
  w->count = 0;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  for (size_t i = 0; p[i]; i++)
    if (!is_blank(p[i]) && (i == 0 || is_blank(p[i - 1]))) w->count++;
  w->words = static_cast<char**>(std::malloc(sizeof(char*) * (size_t(w->count) + 1)));
  int32_t k = 0;
  for (size_t i = 0; p[i];) {
    if (is_blank(p[i])) { i++; continue; }
    size_t start = i;
    while (p[i] && !is_blank(p[i])) i++;
    char* word = static_cast<char*>(std::malloc(i - start + 1));
    std::memcpy(word, text + start, i - start);
    word[i - start] = 0;
    w->words[k++] = word;
  }
  return w;
}

void free_words(WordList* list) {
  for (int32_t k = 0; k < list->count; k++) std::free(list->words[k]);
  std::free(list->words);
  std::free(list);
}

const char* word_at(const WordList* list, int32_t k) {
  return k < list->count ? list->words[k] : "";
}

int32_t iteration_count(const JobSettings* s) { return static_cast<int32_t>(s->iterations.count); }

int32_t iteration_at(const JobSettings* s, int32_t k) { return *growarray_at<int32_t>(&s->iterations, k); }

int32_t last_iteration(const JobSettings* s) { return iteration_at(s, iteration_count(s) - 1); }

int32_t element_count(const JobSettings* s) { return static_cast<int32_t>(s->elements.count); }

const MapElement* element_at(const JobSettings* s, int32_t k) { return growarray_at<MapElement>(&s->elements, k); }

namespace {

const char* const kElementKeys[] = {"D", "K", "KS", "R", "M"};

double* numbers_of(const WordList* w, size_t room) {
  double* v = static_cast<double*>(std::calloc(room + 1, sizeof(double)));
  for (int32_t j = 1; j < w->count && size_t(j) <= room; j++) v[j - 1] = std::strtod(w->words[j], nullptr);
  return v;
}

// R qx qy with the Twiss functions 1, 0 unless given; beta must be positive.
MapElement rotation(const WordList* w, std::string* why) {
  MapElement e{kElementRotation, 0, 6, numbers_of(w, 6)};
  if (w->count == 3) e.strengths[2] = e.strengths[4] = 1;
  if (w->count != 3 && w->count != 7)
    *why = format_text("R takes qx qy or qx qy betx alfx bety alfy, not %d numbers", w->count - 1);
  else if (!(e.strengths[2] > 0 && e.strengths[4] > 0))
    *why = "R: the beta functions must be positive";
  return e;
}

MapElement matrix(const WordList* w, std::string* why) {
  if (w->count != 17) *why = format_text("M takes the sixteen numbers m11 .. m44 row by row, not %d", w->count - 1);
  return MapElement{kElementMatrix, 0, 16, numbers_of(w, 16)};
}

MapElement kick(const WordList* w, ElementKind kind) {
  MapElement e{kind, 0, w->count - 1, nullptr};
  e.strengths = numbers_of(w, size_t(e.orders));
  return e;
}

}  // namespace

bool is_element_key(const char* key) {
  for (const char* k : kElementKeys)
    if (ascii_equal_nocase(key, k)) return true;
  return false;
}

MapElement parse_element(const WordList* w, std::string* why) {
  const char* key = w->words[0];
  if (ascii_equal_nocase(key, "D")) return MapElement{kElementDrift, std::strtod(word_at(w, 1), nullptr), 0, nullptr};
  if (ascii_equal_nocase(key, "R")) return rotation(w, why);
  if (ascii_equal_nocase(key, "M")) return matrix(w, why);
  return kick(w, ascii_equal_nocase(key, "KS") ? kElementSkewKick : kElementKick);
}

bool has_emittance(const JobSettings* s) { return s->emittance[0] > 0 && s->emittance[1] > 0; }

double factorial(int n) { return n <= 1 ? 1.0 : n * factorial(n - 1); }

double kick_strength(const MapElement* e, int32_t order) {
  return order >= 1 && order <= e->orders ? e->strengths[order - 1] / factorial(order) : 0;
}

void rotation_matrix(double q, double beta, double alpha, double m[4]) {
  const double kTwoPi = 6.283185307179586476925286766559;
  double c = std::cos(kTwoPi * q), s = std::sin(kTwoPi * q);
  m[0] = c + alpha * s;
  m[1] = beta * s;
  m[2] = -(1 + alpha * alpha) / beta * s;
  m[3] = c - alpha * s;
}
