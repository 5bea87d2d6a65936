// A MAD-X TFS table, read whole and strictly: header values, column names
// and types, and every row's fields, column by column.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum TfsType : int32_t { kTfsString, kTfsInteger, kTfsReal, kTfsBoolean };

// One "@ NAME %type value" line.
struct TfsHeader {
  std::string name;
  TfsType type;
  std::string text;  // the value as written, quotes removed
  double number;     // integers and reals; 0 for strings and booleans
  int32_t line;      // 1 for the file's first line
};

// One column: its fields in numbers (integers and reals) or strings
// (strings and booleans), one per row.
struct TfsColumn {
  std::string name;
  TfsType type;
  std::vector<double> numbers;
  std::vector<std::string> strings;
};

struct TfsTable {
  std::vector<TfsHeader> headers;
  std::vector<TfsColumn> columns;
  std::vector<int32_t> row_lines;  // the file line of each row
  int32_t names_line;              // the line of the "*" line
};

// Reads the text of a TFS file. Lines end with LF or CR LF; blank lines
// and lines starting with "#" are skipped. False, with "line N: why" in
// error, for anything that breaks the format: a header line after the
// column names, a missing "*" or "$" line, a type that is not %s, %NNs,
// %d, %hd, %ld, %le, %lf or %b, a row with another number of fields than
// the table has columns, a number that does not parse, an unterminated
// quote, a name given twice.
bool parse_tfs(const char* text, size_t size, TfsTable* table, std::string* error);

// The header or column of that name (not case-sensitive), or null / -1.
const TfsHeader* tfs_header(const TfsTable* table, const char* name);
int32_t tfs_column(const TfsTable* table, const char* name);
size_t tfs_row_count(const TfsTable* table);
