#include "results.h"

#include <cmath>
#include <cstdlib>
#include <sstream>

#include "reference/reference_tracker.h"
#include "results/sums.h"

std::vector<std::string> split(const std::string& text, char at) {
  std::vector<std::string> parts;
  std::stringstream in(text);
  for (std::string part; std::getline(in, part, at);) parts.push_back(part);
  return parts;
}

std::vector<Block> result_blocks(const std::string& text) {
  std::vector<std::string> lines = split(text, '\n');
  std::vector<Block> blocks;
  for (size_t i = 1; i + 1 < lines.size();) {
    Block b{lines[i], lines[i + 1], {}};
    for (i += 2; i < lines.size() && !lines[i].empty(); i++) b.rows.push_back(split(lines[i], ','));
    blocks.push_back(b);
    i++;
  }
  return blocks;
}

std::vector<double> mean_column(const Block& b) {
  std::vector<double> means;
  for (const auto& row : b.rows) means.push_back(std::atof(row.at(1).c_str()));
  return means;
}

std::vector<double> reference_rows(const JobSettings* s, int samples) {
  std::vector<double> sum(size_t(iteration_count(s)) + 1, 0.0);
  for (int k = 1; k <= samples; k++) {
    double jitter[4];
    reference_sample_jitter(k, jitter);
    std::vector<int64_t> rows = row_counts(level_counts(reference_levels(s, jitter), iteration_count(s)));
    for (size_t r = 0; r < rows.size(); r++) sum[r] += double(rows[r]) / samples;
  }
  return sum;
}

double largest_difference(const Block& b, const JobSettings* s, int samples) {
  std::vector<double> program = mean_column(b), reference = reference_rows(s, samples);
  double v0 = particle_volume(s), worst = 0;
  for (size_t r = 0; r < reference.size(); r++) worst = std::max(worst, std::fabs(program.at(r) / v0 - reference[r]));
  return worst;
}

std::string results_after_date(const std::string& csv) {
  size_t end = csv.find('\n');
  return end == std::string::npos ? "" : csv.substr(end + 1);
}
