// Files and the process's surroundings over Win32 and the C runtime.
#include <windows.h>
#include <io.h>

#include <cerrno>

#include "util/files.h"

int64_t file_length(const char* path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return -1;
  return static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

// NOTE: the C runtime's _chsize takes a 32-bit length; the system call does
// not, and needs no descriptor of the runtime.
bool truncate_file(const char* path, int64_t length) {
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
bool replace_file(const char* from, const char* to) {
  if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
  errno = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : EIO;
  return false;
}

bool place_new_file(const char* from, const char* to) {
  if (MoveFileExA(from, to, MOVEFILE_WRITE_THROUGH)) return true;
  DWORD code = GetLastError();
  errno = code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS ? EEXIST : EIO;
  return false;
}

bool sync_file(FILE* file) { return _commit(_fileno(file)) == 0; }

bool change_dir(const char* path) { return SetCurrentDirectoryA(path) != FALSE; }

std::string working_dir_name() {
  char path[MAX_PATH + 1];
  DWORD length = GetCurrentDirectoryA(sizeof path, path);
  if (length == 0 || length > MAX_PATH) return "";
  std::string p(path, length);
  size_t slash = p.find_last_of("\\/");
  return slash == std::string::npos || slash + 1 == p.size() ? p : p.substr(slash + 1);
}

bool stderr_is_terminal() { return _isatty(_fileno(stderr)) != 0; }

// NOTE: LockFileEx on the file's first byte (a lock may lie beyond its
// end); the system lets go of it when the process ends. Windows does not
// tell who holds it.
LockOutcome lock_file(const char* path, FileLock* lock) {
  *lock = FileLock{-1, 0, 0};
  HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    lock->error = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : EIO;
    return kLockFailed;
  }
  OVERLAPPED first = {};
  if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &first)) {
    lock->handle = reinterpret_cast<intptr_t>(file);
    return kLockTaken;
  }
  bool held = GetLastError() == ERROR_LOCK_VIOLATION;
  CloseHandle(file);
  lock->error = held ? 0 : EIO;
  return held ? kLockHeld : kLockFailed;
}

void unlock_file(FileLock* lock) {
  if (lock->handle != -1) CloseHandle(reinterpret_cast<HANDLE>(lock->handle));
  lock->handle = -1;
}
