// The run buttons: what a run leaves in the session's model sets and display state.

#include "app/run_actions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/model_actions.h"
#include "core/rigid_transform.h"

namespace kestrel::app {
namespace {

const std::string kExamples = KESTREL_EXAMPLES_DIR;

struct RunActions : ::testing::Test {
  AppState s;
  void SetUp() override {
    ::testing::internal::CaptureStdout();
    ASSERT_TRUE(load_model(s, ModelSide::kP, kExamples + "/bun000.vrt", {}));
    ASSERT_TRUE(load_model(s, ModelSide::kQ, kExamples + "/bun045.vrt", {}));
    ::testing::internal::GetCapturedStdout();
  }
};

bool same_positions(const core::PointSet& a, const core::PointSet& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].x != b[i].x || a[i].y != b[i].y || a[i].z != b[i].z) return false;
  return true;
}

TEST_F(RunActions, KestrelLeavesQMovedByTheBestMotion) {
  std::vector<std::string> lines;
  ActionHooks hooks;
  hooks.repaint = [this, &lines] { lines.push_back(s.progress_text); };
  ::testing::internal::CaptureStdout();
  const registration::EngineResult r = on_start_kestrel(s, hooks);
  ::testing::internal::GetCapturedStdout();
  ASSERT_TRUE(r.improved);
  EXPECT_EQ(s.best_lcp, r.best_lcp);
  EXPECT_EQ(s.trial_count, r.trials);
  EXPECT_EQ(s.last_run.counts.candidates, r.counts.candidates);
  EXPECT_FALSE(s.first_selection);
  EXPECT_TRUE(s.progress_text.empty());
  EXPECT_FALSE(s.ransac_mode);
  // The working Q carries the exact motion; the current transform and the drawn Q its centre
  // and translation rounded to float.
  core::PointSet expected = s.models.saved_q;
  core::transform_point_set(expected, r.motion);
  EXPECT_TRUE(same_positions(s.models.model_q, expected));
  for (int k = 0; k < 3; ++k)
    EXPECT_EQ(s.current_transform.t[k], static_cast<float>(r.motion.t[k]));
  expected = s.models.saved_full_q;
  core::transform_point_set(expected, s.current_transform);
  EXPECT_TRUE(same_positions(s.models.full_q, expected));
  EXPECT_EQ(s.base_points.size(), 4u);
  // Repaints during the run show the progress line, and the last one the cleared line.
  size_t shown = 0;
  for (const std::string& line : lines) shown += line.rfind("trial ", 0) == 0;
  EXPECT_GT(shown, 0u);
  EXPECT_TRUE(lines.back().empty());
}

TEST_F(RunActions, RansacLeavesQWhereItsLastImprovementPutIt) {
  s.params.isamp = 100;  // about 100 working points: a RANSAC run ends by itself
  ::testing::internal::CaptureStdout();
  ASSERT_TRUE(load_model(s, ModelSide::kP, kExamples + "/bun000.vrt", {}));
  ASSERT_TRUE(load_model(s, ModelSide::kQ, kExamples + "/bun045.vrt", {}));
  const registration::EngineResult r = on_start_ransac(s, {});
  ::testing::internal::GetCapturedStdout();
  ASSERT_TRUE(r.improved);
  EXPECT_FALSE(s.ransac_mode);
  core::PointSet expected = s.models.saved_full_q;
  core::transform_point_set(expected, r.motion);
  EXPECT_TRUE(same_positions(s.models.full_q, expected));
}

TEST_F(RunActions, AStopFromOutsideEndsTheRunAndKeepsQ) {
  ActionHooks hooks;
  hooks.should_stop = [] { return true; };
  ::testing::internal::CaptureStdout();
  const registration::EngineResult r = on_start_kestrel(s, hooks);
  ::testing::internal::GetCapturedStdout();
  EXPECT_TRUE(r.stopped);
  EXPECT_TRUE(same_positions(s.models.model_q, s.models.saved_q));
}

TEST_F(RunActions, OptionsFollowTheParametersAndTheNoiseFlag) {
  s.params.norm_diff = 0.03f;
  s.params.margin = 2;
  s.noise_added = true;
  const registration::EngineOptions o = engine_options(s);
  EXPECT_FLOAT_EQ(o.normal_tol, 0.06f);
  EXPECT_EQ(o.margin, 2);
  EXPECT_TRUE(o.first_selection);
}

TEST_F(RunActions, NothingRunsWhileAModelIsMissing) {
  AppState empty;
  const registration::EngineResult r = on_start_kestrel(empty, {});
  EXPECT_EQ(r.trials, 0);
  EXPECT_EQ(empty.status_text, "Running Kestrel...");
}

}  // namespace
}  // namespace kestrel::app
