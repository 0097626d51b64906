// The run driver and the Kestrel trial on a synthetic surface whose Q is a moved part of P.

#include "registration/run_registration.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/random15.h"
#include "core/rigid_transform.h"
#include "registration/run_trial.h"
#include "test_support.h"

namespace kestrel::registration {
namespace {

using test::point;

struct RunRegistration : ::testing::Test {
  RegistrationState state;
  core::RunParameters params;
  EngineHooks hooks;
  core::DenseMatrix truth_R = test::rotation(1, -2, 0.5, 35);
  double truth_t[3] = {12, -30, 7};
  core::PointSet saved_q;

  void SetUp() override {
    const core::PointSet p = test::wavy_surface(600, 1);
    core::PointSet part;
    for (const core::Point3D& pt : p)
      if (pt.x > -20) part.push_back(pt);
    saved_q = test::moved(part, truth_R, truth_t);
    test::load_models(state, params, p, saved_q);
    test::refresh_like_program(params, 100);
  }
  // What the start action does before each run.
  void run() {
    core::srand15(0);
    state.model_q = saved_q;
    state.trial_count = 0;
    run_registration(state, params, hooks);
  }
};

// The recovered motion carries the moved Q back: it is the inverse of the displacement.
double rotation_error(const core::DenseMatrix& R, const core::DenseMatrix& truth) {
  return test::angle_between(R, core::transpose(truth));
}

TEST_F(RunRegistration, RecoversTheMotionAndStopsAboveThr) {
  params.thr = 0.99f;  // Q lies wholly on P
  ::testing::internal::CaptureStdout();
  run();
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_GT(state.best_lcp, params.thr);
  EXPECT_LT(state.trial_count, params.num_try);
  EXPECT_LT(rotation_error(state.current_transform.R, truth_R), 5.0);
  EXPECT_NE(out.find("\rtrial 1("), std::string::npos);
  EXPECT_NE(out.find("\nTime: "), std::string::npos);
  // model_q is the saved Q moved by the published motion (c, t published rounded to float).
  core::PointSet expected = saved_q;
  core::transform_point_set(expected, state.current_transform);
  ASSERT_EQ(state.model_q.size(), expected.size());
  for (size_t k = 0; k < expected.size(); ++k) EXPECT_NEAR(state.model_q[k].x, expected[k].x, 1e-3);
  // full_q follows the same motion.
  EXPECT_NEAR(state.full_q[0].y, expected[0].y, 1e-3);
}

TEST_F(RunRegistration, SameInputsGiveTheSameTransformTwice) {
  ::testing::internal::CaptureStdout();
  run();
  const core::RigidTransform first = state.current_transform;
  const float first_lcp = state.best_lcp;
  const int first_trials = state.trial_count;
  state.current_transform = core::RigidTransform();
  state.first_selection = true;
  run();
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(state.current_transform.R.data, first.R.data);
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(state.current_transform.c[k], first.c[k]);
    EXPECT_EQ(state.current_transform.t[k], first.t[k]);
  }
  EXPECT_EQ(state.best_lcp, first_lcp);
  EXPECT_EQ(state.trial_count, first_trials);
}

TEST_F(RunRegistration, NoTrialsLeaveQAndPrintTheTime) {
  params.num_try = 0;
  ::testing::internal::CaptureStdout();
  run();
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(state.trial_count, 0);
  EXPECT_EQ(out.rfind("\nTime: ", 0), 0u);
  EXPECT_EQ(state.model_q[0].x, saved_q[0].x);
}

TEST_F(RunRegistration, ThrOfOneNeverStopsEarly) {
  params.thr = 1.0f;
  params.num_try = 5;
  ::testing::internal::CaptureStdout();
  run();
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(state.trial_count, 5);
}

TEST_F(RunRegistration, EqualLcpIsNotAnImprovement) {
  // Q is a subset of P, so the true motion scores exactly 1.
  params.thr = 2.0f;
  const float run_tol = params.delta * params.point_spacing;
  core::PointSet moved_q;
  ::testing::internal::CaptureStdout();
  core::srand15(0);
  int winning = 0;
  for (int k = 1; k <= 60 && winning == 0; ++k) {
    float lcp = 0;
    run_trial(state, params, hooks, state.model_p, saved_q, moved_q, lcp, run_tol);
    if (lcp == 1.0f) winning = k;
  }
  ASSERT_GT(winning, 0);
  // Replay up to the winning trial, entering it with the best already at 1.
  int repaints = 0;
  EngineHooks counting{[&repaints] { ++repaints; }, {}};
  core::srand15(0);
  for (int k = 1; k <= winning; ++k) {
    float lcp = 1.0f;
    state.best_lcp = -1;
    moved_q.clear();
    run_trial(state, params, counting, state.model_p, saved_q, moved_q, lcp, run_tol);
    EXPECT_EQ(lcp, 1.0f);
  }
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(state.best_lcp, -1.0f);
  EXPECT_TRUE(moved_q.empty());
  EXPECT_GT(repaints, 0);  // the candidates were evaluated
}

TEST_F(RunRegistration, FirstProgressLineOfATrialShowsZeroPercent) {
  std::vector<std::string> texts;
  hooks.repaint = [this, &texts] { texts.push_back(state.progress_text); };
  ::testing::internal::CaptureStdout();
  run();
  ::testing::internal::GetCapturedStdout();
  ASSERT_FALSE(texts.empty());
  EXPECT_NE(texts[0].find(" 0.0%"), std::string::npos) << texts[0];
  EXPECT_EQ(texts[0].rfind("trial ", 0), 0u);
}

TEST_F(RunRegistration, EscapeStopsTheRunAtTheNextCandidate) {
  int polls = 0;
  hooks.escape_pressed = [&polls] { return ++polls == 1; };
  state.best_lcp = -1;
  ::testing::internal::CaptureStdout();
  run();
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(polls, 1);
  EXPECT_EQ(state.best_lcp, -1.0f);  // nothing was published
  EXPECT_EQ(state.model_q[0].x, saved_q[0].x);
}

TEST_F(RunRegistration, AffineModeStillAlignsASlightlyScaledQ) {
  for (core::Point3D& p : saved_q) {
    p.x *= 1.01;
    p.y *= 1.01;
    p.z *= 1.01;
  }
  params.scale_tol = 0.99f;
  ::testing::internal::CaptureStdout();
  run();
  ::testing::internal::GetCapturedStdout();
  EXPECT_GT(state.best_lcp, params.thr);
}

TEST_F(RunRegistration, EmptyOrUnusableInputsEndQuietly) {
  params.num_try = 3;
  ::testing::internal::CaptureStdout();
  saved_q.clear();  // empty Q: no pairs
  run();
  EXPECT_TRUE(state.model_q.empty());
  SetUp();
  params.num_try = 3;
  params.margin = 3;  // no region: every trial fails to find a base
  run();
  EXPECT_EQ(params.base_max_len, 1000000.0f);
  EXPECT_EQ(state.trial_count, 3);
  EXPECT_EQ(state.model_q[0].x, saved_q[0].x);
  ::testing::internal::GetCapturedStdout();
}

// ---------------------------------------------------------------- select_p_region

TEST(SelectPRegion, ModesTakeTheSmallestOrLargestX) {
  core::PointSet p;
  for (int k = 0; k < 10; ++k) p.push_back(point((k * 7) % 10, k, 0));  // x: 0,7,4,1,8,5,2,9,6,3
  const core::PointSet low = select_p_region(p, 2, 2);
  ASSERT_EQ(low.size(), 2u);
  EXPECT_EQ(low[0].x, 0);
  EXPECT_EQ(low[1].x, 1);
  const core::PointSet high = select_p_region(p, 1, 2);
  ASSERT_EQ(high.size(), 2u);
  EXPECT_EQ(high[0].x, 9);
  EXPECT_EQ(high[1].x, 8);
  EXPECT_TRUE(select_p_region(p, 3, 2).empty());
  EXPECT_TRUE(select_p_region(p, 0, 2).empty());
  EXPECT_EQ(select_p_region(p, 1, 50).size(), 10u);
}

TEST(SelectPRegion, TiesAreOrderedByYThenZ) {
  const core::PointSet p = {point(1, 5, 0), point(1, 2, 9), point(1, 2, 3), point(0, 9, 9)};
  const core::PointSet low = select_p_region(p, 2, 4);
  EXPECT_EQ(low[0].x, 0);
  EXPECT_EQ(low[1].z, 3);
  EXPECT_EQ(low[2].z, 9);
  EXPECT_EQ(low[3].y, 5);
}

}  // namespace
}  // namespace kestrel::registration
