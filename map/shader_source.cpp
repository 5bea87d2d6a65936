#include "map/shader_source.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "util/text_util.h"

namespace {

const double kNoLimit = 1e20;

double span(const Range& r) { return r.high - r.low; }

bool finite_limits(const Range& r) { return r.low > -kNoLimit && r.high < kNoLimit; }

std::string grid_lines(const JobSettings* s) {
  int b = s->baseres;
  long long bb = static_cast<long long>(b) * b;
  std::string t = format_text(
      "\tfloat x=floor(gl_TexCoord[0].x*%d)/%d,\n\t\ty=floor(gl_TexCoord[0].y*%d)/%d,\n"
      "\t\txp=floor((gl_TexCoord[0].x-x)*%lld)/%d,\n\t\typ=floor((gl_TexCoord[0].y-y)*%lld)/%d;\n",
      b, b, b, b, bb, b, bb, b);
  t += format_text("\tx=%.9lg%+.9lg*(x+jx/%d); xp=%.9lg%+.9lg*(xp+jxp/%d);\n", s->xrange.low, span(s->xrange), b,
                   s->xprange.low, span(s->xprange), b);
  t += format_text("\ty=%.9lg%+.9lg*(y+jy/%d); yp=%.9lg%+.9lg*(yp+jyp/%d);\n", s->yrange.low, span(s->yrange), b,
                   s->yprange.low, span(s->yprange), b);
  return t;
}

std::string loop_head(const JobSettings* s) {
  int32_t last = last_iteration(s);
  std::string t = format_text("\t%s i;\n\tfor (i=0;i<=%d", last > 15000000 ? "int" : "float", last);
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

// NOTE: the text is built in one growing std::string and copied out once:
// appending each piece to an exact-length C string copies the whole text
// per piece, which made 10^5-element maps take minutes.
char* generate_shader(const JobSettings* s, bool recurrence) {
  // GLSL 1.20 allows the implicit int-to-float conversions of the lines
  // below (gl_TexCoord[0].x*4, i=0); strict 1.10 compilers reject them.
  std::string text = "#version 120\n";
  text += "uniform float jx,jxp,jy,jyp;\nvoid main()\n{\n";
  text += grid_lines(s);
  if (recurrence) text += "\tfloat X,Y,oX;\n";
  text += loop_head(s);
  for (int32_t k = 0; k < element_count(s); k++) text += element_block(element_at(s, k), recurrence);
  text += "\t}\n";
  text += colour_lines(s);
  text += "\telse gl_FragColor=vec4(0,0,0,1);\n}";
  char* copy = nullptr;
  string_set(&copy, text.c_str());
  return copy;
}
