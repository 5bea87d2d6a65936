#include "app/status.h"

#include <gtest/gtest.h>

namespace {

const JobSettings* ring_job() {
  static JobSettings s = [] {
    JobSource source{"input.txt", "baseres 2\niterations 10 100\nseed 7\n", 0, 0};
    return parse_job(&source);
  }();
  return &s;
}

RunState status_run(int samples, int checkpoint, double dt) {
  RunState run{};
  run.engine.program = 3;
  run.map.side = 1024;
  run.ledger = start_ledger(ring_job(), 0, 0);
  run.ledger.samples.passes = samples;
  run.ledger.next_checkpoint = checkpoint;
  run.settings = *ring_job();
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

TEST(Status, RandomPassLineWithItsIntervalOrWhyThereIsNone) {
  RunState run = status_run(2, 3, 0.5);
  EXPECT_EQ(random_status_text(&run), "100: no random pass yet");
  for (int j = 1; j <= 3; j++) {
    Pass pass{'r', j, {2 + 2 * j, 16 - 4 - 2 * j, 2}};  // rows 16, 4 + 2j, 2 + 2j
    ledger_take(&run.ledger, &pass);
    if (j == 1) {
      EXPECT_EQ(random_status_text(&run), "100: 4 (1 random pass)");
    }
  }
  EXPECT_EQ(random_status_text(&run), "100: 6 +/- 5 (95%)");
  run.ledger.every = 0;
  EXPECT_EQ(random_status_text(&run), "Random passes off");
}
