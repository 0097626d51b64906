// The RANSAC mode of the trial: random triples of Q against the base triangle.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/random15.h"
#include "registration/run_registration.h"
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
  RegistrationState state;
  core::RunParameters params;
  EngineHooks hooks;
  core::PointSet saved_q;

  void SetUp() override {
    const core::PointSet p = spread_points();
    const double t[3] = {4, 5, -6};
    saved_q = test::moved(p, test::rotation(2, 1, 1, 50), t);
    test::load_models(state, params, p, saved_q);
    params.point_spacing = 1.0f;
    params.base_max_len = 200;
    params.num_try = 5;
    params.thr = 0.95f;
    state.ransac_mode = true;
  }
  void run() {
    core::srand15(0);
    state.model_q = saved_q;
    state.trial_count = 0;
    run_registration(state, params, hooks);
  }
};

TEST_F(Ransac, FindsTheMotionOfASmallSetAndShowsTheCandidateInTheWindowLine) {
  std::vector<std::string> texts;
  hooks.repaint = [this, &texts] { texts.push_back(state.progress_text); };
  ::testing::internal::CaptureStdout();
  run();
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(state.best_lcp, 1.0f);
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts[0], "trial 1(5), LCP: 0.000 trying Q base 0     ");
}

TEST_F(Ransac, ScaleToleranceDoesNotChangeARansacRun) {
  ::testing::internal::CaptureStdout();
  run();
  const core::RigidTransform rigid = state.current_transform;
  params.scale_tol = 0.8f;
  run();
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(state.current_transform.R.data, rigid.R.data);
  EXPECT_EQ(state.current_transform.t[0], rigid.t[0]);
}

TEST_F(Ransac, FewerThanThreeQPointsEndEachTrialInsteadOfDrawingForever) {
  saved_q.resize(2);
  params.debug = true;
  ::testing::internal::CaptureStdout();
  run();
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(state.trial_count, 5);
  EXPECT_NE(out.find("too few for a triple"), std::string::npos);
  EXPECT_EQ(state.model_q.size(), 2u);
}

TEST_F(Ransac, CandidateCountDoesNotWrapForLargeQ) {
  // 2048^3 = 2^33 wraps to 0 in 32 bits, which would evaluate no candidate at all.
  const core::PointSet p = test::wavy_surface(600, 5);
  saved_q = test::wavy_surface(2048, 6);
  test::load_models(state, params, p, saved_q);
  params.base_max_len = 80;
  params.num_try = 3;
  int polls = 0;
  hooks.escape_pressed = [&polls] { return ++polls > 300; };
  ::testing::internal::CaptureStdout();
  run();
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(polls, 301);
  EXPECT_EQ(state.trial_count, 1);
  // Percentages are formed without 32-bit overflow: 300 of 2^33 is still 0%.
  EXPECT_NE(out.find(" 0.000000%"), std::string::npos);
}

}  // namespace
}  // namespace kestrel::registration
