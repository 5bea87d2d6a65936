// The import on any table: the TFS reader, the Twiss table, the plan and
// the job written from it. A job that is written must hold no control byte
// but its line ends, since the job reader ends a line at CR and NUL too and
// would read the rest of a name as a map line.
#include <cstdlib>
#include <cstring>

#include "import/import_job.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ImportOptions options = default_import_options();
  options.table_path = "fuzz.tfs";
  options.job_dir = "job";
  // The input's length picks the options, so that every path is reached.
  options.has_box = size & 1;
  options.coupled_as_kicks = size & 2;
  for (double& half_width : options.box) half_width = 1e-3;
  ImportResult result;
  if (!import_table(reinterpret_cast<const char*>(data), size, &options, &result)) return 0;
  for (char c : result.job)
    if (c != '\n' && (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)) std::abort();
  return 0;
}
