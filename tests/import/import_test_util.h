// Helpers of the import's tests: TFS tables written from rows of numbers,
// and the job's map lines read back and multiplied into linear maps, apart
// from the importer's own code.
#pragma once
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "import/import_job.h"

namespace import_test {

const double kTwoPi = 6.283185307179586476925286766559;

// A TFS text: header lines as written, the column names (all numbers but
// NAME and KEYWORD) and rows whose fields are already formatted.
inline std::string tfs_text(const std::string& headers, const std::vector<std::string>& columns,
                            const std::vector<std::vector<std::string>>& rows) {
  std::string text = headers + "*";
  for (const std::string& c : columns) text += " " + c;
  text += "\n$";
  for (const std::string& c : columns) text += c == "NAME" || c == "KEYWORD" ? " %s" : " %le";
  text += "\n";
  for (const auto& row : rows) {
    for (const std::string& field : row) text += " " + field;
    text += "\n";
  }
  return text;
}

inline std::string num(double v) {
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", v);
  return text;
}

inline std::string ring_headers(double q1, double q2, double ex = 1e-8, double ey = 5e-9) {
  return "@ NAME %05s \"TWISS\"\n@ SEQUENCE %04s \"RING\"\n@ PARTICLE %06s \"PROTON\"\n@ LENGTH %le 100\n"
         "@ Q1 %le " + num(q1) + "\n@ Q2 %le " + num(q2) + "\n@ EX %le " + num(ex) + "\n@ EY %le " + num(ey) + "\n";
}

inline ImportOptions options_for(const char* path = "ring.tfs") {
  ImportOptions o = default_import_options();
  o.table_path = path;
  o.job_dir = "job";
  return o;
}

inline ImportResult run_import(const std::string& text, const ImportOptions& o) {
  ImportResult result;
  import_table(text.data(), text.size(), &o, &result);
  return result;
}

struct JobLine {
  std::string key;  // upper case
  std::vector<double> values;
};

// The job's lines with a key, comments and blank lines dropped.
inline std::vector<JobLine> job_lines(const std::string& job) {
  std::vector<JobLine> lines;
  std::istringstream in(job);
  std::string text;
  while (std::getline(in, text)) {
    std::istringstream words(text.substr(0, text.find('#')));
    JobLine line;
    if (!(words >> line.key)) continue;
    for (char& c : line.key) c = char(std::toupper(static_cast<unsigned char>(c)));
    std::string word;
    while (words >> word) line.values.push_back(std::strtod(word.c_str(), nullptr));
    lines.push_back(line);
  }
  return lines;
}

inline std::vector<JobLine> map_lines(const std::string& job) {
  std::vector<JobLine> map;
  for (const JobLine& line : job_lines(job))
    if (line.key == "R" || line.key == "M" || line.key == "K" || line.key == "KS") map.push_back(line);
  return map;
}

struct Matrix4 {
  double m[4][4];
};

inline Matrix4 identity4() {
  Matrix4 a{};
  for (int k = 0; k < 4; k++) a.m[k][k] = 1;
  return a;
}

// b after a.
inline Matrix4 times(const Matrix4& b, const Matrix4& a) {
  Matrix4 c{};
  for (int i = 0; i < 4; i++)
    for (int j = 0; j < 4; j++)
      for (int k = 0; k < 4; k++) c.m[i][j] += b.m[i][k] * a.m[k][j];
  return c;
}

// An R line as the matrix its definition gives: each plane turned by
// 2 pi q with beta, alpha (defaults 1, 0).
inline Matrix4 rotation_matrix(const std::vector<double>& v) {
  Matrix4 a{};
  for (int plane = 0; plane < 2; plane++) {
    double mu = kTwoPi * v[size_t(plane)];
    double beta = v.size() > size_t(2 + 2 * plane) ? v[size_t(2 + 2 * plane)] : 1;
    double alpha = v.size() > size_t(3 + 2 * plane) ? v[size_t(3 + 2 * plane)] : 0;
    int o = 2 * plane;
    a.m[o][o] = std::cos(mu) + alpha * std::sin(mu);
    a.m[o][o + 1] = beta * std::sin(mu);
    a.m[o + 1][o] = -(1 + alpha * alpha) / beta * std::sin(mu);
    a.m[o + 1][o + 1] = std::cos(mu) - alpha * std::sin(mu);
  }
  return a;
}

// The product of the R and M lines among the first count map lines.
inline Matrix4 linear_map(const std::vector<JobLine>& map, size_t count) {
  Matrix4 total = identity4();
  for (size_t k = 0; k < count && k < map.size(); k++) {
    Matrix4 a{};
    if (map[k].key == "R") a = rotation_matrix(map[k].values);
    else if (map[k].key == "M")
      for (int i = 0; i < 16; i++) a.m[i / 4][i % 4] = map[k].values[size_t(i)];
    else continue;
    total = times(a, total);
  }
  return total;
}

struct PlaneOptics {
  double q;  // fractional tune, 0 <= q < 1
  double beta, alpha;
};

// The tune and Twiss functions of one plane of a one-turn map.
inline PlaneOptics periodic_optics(const Matrix4& a, int plane) {
  int o = 2 * plane;
  double c = (a.m[o][o] + a.m[o + 1][o + 1]) / 2;
  double s = (a.m[o][o + 1] > 0 ? 1 : -1) * std::sqrt(1 - c * c);
  double mu = std::atan2(s, c);
  if (mu < 0) mu += kTwoPi;
  return PlaneOptics{mu / kTwoPi, a.m[o][o + 1] / s, (a.m[o][o] - a.m[o + 1][o + 1]) / (2 * s)};
}

// The beta function a map carries the Twiss functions (beta0, alpha0) to.
inline double carried_beta(const Matrix4& a, int plane, double beta0, double alpha0) {
  int o = 2 * plane;
  double u = a.m[o][o] * beta0 - a.m[o][o + 1] * alpha0;
  return (u * u + a.m[o][o + 1] * a.m[o][o + 1]) / beta0;
}

}  // namespace import_test
