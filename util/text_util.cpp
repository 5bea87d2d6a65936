#include "util/text_util.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// One conversion of a printf format: "%-+08.3lld" and so on.
struct Conversion {
  std::string spec;   // the whole conversion text, '%' included
  char letter = 0;    // the conversion letter
  int long_count = 0; // number of 'l' length modifiers
  bool long_double = false;
  int stars = 0;      // '*' width or precision arguments to fetch first
};

const char* parse_conversion(const char* p, Conversion* c) {
  const char* start = p++;
  while (*p && std::strchr("-+ #0", *p)) p++;
  while (*p && (std::strchr("0123456789.", *p) || *p == '*')) {
    if (*p == '*') c->stars++;
    p++;
  }
  while (*p && std::strchr("hlLqjzt", *p)) {
    if (*p == 'l') c->long_count++;
    if (*p == 'L') c->long_double = true;
    if (*p == 'j' || *p == 'z' || *p == 't' || *p == 'q') c->long_count = 2;
    p++;
  }
  c->letter = *p;
  if (*p) p++;
  c->spec.assign(start, p);
  return p;
}

bool is_float_letter(char c) { return c && std::strchr("eEfFgGaA", c) != nullptr; }

// NOTE: va_list is passed by pointer so that every conversion consumes its
// arguments from the one list, as printf itself would.
std::string format_one(const Conversion& c, va_list* args) {
  int star[2] = {0, 0};
  for (int i = 0; i < c.stars && i < 2; i++) star[i] = va_arg(*args, int);
  const char* f = c.spec.c_str();
  char small[64];
  std::string out;
  // NOTE: most conversions fit the small buffer and are formatted once;
  // shader generation formats hundreds of thousands of numbers.
  auto emit = [&](auto value) {
    auto print = [&](char* to, size_t size) {
      if (c.stars == 0) return std::snprintf(to, size, f, value);
      if (c.stars == 1) return std::snprintf(to, size, f, star[0], value);
      return std::snprintf(to, size, f, star[0], star[1], value);
    };
    int n = print(small, sizeof small);
    if (n < 0) return;
    if (size_t(n) < sizeof small) {
      out.assign(small, size_t(n));
      return;
    }
    out.resize(size_t(n) + 1);
    print(&out[0], out.size());
    out.resize(size_t(n));
  };
  switch (c.letter) {
    case 'd': case 'i': case 'c':
      if (c.long_count >= 2) emit(va_arg(*args, long long));
      else if (c.long_count == 1) emit(va_arg(*args, long));
      else emit(va_arg(*args, int));
      break;
    case 'u': case 'x': case 'X': case 'o':
      if (c.long_count >= 2) emit(va_arg(*args, unsigned long long));
      else if (c.long_count == 1) emit(va_arg(*args, unsigned long));
      else emit(va_arg(*args, unsigned));
      break;
    case 's': emit(va_arg(*args, const char*)); break;
    case 'p': emit(va_arg(*args, void*)); break;
    case '%': out = "%"; break;
    default:
      if (is_float_letter(c.letter)) {
        if (c.long_double) emit(va_arg(*args, long double));
        else emit(va_arg(*args, double));
        out = widen_exponent(out);
      }
      break;
  }
  return out;
}

}  // namespace

std::string widen_exponent(const std::string& number) {
  size_t e = number.find_first_of("eE");
  if (e == std::string::npos || e + 1 >= number.size()) return number;
  size_t digits = e + 1;
  if (number[digits] == '+' || number[digits] == '-') digits++;
  size_t end = digits;
  while (end < number.size() && number[end] >= '0' && number[end] <= '9') end++;
  if (end == digits || end - digits >= 3) return number;
  std::string out = number;
  out.insert(digits, 3 - (end - digits), '0');
  return out;
}

std::string format_text_v(const char* format, va_list args) {
  std::string out;
  va_list list;
  va_copy(list, args);
  for (const char* p = format; *p;) {
    if (*p != '%') {
      const char* next = std::strchr(p, '%');
      size_t n = next ? size_t(next - p) : std::strlen(p);
      out.append(p, n);
      p += n;
      continue;
    }
    Conversion c;
    p = parse_conversion(p, &c);
    out += format_one(c, &list);
  }
  va_end(list);
  return out;
}

std::string format_text(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string out = format_text_v(format, args);
  va_end(args);
  return out;
}

size_t string_set(char** var, const char* text) {
  size_t n = std::strlen(text);
  char* copy = static_cast<char*>(std::malloc(n + 1));
  std::memcpy(copy, text, n + 1);
  *var = copy;
  return n;
}

size_t string_replace(char** var, const char* text) {
  char* old = *var;
  size_t n = string_set(var, text);
  std::free(old);
  return n;
}

void string_append(char** var, const char* text) {
  size_t old_len = *var ? std::strlen(*var) : 0;
  size_t add = std::strlen(text);
  char* grown = static_cast<char*>(std::malloc(old_len + add + 1));
  if (old_len) std::memcpy(grown, *var, old_len);
  std::memcpy(grown + old_len, text, add + 1);
  std::free(*var);
  *var = grown;
}

bool ascii_equal_nocase(const char* a, const char* b) {
  for (;; a++, b++) {
    unsigned char x = static_cast<unsigned char>(*a), y = static_cast<unsigned char>(*b);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
    if (!x) return true;
  }
}

std::string shell_word(const std::string& word) {
  if (!word.empty() && word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
                                              "_-./:=+,@%") == std::string::npos)
    return word;
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}
