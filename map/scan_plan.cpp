#include "map/scan_plan.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "util/numbers.h"
#include "util/text_util.h"

namespace {

// A word of a line: where it starts and how long it is.
struct Span {
  size_t start;
  size_t length;
};

// One line of the job file, with its words before any '#'.
struct TextLine {
  std::string text;
  std::vector<Span> words;
};

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

std::vector<Span> word_spans(const std::string& line) {
  std::vector<Span> words;
  size_t end = std::min(line.find('#'), line.size());
  for (size_t i = 0; i < end;) {
    if (is_blank(line[i])) { i++; continue; }
    size_t start = i;
    while (i < end && !is_blank(line[i])) i++;
    words.push_back(Span{start, i - start});
  }
  return words;
}

std::vector<TextLine> text_lines(const std::string& bytes) {
  std::vector<TextLine> lines;
  std::string line;
  for (size_t at = 0; next_text_line(bytes, &at, &line);) lines.push_back(TextLine{line, word_spans(line)});
  return lines;
}

std::string word(const TextLine& line, size_t k) { return line.text.substr(line.words[k].start, line.words[k].length); }

bool has_key(const TextLine& line, const char* key) {
  return !line.words.empty() && ascii_equal_nocase(word(line, 0).c_str(), key);
}

bool is_map_line(const TextLine& line) { return !line.words.empty() && is_element_key(word(line, 0).c_str()); }

bool is_scan_line(const TextLine& line) { return has_key(line, "scan"); }

// A number written whole, as a job's user means it: all of the word read,
// and finite.
bool parse_number(const std::string& text, double* value) { return parse_real(text, value) && std::isfinite(*value); }

// Reads the words of a scan line; "" or why they are not one.
std::string read_scan_words(const TextLine& t, ScanLine* s) {
  if (t.words.size() != 6) return format_text("a scan line has 5 values (E V FROM TO STEPS), not %d",
                                              int(t.words.size()) - 1);
  if (!parse_whole32(word(t, 1), 1, INT32_MAX, &s->element)) return "E must be a map line's number, from 1";
  if (!parse_whole32(word(t, 2), 1, INT32_MAX, &s->value)) return "V must be a value's number, from 1";
  if (!parse_number(word(t, 3), &s->from)) return "FROM " + word(t, 3) + " is not a finite number";
  if (!parse_number(word(t, 4), &s->to)) return "TO " + word(t, 4) + " is not a finite number";
  if (!parse_whole32(word(t, 5), 1, int32_t(kMostScanPoints), &s->steps))
    return format_text("STEPS must be a whole number from 1 to %lld", static_cast<long long>(kMostScanPoints));
  if (s->steps == 1 && s->from != s->to) return "a scan of 1 step must have FROM equal to TO";
  if (!std::isfinite(s->to - s->from)) return "the span from FROM to TO is not a finite number";
  return "";
}

// The map line's value the scan line varies must be there; "" or why not.
std::string check_target(const ScanLine* s, const std::vector<const TextLine*>& map_lines) {
  if (size_t(s->element) > map_lines.size())
    return format_text("map line %d is not there: the job has %d map lines (D, K, KS, R, M)", s->element,
                       int(map_lines.size()));
  const TextLine* target = map_lines[size_t(s->element) - 1];
  if (size_t(s->value) >= target->words.size())
    return format_text("map line %d (%s) has %d values, no value %d", s->element, word(*target, 0).c_str(),
                       int(target->words.size()) - 1, s->value);
  return "";
}

std::string normalised_words(const ScanLine* s) {
  return format_text("scan %d %d %s %s %d", s->element, s->value, scan_value_text(s->from).c_str(),
                     scan_value_text(s->to).c_str(), s->steps);
}

// NOTE: JobSettings are kept until exit by the program, which reads one
// job; a scan parses one per point, and gives back what they hold.
void release_job(JobSettings* s) {
  for (int32_t k = 0; k < element_count(s); k++) std::free(element_at(s, k)->strengths);
  std::free(s->elements.data);
  std::free(s->iterations.data);
}

// Why the job of this text cannot be run in the plan's precision, or "".
std::string text_refusal(const JobSource* source, const ScanPlan* plan, const std::string& text) {
  JobSource point{source->path, text, job_hash(text), 0};
  JobSettings s = parse_job(&point);
  if (plan->precision >= 0) s.precision = static_cast<Precision>(plan->precision);
  std::string refusal = job_refusal(&s);
  release_job(&s);
  return refusal;
}

std::string refusal_at(const JobSource* source, const ScanLine* s, const std::string& why) {
  return format_text("%s line %d: %s: ", source->path.c_str(), s->line, s->words.c_str()) + why;
}

// Reads the scan lines and where they point; "" or the refusal.
std::string read_scan_lines(const JobSource* source, const std::vector<TextLine>& lines, ScanPlan* plan) {
  std::vector<const TextLine*> map_lines;
  for (const TextLine& t : lines)
    if (is_map_line(t)) map_lines.push_back(&t);
  for (size_t n = 0; n < lines.size(); n++) {
    if (!is_scan_line(lines[n])) continue;
    ScanLine s{int32_t(n + 1), 0, 0, 0, 0, 0, ""};
    std::string why = read_scan_words(lines[n], &s);
    s.words = why.empty() ? normalised_words(&s) : lines[n].text.substr(lines[n].words[0].start);
    if (why.empty()) why = check_target(&s, map_lines);
    if (why.empty() && plan->lines.size() == 2) why = "a scan has one or two scan lines, not more";
    for (const ScanLine& other : plan->lines)
      if (why.empty() && other.element == s.element && other.value == s.value)
        why = format_text("line %d varies the same value", other.line);
    if (!why.empty()) return refusal_at(source, &s, why);
    plan->lines.push_back(s);
  }
  return plan->lines.empty() ? source->path + " has no scan line (scan E V FROM TO STEPS)" : "";
}

std::string point_values_text(const ScanPoint* p) {
  std::string t;
  for (size_t k = 0; k < p->values.size(); k++) t += (k ? ", " : "") + scan_value_text(p->values[k]);
  return t;
}

// A point's refusal, naming the scan line whose value alone is refused
// when one is, else both.
std::string point_refusal(const JobSource* source, const ScanPlan* plan, const ScanPoint* p) {
  std::string why = text_refusal(source, plan, scan_point_job(source->bytes, plan, p, true));
  if (why.empty()) return "";
  why = format_text("at point %s (%s) the job is refused: ", scan_point_name(p).c_str(),
                    point_values_text(p).c_str()) + why;
  for (size_t k = 0; k < plan->lines.size() && plan->lines.size() > 1; k++) {
    ScanPlan alone{{plan->lines[k]}, plan->precision, ""};
    ScanPoint one{{p->index[k]}, {p->values[k]}};
    if (!text_refusal(source, plan, scan_point_job(source->bytes, &alone, &one, true)).empty())
      return refusal_at(source, &plan->lines[k], why);
  }
  if (plan->lines.size() == 1) return refusal_at(source, &plan->lines[0], why);
  return format_text("%s lines %d and %d: ", source->path.c_str(), plan->lines[0].line, plan->lines[1].line) + why;
}

// Every point's job is checked as a run checks its job; the first refused
// is the plan's refusal.
std::string check_points(const JobSource* source, const ScanPlan* plan) {
  for (int64_t k = 0; k < scan_point_count(plan); k++) {
    ScanPoint p = scan_point(plan, k);
    std::string why = point_refusal(source, plan, &p);
    if (!why.empty()) return why;
  }
  return "";
}

std::string plan_refusal(const JobSource* source, ScanPlan* plan) {
  if (source->error) return format_text("%s cannot be read: %s", source->path.c_str(), std::strerror(source->error));
  std::string base = text_refusal(source, plan, source->bytes);
  if (!base.empty()) return "the job itself is refused: " + base;
  std::string why = read_scan_lines(source, text_lines(source->bytes), plan);
  if (!why.empty()) return why;
  if (scan_point_count(plan) > kMostScanPoints)
    return format_text("%s: %lld points, more than the %lld a scan may have", source->path.c_str(),
                       static_cast<long long>(scan_point_count(plan)), static_cast<long long>(kMostScanPoints));
  return check_points(source, plan);
}

// The line with the words of the scan lines that vary it written in.
std::string line_with_values(const TextLine& t, int32_t map_line, const ScanPlan* plan, const ScanPoint* p) {
  std::string out = t.text;
  // NOTE: from the last word to the first, so that the spans before a
  // replaced word stay where they are.
  for (size_t w = t.words.size(); w-- > 1;)
    for (size_t k = 0; k < plan->lines.size(); k++)
      if (plan->lines[k].element == map_line && size_t(plan->lines[k].value) == w)
        out.replace(t.words[w].start, t.words[w].length, scan_value_text(p->values[k]));
  return out;
}

}  // namespace

ScanPlan plan_scan(const JobSource* source, int32_t precision) {
  ScanPlan plan{{}, precision, ""};
  plan.refusal = plan_refusal(source, &plan);
  return plan;
}

double scan_value(const ScanLine* s, int32_t k) {
  if (s->steps <= 1) return s->from;
  if (k == s->steps - 1) return s->to;
  return s->from + (s->to - s->from) * double(k) / double(s->steps - 1);
}

int64_t scan_point_count(const ScanPlan* plan) {
  int64_t count = plan->lines.empty() ? 0 : 1;
  for (const ScanLine& s : plan->lines) count *= s.steps;
  return count;
}

ScanPoint scan_point(const ScanPlan* plan, int64_t k) {
  ScanPoint p;
  for (const ScanLine& s : plan->lines) {
    int32_t i = int32_t(k % s.steps);
    k /= s.steps;
    p.index.push_back(i + 1);
    p.values.push_back(scan_value(&s, i));
  }
  return p;
}

std::string scan_point_name(const ScanPoint* p) {
  std::string name;
  for (size_t k = 0; k < p->index.size(); k++) name += format_text(k ? "-%d" : "%d", p->index[k]);
  return name;
}

// NOTE: the shortest text that reads back as the value keeps the jobs and
// the table readable (0.26, not 0.26000000000000001) and still exact.
std::string scan_value_text(double value) {
  std::string text;
  for (int digits = 1; digits <= 17; digits++) {
    text = format_text("%.*g", digits, value);
    if (std::strtod(text.c_str(), nullptr) == value) break;
  }
  return text;
}

std::string scan_point_job(const std::string& job_text, const ScanPlan* plan, const ScanPoint* p,
                           bool keep_scan_lines) {
  std::string out;
  int32_t map_line = 0;
  for (const TextLine& t : text_lines(job_text)) {
    if (is_scan_line(t) && !keep_scan_lines) continue;
    out += is_map_line(t) ? line_with_values(t, ++map_line, plan, p) : t.text;
    out += "\n";
  }
  return out;
}

std::string scan_lines_text(const ScanPlan* plan) {
  std::string t;
  for (const ScanLine& s : plan->lines) t += (t.empty() ? "" : "; ") + s.words;
  return t;
}
