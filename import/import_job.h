// The text of an imported job and the summary the import prints.
#pragma once
#include <cstddef>
#include <string>

#include "import/import_plan.h"
#include "import/twiss_table.h"

// The commented job file: settings, box, emittance, collimators (commented
// out) and the map. Numbers are written with 17 significant digits, so
// that they read back as the same doubles.
std::string import_job_text(const TwissTable* table, const ImportPlan* plan, const ImportOptions* options);

// What the import did: the ring, the rows read, kept as kicks and folded
// into the linear transport, the tunes, the emittances and the warnings.
std::string import_summary(const TwissTable* table, const ImportPlan* plan, const ImportOptions* options);

struct ImportResult {
  std::string job;      // the job file's text
  std::string summary;  // for stdout
  std::string error;    // why the table was refused ("PATH line N: why")
};

// The whole import of a table's text, without files: false, with error,
// when the table is unusable or refused.
bool import_table(const char* text, size_t size, const ImportOptions* options, ImportResult* result);
