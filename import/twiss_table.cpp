#include "import/twiss_table.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "util/text_util.h"

namespace {

// Where a column's numbers go in a row.
enum TargetKind { kTargetField, kTargetCoupling, kTargetNormal, kTargetSkew };
struct Target {
  TargetKind kind;
  double TwissRow::*field;  // kTargetField
  int32_t index;            // the coupling term (0 .. 3) or the order
};

struct NamedField {
  const char* name;
  double TwissRow::*field;
};

const NamedField kFields[] = {
    {"S", &TwissRow::s},       {"L", &TwissRow::length},  {"BETX", &TwissRow::betx}, {"ALFX", &TwissRow::alfx},
    {"MUX", &TwissRow::mux},   {"BETY", &TwissRow::bety}, {"ALFY", &TwissRow::alfy}, {"MUY", &TwissRow::muy},
    {"X", &TwissRow::x},       {"Y", &TwissRow::y},       {"DX", &TwissRow::dx},     {"DY", &TwissRow::dy},
    {"TILT", &TwissRow::tilt},
};
const char* const kCouplingColumns[4] = {"R11", "R12", "R21", "R22"};

struct Required {
  const char* name;
  const char* meaning;
};
const Required kRequiredColumns[] = {
    {"NAME", "the element names"},
    {"BETX", "the horizontal beta function"},
    {"ALFX", "the horizontal alpha function"},
    {"MUX", "the horizontal phase advance"},
    {"BETY", "the vertical beta function"},
    {"ALFY", "the vertical alpha function"},
    {"MUY", "the vertical phase advance"},
};

double* target_in(TwissRow* row, const Target& t) {
  switch (t.kind) {
    case kTargetField: return &(row->*t.field);
    case kTargetCoupling: return &row->coupling[t.index];
    case kTargetNormal: return &row->normal[t.index];
    default: return &row->skew[t.index];
  }
}

// "K<n>L" or "K<n>SL" (any case): the order n, or -1 for another name.
int32_t strength_order(const std::string& name, bool* skew) {
  size_t digits = name.size() > 2 ? std::strspn(name.c_str() + 1, "0123456789") : 0;
  if (digits == 0 || (name[0] != 'K' && name[0] != 'k')) return -1;
  std::string rest = name.substr(1 + digits);
  *skew = ascii_equal_nocase(rest.c_str(), "SL");
  if (!*skew && !ascii_equal_nocase(rest.c_str(), "L")) return -1;
  return digits > 4 ? 99999 : std::atoi(name.c_str() + 1);
}

// The target of a numeric column; false for a column the import does not
// read (K0L among them: the orbit's kicks are in the closed orbit).
bool column_target(const std::string& name, Target* t, int32_t* order) {
  *order = 0;
  *t = Target{kTargetField, nullptr, 0};
  for (const NamedField& f : kFields)
    if (ascii_equal_nocase(name.c_str(), f.name)) t->field = f.field;
  for (int32_t k = 0; k < 4; k++)
    if (ascii_equal_nocase(name.c_str(), kCouplingColumns[k])) *t = Target{kTargetCoupling, nullptr, k};
  if (t->field || t->kind == kTargetCoupling) return true;
  bool skew = false;
  *order = strength_order(name, &skew);
  if (*order < 1) return false;
  *t = Target{skew ? kTargetSkew : kTargetNormal, nullptr, *order};
  return true;
}

bool is_number(TfsType type) { return type == kTfsReal || type == kTfsInteger; }

std::string at_line(const TwissTable* t, int32_t line) { return format_text("%s line %d: ", t->path.c_str(), line); }

bool read_headers(const TfsTable* tfs, TwissTable* t, std::string* error) {
  const char* const tunes[2] = {"Q1", "Q2"};
  for (int k = 0; k < 2; k++) {
    const TfsHeader* h = tfs_header(tfs, tunes[k]);
    if (!h) *error = format_text("%s: the header has no %s (the %s tune)", t->path.c_str(), tunes[k], k ? "vertical" : "horizontal");
    else if (!is_number(h->type) || !std::isfinite(h->number))
      *error = at_line(t, h->line) + format_text("the tune %s is not a finite number", tunes[k]);
    if (!error->empty()) return false;
    (k ? t->q2 : t->q1) = h->number;
  }
  const TfsHeader* ex = tfs_header(tfs, "EX");
  const TfsHeader* ey = tfs_header(tfs, "EY");
  const TfsHeader* length = tfs_header(tfs, "LENGTH");
  t->has_emittance = ex && ey && is_number(ex->type) && is_number(ey->type);
  if (t->has_emittance) t->ex = ex->number, t->ey = ey->number;
  t->has_length = length && is_number(length->type) && std::isfinite(length->number);
  if (t->has_length) t->length = length->number;
  const TfsHeader* sequence = tfs_header(tfs, "SEQUENCE");
  const TfsHeader* particle = tfs_header(tfs, "PARTICLE");
  if (sequence) t->sequence = sequence->text;
  if (particle) t->particle = particle->text;
  return true;
}

bool check_required(const TfsTable* tfs, TwissTable* t, std::string* error) {
  for (const Required& r : kRequiredColumns) {
    int32_t c = tfs_column(tfs, r.name);
    bool name = std::strcmp(r.name, "NAME") == 0;
    if (c < 0) *error = at_line(t, t->names_line) + format_text("the table has no %s column (%s)", r.name, r.meaning);
    else if (name != (tfs->columns[size_t(c)].type == kTfsString))
      *error = at_line(t, t->names_line) + format_text("the %s column is not of %s type", r.name, name ? "a string" : "a number");
    if (!error->empty()) return false;
  }
  return true;
}

void read_names(const TfsTable* tfs, TwissTable* t) {
  int32_t name = tfs_column(tfs, "NAME"), keyword = tfs_column(tfs, "KEYWORD");
  bool has_keyword = keyword >= 0 && tfs->columns[size_t(keyword)].type == kTfsString;
  for (size_t r = 0; r < t->rows.size(); r++) {
    t->rows[r].name = tfs->columns[size_t(name)].strings[r];
    if (has_keyword) t->rows[r].keyword = tfs->columns[size_t(keyword)].strings[r];
  }
}

bool read_column(const TfsColumn* column, TwissTable* t, std::string* error) {
  Target target;
  int32_t order;
  bool known = column_target(column->name, &target, &order);
  if (order > kMostOrder) {
    *error = at_line(t, t->names_line) + format_text("column %s: orders above %d are not read", column->name.c_str(), kMostOrder);
    return false;
  }
  if (!known || !is_number(column->type)) return true;
  for (size_t r = 0; r < t->rows.size(); r++) {
    double value = column->numbers[r];
    if (!std::isfinite(value)) {
      *error = at_line(t, t->rows[r].line) + format_text("%s is not a finite number", column->name.c_str());
      return false;
    }
    *target_in(&t->rows[r], target) = value;
  }
  if (target.kind == kTargetCoupling) t->has_coupling = true;
  if (target.kind == kTargetField && (target.field == &TwissRow::dx || target.field == &TwissRow::dy)) t->has_dispersion = true;
  if (target.kind == kTargetField && target.field == &TwissRow::tilt) t->has_tilt = true;
  if (target.kind == kTargetField && target.field == &TwissRow::s) t->has_s = true;
  return true;
}

bool check_betas(TwissTable* t, std::string* error) {
  for (const TwissRow& row : t->rows)
    if (!(row.betx > 0) || !(row.bety > 0)) {
      *error = at_line(t, row.line) + format_text("a beta function that is not positive (BETX %g, BETY %g)", row.betx, row.bety);
      return false;
    }
  return true;
}

TwissRow empty_row(int32_t line) {
  TwissRow row;
  row.s = row.length = row.betx = row.alfx = row.mux = row.bety = row.alfy = row.muy = 0;
  row.x = row.y = row.dx = row.dy = row.tilt = 0;
  for (double& c : row.coupling) c = 0;
  for (int32_t n = 0; n <= kMostOrder; n++) row.normal[n] = row.skew[n] = 0;
  row.line = line;
  return row;
}

}  // namespace

bool read_twiss_table(const TfsTable* tfs, const std::string& path, TwissTable* t, std::string* error) {
  *t = TwissTable{path, "", "", 0, 0, 0, 0, 0, false, false, false, false, false, false, tfs->names_line, {}};
  error->clear();
  if (!read_headers(tfs, t, error) || !check_required(tfs, t, error)) return false;
  if (tfs->row_lines.empty()) {
    *error = at_line(t, t->names_line) + "the table has no rows";
    return false;
  }
  for (int32_t line : tfs->row_lines) t->rows.push_back(empty_row(line));
  read_names(tfs, t);
  for (const TfsColumn& column : tfs->columns)
    if (!read_column(&column, t, error)) return false;
  return check_betas(t, error);
}
