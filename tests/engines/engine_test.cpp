// The engines through the engine interface, on a GL context without a
// window (Mesa's EGL; skipped where none can be made): their counts against
// the independent reference tracker, in single and in double precision,
// the turns the compute engine counts on the GPU against the CPU tracker's,
// a golden hash of every pixel's level, so that a change of any particle's
// class shows, and the survivors on the box's edge.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "engines/cpu_tracker.h"
#include "engines/engine.h"
#include "gfx/frame.h"
#include "gfx/gl.h"
#include "map/shader_program.h"
#include "map/shader_source.h"
#include "reference/coverage.h"
#include "reference/reference_tracker.h"
#include "results/schedule.h"
#include "test_dir.h"

namespace {

const char* const kJobs[] = {
    "baseres 4\niterations 10 100\nxcollimator -0.5 0.5\nycollimator -0.5 0.5\nD 1\nK 0.5 0 -2\n",
    "baseres 16\niterations 10 100 1000\nxrange -0.5 0.5\nxprange -0.5 0.5\nyrange -0.5 0.5\nyprange -0.5 0.5\n"
    "xcollimator -1 1\nycollimator -1 1\nD 0.5\nK 1.2 0.2\nD 0.5\nK -1.2 0 0.5\n",
    "baseres 9\niterations 50 5 500\nxcollimator -0.6 0.6\nD 1\nK 0.5 0 -2\n",
    // The ring's elements: the Henon map, and a coupled matrix with skew kicks.
    "baseres 12\niterations 10 100\nxcollimator -1 1\nycollimator -1 1\nK 0 -2 -0.6\nR 0.31 0.28\n",
    "baseres 10\niterations 20 200\nxcollimator -1 1\nycollimator -1 1\n"
    "M 0.9 0.4 0.1 0 -0.45 0.9 0 0.05 0.05 0 0.8 0.5 0 0.1 -0.6 0.8\nKS 0.1 0.5 -1.2\nK 0 0.3\n",
};

bool have_gl(std::string* why) {
  static int state = 0;  // 1 made, -1 none
  static std::string reason;
  if (state == 0) {
    Problem problem;
    state = open_headless(-1, &reason) && load_shader_api(&problem) ? 1 : -1;
  }
  *why = reason;
  return state > 0;
}

// The engine prepared for the job's lowered map, without a window.
Engine prepared(EngineKind kind, const LoweredMap* map, Precision precision = kPrecisionSingle) {
  char* source = generate_shader(map);
  EngineSetup setup{false, source, true, precision};
  Engine e{};
  Problem why;
  EXPECT_TRUE(prepare_engine(&e, kind, map, &setup, "test", &why)) << why.message << why.detail;
  return e;
}

// Draws the engine's picture of its last pictured sample into a
// framebuffer of the square's size (the fragment engine drew its square
// into its own already) and reads every pixel's level, top row first.
std::vector<int> picture_levels(Engine* e, const LoweredMap* m) {
  int side = m->side;
  if (e->identity.kind != kEngineFragment) {
    Problem why;
    EXPECT_TRUE(use_offscreen_square(side, &why)) << why.message;
    engine_draw_picture(e);
  }
  std::vector<unsigned char> rgb(size_t(side) * side * 3);
  read_window_pixels(0, 0, side, side, GL_RGB, rgb.data());
  std::vector<int> levels(size_t(side) * side);
  for (int row = 0; row < side; row++)
    for (int column = 0; column < side; column++) {
      const unsigned char* p = &rgb[(size_t(side - 1 - row) * side + column) * 3];
      levels[size_t(row) * side + column] = decode_level(p[0], p[1], p[2], m->colour_levels);
    }
  return levels;
}

uint64_t levels_hash(const std::vector<int>& levels) {
  uint64_t hash = 14695981039346656037ull;
  for (int level : levels) hash = (hash ^ uint64_t(level)) * 1099511628211ull;
  return hash;
}

bool on_llvmpipe() {
  const char* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
  return software_renderer(renderer) && std::string(renderer).find("llvmpipe") != std::string::npos;
}

// The hash of every pixel's level of sample 7 of the job by the engine.
uint64_t golden_hash(EngineKind kind, const char* job, Precision precision) {
  TrackedJob* t = tracked_job(job);
  Engine engine = prepared(kind, &t->lowered, precision);
  double jitter[4];
  sample_jitter(7, jitter);
  std::vector<int32_t> counts(t->lowered.turn_counts.size() + 1);
  engine_sample(&engine, jitter, true, counts.data());
  uint64_t hash = levels_hash(picture_levels(&engine, &t->lowered));
  release_engine(&engine);
  delete t;
  return hash;
}

}  // namespace

namespace {

// Counts equal the reference's apart from particles on a loss boundary (at
// most one in 10,000, and one in the smallest squares); the turns made
// equal the CPU tracker's to the same share of a particle's turns.
void expect_reference_counts(EngineKind kind, Precision precision) {
  for (const char* job : kJobs) {
    TrackedJob* t = tracked_job(job);
    cpu_map(&t->lowered, &t->map, precision);
    int32_t n = iteration_count(&t->job);
    Engine engine = prepared(kind, &t->lowered, precision);
    double allowed = std::max(1.0, double(t->lowered.side) * t->lowered.side / 10000);
    std::string what = std::string(engine_name(kind)) + (precision == kPrecisionDouble ? " in double " : " ") + job;
    for (int32_t sample : {1, 6}) {
      double jitter[4];
      sample_jitter(sample, jitter);
      std::vector<int32_t> levels(size_t(n) + 1, -1);
      SampleResult r = engine_sample(&engine, jitter, false, levels.data());
      ASSERT_EQ(r.refused, nullptr) << what;
      std::vector<int64_t> reference = level_counts(reference_levels(&t->job, jitter, nullptr, precision), n);
      double differ = 0;
      for (int32_t k = 0; k <= n; k++) differ += std::fabs(double(levels[size_t(k)] - reference[size_t(k)]));
      EXPECT_LE(differ, 2 * allowed) << what << "sample " << sample;
      if (kind != kEngineCompute) continue;
      double cpu = double(cpu_track_sample(&t->map, jitter).particle_turns);
      EXPECT_GT(r.particle_turns, 0) << what;
      EXPECT_LE(std::fabs(double(r.particle_turns) - cpu), allowed * (last_iteration(&t->job) + 1)) << what;
    }
    release_engine(&engine);
    delete t;
  }
}

}  // namespace

TEST(EngineTest, GlEnginesAgreeWithTheReferenceAndTurnsWithTheCpuTracker) {
  std::string why;
  if (!have_gl(&why)) GTEST_SKIP() << "no GL context without a window: " << why;
  TestDir dir;
  for (EngineKind kind : {kEngineCompute, kEngineFragment}) expect_reference_counts(kind, kPrecisionSingle);
}

// The double shader against the reference in double precision: the same
// tolerance (the shader's expanded polynomials round otherwise than the
// reference's complex powers), and turns against the CPU tracker in double.
TEST(EngineTest, ComputeEngineInDoubleAgreesWithTheDoubleReference) {
  std::string why;
  if (!have_gl(&why)) GTEST_SKIP() << "no GL context without a window: " << why;
  if (!gl_offers_fp64(gl_version(), nullptr)) GTEST_SKIP() << "no 64-bit floats in this GL's shaders";
  TestDir dir;
  expect_reference_counts(kEngineCompute, kPrecisionDouble);
}

// The fragment shader is single precision; asked for double it refuses
// before anything is built, naming the engines that can.
TEST(EngineTest, FragmentEngineRefusesDoublePrecision) {
  TrackedJob* t = tracked_job(kJobs[0]);
  EngineSetup setup{false, "", true, kPrecisionDouble};
  Engine e{};
  Problem why;
  EXPECT_FALSE(prepare_engine(&e, kEngineFragment, &t->lowered, &setup, "test", &why));
  EXPECT_NE(why.message.find("single precision only"), std::string::npos) << why.message;
  EXPECT_NE(why.message.find("--engine cpu"), std::string::npos) << why.message;
  release_engine(&e);
  delete t;
}

// Every pixel's level of a sample of two fixed jobs, as a hash, per engine.
// The CPU engine's is the same on every processor; the GL engines' are
// those of Mesa's llvmpipe (checked only there: another GL may put a
// particle on a loss boundary a turn earlier or later).
TEST(EngineTest, GoldenLevelsOfEveryPixel) {
  std::string why;
  if (!have_gl(&why)) GTEST_SKIP() << "no GL context without a window: " << why;
  bool llvmpipe = on_llvmpipe();
  // cpu, fragment, compute; the ring and the job with x collimators only.
  const uint64_t golden[3][2] = {{0xcd4a4ea30595cdc1ull, 0x40d3c135cd59ce8cull},
                                 {0x1d66f55e57027315ull, 0x40d3c135cd59ce8cull},
                                 {0x1d66f55e57027315ull, 0x40d3c135cd59ce8cull}};
  const EngineKind kinds[3] = {kEngineCpu, kEngineFragment, kEngineCompute};
  TestDir dir;
  for (int k = 0; k < 3; k++)
    for (int j = 0; j < 2; j++) {
      uint64_t hash = golden_hash(kinds[k], kJobs[j + 1], kPrecisionSingle);
      std::printf("%s job %d: 0x%016llx\n", engine_name(kinds[k]), j + 1, static_cast<unsigned long long>(hash));
      if (kinds[k] == kEngineCpu || llvmpipe) {
        EXPECT_EQ(hash, golden[k][j]) << engine_name(kinds[k]) << " job " << j;
      }
    }
}

// The same in double precision, for the engines that track in it; the CPU
// engine's hash is that of every processor and every kernel build.
TEST(EngineTest, GoldenLevelsOfEveryPixelInDouble) {
  std::string why;
  if (!have_gl(&why)) GTEST_SKIP() << "no GL context without a window: " << why;
  bool llvmpipe = on_llvmpipe();
  // cpu, compute; the ring and the job with x collimators only.
  // In double the shader's expanded polynomials put no particle of these
  // jobs on the other side of a loss boundary from the tracker's complex
  // powers: both engines give the same levels.
  const uint64_t golden[2][2] = {{0x6f14e3fa1bd950c5ull, 0x40d3c135cd59ce8cull},
                                 {0x6f14e3fa1bd950c5ull, 0x40d3c135cd59ce8cull}};
  const EngineKind kinds[2] = {kEngineCpu, kEngineCompute};
  TestDir dir;
  for (int k = 0; k < 2; k++)
    for (int j = 0; j < 2; j++) {
      uint64_t hash = golden_hash(kinds[k], kJobs[j + 1], kPrecisionDouble);
      std::printf("%s in double, job %d: 0x%016llx\n", engine_name(kinds[k]), j + 1,
                  static_cast<unsigned long long>(hash));
      if (kinds[k] == kEngineCpu || llvmpipe) {
        EXPECT_EQ(hash, golden[k][j]) << engine_name(kinds[k]) << " in double, job " << j;
      }
    }
}

// A box inside the stable region (the Henon map's at +-0.15): every grid
// point survives, so every one on the box's outermost layer counts,
// baseres^4 - (baseres - 2)^4 of them; a box that holds the stable region
// with room (+-1, where the aperture is about 0.4) has none there.
TEST(EngineTest, EveryEngineCountsTheSurvivorsOnTheBoxsEdge) {
  std::string why;
  if (!have_gl(&why)) GTEST_SKIP() << "no GL context without a window: " << why;
  const std::string henon = "baseres 6\niterations 10 100 1000\nxcollimator -10 10\nycollimator -10 10\n"
                            "K 0 -2 -0.6\nR 0.28 0.31\n";
  const std::string small = "xrange -0.15 0.15\nxprange -0.15 0.15\nyrange -0.15 0.15\nyprange -0.15 0.15\n";
  const std::string roomy = "xrange -1 1\nxprange -1 1\nyrange -1 1\nyprange -1 1\n";
  const struct {
    EngineKind kind;
    Precision precision;
  } takers[] = {{kEngineCpu, kPrecisionSingle},
                {kEngineCpu, kPrecisionDouble},
                {kEngineFragment, kPrecisionSingle},
                {kEngineCompute, kPrecisionSingle},
                {kEngineCompute, kPrecisionDouble}};
  TestDir dir;
  for (const auto& taker : takers)
    for (int roomy_box = 0; roomy_box < 2; roomy_box++) {
      TrackedJob* t = tracked_job(henon + (roomy_box ? roomy : small));
      Engine engine = prepared(taker.kind, &t->lowered, taker.precision);
      double jitter[4];
      sample_jitter(3, jitter);
      std::vector<int32_t> levels(4, -1);
      SampleResult r = engine_sample(&engine, jitter, false, levels.data());
      std::string what = std::string(engine_name(taker.kind)) + " in " + precision_name(taker.precision);
      if (!roomy_box) {
        EXPECT_EQ(levels[0], 6 * 6 * 6 * 6) << what;
        EXPECT_EQ(r.edge_survivors, 6 * 6 * 6 * 6 - 4 * 4 * 4 * 4) << what;
      } else {
        EXPECT_GT(levels[0], 0) << what;
        EXPECT_EQ(r.edge_survivors, 0) << what;
      }
      release_engine(&engine);
      delete t;
    }
}

// Drawing the square and the pictures changes nothing that other drawing
// (the status text, the next frame) finds: the depth test, the colour, the
// texture binding.
TEST(EngineTest, SquaresAndPicturesPutBackTheStateTheyChange) {
  std::string why;
  if (!have_gl(&why)) GTEST_SKIP() << "no GL context without a window: " << why;
  TestDir dir;
  TrackedJob* t = tracked_job(kJobs[0]);
  for (EngineKind kind : {kEngineFragment, kEngineCpu}) {
    Engine engine = prepared(kind, &t->lowered);
    glEnable(GL_DEPTH_TEST);
    glColor4f(0.25f, 0.5f, 0.75f, 1);
    double jitter[4] = {0, 0, 0, 0};
    std::vector<int32_t> counts(3);
    engine_sample(&engine, jitter, true, counts.data());
    engine_draw_picture(&engine);
    GLfloat colour[4];
    glGetFloatv(GL_CURRENT_COLOR, colour);
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST)) << engine_name(kind);
    EXPECT_EQ(colour[1], 0.5f) << engine_name(kind);
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D)) << engine_name(kind);
    release_engine(&engine);
  }
  delete t;
}
