// The window's actions: no stale result after a model changes, a failed run that moves
// nothing, a stopped run marked as such, files written only when there is something to write,
// and undo.

#include "app/window_actions.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "app/command_line.h"
#include "app/verdict_line.h"
#include "scratch_dir.h"

namespace kestrel::app {
namespace {

using kestrel::testing::ScratchDir;
const std::string kExamples = KESTREL_EXAMPLES_DIR;

bool same_positions(const core::PointSet& a, const core::PointSet& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].x != b[i].x || a[i].y != b[i].y || a[i].z != b[i].z) return false;
  return true;
}

bool no_result(const AppState& s) {
  for (const core::Point3D& b : s.base_points)
    if (b.x != 0 || b.y != 0 || b.z != 0) return false;
  return s.best_lcp == 0 && s.result_label.empty() && !verdict_lines(s).shown &&
         s.judgement.reason.empty();
}

struct WindowActions : ::testing::Test {
  AppState s;
  UndoStack undo;
  void SetUp() override {
    s.console = false;
    s.console_progress = false;
    ASSERT_TRUE(window_load(s, undo, ModelSide::kP, kExamples + "/bun000.vrt", {}));
    ASSERT_TRUE(window_load(s, undo, ModelSide::kQ, kExamples + "/bun045.vrt", {}));
  }
  void run(RunKind kind, std::function<bool()> stop = {}) {
    ActionHooks hooks;
    hooks.should_stop = std::move(stop);
    window_run(s, undo, kind, hooks);
  }
};

// ---- runs ------------------------------------------------------------------------------------

// No pair of Q passes a zero normal tolerance, and a stop before the first candidate finds
// nothing either: Q stays where "Random position" put it, with no result to show or write.
TEST_F(WindowActions, ARunThatFindsNothingLeavesQWhereItWas) {
  const std::function<void(AppState&)> spoil[] = {
      [](AppState& st) { st.params.norm_diff = 0; },
      [](AppState&) {},
  };
  for (int k = 0; k < 2; ++k) {
    SCOPED_TRACE(k);
    window_random_position(s, undo);
    spoil[k](s);
    const core::PointSet full_q = s.models.full_q, model_q = s.models.model_q;
    const core::RigidTransform before = s.current_transform;
    run(RunKind::kKestrel, k == 1 ? std::function<bool()>([] { return true; }) : nullptr);
    EXPECT_TRUE(same_positions(s.models.full_q, full_q));
    EXPECT_TRUE(same_positions(s.models.model_q, model_q));
    EXPECT_EQ(s.current_transform.R.data, before.R.data);
    EXPECT_TRUE(no_result(s));
    EXPECT_EQ(s.status_text.rfind("No motion found", 0), 0u) << s.status_text;
    EXPECT_NE(s.status_text.find("Q left where it was"), std::string::npos);
    EXPECT_FALSE(window_export(s, ScratchDir().file("results.tfm"), ""));
  }
}

TEST_F(WindowActions, AStoppedRunKeepsItsBestMotionMarkedStopped) {
  run(RunKind::kKestrel, [this] { return s.best_lcp > 0; });
  ASSERT_TRUE(s.result_stopped);
  EXPECT_EQ(s.result_label, "Kestrel run");
  EXPECT_NE(verdict_lines(s).verdict.find("stopped"), std::string::npos);
  const ScratchDir dir;
  ASSERT_TRUE(window_export(s, dir.file("results.tfm"), ""));
  const std::string text = ScratchDir::read(dir.file("results.tfm"));
  EXPECT_NE(text.find("Units: mm\n" + std::string(kStoppedLine) + "\n"), std::string::npos);
  core::RunParameters params;  // -l still reads lines 5 to 8
  EXPECT_TRUE(read_trans_file(dir.file("results.tfm"), params));
  EXPECT_NE(s.status_text.find("(stopped)"), std::string::npos) << s.status_text;
}

TEST_F(WindowActions, RunsAreRefusedWhileAModelIsMissing) {
  AppState empty;
  empty.console = false;
  window_run(empty, undo, RunKind::kIcp, {});
  EXPECT_EQ(empty.status_text, "Start ICP needs both models: load model P and model Q");
  EXPECT_TRUE(undo.entries.empty());
}

// ---- stale results -----------------------------------------------------------------------------

TEST_F(WindowActions, EveryModelChangeDropsTheResult) {
  const std::function<void()> changes[] = {
      [this] { window_random_position(s, undo); },
      [this] { window_add_noise(s, undo); },
      [this] { window_load(s, undo, ModelSide::kQ, kExamples + "/bun045.vrt", {}); },
      [this] { window_load(s, undo, ModelSide::kP, kExamples + "/bun000.vrt", {}); },
  };
  for (size_t k = 0; k < std::size(changes); ++k) {
    SCOPED_TRACE(k);
    run(RunKind::kKestrel);
    ASSERT_FALSE(no_result(s));
    ASSERT_TRUE(verdict_lines(s).shown);
    changes[k]();
    EXPECT_TRUE(no_result(s));
  }
}

// ---- result files ------------------------------------------------------------------------------

TEST_F(WindowActions, KeyOWritesOnlyAResultAndSaysWhat) {
  const ScratchDir dir;
  const std::string results = dir.file("results.tfm");
  EXPECT_FALSE(window_export(s, results, ""));
  EXPECT_FALSE(std::filesystem::exists(results));
  EXPECT_EQ(s.status_text.rfind("Nothing written: no motion found", 0), 0u) << s.status_text;
  run(RunKind::kKestrel);
  run(RunKind::kIcp);
  EXPECT_EQ(s.result_label, "Kestrel run, then ICP");
  EXPECT_FALSE(verdict_lines(s).icp.empty());
  ASSERT_TRUE(window_export(s, results, ""));
  EXPECT_EQ(
      s.status_text.rfind("Wrote " + results + ": Q's place after the Kestrel run, then ICP", 0),
      0u)
      << s.status_text;
  EXPECT_EQ(ScratchDir::read(results).find("stopped"), std::string::npos);
}

TEST(WindowActionsEmpty, NothingIsWrittenBeforeAModelIsLoaded) {
  AppState s;
  s.console = false;
  const ScratchDir dir;
  EXPECT_FALSE(window_save(s, dir.path().string()));
  EXPECT_FALSE(std::filesystem::exists(dir.file("out1.obj")));
  EXPECT_EQ(s.status_text, "Nothing written: no model is loaded");
  ::testing::internal::CaptureStdout();
  EXPECT_FALSE(window_export(s, dir.file("results.tfm"), ""));
  ::testing::internal::GetCapturedStdout();
  EXPECT_FALSE(std::filesystem::exists(dir.file("results.tfm")));
  EXPECT_EQ(s.messages.lines.size(), 2u);
}

// ---- undo --------------------------------------------------------------------------------------

TEST_F(WindowActions, UndoPutsBackEachActionInTurn) {
  const core::PointSet loaded_q = s.models.full_q, loaded_p = s.models.full_p;
  run(RunKind::kKestrel);
  const core::PointSet after_run = s.models.full_q;
  const float lcp = s.best_lcp;
  window_random_position(s, undo);
  window_add_noise(s, undo);
  EXPECT_FALSE(same_positions(s.models.full_p, loaded_p));
  window_undo(s, undo);
  EXPECT_EQ(s.status_text, "Undone: Add noise");
  EXPECT_TRUE(same_positions(s.models.full_p, loaded_p));
  EXPECT_FALSE(s.noise_added);
  window_undo(s, undo);
  EXPECT_TRUE(same_positions(s.models.full_q, after_run));
  EXPECT_EQ(s.best_lcp, lcp);
  EXPECT_EQ(s.result_label, "Kestrel run");
  window_undo(s, undo);
  EXPECT_TRUE(same_positions(s.models.full_q, loaded_q));
  EXPECT_TRUE(no_result(s));
  window_undo(s, undo);
  EXPECT_EQ(s.status_text, "Nothing to undo");
}

TEST_F(WindowActions, UndoKeepsAShortStack) {
  for (size_t k = 0; k < UndoStack::kDepth + 3; ++k) window_random_position(s, undo);
  EXPECT_EQ(undo.entries.size(), UndoStack::kDepth);
  window_load(s, undo, ModelSide::kQ, kExamples + "/bun045.vrt", {});
  EXPECT_TRUE(undo.entries.empty());
}

}  // namespace
}  // namespace kestrel::app
