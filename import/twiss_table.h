// What the import reads from a MAD-X Twiss table: the ring's header values
// and, row by row, the optics, the closed orbit and the multipole strengths.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "import/tfs.h"

// The highest multipole order read: MAD-X writes K1L .. K20L.
const int32_t kMostOrder = 20;

// One row (element) of the table; a column the table lacks reads as 0.
struct TwissRow {
  std::string name;     // NAME
  std::string keyword;  // KEYWORD, "" without the column
  double s, length;     // S, L
  double betx, alfx, mux;  // MUX, MUY in units of 2 pi
  double bety, alfy, muy;
  double x, y;          // closed orbit
  double dx, dy;        // dispersion
  double tilt;          // TILT: the element's roll about s
  double coupling[4];   // R11, R12, R21, R22
  double normal[kMostOrder + 1];  // normal[n] = KnL, n = 1 .. kMostOrder; [0] unused
  double skew[kMostOrder + 1];    // skew[n] = KnSL
  int32_t line;         // the file line of the row
};

struct TwissTable {
  std::string path;      // the file, for messages
  std::string sequence;  // SEQUENCE, "" when not given
  std::string particle;  // PARTICLE
  double length;         // LENGTH; has_length when given
  double q1, q2;         // tunes
  double ex, ey;         // EX, EY; has_emittance when both are given
  bool has_length, has_emittance;
  bool has_dispersion;   // a DX or DY column
  bool has_coupling;     // any of the R11, R12, R21, R22 columns
  bool has_tilt;         // a TILT column
  bool has_s;            // an S column
  int32_t names_line;    // the line of the column names
  std::vector<TwissRow> rows;
};

// Picks the import's values out of a parsed table. False, with
// "PATH line N: why" (or "PATH: why" for the header) in error, for a
// missing required column (NAME, BETX, ALFX, MUX, BETY, ALFY, MUY) or
// header value (Q1, Q2), a column or header of the wrong type, a value that
// is not finite, a beta function that is not positive, a strength column of
// an order above kMostOrder, and a table without rows.
bool read_twiss_table(const TfsTable* tfs, const std::string& path, TwissTable* table, std::string* error);
