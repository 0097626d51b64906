#pragma once
// The run buttons: "Start Kestrel" and "Start basic RANSAC" prepare the model sets, run the
// registration engine and tidy up; "Start ICP" refines the full Q against the full P.

#include <string>

#include "app/app_state.h"
#include "icp/refine_q_by_icp.h"
#include "registration/engine_hooks.h"

namespace kestrel::app {

// Runs a Kestrel registration from the saved Q; afterwards full_q shows Q moved by the best
// motion, best_lcp and run_time_ms hold the result, and status_text says why when the run found
// no motion. Does nothing while a model is missing.
void on_start_kestrel(AppState& state, const registration::EngineHooks& hooks);

// The same with random triples of Q instead of congruent bases.
void on_start_ransac(AppState& state, const registration::EngineHooks& hooks);

// Refines the full Q against the full P from Q's current position ("Start ICP"). Refused, with
// the reason in status_text and nothing moved, while a model is missing.
// Why the last run found no motion (no candidate to score, or none with an LCP above 0); empty
// when it found one.
std::string no_motion_reason(const registration::RegistrationState& reg);

icp::IcpRefineResult on_start_icp(AppState& state, const registration::EngineHooks& hooks);

}  // namespace kestrel::app
