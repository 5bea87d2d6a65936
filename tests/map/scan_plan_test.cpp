#include "map/scan_plan.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

JobSource source_of(const std::string& text) { return JobSource{"input.txt", text, job_hash(text), 0}; }

ScanPlan plan_of(const std::string& text) {
  JobSource source = source_of(text);
  return plan_scan(&source);
}

// The job text of point k (from 0).
std::string point_job(const std::string& text, int64_t k) {
  ScanPlan plan = plan_of(text);
  ScanPoint point = scan_point(&plan, k);
  return scan_point_job(text, &plan, &point, false);
}

const char* const kRing =
    "baseres 4   # small\n"
    "iterations 10 100\n"
    "D 1\n"
    "k 0.5 0 -2  # the kick\n"
    "Scan 2 1 0.26 0.32 13\n"
    "scan 2 3 -3 -1 3\n";

}  // namespace

TEST(ScanPlan, GridOfTwoLinesFirstAcrossWithExactEnds) {
  ScanPlan plan = plan_of(kRing);
  ASSERT_EQ(plan.refusal, "");
  ASSERT_EQ(plan.lines.size(), 2u);
  EXPECT_EQ(plan.lines[0].line, 5);
  EXPECT_EQ(scan_point_count(&plan), 39);
  EXPECT_EQ(scan_lines_text(&plan), "scan 2 1 0.26 0.32 13; scan 2 3 -3 -1 3");
  for (int32_t k = 0; k < 13; k++) EXPECT_EQ(scan_value(&plan.lines[0], k), 0.26 + (0.32 - 0.26) * k / 12);
  EXPECT_EQ(scan_value(&plan.lines[0], 12), 0.32) << "the last point is TO exactly";
  ScanPoint p = scan_point(&plan, 14);  // the second row's second point
  EXPECT_EQ(p.index, (std::vector<int32_t>{2, 2}));
  EXPECT_EQ(p.values, (std::vector<double>{scan_value(&plan.lines[0], 1), -2}));
  EXPECT_EQ(scan_point_name(&p), "2-2");
  ScanPoint last = scan_point(&plan, 38);
  EXPECT_EQ(scan_point_name(&last), "13-3");
}

TEST(ScanPlan, PointJobHasItsValuesWrittenInAndNoScanLines) {
  EXPECT_EQ(point_job(kRing, 0), "baseres 4   # small\niterations 10 100\nD 1\nk 0.26 0 -3  # the kick\n");
  EXPECT_EQ(point_job(kRing, 38), "baseres 4   # small\niterations 10 100\nD 1\nk 0.32 0 -1  # the kick\n");
  // Any line end reads the same; the point's job ends its lines with LF.
  std::string crlf = "D 2\r\nK 1 2\r\nscan 1 1 0 1 2\r";
  EXPECT_EQ(point_job(crlf, 1), "D 1\nK 1 2\n");
  // With its scan lines kept, the point's job numbers its lines as the
  // job file does, so that a refusal names the job file's line.
  ScanPlan plan = plan_of(kRing);
  ScanPoint p = scan_point(&plan, 1);
  EXPECT_EQ(scan_point_job(kRing, &plan, &p, true), "baseres 4   # small\niterations 10 100\nD 1\n"
            "k 0.265 0 -3  # the kick\nScan 2 1 0.26 0.32 13\nscan 2 3 -3 -1 3\n");
}

// D, K, KS, R and M lines are counted as map lines whatever case they are
// written in, and whether or not the job parser reads them yet; a key
// behind a '#' is no line.
TEST(ScanPlan, MapLinesAreCountedAtTheTextLevel) {
  std::string text = "iterations 10\n# D 5\nR 0.31 0.32 1 0 1 0\nks 0.1\nm 1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1\nd 1\n"
                     "scan 1 2 0.28 0.34 4\nscan 4 1 0.5 2 2\n";
  ScanPlan plan = plan_of(text);
  ASSERT_EQ(plan.refusal, "");
  EXPECT_EQ(point_job(text, 7), "iterations 10\n# D 5\nR 0.31 0.34 1 0 1 0\nks 0.1\n"
                                "m 1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1\nd 2\n");
  EXPECT_EQ(plan_of("D 1\nscan 1 1 0.5 0.5 1\n").refusal, "") << "FROM = TO with one step";
}

// Values are written with the fewest digits that read back as the same
// double, so that a point's job means exactly its value.
TEST(ScanPlan, ValuesReadBackExactly) {
  EXPECT_EQ(scan_value_text(0.26), "0.26");
  EXPECT_EQ(scan_value_text(0.1 + 0.2), "0.30000000000000004");
  EXPECT_EQ(scan_value_text(-2), "-2");
  EXPECT_EQ(scan_value_text(1e-5), "1e-005");
  for (double v : {1.0 / 3, 0.26 + 0.06 * 5 / 12, 6.02214076e23, -1e-300, 1.7976931348623157e308})
    EXPECT_EQ(std::strtod(scan_value_text(v).c_str(), nullptr), v) << scan_value_text(v);
}

// Whatever is wrong is refused before anything runs, naming the line.
TEST(ScanPlan, RefusalsNameTheLine) {
  struct Case {
    const char* text;
    const char* refusal;
  };
  const Case cases[] = {
      {"D 1\n", "input.txt has no scan line"},
      {"D 1\nK 1\nscan 1 1 0 1 2\nscan 2 1 0 1 2\nscan 1 1 0 2 2\n",
       "input.txt line 5: scan 1 1 0 2 2: a scan has one or two scan lines, not more"},
      {"K 1 2\nscan 1 3 0 1 2\n", "input.txt line 2: scan 1 3 0 1 2: map line 1 (K) has 2 values, no value 3"},
      {"D 1\nbaseres 4\nscan 2 1 0 1 2\n",
       "input.txt line 3: scan 2 1 0 1 2: map line 2 is not there: the job has 1 map lines"},
      {"D 1\nscan 1 1 0 abc 2\n", "input.txt line 2: scan 1 1 0 abc 2: TO abc is not a finite number"},
      {"D 1\nscan 1 1 0.3x 1 2\n", "FROM 0.3x is not a finite number"},
      {"D 1\nscan 1 1 1e999 1 2\n", "FROM 1e999 is not a finite number"},
      {"D 1\nscan 1 1 -1e308 1e308 3\n", "the span from FROM to TO is not a finite number"},
      {"D 1\nscan 1 1 0 1 0\n", "STEPS must be a whole number from 1 to 100000"},
      {"D 1\nscan 1 1 0 1 2.5\n", "STEPS must be a whole number"},
      {"D 1\nscan 1 1 0 1 1\n", "a scan of 1 step must have FROM equal to TO"},
      {"D 1\nscan 0 1 0 1 2\n", "E must be a map line's number, from 1"},
      {"D 1\nscan 1 -1 0 1 2\n", "V must be a value's number, from 1"},
      {"D 1\nscan 1 1 0 1\n", "input.txt line 2: scan 1 1 0 1: a scan line has 5 values (E V FROM TO STEPS), not 4"},
      {"D 1\nscan 1 1 0 1 2\nscan 1 1 5 6 2\n", "input.txt line 3: scan 1 1 5 6 2: line 2 varies the same value"},
      {"D 1\nK 1\nscan 1 1 0 1 1000\nscan 2 1 0 1 1000\n", "1000000 points, more than the 100000"},
      {"baseres 99\nD 1\nscan 1 1 0 1 2\n", "the job itself is refused: baseres 99 is out of range"},
      {"D nan\nscan 1 1 0 1 2\n", "the job itself is refused: input.txt line 1: D value nan is not a finite number"},
  };
  for (const Case& c : cases) {
    std::string refusal = plan_of(c.text).refusal;
    EXPECT_NE(refusal.find(c.refusal), std::string::npos) << c.text << "\ngave: " << refusal;
  }
  // The points are checked in the precision they will run in: the command
  // line's where it gives one.
  JobSource wide = source_of("D 1\nscan 1 1 1 1e39 2\n"), asks_double = source_of("precision double\nD 1\nscan 1 1 1 1e39 2\n");
  EXPECT_NE(plan_scan(&wide).refusal.find("is beyond single precision"), std::string::npos) << plan_scan(&wide).refusal;
  EXPECT_EQ(plan_scan(&wide, kPrecisionDouble).refusal, "");
  EXPECT_EQ(plan_scan(&asks_double).refusal, "");
  EXPECT_NE(plan_scan(&asks_double, kPrecisionSingle).refusal, "");
}
