#include "app/options.h"

#include <gtest/gtest.h>

#include "app/engine.h"

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
}

TEST(Options, AutoChoosesByRendererAndVersion) {
  EXPECT_EQ(choose_engine(kEngineAuto, false, "", 0), kEngineCpu);
  EXPECT_EQ(choose_engine(kEngineAuto, true, "llvmpipe (LLVM 15.0.6, 256 bits)", 4.5f), kEngineCpu);
  EXPECT_EQ(choose_engine(kEngineAuto, true, "softpipe", 3.3f), kEngineCpu);
  EXPECT_EQ(choose_engine(kEngineAuto, true, "NVIDIA H100 PCIe/PCIe/SSE2", 4.6f), kEngineCompute);
  EXPECT_EQ(choose_engine(kEngineAuto, true, "Intel(R) HD Graphics 3000", 3.1f), kEngineFragment);
  EXPECT_EQ(choose_engine(kEngineFragment, true, "llvmpipe", 4.5f), kEngineFragment);
}
