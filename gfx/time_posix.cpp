// Time services, the command call, file lengths and the process's
// surroundings over POSIX.
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <locale.h>

#include "gfx/platform.h"

namespace {

// NOTE: the month abbreviation follows the user's LC_TIME without touching
// the process's global locale, which must stay "C" for atof and printf.
locale_t user_time_locale() {
  static locale_t loc = nullptr;
  if (!loc) loc = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0));
  if (!loc) loc = newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(0));
  return loc;
}

void format_now(const char* picture, char* out, size_t size) {
  std::time_t now = std::time(nullptr);
  std::tm local;
  localtime_r(&now, &local);
  if (strftime_l(out, size, picture, &local, user_time_locale()) == 0 && size) out[0] = 0;
}

}  // namespace

bool platform_perf_frequency(uint64_t* frequency) {
  timespec ts;
  if (clock_gettime(CLOCK_MONOTONIC, &ts) != 0) return false;
  *frequency = 1000000000ull;
  return true;
}

uint64_t platform_perf_counter() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

uint32_t platform_tick_count() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

void platform_date_text(char* out, size_t size) { format_now("%Y-%b-%d", out, size); }

void platform_time_text(char* out, size_t size) { format_now("%H:%M:%S", out, size); }

int platform_run_command(const char* command) { return std::system(command); }
