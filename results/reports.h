// The result files a run and a merge write from the ledger: "output.csv",
// its first line and then a block of mean volumes and standard errors at
// each checkpoint (appended), and "aperture.csv", the random passes'
// intervals per result row (rewritten whole, through a temporary file and
// a rename, so that no reader and no crash ever finds half a file).
//
// A writer keeps the text it could not write (a full disk, a file held by
// another program) and writes it, in order, at the next attempt that can;
// at the end of the run what still cannot be written goes to stderr whole,
// so that no result is lost silently.
#pragma once
#include <cstdint>
#include <string>

#include "results/ledger.h"

// The exit status of a run that ended with results that never reached
// their file (fatal errors end with 1).
const int kExitResultsLost = 4;

struct ReportFile {
  const char* name;       // the file's name in the job directory
  bool whole;             // rewritten whole at each write; else appended to
  const char* later;      // what the message of a failed write says happens to its text
  std::string unwritten;  // text not yet on disk (for a whole file: its latest text); "" when none
  bool truncate;          // an appended file's next write empties it first ("wt")
};

ReportFile output_report();
ReportFile aperture_report();
// Writes text (appended after what is still unwritten, or in the place of
// the whole file); true when everything reached the file. A failure is
// reported on stderr and the text kept.
bool report_write(ReportFile* report, const std::string& text);
// At the end of a run: tries once more to write the text still unwritten;
// what still cannot be written goes to stderr and the failure to the error
// log. Returns 0, or kExitResultsLost.
int report_finish(ReportFile* report);

// Both files of a run that is not split.
struct Reports {
  ReportFile output;
  ReportFile aperture;
};
// Starts output.csv afresh with its first line.
Reports start_reports();
// Writes the block and the aperture the ledger said were due.
void write_due_reports(Reports* reports, const Ledger* ledger, const LedgerDue* due);
// At the end of a run or a merge: an aperture still due (its random pass
// was never taken) is written with the passes there are, then both files
// are finished. Returns 0, or kExitResultsLost.
int finish_reports(Reports* reports, Ledger* ledger);

// The dynamic aperture in beam sigma of a surviving volume: the radius D
// of the 4D ball in normalised coordinates with the same volume,
// pi^2 D^4 / 2 = volume / (ex ey). It counts islands and every phase; a
// radial scan at one phase gives another number.
double da_sigma(const JobSettings* job, double volume);

// The first line of output.csv.
std::string results_start_text(const char* when);
// The label of result row i: "Domain", then the turn counts in job order.
std::string row_label(const JobSettings* job, int32_t row);
// The block of checkpoint L at the ledger's sample count.
std::string result_block_text(const Ledger* ledger, int32_t checkpoint);
// The whole of aperture.csv; job names the job, when is the date-time text.
std::string aperture_text(const Ledger* ledger, const std::string& job, const char* when);
