#include "app/program.h"

#include <cstring>

#include "app/merge_command.h"
#include "app/options.h"
#include "app/run.h"
#include "app/scan_command.h"
#include "import/import_command.h"

int program_main(int argc, const char* const* argv) {
  if (argc > 1 && std::strcmp(argv[1], "merge") == 0) return merge_command(argc - 1, argv + 1);
  if (argc > 1 && std::strcmp(argv[1], "scan") == 0) return scan_command(argc - 1, argv + 1);
  if (argc > 1 && std::strcmp(argv[1], "import") == 0) return import_command(argc - 1, argv + 1);
  RunOptions options = default_options();
  int status = read_command_line(argc, argv, &options);
  return status >= 0 ? status : run_job(&options);
}
