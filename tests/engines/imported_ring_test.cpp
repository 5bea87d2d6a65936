// A ring imported from a MAD-X Twiss table, tracked: a ring of one thin
// sextupole gives every particle the level the hand-written rotation and
// kick give it.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "engines/cpu_tracker.h"
#include "import/import_test_util.h"
#include "reference/coverage.h"
#include "reference/reference_tracker.h"

using namespace import_test;

namespace {

std::vector<int32_t> pixel_levels(const std::string& text) {
  TrackedJob* t = tracked_job(text);
  double jitter[4];
  reference_sample_jitter(5, jitter);
  std::vector<int32_t> pixels(size_t(t->lowered.side) * t->lowered.side, -1);
  cpu_track_sample(&t->map, jitter, pixels.data());
  delete t;
  return pixels;
}

}  // namespace

TEST(ImportedRing, OneSextupoleTracksAsTheHandWrittenJob) {
  const double q1 = 6.2871, q2 = 5.3123, k2 = -30;
  const std::vector<std::string> columns = {"NAME", "KEYWORD", "S", "L", "BETX", "ALFX", "MUX", "BETY", "ALFY",
                                            "MUY", "K1L", "K2L"};
  std::string table = tfs_text(ring_headers(q1, q2, 5e-9, 5e-9), columns,
                               {{"\"START\"", "\"MARKER\"", "0", "0", "12.5", "0.75", "0", "7.25", "-1.5", "0", "0", "0"},
                                {"\"QF\"", "\"MULTIPOLE\"", "10", "0", "30", "-2", "3.1", "4", "0.5", "2.6", "0.31", "0"},
                                {"\"SX\"", "\"MULTIPOLE\"", "100", "0", "12.5", "0.75", num(q1), "7.25", "-1.5", num(q2),
                                 "0.05", num(k2)}});
  ImportOptions o = options_for();
  o.baseres = 6;
  o.iterations = {10, 100, 1000};
  o.sigmas = 15;
  ImportResult result = run_import(table, o);
  ASSERT_EQ(result.error, "");
  std::string hand = std::regex_replace(result.job, std::regex("(^|\n)(R|K) [^\n]*"), "");
  hand += "R 6.2871 5.3123 12.5 0.75 7.25 -1.5\nK 0 -30\n";
  std::vector<int32_t> imported = pixel_levels(result.job), written = pixel_levels(hand);
  EXPECT_EQ(imported, written) << result.job << "\n---\n" << hand;
  EXPECT_NE(std::count(written.begin(), written.end(), 0), 0) << "some particles survive";
  EXPECT_NE(std::count(written.begin(), written.end(), 0), int(written.size())) << "and some are lost";
}
