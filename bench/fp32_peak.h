// The processor's single-precision peak, measured: fused multiply-adds on
// independent registers, as wide as the processor has them, on as many
// threads as the CPU tracker uses.
#pragma once

struct PeakFigures {
  double wall;            // flop/s of all threads together
  double per_cpu_second;  // flop/s per second of processor time
  const char* instructions;
};

// The best of a few short runs (each about seconds long).
PeakFigures measure_fp32_peak(int threads, double seconds);
