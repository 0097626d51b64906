#pragma once
// "Start Kestrel" with "Any pose" ticked: the search that needs neither a pose nor an overlap.

#include "app/app_state.h"
#include "core/random15.h"
#include "registration/engine.h"

namespace kestrel::app {

// Fits normals in 3D to both full scans, derives the search settings from the scans (the
// overlap only when one was given), runs the search on the working sets as they stand and
// polishes the best motion against the full P, which then goes to `engine.on_improvement`.
// The normals and the polish are timed in the result's stage times.
registration::EngineResult run_any_pose(const AppState& state,
                                        const registration::EngineOptions& options,
                                        const registration::EngineHooks& engine,
                                        core::Random15& rng);

}  // namespace kestrel::app
