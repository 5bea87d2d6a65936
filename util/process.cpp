#include "util/process.h"

namespace {

bool needs_quotes(const std::string& word) {
  return word.empty() || word.find_first_of(" \t\n\v\"") != std::string::npos;
}

// NOTE: the C runtime reads 2n backslashes before a quote as n and the
// quote as the word's end, 2n + 1 as n and a literal quote; backslashes
// anywhere else are literal.
std::string quoted_word(const std::string& word) {
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : word) {
    if (c == '\\') {
      backslashes++;
      continue;
    }
    out.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    out += c;
    backslashes = 0;
  }
  out.append(2 * backslashes, '\\');
  return out + "\"";
}

}  // namespace

std::string windows_command_line(const std::vector<std::string>& argv) {
  std::string line;
  for (const std::string& word : argv) line += (line.empty() ? "" : " ") + (needs_quotes(word) ? quoted_word(word) : word);
  return line;
}
