// Time services, the command call and file lengths over Win32 and the C
// runtime.
#include <windows.h>
#include <io.h>

#include <cerrno>
#include <cstdlib>

#include "gfx/platform.h"

namespace {

// The formatting calls take an int size; a result that did not fit, or a
// failed call, leaves an empty text rather than whatever was in the buffer.
int buffer_size(size_t size) { return size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(size); }

}  // namespace

bool platform_perf_frequency(uint64_t* frequency) {
  LARGE_INTEGER value;
  if (!QueryPerformanceFrequency(&value) || value.QuadPart <= 0) return false;
  *frequency = static_cast<uint64_t>(value.QuadPart);
  return true;
}

uint64_t platform_perf_counter() {
  LARGE_INTEGER value;
  value.QuadPart = 0;
  QueryPerformanceCounter(&value);
  return static_cast<uint64_t>(value.QuadPart);
}

uint32_t platform_tick_count() { return GetTickCount(); }

// NOTE: no date is passed, so the system takes the current local date; the
// month abbreviation ("MMM") is the user's locale's.
void platform_date_text(char* out, size_t size) {
  if (!out || size == 0) return;
  if (GetDateFormatA(LOCALE_USER_DEFAULT, 0, nullptr, "yyyy-MMM-dd", out, buffer_size(size)) == 0) out[0] = 0;
}

void platform_time_text(char* out, size_t size) {
  if (!out || size == 0) return;
  if (GetTimeFormatA(LOCALE_USER_DEFAULT, TIME_FORCE24HOURFORMAT, nullptr, "HH:mm:ss", out, buffer_size(size)) == 0)
    out[0] = 0;
}

int platform_run_command(const char* command) { return std::system(command); }
