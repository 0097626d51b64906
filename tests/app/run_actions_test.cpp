// The run buttons: what a run leaves in the session's model sets and display state.

#include "app/run_actions.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "app/command_line.h"
#include "app/model_actions.h"
#include "core/clock.h"
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

// ---- the second progress line -----------------------------------------------------------------

// A basic RANSAC run on the full-size scans goes on for days; stopped once it shows the time
// left (or after 20 s on a loaded machine), it has shown its trial line from the start and, below
// it, the share done, then the time left, renewed no more often than every 0.2 s.
TEST_F(RunActions, RansacShowsShareDoneAndTimeLeft) {
  std::vector<std::string> first_lines;
  std::vector<std::pair<int64_t, std::string>> details;
  ActionHooks hooks;
  int64_t start = 0;
  int64_t left_seen = -1;
  hooks.on_step = [this, &first_lines](const registration::ProgressPoint&) {
    first_lines.push_back(s.progress_text);
  };
  hooks.repaint = [this, &details, &left_seen] {
    if (details.empty() || details.back().second != s.progress_detail)
      details.emplace_back(core::tick_ms(), s.progress_detail);
    if (left_seen < 0 && s.progress_detail.find(" left") != std::string::npos &&
        s.progress_detail.find("not known") == std::string::npos)
      left_seen = core::tick_ms();
  };
  // Runs on a little past the first time left, so that a renewal can be seen too.
  hooks.should_stop = [&start, &left_seen] {
    const int64_t now = core::tick_ms();
    return (left_seen >= 0 && now - left_seen > 500) || now - start > 20000;
  };
  start = core::tick_ms();
  ::testing::internal::CaptureStdout();
  const registration::EngineResult r = on_start_ransac(s, hooks);
  ::testing::internal::GetCapturedStdout();
  EXPECT_TRUE(r.stopped);
  ASSERT_FALSE(first_lines.empty());
  EXPECT_EQ(first_lines.front(), "trial 1(" + std::to_string(s.params.num_try) + "), LCP: 0.000");
  bool share = false, left = false;
  for (size_t i = 0; i < details.size(); ++i) {
    const std::string& d = details[i].second;
    share |= d.find("% of the candidates done, ") != std::string::npos;
    left |= d.find(" left") != std::string::npos && d.find("not known") == std::string::npos;
    if (i > 1 && !d.empty()) EXPECT_GE(details[i].first - details[i - 1].first, 200) << d;
  }
  EXPECT_TRUE(share);
  EXPECT_TRUE(left);
  EXPECT_TRUE(s.progress_detail.empty());
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
