// The headless pipeline: models from files or from memory, fresh generators on every call, the
// run's limits as given, and ICP only after a run that ended on its own with a motion.

#include "app/align_models.h"

#include <gtest/gtest.h>

#include <cmath>

#include "app/command_line.h"
#include "app/model_actions.h"
#include "app_test_support.h"
#include "core/point_file.h"

namespace kestrel::app {
namespace {

using testing::ScratchDir;

// A bumpy 40 x 40 grid turned by `deg` about z and shifted by (tx, ty), as .vrt text.
std::string bumpy_vrt(double deg, double tx, double ty) {
  std::string text;
  const double a = deg * M_PI / 180;
  for (int i = 0; i < 40; ++i)
    for (int j = 0; j < 40; ++j) {
      const double x = i, y = j, z = 0.1 * x + 0.05 * y + 2 * std::sin(x / 4) * std::cos(y / 5);
      text += std::to_string(std::cos(a) * x - std::sin(a) * y + tx) + " " +
              std::to_string(std::sin(a) * x + std::cos(a) * y + ty) + " " + std::to_string(z) +
              "\n";
    }
  return text;
}

// The grid as P, and turned by 10 degrees and shifted by (3, -2) as Q.
struct GridPair {
  ScratchDir dir;
  std::string p = dir.write("p.vrt", bumpy_vrt(0, 0, 0));
  std::string q = dir.write("q.vrt", bumpy_vrt(10, 3, -2));
};

AppState fresh_state() {
  AppState s;
  s.console = false;
  derive_parameters(s.params);
  return s;
}

// A state and options as kestrel-align sets them from `args`.
AppState state_from(std::vector<const char*> args, AlignOptions& o) {
  AppState s;
  s.console = false;
  args.insert(args.begin(), "kestrel-align");
  std::vector<std::string> files;
  FILE* sink = std::tmpfile();
  EXPECT_EQ(parse_align_command_line(static_cast<int>(args.size()), args.data(), s.params, o, files,
                                     sink, sink),
            ParseOutcome::kContinue);
  std::fclose(sink);
  EXPECT_TRUE(settle_parameters(s.params, o));
  return s;
}

core::PointSet file_points(const std::string& file) {
  core::PointSet set;
  core::FaceList faces;
  int32_t all = 1;
  float c[3];
  EXPECT_TRUE(core::read_point_set(file, set, faces, false, all, 0, c[0], c[1], c[2], 1000));
  return set;
}

bool same_positions(const core::PointSet& a, const core::PointSet& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].x != b[i].x || a[i].y != b[i].y || a[i].z != b[i].z) return false;
  return true;
}

bool same_matrix(const double (&a)[4][4], const double (&b)[4][4]) {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c)
      if (a[r][c] != b[r][c]) return false;
  return true;
}

TEST(AlignModels, PointsInMemoryLoadLikeTheFileTheyCameFrom) {
  GridPair files;
  const core::PointSet points = file_points(files.q);
  AppState from_file = fresh_state(), from_memory = fresh_state();
  ASSERT_TRUE(load_model(from_file, ModelSide::kQ, files.q, {}));
  ASSERT_TRUE(load_model_points(from_memory, ModelSide::kQ, points, "q", {}));
  const ModelSets &a = from_file.models, &b = from_memory.models;
  EXPECT_TRUE(same_positions(a.full_q, b.full_q));
  EXPECT_TRUE(same_positions(a.model_q, b.model_q));
  EXPECT_EQ(a.model_q_faces.size(), b.model_q_faces.size());
  EXPECT_EQ(a.model_q[5].nz, b.model_q[5].nz);  // the same planar reconstruction
  for (int k = 0; k < 3; ++k) EXPECT_EQ(a.centroid_q[k], b.centroid_q[k]);
  EXPECT_EQ(b.file_q, "q");

  std::string error;
  const core::PointSet flat(5);  // every point in one x-y position
  EXPECT_FALSE(load_model_points(from_memory, ModelSide::kQ, flat, "q", {}, &error));
  EXPECT_EQ(error.rfind("q: ", 0), 0u) << error;
  EXPECT_TRUE(same_positions(from_memory.models.full_q, a.full_q));  // the failed load kept Q
}

TEST(AlignModels, EveryCallStartsFromFreshGeneratorsAndGivesTheFileMotion) {
  GridPair files;
  AlignOptions o;
  o.noise = true;  // draws Gaussian values, which cache a spare between calls
  o.icp = true;    // samples with the ICP's own process-wide generator
  AlignOutcome first, second, third;
  AppState a = fresh_state(), b = fresh_state(), c = fresh_state();
  for (AppState* s : {&a, &b, &c}) s->params.noise_level = 0.02f;
  ASSERT_TRUE(align_models(a, o, {files.p}, {files.q}, {}, first));
  ASSERT_TRUE(align_models(b, o, {files.p}, {files.q}, {}, second));
  const core::PointSet p = file_points(files.p), q = file_points(files.q);
  ASSERT_TRUE(align_models(c, o, {"p", &p}, {"q", &q}, {}, third));
  EXPECT_TRUE(first.icp.ran);
  EXPECT_TRUE(a.models.full_p_faces.empty());  // headless: the full sets are not triangulated
  EXPECT_TRUE(same_matrix(first.motion.m, second.motion.m));
  EXPECT_TRUE(same_matrix(first.motion.m, third.motion.m));
  EXPECT_FALSE(same_matrix(first.motion.m, first.motion.coarse));  // the refinement is in

  // The motion carries Q's file points onto the grid of P within a fraction of its spacing.
  const double(&m)[4][4] = first.motion.m;
  const core::Point3D& corner = q[0];  // (3, -2, 0) is the image of P's first point, (0, 0, 0)
  for (int r = 0; r < 3; ++r)
    EXPECT_NEAR(m[r][0] * corner.x + m[r][1] * corner.y + m[r][2] * corner.z + m[r][3], 0, 0.3);
}

// A stop asks for the motion as it stands, and without a motion ICP would start from a pose no
// run chose: both come back unrefined.
TEST(AlignModels, OnlyARunThatEndsOnItsOwnWithAMotionIsRefined) {
  struct Case {
    const char* name;
    std::vector<const char*> args;
    bool stop_at_first_motion;
    bool stopped, found, refined;
  };
  const Case cases[] = {
      {"ends with a motion", {"--icp"}, false, false, true, true},
      {"stopped after its first motion", {"--icp"}, true, true, true, false},
      {"no pair as short as its bases", {"--icp", "-q", "0.5"}, false, false, false, false},
  };
  GridPair files;
  for (const Case& c : cases) {
    AlignOptions o;
    AppState s = state_from(c.args, o);
    AlignHooks hooks;
    if (c.stop_at_first_motion) hooks.action.should_stop = [&s] { return s.best_lcp > 0; };
    AlignOutcome outcome;
    ASSERT_TRUE(align_models(s, o, {files.p}, {files.q}, hooks, outcome)) << c.name;
    EXPECT_EQ(outcome.run.stopped, c.stopped) << c.name;
    EXPECT_EQ(s.best_lcp > 0, c.found) << c.name;
    EXPECT_EQ(outcome.icp.ran, c.refined) << c.name;
    EXPECT_EQ(same_matrix(outcome.motion.m, outcome.motion.coarse), !c.refined) << c.name;
  }
}

// -t, -q and -y act as given on the bundled pair, whose default run stops in its 12th trial at
// an LCP above the overlap estimate 0.55.
TEST(AlignModels, GivenThresholdBaseLengthAndTrialsAct) {
  struct Case {
    std::vector<const char*> args;
    int trials;            // 0: more than one
    float lcp_lo, lcp_hi;  // best_lcp in (lcp_lo, lcp_hi]
  };
  const Case cases[] = {
      {{}, 0, 0.55f, 1},
      {{"-y", "1"}, 1, 0, 0.55f},
      {{"-y", "50", "-t", "0.9"}, 50, 0.55f, 0.9f},  // no LCP reaches 0.9: every trial runs
      {{"-t", "0.05"}, 1, 0.05f, 0.55f},             // the first motion above 0.05 ends it
      {{"-q", "5"}, 119 * 80 / 5, -1, 0},            // no pair of Q as short as a base
  };
  const std::string dir = KESTREL_EXAMPLES_DIR;
  for (const Case& c : cases) {
    AlignOptions o;
    AppState s = state_from(c.args, o);
    AlignOutcome outcome;
    ASSERT_TRUE(align_models(s, o, {dir + "/bun000.vrt"}, {dir + "/bun045.vrt"}, {}, outcome));
    const std::string name = c.args.empty() ? "defaults" : std::string(c.args[0]) + c.args[1];
    if (c.trials > 0)
      EXPECT_EQ(outcome.run.trials, c.trials) << name;
    else
      EXPECT_GT(outcome.run.trials, 1) << name;
    EXPECT_GT(s.best_lcp, c.lcp_lo) << name;
    EXPECT_LE(s.best_lcp, c.lcp_hi) << name;
  }
}

// Q's file is read beside P's load on two threads: a file that cannot be read is reported as a
// plain load reports it, P's first, and what loads is what one thread loads.
TEST(AlignModels, AFailedLoadSaysWhyAndQReadAheadLoadsAlike) {
  GridPair files;
  const std::string missing_p = files.dir.file("missing-p.vrt");
  const std::string missing_q = files.dir.file("missing-q.vrt");
  struct Case {
    const char* name;
    std::string p, q;
    const char* says;  // empty: loads
  };
  const Case cases[] = {{"Q missing", files.p, missing_q, "missing-q.vrt: cannot open"},
                        {"P missing", missing_p, files.q, "missing-p.vrt: cannot open"},
                        {"both missing", missing_p, missing_q, "missing-p.vrt: cannot open"},
                        {"both there", files.p, files.q, ""}};
  for (const Case& c : cases) {
    std::vector<AppState> loaded;
    for (const int threads : {1, 2}) {
      SCOPED_TRACE(::testing::Message() << c.name << ", threads " << threads);
      AlignOptions o;
      AlignOutcome outcome;
      std::string error;
      AppState t = fresh_state();
      t.params.threads = threads;
      EXPECT_EQ(align_models(t, o, {c.p}, {c.q}, {}, outcome, &error), *c.says == 0);
      if (*c.says) EXPECT_NE(error.find(c.says), std::string::npos) << error;
      loaded.push_back(std::move(t));
    }
    const ModelSets& one = loaded[0].models;
    const ModelSets& two = loaded[1].models;
    EXPECT_TRUE(same_positions(one.saved_full_q, two.saved_full_q)) << c.name;
    EXPECT_TRUE(same_positions(one.saved_q, two.saved_q)) << c.name;
    EXPECT_TRUE(same_positions(one.model_p, two.model_p)) << c.name;
    EXPECT_EQ(one.read_bytes_q, two.read_bytes_q) << c.name;
    EXPECT_EQ(one.figures_q.xyz, two.figures_q.xyz) << c.name;
  }
}

}  // namespace
}  // namespace kestrel::app
