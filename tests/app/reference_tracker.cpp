#include "reference_tracker.h"

#include <cmath>
#include <complex>
#include <cstdlib>
#include <cstring>

#include "map/shader_source.h"

namespace {

struct Particle {
  float x, xp, y, yp;
};

struct Kick {
  std::vector<float> strength;  // k_j / j! for j = 1 .., index 0 unused
};

struct Element {
  bool drift;
  float length;
  Kick kick;
};

std::vector<Element> elements_of(const JobSettings* s) {
  std::vector<Element> out;
  for (int32_t k = 0; k < element_count(s); k++) {
    const MapElement* m = element_at(s, k);
    Element e{m->kind == kElementDrift, float(m->length), {}};
    e.kick.strength.push_back(0);
    for (int32_t j = 1; m->kind == kElementKick && j <= m->orders; j++)
      e.kick.strength.push_back(float(kick_strength(m, j)));
    out.push_back(e);
  }
  return out;
}

void apply(const Element& e, Particle* p) {
  if (e.drift) {
    p->x += e.length * p->xp;
    p->y += e.length * p->yp;
    return;
  }
  std::complex<float> z(p->x, p->y), power(1, 0), sum(0, 0);
  for (size_t j = 1; j < e.kick.strength.size(); j++) {
    power *= z;
    sum += e.kick.strength[j] * power;
  }
  p->xp -= sum.real();
  p->yp += sum.imag();
}

// A limit at or beyond 1e20 means none, and is not tested when the other
// plane has a real collimator; otherwise it is tested like any other.
bool inside(const JobSettings* s, const Particle& p) {
  const Range &cx = s->xcollimator, &cy = s->ycollimator;
  bool x_real = cx.low > -1e20 && cx.high < 1e20, y_real = cy.low > -1e20 && cy.high < 1e20;
  auto low_ok = [](float v, double limit, bool skip) { return (skip && limit <= -1e20) || v >= float(limit); };
  auto high_ok = [](float v, double limit, bool skip) { return (skip && limit >= 1e20) || v <= float(limit); };
  return low_ok(p.x, cx.low, y_real) && high_ok(p.x, cx.high, y_real) && low_ok(p.y, cy.low, x_real) &&
         high_ok(p.y, cy.high, x_real);
}

// The grid point of the pixel at (column, row), as the shader computes it
// from the texture coordinate at the pixel's centre.
Particle start_point(const JobSettings* s, int column, int row, const double jitter[4]) {
  float b = float(s->baseres), side = b * b;
  float u = (column + 0.5f) / side, v = (row + 0.5f) / side;
  float x = std::floor(u * b) / b, y = std::floor(v * b) / b;
  float xp = std::floor((u - x) * side) / b, yp = std::floor((v - y) * side) / b;
  auto place = [&](const Range& r, float index, double j) {
    return float(r.low) + float(r.high - r.low) * (index + float(j) / b);
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
int64_t track(const JobSettings* s, const std::vector<Element>& map, Particle p) {
  int64_t i = 0, last = last_iteration(s);
  for (; i <= last && inside(s, p); i++)
    for (const Element& e : map) apply(e, &p);
  return i;
}

}  // namespace

std::vector<int> reference_levels(const JobSettings* s, const double jitter[4], int64_t* particle_turns) {
  std::vector<Element> map = elements_of(s);
  int side = s->baseres * s->baseres;
  std::vector<int> levels(size_t(side) * side);
  int64_t turns = 0;
  for (int row = 0; row < side; row++)
    for (int column = 0; column < side; column++) {
      int64_t made = track(s, map, start_point(s, column, row, jitter));
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
