// Seconds from the best counter, and the current local date and time.
#pragma once

typedef double (*ClockSource)();

// Callers always go through the pointer; it starts at select_clock and is
// re-pointed at the chosen source by the first call.
extern ClockSource PerfClock;
extern double perf_period;  // seconds per count of the performance counter
extern char time_text[32];  // shared buffer for date_time_text

double select_clock();
double read_perf_counter();
double read_tick_count();

// Writes "yyyy-MMM-dd HH:mm:ss" for now into out (32 characters) and
// returns out.
char* date_time_text(char* out);
