// The imported job against rings whose optics the tests compute themselves,
// and against kicks worked out by hand.
#include <gtest/gtest.h>

#include "import_test_util.h"
#include "test_dir.h"

using namespace import_test;

namespace {

// A thin-lens FODO ring of three cells with a beta beat (the quadrupoles
// differ from cell to cell), sextupoles between and on the quadrupoles;
// its Twiss functions, phases and tunes propagated here.
struct RingElement {
  std::string name, keyword;
  double length, k1, k2;
};

struct Propagated {
  std::vector<std::vector<std::string>> rows;
  std::vector<size_t> kick_rows;  // rows with a K2L, in order
  double q1, q2;
};

std::vector<RingElement> fodo_elements() {
  std::vector<RingElement> ring;
  for (int c = 0; c < 3; c++) {
    std::string n = std::to_string(c);
    double kf = 0.2 * (1 + 0.07 * c), kd = -0.2 * (1 - 0.05 * c);
    ring.push_back({"QF" + n, "MULTIPOLE", 0, kf, c == 1 ? 0.4 : 0});  // a combined quadrupole and sextupole
    ring.push_back({"D" + n + "A", "DRIFT", 1.5, 0, 0});
    ring.push_back({"SF" + n, "MULTIPOLE", 0, 0, 0.3 + 0.1 * c});
    ring.push_back({"D" + n + "B", "DRIFT", 2.5, 0, 0});
    ring.push_back({"QD" + n, "MULTIPOLE", 0, kd, 0});
    ring.push_back({"D" + n + "C", "DRIFT", 3, 0, 0});
    ring.push_back({"SD" + n, "MULTIPOLE", 0, 0, -0.5 - 0.1 * c});
    ring.push_back({"D" + n + "D", "DRIFT", 1, 0, 0});
  }
  return ring;
}

// Plane matrix of an element: a drift, or a thin quadrupole of strength k
// (xp -= k x, yp += k y).
void element_matrix(const RingElement& e, int plane, double m[4]) {
  double k = plane == 0 ? e.k1 : -e.k1;
  m[0] = 1, m[1] = e.length, m[2] = -k, m[3] = 1;
}

void periodic_start(const std::vector<RingElement>& ring, int plane, double* beta, double* alpha) {
  double a[4] = {1, 0, 0, 1};
  for (const RingElement& e : ring) {
    double m[4], b[4];
    element_matrix(e, plane, m);
    b[0] = m[0] * a[0] + m[1] * a[2], b[1] = m[0] * a[1] + m[1] * a[3];
    b[2] = m[2] * a[0] + m[3] * a[2], b[3] = m[2] * a[1] + m[3] * a[3];
    for (int k = 0; k < 4; k++) a[k] = b[k];
  }
  double c = (a[0] + a[3]) / 2, s = (a[1] > 0 ? 1 : -1) * std::sqrt(1 - c * c);
  ASSERT_LT(std::fabs(c), 1) << "the test ring is unstable";
  *beta = a[1] / s;
  *alpha = (a[0] - a[3]) / (2 * s);
}

// One plane's beta, alpha and phase (units of 2 pi) carried across m.
void carry(const double m[4], double* beta, double* alpha, double* mu) {
  double u = m[0] * *beta - m[1] * *alpha, v = m[2] * *beta - m[3] * *alpha;
  double b = (u * u + m[1] * m[1]) / *beta;
  *alpha = -(u * v + m[1] * m[3]) / *beta;
  *mu += std::atan2(m[1], u) / kTwoPi;
  *beta = b;
}

std::vector<std::string> row_of(const std::string& name, const std::string& keyword, double s, const double t[6],
                                const RingElement* e) {
  return {"\"" + name + "\"", "\"" + keyword + "\"", num(s), num(e ? e->length : 0), num(t[0]), num(t[1]), num(t[2]),
          num(t[3]), num(t[4]), num(t[5]), num(e ? e->k1 : 0), num(e ? e->k2 : 0)};
}

Propagated propagate_fodo() {
  std::vector<RingElement> ring = fodo_elements();
  double t[6] = {0, 0, 0, 0, 0, 0};  // betx alfx mux bety alfy muy
  periodic_start(ring, 0, &t[0], &t[1]);
  periodic_start(ring, 1, &t[3], &t[4]);
  Propagated p;
  double s = 0;
  p.rows.push_back(row_of("START", "MARKER", s, t, nullptr));
  for (const RingElement& e : ring) {
    double mx[4], my[4];
    element_matrix(e, 0, mx);
    element_matrix(e, 1, my);
    carry(mx, &t[0], &t[1], &t[2]);
    carry(my, &t[3], &t[4], &t[5]);
    s += e.length;
    if (e.k2 != 0) p.kick_rows.push_back(p.rows.size());
    p.rows.push_back(row_of(e.name, e.keyword, s, t, &e));
  }
  p.rows.push_back(row_of("END", "MARKER", s, t, nullptr));
  p.q1 = t[2], p.q2 = t[5];
  return p;
}

const std::vector<std::string> kRingColumns = {"NAME", "KEYWORD", "S", "L", "BETX", "ALFX", "MUX", "BETY", "ALFY", "MUY", "K1L", "K2L"};

// A ring of one kick between a start and an end with the same optics; the
// kick row's fields by column name, others 0.
struct KickRow {
  double x = 0, y = 0, k1 = 0, k2 = 0, k3 = 0, k4 = 0, k1s = 0, k2s = 0, k3s = 0, r12 = 0, tilt = 0, dx = 0;
};
const std::vector<std::string> kKickColumns = {"NAME", "KEYWORD", "S", "BETX", "ALFX", "MUX", "BETY", "ALFY", "MUY", "X", "Y",
                                               "K1L", "K2L", "K3L", "K4L", "K1SL", "K2SL", "K3SL", "R12", "TILT", "DX"};

std::string one_kick_table(const KickRow& k, double ex = 1e-8, double ey = 5e-9, double end_mux = 0.31) {
  std::vector<std::string> zeros(12, "0");
  std::vector<std::string> start = {"\"START\"", "\"MARKER\"", "0", "10", "0.5", "0", "8", "-0.3", "0"};
  std::vector<std::string> kick = {"\"MK\"", "\"MULTIPOLE\"", "20", "7", "1", "0.1", "9", "-1", "0.15"};
  std::vector<std::string> end = {"\"END\"", "\"MARKER\"", "100", "10", "0.5", num(end_mux), "8", "-0.3", "0.28"};
  start.insert(start.end(), zeros.begin(), zeros.end());
  end.insert(end.end(), zeros.begin(), zeros.end());
  for (double v : {k.x, k.y, k.k1, k.k2, k.k3, k.k4, k.k1s, k.k2s, k.k3s, k.r12, k.tilt, k.dx}) kick.push_back(num(v));
  return tfs_text(ring_headers(0.31, 0.28, ex, ey), kKickColumns, {start, kick, end});
}

std::vector<JobLine> kick_lines(const std::string& job) {
  std::vector<JobLine> kicks;
  for (const JobLine& line : map_lines(job))
    if (line.key == "K" || line.key == "KS") kicks.push_back(line);
  return kicks;
}

void expect_values(const JobLine& line, const char* key, const std::vector<double>& expected) {
  EXPECT_EQ(line.key, key);
  ASSERT_EQ(line.values.size(), expected.size()) << key;
  for (size_t k = 0; k < expected.size(); k++)
    EXPECT_NEAR(line.values[k], expected[k], 1e-13 * std::fabs(expected[k])) << key << " order " << k + 1;
}

}  // namespace

// Imports the ring's rows from first on (without its drifts when asked, as a
// table made with "select, class=multipole" has them) and checks the
// one-turn linear map at the first row and the place of every kick.
void check_ring(const Propagated& ring, size_t first, bool drifts, const char* summary) {
  std::vector<std::vector<std::string>> rows;
  for (size_t k = first; k < ring.rows.size(); k++)
    if (drifts || ring.rows[k][1] != "\"DRIFT\"") rows.push_back(ring.rows[k]);
  ImportResult result = run_import(tfs_text(ring_headers(ring.q1, ring.q2), kRingColumns, rows), options_for());
  ASSERT_EQ(result.error, "");
  EXPECT_NE(result.summary.find(summary), std::string::npos) << result.summary;
  std::vector<JobLine> map = map_lines(result.job);
  Matrix4 turn = linear_map(map, map.size());
  auto field = [&](size_t row, int column) { return std::atof(rows[row][size_t(column)].c_str()); };
  double start[4] = {field(0, 4), field(0, 5), field(0, 7), field(0, 8)};
  for (int plane = 0; plane < 2; plane++) {
    PlaneOptics o = periodic_optics(turn, plane);
    double q = plane ? ring.q2 : ring.q1;
    EXPECT_NEAR(o.q, q - std::floor(q), 1e-9) << plane;
    EXPECT_NEAR(o.beta, start[2 * plane], 1e-9 * start[2 * plane]) << plane;
    EXPECT_NEAR(o.alpha, start[2 * plane + 1], 1e-9) << plane;
  }
  // Each kick sits where the transport before it carries the first row's
  // optics to the kick's own beta functions.
  size_t row = 0, kicks = 0;
  for (size_t k = 0; k < map.size(); k++) {
    if (map[k].key != "K") continue;
    while (field(row, 11) == 0) row++;
    Matrix4 to = linear_map(map, k);
    EXPECT_NEAR(carried_beta(to, 0, start[0], start[1]), field(row, 4), 1e-9 * field(row, 4)) << row;
    EXPECT_NEAR(carried_beta(to, 1, start[2], start[3]), field(row, 7), 1e-9 * field(row, 7)) << row;
    ASSERT_EQ(map[k].values.size(), 2u);
    EXPECT_EQ(map[k].values[0], 0) << "the quadrupole of a combined element is in the transport";
    EXPECT_EQ(map[k].values[1], field(row, 11));
    row++, kicks++;
  }
  EXPECT_EQ(kicks, ring.kick_rows.size() - (first > 3 ? 1 : 0));
}

TEST(ImportRing, OneTurnLinearMapHasTheTunesAndTwissOfTheTable) {
  Propagated ring = propagate_fodo();
  check_ring(ring, 0, true, "elements: 26 rows read, 7 kept as kicks, 19 folded into the linear transport");
  // A table of the multipoles alone, from the first sextupole on: its
  // coordinates are those at that sextupole.
  check_ring(ring, 3, false, "elements: 12 rows read, 7 kept as kicks, 5 folded into the linear transport");
}

TEST(ImportRing, OneSextupoleIsTheHandWrittenJob) {
  const double q1 = 6.2871, q2 = 5.3123, k2 = -0.734;
  std::string table = tfs_text(ring_headers(q1, q2), kRingColumns,
                               {{"\"START\"", "\"MARKER\"", "0", "0", "12.5", "0.75", "0", "7.25", "-1.5", "0", "0", "0"},
                                {"\"QF\"", "\"MULTIPOLE\"", "10", "0", "30", "-2", "3.1", "4", "0.5", "2.6", "0.31", "0"},
                                {"\"SX\"", "\"MULTIPOLE\"", "100", "0", "12.5", "0.75", num(q1), "7.25", "-1.5", num(q2), "0.05", num(k2)}});
  ImportResult result = run_import(table, options_for());
  ASSERT_EQ(result.error, "");
  std::vector<JobLine> map = map_lines(result.job);
  std::vector<JobLine> hand = job_lines("R 6.2871 5.3123 12.5 0.75 7.25 -1.5\nK 0 -0.734\n");
  ASSERT_EQ(map.size(), hand.size()) << result.job;
  for (size_t k = 0; k < map.size(); k++) expect_values(map[k], hand[k].key.c_str(), hand[k].values);
}

TEST(ImportRing, NoKickIsOneRotationWithTheTunes) {
  std::string table = tfs_text(ring_headers(0.31, 0.28), kRingColumns,
                               {{"\"START\"", "\"MARKER\"", "0", "0", "10", "0.5", "0", "8", "-0.3", "0", "0", "0"},
                                {"\"Q\"", "\"MULTIPOLE\"", "50", "0", "30", "2", "0.2", "4", "1", "0.1", "0.1", "0"}});
  ImportResult result = run_import(table, options_for());
  ASSERT_EQ(result.error, "");
  std::vector<JobLine> map = map_lines(result.job);
  ASSERT_EQ(map.size(), 1u);
  expect_values(map[0], "R", {0.31, 0.28, 10, 0.5, 8, -0.3});
  EXPECT_NE(result.summary.find("warning: no element has strengths of order 2 or more"), std::string::npos);
}

TEST(ImportKick, FeedDownFromTheClosedOrbit) {
  const double x0 = 1.5e-3, y0 = -0.7e-3;
  // A sextupole off the orbit: no order-1 term (it is in the optics).
  KickRow sextupole;
  sextupole.x = x0, sextupole.y = y0, sextupole.k1 = 0.2, sextupole.k2 = 0.8;
  std::vector<JobLine> kicks = kick_lines(run_import(one_kick_table(sextupole), options_for()).job);
  ASSERT_EQ(kicks.size(), 1u);
  expect_values(kicks[0], "K", {0, 0.8});
  // An octupole at (x0, y0): order 2 gets k3 (x0 + i y0).
  KickRow octupole;
  octupole.x = x0, octupole.y = y0, octupole.k3 = 12;
  kicks = kick_lines(run_import(one_kick_table(octupole), options_for()).job);
  ASSERT_EQ(kicks.size(), 2u);
  expect_values(kicks[0], "K", {0, 12 * x0, 12});
  expect_values(kicks[1], "KS", {0, 12 * y0});
  // A decapole: (x0 + i y0)^2 / 2 to order 2, x0 + i y0 to order 3.
  KickRow decapole;
  decapole.x = x0, decapole.y = y0, decapole.k4 = 300;
  kicks = kick_lines(run_import(one_kick_table(decapole), options_for()).job);
  ASSERT_EQ(kicks.size(), 2u);
  expect_values(kicks[0], "K", {0, 300 * (x0 * x0 - y0 * y0) / 2, 300 * x0, 300});
  expect_values(kicks[1], "KS", {0, 300 * x0 * y0, 300 * y0});
  // A skew octupole on a horizontal orbit: a skew sextupole term, no K line.
  KickRow skew;
  skew.x = x0, skew.k3s = -4;
  kicks = kick_lines(run_import(one_kick_table(skew), options_for()).job);
  ASSERT_EQ(kicks.size(), 1u);
  expect_values(kicks[0], "KS", {0, -4 * x0, -4});
}

TEST(ImportKick, TiltedSextupoleBecomesSkew) {
  KickRow tilted;
  tilted.k2 = 0.6, tilted.tilt = std::acos(-1.0) / 6;
  ImportResult result = run_import(one_kick_table(tilted), options_for());
  std::vector<JobLine> kicks = kick_lines(result.job);
  ASSERT_EQ(kicks.size(), 1u);
  expect_values(kicks[0], "KS", {0, -0.6});
  EXPECT_NE(result.summary.find("rolled by their TILT"), std::string::npos);
}

TEST(ImportRefusal, CoupledOpticsUnlessKeptAsKicks) {
  KickRow skew_quadrupole;
  skew_quadrupole.k1s = 2e-3;
  ImportResult result = run_import(one_kick_table(skew_quadrupole), options_for());
  EXPECT_NE(result.error.find("ring.tfs line 12: the optics are coupled (K1SL 0.002 at \"MK\""), std::string::npos) << result.error;
  EXPECT_NE(result.error.find("--coupled-as-kicks"), std::string::npos);
  KickRow coupled;
  coupled.r12 = 0.01;
  EXPECT_NE(run_import(one_kick_table(coupled), options_for()).error.find("R12 0.01"), std::string::npos);
  KickRow rolled_quadrupole;
  rolled_quadrupole.k1 = 0.1, rolled_quadrupole.tilt = std::acos(-1.0) / 4;
  EXPECT_NE(run_import(one_kick_table(rolled_quadrupole), options_for()).error.find("K1SL -0.1"), std::string::npos);
  // Noise of an uncoupled ring's table passes, and is no kick.
  KickRow noise;
  noise.k1s = 3e-8, noise.r12 = -2e-8;
  ImportResult quiet = run_import(one_kick_table(noise), options_for());
  EXPECT_EQ(quiet.error, "");
  EXPECT_TRUE(kick_lines(quiet.job).empty());
  // Kept as kicks: KS order 1 beside the element's other orders.
  ImportOptions o = options_for();
  o.coupled_as_kicks = true;
  skew_quadrupole.k2 = 0.5;
  ImportResult kept = run_import(one_kick_table(skew_quadrupole), o);
  ASSERT_EQ(kept.error, "");
  std::vector<JobLine> kicks = kick_lines(kept.job);
  ASSERT_EQ(kicks.size(), 2u);
  expect_values(kicks[0], "K", {0, 0.5});
  expect_values(kicks[1], "KS", {2e-3});
  EXPECT_NE(kept.job.find("--coupled-as-kicks"), std::string::npos);
  EXPECT_NE(kept.summary.find("1 skew quadrupoles kept as kicks"), std::string::npos);
  EXPECT_NE(kept.summary.find("warning: the optics are coupled"), std::string::npos);
}

TEST(ImportRefusal, PhaseThatFallsOrPassesTheTune) {
  KickRow sextupole;
  sextupole.k2 = 1;
  EXPECT_NE(run_import(one_kick_table(sextupole, 1e-8, 5e-9, 0.05), options_for()).error.find("ring.tfs line 13: the phase advance (MUX, MUY) decreases"),
            std::string::npos);
  EXPECT_NE(run_import(one_kick_table(sextupole, 1e-8, 5e-9, 0.32), options_for()).error.find("ring.tfs line 13: the phase advance from the first row passes the tunes"),
            std::string::npos);
}

TEST(ImportRing, WholeRingThatDoesNotCloseIsWarnedOf) {
  std::vector<std::vector<std::string>> rows = {
      {"\"START\"", "\"MARKER\"", "0", "0", "10", "0.5", "0", "8", "-0.3", "0", "0", "0"},
      {"\"SX\"", "\"MULTIPOLE\"", "50", "0", "30", "2", "0.2", "4", "1", "0.1", "0", "0.5"},
      {"\"END\"", "\"MARKER\"", "100", "0", "10", "0.5", "0.31", "8", "-0.3", "0.28", "0", "0"}};
  const char* warning = "warning: the table's rows span the whole ring, but the Twiss functions of its last row (line 13)";
  EXPECT_EQ(run_import(tfs_text(ring_headers(0.31, 0.28), kRingColumns, rows), options_for()).summary.find(warning),
            std::string::npos);
  rows[2][4] = "10.1";
  EXPECT_NE(run_import(tfs_text(ring_headers(0.31, 0.28), kRingColumns, rows), options_for()).summary.find(warning),
            std::string::npos);
}

// A name with a carriage return in its quotes must not end the comment it
// is written into: the job reader ends a line there too.
TEST(ImportJob, ControlBytesInTheTablesStringsStayInTheirComments) {
  std::vector<std::vector<std::string>> rows = {
      {"\"START\rK 0 0 7\"", "\"MARKER\"", "0", "0", "10", "0.5", "0", "8", "-0.3", "0", "0", "0"},
      {"\"SX\rK 0 0 9\"", "\"MULTI\rPOLE\"", "50", "0", "30", "2", "0.2", "4", "1", "0.1", "0", "0.5"}};
  std::string headers = ring_headers(0.31, 0.28) + "@ TITLE %s \"x\"\n";
  headers.replace(headers.find("RING"), 4, "RI\rNG");
  ImportResult result = run_import(tfs_text(headers, kRingColumns, rows), options_for("ring\r.tfs"));
  ASSERT_EQ(result.error, "");
  EXPECT_EQ(result.job.find_first_of(std::string("\r\0", 2)), std::string::npos);
  EXPECT_NE(result.job.find("\"SX?K 0 0 9\" MULTI?POLE"), std::string::npos) << result.job;
  EXPECT_EQ(kick_lines(result.job).size(), 1u);
}

TEST(ImportBox, SigmasFromTheEmittancesOrGivenByHand) {
  KickRow sextupole;
  sextupole.k2 = 1, sextupole.dx = 1.2;
  ImportOptions o = options_for();
  o.sigmas = 6;
  ImportResult result = run_import(one_kick_table(sextupole, 2e-8, 3e-9), o);
  ASSERT_EQ(result.error, "");
  // Start: betx 10, alfx 0.5, bety 8, alfy -0.3.
  double expected[4] = {6 * std::sqrt(10 * 2e-8), 6 * std::sqrt(1.25 / 10 * 2e-8), 6 * std::sqrt(8 * 3e-9),
                        6 * std::sqrt(1.09 / 8 * 3e-9)};
  const char* const keys[4] = {"XRANGE", "XPRANGE", "YRANGE", "YPRANGE"};
  for (const JobLine& line : job_lines(result.job)) {
    for (int k = 0; k < 4; k++)
      if (line.key == keys[k]) expect_values(line, keys[k], {-expected[k], expected[k]});
    if (line.key == "EMITTANCE") expect_values(line, "EMITTANCE", {2e-8, 3e-9});
  }
  EXPECT_NE(result.summary.find("warning: the dispersion at the kicks (|DX| up to 1.2 m"), std::string::npos);
  // MAD-X's default emittances: no box without --box, and no emittance line.
  EXPECT_NE(run_import(one_kick_table(sextupole, 1, 1), o).error.find("ring.tfs: no box: EX, EY are MAD-X's default of 1"),
            std::string::npos);
  o.has_box = true;
  double box[4] = {1e-3, 2e-4, 3e-3, 4e-4};
  for (int k = 0; k < 4; k++) o.box[k] = box[k];
  result = run_import(one_kick_table(sextupole, 1, 1), o);
  ASSERT_EQ(result.error, "");
  bool emittance = false;
  for (const JobLine& line : job_lines(result.job)) {
    for (int k = 0; k < 4; k++)
      if (line.key == keys[k]) expect_values(line, keys[k], {-box[k], box[k]});
    emittance = emittance || line.key == "EMITTANCE";
  }
  EXPECT_FALSE(emittance);
  EXPECT_NE(result.summary.find("warning: no emittance line"), std::string::npos);
}

// The benchmark lattice's job is what the import makes of its table, and its
// linear map is the table's ring.
TEST(ImportBench, LatticeJobIsTheImportOfItsTable) {
  std::string table = read_file(std::string(VELDSPAN_SOURCE_DIR) + "/bench/jobs/lattice/lattice.tfs");
  ImportOptions o = options_for("bench/jobs/lattice/lattice.tfs");
  o.sigmas = 18, o.baseres = 8, o.iterations = {100, 1000}, o.maxsamples = 16;
  ImportResult result = run_import(table, o);
  ASSERT_EQ(result.error, "");
  EXPECT_EQ(result.job, read_file(std::string(VELDSPAN_SOURCE_DIR) + "/bench/jobs/lattice/input.txt"));
  std::vector<JobLine> map = map_lines(result.job);
  Matrix4 turn = linear_map(map, map.size());
  EXPECT_NEAR(periodic_optics(turn, 0).q, 0.28, 1e-9);
  EXPECT_NEAR(periodic_optics(turn, 1).q, 0.17, 1e-9);
  EXPECT_NE(result.summary.find("504 kept as kicks"), std::string::npos);
}
