// Why something could not be done, as it travels back to the run, which
// decides to log it and end: the message for the user, and detail (a
// compiler's log, say) for the error log alone.
#pragma once
#include <string>

struct Problem {
  std::string message;  // one line; empty when there is no problem
  std::string detail;   // more lines for the log; may be empty
};

inline Problem problem(const std::string& message, const std::string& detail = "") { return Problem{message, detail}; }
