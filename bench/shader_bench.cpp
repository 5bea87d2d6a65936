// Shader generation for maps of many elements and jobs of many turn counts:
// the text must grow in time linear in the job, however long the map.
//
//   build/bench/shader_bench [--benchmark_filter=Drifts]
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "map/job_file.h"
#include "map/colour_code.h"
#include "map/shader_source.h"

namespace {

// A job of n drifts, or n kicks with strengths of orders 1 to 3.
JobSettings map_of(int32_t n, bool kicks) {
  JobSettings s = job_defaults();
  double strengths[3] = {0.5, 0.1, -2};
  for (int32_t k = 0; k < n; k++) {
    MapElement e{kElementDrift, 0.25, 0, nullptr};
    if (kicks) e = MapElement{kElementKick, 0, 3, strengths};
    growarray_append(&s.elements, &e);
  }
  int32_t turns = 1000;
  growarray_append(&s.iterations, &turns);
  return s;
}

// A job of n ascending turn counts and one drift.
JobSettings turn_counts_of(int32_t n) {
  JobSettings s = map_of(1, false);
  s.iterations.count = 0;
  for (int32_t turns = 1; turns <= n; turns++) growarray_append(&s.iterations, &turns);
  s.colourlevels = colour_levels_for(uint32_t(n));
  return s;
}

void generate(benchmark::State& state, const JobSettings* s) {
  for (auto _ : state) {
    LoweredMap m = lower_map(s);
    char* text = generate_shader(&m);
    benchmark::DoNotOptimize(text);
    std::free(text);
  }
  state.SetComplexityN(state.range(0));
}

void BM_GenerateDrifts(benchmark::State& state) {
  JobSettings s = map_of(int32_t(state.range(0)), false);
  generate(state, &s);
}

void BM_GenerateKicks(benchmark::State& state) {
  JobSettings s = map_of(int32_t(state.range(0)), true);
  generate(state, &s);
}

void BM_GenerateTurnCounts(benchmark::State& state) {
  JobSettings s = turn_counts_of(int32_t(state.range(0)));
  generate(state, &s);
}

}  // namespace

BENCHMARK(BM_GenerateDrifts)->RangeMultiplier(10)->Range(1000, 100000)->Unit(benchmark::kMillisecond)->Complexity();
BENCHMARK(BM_GenerateKicks)->RangeMultiplier(10)->Range(1000, 100000)->Unit(benchmark::kMillisecond)->Complexity();
BENCHMARK(BM_GenerateTurnCounts)->RangeMultiplier(10)->Range(100, 100000)->Unit(benchmark::kMillisecond)->Complexity();

BENCHMARK_MAIN();
