// The job file "input.txt" and the settings record it fills.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

#include "util/growarray.h"

// One line split into words; owns the words and their array.
struct WordList {
  int32_t count;  // number of words
  char** words;   // count separately allocated NUL-terminated words
};

struct Range {
  double low;
  double high;
};

// One element of the map, parsed once from its line; the lowered map and
// the tests' trackers read this record.
//   D length                 drift: x += length * xp, y += length * yp
//   K k1 .. kn               thin normal multipole, integrated strengths:
//                            xp -= sum k_j/j! Re((x+iy)^j), yp += sum k_j/j! Im((x+iy)^j)
//   KS ks1 .. ksn            thin skew multipole:
//                            xp += sum ks_j/j! Im((x+iy)^j), yp += sum ks_j/j! Re((x+iy)^j)
//   R qx qy [bx ax by ay]    uncoupled linear element: each plane turned by the
//                            phase 2 pi q with the Twiss functions beta, alpha
//                            there (defaults 1, 0)
//   M m11 m12 .. m44         linear element on (x, xp, y, yp), row by row
enum ElementKind : int32_t { kElementDrift, kElementKick, kElementSkewKick, kElementRotation, kElementMatrix };
struct MapElement {
  ElementKind kind;
  double length;      // drift: its length
  int32_t orders;     // K, KS: strengths given, for orders 1 .. orders; R: 6; M: 16
  double* strengths;  // K, KS: k_1 .. k_orders as written; R: qx qy bx ax by ay (defaults filled in);
                      // M: the sixteen numbers row by row
};

// What an element's numbers track. k_j / j! of a kick line's strengths, the coefficient of the j-th complex
// power; 0 for an order the element does not give.
double kick_strength(const MapElement* e, int32_t order);
double factorial(int n);
// The 2 x 2 matrix (row by row) of a plane turned by the phase 2 pi q at a
// point with the Twiss functions beta, alpha.
void rotation_matrix(double q, double beta, double alpha, double m[4]);

// The engines' arithmetic: single precision (every engine) or double (the
// CPU engine, and the compute engine where the GL has 64-bit floats).
enum Precision : int32_t { kPrecisionSingle, kPrecisionDouble };

struct JobSettings {
  Range xrange;          // initial x covered by the grid
  Range xprange;         // initial xp covered by the grid
  Range yrange;          // initial y covered by the grid
  Range yprange;         // initial yp covered by the grid
  Range xcollimator;     // lost when x leaves [low, high]; +-1e20 means none
  Range ycollimator;     // lost when y leaves [low, high]; +-1e20 means none
  int32_t baseres;       // grid points per coordinate
  int32_t colourlevels;  // levels per colour channel of the loss code
  GrowArray iterations;  // int32_t turn-count thresholds, file order
  GrowArray elements;    // MapElement, file order
  int32_t maxsamples;    // end the run after this sample; 0 runs until quit
  int32_t randompasses;  // a random-jitter pass after every this many samples; 0 or less: none
  uint64_t seed;         // keys the random passes' jitter
  double emittance[2];   // geometric emittances x, y of the beam in the job's units; 0 when the job gives none
  Precision precision;   // the arithmetic the job asks for ("precision"); the command line may override it
  // The first fault met while reading: a file that exists but cannot be
  // read, or a value on a line that no run can use (a word that is not a
  // number, a number that is not finite, a whole number out of its range),
  // with the file and line; "" if none.
  char problem[200];
  // The first value that single precision cannot hold (beyond the largest
  // float), with the file and line; "" if none. Kept apart from problem:
  // only a job tracked in single precision is refused for it.
  char single_problem[200];
};

// The seed of a job that names none.
const uint64_t kDefaultSeed = 20110101;

JobSettings job_defaults();

// The job file's bytes, read once per run: the run's job, its hash and
// the text written into its records all come from these bytes.
struct JobSource {
  std::string path;   // as given, for messages
  std::string bytes;  // the file's bytes; empty for a missing file (the default job)
  uint64_t hash;      // FNV-1a 64-bit hash of bytes
  int error;          // errno of a file that exists but could not be read; 0 otherwise
};
// Reads the file's bytes; false (error set) when it exists but cannot be read.
bool read_job_source(const char* path, JobSource* source);
uint64_t job_hash(const std::string& bytes);
// The job the bytes describe; a source that could not be read, and the
// first unusable value, are noted in problem.
JobSettings parse_job(const JobSource* source);
// Both steps, for callers that need the settings alone.
JobSettings read_job_file(const char* path);

// A value of the job that the precision cannot hold, naming its key and
// line, or "" when all fit: a grid range's limits and span, a collimator
// limit (one at or beyond +-1e20 means none and is never refused), a drift
// length, a kick's k_j / j!, a linear element's numbers. Values that are not finite are the reader's
// problem whatever the precision.
std::string precision_refusal(const JobSettings* s, Precision precision = kPrecisionSingle);

// Why the job cannot be run, or "" when it can: the reader's problem, then
// what single precision cannot hold, baseres outside 1 to 32, a grid range whose low value is not below its
// high one, turn counts that are not ascending, and more of them than
// kMostTurnCounts.
std::string job_refusal(const JobSettings* s);
// The most turn counts a job may have: the loss classes 1 .. n and 0 are
// coded in the three bytes of a pixel's colour.
const int32_t kMostTurnCounts = 256 * 256 * 256 - 1;

// The next line of text from bytes[*at], ended by LF, CR, CR LF or NUL;
// false at the end. *at moves past the line's end.
bool next_text_line(const std::string& bytes, size_t* at, std::string* line);

WordList* split_words(const char* text);
void free_words(WordList* list);

// Word k of a list, or "" when the line has fewer words; a missing number
// reads as 0.
const char* word_at(const WordList* list, int32_t k);

int32_t iteration_count(const JobSettings* s);
int32_t iteration_at(const JobSettings* s, int32_t k);
int32_t last_iteration(const JobSettings* s);
int32_t element_count(const JobSettings* s);
const MapElement* element_at(const JobSettings* s, int32_t k);
// Whether the key word starts a map line (D, K, KS, R or M).
bool is_element_key(const char* key);
// A map element from the words of a map line, key word included; why is
// set (and the element is not to be used) when the line cannot be one.
MapElement parse_element(const WordList* words, std::string* why);
// Whether the job has emittances, so that its aperture is given in beam sigma too.
bool has_emittance(const JobSettings* s);

