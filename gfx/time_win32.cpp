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

bool platform_stderr_is_terminal() { return _isatty(_fileno(stderr)) != 0; }

bool platform_change_dir(const char* path) { return SetCurrentDirectoryA(path) != FALSE; }
int64_t platform_file_length(const char* path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return -1;
  return static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

// NOTE: the C runtime's _chsize takes a 32-bit length; the system call does
// not, and needs no descriptor of the runtime.
bool platform_truncate_file(const char* path, int64_t length) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER end;
  end.QuadPart = length;
  bool cut = SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
  CloseHandle(file);
  return cut;
}

// NOTE: the C runtime's rename refuses to replace an existing file on
// Windows; MoveFileEx does it in one step on the same volume.
bool platform_replace_file(const char* from, const char* to) {
  if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
  errno = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : EIO;
  return false;
}

std::string platform_working_dir_name() {
  char path[MAX_PATH + 1];
  DWORD length = GetCurrentDirectoryA(sizeof path, path);
  if (length == 0 || length > MAX_PATH) return "";
  std::string p(path, length);
  size_t slash = p.find_last_of("\\/");
  return slash == std::string::npos || slash + 1 == p.size() ? p : p.substr(slash + 1);
}
bool platform_sync_file(FILE* file) { return _commit(_fileno(file)) == 0; }
