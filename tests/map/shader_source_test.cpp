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
