#include "engines/cpu_workers.h"

#include <pthread.h>

#include <cstdint>
#include <cstdlib>
#ifndef _WIN32
#include <sched.h>
#include <unistd.h>
#endif

#include "gfx/clock.h"

namespace {

// NOTE: the helpers sleep between samples and join a sample only when they
// come free while it lasts: the caller never waits for a helper that has
// not started, only for those working on particles they claimed. On a
// machine busy with other work (more threads than cores) a helper may not
// run for milliseconds, and a sample that waited for every thread at its
// end (as a parallel loop's barrier does) would wait that long.
struct Workers {
  pthread_mutex_t lock;
  pthread_cond_t wake;  // a new sample is offered
  pthread_cond_t idle;  // the last helper left the sample
  int started;          // helpers started
  int64_t generation;   // samples offered so far
  bool open;            // the current sample still takes helpers
  int busy;             // helpers working on it
  CpuKernel kernel;
  KernelSample* sample;
  KernelTally* tallies;
  double last_seconds;  // how long the last sample took
};

Workers workers = {PTHREAD_MUTEX_INITIALIZER, PTHREAD_COND_INITIALIZER, PTHREAD_COND_INITIALIZER, 0, 0, false, 0,
                   kCpuKernelBaseline, nullptr, nullptr, 1};

// NOTE: waking a sleeping thread takes tens of microseconds; a sample that
// the caller tracks alone in less than this is not offered to the helpers
// (the next one is, should a sample take longer).
const double kShareSeconds = 300e-6;

int available_cores() {
#ifdef _WIN32
  return pthread_num_processors_np();
#else
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) return CPU_COUNT(&set);
  long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? int(n) : 1;
#endif
}

// The sample's precision is the map it carries.
void run_kernel(CpuKernel kernel, KernelSample* sample, KernelTally* tally) {
  bool in_double = sample->map_double != nullptr;
#ifdef VELDSPAN_X86_KERNELS
  if (kernel == kCpuKernelAvx512)
    return in_double ? cpu_kernel_avx512_double(sample, tally) : cpu_kernel_avx512(sample, tally);
  if (kernel == kCpuKernelAvx2) return in_double ? cpu_kernel_avx2_double(sample, tally) : cpu_kernel_avx2(sample, tally);
#endif
  (void)kernel;
  in_double ? cpu_kernel_baseline_double(sample, tally) : cpu_kernel_baseline(sample, tally);
}

void* helper_main(void* argument) {
  int index = int(reinterpret_cast<intptr_t>(argument));
  int64_t seen = 0;
  pthread_mutex_lock(&workers.lock);
  for (;;) {
    while (workers.generation == seen) pthread_cond_wait(&workers.wake, &workers.lock);
    seen = workers.generation;
    if (!workers.open) continue;
    workers.busy += 1;
    CpuKernel kernel = workers.kernel;
    KernelSample* sample = workers.sample;
    KernelTally* tally = &workers.tallies[index];
    pthread_mutex_unlock(&workers.lock);
    run_kernel(kernel, sample, tally);
    pthread_mutex_lock(&workers.lock);
    if (--workers.busy == 0) pthread_cond_signal(&workers.idle);
  }
  return nullptr;
}

void start_helpers() {
  for (int index = workers.started + 1; index < cpu_tracker_threads(); index++) {
    pthread_t thread;
    if (pthread_create(&thread, nullptr, helper_main, reinterpret_cast<void*>(intptr_t(index))) != 0) return;
    pthread_detach(thread);
    workers.started += 1;
  }
}

void offer_sample(CpuKernel kernel, KernelSample* sample, KernelTally* tallies) {
  pthread_mutex_lock(&workers.lock);
  start_helpers();
  workers.kernel = kernel;
  workers.sample = sample;
  workers.tallies = tallies;
  workers.open = true;
  workers.generation += 1;
  pthread_cond_broadcast(&workers.wake);
  pthread_mutex_unlock(&workers.lock);
}

void close_sample() {
  pthread_mutex_lock(&workers.lock);
  workers.open = false;
  while (workers.busy > 0) pthread_cond_wait(&workers.idle, &workers.lock);
  pthread_mutex_unlock(&workers.lock);
}

}  // namespace

int cpu_tracker_threads() {
  static int threads = 0;
  if (threads > 0) return threads;
  const char* asked = std::getenv("OMP_NUM_THREADS");
  int n = asked ? std::atoi(asked) : 0;
  if (n <= 0) n = available_cores();
  threads = n < 1 ? 1 : n > 256 ? 256 : n;
  return threads;
}

void cpu_workers_run(CpuKernel kernel, KernelSample* sample, KernelTally* tallies) {
  double start = PerfClock();
  bool share = cpu_tracker_threads() > 1 && sample->particles > kKernelClaim && workers.last_seconds >= kShareSeconds;
  if (share) offer_sample(kernel, sample, tallies);
  run_kernel(kernel, sample, &tallies[0]);
  if (share) close_sample();
  workers.last_seconds = PerfClock() - start;
}
