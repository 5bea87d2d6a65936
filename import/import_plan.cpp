#include "import/import_plan.h"

#include <cmath>
#include <complex>

#include "util/text_util.h"

namespace {

typedef std::complex<double> Complex;
const double kTwoPi = 6.283185307179586476925286766559;

struct PlaneTwiss {
  double beta, alpha;
};

bool same_twiss(PlaneTwiss a, PlaneTwiss b) {
  return std::fabs(b.beta - a.beta) <= kSameTwissTolerance * a.beta &&
         std::fabs(b.alpha - a.alpha) <= kSameTwissTolerance * (1 + std::fabs(a.alpha));
}

// The transfer matrix (m11, m12, m21, m22) from a point with Twiss a to one
// with Twiss b across the phase advance q (units of 2 pi).
void twiss_transfer(PlaneTwiss a, PlaneTwiss b, double q, double m[4]) {
  double c = std::cos(kTwoPi * q), s = std::sin(kTwoPi * q), root = std::sqrt(a.beta * b.beta);
  m[0] = std::sqrt(b.beta / a.beta) * (c + a.alpha * s);
  m[1] = root * s;
  m[2] = -((1 + a.alpha * b.alpha) * s + (b.alpha - a.alpha) * c) / root;
  m[3] = std::sqrt(a.beta / b.beta) * (c - b.alpha * s);
}

PlaneTwiss x_twiss(const TwissRow* r) { return PlaneTwiss{r->betx, r->alfx}; }
PlaneTwiss y_twiss(const TwissRow* r) { return PlaneTwiss{r->bety, r->alfy}; }

std::vector<double> block_matrix(const double mx[4], const double my[4]) {
  return {mx[0], mx[1], 0, 0, mx[2], mx[3], 0, 0, 0, 0, my[0], my[1], 0, 0, my[2], my[3]};
}

// The transport from one point to the next across phase advances qx, qy:
// nothing when it is the identity, an R line when both points have the
// same Twiss functions, else an M line.
void add_transport(ImportPlan* plan, const TwissRow* from, const TwissRow* to, double qx, double qy, int32_t row) {
  bool same = same_twiss(x_twiss(from), x_twiss(to)) && same_twiss(y_twiss(from), y_twiss(to));
  if (same && qx == 0 && qy == 0) return;
  if (same) {
    plan->map.push_back(MapLine{kMapRotation, {qx, qy, from->betx, from->alfx, from->bety, from->alfy}, row});
    return;
  }
  double mx[4], my[4];
  twiss_transfer(x_twiss(from), x_twiss(to), qx, mx);
  twiss_transfer(y_twiss(from), y_twiss(to), qy, my);
  plan->map.push_back(MapLine{kMapMatrix, block_matrix(mx, my), row});
}

// A rolled strength whose part is below rounding of its size is that part
// lost to rounding (a sextupole rolled by pi/6 is purely skew).
double rounded_to_zero(double part, double size) { return std::fabs(part) <= 4e-16 * size ? 0 : part; }

// c_n = KnL + i KnSL in the ring's frame: an element rolled by TILT t has
// c_n exp(-i (n+1) t), as MAD-X's tilt = -atan2(k1s, k1) / 2 of a
// quadrupole implies.
void ring_frame_strengths(const TwissRow* r, Complex c[kMostOrder + 1]) {
  for (int32_t n = 0; n <= kMostOrder; n++) {
    c[n] = Complex(r->normal[n], r->skew[n]);
    if (r->tilt == 0) continue;
    double size = std::abs(c[n]);
    c[n] *= std::polar(1.0, -(n + 1) * r->tilt);
    c[n] = Complex(rounded_to_zero(c[n].real(), size), rounded_to_zero(c[n].imag(), size));
  }
}

double skew_quadrupole(const TwissRow* r) {
  Complex c[kMostOrder + 1];
  ring_frame_strengths(r, c);
  return c[1].imag();
}

bool kept_skew_quadrupole(const TwissRow* r, const ImportOptions* o) {
  return o->coupled_as_kicks && std::fabs(skew_quadrupole(r)) > kCouplingTolerance;
}

bool is_kick(const TwissRow* r, const ImportOptions* o) {
  for (int32_t n = 2; n <= kMostOrder; n++)
    if (r->normal[n] != 0 || r->skew[n] != 0) return true;
  return kept_skew_quadrupole(r, o);
}

// The kick's coefficients about the closed orbit z0 = X + iY:
// out[m] = sum over n >= m of c_n z0^(n-m) / (n-m)!, for m >= 2. Orders 0
// and 1 stay 0: the orbit and the optics already hold them.
void feed_down(const Complex c[kMostOrder + 1], Complex z0, Complex out[kMostOrder + 1]) {
  Complex power[kMostOrder + 1];
  power[0] = 1;
  for (int32_t k = 1; k <= kMostOrder; k++) power[k] = power[k - 1] * z0 / double(k);
  for (int32_t m = 0; m <= kMostOrder; m++) {
    out[m] = 0;
    for (int32_t n = m; m >= 2 && n <= kMostOrder; n++) out[m] += c[n] * power[n - m];
  }
}

// The numbers of a K or KS line: orders 1 .. the highest non-zero one; empty
// when all are zero.
std::vector<double> kick_values(const Complex c[kMostOrder + 1], bool skew, double order_one) {
  int32_t top = 0;
  for (int32_t m = 1; m <= kMostOrder; m++)
    if ((skew ? c[m].imag() : c[m].real()) != 0 || (m == 1 && order_one != 0)) top = m;
  std::vector<double> values;
  for (int32_t m = 1; m <= top; m++) values.push_back(m == 1 ? order_one : skew ? c[m].imag() : c[m].real());
  return values;
}

void add_kick(ImportPlan* plan, const TwissRow* r, int32_t row, const ImportOptions* o) {
  Complex c[kMostOrder + 1], kick[kMostOrder + 1];
  ring_frame_strengths(r, c);
  feed_down(c, Complex(r->x, r->y), kick);
  double skew_one = kept_skew_quadrupole(r, o) ? c[1].imag() : 0;
  std::vector<double> normal = kick_values(kick, false, 0), skew = kick_values(kick, true, skew_one);
  if (!normal.empty()) plan->map.push_back(MapLine{kMapNormal, normal, row});
  if (!skew.empty()) plan->map.push_back(MapLine{kMapSkew, skew, row});
  plan->kicks++;
  plan->skew_quadrupoles += skew_one != 0;
  plan->tilted += r->tilt != 0;
  plan->thick += r->length > 0;
  plan->off_orbit += r->x != 0 || r->y != 0;
}

std::string at_row(const TwissTable* t, const TwissRow* r) {
  return format_text("%s line %d: ", t->path.c_str(), r->line);
}

// The first sign of coupled optics: a skew quadrupole strength or a
// coupling term beyond noise; null when there is none.
const TwissRow* coupled_row(const TwissTable* t, std::string* what) {
  const char* const terms[4] = {"R11", "R12", "R21", "R22"};
  for (const TwissRow& r : t->rows) {
    double k1s = skew_quadrupole(&r);
    if (std::fabs(k1s) > kCouplingTolerance) *what = format_text("K1SL %.6g", k1s);
    for (int k = 0; k < 4 && what->empty(); k++)
      if (std::fabs(r.coupling[k]) > kCouplingTolerance) *what = format_text("%s %.6g", terms[k], r.coupling[k]);
    if (!what->empty()) return &r;
  }
  return nullptr;
}

void check_coupling(const TwissTable* t, const ImportOptions* o, ImportPlan* plan) {
  std::string what;
  const TwissRow* r = coupled_row(t, &what);
  if (!r) return;
  std::string where = format_text("%s at \"%s\"", what.c_str(), r->name.c_str());
  if (!o->coupled_as_kicks)
    plan->refusal = at_row(t, r) + "the optics are coupled (" + where +
                    format_text(", beyond %g): the uncoupled Twiss functions do not describe them; --coupled-as-kicks "
                                "keeps the skew quadrupole strengths (K1SL) as kicks on the uncoupled transport instead",
                                kCouplingTolerance);
  else
    plan->warnings.push_back(format_text("the optics are coupled (first: %s, line %d); --coupled-as-kicks keeps "
                                         "K1SL as kicks on the uncoupled transport, and other coupling (R11 .. R22 "
                                         "without K1SL, solenoids) is not modelled",
                                         where.c_str(), r->line));
}

// Refuses a phase advance that decreases from row to row or passes the
// tune across the table, which then holds more than one turn.
void check_phases(const TwissTable* t, ImportPlan* plan) {
  const TwissRow* first = &t->rows[0];
  for (size_t k = 1; k < t->rows.size() && plan->refusal.empty(); k++) {
    const TwissRow* r = &t->rows[k];
    if (r->mux < t->rows[k - 1].mux || r->muy < t->rows[k - 1].muy)
      plan->refusal = at_row(t, r) + "the phase advance (MUX, MUY) decreases from the row before";
    else if (r->mux - first->mux > t->q1 + kPhaseTolerance || r->muy - first->muy > t->q2 + kPhaseTolerance)
      plan->refusal = at_row(t, r) + format_text("the phase advance from the first row passes the tunes Q1 %.10g, "
                                                 "Q2 %.10g: the table holds more than one turn", t->q1, t->q2);
  }
  const TwissRow* last = &t->rows.back();
  plan->table_phase[0] = last->mux - first->mux;
  plan->table_phase[1] = last->muy - first->muy;
}

// Within this (relative to beta, and to 1 + |alpha|), the ends of a table
// that spans the whole ring agree as the periodic solution's do.
const double kPeriodicTolerance = 1e-6;

bool nearly_same(PlaneTwiss a, PlaneTwiss b) {
  return std::fabs(b.beta - a.beta) <= kPeriodicTolerance * a.beta &&
         std::fabs(b.alpha - a.alpha) <= kPeriodicTolerance * (1 + std::fabs(a.alpha));
}

// A table that spans the whole ring but ends with other Twiss functions than
// it starts with is not the ring's periodic solution (a twiss with initial
// values, say), and its tunes are no ring's.
void check_periodic(const TwissTable* t, ImportPlan* plan) {
  const TwissRow* first = &t->rows[0];
  const TwissRow* last = &t->rows.back();
  bool whole = std::fabs(plan->table_phase[0] - t->q1) <= kPhaseTolerance && std::fabs(plan->table_phase[1] - t->q2) <= kPhaseTolerance;
  bool close = nearly_same(x_twiss(first), x_twiss(last)) && nearly_same(y_twiss(first), y_twiss(last));
  if (whole && !close)
    plan->warnings.push_back(format_text("the table's rows span the whole ring, but the Twiss functions of its last row "
                                         "(line %d) differ from its first row's: is it the ring's periodic solution?",
                                         last->line));
}

// MAD-X's default emittance is 1 in both planes: a table that shows it
// gives no beam size.
std::string emittance_problem(const TwissTable* t) {
  if (!t->has_emittance) return "the header has no EX and EY";
  if (t->ex == 1 || t->ey == 1) return "EX, EY are MAD-X's default of 1";
  if (!(t->ex > 0 && t->ey > 0) || !std::isfinite(t->ex) || !std::isfinite(t->ey)) return "EX, EY are not positive";
  return "";
}

void choose_box(const TwissTable* t, const ImportOptions* o, ImportPlan* plan) {
  std::string problem = emittance_problem(t);
  plan->use_emittance = problem.empty();
  if (!problem.empty())
    plan->warnings.push_back("no emittance line: " + problem + "; add \"emittance EX EY\" (geometric, in m rad) by hand");
  if (o->has_box) {
    for (int k = 0; k < 4; k++) plan->box[k] = o->box[k];
    return;
  }
  if (!problem.empty()) {
    plan->refusal = format_text("%s: no box: %s; set the emittances through the beam command before twiss, or give the "
                                "box's half-widths with --box X XP Y YP", t->path.c_str(), problem.c_str());
    return;
  }
  const TwissRow* r = &t->rows[0];
  plan->box[0] = o->sigmas * std::sqrt(r->betx * t->ex);
  plan->box[1] = o->sigmas * std::sqrt((1 + r->alfx * r->alfx) / r->betx * t->ex);
  plan->box[2] = o->sigmas * std::sqrt(r->bety * t->ey);
  plan->box[3] = o->sigmas * std::sqrt((1 + r->alfy * r->alfy) / r->bety * t->ey);
}

void build_map(const TwissTable* t, const ImportOptions* o, ImportPlan* plan) {
  const TwissRow* start = &t->rows[0];
  const TwissRow* previous = start;
  for (size_t k = 0; k < t->rows.size(); k++) {
    const TwissRow* r = &t->rows[k];
    if (!is_kick(r, o)) continue;
    add_transport(plan, previous, r, r->mux - previous->mux, r->muy - previous->muy, int32_t(k));
    add_kick(plan, r, int32_t(k), o);
    previous = r;
  }
  double qx = t->q1 - (previous->mux - start->mux), qy = t->q2 - (previous->muy - start->muy);
  add_transport(plan, previous, start, qx, qy, -1);
}

void warn_of_dispersion(const TwissTable* t, const ImportOptions* o, ImportPlan* plan) {
  double most[2] = {0, 0};
  for (const TwissRow& r : t->rows)
    if (is_kick(&r, o)) {
      most[0] = std::fmax(most[0], std::fabs(r.dx));
      most[1] = std::fmax(most[1], std::fabs(r.dy));
    }
  if (most[0] > kDispersionTolerance || most[1] > kDispersionTolerance)
    plan->warnings.push_back(format_text("the dispersion at the kicks (|DX| up to %.4g m, |DY| up to %.4g m) is not "
                                         "modelled: the job is an on-momentum 4D study",
                                         most[0], most[1]));
}

void warn_of_kicks(const ImportPlan* p, std::vector<std::string>* warnings) {
  if (p->kicks == 0)
    warnings->push_back("no element has strengths of order 2 or more: the map is the linear one-turn rotation alone, "
                        "and every particle survives unless collimators are added");
  if (p->thick)
    warnings->push_back(format_text("%d kicks come from elements with a length (L > 0), each applied as a thin kick at "
                                    "the element's end; make the lattice thin (makethin) before twiss",
                                    p->thick));
  if (p->tilted)
    warnings->push_back(format_text("%d kicks are rolled by their TILT: strength c_n = KnL + i KnSL becomes "
                                    "c_n exp(-i (n+1) TILT) in the ring's frame",
                                    p->tilted));
}

}  // namespace

ImportOptions default_import_options() {
  return ImportOptions{"", "", 10, {1000, 10000, 100000}, 32, 256, false, {0, 0, 0, 0}, false, false, false};
}

ImportPlan plan_import(const TwissTable* t, const ImportOptions* o) {
  ImportPlan plan{{}, 0, 0, 0, 0, 0, {0, 0}, false, {0, 0, 0, 0}, {}, ""};
  check_coupling(t, o, &plan);
  if (plan.refusal.empty()) check_phases(t, &plan);
  if (plan.refusal.empty()) choose_box(t, o, &plan);
  if (!plan.refusal.empty()) return plan;
  check_periodic(t, &plan);
  build_map(t, o, &plan);
  warn_of_dispersion(t, o, &plan);
  warn_of_kicks(&plan, &plan.warnings);
  return plan;
}
