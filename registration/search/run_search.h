#pragma once
// The driver every assembly ends in: runs the trials as the parts say and hands back the result.

#include <cstdint>

#include "core/random15.h"
#include "registration/records.h"
#include "registration/search/run_state.h"

namespace kestrel::registration {

// Runs the search `setup` assembles, reporting through `io`, with draws from `rng`. Tells
// on_step when the trials are over and prints "\nTime: %f\n" (seconds since `start_ms`) unless
// io.console is off.
EngineResult run_search(const RunSetup& setup, const TrialIO& io, core::Random15& rng,
                        bool first_selection, int64_t start_ms);

}  // namespace kestrel::registration
