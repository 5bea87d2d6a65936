#include "map/lowered_map.h"

#include <cmath>
#include <cstdlib>

#include "map/colour_code.h"
#include "util/text_util.h"

namespace {

const double kNoLimit = 1e20;

bool finite_limits(const Range& r) { return r.low > -kNoLimit && r.high < kNoLimit; }

// A limit at or beyond +-1e20 is left out only when the other plane has a
// finite one; otherwise it is tested like any other.
void lower_limits(const JobSettings* s, LoweredMap* m) {
  bool x_finite = finite_limits(s->xcollimator), y_finite = finite_limits(s->ycollimator);
  const double limits[4] = {s->xcollimator.low, s->xcollimator.high, s->ycollimator.low, s->ycollimator.high};
  m->tested[0] = !(limits[0] <= -kNoLimit && y_finite);
  m->tested[1] = !(limits[1] >= kNoLimit && y_finite);
  m->tested[2] = !(limits[2] <= -kNoLimit && x_finite);
  m->tested[3] = !(limits[3] >= kNoLimit && x_finite);
  for (int k = 0; k < 4; k++) m->limit[k] = shader_constant(limits[k]);
}

void lower_grid(const JobSettings* s, LoweredMap* m) {
  const Range* ranges[4] = {&s->xrange, &s->xprange, &s->yrange, &s->yprange};
  for (int k = 0; k < 4; k++) {
    m->low[k] = shader_constant(ranges[k]->low);
    m->span[k] = shader_constant(ranges[k]->high - ranges[k]->low);
  }
}

void add_constant(LoweredMap* m, double d) {
  m->written.push_back(d);
  m->value.push_back(shader_float(d));
}

LoweredOp lower_kick(const MapElement* e, LoweredMap* m, LoweredOp op) {
  op.count = e->orders;
  for (int32_t j = 1; j <= e->orders; j++) {
    add_constant(m, kick_strength(e, j));
    if (m->value.back() != 0) op.top = j;  // orders above the last non-zero one add nothing
  }
  return op;
}

// NOTE: the phase advance of a whole ring (a tune of 14.28, say) is turned
// into its matrix in double precision: a float of 2 pi q is off by a good
// share of a degree there.
LoweredOp lower_rotation(const MapElement* e, LoweredMap* m, LoweredOp op) {
  const double* v = e->strengths;  // qx qy bx ax by ay
  double x[4], y[4];
  rotation_matrix(v[0], v[2], v[3], x);
  rotation_matrix(v[1], v[4], v[5], y);
  for (double c : x) add_constant(m, c);
  for (double c : y) add_constant(m, c);
  op.count = 8;
  return op;
}

LoweredOp lower_element(const MapElement* e, LoweredMap* m) {
  LoweredOp op{kLoweredDrift, int32_t(m->written.size()), 1, 0};
  switch (e->kind) {
    case kElementDrift: add_constant(m, e->length); return op;
    case kElementKick: op.kind = kLoweredKick; return lower_kick(e, m, op);
    case kElementSkewKick: op.kind = kLoweredSkewKick; return lower_kick(e, m, op);
    case kElementRotation: op.kind = kLoweredRotation; return lower_rotation(e, m, op);
    case kElementMatrix: break;
  }
  op.kind = kLoweredMatrix;
  op.count = 16;
  for (int k = 0; k < 16; k++) add_constant(m, e->strengths[k]);
  return op;
}

// The shader's texture coordinate at the centre of column c, and the grid
// index it gives, in single precision: the same for columns and rows; and
// the exact index in double precision.
void grid_tables(LoweredMap* m) {
  float b = float(m->baseres), side = b * b;
  for (int32_t c = 0; c < m->side; c++) {
    float u = (float(c) + 0.5f) / side;
    float coarse = std::floor(u * b) / b;
    m->coarse.push_back(coarse);
    m->fine.push_back(std::floor((u - coarse) * side) / b);
    m->coarse_double.push_back(double(c / m->baseres) / m->baseres);
    m->fine_double.push_back(double(c % m->baseres) / m->baseres);
  }
}

void lower_turn_counts(const JobSettings* s, LoweredMap* m) {
  for (int32_t k = 0; k < iteration_count(s); k++) {
    int32_t turns = iteration_at(s, k);
    m->turn_counts.push_back(turns);
    m->level_limits.push_back(k > 0 && m->level_limits.back() > turns ? m->level_limits.back() : turns);
  }
  // NOTE: above 15000000 turns a float could no longer count them one by one.
  m->int_counter = last_iteration(s) > 15000000;
}

}  // namespace

float shader_float(double d) { return std::strtof(format_text("%.9lg", d).c_str(), nullptr); }

Constant shader_constant(double d) { return Constant{d, shader_float(d)}; }


LoweredMap lower_map(const JobSettings* s) {
  LoweredMap m;
  m.baseres = s->baseres;
  m.side = s->baseres * s->baseres;
  m.colour_levels = s->colourlevels;
  lower_turn_counts(s, &m);
  lower_grid(s, &m);
  lower_limits(s, &m);
  for (int32_t k = 0; k < element_count(s); k++) m.ops.push_back(lower_element(element_at(s, k), &m));
  grid_tables(&m);
  return m;
}

int32_t lowered_level(const LoweredMap* m, int64_t turns) {
  size_t lo = 0, hi = m->level_limits.size();
  while (lo < hi) {
    size_t mid = lo + (hi - lo) / 2;
    if (turns <= m->level_limits[mid]) hi = mid;
    else lo = mid + 1;
  }
  return lo < m->level_limits.size() ? int32_t(lo) + 1 : 0;
}

bool edge_line(int32_t baseres, int64_t c) {
  int64_t coarse = c / baseres, fine = c % baseres;
  return coarse == 0 || coarse == baseres - 1 || fine == 0 || fine == baseres - 1;
}
