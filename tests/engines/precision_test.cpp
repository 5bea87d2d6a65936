// The engine auto takes for each precision, and what a GL needs to track
// in double precision; without a context.
#include <gtest/gtest.h>

#include "engines/engine.h"

TEST(Precision, AutoTakesAnEngineThatTracksInDouble) {
  const Precision d = kPrecisionDouble;
  EXPECT_EQ(choose_engine(kEngineAuto, false, "", 0, d), kEngineCpu);
  EXPECT_EQ(choose_engine(kEngineAuto, true, "llvmpipe (LLVM 15.0.6, 256 bits)", 4.5f, d), kEngineCpu);
  EXPECT_EQ(choose_engine(kEngineAuto, true, "NVIDIA H100 PCIe/PCIe/SSE2", 4.6f, d), kEngineCompute);
  // Below GL 4.3 there is no compute engine, and the fragment engine is
  // single precision only.
  EXPECT_EQ(choose_engine(kEngineAuto, true, "Intel(R) HD Graphics 3000", 3.1f, d), kEngineCpu);
  EXPECT_EQ(choose_engine(kEngineAuto, true, "Intel(R) HD Graphics 3000", 3.1f, kPrecisionSingle), kEngineFragment);
  // An engine asked for is kept; its preparation refuses what it cannot do.
  EXPECT_EQ(choose_engine(kEngineFragment, true, "NVIDIA", 4.6f, d), kEngineFragment);
}

TEST(Precision, SixtyFourBitFloatsFromGl40OrTheExtension) {
  EXPECT_TRUE(gl_offers_fp64(4.0f, nullptr));
  EXPECT_TRUE(gl_offers_fp64(4.6f, nullptr));
  EXPECT_FALSE(gl_offers_fp64(3.3f, nullptr));
  EXPECT_FALSE(gl_offers_fp64(3.3f, "GL_ARB_compute_shader GL_ARB_gpu_shader5"));
  EXPECT_TRUE(gl_offers_fp64(3.3f, "GL_ARB_compute_shader GL_ARB_gpu_shader_fp64 GL_ARB_gpu_shader5"));
  EXPECT_STREQ(precision_name(kPrecisionSingle), "single");
  EXPECT_STREQ(precision_name(kPrecisionDouble), "double");
}
