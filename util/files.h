// Files and the process's surroundings: lengths, cuts, replacements, syncs
// and the working directory, over POSIX or Win32 (files_posix.cpp,
// files_win32.cpp, chosen in CMake); and whole-text writes built on them,
// which never leave half a text in a file.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

// errno, or EIO when a failing call left it 0.
int failure_code();

// The length in bytes of the file at path; -1 when it cannot be read.
int64_t file_length(const char* path);
// Cuts the file at path to length bytes; false when it could not be cut.
bool truncate_file(const char* path, int64_t length);
// Puts the file from in the place of the file to, replacing it when it
// exists, in one step that a reader never sees half done; false (errno
// set) when it could not.
bool replace_file(const char* from, const char* to);
// Puts the file from in the place of the file to only when no file is
// there; false (errno EEXIST) when one is, so that a file written
// meanwhile by someone else is never replaced.
bool place_new_file(const char* from, const char* to);
// Asks the system to put what was written to the open file on the disk
// (fsync); call after fflush. False when it could not.
bool sync_file(FILE* file);
// Makes path the working directory; false when it cannot be entered.
bool change_dir(const char* path);
// The last component of the working directory's path ("" when unknown).
std::string working_dir_name();
// Whether stderr is a terminal (progress is then updated in place).
bool stderr_is_terminal();

// An exclusive advisory lock on a lock file, held by the process until it
// lets go or ends. NOTE: the system lets go of it when the process ends in
// any way, so a lock file left behind by a killed process holds nothing;
// the file itself is never removed, as a process that opened it just
// before could then lock a file that no longer has a name.
struct FileLock {
  intptr_t handle;  // the open lock file (a descriptor or a Windows handle); -1 when none is held
  int64_t holder;   // when another process holds the lock: its id, where the system tells; else 0
  int error;        // when it could not be taken for another reason: errno (ENOLCK where files cannot be locked)
};
enum LockOutcome { kLockTaken, kLockHeld, kLockFailed };
// Takes the lock of the file at path (made, empty, when missing) without
// waiting for it.
LockOutcome lock_file(const char* path, FileLock* lock);
void unlock_file(FileLock* lock);

// The whole file's bytes appended to *bytes; false (errno set) when it
// cannot be opened or read.
bool read_file_bytes(const char* path, std::string* bytes);
// Writes text to a file opened with mode; true only when every byte
// reached the file. Otherwise false, with errno telling why, and the file
// as it was before (emptied for "wt").
bool write_whole_file(const char* path, const char* mode, const char* text);
// Writes text to a temporary file beside path (path + ".tmp"), opened with
// mode, then puts it in path's place; true only when all of it is there.
// The temporary file does not outlive a failure.
bool replace_whole_file(const char* path, const char* text, const char* mode = "wt");
// Removes the temporary files of replace_whole_file that a process killed
// in the middle of a write left in the working directory (output.csv.tmp,
// aperture.csv.tmp, input.txt.tmp), naming each on stderr. A run and a
// merge call it in the job directory before they write their results.
void remove_stale_temporaries();
