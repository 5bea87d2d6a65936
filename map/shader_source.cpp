#include "map/shader_source.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "map/colour_code.h"
#include "util/text_util.h"

namespace {

// How a shader writes its reals: single precision as it always has (a
// float constant printed with "%.9lg"), or double precision (the double
// itself, "%.17g" with the lf suffix, which a compiler reads back as the
// same double).
struct RealForm {
  bool in_double;
  const char* type;  // "float" or "double"
};
const RealForm kSingleForm = {false, "float"};
const RealForm kDoubleForm = {true, "double"};

// A constant as the form writes it, with its sign always when signed.
// NOTE: a GLSL double literal needs a point or an exponent before its
// suffix ("1lf" is not one), so a whole number gets ".0".
std::string real_text(const RealForm& f, double d, bool signed_ = false) {
  if (!f.in_double) return format_text(signed_ ? "%+.9lg" : "%.9lg", d);
  std::string t = format_text(signed_ ? "%+.17g" : "%.17g", d);
  if (t.find_first_of(".e") == std::string::npos) t += ".0";
  return t + "lf";
}

// Turn counts up to which the colour code is one "else if" line each, and
// the size of the blocks that the search form beyond counts branch-free.
const int32_t kChainedTurnCounts = 64;
const int32_t kCountBlock = 64;

// tc names the point's coordinates in the square, 0 to 1 across and down:
// the fragment's texture coordinates, or the compute shader's own.
std::string grid_lines(const LoweredMap* m, const char* tc = "gl_TexCoord[0]") {
  int b = m->baseres;
  long long bb = static_cast<long long>(b) * b;
  std::string t = format_text(
      "\tfloat x=floor(%s.x*%d)/%d,\n\t\ty=floor(%s.y*%d)/%d,\n"
      "\t\txp=floor((%s.x-x)*%lld)/%d,\n\t\typ=floor((%s.y-y)*%lld)/%d;\n",
      tc, b, b, tc, b, b, tc, bb, b, tc, bb, b);
  t += format_text("\tx=%.9lg%+.9lg*(x+jx/%d); xp=%.9lg%+.9lg*(xp+jxp/%d);\n", m->low[0].written, m->span[0].written,
                   b, m->low[1].written, m->span[1].written, b);
  t += format_text("\ty=%.9lg%+.9lg*(y+jy/%d); yp=%.9lg%+.9lg*(yp+jyp/%d);\n", m->low[2].written, m->span[2].written,
                   b, m->low[3].written, m->span[3].written, b);
  return t;
}

// The same in double precision, from the pixel's whole numbers: the grid
// index of column c is exactly (c / baseres) / baseres for x and
// (c % baseres) / baseres for xp, and the same of the row for y and yp.
std::string double_grid_lines(const LoweredMap* m) {
  int b = m->baseres;
  std::string t = format_text(
      "\tdouble x=double(pixel.x/%du)/%d.0lf, y=double(pixel.y/%du)/%d.0lf,\n"
      "\t\txp=double(pixel.x%%%du)/%d.0lf, yp=double(pixel.y%%%du)/%d.0lf;\n",
      b, b, b, b, b, b, b, b);
  const char* const names[4] = {"x", "xp", "y", "yp"};
  const char* const jitters[4] = {"jx", "jxp", "jy", "jyp"};
  for (int c = 0; c < 4; c++) {
    t += c % 2 ? " " : "\t";
    t += format_text("%s=", names[c]) + real_text(kDoubleForm, m->low[c].written) +
         real_text(kDoubleForm, m->span[c].written, true) + format_text("*(%s+%s/%d.0lf);", names[c], jitters[c], b);
    if (c % 2) t += "\n";
  }
  return t;
}

std::string loop_head(const LoweredMap* m, const RealForm& f = kSingleForm) {
  std::string t = format_text("\t%s i;\n\tfor (i=0;i<=%d", m->int_counter ? "int" : "float", m->turn_counts.back());
  const char* const tests[4] = {" && x>=", " && x<=", " && y>=", " && y<="};
  for (int k = 0; k < 4; k++)
    if (m->tested[k]) t += tests[k] + real_text(f, m->limit[k].written);
  return t + ";i++)\n\t{\n";
}

// The momentum changes of a kick as sums of strength times polynomial: a
// normal kick adds -Re(z^j) to xp and Im(z^j) to yp, a skew kick Im(z^j)
// to xp and Re(z^j) to yp.
std::string expanded_kick(const double* s, int32_t orders, bool skew, const RealForm& f) {
  std::string t;
  for (int plane = 0; plane < 2; plane++) {
    t += plane == 0 ? "\t\txp+=" : "; yp+=";
    bool any = false;
    for (int j = 1; j <= orders; j++) {
      if (s[j - 1] == 0) continue;
      std::string power = skew ? power_polynomial(1 - plane, j, false, f.in_double)
                               : kick_polynomial(plane, j, f.in_double);
      t += real_text(f, s[j - 1], true) + "*(" + power + ")";
      any = true;
    }
    if (!any) t += "0";
  }
  return t + ";\n";
}

// One new coordinate as a sum of the old ones (in the temporaries named),
// from the first coefficient on.
std::string linear_sum(const char* target, const double* c, const char* const* names, int terms, const RealForm& f) {
  std::string t = format_text("%s=", target) + real_text(f, c[0]) + "*" + names[0];
  for (int k = 1; k < terms; k++) t += real_text(f, c[k], true) + "*" + names[k];
  return t + ";";
}

// Each plane through its 2 x 2 matrix, the old position kept in u.
std::string rotation_block(const double* c, const RealForm& f) {
  const char* const x[2] = {"u", "xp"};
  const char* const y[2] = {"u", "yp"};
  return format_text("\t\t{ %s u=x; ", f.type) + linear_sum("x", c, x, 2, f) + " " + linear_sum("xp", c + 2, x, 2, f) +
         " u=y; " + linear_sum("y", c + 4, y, 2, f) + " " + linear_sum("yp", c + 6, y, 2, f) + " }\n";
}

std::string matrix_block(const double* c, const RealForm& f) {
  const char* const old[4] = {"a", "b", "c", "d"};
  return format_text("\t\t{ %s a=x, b=xp, c=y, d=yp; ", f.type) + linear_sum("x", c, old, 4, f) + " " +
         linear_sum("xp", c + 4, old, 4, f) + " " + linear_sum("y", c + 8, old, 4, f) + " " +
         linear_sum("yp", c + 12, old, 4, f) + " }\n";
}

std::string element_block(const LoweredMap* m, const LoweredOp* op, const RealForm& f) {
  const double* c = m->written.data() + op->first;
  switch (op->kind) {
    case kLoweredDrift: return "\t\tx+=" + real_text(f, c[0]) + "*xp; y+=" + real_text(f, c[0]) + "*yp;\n";
    case kLoweredKick: return expanded_kick(c, op->count, false, f);
    case kLoweredSkewKick: return expanded_kick(c, op->count, true, f);
    case kLoweredRotation: return rotation_block(c, f);
    case kLoweredMatrix: break;
  }
  return matrix_block(c, f);
}

std::string elements_text(const LoweredMap* m, const RealForm& f = kSingleForm) {
  std::string t;
  for (const LoweredOp& op : m->ops) t += element_block(m, &op, f);
  return t;
}

// One "else if" line per turn count, as the colour code has always been
// written; the chain ends with black for particles past every turn count.
std::string colour_chain(const LoweredMap* m) {
  std::string t;
  for (int32_t k = 0; k < int32_t(m->turn_counts.size()); k++) {
    double rgb[3];
    class_colour(k + 1, m->colour_levels, rgb);
    t += format_text("\t%sif (i<=%d) gl_FragColor=vec4(%g,%g,%g,1);\n", k == 0 ? "" : "else ",
                     m->turn_counts[size_t(k)], rgb[0], rgb[1], rgb[2]);
  }
  return t + "\telse gl_FragColor=vec4(0,0,0,1);\n";
}

// Turn counts of the block [first, end) that lie below i, counted without
// branches. The block's last one is not tested: the search only enters the
// block when i is at or below it.
std::string block_count(const LoweredMap* m, int32_t first, int32_t end, const std::string& indent) {
  std::string t = indent + format_text("below=%d", first);
  for (int32_t k = first; k + 1 < end; k++) t += format_text("+int(i>%d)", m->turn_counts[size_t(k)]);
  return t + ";\n";
}

// First turn count of block b; a block index past the last block gives n.
int32_t block_start(const LoweredMap* m, int32_t b) {
  return int32_t(std::min<int64_t>(int32_t(m->turn_counts.size()), int64_t(b) * kCountBlock));
}

// Binary search for the first block whose last turn count is at or above i,
// over blocks lo .. hi; the index one past the last block means past them all.
void search_blocks(const LoweredMap* m, int32_t lo, int32_t hi, int depth, std::string* t) {
  std::string indent(size_t(depth), '\t');
  int32_t n = int32_t(m->turn_counts.size());
  if (lo == hi) {
    if (block_start(m, lo) == n) *t += indent + format_text("below=%d;\n", n);
    else *t += block_count(m, block_start(m, lo), block_start(m, lo + 1), indent);
    return;
  }
  int32_t mid = lo + (hi - lo) / 2;
  *t += indent + format_text("if (i<=%d) {\n", m->turn_counts[size_t(block_start(m, mid + 1) - 1)]);
  search_blocks(m, lo, mid, depth + 1, t);
  *t += indent + "} else {\n";
  search_blocks(m, mid + 1, hi, depth + 1, t);
  *t += indent + "}\n";
}

// NOTE: a chain of thousands of "else if" lines nests as deep as it is
// long, and Mesa's compiler runs out of parser stack at about 1,660 of them.
// Past kChainedTurnCounts the number of turn counts below i is found by a
// binary search over blocks of 64 (nested log2(n / 64) deep), counted
// branch-free within the block: few branches for the compiler, and about
// log2(n / 64) + 64 comparisons per pixel. The colour is then made from the
// code c = that number + 1 (0, black, past them all) written in base L,
// most significant digit in red, exactly as the chain's literals are.
std::string colour_search(const LoweredMap* m) {
  int32_t n = int32_t(m->turn_counts.size()), blocks = (n + kCountBlock - 1) / kCountBlock, l = m->colour_levels;
  std::string t = "\tint below;\n";
  search_blocks(m, 0, blocks, 1, &t);
  t += format_text("\tint code=below<%d ? below+1 : 0;\n", n);
  t += format_text("\tgl_FragColor=vec4(float(code/%d),float(code/%d-code/%d*%d),float(code-code/%d*%d),%d)/%d.0;\n",
                   l * l, l, l * l, l, l, l, l - 1, l - 1);
  return t;
}

std::string colour_code(const LoweredMap* m) {
  return int32_t(m->turn_counts.size()) <= kChainedTurnCounts ? colour_chain(m) : colour_search(m);
}

// Binomial coefficients of high orders pass 2^63; they are then written in
// exponent form rather than wrapped into a wrong integer (a double literal
// in a double shader, or a float one would round it).
std::string coefficient_text(double m, bool in_double) {
  if (m < 9.2e18) return format_text("%lld*", static_cast<long long>(m));
  return format_text(in_double ? "%.17glf*" : "%.17g*", m);
}

}  // namespace

double binomial(int n, int k) { return factorial(n) / (factorial(k) * factorial(n - k)); }

std::string kick_polynomial(int plane, int order, bool in_double) {
  return power_polynomial(plane, order, plane == 0, in_double);
}

// Term b of (x+iy)^n is C(n, b) x^(n-b) (iy)^b: real for even b, imaginary
// for odd, with i^b's sign: + where b mod 4 is 0 or 1.
std::string power_polynomial(int part, int order, bool negate, bool in_double) {
  std::string t;
  for (int b = part; b <= order; b += 2) {
    t += ((b % 4 == 0 || b % 4 == 1) != negate) ? "+" : "-";
    double whole = std::trunc(binomial(order, b));
    if (whole > 1) t += coefficient_text(whole, in_double);
    for (int f = 0; f < order; f++) {
      if (f) t += "*";
      t += f < order - b ? "x" : "y";
    }
  }
  return t;
}

// NOTE: the text is built in one growing std::string and copied out once:
// appending each piece to an exact-length C string copies the whole text
// per piece, which made 10^5-element maps take minutes.
char* generate_shader(const LoweredMap* m) {
  // GLSL 1.20 allows the implicit int-to-float conversions of the lines
  // below (gl_TexCoord[0].x*4, i=0); strict 1.10 compilers reject them.
  std::string text = "#version 120\n";
  text += "uniform float jx,jxp,jy,jyp;\nvoid main()\n{\n";
  text += grid_lines(m) + loop_head(m) + elements_text(m) + "\t}\n" + colour_code(m) + "}";
  char* copy = nullptr;
  string_set(&copy, text.c_str());
  return copy;
}

namespace {

// Declarations of the compute shader: the counters (levels 0 .. n, the
// low and high words of the turns made, the survivors on the box's edge),
// the picture and the uniforms (doubles in a double shader); then, in a
// single-precision shader, the grid point's coordinates in the square.
std::string compute_head(int side, const RealForm& f) {
  std::string t = format_text("#version 430\nlayout(local_size_x=%d,local_size_y=%d) in;\n", kComputeGroupSide,
                              kComputeGroupSide);
  t += "layout(std430,binding=0) buffer Counts { uint counts[]; };\n";
  t += "layout(rgba8,binding=0) uniform writeonly image2D square;\n";
  t += format_text("uniform %s jx,jxp,jy,jyp;\nuniform bool picture;\nvoid main()\n{\n", f.type);
  t += "\tuvec2 pixel=gl_GlobalInvocationID.xy;\n";
  // Whole groups cover the square; those past its edge have nothing to do.
  if (side % kComputeGroupSide != 0) t += format_text("\tif (pixel.x>=%du || pixel.y>=%du) return;\n", side, side);
  if (f.in_double) return t;
  // The fragment's texture coordinates at its pixel's centre; row 0 is the
  // top row of the square.
  return t + format_text("\tvec2 tc=(vec2(pixel)+0.5)/%d;\n", side);
}

// Sets low to the index of the first limit in [from, to) that i does not
// pass (to when it passes them all), knowing it passes those before from:
// halves while the range is long, then counts the limits passed.
// NOTE: the limits are written as the fragment shader writes its turn
// counts, so a float counter meets the same rounded values.
std::string level_count(const std::vector<int32_t>& limits, int32_t from, int32_t to, const std::string& indent) {
  const int32_t kCounted = 16;
  if (to - from <= kCounted) {
    std::string t = indent + format_text("low=%du", from);
    for (int32_t k = from; k < to; k++) t += format_text("+uint(i>%d)", limits[size_t(k)]);
    return t + ";\n";
  }
  int32_t mid = from + (to - from) / 2;
  std::string inner = indent + "\t";
  return indent + format_text("if (i<=%d)\n", limits[size_t(mid) - 1]) + indent + "{\n" +
         level_count(limits, from, mid, inner) + indent + "}\n" + indent + "else\n" + indent + "{\n" +
         level_count(limits, mid, to, inner) + indent + "}\n";
}

// The level is that of the first turn count t with i <= iterations[t]; the
// first t with i at or below the running maximum is the same one, and the
// running maxima ascend, so they can be searched.
std::string level_search(const LoweredMap* m) {
  int32_t n = int32_t(m->level_limits.size());
  std::string t = "\tuint low;\n" + level_count(m->level_limits, 0, n, "\t");
  return t + format_text("\tuint level=low<%du ? low+1u : 0u;\n", n);
}

// Counts the level, when asked the turns (32-bit words with a carry into
// the next), a survivor whose grid point has an index (x, xp, y or yp) at
// the first or the last grid line, and stores the class colour when the
// picture is asked for.
std::string compute_tail(const LoweredMap* m, bool count_turns) {
  int32_t n = int32_t(m->turn_counts.size()), l = m->colour_levels, b = m->baseres;
  std::string t = level_search(m) + "\tatomicAdd(counts[level],1u);\n";
  if (count_turns) {
    t += format_text("\tuint turns=uint(i), before=atomicAdd(counts[%d],turns);\n", n + 1);
    t += format_text("\tif (before+turns<before) atomicAdd(counts[%d],1u);\n", n + 2);
  }
  t += format_text("\tuvec4 grid=uvec4(pixel/%du,pixel%%%du);\n", b, b);
  t += format_text("\tif (level==0u && (any(equal(grid,uvec4(0u))) || any(equal(grid,uvec4(%du))))) "
                   "atomicAdd(counts[%d],1u);\n",
                   b - 1, n + 3);
  t += format_text("\tif (picture) imageStore(square,ivec2(pixel),vec4(level/%du,level/%du%%%du,level%%%du,%d)/%d);\n",
                   l * l, l, l, l, l - 1, l - 1);
  return t + "}\n";
}

}  // namespace

char* generate_compute_shader(const LoweredMap* m, bool count_turns, Precision precision) {
  const RealForm& f = precision == kPrecisionDouble ? kDoubleForm : kSingleForm;
  std::string t = compute_head(m->side, f) + (f.in_double ? double_grid_lines(m) : grid_lines(m, "tc"));
  t += loop_head(m, f) + elements_text(m, f) + "\t}\n" + compute_tail(m, count_turns);
  char* text = nullptr;
  string_set(&text, t.c_str());
  return text;
}
