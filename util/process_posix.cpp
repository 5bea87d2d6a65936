// Child processes over POSIX.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>

#include "util/process.h"

extern char** environ;

namespace {

volatile std::sig_atomic_t stops_caught = 0;
volatile std::sig_atomic_t last_signal = 0;

void on_stop_signal(int signal_number) {
  stops_caught = stops_caught + 1;
  last_signal = signal_number;
}

int exit_status(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : 1;
}

// The attributes of a child: a process group of its own, and the stop
// signals as they are by default (not ignored, as under nohup).
void child_attributes(posix_spawnattr_t* a) {
  posix_spawnattr_init(a);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&defaults, s);
  posix_spawnattr_setsigdefault(a, &defaults);
  posix_spawnattr_setpgroup(a, 0);
  posix_spawnattr_setflags(a, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF);
}

void sleep_briefly() {
  timespec pause{0, 20 * 1000 * 1000};
  nanosleep(&pause, nullptr);
}

}  // namespace

std::string own_executable_path() { return access("/proc/self/exe", X_OK) == 0 ? "/proc/self/exe" : ""; }

bool start_child(const std::vector<std::string>& argv, const std::string& log_path, ChildProcess* child,
                 std::string* error) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  if (!log_path.empty()) {
    posix_spawn_file_actions_addopen(&files, STDERR_FILENO, log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&files, STDERR_FILENO, STDOUT_FILENO);
  }
  posix_spawnattr_t attributes;
  child_attributes(&attributes);
  pid_t pid = 0;
  int failure = posix_spawn(&pid, args[0], &files, &attributes, args.data(), environ);
  posix_spawn_file_actions_destroy(&files);
  posix_spawnattr_destroy(&attributes);
  if (failure) *error = argv[0] + " cannot be started: " + std::strerror(failure);
  *child = ChildProcess{failure ? 0 : int64_t(pid)};
  return failure == 0;
}

// NOTE: the children are looked at in turn every 20 ms rather than waited
// for in one blocking call, so that a stop signal that comes just before a
// wait would begin is not left waiting for a child's end.
int wait_for_child(const std::vector<ChildProcess>& children, int32_t stops_seen, int* status) {
  for (;;) {
    for (size_t k = 0; k < children.size(); k++) {
      int raw = 0;
      if (children[k].id && waitpid(pid_t(children[k].id), &raw, WNOHANG) == pid_t(children[k].id)) {
        *status = exit_status(raw);
        return int(k);
      }
    }
    if (stops_caught != stops_seen) return -1;
    sleep_briefly();
  }
}

void stop_child(const ChildProcess* child) {
  if (child->id) kill(pid_t(child->id), SIGTERM);
}

// NOTE: without SA_RESTART, so that a pause is cut short by the signal.
void catch_stop_signals() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = on_stop_signal;
  sigemptyset(&action.sa_mask);
  for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaction(s, &action, nullptr);
}

int32_t stop_signals_caught() { return int32_t(stops_caught); }

int last_stop_signal() { return int(last_signal); }
