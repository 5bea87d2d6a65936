#include "app/options.h"

#include <gtest/gtest.h>

#include "app/merge_command.h"
#include "app/run_record.h"
#include "engines/engine.h"

namespace {

bool parse(std::vector<const char*> args, RunOptions* o, std::string* error = nullptr) {
  args.insert(args.begin(), "veldspan");
  std::string ignored;
  *o = default_options();
  return parse_options(int(args.size()), args.data(), o, error ? error : &ignored);
}

}  // namespace

TEST(Options, EveryOptionAndTheJobDirectory) {
  RunOptions o;
  ASSERT_TRUE(parse({}, &o));
  EXPECT_EQ(o.job_dir, "");
  EXPECT_FALSE(o.headless);
  EXPECT_EQ(o.engine, kEngineAuto);
  EXPECT_EQ(o.max_samples, -1);
  ASSERT_TRUE(parse({"--headless", "jobs/ring", "--engine", "cpu", "--max-samples", "0", "--device", "3"}, &o));
  EXPECT_EQ(o.job_dir, "jobs/ring");
  EXPECT_TRUE(o.headless);
  EXPECT_EQ(o.engine, kEngineCpu);
  EXPECT_EQ(o.max_samples, 0);
  EXPECT_EQ(o.device, 3);
  std::string error;
  EXPECT_FALSE(parse({"--max-samples", "2147483648"}, &o, &error));
  EXPECT_EQ(error, "bad value for --max-samples: 2147483648");
  EXPECT_FALSE(parse({"--engine"}, &o, &error));
  EXPECT_EQ(error, "--engine needs a value");
  EXPECT_FALSE(parse({"--headless", ""}, &o, &error));
  EXPECT_EQ(error, "the job directory is empty (\"\"); name a directory, or none for the working directory");
}

TEST(Options, AutoChoosesByRendererAndVersion) {
  EXPECT_EQ(choose_engine(kEngineAuto, false, "", 0), kEngineCpu);
  EXPECT_EQ(choose_engine(kEngineAuto, true, "llvmpipe (LLVM 15.0.6, 256 bits)", 4.5f), kEngineCpu);
  EXPECT_EQ(choose_engine(kEngineAuto, true, "softpipe", 3.3f), kEngineCpu);
  EXPECT_EQ(choose_engine(kEngineAuto, true, "NVIDIA H100 PCIe/PCIe/SSE2", 4.6f), kEngineCompute);
  EXPECT_EQ(choose_engine(kEngineAuto, true, "Intel(R) HD Graphics 3000", 3.1f), kEngineFragment);
  EXPECT_EQ(choose_engine(kEngineFragment, true, "llvmpipe", 4.5f), kEngineFragment);
}

TEST(Options, ShardResumeAndTheirResumeCommand) {
  const char* argv[] = {"veldspan", "--shard", "3/4", "--resume", "--max-seconds", "60", "--headless",
                        "--engine", "cpu", "my job"};
  RunOptions o = default_options();
  std::string error;
  ASSERT_TRUE(parse_options(10, argv, &o, &error)) << error;
  EXPECT_EQ(o.shard, 3);
  EXPECT_EQ(o.shards, 4);
  EXPECT_TRUE(o.resume);
  EXPECT_EQ(resume_command_text(&o), "veldspan --resume --headless --engine cpu --shard 3/4 --max-seconds 60 'my job'");
  for (const char* bad : {"4/4", "1/0", "1", "/4", "-1/4", "1/4x"}) {
    const char* line[] = {"veldspan", "--shard", bad};
    RunOptions other = default_options();
    EXPECT_FALSE(parse_options(3, line, &other, &error)) << bad;
  }
  MergeOptions m;
  const char* merge[] = {"merge", "--samples", "256", "--job", "j", "a.rec", "b.rec"};
  ASSERT_TRUE(parse_merge_options(7, merge, &m, &error)) << error;
  EXPECT_EQ(m.samples, 256);
  EXPECT_EQ(m.job_dir, "j");
  EXPECT_EQ(m.records, (std::vector<std::string>{"a.rec", "b.rec"}));
  const char* none[] = {"merge", "--samples", "0", "a.rec"};
  EXPECT_FALSE(parse_merge_options(4, none, &m, &error));
  EXPECT_FALSE(parse_merge_options(1, none, &m, &error)) << "no record";
}

TEST(Options, PrecisionIsSingleOrDoubleAndGoesIntoTheResumeCommand) {
  RunOptions o;
  ASSERT_TRUE(parse({"--precision", "double", "--headless"}, &o));
  EXPECT_EQ(o.precision, kPrecisionDouble);
  EXPECT_EQ(resume_command_text(&o), "veldspan --resume --headless --precision double");
  ASSERT_TRUE(parse({}, &o));
  EXPECT_EQ(o.precision, -1) << "the job's own";
  std::string error;
  EXPECT_FALSE(parse({"--precision", "half"}, &o, &error));
  EXPECT_EQ(error, "bad value for --precision: half");
}
