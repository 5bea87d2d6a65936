#include "gfx/clock.h"

#include <string>

#include "gfx/platform.h"

ClockSource PerfClock = select_clock;
double perf_period = 0.0;
char time_text[32];

double select_clock() {
  uint64_t frequency = 0;
  if (platform_perf_frequency(&frequency) && frequency != 0) {
    perf_period = 1.0 / static_cast<double>(frequency);
    PerfClock = read_perf_counter;
  } else {
    PerfClock = read_tick_count;
  }
  return PerfClock();
}

double read_perf_counter() { return static_cast<double>(platform_perf_counter()) * perf_period; }

double read_tick_count() { return platform_tick_count() * 0.001; }

char* date_time_text(char* out) {
  char date[100], time[100];
  platform_date_text(date, sizeof date);
  platform_time_text(time, sizeof time);
  std::string text = std::string(date) + " " + time;
  size_t n = text.copy(out, sizeof time_text - 1);
  out[n] = 0;
  return out;
}
