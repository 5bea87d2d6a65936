#include "map/shader_source.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "util/text_util.h"

namespace {

const double kNoLimit = 1e20;

void append(char** text, const std::string& piece) { string_append(text, piece.c_str()); }

double span(const Range& r) { return r.high - r.low; }

bool finite_limits(const Range& r) { return r.low > -kNoLimit && r.high < kNoLimit; }

// tc names the point's coordinates in the square, 0 to 1 across and down:
// the fragment's texture coordinates, or the compute shader's own.
std::string grid_lines(const JobSettings* s, const char* tc = "gl_TexCoord[0]") {
  int b = s->baseres;
  long long bb = static_cast<long long>(b) * b;
  std::string t = format_text(
      "\tfloat x=floor(%s.x*%d)/%d,\n\t\ty=floor(%s.y*%d)/%d,\n"
      "\t\txp=floor((%s.x-x)*%lld)/%d,\n\t\typ=floor((%s.y-y)*%lld)/%d;\n",
      tc, b, b, tc, b, b, tc, bb, b, tc, bb, b);
  t += format_text("\tx=%.9lg%+.9lg*(x+jx/%d); xp=%.9lg%+.9lg*(xp+jxp/%d);\n", s->xrange.low, span(s->xrange), b,
                   s->xprange.low, span(s->xprange), b);
  t += format_text("\ty=%.9lg%+.9lg*(y+jy/%d); yp=%.9lg%+.9lg*(yp+jyp/%d);\n", s->yrange.low, span(s->yrange), b,
                   s->yprange.low, span(s->yprange), b);
  return t;
}

std::string loop_head(const JobSettings* s) {
  int32_t last = last_iteration(s);
  std::string t = format_text("\t%s i;\n\tfor (i=0;i<=%d", int_turn_counter(s) ? "int" : "float", last);
  CollimatorTests c = collimator_tests(s);
  if (c.x_low) t += format_text(" && x>=%.9lg", s->xcollimator.low);
  if (c.x_high) t += format_text(" && x<=%.9lg", s->xcollimator.high);
  if (c.y_low) t += format_text(" && y>=%.9lg", s->ycollimator.low);
  if (c.y_high) t += format_text(" && y<=%.9lg", s->ycollimator.high);
  return t + ";i++)\n\t{\n";
}

// Strengths s_j = k_j / j! for j = 1 .. orders; index 0 is unused.
CountedDoubles kick_strengths(const MapElement* e) {
  CountedDoubles s = counted_doubles_alloc(e->orders + 1);
  s[0] = 0;
  for (int j = e->orders; j >= 1; j--) s[j] = kick_strength(e, j);
  return s;
}

std::string expanded_kick(const CountedDoubles s) {
  int n = counted_doubles_count(s);
  std::string t;
  for (int plane = 0; plane < 2; plane++) {
    t += plane == 0 ? "\t\txp+=" : "; yp+=";
    bool any = false;
    for (int j = 1; j < n; j++) {
      if (s[j] == 0) continue;
      t += format_text("%+.9lg*(", s[j]) + kick_polynomial(plane, j) + ")";
      any = true;
    }
    if (!any) t += "0";
  }
  return t + ";\n";
}

std::string recurrence_kick(const CountedDoubles s) {
  int n = counted_doubles_count(s);
  std::string t;
  for (int j = 1; j < n; j++) {
    t += j == 1 ? "\t\tX=-x; Y=y;\n" : "\t\toX=X; X=x*X+y*Y; Y=x*Y-y*oX;\n";
    if (s[j] != 0) t += format_text("\t\txp+=%+.9lg*X; yp+=%+.9lg*Y;\n", s[j], s[j]);
  }
  return t;
}

std::string element_block(const MapElement* e, bool recurrence) {
  if (e->kind == kElementDrift) return format_text("\t\tx+=%.9lg*xp; y+=%.9lg*yp;\n", e->length, e->length);
  CountedDoubles s = kick_strengths(e);
  std::string t = recurrence ? recurrence_kick(s) : expanded_kick(s);
  counted_doubles_free(s);
  return t;
}

std::string colour_lines(const JobSettings* s) {
  std::string t;
  for (int32_t k = 0; k < iteration_count(s); k++) {
    double rgb[3];
    class_colour(k + 1, s->colourlevels, rgb);
    t += format_text("\t%sif (i<=%d) gl_FragColor=vec4(%g,%g,%g,1);\n", k == 0 ? "" : "else ",
                     iteration_at(s, k), rgb[0], rgb[1], rgb[2]);
  }
  return t;
}

// Binomial coefficients of high orders pass 2^63; they are then written in
// exponent form rather than wrapped into a wrong integer.
std::string coefficient_text(double m) {
  if (m < 9.2e18) return format_text("%lld*", static_cast<long long>(m));
  return format_text("%.17g*", m);
}

}  // namespace

double factorial(int n) { return n <= 1 ? 1.0 : n * factorial(n - 1); }

double kick_strength(const MapElement* e, int32_t order) {
  return order >= 1 && order <= e->orders ? e->strengths[order - 1] / factorial(order) : 0;
}

double binomial(int n, int k) { return factorial(n) / (factorial(k) * factorial(n - k)); }

CollimatorTests collimator_tests(const JobSettings* s) {
  bool x_finite = finite_limits(s->xcollimator), y_finite = finite_limits(s->ycollimator);
  CollimatorTests c;
  c.x_low = !(s->xcollimator.low <= -kNoLimit && y_finite);
  c.x_high = !(s->xcollimator.high >= kNoLimit && y_finite);
  c.y_low = !(s->ycollimator.low <= -kNoLimit && x_finite);
  c.y_high = !(s->ycollimator.high >= kNoLimit && x_finite);
  return c;
}

void class_colour(int code, int levels, double rgb[3]) {
  double top = levels - 1;
  rgb[0] = (code / levels / levels) / top;
  rgb[1] = ((code / levels) % levels) / top;
  rgb[2] = (code % levels) / top;
}

std::string kick_polynomial(int plane, int order) {
  std::string t;
  for (int b = plane; b <= order; b += 2) {
    t += (b % 4 == 0 || b % 4 == 3) ? "-" : "+";
    double whole = std::trunc(binomial(order, b));
    if (whole > 1) t += coefficient_text(whole);
    for (int f = 0; f < order; f++) {
      if (f) t += "*";
      t += f < order - b ? "x" : "y";
    }
  }
  return t;
}

char* generate_shader(const JobSettings* s, bool recurrence) {
  char* text = nullptr;
  // GLSL 1.20 allows the implicit int-to-float conversions of the lines
  // below (gl_TexCoord[0].x*4, i=0); strict 1.10 compilers reject them.
  string_set(&text, "#version 120\n");
  append(&text, "uniform float jx,jxp,jy,jyp;\nvoid main()\n{\n");
  append(&text, grid_lines(s));
  if (recurrence) append(&text, "\tfloat X,Y,oX;\n");
  append(&text, loop_head(s));
  for (int32_t k = 0; k < element_count(s); k++)
    append(&text, element_block(element_at(s, k), recurrence));
  append(&text, "\t}\n");
  append(&text, colour_lines(s));
  append(&text, "\telse gl_FragColor=vec4(0,0,0,1);\n}");
  return text;
}

bool int_turn_counter(const JobSettings* s) { return last_iteration(s) > 15000000; }

std::vector<int32_t> level_limits(const JobSettings* s) {
  std::vector<int32_t> limits(size_t(iteration_count(s)));
  for (size_t t = 0; t < limits.size(); t++) {
    int32_t turns = iteration_at(s, int32_t(t));
    limits[t] = t > 0 && limits[t - 1] > turns ? limits[t - 1] : turns;
  }
  return limits;
}

namespace {

// Declarations of the compute shader: the counters (levels 0 .. n, then
// the low and high words of the turns made), the picture and the uniforms;
// then the grid point's coordinates in the square.
std::string compute_head(int side) {
  std::string t = format_text("#version 430\nlayout(local_size_x=%d,local_size_y=%d) in;\n", kComputeGroupSide,
                              kComputeGroupSide);
  t += "layout(std430,binding=0) buffer Counts { uint counts[]; };\n";
  t += "layout(rgba8,binding=0) uniform writeonly image2D square;\n";
  t += "uniform float jx,jxp,jy,jyp;\nuniform bool picture;\nvoid main()\n{\n";
  t += "\tuvec2 pixel=gl_GlobalInvocationID.xy;\n";
  // Whole groups cover the square; those past its edge have nothing to do.
  if (side % kComputeGroupSide != 0) t += format_text("\tif (pixel.x>=%du || pixel.y>=%du) return;\n", side, side);
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
std::string level_search(const JobSettings* s) {
  std::vector<int32_t> limits = level_limits(s);
  int32_t n = int32_t(limits.size());
  std::string t = "\tuint low;\n" + level_count(limits, 0, n, "\t");
  return t + format_text("\tuint level=low<%du ? low+1u : 0u;\n", n);
}

// Counts the level and, when asked, the turns (32-bit words with a carry
// into the next), and stores the class colour when the picture is asked for.
std::string compute_tail(const JobSettings* s, bool count_turns) {
  int32_t n = iteration_count(s), l = s->colourlevels;
  std::string t = level_search(s) + "\tatomicAdd(counts[level],1u);\n";
  if (count_turns) {
    t += format_text("\tuint turns=uint(i), before=atomicAdd(counts[%d],turns);\n", n + 1);
    t += format_text("\tif (before+turns<before) atomicAdd(counts[%d],1u);\n", n + 2);
  }
  t += format_text("\tif (picture) imageStore(square,ivec2(pixel),vec4(level/%du,level/%du%%%du,level%%%du,%d)/%d);\n",
                   l * l, l, l, l, l - 1, l - 1);
  return t + "}\n";
}

}  // namespace

char* generate_compute_shader(const JobSettings* s, bool count_turns) {
  std::string t = compute_head(s->baseres * s->baseres) + grid_lines(s, "tc") + loop_head(s);
  for (int32_t k = 0; k < element_count(s); k++) t += element_block(element_at(s, k), false);
  t += "\t}\n" + compute_tail(s, count_turns);
  char* text = nullptr;
  string_set(&text, t.c_str());
  return text;
}
