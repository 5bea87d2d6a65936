// Child processes over Win32.
#include <windows.h>

#include <csignal>

#include "util/process.h"

namespace {

volatile std::sig_atomic_t stops_caught = 0;
volatile std::sig_atomic_t last_signal = 0;

void on_stop_signal(int signal_number) {
  stops_caught = stops_caught + 1;
  last_signal = signal_number;
  std::signal(signal_number, on_stop_signal);  // the C runtime resets it to the default on delivery
}

// The log file as a handle the child inherits; INVALID_HANDLE_VALUE when
// it cannot be opened.
HANDLE open_log(const std::string& path) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  return file;
}

std::string last_error_text() {
  char text[256] = "";
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, GetLastError(), 0, text,
                 sizeof text, nullptr);
  std::string t = text;
  while (!t.empty() && (t.back() == '\n' || t.back() == '\r' || t.back() == '.')) t.pop_back();
  return t;
}

}  // namespace

std::string own_executable_path() {
  char path[MAX_PATH + 1];
  DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  return length > 0 && length < sizeof path ? std::string(path, length) : std::string();
}

// NOTE: the child's standard handles are given explicitly: a GUI program
// hands its own on (those a shell redirected) only when told to.
bool start_child(const std::vector<std::string>& argv, const std::string& log_path, ChildProcess* child,
                 std::string* error) {
  HANDLE log = log_path.empty() ? INVALID_HANDLE_VALUE : open_log(log_path);
  if (!log_path.empty() && log == INVALID_HANDLE_VALUE) {
    *error = log_path + " cannot be opened: " + last_error_text();
    return false;
  }
  STARTUPINFOA start;
  ZeroMemory(&start, sizeof start);
  start.cb = sizeof start;
  start.dwFlags = STARTF_USESTDHANDLES;
  start.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  start.hStdOutput = log != INVALID_HANDLE_VALUE ? log : GetStdHandle(STD_OUTPUT_HANDLE);
  start.hStdError = log != INVALID_HANDLE_VALUE ? log : GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION info;
  std::string line = windows_command_line(argv);
  BOOL started = CreateProcessA(argv[0].c_str(), &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start, &info);
  if (!started) *error = argv[0] + " cannot be started: " + last_error_text();
  if (log != INVALID_HANDLE_VALUE) CloseHandle(log);
  if (!started) return false;
  CloseHandle(info.hThread);
  *child = ChildProcess{reinterpret_cast<int64_t>(info.hProcess)};
  return true;
}

int wait_for_child(const std::vector<ChildProcess>& children, int32_t stops_seen, int* status) {
  std::vector<HANDLE> handles;
  for (const ChildProcess& c : children) handles.push_back(reinterpret_cast<HANDLE>(c.id));
  for (;;) {
    DWORD got = WaitForMultipleObjects(DWORD(handles.size()), handles.data(), FALSE, 20);
    if (got < WAIT_OBJECT_0 + handles.size()) {
      size_t k = got - WAIT_OBJECT_0;
      DWORD code = 1;
      GetExitCodeProcess(handles[k], &code);
      CloseHandle(handles[k]);
      *status = int(code);
      return int(k);
    }
    if (stops_caught != stops_seen) return -1;
  }
}

// NOTE: a Windows program has no SIGTERM to be sent; the child is ended
// where it is. Its record is written line by line, so it loses no whole
// sample, and a resumed run goes on from there.
void stop_child(const ChildProcess* child) {
  if (child->id) TerminateProcess(reinterpret_cast<HANDLE>(child->id), 143);
}

void catch_stop_signals() {
  for (int s : {SIGTERM, SIGINT}) std::signal(s, on_stop_signal);
}

int32_t stop_signals_caught() { return int32_t(stops_caught); }

int last_stop_signal() { return int(last_signal); }
