// The import command as a program of its own: its arguments are those of
// "veldspan import".
#include <vector>

#include "import/import_command.h"

int main(int argc, char** argv) {
  std::vector<const char*> args = {"import"};
  for (int i = 1; i < argc; i++) args.push_back(argv[i]);
  return import_command(int(args.size()), args.data());
}
