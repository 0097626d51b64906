// The RANSAC mode of the trial: random triples of Q against the base triangle.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/random15.h"
#include "registration/registration.h"
#include "test_support.h"

namespace kestrel::registration {
namespace {

using test::point;

// Ten points at least 10 apart, not coplanar, and Q = P moved.
core::PointSet spread_points() {
  core::PointSet p;
  for (int k = 0; k < 10; ++k)
    p.push_back(point((k % 4) * 15.0 + 3, (k / 4) * 14.0 - 5, ((k * 7) % 5) * 4.0 + 2));
  return p;
}

struct Ransac : ::testing::Test {
  test::Scene scene;
  EngineOptions options;
  EngineHooks hooks;
  core::Random15 rng;

  void SetUp() override {
    const core::PointSet p = spread_points();
    const double t[3] = {4, 5, -6};
    test::load_models(scene, p, test::moved(p, test::rotation(2, 1, 1, 50), t));
    scene.point_spacing = 1.0f;
    options.base_max_len = 200;
    options.num_try = 5;
    options.thr = 0.95f;
  }
  EngineResult run() {
    rng.seed(0);
    return run_ransac(scene.inputs(), options, hooks, rng);
  }
};

TEST_F(Ransac, FindsTheMotionOfASmallSetAndShowsTheCandidateInTheWindowLine) {
  std::vector<std::string> texts;
  hooks.on_progress = [&texts](const std::string& line) { texts.push_back(line); };
  ::testing::internal::CaptureStdout();
  const EngineResult r = run();
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(r.best_lcp, 1.0f);
  EXPECT_EQ(r.counts.quads, 0);  // no congruent-base search in this mode
  EXPECT_GT(r.counts.candidates, 0);
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts[0], "trial 1(5), LCP: 0.000 trying Q base 0     ");
}

TEST_F(Ransac, ScaleToleranceDoesNotChangeARansacRun) {
  ::testing::internal::CaptureStdout();
  const EngineResult rigid = run();
  options.scale_tol = 0.8f;
  const EngineResult scaled = run();
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(scaled.motion.R.data, rigid.motion.R.data);
  EXPECT_EQ(scaled.motion.t[0], rigid.motion.t[0]);
}

TEST_F(Ransac, FewerThanThreeQPointsEndEachTrialInsteadOfDrawingForever) {
  scene.q.resize(2);
  options.debug = true;
  ::testing::internal::CaptureStdout();
  const EngineResult r = run();
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(r.trials, 5);
  EXPECT_NE(out.find("too few for a triple"), std::string::npos);
  EXPECT_FALSE(r.improved);
}

TEST_F(Ransac, CandidateCountDoesNotWrapForLargeQ) {
  // 2048^3 = 2^33 wraps to 0 in 32 bits, which would evaluate no candidate at all.
  test::load_models(scene, test::wavy_surface(600, 5), test::wavy_surface(2048, 6));
  options.base_max_len = 80;
  options.num_try = 3;
  int polls = 0;
  hooks.should_stop = [&polls] { return ++polls > 300; };
  ::testing::internal::CaptureStdout();
  const EngineResult r = run();
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(polls, 301);
  EXPECT_EQ(r.trials, 1);
  EXPECT_TRUE(r.stopped);
  // Percentages are formed without 32-bit overflow: 300 of 2^33 is still 0%.
  EXPECT_NE(out.find(" 0.000000%"), std::string::npos);
}

}  // namespace
}  // namespace kestrel::registration
