#pragma once
// The run buttons: "Start Kestrel" and "Start basic RANSAC" prepare the model sets, run the
// registration engine and tidy up; "Start ICP" refines the full Q against the full P.

#include <memory>
#include <string>

#include "app/action_hooks.h"
#include "app/app_state.h"
#include "icp/refine_q_by_icp.h"
#include "registration/records.h"

namespace kestrel::app {

// Runs a Kestrel registration from the saved Q with the process generator seeded with 0.
// Every improvement moves full_q and sets current_transform and best_lcp at once; at the end
// model_q is the saved Q moved by the best motion, full_q the saved full Q moved by
// current_transform, and run_time_ms the action's duration; status_text says why when the run
// found no motion. Does nothing while a model is missing. Returns the engine's result, also kept
// in state.last_run.
// With `full_p_grid`, a grid over the full P built beside the run, the any-pose search waits for
// that one rather than building its own.
registration::EngineResult on_start_kestrel(AppState& state, const ActionHooks& hooks,
                                            const registration::GridToCome* full_p_grid = nullptr);

// The same with random triples of Q instead of congruent bases; full_q keeps the motion of the
// run's last improvement.
registration::EngineResult on_start_ransac(AppState& state, const ActionHooks& hooks);

// Refines the full Q against the full P from Q's current position ("Start ICP"). Refused, with
// the reason in status_text and nothing moved, while a model is missing; hooks.should_stop
// (Escape) stops it with nothing moved either.
// `scene`, when given, is the any-pose mode's fit scene of P and Q as loaded (built beside the
// run by a caller that knew ICP would follow); the any-pose ICP builds it otherwise.
icp::IcpRefineResult on_start_icp(AppState& state, const ActionHooks& hooks,
                                  std::unique_ptr<registration::FitScene> scene = nullptr);

// Why a run found no motion (no candidate to score, or none with an LCP above 0); empty when
// it found one.
std::string no_motion_reason(const registration::EngineResult& run);

// The engine's settings for a run of `state` as its parameters stand.
registration::EngineOptions engine_options(const AppState& state);

// The any-pose search's settings for a run of `state` (the overlap only when it was given).
registration::AnyPoseOptions any_pose_options(const AppState& state);

}  // namespace kestrel::app
