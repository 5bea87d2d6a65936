// Files and the process's surroundings over POSIX.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "util/files.h"

int64_t file_length(const char* path) {
  struct stat status;
  return stat(path, &status) == 0 ? static_cast<int64_t>(status.st_size) : -1;
}

bool truncate_file(const char* path, int64_t length) { return truncate(path, static_cast<off_t>(length)) == 0; }

bool replace_file(const char* from, const char* to) { return std::rename(from, to) == 0; }

// NOTE: a link fails when the name exists, where a rename would replace
// it; where the file system has no links, a rename after a last look.
bool place_new_file(const char* from, const char* to) {
  if (link(from, to) == 0) {
    unlink(from);
    return true;
  }
  if (errno != EEXIST && file_length(to) >= 0) errno = EEXIST;
  if (errno == EEXIST) return false;
  return std::rename(from, to) == 0;
}

bool sync_file(FILE* file) { return fsync(fileno(file)) == 0; }

bool change_dir(const char* path) { return chdir(path) == 0; }

std::string working_dir_name() {
  char path[4096];
  if (!getcwd(path, sizeof path)) return "";
  std::string p = path;
  return p == "/" ? p : p.substr(p.find_last_of('/') + 1);
}

bool stderr_is_terminal() { return isatty(STDERR_FILENO) == 1; }

// NOTE: an fcntl lock rather than flock: it also holds on NFS, where job
// directories of clusters often are, and F_GETLK names its holder. It is
// not handed to children (the screenshot converter), and the descriptor is
// closed on exec.
LockOutcome lock_file(const char* path, FileLock* lock) {
  *lock = FileLock{-1, 0, 0};
  int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    lock->error = failure_code();
    return kLockFailed;
  }
  struct flock whole = {};
  whole.l_type = F_WRLCK;
  whole.l_whence = SEEK_SET;
  if (fcntl(fd, F_SETLK, &whole) == 0) {
    lock->handle = fd;
    return kLockTaken;
  }
  int error = errno;
  bool held = error == EACCES || error == EAGAIN;
  if (held && fcntl(fd, F_GETLK, &whole) == 0 && whole.l_type != F_UNLCK) lock->holder = whole.l_pid;
  close(fd);
  lock->error = held ? 0 : error;
  return held ? kLockHeld : kLockFailed;
}

void unlock_file(FileLock* lock) {
  if (lock->handle >= 0) close(int(lock->handle));
  lock->handle = -1;
}
