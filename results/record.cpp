#include "results/record.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <numeric>

#include "results/schedule.h"
#include "util/numbers.h"
#include "util/text_util.h"

namespace {

const char* const kRenderer = " renderer ";
// NOTE: a renderer text is a few dozen characters; it is cut at this
// length so that a header is never longer than a reader takes a line to be.
const size_t kLongestRenderer = 2048;
const size_t kLongestHeader = 4096;

// The words of a line split at single blanks; two blanks give an empty word.
std::vector<std::string> split_at_blanks(const std::string& line) {
  std::vector<std::string> words;
  for (size_t start = 0;;) {
    size_t end = line.find(' ', start);
    words.push_back(line.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return words;
    start = end + 1;
  }
}

bool parse_hash(const std::string& word, uint64_t* hash) {
  if (word.size() != 16 || word.find_first_not_of("0123456789abcdef") != std::string::npos) return false;
  *hash = std::strtoull(word.c_str(), nullptr, 16);
  return true;
}

// "K/N" with 0 <= K < N.
bool parse_split(const std::string& word, RecordHeader* h) {
  size_t slash = word.find('/');
  return slash != std::string::npos && parse_whole32(word.substr(0, slash), 0, INT32_MAX, &h->shard) &&
         parse_whole32(word.substr(slash + 1), 1, INT32_MAX, &h->shards) && h->shard < h->shards;
}

// A header field as one word on one line.
std::string header_word(std::string text, char blank) {
  for (char& c : text)
    if (c == '\n' || c == '\r' || c == blank) c = '_';
  return text;
}

std::string renderer_text(const std::string& renderer) {
  return header_word(renderer.substr(0, kLongestRenderer), '\n');
}

// The words of a header before " renderer ", its shard taken out (format 2).
bool header_words(const std::string& line, RecordHeader* h, std::vector<std::string>* w) {
  *w = split_at_blanks(line.substr(0, line.find(kRenderer)));
  int64_t format;
  if (w->size() < 2 || (*w)[0] != "veldspan-record" || !parse_whole((*w)[1], 0, INT32_MAX, &format)) return false;
  h->format = int32_t(format);
  h->shard = h->shards = 0;
  if (format == 1) return true;
  if (format != kRecordFormat || w->size() < 6 || (*w)[4] != "shard" || !parse_split((*w)[5], h)) return false;
  w->erase(w->begin() + 4, w->begin() + 6);
  return true;
}

std::string sums_words(const CountSums* s, int32_t rows) {
  std::string text;
  for (int32_t i = 0; i < rows; i++) text += format_text(" %lld", static_cast<long long>(s->sum[size_t(i)]));
  for (int32_t i = 0; i < rows; i++) {
    char digits[40];
    int at = 40;
    SquareSum v = s->sq_sum[size_t(i)];
    do digits[--at] = char('0' + int(v % 10)); while ((v /= 10) != 0);
    text += " " + std::string(digits + at, size_t(40 - at));
  }
  return text;
}

bool parse_square_sum(const std::string& word, SquareSum* value) {
  if (word.empty() || word.size() > 39 || word.find_first_not_of("0123456789") != std::string::npos) return false;
  const SquareSum top = ~SquareSum(0);
  SquareSum v = 0;
  for (char c : word) {
    unsigned digit = unsigned(c - '0');
    if (v > (top - digit) / 10) return false;
    v = v * 10 + digit;
  }
  *value = v;
  return true;
}

// The random passes' tallies per row: passes that hit it, passes that kept
// it whole, the largest and the smallest count of a pass.
std::string tally_words(const CountSums* s, int32_t rows) {
  std::string text;
  for (const std::vector<int64_t>* v : {&s->hit, &s->whole, &s->most, &s->least})
    for (int32_t i = 0; i < rows; i++) text += format_text(" %lld", static_cast<long long>((*v)[size_t(i)]));
  return text;
}

// Tallies that the sums' passes over a grid of points can have; a tally of
// no pass is the empty one.
bool parse_tallies(const std::vector<std::string>& words, size_t at, int32_t rows, int64_t grid, CountSums* s) {
  size_t n = size_t(rows);
  for (size_t i = 0; i < n; i++) {
    bool none = s->passes == 0;
    if (!parse_whole(words[at + i], 0, s->passes, &s->hit[i]) ||
        !parse_whole(words[at + n + i], 0, s->passes, &s->whole[i]) ||
        !parse_whole(words[at + 2 * n + i], 0, none ? 0 : grid, &s->most[i]) ||
        !parse_whole(words[at + 3 * n + i], none ? INT64_MAX : 0, none ? INT64_MAX : s->most[i], &s->least[i]))
      return false;
  }
  return true;
}

// The sums of passes rows .. 2 rows - 1 words from at: row sums, then the
// sums of squares. The tallies are left empty.
bool parse_sums(const std::vector<std::string>& words, size_t at, int32_t rows, CountSums* s) {
  int64_t passes = s->passes;
  *s = empty_sums(rows - 1);
  s->passes = passes;
  for (size_t i = 0; i < size_t(rows); i++)
    if (!parse_whole(words[at + i], 0, INT64_MAX, &s->sum[i]) ||
        !parse_square_sum(words[at + size_t(rows) + i], &s->sq_sum[i]))
      return false;
  return true;
}

// Sums that passes over a grid of points can have: row 0 holds every point
// of every pass, no row holds more than the row before it, and each sum of
// squares lies between sum^2 / passes and grid * sum.
bool possible_sums(const CountSums* s, int64_t grid) {
  SquareSum g = SquareSum(grid), c = SquareSum(s->passes);
  for (size_t i = 0; i < s->sum.size(); i++) {
    SquareSum sum = SquareSum(s->sum[i]), sq = s->sq_sum[i];
    if (i == 0 ? sum != c * g || sq != c * g * g : s->sum[i] > s->sum[i - 1] || sq > s->sq_sum[i - 1]) return false;
    if (sum > c * g || sq > g * sum || c * sq < sum * sum) return false;
  }
  return true;
}

int64_t grid_points(const JobSettings* job) {
  return int64_t(job->baseres) * job->baseres * job->baseres * job->baseres;
}

bool read_levels(const std::vector<std::string>& words, const JobSettings* job, RecordEntry* e, std::string* why) {
  int64_t total = 0;
  e->levels.assign(words.size() - 2, 0);
  for (size_t k = 2; k < words.size(); k++) {
    int64_t count;
    if (!parse_whole(words[k], 0, INT32_MAX, &count)) {
      *why = "level count \"" + words[k] + "\" is not a whole number";
      return false;
    }
    e->levels[k - 2] = int32_t(count);
    total += count;
  }
  if (total != grid_points(job))
    *why = format_text("its counts add up to %lld, not to the %lld grid points of the job",
                       static_cast<long long>(total), static_cast<long long>(grid_points(job)));
  return total == grid_points(job);
}

// The word e<count> (or e<count>/<count>) that ends a line whose passes had
// level-0 particles on the box's edge: taken off the words, its numbers
// into first and second; false for such a word that is no count.
bool take_edge_word(std::vector<std::string>* words, int64_t* first, int64_t* second) {
  *first = *second = 0;
  if (words->size() < 2 || words->back().empty() || words->back()[0] != 'e') return true;
  std::string word = words->back().substr(1);
  words->pop_back();
  size_t slash = word.find('/');
  if (slash == std::string::npos) return parse_whole(word, 1, INT64_MAX, first);
  return parse_whole(word.substr(0, slash), 0, INT64_MAX, first) &&
         parse_whole(word.substr(slash + 1), 0, INT64_MAX, second) && *first + *second > 0;
}

bool parse_pass(const std::vector<std::string>& words, const JobSettings* job, RecordEntry* e, std::string* why) {
  size_t levels = size_t(iteration_count(job)) + 1;
  if (!parse_whole(words.size() > 1 ? words[1] : "", 1, kLastSample, &e->first)) {
    *why = "no valid sample or pass number";
    return false;
  }
  e->last = e->first;
  if (words.size() != levels + 2) {
    *why = format_text("%lld level counts where the job has %lld levels", static_cast<long long>(words.size()) - 2,
                       static_cast<long long>(levels));
    return false;
  }
  return read_levels(words, job, e, why);
}

// The numbers of a 't' line before its sums: first <= last in one
// checkpoint interval, and at most as many random passes as samples.
bool parse_span_numbers(const std::vector<std::string>& w, RecordEntry* e) {
  return parse_whole(w[1], 1, kLastSample, &e->first) && parse_whole(w[2], e->first, kLastSample, &e->last) &&
         parse_whole(w[3], 1, e->last - e->first + 1, &e->samples.passes) &&
         parse_whole(w[4], 0, e->samples.passes, &e->randoms.passes) &&
         checkpoint_of(e->first) == checkpoint_of(e->last);
}

bool parse_span(const std::vector<std::string>& w, const JobSettings* job, RecordEntry* e, std::string* why) {
  int32_t rows = iteration_count(job) + 1;
  if (w.size() != 5 + 8 * size_t(rows)) {
    *why = format_text("%lld fields where a 't' line of the job has %lld", static_cast<long long>(w.size()),
                       static_cast<long long>(5 + 8 * int64_t(rows)));
    return false;
  }
  if (!parse_span_numbers(w, e)) {
    *why = "no valid first and last sample in one checkpoint interval, or counts of samples and random passes";
    return false;
  }
  if (!parse_sums(w, 5, rows, &e->samples) || !parse_sums(w, 5 + 2 * size_t(rows), rows, &e->randoms)) {
    *why = "a sum that is not a whole number";
    return false;
  }
  if (!parse_tallies(w, 5 + 4 * size_t(rows), rows, grid_points(job), &e->randoms)) {
    *why = "a random passes' tally that no passes over the job's grid can have";
    return false;
  }
  bool possible = possible_sums(&e->samples, grid_points(job)) && possible_sums(&e->randoms, grid_points(job));
  if (!possible) *why = "sums that no passes over the job's grid can have";
  return possible;
}

int64_t inverse_mod(int64_t a, int64_t m) {
  int64_t r0 = m, r1 = a, t0 = 0, t1 = 1;
  while (r1 != 0) {
    int64_t q = r0 / r1, r = r0 - q * r1, t = t0 - q * t1;
    r0 = r1, r1 = r, t0 = t1, t1 = t;
  }
  return (t0 % m + m) % m;
}

}  // namespace

std::string record_file_name(int32_t shard, int32_t shards) {
  return shards ? format_text("shard-%d-of-%d.rec", shard, shards) : std::string("samples.rec");
}

std::string record_header_text(const RecordHeader* h) {
  return format_text("veldspan-record %d job %016llx shard %d/%d engine %s version %s precision %s", h->format,
                     static_cast<unsigned long long>(h->job_hash), h->shard, h->shards,
                     header_word(h->engine, ' ').c_str(), header_word(h->version, ' ').c_str(),
                     header_word(h->precision, ' ').c_str()) +
         kRenderer + renderer_text(h->renderer) + "\n";
}

bool parse_record_header(const std::string& line, RecordHeader* h) {
  std::vector<std::string> w;
  h->format = 0;
  size_t at = line.find(kRenderer);
  if (!header_words(line, h, &w) || at == std::string::npos || line.size() > kLongestHeader) return false;
  size_t fields = h->format == 1 ? 8 : 10;
  if (w.size() != fields || w[2] != "job" || w[4] != "engine" || w[6] != "version" ||
      !parse_hash(w[3], &h->job_hash) || w[5].empty() || w[7].empty())
    return false;
  if (fields == 10 && (w[8] != "precision" || (w[9] != "single" && w[9] != "double"))) return false;
  h->engine = w[5];
  h->version = w[7];
  h->precision = fields == 10 ? w[9] : "single";
  h->renderer = line.substr(at + std::strlen(kRenderer));
  return true;
}

std::string record_pass_text(char kind, int64_t number, const int32_t* levels, int32_t count, int64_t edge) {
  std::string line = format_text("%c %lld", kind, static_cast<long long>(number));
  for (int32_t k = 0; k < count; k++) line += format_text(" %d", levels[k]);
  if (edge > 0) line += format_text(" e%lld", static_cast<long long>(edge));
  return line + "\n";
}

std::string record_sums_text(const RecordSpan* s) {
  int32_t rows = int32_t(s->samples.sum.size());
  return format_text("t %lld %lld %lld %lld", static_cast<long long>(s->first), static_cast<long long>(s->last),
                     static_cast<long long>(s->samples.passes), static_cast<long long>(s->randoms.passes)) +
         sums_words(&s->samples, rows) + sums_words(&s->randoms, rows) + tally_words(&s->randoms, rows) +
         (s->samples.edge || s->randoms.edge ? format_text(" e%lld/%lld", static_cast<long long>(s->samples.edge),
                                                           static_cast<long long>(s->randoms.edge))
                                             : std::string()) +
         "\n";
}

bool parse_record_entry(const std::string& line, const JobSettings* job, int32_t format, RecordEntry* e,
                        std::string* why) {
  std::vector<std::string> words = split_at_blanks(line);
  e->kind = words[0].size() == 1 && (format >= 2 || words[0][0] != 't') ? words[0][0] : '?';
  int64_t edge = 0, random_edge = 0;
  // NOTE: read in a format-1 record too: a resumed one keeps its old header
  // while the lines appended to it are written as today's.
  bool edge_read = take_edge_word(&words, &edge, &random_edge);
  if (!edge_read || (e->kind != 't' && random_edge)) {
    *why = "its last word is no count of particles on the box's edge";
    return false;
  }
  e->edge = edge;
  if (e->kind == 's' || e->kind == 'r') return parse_pass(words, job, e, why);
  if (e->kind == 't' && parse_span(words, job, e, why)) {
    e->samples.edge = edge;
    e->randoms.edge = random_edge;
    return true;
  }
  if (e->kind != 't')
    *why = format >= 2 ? "not a record line (\"s\", \"r\" or \"t\" and numbers)"
                       : "not a pass line (\"s\" or \"r\" and counts)";
  return false;
}

// NOTE: a 't' line is the longest a job's record holds: per result row a
// sum below 2^63 (19 digits) and a sum of squares below 2^128 (39 digits),
// for the samples and the random passes, and the random passes' four
// tallies (19 digits each), each after a blank.
size_t longest_record_line(const JobSettings* job) {
  size_t rows = size_t(iteration_count(job)) + 1;
  return std::max(kLongestHeader, 64 + rows * (2 * (20 + 40) + 4 * 20));
}

int32_t checkpoint_of(int64_t sample) {
  int64_t l = std::max<int64_t>(1, std::llround(std::pow(double(sample), 0.25)));
  while (checkpoint_samples(int32_t(l)) < sample) l++;
  while (l > 1 && checkpoint_samples(int32_t(l - 1)) >= sample) l--;
  return int32_t(l);
}

// NOTE: sample first + i * step is a multiple of every when i * step is
// -first modulo every: none unless gcd(step, every) divides first, else
// one i in every every / gcd consecutive ones, from the least solution on.
int64_t owed_randoms(int64_t first, int64_t count, int64_t step, int64_t every) {
  if (every <= 0 || count <= 0) return 0;
  int64_t g = std::gcd(step, every);
  if (first % g != 0) return 0;
  int64_t m = every / g, a = (step / g) % m, b = ((-(first / g)) % m + m) % m;
  int64_t i0 = int64_t(__int128(b) * inverse_mod(a, m) % m);
  return i0 < count ? (count - 1 - i0) / m + 1 : 0;
}

RecordSpan empty_span(int32_t turn_counts) {
  return RecordSpan{0, 0, empty_sums(turn_counts), empty_sums(turn_counts)};
}

void add_entry(RecordSpan* span, const RecordEntry* e, int32_t n) {
  if (e->kind == 'r') {
    add_pass_counts(&span->randoms, e->levels.data(), n);
    span->randoms.edge += e->edge;
    return;
  }
  if (!span->first) span->first = e->first;
  span->last = e->last;
  if (e->kind == 's') add_pass_counts(&span->samples, e->levels.data(), n), span->samples.edge += e->edge;
  else add_sums(&span->samples, &e->samples), add_sums(&span->randoms, &e->randoms);
}

void add_sums(CountSums* to, const CountSums* from) {
  to->passes += from->passes;
  for (size_t i = 0; i < to->sum.size(); i++) {
    to->sum[i] += from->sum[i];
    to->sq_sum[i] += from->sq_sum[i];
    to->hit[i] += from->hit[i];
    to->whole[i] += from->whole[i];
    to->most[i] = std::max(to->most[i], from->most[i]);
    to->least[i] = std::min(to->least[i], from->least[i]);
  }
  to->edge += from->edge;
}

bool same_taker(const RecordHeader* a, const RecordHeader* b) {
  bool same_renderer = renderer_text(a->renderer) == renderer_text(b->renderer) || a->engine == "cpu";
  return a->engine == b->engine && same_renderer && a->version == b->version && a->precision == b->precision;
}

std::string taker_text(const RecordHeader* h) {
  return "engine " + h->engine + " in " + h->precision + " precision on " + h->renderer + ", version " + h->version;
}
