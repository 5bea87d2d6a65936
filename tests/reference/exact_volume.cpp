#include "exact_volume.h"

#include <cmath>


namespace {

struct Point {
  double q, p;
};
typedef std::vector<Point> Polygon;

// m = a * m (the element a applied after m).
void apply_after(const double a[4], double m[4]) {
  double r[4] = {a[0] * m[0] + a[1] * m[2], a[0] * m[1] + a[1] * m[3], a[2] * m[0] + a[3] * m[2],
                 a[2] * m[1] + a[3] * m[3]};
  for (int k = 0; k < 4; k++) m[k] = r[k];
}

// The part of the convex polygon where a.q * q + a.p * p <= c.
Polygon clip(const Polygon& in, Point a, double c) {
  Polygon out;
  for (size_t i = 0; i < in.size(); i++) {
    Point u = in[i], v = in[(i + 1) % in.size()];
    double fu = a.q * u.q + a.p * u.p - c, fv = a.q * v.q + a.p * v.p - c;
    if (fu <= 0) out.push_back(u);
    if ((fu < 0 && fv > 0) || (fu > 0 && fv < 0)) {
      double s = fu / (fu - fv);
      out.push_back(Point{u.q + s * (v.q - u.q), u.p + s * (v.p - u.p)});
    }
  }
  return out;
}

double area(const Polygon& poly) {
  double twice = 0;
  for (size_t i = 0; i < poly.size(); i++) {
    const Point &u = poly[i], &v = poly[(i + 1) % poly.size()];
    twice += u.q * v.p - v.q * u.p;
  }
  return std::fabs(twice) / 2;
}

}  // namespace

bool plane_matrices(const JobSettings* s, double mx[4], double my[4]) {
  for (double* m : {mx, my}) m[0] = m[3] = 1, m[1] = m[2] = 0;
  for (int32_t k = 0; k < element_count(s); k++) {
    const MapElement* e = element_at(s, k);
    for (int32_t j = 2; e->kind == kElementKick && j <= e->orders; j++)
      if (e->strengths[j - 1] != 0) return false;
    double k1 = e->kind == kElementKick && e->orders >= 1 ? e->strengths[0] : 0;  // k_1 / 1!
    double dx[4] = {1, e->length, 0, 1}, kx[4] = {1, 0, -k1, 1}, ky[4] = {1, 0, k1, 1};
    apply_after(e->kind == kElementDrift ? dx : kx, mx);
    apply_after(e->kind == kElementDrift ? dx : ky, my);
  }
  return true;
}

double surviving_area(const Range& q, const Range& p, const Range& limits, const double m[4], int last) {
  Polygon poly{{q.low, p.low}, {q.high, p.low}, {q.high, p.high}, {q.low, p.high}};
  double turn[4] = {1, 0, 0, 1};  // m to the power t: row 0 gives q after t turns
  for (int t = 0; t <= last && !poly.empty(); t++) {
    if (limits.high < 1e20) poly = clip(poly, Point{turn[0], turn[1]}, limits.high);
    if (limits.low > -1e20) poly = clip(poly, Point{-turn[0], -turn[1]}, -limits.low);
    apply_after(m, turn);
  }
  return poly.size() < 3 ? 0 : area(poly);
}

std::vector<double> exact_row_volumes(const JobSettings* s) {
  double mx[4], my[4];
  if (!plane_matrices(s, mx, my)) return {};
  std::vector<double> rows{(s->xrange.high - s->xrange.low) * (s->xprange.high - s->xprange.low) *
                           (s->yrange.high - s->yrange.low) * (s->yprange.high - s->yprange.low)};
  for (int32_t k = 0; k < iteration_count(s); k++) {
    int turns = iteration_at(s, k);
    rows.push_back(surviving_area(s->xrange, s->xprange, s->xcollimator, mx, turns) *
                   surviving_area(s->yrange, s->yprange, s->ycollimator, my, turns));
  }
  return rows;
}
