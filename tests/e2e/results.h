// Reading the results the program writes, and what the reference tracker
// says they should be.
#pragma once
#include <string>
#include <vector>

#include "map/job_file.h"

struct Block {
  std::string header, columns;
  std::vector<std::vector<std::string>> rows;
};

std::vector<std::string> split(const std::string& text, char at);
// The blocks of an output.csv after its first line; each ends with an
// empty line.
std::vector<Block> result_blocks(const std::string& text);
std::vector<double> mean_column(const Block& b);
// Mean per-row survival counts of the reference tracker over samples 1..n.
std::vector<double> reference_rows(const JobSettings* s, int samples);
// Largest difference in pixels between the program's rows and the
// reference's, over the rows of one block.
double largest_difference(const Block& b, const JobSettings* s, int samples);
// output.csv without its first (dated) line.
std::string results_after_date(const std::string& csv);
