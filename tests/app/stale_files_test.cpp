// Temporary files that a killed write left in the job directory.
#include <unistd.h>

#include <gtest/gtest.h>

#include "test_dir.h"
#include "util/files.h"

TEST(StaleFiles, OnlyTheProgramsOwnTemporariesAreRemovedAndNamed) {
  TestDir dir;
  for (const char* name : {"output.csv.tmp", "aperture.csv.tmp", "input.txt.tmp", "notes.tmp", "output.csv"})
    write_file(name, "half a text");
  testing::internal::CaptureStderr();
  remove_stale_temporaries();
  std::string said = testing::internal::GetCapturedStderr();
  for (const char* gone : {"output.csv.tmp", "aperture.csv.tmp", "input.txt.tmp"}) {
    EXPECT_NE(access(gone, F_OK), 0) << gone;
    EXPECT_NE(said.find(std::string(gone) + ", left by a write that never finished, was removed\n"), std::string::npos);
  }
  EXPECT_EQ(read_file("notes.tmp"), "half a text") << "not one of the program's";
  EXPECT_EQ(read_file("output.csv"), "half a text");
  testing::internal::CaptureStderr();
  remove_stale_temporaries();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "nothing to remove, nothing said";
}
