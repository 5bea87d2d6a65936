#include "reference_tracker.h"

#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The constants as tracked: in single precision the float a GL compiler
// makes of the 9-digit text, in double the double itself.
float constant_of(double value, float) { return gl_float(value); }
double constant_of(double value, double) { return value; }

template <typename Real>
struct Particle {
  Real x, xp, y, yp;
};

// A drift (length), a normal or skew kick (k_j / j! for j = 1 .., index 0
// unused), or a linear element (a 4 x 4 matrix, row by row, of which a
// rotation fills the two 2 x 2 blocks on the diagonal alone).
template <typename Real>
struct Element {
  ElementKind kind;
  Real length;
  std::vector<Real> strength;
  Real m[16];
};

// j! in double: exact up to 22!, and k_j / j! is rounded once, to double,
// before it becomes a float (or is tracked as it is).
double factorial_of(int j) {
  double f = 1;
  for (int k = 2; k <= j; k++) f *= k;
  return f;
}

// The phase advance mu = 2 pi q of one plane at beta, alpha, into the
// block at row r, column r of the matrix.
template <typename Real>
void rotation_block(double q, double beta, double alpha, int r, Real m[16]) {
  double mu = 2 * 3.14159265358979323846 * q, c = std::cos(mu), s = std::sin(mu);
  m[r * 4 + r] = constant_of(c + alpha * s, Real());
  m[r * 4 + r + 1] = constant_of(beta * s, Real());
  m[(r + 1) * 4 + r] = constant_of(-(1 + alpha * alpha) / beta * s, Real());
  m[(r + 1) * 4 + r + 1] = constant_of(c - alpha * s, Real());
}

template <typename Real>
Element<Real> element_of(const MapElement* m) {
  Element<Real> e{m->kind, constant_of(m->length, Real()), {0}, {}};
  if (m->kind == kElementKick || m->kind == kElementSkewKick)
    for (int32_t j = 1; j <= m->orders; j++)
      e.strength.push_back(constant_of(m->strengths[j - 1] / factorial_of(j), Real()));
  if (m->kind == kElementMatrix)
    for (int k = 0; k < 16; k++) e.m[k] = constant_of(m->strengths[k], Real());
  if (m->kind == kElementRotation) {
    rotation_block(m->strengths[0], m->strengths[2], m->strengths[3], 0, e.m);
    rotation_block(m->strengths[1], m->strengths[4], m->strengths[5], 2, e.m);
  }
  return e;
}

template <typename Real>
std::vector<Element<Real>> elements_of(const JobSettings* s) {
  std::vector<Element<Real>> out;
  for (int32_t k = 0; k < element_count(s); k++) out.push_back(element_of<Real>(element_at(s, k)));
  return out;
}

template <typename Real>
void kick(const Element<Real>& e, Particle<Real>* p) {
  std::complex<Real> z(p->x, p->y), power(1, 0), sum(0, 0);
  for (size_t j = 1; j < e.strength.size(); j++) {
    power *= z;
    sum += e.strength[j] * power;
  }
  if (e.kind == kElementSkewKick) {
    p->xp += sum.imag();
    p->yp += sum.real();
  } else {
    p->xp -= sum.real();
    p->yp += sum.imag();
  }
}

// Row r of the matrix times the old coordinates, summed from the first
// term on; a rotation's blocks use their own plane alone.
template <typename Real>
Real row(const Element<Real>& e, int r, const Real v[4]) {
  if (e.kind == kElementRotation) {
    int c = r / 2 * 2;
    return e.m[r * 4 + c] * v[c] + e.m[r * 4 + c + 1] * v[c + 1];
  }
  return e.m[r * 4] * v[0] + e.m[r * 4 + 1] * v[1] + e.m[r * 4 + 2] * v[2] + e.m[r * 4 + 3] * v[3];
}

template <typename Real>
void apply(const Element<Real>& e, Particle<Real>* p) {
  if (e.kind == kElementDrift) {
    p->x += e.length * p->xp;
    p->y += e.length * p->yp;
    return;
  }
  if (e.kind == kElementKick || e.kind == kElementSkewKick) return kick(e, p);
  const Real v[4] = {p->x, p->xp, p->y, p->yp};
  *p = Particle<Real>{row(e, 0, v), row(e, 1, v), row(e, 2, v), row(e, 3, v)};
}

// The collimators as tested: a limit at or beyond 1e20 means none, and is
// not tested when the other plane has a real collimator; otherwise it is
// tested like any other.
template <typename Real>
struct Limits {
  Real x_low, x_high, y_low, y_high;
  bool skip_x_low, skip_x_high, skip_y_low, skip_y_high;
};

template <typename Real>
Limits<Real> limits_of(const JobSettings* s) {
  const Range &cx = s->xcollimator, &cy = s->ycollimator;
  bool x_real = cx.low > -1e20 && cx.high < 1e20, y_real = cy.low > -1e20 && cy.high < 1e20;
  Limits<Real> c{constant_of(cx.low, Real()), constant_of(cx.high, Real()), constant_of(cy.low, Real()),
                 constant_of(cy.high, Real()), false, false, false, false};
  c.skip_x_low = y_real && cx.low <= -1e20;
  c.skip_x_high = y_real && cx.high >= 1e20;
  c.skip_y_low = x_real && cy.low <= -1e20;
  c.skip_y_high = x_real && cy.high >= 1e20;
  return c;
}

template <typename Real>
bool inside(const Limits<Real>& c, const Particle<Real>& p) {
  return (c.skip_x_low || p.x >= c.x_low) && (c.skip_x_high || p.x <= c.x_high) &&
         (c.skip_y_low || p.y >= c.y_low) && (c.skip_y_high || p.y <= c.y_high);
}

// The grid point of the pixel at (column, row): in single precision as the
// shader computes it from the texture coordinate at the pixel's centre.
Particle<float> start_point(const JobSettings* s, int column, int row, const double jitter[4], float) {
  float b = float(s->baseres), side = b * b;
  float u = (column + 0.5f) / side, v = (row + 0.5f) / side;
  float x = std::floor(u * b) / b, y = std::floor(v * b) / b;
  float xp = std::floor((u - x) * side) / b, yp = std::floor((v - y) * side) / b;
  auto place = [&](const Range& r, float index, double j) {
    return gl_float(r.low) + gl_float(r.high - r.low) * (index + float(j) / b);
  };
  return Particle<float>{place(s->xrange, x, jitter[0]), place(s->xprange, xp, jitter[1]),
                         place(s->yrange, y, jitter[2]), place(s->yprange, yp, jitter[3])};
}

// In double precision from the whole numbers: the coarse index is the
// column's (or row's) block, the fine one its place within the block.
Particle<double> start_point(const JobSettings* s, int column, int row, const double jitter[4], double) {
  int b = s->baseres;
  auto place = [&](const Range& r, int line, double j) {
    double index = double(line) / b;
    return r.low + (r.high - r.low) * (index + j / b);
  };
  return Particle<double>{place(s->xrange, column / b, jitter[0]), place(s->xprange, column % b, jitter[1]),
                          place(s->yrange, row / b, jitter[2]), place(s->yprange, row % b, jitter[3])};
}

int level_of_turns(const JobSettings* s, int64_t turns) {
  for (int t = 0; t < iteration_count(s); t++)
    if (turns <= iteration_at(s, t)) return t + 1;
  return 0;
}

// Turns the particle makes: it is tested before each turn.
template <typename Real>
int64_t track(const JobSettings* s, const Limits<Real>& limits, const std::vector<Element<Real>>& map, Particle<Real> p) {
  int64_t i = 0, last = last_iteration(s);
  for (; i <= last && inside(limits, p); i++)
    for (const Element<Real>& e : map) apply(e, &p);
  return i;
}

template <typename Real>
std::vector<int> levels_in(const JobSettings* s, const double jitter[4], int64_t* particle_turns) {
  std::vector<Element<Real>> map = elements_of<Real>(s);
  Limits<Real> limits = limits_of<Real>(s);
  int side = s->baseres * s->baseres;
  std::vector<int> levels(size_t(side) * side);
  int64_t turns = 0;
  for (int row = 0; row < side; row++)
    for (int column = 0; column < side; column++) {
      int64_t made = track(s, limits, map, start_point(s, column, row, jitter, Real()));
      levels[size_t(row) * side + column] = level_of_turns(s, made);
      turns += made;
    }
  if (particle_turns) *particle_turns = turns;
  return levels;
}

}  // namespace

// The shaders are given every constant as 9 significant decimal digits,
// which the GL compiler reads as the nearest float.
float gl_float(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.9g", value);
  return std::strtof(text, nullptr);
}

void reference_sample_jitter(int32_t sample, double jitter[4]) {
  uint32_t index[4] = {0, 0, 0, 0};
  for (int k = 0; k < 8 && (uint32_t(sample) >> (4 * k)) != 0; k++) {
    uint32_t d = (uint32_t(sample) >> (4 * k)) & 15, b0 = d & 1, b1 = (d >> 1) & 1, b2 = (d >> 2) & 1, b3 = d >> 3;
    index[0] |= (b0 ^ b1 ^ b2 ^ b3) << k;
    index[1] |= (b0 ^ b1) << k;
    index[2] |= (b0 ^ b2) << k;
    index[3] |= b0 << k;
  }
  for (int c = 0; c < 4; c++) {
    double fraction = (index[c] & 1) ? 0 : 0.5;
    for (int k = 1; k < 32; k++) fraction += ((index[c] >> k) & 1) * std::ldexp(1.0, -(k + 1));
    jitter[c] = fraction;
  }
}

std::vector<int> reference_levels(const JobSettings* s, const double jitter[4], int64_t* particle_turns,
                                  Precision precision) {
  if (precision == kPrecisionDouble) return levels_in<double>(s, jitter, particle_turns);
  return levels_in<float>(s, jitter, particle_turns);
}

int64_t reference_edge_survivors(const std::vector<int>& levels, int baseres) {
  int side = baseres * baseres;
  int64_t edge = 0;
  for (int row = 0; row < side; row++)
    for (int column = 0; column < side; column++) {
      int index[4] = {column / baseres, column % baseres, row / baseres, row % baseres};
      bool outer = false;
      for (int i : index) outer = outer || i == 0 || i == baseres - 1;
      edge += outer && levels[size_t(row) * side + column] == 0;
    }
  return edge;
}

std::vector<int64_t> level_counts(const std::vector<int>& levels, int n) {
  std::vector<int64_t> counts(size_t(n) + 1, 0);
  for (int l : levels) counts[size_t(l)]++;
  return counts;
}

std::vector<int64_t> row_counts(const std::vector<int64_t>& c) {
  size_t n = c.size() - 1;
  std::vector<int64_t> rows(n + 1, 0);
  for (size_t i = 0; i <= n; i++) {
    int64_t passed = c[0];  // survivors of every threshold
    for (size_t k = i + 1; k <= n; k++) passed += c[k];
    rows[i] = i == n ? c[0] : passed;
  }
  return rows;
}
