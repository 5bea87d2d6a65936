#include <gtest/gtest.h>

#include <cstring>

#include "app/run.h"

namespace {

RunState status_run(int samples, int checkpoint, double dt) {
  RunState run;
  std::memset(&run, 0, sizeof run);
  run.program = 3;
  run.side = 1024;
  run.samples = samples;
  run.next_checkpoint = checkpoint;
  run.clock_prev = 100.0;
  run.clock_now = 100.0 + dt;
  return run;
}

}  // namespace

TEST(Status, ProgressNamesTheNextCheckpointAndWhatIsLeft) {
  RunState first = status_run(1, 2, 0.5);
  EXPECT_EQ(status_progress_text(&first), "Sample 1 (2^4 in 15)\n1.04858e+006 particles");
  RunState sixteen = status_run(16, 3, 0.5);
  EXPECT_EQ(status_progress_text(&sixteen), "Sample 16 (3^4 in 65)\n1.67772e+007 particles");
  RunState far = status_run(2147483000, 216, 0.5);  // 216^4 is past 2^31
  EXPECT_EQ(status_progress_text(&far).substr(0, 35), "Sample 2147483000 (216^4 in 2929933");
}

TEST(Status, RatesWithThreeDigitExponentsAndADashForZeroTime) {
  RunState run = status_run(5, 2, 0.25);
  EXPECT_EQ(status_rates_text(&run, 0),
            "prog=3 glGetError()=0 (GL_NO_ERROR=0)\n4 samples/s\n4.1943e+006 particles/s");
  EXPECT_EQ(status_rates_text(&run, 1282).substr(0, 24), "prog=3 glGetError()=1282");
  RunState still = status_run(5, 2, 0.0);
  EXPECT_EQ(status_rates_text(&still, 0), "prog=3 glGetError()=0 (GL_NO_ERROR=0)\n- samples/s\n- particles/s");
}
