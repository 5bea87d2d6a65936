// Until the window and the sampling loop exist, the program prepares the
// job: it reads input.txt and writes the generated shader to shadercode.txt.
#include <cstdio>

#include "app/run_state.h"

int main() {
  static RunState run;
  char* source = prepare_job(&run);
  std::fputs(source, stdout);
  std::fputs("\n", stdout);
  return 0;
}
