// Starting the real program (and X tools) from end-to-end tests, and
// reading the screenshots it saves.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Starts a program in the current directory with stdout and stderr going to
// the given file; returns its process id.
int spawn_program(const std::vector<std::string>& argv, const std::string& output_file);
// Waits up to timeout seconds; returns the exit status, or -1 after killing
// a program that did not end in time (-2 when it died of a signal).
int wait_program(int pid, double timeout_seconds);
// Runs a shell command with the test's DISPLAY; returns its exit status.
int shell(const std::string& command);
// Holds a key down for a moment with XTest, as a person would, then
// releases it; a quick tap could fall between two keyboard reads.
void hold_key(const std::string& key, double seconds = 0.3);
// Whether the program has not ended yet.
bool program_running(int pid);
// Waits until a window of the program's class is mapped, then gives it the
// keyboard focus, as a window manager would (the tests' Xvfb has none).
bool wait_for_window(double timeout_seconds);
bool focus_program_window();
// A window of the test's own, standing for another program's: mapped and
// given the keyboard focus, until it is closed.
struct OtherWindow {
  void* display;
  unsigned long window;
};
OtherWindow open_other_window();
void close_other_window(OtherWindow* other);
// What the program's window shows on the screen (its presented picture,
// not its back buffer): red, green, blue bytes per pixel, rows from the
// top; empty when the window cannot be read.
std::vector<unsigned char> window_picture(int* width, int* height);
// Asks the program's window to close, as a window manager's close box does.
bool close_window();

// Names of the program's screenshots in the working directory.
std::vector<std::string> screenshots();
// A little-endian 32-bit field of a file's bytes.
uint32_t le32(const std::string& bytes, size_t at);
// Blue, green, red of the window pixel (x, y from the top) in a bottom-up BMP.
std::vector<int> bmp_pixel(const std::string& bmp, int x, int y);
