// The exact-volume calculator on rings of rotations and uncoupled
// matrices, against a plain count of a fine grid tracked in double.
#include "reference/exact_volume.h"

#include <gtest/gtest.h>

#include <cmath>

#include "reference/coverage.h"

namespace {

// The share of an n x n grid of cell midpoints of the x plane's box that
// stays inside the x collimator before each of turns 0 .. last under the
// one-turn matrix m.
double grid_share(const JobSettings* s, const double m[4], int last, int n) {
  const Range &q = s->xrange, &p = s->xprange, &c = s->xcollimator;
  int64_t inside = 0;
  for (int a = 0; a < n; a++)
    for (int b = 0; b < n; b++) {
      double x = q.low + (q.high - q.low) * (a + 0.5) / n, xp = p.low + (p.high - p.low) * (b + 0.5) / n;
      int turns = 0;
      for (; turns <= last && x >= c.low && x <= c.high; turns++) {
        double nx = m[0] * x + m[1] * xp;
        xp = m[2] * x + m[3] * xp;
        x = nx;
      }
      inside += turns > last;
    }
  return double(inside) / (double(n) * n);
}

}  // namespace

TEST(ExactVolume, RotationsAndUncoupledMatricesAreLinearRings) {
  JobSettings s = job_from_text("xcollimator -0.7 0.6\nycollimator -0.5 0.8\nR 0.13 0.41 1.5 -0.4 0.8 0.3\n"
                                "M 0.5 0.3 0 0 -1.2 1.28 0 0 0 0 1 0 0 0 0.2 1\n");
  double mx[4], my[4];
  ASSERT_TRUE(plane_matrices(&s, mx, my));
  EXPECT_NEAR(mx[0] * mx[3] - mx[1] * mx[2], 1.0, 1e-12) << "a rotation and a symplectic block keep areas";
  for (int last : {1, 3, 10}) {
    double x = surviving_area(s.xrange, s.xprange, s.xcollimator, mx, last) / 4;
    EXPECT_NEAR(x, grid_share(&s, mx, last, 600), 2e-3) << "turns " << last;
  }
  JobSettings coupled = job_from_text("M 1 0 0.1 0 0 1 0 0 0 0 1 0 0 0 0 1\n");
  EXPECT_FALSE(plane_matrices(&coupled, mx, my));
  JobSettings skew = job_from_text("KS 0.1\n");
  EXPECT_FALSE(plane_matrices(&skew, mx, my));
}
