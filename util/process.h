// Child processes: the program running its own executable for each part
// of a larger piece of work (the points of a scan), waiting for them, and
// passing a stop on to them. Over POSIX or Win32 (process_posix.cpp,
// process_win32.cpp, chosen in CMake).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct ChildProcess {
  int64_t id;  // the process id (POSIX) or the process's handle (Win32); 0 for none
};

// A path that starts the running program's executable; "" when there is
// none. NOTE: on Linux, /proc/self/exe: it names the program that runs
// even after its file was replaced (a rebuild during a long scan), so that
// every child runs the same program.
std::string own_executable_path();

// Starts argv[0] with the arguments argv[1 ...]. Its stdout and stderr are
// the caller's, or, when log_path is not empty, that file's (appended to).
// On POSIX the child gets a process group of its own, so that a Ctrl+C at
// the terminal reaches the caller alone, which passes it on once. False,
// with why, when it cannot be started.
bool start_child(const std::vector<std::string>& argv, const std::string& log_path, ChildProcess* child,
                 std::string* error);

// Waits until one of the children ends, and gives its index and its exit
// status (128 + the signal for a child a signal ended). Returns -1 instead
// when a stop signal came that the caller has not seen yet (see
// stop_signals_caught), so that it can pass the stop on.
int wait_for_child(const std::vector<ChildProcess>& children, int32_t stops_seen, int* status);

// Asks a child to stop as SIGTERM does: it finishes the sample in progress
// and keeps its record. (Win32 has no such request: the child is ended,
// and its record keeps every whole sample.)
void stop_child(const ChildProcess* child);

// From now on SIGTERM, SIGINT and SIGHUP do not end the process: they are
// counted, for the caller to pass on to its children.
void catch_stop_signals();
int32_t stop_signals_caught();
// The last stop signal caught; 0 before the first.
int last_stop_signal();

// The command line that gives a Windows program exactly these arguments
// (as its C runtime splits a command line): each word quoted where it
// must be, with the backslashes before a quote doubled.
std::string windows_command_line(const std::vector<std::string>& argv);
