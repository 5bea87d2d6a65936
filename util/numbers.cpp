#include "util/numbers.h"

#include <cstdlib>

namespace {

bool all_digits(const std::string& text, size_t from) {
  if (from >= text.size()) return false;
  for (size_t k = from; k < text.size(); k++)
    if (text[k] < '0' || text[k] > '9') return false;
  return true;
}

// The digits from `from` on as a magnitude; false beyond 2^64 - 1.
bool magnitude(const std::string& text, size_t from, uint64_t* value) {
  uint64_t v = 0;
  for (size_t k = from; k < text.size(); k++) {
    uint64_t digit = uint64_t(text[k] - '0');
    if (v > (UINT64_MAX - digit) / 10) return false;
    v = v * 10 + digit;
  }
  *value = v;
  return true;
}

}  // namespace

bool parse_whole_u64(const std::string& text, uint64_t* value) {
  return all_digits(text, 0) && magnitude(text, 0, value);
}

bool parse_whole(const std::string& text, int64_t min, int64_t max, int64_t* value) {
  bool negative = !text.empty() && text[0] == '-' && min < 0;
  size_t from = negative ? 1 : 0;
  uint64_t m;
  if (!all_digits(text, from) || !magnitude(text, from, &m)) return false;
  if (negative ? m > uint64_t(INT64_MAX) + 1 : m > uint64_t(INT64_MAX)) return false;
  int64_t v = negative ? int64_t(0 - m) : int64_t(m);
  if (v < min || v > max) return false;
  *value = v;
  return true;
}

bool parse_whole32(const std::string& text, int32_t min, int32_t max, int32_t* value) {
  int64_t v;
  if (!parse_whole(text, min, max, &v)) return false;
  *value = int32_t(v);
  return true;
}

bool parse_real(const std::string& text, double* value) {
  char* end = nullptr;
  *value = std::strtod(text.c_str(), &end);
  return !text.empty() && *end == 0;
}
