#include "map/job_file.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "map/colour_code.h"
#include "test_dir.h"
#include "util/text_util.h"

namespace {

JobSettings read_text(const std::string& bytes) {
  write_file("input.txt", bytes);
  return read_job_file("input.txt");
}

std::vector<int> iterations_of(const JobSettings& s) {
  std::vector<int> v;
  for (int k = 0; k < iteration_count(&s); k++) v.push_back(iteration_at(&s, k));
  return v;
}

// An element as "D 1" or "K 0.5 0 -2", from its parsed record.
std::string element_text(const JobSettings& s, int k) {
  const MapElement* e = element_at(&s, k);
  if (e->kind == kElementDrift) return format_text("D %g", e->length);
  std::string t = "K";
  for (int j = 0; j < e->orders; j++) t += format_text(" %g", e->strengths[j]);
  return t;
}

void expect_range(const Range& r, double low, double high) {
  EXPECT_EQ(r.low, low);
  EXPECT_EQ(r.high, high);
}

}  // namespace

TEST(JobFile, EmptyOrMissingFileGivesTheDefaultJob) {
  TestDir dir;
  for (bool exists : {false, true}) {
    JobSettings s = exists ? read_text("") : read_job_file("no-such-file.txt");
    expect_range(s.xrange, -1, 1);
    expect_range(s.yprange, -1, 1);
    expect_range(s.xcollimator, -1e20, 1e20);
    expect_range(s.ycollimator, -1e20, 1e20);
    EXPECT_EQ(s.baseres, 32);
    EXPECT_EQ(iterations_of(s), std::vector<int>{100});
    EXPECT_EQ(s.colourlevels, 3);
    EXPECT_EQ(s.elements.count, 0u);
    EXPECT_EQ(s.maxsamples, 0);
    EXPECT_EQ(s.randompasses, 4);
    EXPECT_EQ(s.seed, kDefaultSeed);
  }
}

TEST(JobFile, WorkedExampleJob) {
  TestDir dir;
  JobSettings s = read_text(
      "baseres 4\niterations 10 100    # turn counts, ascending\nxcollimator -0.5 0.5\n"
      "ycollimator -0.5 0.5\nD 1\nK 0.5 0 -2\n");
  expect_range(s.xrange, -1, 1);
  expect_range(s.xcollimator, -0.5, 0.5);
  expect_range(s.ycollimator, -0.5, 0.5);
  EXPECT_EQ(s.baseres, 4);
  EXPECT_EQ(iterations_of(s), (std::vector<int>{10, 100}));
  ASSERT_EQ(s.elements.count, 2u);
  EXPECT_EQ(element_text(s, 0), "D 1");
  EXPECT_EQ(element_text(s, 1), "K 0.5 0 -2");
}

TEST(JobFile, LineEndsOfEveryKindReadTheSameLines) {
  TestDir dir;
  for (const char* end : {"\n", "\r\n", "\r", "\n\r"}) {
    std::string e = end;
    JobSettings s = read_text("baseres 8" + e + "iterations 5" + e + "D 2" + e + "maxsamples 3");
    EXPECT_EQ(s.baseres, 8) << "line end " << e.size();
    EXPECT_EQ(iterations_of(s), std::vector<int>{5});
    EXPECT_EQ(s.elements.count, 1u);
    EXPECT_EQ(s.maxsamples, 3);  // last line without a line end
  }
  JobSettings nul = read_text(std::string("baseres 8\0iterations 7", 22));
  EXPECT_EQ(nul.baseres, 8);
  EXPECT_EQ(iterations_of(nul), std::vector<int>{7});
}

TEST(JobFile, TextLinesSplitAtEveryEnd) {
  std::string bytes("a\r\nb\rc\n\rd\0e", 11), line;
  std::vector<std::string> lines;
  for (size_t at = 0; next_text_line(bytes, &at, &line);) lines.push_back(line);
  EXPECT_EQ(lines, (std::vector<std::string>{"a", "b", "c", "", "d", "e"}));
  lines.clear();
  for (size_t at = 0; next_text_line("x\n\ny\r\n", &at, &line);) lines.push_back(line);
  EXPECT_EQ(lines, (std::vector<std::string>{"x", "", "y"}));
}

// The job is read once: its bytes, the hash of exactly those bytes, and
// the settings they describe.
TEST(JobFile, SourceIsReadOnceAndHashedAsRead) {
  TestDir dir;
  write_file("input.txt", "baseres 8\r\nD 1\n");
  JobSource source;
  ASSERT_TRUE(read_job_source("input.txt", &source));
  EXPECT_EQ(source.bytes, "baseres 8\r\nD 1\n");
  EXPECT_EQ(source.hash, job_hash(source.bytes));
  EXPECT_NE(source.hash, job_hash("baseres 8\nD 1\n"));
  EXPECT_EQ(job_hash(""), 14695981039346656037ull);  // FNV-1a of nothing: a missing file's
  EXPECT_EQ(parse_job(&source).baseres, 8);
  JobSource missing;
  EXPECT_TRUE(read_job_source("nothing.txt", &missing));
  EXPECT_EQ(missing.bytes, "");
  mkdir("dir.txt", 0755);
  JobSource directory;
  EXPECT_FALSE(read_job_source("dir.txt", &directory));
  EXPECT_NE(std::string(parse_job(&directory).problem).find("dir.txt cannot be read"), std::string::npos);
}

TEST(JobFile, CommentsKeyCaseAndUnknownKeys) {
  TestDir dir;
  JobSettings s = read_text(
      "xrange -2 2 # wide\nBASERES 16\nBaseRes 64#more\nbase res 2\nd 0.5\n"
      "# D 9\nfoo 1 2\nYPRANGE 0 3 extra words\nRandomPasses 8\nSEED 18446744073709551615\n");
  expect_range(s.xrange, -2, 2);
  EXPECT_EQ(s.baseres, 64);
  ASSERT_EQ(s.elements.count, 1u);
  EXPECT_EQ(element_text(s, 0), "D 0.5");
  expect_range(s.yprange, 0, 3);
  EXPECT_EQ(s.randompasses, 8);
  EXPECT_EQ(s.seed, 18446744073709551615ull);  // a seed takes all 64 bits
}

TEST(JobFile, IterationsAccumulateAndSingleKeysTakeTheLaterLine) {
  TestDir dir;
  JobSettings s = read_text("iterations 10 100 1000\nbaseres 4\niterations\nbaseres 8\niterations 2000 07\n");
  EXPECT_EQ(iterations_of(s), (std::vector<int>{10, 100, 1000, 2000, 7}));
  EXPECT_EQ(s.baseres, 8);
}

// A whole number is read whole, at the edges of its range too; a word that
// is not one, or a number beyond the range, is refused as written rather
// than wrapped or cut into another number.
TEST(JobFile, WholeNumbersAreReadWholeOrRefusedAsWritten) {
  TestDir dir;
  JobSettings s = read_text("iterations 1 2147483647\nmaxsamples 2147483647\nrandompasses -2147483648\nseed 0\n");
  EXPECT_EQ(job_refusal(&s), "");
  EXPECT_EQ(iterations_of(s), (std::vector<int>{1, 2147483647}));
  EXPECT_EQ(s.maxsamples, 2147483647);
  EXPECT_EQ(s.randompasses, INT32_MIN);
  EXPECT_EQ(s.seed, 0u);
  const std::string turns = " is out of range; turn counts are 1 to 2147483647";
  const std::string seed = " is out of range; it must be 0 to 18446744073709551615";
  struct Case {
    const char* job;
    std::string refusal;
  } cases[] = {
      {"iterations 10 4294967396", "input.txt line 1: iterations 4294967396" + turns},
      {"iterations 2147483648", "input.txt line 1: iterations 2147483648" + turns},
      {"baseres 4\niterations -5", "input.txt line 2: iterations -5" + turns},
      {"iterations 0 10", "input.txt line 1: iterations 0" + turns},
      {"iterations 2000 x", "input.txt line 1: iterations value x is not a whole number"},
      {"ITERATIONS 1e3", "input.txt line 1: ITERATIONS value 1e3 is not a whole number"},
      {"iterations +5", "input.txt line 1: iterations value +5 is not a whole number"},
      {"maxsamples 4294967312", "input.txt line 1: maxsamples 4294967312 is out of range; it must be 0 (no limit) to "
                                "2147483647"},
      {"maxsamples -1", "input.txt line 1: maxsamples -1 is out of range; it must be 0 (no limit) to 2147483647"},
      {"maxsamples 16x", "input.txt line 1: maxsamples value 16x is not a whole number"},
      {"randompasses 4294967297", "input.txt line 1: randompasses 4294967297 is out of range; it must be -2147483648 "
                                  "to 2147483647 (0 or less: none)"},
      {"seed -1", "input.txt line 1: seed -1" + seed},
      {"seed 99999999999999999999999", "input.txt line 1: seed 99999999999999999999999" + seed},
      {"seed 0x10", "input.txt line 1: seed value 0x10 is not a whole number"},
      {"xrange -1 1x", "input.txt line 1: xrange value 1x is not a number"},
      {"D 1,5", "input.txt line 1: D value 1,5 is not a number"},
      {"K 0.5 zero -2", "input.txt line 1: K value zero is not a number"},
  };
  for (const Case& c : cases) {
    JobSettings bad = read_text(c.job);
    EXPECT_EQ(job_refusal(&bad), c.refusal) << c.job;
  }
}

// Every engine tracks in single precision: a value beyond the largest float
// is refused by name and line, while a collimator limit at or beyond 1e20,
// which means none, may be anything finite. Double precision holds them.
TEST(JobFile, ValuesBeyondSinglePrecisionAreRefusedNamingKeyAndLine) {
  TestDir dir;
  const std::string beyond = " is beyond single precision (the largest float is 3.40282347e+38)";
  struct Case {
    const char* job;
    std::string refusal;
  } cases[] = {
      {"xcollimator -1e39 1e39\nycollimator -1e300 0.5\nxrange -1.7e38 1.7e38\nK 0 6e38\nD 3.4e38", ""},
      {"xprange -1e39 1e39\nD 0", "input.txt line 1: xprange value -1e39" + beyond},
      {"baseres 4\n\nyrange 0 1E39", "input.txt line 3: yrange value 1E39" + beyond},
      {"xrange -2e38 2e38", "input.txt line 1: xrange -2e38 2e38: its span 4e+038" + beyond},
      {"ycollimator 1e39 2e39", "input.txt line 1: ycollimator value 1e39" + beyond},
      {"xcollimator -2e39 -1e39", "input.txt line 1: xcollimator value -1e39" + beyond},
      {"D 1\nD -1e39", "input.txt line 2: D length -1e39" + beyond},
      {"K 1 7e38", "input.txt line 1: K strength 7e38 of order 2: its k2/2! 3.5e+038" + beyond},
      // The first such value of the file is the one named.
      {"D 1e39\nxrange -1e39 1", "input.txt line 1: D length 1e39" + beyond},
      // A rotation's matrix is tracked, not its Twiss functions as written.
      {"R 0.25 0.25 1 0 1e-39 0", "input.txt line 1: R: its matrix in y has the entry -1e+039" + beyond},
  };
  for (const Case& c : cases) {
    JobSettings s = read_text(c.job);
    EXPECT_EQ(job_refusal(&s), c.refusal) << c.job;
    EXPECT_EQ(precision_refusal(&s, kPrecisionDouble), "") << c.job;
  }
  // A matrix no precision holds.
  JobSettings s = read_text("R 0.25 0.25 1 1e200 1 0");
  EXPECT_EQ(job_refusal(&s), "input.txt line 1: R: its matrix in x has an entry that is not a finite number");
}

TEST(JobFile, MissingValuesReadAsZero) {
  TestDir dir;
  JobSettings s = read_text("xrange 5\nyrange\nbaseres\nmaxsamples\n");
  expect_range(s.xrange, 5, 0);
  expect_range(s.yrange, 0, 0);
  EXPECT_EQ(s.baseres, 0);
  EXPECT_EQ(s.maxsamples, 0);
}

TEST(JobFile, WordsSplitOnlyAtAsciiWhiteSpace) {
  WordList* w = split_words("\t K\v1e-3\f\xb0x\xff  ");
  ASSERT_EQ(w->count, 3);
  EXPECT_STREQ(w->words[0], "K");
  EXPECT_STREQ(w->words[1], "1e-3");
  EXPECT_STREQ(w->words[2], "\xb0x\xff");
  EXPECT_STREQ(word_at(w, 3), "");
  free_words(w);
}

TEST(JobFile, ColourLevelsGrowWithTheNumberOfTurnCounts) {
  EXPECT_EQ(colour_levels_for(1), 3);
  EXPECT_EQ(colour_levels_for(26), 3);
  EXPECT_EQ(colour_levels_for(27), 4);
  EXPECT_EQ(colour_levels_for(63), 4);
  EXPECT_EQ(colour_levels_for(64), 5);
  EXPECT_EQ(colour_levels_for(124), 5);
  TestDir dir;
  std::string line = "iterations";
  for (int k = 1; k <= 26; k++) line += " " + std::to_string(k);
  EXPECT_EQ(read_text(line).colourlevels, 3);
  EXPECT_EQ(read_text(line + " 27").colourlevels, 4);
}

TEST(JobFile, JobsThatCannotRunAreRefusedNamingTheCause) {
  TestDir dir;
  struct Case {
    const char* job;
    const char* refusal;
  } cases[] = {
      {"baseres 4\niterations 10 100\nxcollimator -0.5 0.5\nD 1\nK 0.5 0 -2\n", ""},
      {"iterations 10 10 100\nxrange -3 -2\nycollimator 1 -1\nxcollimator -1e300 1e300\nbaseres 1", ""},
      {"iterations 10 100 50", "iterations must be ascending: 50 follows 100"},
      {"iterations 100\niterations 10", "iterations must be ascending: 10 follows 100"},
      {"xrange 1 -1", "xrange 1 -1: its low value must be below its high value"},
      {"yprange 0.5 0.5", "yprange 0.5 0.5: its low value must be below its high value"},
      {"xrange 5", "xrange 5 0: its low value must be below its high value"},
      {"baseres 33", "baseres 33 is out of range; it must be 1 to 32"},
      {"baseres 99999999999", "input.txt line 1: baseres 99999999999 is out of range; it must be 1 to 32"},
      {"baseres -99999999999x", "input.txt line 1: baseres -99999999999 is out of range; it must be 1 to 32"},
      {"baseres 4\n\nXRANGE nan 1", "input.txt line 3: XRANGE value nan is not a finite number"},
      {"ycollimator -inf 1", "input.txt line 1: ycollimator value -inf is not a finite number"},
      {"D 1\r\nD 1e999", "input.txt line 2: D value 1e999 is not a finite number"},
      {"K 0.5 0 INF # strength", "input.txt line 1: K value INF is not a finite number"},
      {"xrange -1e308 1e308", "input.txt line 1: xrange -1e308 1e308 is too wide: its span is not a finite number"},
      // The first fault of the file is the one reported.
      {"D nan\nbaseres 0\niterations 2 1", "input.txt line 1: D value nan is not a finite number"},
  };
  for (const Case& c : cases) {
    JobSettings s = read_text(c.job);
    EXPECT_EQ(job_refusal(&s), c.refusal) << c.job;
  }
  // One turn count more than the colour code tells apart.
  JobSettings many = job_defaults();
  for (int32_t t = 0; t <= kMostTurnCounts; t++) growarray_append(&many.iterations, &t);
  EXPECT_EQ(job_refusal(&many),
            "iterations: 16777216 turn counts, more than the 16777215 a pixel's colour can tell apart");
  many.iterations.count -= 1;
  EXPECT_EQ(job_refusal(&many), "");
  std::free(many.iterations.data);
}

TEST(JobFile, OnlyAMissingFileMeansTheDefaultJob) {
  TestDir dir;
  JobSettings missing = read_job_file("input.txt");
  EXPECT_EQ(job_refusal(&missing), "");
  ASSERT_EQ(mkdir("input.txt", 0755), 0);
  JobSettings directory = read_job_file("input.txt");
  EXPECT_EQ(job_refusal(&directory), "input.txt cannot be read: Is a directory");
}

// The ring's lines: skew kicks, rotations with and without their Twiss
// functions, matrices of exactly sixteen numbers; emittances and precision.
TEST(JobFile, RingLinesEmittanceAndPrecision) {
  TestDir dir;
  JobSettings s = read_text("KS 0.5 0 1\nR 0.31 0.32\nr 0.1 0.2 3 -0.5 4 0.25\nM 1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1\n"
                            "emittance 1e-6 2e-6\nPRECISION double\n");
  ASSERT_EQ(s.problem[0], 0) << s.problem;
  ASSERT_EQ(element_count(&s), 4);
  EXPECT_EQ(element_at(&s, 0)->kind, kElementSkewKick);
  EXPECT_EQ(element_at(&s, 0)->orders, 3);
  const MapElement* r = element_at(&s, 1);
  EXPECT_EQ(r->kind, kElementRotation);
  EXPECT_EQ(std::vector<double>(r->strengths, r->strengths + 6), (std::vector<double>{0.31, 0.32, 1, 0, 1, 0}));
  const MapElement* twiss = element_at(&s, 2);
  EXPECT_EQ(std::vector<double>(twiss->strengths, twiss->strengths + 6), (std::vector<double>{0.1, 0.2, 3, -0.5, 4, 0.25}));
  EXPECT_EQ(element_at(&s, 3)->kind, kElementMatrix);
  EXPECT_EQ(element_at(&s, 3)->strengths[15], 1);
  EXPECT_TRUE(has_emittance(&s));
  EXPECT_EQ(s.emittance[1], 2e-6);
  EXPECT_EQ(s.precision, kPrecisionDouble);
  JobSettings plain = read_text("D 1\n");
  EXPECT_FALSE(has_emittance(&plain));
  EXPECT_EQ(plain.precision, kPrecisionSingle);
}

TEST(JobFile, RingLinesThatCannotBeElementsAreRefusedNamingTheLine) {
  TestDir dir;
  const struct {
    const char* text;
    const char* refusal;
  } cases[] = {
      {"D 1\nM 1 0 0 0 0 1 0 0 0 0 1 0 0 0 0\n", "input.txt line 2: M takes the sixteen numbers m11 .. m44 row by row, not 15"},
      {"R 0.3\n", "input.txt line 1: R takes qx qy or qx qy betx alfx bety alfy, not 1 numbers"},
      {"R 0.3 0.2 1 0 0 0\n", "input.txt line 1: R: the beta functions must be positive"},
      {"R 0.3 0.2 1 0\n", "input.txt line 1: R takes qx qy or qx qy betx alfx bety alfy, not 4 numbers"},
      {"KS 1 inf\n", "input.txt line 1: KS value inf is not a finite number"},
      {"emittance 1e-6 0\n", "input.txt line 1: emittance 1e-6 0: emittances must be positive"},
      {"precision half\n", "input.txt line 1: precision half: it must be single or double"},
  };
  for (const auto& c : cases) {
    JobSettings s = read_text(c.text);
    EXPECT_EQ(job_refusal(&s), c.refusal) << c.text;
  }
}
