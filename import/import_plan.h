// From a ring's Twiss table to the map of a Veldspan job: the elements with
// strengths of order 2 or more become thin kicks, and everything between
// them becomes the linear transport their Twiss functions give.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "import/twiss_table.h"

// Two points whose betas differ by at most this much relatively, and whose
// alphas by at most this much times (1 + |alpha|), have the same Twiss
// functions: the transport between them is written as an R line.
const double kSameTwissTolerance = 1e-10;
// Skew quadrupole strengths K1SL (1/m, after TILT) and coupling terms R11,
// R12, R21, R22 up to this size are numerical noise (tables of uncoupled
// rings carry about 1e-8 there); beyond it the optics are coupled.
const double kCouplingTolerance = 1e-6;
// Dispersion DX, DY (m) at a kick beyond this is reported as not modelled.
const double kDispersionTolerance = 1e-6;
// The phase advance across the table's rows may pass the tune by this much
// (in units of 2 pi) before the table is taken to cover more than a turn.
const double kPhaseTolerance = 1e-6;

struct ImportOptions {
  std::string table_path;           // the TFS file
  std::string job_dir;              // gets input.txt
  double sigmas;                    // half-width of the box in beam sigmas
  std::vector<int32_t> iterations;  // turn counts, ascending
  int32_t baseres;                  // grid points per coordinate
  int32_t maxsamples;               // the job's sample count
  bool has_box;                     // box holds half-widths given by hand
  double box[4];                    // x, xp, y, yp half-widths in job units
  bool coupled_as_kicks;            // keep K1SL as kicks instead of refusing coupling
  bool force;                       // replace an existing input.txt
  bool help;                        // print the usage and end
};

ImportOptions default_import_options();

// One line of the job's map.
enum MapLineKind : int32_t { kMapRotation, kMapMatrix, kMapNormal, kMapSkew };
struct MapLine {
  MapLineKind kind;            // R, M, K or KS
  std::vector<double> values;  // the numbers after the key word
  int32_t row;                 // the row of the kick it is or leads to; -1 for the transport closing the turn
};

struct ImportPlan {
  std::vector<MapLine> map;  // in the order of the job file
  int32_t kicks;             // elements kept as kicks
  int32_t skew_quadrupoles;  // kicks with a K1SL kept by --coupled-as-kicks
  int32_t tilted;            // kicks rotated by their TILT
  int32_t thick;             // kicks from elements with a length
  int32_t off_orbit;         // kicks expanded about a closed orbit that is not zero
  double table_phase[2];     // phase advance across the table's rows, units of 2 pi
  bool use_emittance;        // the table's EX, EY are usable and written
  double box[4];             // half-widths of x, xp, y, yp
  std::vector<std::string> warnings;
  std::string refusal;       // why no job can be made ("PATH line N: why"); "" when one can
};

// The map, the box and the warnings of a table; refusal says why there is
// no job: coupled optics (unless coupled_as_kicks), a phase advance that
// decreases or passes the tune, or no box (no usable emittances and no
// has_box).
ImportPlan plan_import(const TwissTable* table, const ImportOptions* options);
