#include "map/shader_source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "map/shader_program.h"
#include "test_dir.h"

namespace {

JobSettings job(const std::string& text) {
  write_file("input.txt", text);
  return read_job_file("input.txt");
}

std::string shader(const std::string& text) {
  JobSettings s = job(text);
  LoweredMap m = lower_map(&s);
  char* source = generate_shader(&m);
  std::string out = source;
  std::free(source);
  return out;
}

const char* kWorkedJob =
    "baseres 4\niterations 10 100\nxcollimator -0.5 0.5\nycollimator -0.5 0.5\nD 1\nK 0.5 0 -2\n";

std::string loop_line(const std::string& source) {
  size_t at = source.find("\tfor (");
  return source.substr(at, source.find('\n', at) - at);
}

}  // namespace

TEST(ShaderSource, WorkedExampleComesOutByteForByte) {
  TestDir dir;
  const char* expected =
      "#version 120\n"
      "uniform float jx,jxp,jy,jyp;\nvoid main()\n{\n"
      "\tfloat x=floor(gl_TexCoord[0].x*4)/4,\n"
      "\t\ty=floor(gl_TexCoord[0].y*4)/4,\n"
      "\t\txp=floor((gl_TexCoord[0].x-x)*16)/4,\n"
      "\t\typ=floor((gl_TexCoord[0].y-y)*16)/4;\n"
      "\tx=-1+2*(x+jx/4); xp=-1+2*(xp+jxp/4);\n"
      "\ty=-1+2*(y+jy/4); yp=-1+2*(yp+jyp/4);\n"
      "\tfloat i;\n"
      "\tfor (i=0;i<=100 && x>=-0.5 && x<=0.5 && y>=-0.5 && y<=0.5;i++)\n"
      "\t{\n"
      "\t\tx+=1*xp; y+=1*yp;\n"
      "\t\txp+=+0.5*(-x)-0.333333333*(-x*x*x+3*x*y*y); yp+=+0.5*(+y)-0.333333333*(+3*x*x*y-y*y*y);\n"
      "\t}\n"
      "\tif (i<=10) gl_FragColor=vec4(0,0,0.5,1);\n"
      "\telse if (i<=100) gl_FragColor=vec4(0,0,1,1);\n"
      "\telse gl_FragColor=vec4(0,0,0,1);\n}";
  EXPECT_EQ(shader(kWorkedJob), expected);
}

TEST(ShaderSource, CollimatorTestsAreLeftOutOnlyBesideAFiniteOtherPlane) {
  TestDir dir;
  EXPECT_EQ(loop_line(shader("")),
            "\tfor (i=0;i<=100 && x>=-1e+020 && x<=1e+020 && y>=-1e+020 && y<=1e+020;i++)");
  EXPECT_EQ(loop_line(shader("xcollimator -2 2")), "\tfor (i=0;i<=100 && x>=-2 && x<=2;i++)");
  EXPECT_EQ(loop_line(shader("xcollimator -1e20 0.5\nycollimator -1 1")),
            "\tfor (i=0;i<=100 && x<=0.5 && y>=-1 && y<=1;i++)");
  // One-sided x is not finite, so the y plane keeps its default tests.
  EXPECT_EQ(loop_line(shader("xcollimator -1e20 0.5")),
            "\tfor (i=0;i<=100 && x>=-1e+020 && x<=0.5 && y>=-1e+020 && y<=1e+020;i++)");
}

TEST(ShaderSource, CounterTypeSwitchesAboveFifteenMillionTurns) {
  TestDir dir;
  EXPECT_EQ(loop_line(shader("iterations 15000000\nxcollimator -1 1")).substr(0, 30), "\tfor (i=0;i<=15000000 && x>=-1");
  EXPECT_NE(shader("iterations 15000000").find("\tfloat i;\n"), std::string::npos);
  EXPECT_NE(shader("iterations 15000001").find("\tint i;\n"), std::string::npos);
}

TEST(ShaderSource, ZeroKicksAndDriftsWithoutLength) {
  TestDir dir;
  std::string zero = "\t\txp+=0; yp+=0;\n";
  EXPECT_NE(shader("K").find(zero), std::string::npos);
  EXPECT_NE(shader("K 0 0 0").find(zero), std::string::npos);
  EXPECT_NE(shader("k abc").find(zero), std::string::npos);
  EXPECT_NE(shader("D").find("\t\tx+=0*xp; y+=0*yp;\n"), std::string::npos);
  EXPECT_NE(shader("").find(";i++)\n\t{\n\t}\n"), std::string::npos);
}

TEST(ShaderSource, ColourLinesCodeTheClassInBaseL) {
  TestDir dir;
  std::string line = "iterations";
  for (int k = 1; k <= 27; k++) line += " " + std::to_string(k);
  std::string s = shader(line);
  EXPECT_NE(s.find("\tif (i<=1) gl_FragColor=vec4(0,0,0.333333,1);\n"), std::string::npos);
  EXPECT_NE(s.find("\telse if (i<=27) gl_FragColor=vec4(0.333333,0.666667,1,1);\n"
                   "\telse gl_FragColor=vec4(0,0,0,1);\n}"),
            std::string::npos);
  std::string one = shader("iterations 50");
  EXPECT_NE(one.find("\t}\n\tif (i<=50) gl_FragColor=vec4(0,0,0.5,1);\n\telse gl_FragColor"), std::string::npos);
}

TEST(ShaderSource, KickPolynomialsAreTheComplexPowers) {
  EXPECT_EQ(kick_polynomial(0, 1), "-x");
  EXPECT_EQ(kick_polynomial(1, 1), "+y");
  EXPECT_EQ(kick_polynomial(0, 2), "-x*x+y*y");
  EXPECT_EQ(kick_polynomial(1, 2), "+2*x*y");
  EXPECT_EQ(kick_polynomial(0, 3), "-x*x*x+3*x*y*y");
  EXPECT_EQ(kick_polynomial(1, 3), "+3*x*x*y-y*y*y");
  EXPECT_EQ(kick_polynomial(0, 4), "-x*x*x*x+6*x*x*y*y-y*y*y*y");
  EXPECT_EQ(binomial(40, 20), 137846528820.0);
}

TEST(ShaderSource, HighOrderKicksAreWrittenWhole) {
  // Orders far past what a fixed 500-character piece holds: every strength
  // gets its term, with coefficients beyond 32 bits written exactly.
  TestDir dir;
  std::string k = "K";
  for (int j = 1; j <= 40; j++) k += " 1";
  std::string s = shader(k);
  std::string kick = s.substr(s.find("\t\txp+="));
  kick = kick.substr(0, kick.find('\n'));
  EXPECT_NE(kick.find("*(-x*x"), std::string::npos);
  EXPECT_NE(kick.find("-137846528820*x*x*x*x*x*x*x*x*x*x*x*x*x*x*x*x*x*x*x*x*y*y*y*y*y*y*y*y*y*y*y*y*y*y*y*y*y*y*y*y"),
            std::string::npos);
  EXPECT_NE(kick.find("+1.22561744e-048*("), std::string::npos);  // 1/40!
}

TEST(ShaderSource, ManyTurnCountsAreFoundByAShallowSearch) {
  TestDir dir;
  auto turn_counts = [](int n) {
    std::string line = "iterations";
    for (int k = 1; k <= n; k++) line += " " + std::to_string(k);
    return line;
  };
  // Up to 64 turn counts the colour code is one line each, as it always was.
  EXPECT_NE(shader(turn_counts(64)).find("\telse if (i<=63) gl_FragColor=vec4(0.5,0.5,0.75,1);\n"
                                         "\telse if (i<=64) gl_FragColor=vec4(0.5,0.5,1,1);\n"
                                         "\telse gl_FragColor=vec4(0,0,0,1);\n}"),
            std::string::npos);
  // Beyond, no chain of "else if" that nests as deep as it is long: a
  // search nested about log2(n / 64) deep, and the colour made from its code.
  std::string s = shader(turn_counts(5000));
  EXPECT_EQ(s.find("else if"), std::string::npos);
  size_t deepest = 0;
  for (size_t at = s.find("\n\t"); at != std::string::npos; at = s.find("\n\t", at + 1))
    deepest = std::max(deepest, s.find_first_not_of('\t', at + 1) - at - 1);
  EXPECT_LE(deepest, 9u);
  EXPECT_NE(s.find("\tint code=below<5000 ? below+1 : 0;\n"
                   "\tgl_FragColor=vec4(float(code/324),float(code/18-code/324*18),"
                   "float(code-code/18*18),17)/17.0;\n}"),
            std::string::npos);
  EXPECT_NE(shader_failure_message(5000).find("a job of 5000 turn counts"), std::string::npos);
}

// The ring's elements in the shader: a skew kick's polynomials, a
// rotation's two planes with the old position kept, a matrix's four sums
// of the old coordinates.
TEST(ShaderSource, SkewKicksRotationsAndMatrices) {
  TestDir dir;
  std::string s = shader("KS 0.5 0 6\nR 0.25 0.5\nM 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16\n");
  EXPECT_NE(s.find("\t\txp+=+0.5*(+y)+1*(+3*x*x*y-y*y*y); yp+=+0.5*(+x)+1*(+x*x*x-3*x*y*y);\n"), std::string::npos) << s;
  EXPECT_NE(s.find("\t\t{ float u=x; x=6.123234e-017*u+1*xp; xp=-1*u+6.123234e-017*xp; "
                   "u=y; y=-1*u+1.2246468e-016*yp; yp=-1.2246468e-016*u-1*yp; }\n"),
            std::string::npos) << s;
  EXPECT_NE(s.find("\t\t{ float a=x, b=xp, c=y, d=yp; x=1*a+2*b+3*c+4*d; xp=5*a+6*b+7*c+8*d; "
                   "y=9*a+10*b+11*c+12*d; yp=13*a+14*b+15*c+16*d; }\n"),
            std::string::npos) << s;
  EXPECT_EQ(power_polynomial(0, 3, false), "+x*x*x-3*x*y*y");
  EXPECT_EQ(power_polynomial(1, 2, true), "-2*x*y");
}

namespace {

std::string compute_shader(const std::string& text, Precision precision) {
  JobSettings s = job(text);
  LoweredMap m = lower_map(&s);
  char* source = generate_compute_shader(&m, true, precision);
  std::string out = source;
  std::free(source);
  return out;
}

}  // namespace

// The double shader: the grid index exact from the pixel's whole numbers,
// every constant the job's double ("%.17g", a point or an exponent before
// the lf suffix, so that whole numbers are doubles too), double jitter and
// coordinates, and the same statements as the single shader otherwise.
TEST(ShaderSource, DoubleComputeShaderWritesTheDoublesAsWritten) {
  TestDir dir;
  const std::string job = std::string(kWorkedJob) + "R 0.25 0.25\nM 1 0 0 0 0 1 0.1 0 0 0 1 0 0 0 0 1\n";
  std::string d = compute_shader(job, kPrecisionDouble);
  EXPECT_NE(d.find("uniform double jx,jxp,jy,jyp;\n"), std::string::npos);
  EXPECT_NE(d.find("\tdouble x=double(pixel.x/4u)/4.0lf, y=double(pixel.y/4u)/4.0lf,\n"
                   "\t\txp=double(pixel.x%4u)/4.0lf, yp=double(pixel.y%4u)/4.0lf;\n"
                   "\tx=-1.0lf+2.0lf*(x+jx/4.0lf); xp=-1.0lf+2.0lf*(xp+jxp/4.0lf);\n"
                   "\ty=-1.0lf+2.0lf*(y+jy/4.0lf); yp=-1.0lf+2.0lf*(yp+jyp/4.0lf);\n"
                   "\tfloat i;\n"
                   "\tfor (i=0;i<=100 && x>=-0.5lf && x<=0.5lf && y>=-0.5lf && y<=0.5lf;i++)\n"
                   "\t{\n"
                   "\t\tx+=1.0lf*xp; y+=1.0lf*yp;\n"
                   "\t\txp+=+0.5lf*(-x)-0.33333333333333331lf*(-x*x*x+3*x*y*y); "
                   "yp+=+0.5lf*(+y)-0.33333333333333331lf*(+3*x*x*y-y*y*y);\n"
                   "\t\t{ double u=x; x=6.123233995736766e-017lf*u+1.0lf*xp;"),
            std::string::npos)
      << d;
  EXPECT_NE(d.find("\t\t{ double a=x, b=xp, c=y, d=yp; x=1.0lf*a+0.0lf*b"), std::string::npos) << d;
  EXPECT_EQ(d.find("tc"), std::string::npos);
  EXPECT_EQ(d.find("float x"), std::string::npos);
  // The single shader keeps its texture coordinates and 9-digit floats.
  std::string f = compute_shader(job, kPrecisionSingle);
  EXPECT_NE(f.find("uniform float jx,jxp,jy,jyp;\n"), std::string::npos);
  EXPECT_NE(f.find("\tvec2 tc=(vec2(pixel)+0.5)/16;\n\tfloat x=floor(tc.x*4)/4,\n"), std::string::npos);
  EXPECT_EQ(f.find("lf"), std::string::npos);
  // Coefficients past 2^63 are double literals in a double shader.
  EXPECT_NE(power_polynomial(0, 70, false, true).find("e+019lf*x"), std::string::npos);
  EXPECT_EQ(power_polynomial(0, 70, false).find("lf"), std::string::npos);
}

// After the turns' two words, one more counter: level-0 particles whose
// grid point has an index at the first or last grid line; the same line in
// either precision, and none in the fragment shader.
TEST(ShaderSource, ComputeShaderCountsSurvivorsOnTheEdge) {
  TestDir dir;
  const char* edge =
      "\tuvec4 grid=uvec4(pixel/4u,pixel%4u);\n"
      "\tif (level==0u && (any(equal(grid,uvec4(0u))) || any(equal(grid,uvec4(3u))))) atomicAdd(counts[5],1u);\n"
      "\tif (picture)";
  for (Precision precision : {kPrecisionSingle, kPrecisionDouble}) {
    std::string s = compute_shader(kWorkedJob, precision);
    EXPECT_NE(s.find("atomicAdd(counts[4],1u);\n" + std::string(edge)), std::string::npos) << s;
  }
  EXPECT_EQ(shader(kWorkedJob).find("grid"), std::string::npos);
}
