// A private X server for tests that need a screen: Xvfb on a free display
// number, which it reports through -displayfd. DISPLAY is set to it while
// it runs. Tests skip when Xvfb is not installed.
#pragma once
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

struct XvfbServer {
  pid_t pid = -1;       // the server process; -1 when none runs
  std::string display;  // ":N" once it is ready
};

inline bool xvfb_installed() { return std::system("command -v Xvfb >/dev/null 2>&1") == 0; }

// Reads the display number Xvfb writes once it accepts connections.
inline std::string xvfb_read_display(int fd, int timeout_ms) {
  std::string number;
  char c;
  pollfd ready = {fd, POLLIN, 0};
  while (poll(&ready, 1, timeout_ms) > 0 && read(fd, &c, 1) == 1 && c != '\n') number += c;
  return number.empty() ? "" : ":" + number;
}

inline void xvfb_exec(int write_fd) {
  prctl(PR_SET_PDEATHSIG, SIGTERM);  // never outlive a crashed test
  int null_fd = open("/dev/null", O_WRONLY);
  if (null_fd >= 0) dup2(null_fd, 2);  // keyboard-compiler warnings are noise here
  std::string fd = std::to_string(write_fd);
  execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1600x1200x24", "-nolisten", "tcp",
         static_cast<char*>(nullptr));
  _exit(127);
}

inline void xvfb_stop(XvfbServer* server) {
  if (server->pid <= 0) return;
  kill(server->pid, SIGTERM);
  waitpid(server->pid, nullptr, 0);
  server->pid = -1;
}

// Starts the server and sets DISPLAY; false when it did not come up.
inline bool xvfb_start(XvfbServer* server) {
  int fds[2];
  if (pipe(fds) != 0) return false;
  server->pid = fork();
  if (server->pid == 0) {
    close(fds[0]);
    xvfb_exec(fds[1]);
  }
  close(fds[1]);
  server->display = server->pid > 0 ? xvfb_read_display(fds[0], 10000) : "";
  close(fds[0]);
  if (server->display.empty()) {
    xvfb_stop(server);
    return false;
  }
  setenv("DISPLAY", server->display.c_str(), 1);
  return true;
}
