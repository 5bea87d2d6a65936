// Owned heap strings, shell words and the number formatting that
// every text output of the program goes through.
#pragma once
#include <cstdarg>
#include <cstddef>
#include <string>

// printf-style formatting into a growing string. Every floating-point
// conversion (%e, %g, %f and their variants) is formatted on its own and its
// exponent widened to a sign and at least three digits ("1e+020"), so that
// shader text, results files and status text read the same on every C
// library. Literal text and string arguments are never touched.
std::string format_text(const char* format, ...)
    __attribute__((format(printf, 1, 2)));
std::string format_text_v(const char* format, va_list args);

// Widens the exponent of one formatted number ("1e+20" -> "1e+020").
std::string widen_exponent(const std::string& number);

// Owned, NUL-terminated C heap strings reallocated to their exact length.
// string_set does not release the old value (callers that own one use
// string_replace); both return the new length.
size_t string_set(char** var, const char* text);
size_t string_replace(char** var, const char* text);
void string_append(char** var, const char* text);

// ASCII-only case-insensitive comparison, independent of the C locale.
bool ascii_equal_nocase(const char* a, const char* b);

// A word of a command line as a POSIX shell reads it back: as it is when
// it has no character a shell treats specially, else in single quotes.
std::string shell_word(const std::string& word);
