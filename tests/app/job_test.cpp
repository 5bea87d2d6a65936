// The run's job: read once, lowered, and its fragment shader written.
#include "app/job.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "test_dir.h"

TEST(Job, PrepareWritesExactlyTheSourceItReturns) {
  TestDir dir;
  write_file("input.txt", "baseres 4\niterations 10 100\nD 1\nK 0.5 0 -2\n");
  static RunState run;
  RunOptions options = default_options();
  read_run_job(&run, &options);
  EXPECT_EQ(run.source.bytes, read_file("input.txt"));
  EXPECT_EQ(run.source.hash, job_hash(run.source.bytes));
  char* source = prepare_job(&run);
  EXPECT_EQ(read_file("shadercode.txt"), source);
  EXPECT_EQ(std::string(source).rfind("#version 120\n", 0), 0u);
  EXPECT_EQ(run.settings.baseres, 4);
  EXPECT_EQ(run.map.side, 16);
  // A second preparation replaces the file rather than appending to it.
  write_file("input.txt", "baseres 2\n");
  read_run_job(&run, &options);
  char* second = prepare_job(&run);
  EXPECT_EQ(read_file("shadercode.txt"), second);
}

TEST(Job, UnwritableShaderFileDoesNotStopPreparation) {
  TestDir dir;
  mkdir("shadercode.txt", 0755);
  static RunState run;
  RunOptions options = default_options();
  read_run_job(&run, &options);
  testing::internal::CaptureStderr();
  char* source = prepare_job(&run);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("shadercode.txt could not be written"), std::string::npos);
  EXPECT_EQ(std::string(source).rfind("#version 120\n", 0), 0u);
}
