#include "import/tfs.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "util/numbers.h"
#include "util/text_util.h"

namespace {

// One field of a line: a blank-separated word, or a quoted string (quotes
// removed) that may hold blanks.
struct Field {
  std::string text;
  bool quoted;
};

// Where the reader is: the lines still to read and what has been seen.
struct TfsReader {
  const char* text;
  size_t size;
  size_t at;        // offset of the next line
  int32_t line;     // number of the line last read
  bool have_types;  // the "$" line has been read
};

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// The next line without its LF or CR LF; false at the end of the text.
bool next_line(TfsReader* r, std::string* line) {
  if (r->at >= r->size) return false;
  const char* start = r->text + r->at;
  const void* found = std::memchr(start, '\n', r->size - r->at);
  size_t length = found ? size_t(static_cast<const char*>(found) - start) : r->size - r->at;
  r->at += length + (found ? 1 : 0);
  if (length > 0 && start[length - 1] == '\r') length--;
  line->assign(start, length);
  r->line++;
  return true;
}

// A quoted field from the quote at *at; false for an unterminated quote or
// text glued to the closing quote.
bool quoted_field(const std::string& line, size_t* at, Field* field, std::string* why) {
  size_t close = line.find('"', *at + 1);
  if (close == std::string::npos) {
    *why = "unterminated quote";
    return false;
  }
  if (close + 1 < line.size() && !is_blank(line[close + 1])) {
    *why = "text right after a closing quote";
    return false;
  }
  *field = Field{line.substr(*at + 1, close - *at - 1), true};
  *at = close + 1;
  return true;
}

bool split_fields(const std::string& line, std::vector<Field>* fields, std::string* why) {
  fields->clear();
  size_t at = 0;
  while (true) {
    while (at < line.size() && is_blank(line[at])) at++;
    if (at >= line.size()) return true;
    Field field;
    if (line[at] == '"') {
      if (!quoted_field(line, &at, &field, why)) return false;
    } else {
      size_t end = at;
      while (end < line.size() && !is_blank(line[end]) && line[end] != '"') end++;
      if (end < line.size() && line[end] == '"') {
        *why = "a quote inside a word";
        return false;
      }
      field = Field{line.substr(at, end - at), false};
      at = end;
    }
    fields->push_back(field);
  }
}

bool parse_type(const std::string& word, TfsType* type) {
  if (word == "%le" || word == "%lf") *type = kTfsReal;
  else if (word == "%d" || word == "%hd" || word == "%ld") *type = kTfsInteger;
  else if (word == "%b") *type = kTfsBoolean;
  else if (word.size() >= 2 && word[0] == '%' && word.back() == 's' &&
           std::strspn(word.c_str() + 1, "0123456789") == word.size() - 2)
    *type = kTfsString;
  else return false;
  return true;
}

bool parse_integer(const std::string& text, double* value) {
  size_t sign = text.size() > 1 && (text[0] == '-' || text[0] == '+') ? 1 : 0;
  if (text.size() == sign || std::strspn(text.c_str() + sign, "0123456789") != text.size() - sign) return false;
  errno = 0;
  long long v = std::strtoll(text.c_str(), nullptr, 10);
  *value = double(v);
  return errno == 0;
}

bool parse_boolean(const std::string& text) {
  const char* const words[] = {"true", "false", "1", "0"};
  for (const char* w : words)
    if (ascii_equal_nocase(text.c_str(), w)) return true;
  return false;
}

const char* type_name(TfsType type) {
  return type == kTfsString ? "a string" : type == kTfsInteger ? "an integer" : type == kTfsReal ? "a number" : "a boolean";
}

// The value of a field of that type: strings must be quoted, numbers not.
bool read_value(const Field& field, TfsType type, double* number, std::string* why) {
  *number = 0;
  bool ok = type == kTfsString    ? true
            : field.quoted        ? false
            : type == kTfsReal    ? parse_real(field.text, number)
            : type == kTfsInteger ? parse_integer(field.text, number)
                                  : parse_boolean(field.text);
  if (!ok) *why = format_text("\"%s\" is not %s", field.text.c_str(), type_name(type));
  return ok;
}

bool read_header(TfsReader* r, const std::vector<Field>& f, TfsTable* t, std::string* why) {
  if (!t->columns.empty()) {
    *why = "a header line after the column names";
    return false;
  }
  if (f.size() != 4) {
    *why = "a header line is \"@ NAME %type value\"";
    return false;
  }
  TfsHeader h{f[1].text, kTfsString, f[3].text, 0, r->line};
  if (!parse_type(f[2].text, &h.type)) {
    *why = format_text("unknown type %s of header %s", f[2].text.c_str(), h.name.c_str());
    return false;
  }
  if (h.type == kTfsString && !f[3].quoted) {
    *why = format_text("the string of header %s is not quoted", h.name.c_str());
    return false;
  }
  if (tfs_header(t, h.name.c_str())) {
    *why = format_text("header %s given twice", h.name.c_str());
    return false;
  }
  if (!read_value(f[3], h.type, &h.number, why)) return false;
  t->headers.push_back(h);
  return true;
}

bool read_names(TfsReader* r, const std::vector<Field>& f, TfsTable* t, std::string* why) {
  if (!t->columns.empty()) {
    *why = "a second line of column names";
    return false;
  }
  if (f.size() < 2) {
    *why = "a line of column names without names";
    return false;
  }
  for (size_t k = 1; k < f.size(); k++) {
    if (tfs_column(t, f[k].text.c_str()) >= 0) {
      *why = format_text("column %s given twice", f[k].text.c_str());
      return false;
    }
    t->columns.push_back(TfsColumn{f[k].text, kTfsString, {}, {}});
  }
  t->names_line = r->line;
  return true;
}

bool read_types(TfsReader* r, const std::vector<Field>& f, TfsTable* t, std::string* why) {
  if (t->columns.empty() || r->have_types) {
    *why = t->columns.empty() ? "column types before the column names (* line)" : "a second line of column types";
    return false;
  }
  if (f.size() != t->columns.size() + 1) {
    *why = format_text("%d column types for %d columns", int(f.size()) - 1, int(t->columns.size()));
    return false;
  }
  for (size_t k = 1; k < f.size(); k++)
    if (!parse_type(f[k].text, &t->columns[k - 1].type)) {
      *why = format_text("unknown type %s of column %s", f[k].text.c_str(), t->columns[k - 1].name.c_str());
      return false;
    }
  r->have_types = true;
  return true;
}

bool read_row(TfsReader* r, const std::vector<Field>& f, TfsTable* t, std::string* why) {
  if (!r->have_types) {
    *why = t->columns.empty() ? "a row before the column names (* line)" : "a row before the column types ($ line)";
    return false;
  }
  if (f.size() != t->columns.size()) {
    *why = format_text("%d fields in a row of %d columns", int(f.size()), int(t->columns.size()));
    return false;
  }
  for (size_t k = 0; k < f.size(); k++) {
    TfsColumn* c = &t->columns[k];
    double number;
    if (!read_value(f[k], c->type, &number, why)) {
      *why = format_text("column %s: ", c->name.c_str()) + *why;
      return false;
    }
    if (c->type == kTfsString || c->type == kTfsBoolean) c->strings.push_back(f[k].text);
    else c->numbers.push_back(number);
  }
  t->row_lines.push_back(r->line);
  return true;
}

bool read_line(TfsReader* r, const std::vector<Field>& f, TfsTable* t, std::string* why) {
  const std::string& first = f[0].text;
  if (f[0].quoted || (first[0] != '@' && first[0] != '*' && first[0] != '$')) return read_row(r, f, t, why);
  if (first.size() != 1) {
    *why = format_text("\"%c\" must stand apart from the word after it", first[0]);
    return false;
  }
  if (first[0] == '@') return read_header(r, f, t, why);
  if (first[0] == '*') return read_names(r, f, t, why);
  return read_types(r, f, t, why);
}

bool is_comment(const std::string& line) {
  size_t k = 0;
  while (k < line.size() && is_blank(line[k])) k++;
  return k == line.size() || line[k] == '#';
}

bool finish(const TfsReader* r, const TfsTable* t, std::string* error) {
  if (r->line == 0) *error = "line 1: the file is empty";
  else if (t->columns.empty()) *error = format_text("line %d: the table ends without column names (* line)", r->line);
  else if (!r->have_types) *error = format_text("line %d: the table ends without column types ($ line)", r->line);
  return error->empty();
}

}  // namespace

bool parse_tfs(const char* text, size_t size, TfsTable* table, std::string* error) {
  *table = TfsTable{{}, {}, {}, 0};
  error->clear();
  TfsReader r{text, size, 0, 0, false};
  std::string line, why;
  std::vector<Field> fields;
  while (next_line(&r, &line)) {
    if (is_comment(line)) continue;
    if (!split_fields(line, &fields, &why) || !read_line(&r, fields, table, &why)) {
      *error = format_text("line %d: %s", r.line, why.c_str());
      return false;
    }
  }
  return finish(&r, table, error);
}

const TfsHeader* tfs_header(const TfsTable* table, const char* name) {
  for (const TfsHeader& h : table->headers)
    if (ascii_equal_nocase(h.name.c_str(), name)) return &h;
  return nullptr;
}

int32_t tfs_column(const TfsTable* table, const char* name) {
  for (size_t k = 0; k < table->columns.size(); k++)
    if (ascii_equal_nocase(table->columns[k].name.c_str(), name)) return int32_t(k);
  return -1;
}

size_t tfs_row_count(const TfsTable* table) { return table->row_lines.size(); }
