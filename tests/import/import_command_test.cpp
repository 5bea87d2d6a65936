// veldspan import as a command: its command line, its files and its exit
// statuses.
#include "import/import_command.h"

#include <gtest/gtest.h>

#include "import_test_util.h"
#include "test_dir.h"

using namespace import_test;

namespace {

bool parse(std::vector<const char*> args, ImportOptions* o, std::string* error) {
  args.insert(args.begin(), "import");
  *o = default_import_options();
  return parse_import_options(int(args.size()), args.data(), o, error);
}

std::string parse_error(std::vector<const char*> args) {
  ImportOptions o;
  std::string error;
  EXPECT_FALSE(parse(args, &o, &error));
  return error;
}

int run(std::vector<const char*> args, std::string* out = nullptr, std::string* err = nullptr) {
  args.insert(args.begin(), "import");
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  int status = import_command(int(args.size()), args.data());
  std::string o = testing::internal::GetCapturedStdout(), e = testing::internal::GetCapturedStderr();
  if (out) *out = o;
  if (err) *err = e;
  return status;
}

std::string sextupole_table(double ex, double ey) {
  return tfs_text(ring_headers(0.31, 0.28, ex, ey), {"NAME", "KEYWORD", "BETX", "ALFX", "MUX", "BETY", "ALFY", "MUY", "K2L"},
                  {{"\"START\"", "\"MARKER\"", "10", "0", "0", "8", "0", "0", "0"},
                   {"\"SX\"", "\"MULTIPOLE\"", "7", "1", "0.1", "9", "-1", "0.15", "0.5"}});
}

}  // namespace

TEST(ImportOptions, EveryOptionAndBothOperands) {
  ImportOptions o;
  std::string error;
  ASSERT_TRUE(parse({"--iterations", "100", "100", "1000", "t.tfs", "--sigmas", "6.5", "--baseres", "8", "--box", "1e-3",
                     "2e-4", "3e-3", "4e-4", "--maxsamples", "16", "--coupled-as-kicks", "--force", "jobs/a"},
                    &o, &error))
      << error;
  EXPECT_EQ(o.iterations, (std::vector<int32_t>{100, 100, 1000}));
  EXPECT_EQ(o.table_path, "t.tfs");
  EXPECT_EQ(o.job_dir, "jobs/a");
  EXPECT_EQ(o.sigmas, 6.5);
  EXPECT_EQ(o.baseres, 8);
  EXPECT_EQ(o.maxsamples, 16);
  EXPECT_TRUE(o.has_box && o.coupled_as_kicks && o.force);
  EXPECT_EQ(o.box[3], 4e-4);
  ASSERT_TRUE(parse({"t.tfs", "job"}, &o, &error));
  EXPECT_EQ(o.iterations, (std::vector<int32_t>{1000, 10000, 100000}));
  EXPECT_EQ(o.sigmas, 10);
  EXPECT_EQ(o.baseres, 32);
  EXPECT_EQ(o.maxsamples, 256);
  EXPECT_FALSE(o.has_box || o.coupled_as_kicks || o.force);
}

TEST(ImportOptions, BadCommandLines) {
  EXPECT_EQ(parse_error({"t.tfs"}), "no job directory");
  EXPECT_EQ(parse_error({}), "no table and no job directory");
  EXPECT_EQ(parse_error({"t.tfs", "a", "b"}), "one table and one job directory, not b");
  EXPECT_EQ(parse_error({"--iterations", "t.tfs", "job"}), "--iterations needs one or more whole numbers");
  EXPECT_EQ(parse_error({"--iterations", "100", "10", "t.tfs", "job"}), "the turn counts of --iterations must ascend");
  EXPECT_EQ(parse_error({"--iterations", "0", "t.tfs", "job"}), "bad turn count 0");
  EXPECT_EQ(parse_error({"--iterations", "2147483648", "t.tfs", "job"}), "bad turn count 2147483648");
  EXPECT_EQ(parse_error({"--baseres", "33", "t.tfs", "job"}), "bad value for --baseres: 33");
  EXPECT_EQ(parse_error({"--sigmas", "-1", "t.tfs", "job"}), "bad value for --sigmas: -1");
  EXPECT_EQ(parse_error({"t.tfs", "job", "--box", "1", "2", "3"}), "--box needs 4 values");
  EXPECT_EQ(parse_error({"--box", "1", "2", "0", "4", "t.tfs", "job"}), "bad value for --box: 1");
  EXPECT_EQ(parse_error({"--sigma", "3", "t.tfs", "job"}), "unknown option --sigma");
  std::string err;
  EXPECT_EQ(run({"t.tfs"}, nullptr, &err), 2);
  EXPECT_NE(err.find("usage: veldspan import"), std::string::npos);
}

TEST(ImportCommand, WritesTheJobAndKeepsAnExistingOne) {
  TestDir dir;
  write_file("ring.tfs", sextupole_table(1e-8, 5e-9));
  std::string out, err;
  ASSERT_EQ(run({"--iterations", "100", "1000", "ring.tfs", "runs/first"}, &out, &err), 0) << err;
  std::string job = read_file("runs/first/input.txt");
  EXPECT_NE(job.find("\niterations 100 1000"), std::string::npos);
  EXPECT_NE(job.find("\nK 0 0.5\n"), std::string::npos);
  EXPECT_NE(out.find("veldspan import: ring.tfs -> runs/first/input.txt\nring: sequence \"RING\", particle \"PROTON\", length 100 m\n"
                     "elements: 2 rows read, 1 kept as kicks, 1 folded into the linear transport\n"
                     "tunes: Q1 0.31, Q2 0.28"),
            std::string::npos)
      << out;
  write_file("runs/first/input.txt", "# mine\n");
  EXPECT_EQ(run({"ring.tfs", "runs/first"}, &out, &err), 1);
  EXPECT_EQ(err, "veldspan import: runs/first/input.txt exists and is kept; --force replaces it\n");
  EXPECT_EQ(read_file("runs/first/input.txt"), "# mine\n");
  EXPECT_EQ(run({"--force", "ring.tfs", "runs/first/"}, &out, &err), 0) << err;
  EXPECT_NE(read_file("runs/first/input.txt").find("\nK 0 0.5\n"), std::string::npos);
  EXPECT_FALSE(std::ifstream("runs/first/input.txt.tmp").good()) << "the temporary file is left";
}

TEST(ImportCommand, WriteKeepsAJobThatAppearedMeanwhile) {
  TestDir dir;
  write_file("input.txt", "# someone else's\n");
  std::string error;
  EXPECT_FALSE(write_job_file(".", "baseres 4\n", false, &error));
  EXPECT_EQ(error, "./input.txt exists and is kept; --force replaces it");
  EXPECT_EQ(read_file("input.txt"), "# someone else's\n");
  EXPECT_TRUE(write_job_file(".", "baseres 4\n", true, &error));
  EXPECT_EQ(read_file("input.txt"), "baseres 4\n");
  EXPECT_FALSE(std::ifstream("input.txt.tmp").good());
}

TEST(ImportCommand, UnusableTablesAndMissingEmittance) {
  TestDir dir;
  write_file("broken.tfs", "@ Q1 %le 0.31\n@ Q2 %le 0.28\n* NAME BETX\n$ %s %le\n\"A\" 1 2\n");
  std::string err;
  EXPECT_EQ(run({"broken.tfs", "job"}, nullptr, &err), 1);
  EXPECT_EQ(err, "veldspan import: broken.tfs line 5: 3 fields in a row of 2 columns\n");
  EXPECT_EQ(run({"missing.tfs", "job"}, nullptr, &err), 1);
  EXPECT_EQ(err, "veldspan import: missing.tfs cannot be read: No such file or directory\n");
  write_file("default.tfs", sextupole_table(1, 1));
  EXPECT_EQ(run({"default.tfs", "job"}, nullptr, &err), 1);
  EXPECT_NE(err.find("no box: EX, EY are MAD-X's default of 1"), std::string::npos) << err;
  EXPECT_EQ(read_file("job/input.txt"), "");
  std::string out;
  EXPECT_EQ(run({"default.tfs", "job", "--box", "1e-3", "1e-4", "1e-3", "1e-4"}, &out, &err), 0) << err;
  EXPECT_NE(read_file("job/input.txt").find("\nxrange -0.001 0.001\n"), std::string::npos);
  EXPECT_NE(out.find("warning: no emittance line"), std::string::npos);
}
