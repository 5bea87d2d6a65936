// A fresh temporary directory made the working directory for one test, as
// the program works on files in its working directory.
#pragma once
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

struct TestDir {
  std::string path, previous;
  TestDir() {
    char tmpl[] = "/tmp/veldspan-test-XXXXXX";
    path = mkdtemp(tmpl);
    char cwd[4096];
    previous = getcwd(cwd, sizeof cwd) ? cwd : "/";
    if (chdir(path.c_str()) != 0) std::abort();
  }
  ~TestDir() {
    if (chdir(previous.c_str()) != 0) std::abort();
    std::string command = "rm -rf '" + path + "'";
    if (std::system(command.c_str()) != 0) std::abort();
  }
};

inline void write_file(const std::string& name, const std::string& bytes) {
  std::ofstream(name, std::ios::binary) << bytes;
}

inline std::string read_file(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}
