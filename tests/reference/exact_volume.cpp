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

namespace {

// The two planes' matrices of one element, row by row; false for an
// element that couples the planes or is not linear.
bool element_planes(const MapElement* e, double ex[4], double ey[4]) {
  switch (e->kind) {
    case kElementDrift:
      ex[0] = ex[3] = ey[0] = ey[3] = 1, ex[1] = ey[1] = e->length, ex[2] = ey[2] = 0;
      return true;
    case kElementKick: {
      for (int32_t j = 2; j <= e->orders; j++)
        if (e->strengths[j - 1] != 0) return false;
      double k1 = e->orders >= 1 ? e->strengths[0] : 0;  // k_1 / 1!
      ex[0] = ex[3] = ey[0] = ey[3] = 1, ex[1] = ey[1] = 0, ex[2] = -k1, ey[2] = k1;
      return true;
    }
    case kElementRotation: {
      const double* v = e->strengths;  // qx qy bx ax by ay, turned here independently of the program
      const double* twiss[2] = {v + 2, v + 4};
      double* out[2] = {ex, ey};
      for (int p = 0; p < 2; p++) {
        double mu = 2 * M_PI * v[p], c = std::cos(mu), sn = std::sin(mu), b = twiss[p][0], a = twiss[p][1];
        out[p][0] = c + a * sn, out[p][1] = b * sn, out[p][2] = -(1 + a * a) / b * sn, out[p][3] = c - a * sn;
      }
      return true;
    }
    case kElementMatrix: {
      const double* m = e->strengths;
      for (int r = 0; r < 2; r++)
        for (int c = 2; c < 4; c++)
          if (m[r * 4 + c] != 0 || m[c * 4 + r] != 0) return false;
      ex[0] = m[0], ex[1] = m[1], ex[2] = m[4], ex[3] = m[5];
      ey[0] = m[10], ey[1] = m[11], ey[2] = m[14], ey[3] = m[15];
      return true;
    }
    default:
      return false;
  }
}

}  // namespace

bool plane_matrices(const JobSettings* s, double mx[4], double my[4]) {
  for (double* m : {mx, my}) m[0] = m[3] = 1, m[1] = m[2] = 0;
  for (int32_t k = 0; k < element_count(s); k++) {
    double ex[4], ey[4];
    if (!element_planes(element_at(s, k), ex, ey)) return false;
    apply_after(ex, mx);
    apply_after(ey, my);
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
