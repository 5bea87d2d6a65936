// The threads that share the CPU tracker's samples: the calling thread and
// helpers started at the first sample, which then wait for the next.
#pragma once
#include "engines/cpu_kernel.h"

// The builds of the inner loop, slowest first.
enum CpuKernel { kCpuKernelBaseline, kCpuKernelAvx2, kCpuKernelAvx512, kCpuKernels };

// Threads the tracker shares a sample among: the cores it may run on, or
// OMP_NUM_THREADS when that is set, as clusters' batch systems do.
int cpu_tracker_threads();

// Runs the kernel on the sample on the calling thread and on every helper
// that comes free while particles are left to claim; tallies holds one
// record per thread (cpu_tracker_threads()), the caller's first. Returns
// once all particles are counted. One caller at a time (the run's thread).
void cpu_workers_run(CpuKernel kernel, KernelSample* sample, KernelTally* tallies);
