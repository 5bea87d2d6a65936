#include "import/import_job.h"

#include "import/tfs.h"
#include "util/text_util.h"

namespace {

const char* const kRangeKeys[4] = {"xrange", "xprange", "yrange", "yprange"};
const char* const kLineKeys[4] = {"R", "M", "K", "KS"};

std::string number(double value) { return format_text("%.17g", value); }

// NOTE: the table's strings go into comment lines, and the job reader ends
// a line at a carriage return or a NUL as well as at a newline: a control
// byte left in a name would let the rest of it be read as a line of the map.
std::string comment_text(std::string text) {
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  return text;
}

std::string quoted_or_unknown(const std::string& text) {
  return text.empty() ? "(not given)" : "\"" + comment_text(text) + "\"";
}

std::string ring_text(const TwissTable* t) {
  std::string text = "sequence " + quoted_or_unknown(t->sequence) + ", particle " + quoted_or_unknown(t->particle);
  return text + (t->has_length ? format_text(", length %.10g m", t->length) : ", length (not given)");
}

std::string counts_text(const TwissTable* t, const ImportPlan* p) {
  int rows = int(t->rows.size());
  return format_text("%d rows read, %d kept as kicks, %d folded into the linear transport", rows, p->kicks, rows - p->kicks);
}

std::string header_text(const TwissTable* t, const ImportPlan* p) {
  const TwissRow* r = &t->rows[0];
  return "# Veldspan job made by \"veldspan import\" from the MAD-X Twiss table\n# " + comment_text(t->path) + ":\n# " + ring_text(t) +
         format_text(",\n# tunes Q1 %.10g, Q2 %.10g;\n# ", t->q1, t->q2) + counts_text(t, p) +
         ".\n#\n# Coordinates are canonical x, xp, y, yp (m, rad), deviations from the closed\n"
         "# orbit at the table's first row, \"" + comment_text(r->name) + format_text("\" (%sline %d), where\n", t->has_s ? format_text("s = %.10g m, ", r->s).c_str() : "", r->line) +
         format_text("#   betx %.10g  alfx %.10g  bety %.10g  alfy %.10g\n", r->betx, r->alfx, r->bety, r->alfy) +
         "# The momentum deviation and the dispersion are not modelled: this is an\n# on-momentum 4D study.\n\n";
}

std::string settings_text(const ImportOptions* o) {
  std::string text = format_text("baseres %d\niterations", o->baseres);
  for (int32_t n : o->iterations) text += format_text(" %d", n);
  return text + "   # turn counts, ascending\n" + format_text("maxsamples %d\n\n", o->maxsamples);
}

std::string box_comment(const ImportOptions* o) {
  if (o->has_box) return "# The box of initial conditions: the half-widths given with --box, centred\n# on the closed orbit.";
  return format_text("# The box of initial conditions: +-%.10g sigma in each of x, xp, y, yp, from\n", o->sigmas) +
         "# the Twiss functions at the first row and the emittances: sigma_x =\n"
         "# sqrt(betx ex), sigma_xp = sqrt(gamx ex) with gamx = (1 + alfx^2) / betx, the\n# same in y.";
}

std::string box_text(const TwissTable* t, const ImportPlan* p, const ImportOptions* o) {
  std::string text = box_comment(o) +
                     " The box is upright: it does not follow the tilt of the\n"
                     "# beam's phase-space ellipse where alfx, alfy are not 0.\n";
  for (int k = 0; k < 4; k++) text += std::string(kRangeKeys[k]) + " " + number(-p->box[k]) + " " + number(p->box[k]) + "\n";
  if (p->use_emittance)
    text += "emittance " + number(t->ex) + " " + number(t->ey) + "   # geometric, m rad (the table's EX, EY)\n";
  else
    text += "# emittance EX EY   # geometric, m rad: the table gives none; add them here\n";
  return text + "\n";
}

std::string collimator_text(const ImportPlan* p) {
  return "# Collimators: none. A particle is lost when x or y leaves [low, high], tested\n"
         "# before each turn at the first row, in m from the closed orbit. To add an\n"
         "# aperture, uncomment these lines and set its half-gaps there (written here\n"
         "# as twice the box's half-widths in x and y):\n" +
         format_text("# xcollimator %s %s\n# ycollimator %s %s\n\n", number(-2 * p->box[0]).c_str(), number(2 * p->box[0]).c_str(),
                     number(-2 * p->box[2]).c_str(), number(2 * p->box[2]).c_str());
}

std::string map_comment(const ImportPlan* p) {
  std::string text =
      "# The map, applied in this order once per turn, from the first row:\n"
      "#   R qx qy betx alfx bety alfy: linear transport between two points with the\n"
      "#     same Twiss functions (within a relative 1e-10), turning each plane by\n"
      "#     the phase advance 2 pi q;\n"
      "#   M m11 m12 ... m44: linear transport between points with different Twiss\n"
      "#     functions, the Twiss transfer matrix on (x, xp, y, yp), row by row;\n"
      "#   K 0 k2 ... kn, KS ks1 ks2 ... ksn: thin kicks with the integrated\n"
      "#     strengths KnL, KnSL, expanded about the closed orbit where it is not\n"
      "#     zero. Quadrupole strengths (order 1) are in the linear transport and\n"
      "#     written as 0.\n";
  if (p->skew_quadrupoles)
    text += "# --coupled-as-kicks: skew quadrupole strengths K1SL are kept as KS order-1\n"
            "# kicks on the uncoupled transport (an approximation of coupled optics).\n";
  return text + "# The last transport goes back to the first row at the tunes Q1, Q2.\n\n";
}

std::string line_text(const MapLine& line) {
  std::string text = kLineKeys[line.kind];
  for (double v : line.values) text += " " + number(v);
  return text + "\n";
}

std::string kick_comment(const TwissTable* t, const TwissRow* r) {
  std::string keyword = r->keyword.empty() ? "" : " " + comment_text(r->keyword);
  std::string at = t->has_s ? format_text(" at s = %.10g m", r->s) : "";
  return format_text("# \"%s\"%s%s (line %d)\n", comment_text(r->name).c_str(), keyword.c_str(), at.c_str(), r->line);
}

std::string map_text(const TwissTable* t, const ImportPlan* p) {
  std::string text = map_comment(p);
  int32_t commented = -2;
  for (const MapLine& line : p->map) {
    if (line.row != commented)
      text += line.row < 0 ? "# back to the first row\n" : kick_comment(t, &t->rows[size_t(line.row)]);
    commented = line.row;
    text += line_text(line);
  }
  return text;
}

std::string emittance_summary(const TwissTable* t, const ImportPlan* p, const ImportOptions* o) {
  std::string text = p->use_emittance ? format_text("emittances: EX %.6g, EY %.6g m rad\n", t->ex, t->ey)
                                      : "emittances: none (no emittance line)\n";
  text += o->has_box ? "box: given with --box" : format_text("box: +-%.6g sigma", o->sigmas);
  return text + format_text(", half-widths x %.6g, xp %.6g, y %.6g, yp %.6g\n", p->box[0], p->box[1], p->box[2], p->box[3]);
}

std::string map_summary(const ImportPlan* p) {
  int32_t lines[4] = {0, 0, 0, 0};
  for (const MapLine& line : p->map) lines[line.kind]++;
  std::string text = format_text("map: %d R, %d M, %d K and %d KS lines", lines[0], lines[1], lines[2], lines[3]);
  if (p->off_orbit) text += format_text("; %d kicks off the closed orbit, expanded about it", p->off_orbit);
  if (p->skew_quadrupoles) text += format_text("; %d skew quadrupoles kept as kicks (--coupled-as-kicks)", p->skew_quadrupoles);
  return text + "\n";
}

}  // namespace

std::string import_job_text(const TwissTable* t, const ImportPlan* p, const ImportOptions* o) {
  return header_text(t, p) + settings_text(o) + box_text(t, p, o) + collimator_text(p) + map_text(t, p);
}

std::string import_summary(const TwissTable* t, const ImportPlan* p, const ImportOptions* o) {
  std::string text = "ring: " + ring_text(t) + "\nelements: " + counts_text(t, p) + "\n";
  text += format_text("tunes: Q1 %.10g, Q2 %.10g (the table's rows span phase advances %.10g, %.10g)\n", t->q1, t->q2,
                      p->table_phase[0], p->table_phase[1]);
  text += emittance_summary(t, p, o) + map_summary(p);
  for (const std::string& w : p->warnings) text += "warning: " + w + "\n";
  return text;
}

bool import_table(const char* text, size_t size, const ImportOptions* o, ImportResult* result) {
  *result = ImportResult{"", "", ""};
  TfsTable tfs;
  TwissTable table;
  if (!parse_tfs(text, size, &tfs, &result->error)) {
    result->error = o->table_path + " " + result->error;
    return false;
  }
  if (!read_twiss_table(&tfs, o->table_path, &table, &result->error)) return false;
  ImportPlan plan = plan_import(&table, o);
  result->error = plan.refusal;
  if (!plan.refusal.empty()) return false;
  result->job = import_job_text(&table, &plan, o);
  result->summary = import_summary(&table, &plan, o);
  return true;
}
