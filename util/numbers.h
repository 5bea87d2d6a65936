// Whole numbers read from text: the command line, job files and records
// all take them through here, so that none wraps a number it cannot hold.
#pragma once
#include <cstdint>
#include <string>

// A decimal number of digits alone (with a leading '-' where min < 0)
// from min to max; false for anything else, a number beyond 64 bits too.
bool parse_whole(const std::string& text, int64_t min, int64_t max, int64_t* value);
// The same for the whole unsigned 64-bit range.
bool parse_whole_u64(const std::string& text, uint64_t* value);
// A word that is all one number as strtod reads it (decimal, exponent,
// "inf", "nan", hexadecimal); false for an empty word or one with more
// after the number, so that "1,5" is never read as 1.
bool parse_real(const std::string& text, double* value);
// parse_whole into a 32-bit integer.
bool parse_whole32(const std::string& text, int32_t min, int32_t max, int32_t* value);
