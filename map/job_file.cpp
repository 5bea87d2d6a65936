#include "map/job_file.h"

#include <cstdlib>
#include <cstring>

#include "util/text_util.h"

namespace {

const double kNoLimit = 1e20;

bool is_blank(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool ends_line(int c) { return c == '\n' || c == '\r' || c == 0 || c == EOF; }

// NOTE: numbers are read with strtod(text, nullptr), which is what C
// defines atof to be. Windows' C runtime has an atof of its own that reads
// "nan", "inf" and hexadecimal numbers as 0, so a job would mean another
// map there; strtod is the C99 reader on both platforms.
Range range_from(const WordList* w) {
  return Range{std::strtod(word_at(w, 1), nullptr), std::strtod(word_at(w, 2), nullptr)};
}

Range* range_field(JobSettings* s, const char* key) {
  static const char* const names[] = {"xrange", "xprange", "yrange", "yprange", "xcollimator", "ycollimator"};
  Range* fields[] = {&s->xrange, &s->xprange, &s->yrange, &s->yprange, &s->xcollimator, &s->ycollimator};
  for (int i = 0; i < 6; i++)
    if (ascii_equal_nocase(key, names[i])) return fields[i];
  return nullptr;
}

void append_iterations(JobSettings* s, const WordList* w) {
  for (int32_t k = 1; k < w->count; k++) {
    int32_t turns = std::atoi(w->words[k]);
    growarray_append(&s->iterations, &turns);
  }
}

void apply_line(JobSettings* s, const WordList* w) {
  const char* key = w->words[0];
  if (Range* r = range_field(s, key)) *r = range_from(w);
  else if (ascii_equal_nocase(key, "iterations")) append_iterations(s, w);
  else if (ascii_equal_nocase(key, "baseres")) s->baseres = std::atoi(word_at(w, 1));
  else if (ascii_equal_nocase(key, "maxsamples")) s->maxsamples = std::atoi(word_at(w, 1));
  else if (ascii_equal_nocase(key, "randompasses")) s->randompasses = std::atoi(word_at(w, 1));
  else if (ascii_equal_nocase(key, "seed")) s->seed = std::strtoull(word_at(w, 1), nullptr, 10);
  else if (ascii_equal_nocase(key, "D") || ascii_equal_nocase(key, "K")) {
    MapElement e = parse_element(w);
    growarray_append(&s->elements, &e);
  }
}

void read_lines(JobSettings* s, FILE* file) {
  while (char* line = read_text_line(file)) {
    if (char* hash = std::strchr(line, '#')) *hash = 0;
    WordList* w = split_words(line);
    std::free(line);
    if (w->count > 0) apply_line(s, w);
    free_words(w);
  }
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
  return s;
}

int32_t colour_levels_for(uint32_t entries) {
  uint32_t k = 3;
  while (k * k * k < entries + 1) k++;
  return static_cast<int32_t>(k);
}

JobSettings read_job_file(const char* path) {
  JobSettings s = job_defaults();
  if (FILE* file = std::fopen(path, "rb")) {
    read_lines(&s, file);
    std::fclose(file);
  }
  if (s.iterations.count == 0) {
    int32_t turns = 100;
    growarray_append(&s.iterations, &turns);
  }
  s.colourlevels = colour_levels_for(s.iterations.count);
  return s;
}

char* read_text_line(FILE* file) {
  std::string text;
  int c;
  while (!ends_line(c = std::fgetc(file))) text += static_cast<char>(c);
  if (c == '\r') {
    int next = std::fgetc(file);
    if (next != '\n' && next != EOF) std::ungetc(next, file);
  }
  if (text.empty() && c == EOF) return nullptr;
  char* line = static_cast<char*>(std::malloc(text.size() + 1));
  std::memcpy(line, text.data(), text.size());
  line[text.size()] = 0;
  return line;
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

int32_t word_count(const WordList* list) { return list->count; }

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

MapElement parse_element(const WordList* w) {
  MapElement e{kElementDrift, 0, 0, nullptr};
  if (ascii_equal_nocase(w->words[0], "D")) {
    e.length = std::strtod(word_at(w, 1), nullptr);
    return e;
  }
  e.kind = kElementKick;
  e.orders = w->count - 1;
  e.strengths = static_cast<double*>(std::malloc(sizeof(double) * (size_t(e.orders) + 1)));
  for (int32_t j = 1; j < w->count; j++) e.strengths[j - 1] = std::strtod(w->words[j], nullptr);
  return e;
}
