#include "results/scan_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const uint64_t kHash = 0x9f0c4e2d6a1b3c57ull;

const char* const kAperture =
    "Veldspan aperture of job \"1-1\" at 2026-Dec-09 10:30:29: sample 16 (8^4 grid), 4 random passes "
    "(randompasses 4, seed 20110101)\n"
    "Iters,passes,volume,stat_err,lo95,hi95,lattice_bias\n"
    "Domain,4,16,0,16,16,0\n"
    "10,4,0.109375,0.0393220544,-0.0157635058,0.234513506,-0.08984375\n"
    "100,4,0.015625,-,-,-,-0.01171875\n";

// An aperture.csv with the DA columns, whose column order is its own.
const char* const kApertureWithDa =
    "Veldspan aperture of job \"2-1\" at 2026-Dec-09 10:30:29: sample 16 (8^4 grid), 4 random passes\n"
    "Iters,passes,volume,stat_err,lo95,hi95,lattice_bias,da_sigma,da_lo95,da_hi95\n"
    "Domain,4,16,0,16,16,0,-,-,-\n"
    "10,4,0.2,0.04,0.05,0.35,0.01,5.9,5.31,6.549\n"
    "100,4,0.06,0.02,0.01,0.14,0.01,4.72,-,5.2392\n";

// What a record of one process of shards, samples first to last (each of
// its own, in order), holds; owed is a random pass owed for its last.
RecordHolding record(uint64_t hash, int first, int last, int shards = 1, int64_t owed = 0) {
  return RecordHolding{"samples.rec", true, hash, first - 1, shards, (last - first) / shards + 1, owed};
}

std::string incompleteness(const std::vector<RecordHolding>& records, int32_t max_samples,
                           const char* aperture = kAperture) {
  PointGoal goal{kHash, max_samples, 4};
  ApertureTable table = parse_aperture_table(aperture);
  return point_incompleteness(records, &goal, &table);
}

}  // namespace

TEST(ScanTable, ApertureFileReadByItsColumns) {
  ApertureTable a = parse_aperture_table(kAperture);
  EXPECT_TRUE(a.read);
  EXPECT_EQ(a.sample, 16);
  EXPECT_EQ(a.columns.size(), 7u);
  ASSERT_EQ(a.rows.size(), 3u);
  EXPECT_EQ(a.rows[2], (std::vector<std::string>{"100", "4", "0.015625", "-", "-", "-", "-0.01171875"}));
  EXPECT_FALSE(parse_aperture_table("").read);
  EXPECT_EQ(parse_aperture_table("no header\nIters\n").sample, -1);
}

// The turn-count rows as the points' files give them, the DA columns when
// any point has them ("-" for a point that has not), no Domain rows.
TEST(ScanTable, RowsOfEveryPointAsTheirFilesWriteThem) {
  std::vector<TablePoint> points{{"1-1", {"0.26", "0.28"}, parse_aperture_table(kAperture)},
                                 {"2-1", {"0.29", "0.28"}, parse_aperture_table(kApertureWithDa)}};
  EXPECT_EQ(scan_table_text("henon", "2026-Dec-09 10:00:00", "scan 2 1 0.26 0.32 3; scan 2 2 0.28 0.34 3", 2, points),
            "Veldspan scan of job \"henon\" at 2026-Dec-09 10:00:00: scan 2 1 0.26 0.32 3; scan 2 2 0.28 0.34 3\n"
            "point,value1,value2,Iters,passes,volume,stat_err,lo95,hi95,da_sigma,da_lo95,da_hi95\n"
            "1-1,0.26,0.28,10,4,0.109375,0.0393220544,-0.0157635058,0.234513506,-,-,-\n"
            "1-1,0.26,0.28,100,4,0.015625,-,-,-,-,-,-\n"
            "2-1,0.29,0.28,10,4,0.2,0.04,0.05,0.35,5.9,5.31,6.549\n"
            "2-1,0.29,0.28,100,4,0.06,0.02,0.01,0.14,4.72,-,5.2392\n");
  points.pop_back();
  points[0].values.pop_back();
  points[0].name = "3";
  EXPECT_EQ(scan_table_text("ring", "now", "scan 3 2 -0.5 0.5 5", 1, points),
            "Veldspan scan of job \"ring\" at now: scan 3 2 -0.5 0.5 5\n"
            "point,value1,Iters,passes,volume,stat_err,lo95,hi95\n"
            "3,0.26,10,4,0.109375,0.0393220544,-0.0157635058,0.234513506\n"
            "3,0.26,100,4,0.015625,-,-,-\n");
  EXPECT_EQ(scan_table_text("ring", "now", "scan 3 2 -0.5 0.5 5", 1, {}),
            "Veldspan scan of job \"ring\" at now: scan 3 2 -0.5 0.5 5\npoint,value1,Iters,passes,volume,stat_err,lo95,hi95\n");
}

TEST(ScanTable, LastCheckpointIsTheLargestFourthPowerUpToTheLimit) {
  EXPECT_EQ(last_checkpoint_sample(1), 1);
  EXPECT_EQ(last_checkpoint_sample(15), 1);
  EXPECT_EQ(last_checkpoint_sample(16), 16);
  EXPECT_EQ(last_checkpoint_sample(80), 16);
  EXPECT_EQ(last_checkpoint_sample(81), 81);
  EXPECT_EQ(last_checkpoint_sample(2147483647), 2136750625);  // 215^4
}

// Complete: every sample and random pass owed, of this job, and the files
// of the last result block; whatever is missing is said.
TEST(ScanTable, PointCompleteOnlyWithEverySampleAndItsLastFiles) {
  EXPECT_EQ(incompleteness({record(kHash, 1, 16)}, 16), "");
  EXPECT_EQ(incompleteness({record(kHash, 1, 20)}, 20), "") << "aperture.csv of sample 16, the last block's";
  EXPECT_EQ(incompleteness({record(kHash, 1, 30)}, 20), "") << "a longer run holds the shorter";
  EXPECT_EQ(incompleteness({record(kHash, 1, 16, 2), record(kHash, 2, 16, 2)}, 16), "") << "two shards";
  EXPECT_EQ(incompleteness({record(kHash, 1, 16, 2)}, 16), "its record holds 8 of its 16 samples");
  EXPECT_EQ(incompleteness({record(kHash, 1, 16, 1, 4)}, 16), "its record samples.rec lacks random pass 4");
  EXPECT_EQ(incompleteness({record(kHash + 1, 1, 16)}, 16), "samples.rec is the record of another job");
  EXPECT_EQ(incompleteness({}, 16), "no record of its samples");
  EXPECT_EQ(incompleteness({record(kHash, 1, 16)}, 16, ""), "it has no aperture.csv");
  EXPECT_EQ(incompleteness({record(kHash, 1, 81)}, 81),
            "its aperture.csv is of sample 16, not of its last result block (sample 81)");
}
