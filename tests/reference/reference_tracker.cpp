#include "reference_tracker.h"

#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct Particle {
  float x, xp, y, yp;
};

// A drift (length), a normal or skew kick (k_j / j! for j = 1 .., index 0
// unused), or a linear element (a 4 x 4 matrix, row by row, of which a
// rotation fills the two 2 x 2 blocks on the diagonal alone).
struct Element {
  ElementKind kind;
  float length;
  std::vector<float> strength;
  float m[16];
};

// j! in double: exact up to 22!, and k_j / j! is rounded once, to double,
// before it becomes a float.
double factorial_of(int j) {
  double f = 1;
  for (int k = 2; k <= j; k++) f *= k;
  return f;
}

// The phase advance mu = 2 pi q of one plane at beta, alpha, into the
// block at row r, column r of the matrix.
void rotation_block(double q, double beta, double alpha, int r, float m[16]) {
  double mu = 2 * 3.14159265358979323846 * q, c = std::cos(mu), s = std::sin(mu);
  m[r * 4 + r] = gl_float(c + alpha * s);
  m[r * 4 + r + 1] = gl_float(beta * s);
  m[(r + 1) * 4 + r] = gl_float(-(1 + alpha * alpha) / beta * s);
  m[(r + 1) * 4 + r + 1] = gl_float(c - alpha * s);
}

Element element_of(const MapElement* m) {
  Element e{m->kind, gl_float(m->length), {0}, {}};
  if (m->kind == kElementKick || m->kind == kElementSkewKick)
    for (int32_t j = 1; j <= m->orders; j++) e.strength.push_back(gl_float(m->strengths[j - 1] / factorial_of(j)));
  if (m->kind == kElementMatrix)
    for (int k = 0; k < 16; k++) e.m[k] = gl_float(m->strengths[k]);
  if (m->kind == kElementRotation) {
    rotation_block(m->strengths[0], m->strengths[2], m->strengths[3], 0, e.m);
    rotation_block(m->strengths[1], m->strengths[4], m->strengths[5], 2, e.m);
  }
  return e;
}

std::vector<Element> elements_of(const JobSettings* s) {
  std::vector<Element> out;
  for (int32_t k = 0; k < element_count(s); k++) out.push_back(element_of(element_at(s, k)));
  return out;
}

void kick(const Element& e, Particle* p) {
  std::complex<float> z(p->x, p->y), power(1, 0), sum(0, 0);
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
float row(const Element& e, int r, const float v[4]) {
  if (e.kind == kElementRotation) {
    int c = r / 2 * 2;
    return e.m[r * 4 + c] * v[c] + e.m[r * 4 + c + 1] * v[c + 1];
  }
  return e.m[r * 4] * v[0] + e.m[r * 4 + 1] * v[1] + e.m[r * 4 + 2] * v[2] + e.m[r * 4 + 3] * v[3];
}

void apply(const Element& e, Particle* p) {
  if (e.kind == kElementDrift) {
    p->x += e.length * p->xp;
    p->y += e.length * p->yp;
    return;
  }
  if (e.kind == kElementKick || e.kind == kElementSkewKick) return kick(e, p);
  const float v[4] = {p->x, p->xp, p->y, p->yp};
  *p = Particle{row(e, 0, v), row(e, 1, v), row(e, 2, v), row(e, 3, v)};
}

// The collimators as tested: a limit at or beyond 1e20 means none, and is
// not tested when the other plane has a real collimator; otherwise it is
// tested like any other.
struct Limits {
  float x_low, x_high, y_low, y_high;
  bool skip_x_low, skip_x_high, skip_y_low, skip_y_high;
};

Limits limits_of(const JobSettings* s) {
  const Range &cx = s->xcollimator, &cy = s->ycollimator;
  bool x_real = cx.low > -1e20 && cx.high < 1e20, y_real = cy.low > -1e20 && cy.high < 1e20;
  Limits c{gl_float(cx.low), gl_float(cx.high), gl_float(cy.low), gl_float(cy.high), false, false, false, false};
  c.skip_x_low = y_real && cx.low <= -1e20;
  c.skip_x_high = y_real && cx.high >= 1e20;
  c.skip_y_low = x_real && cy.low <= -1e20;
  c.skip_y_high = x_real && cy.high >= 1e20;
  return c;
}

bool inside(const Limits& c, const Particle& p) {
  return (c.skip_x_low || p.x >= c.x_low) && (c.skip_x_high || p.x <= c.x_high) &&
         (c.skip_y_low || p.y >= c.y_low) && (c.skip_y_high || p.y <= c.y_high);
}

// The grid point of the pixel at (column, row), as the shader computes it
// from the texture coordinate at the pixel's centre.
Particle start_point(const JobSettings* s, int column, int row, const double jitter[4]) {
  float b = float(s->baseres), side = b * b;
  float u = (column + 0.5f) / side, v = (row + 0.5f) / side;
  float x = std::floor(u * b) / b, y = std::floor(v * b) / b;
  float xp = std::floor((u - x) * side) / b, yp = std::floor((v - y) * side) / b;
  auto place = [&](const Range& r, float index, double j) {
    return gl_float(r.low) + gl_float(r.high - r.low) * (index + float(j) / b);
  };
  return Particle{place(s->xrange, x, jitter[0]), place(s->xprange, xp, jitter[1]), place(s->yrange, y, jitter[2]),
                  place(s->yprange, yp, jitter[3])};
}

int level_of_turns(const JobSettings* s, int64_t turns) {
  for (int t = 0; t < iteration_count(s); t++)
    if (turns <= iteration_at(s, t)) return t + 1;
  return 0;
}

// Turns the particle makes: it is tested before each turn.
int64_t track(const JobSettings* s, const Limits& limits, const std::vector<Element>& map, Particle p) {
  int64_t i = 0, last = last_iteration(s);
  for (; i <= last && inside(limits, p); i++)
    for (const Element& e : map) apply(e, &p);
  return i;
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

std::vector<int> reference_levels(const JobSettings* s, const double jitter[4], int64_t* particle_turns) {
  std::vector<Element> map = elements_of(s);
  Limits limits = limits_of(s);
  int side = s->baseres * s->baseres;
  std::vector<int> levels(size_t(side) * side);
  int64_t turns = 0;
  for (int row = 0; row < side; row++)
    for (int column = 0; column < side; column++) {
      int64_t made = track(s, limits, map, start_point(s, column, row, jitter));
      levels[size_t(row) * side + column] = level_of_turns(s, made);
      turns += made;
    }
  if (particle_turns) *particle_turns = turns;
  return levels;
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
