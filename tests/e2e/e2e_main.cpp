// The end-to-end tests share one private X server; without one they fail
// rather than skip, since the test command installs Xvfb.
#include <gtest/gtest.h>

#include "xvfb.h"

namespace {

XvfbServer server;

struct XvfbEnvironment : ::testing::Environment {
  void SetUp() override { ASSERT_TRUE(xvfb_start(&server)) << "Xvfb could not be started"; }
  void TearDown() override { xvfb_stop(&server); }
};

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new XvfbEnvironment);
  return RUN_ALL_TESTS();
}
