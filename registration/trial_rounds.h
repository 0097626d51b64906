#pragma once
// Trials two at a time, for a run that may use a second core. Both trials of a round start
// from the run as it stood when the round began, each with a generator seeded from the run's,
// and what they found is merged in trial order afterwards. So a run gives the same motion
// whether the two trials share one thread or have one each, whatever the timing.

#include "registration/run_trial.h"

namespace kestrel::registration {

// Runs run.options.num_try trials in rounds of two until one stops the run (see run_trial),
// the second of each round on its own thread when `threads` is at least 2. Only the first
// trial of a round prints and reports progress as it goes; improvements reach the hooks at the
// merge. The stop hook is polled on the calling thread only.
void run_trial_rounds(RunContext& run, int threads);

}  // namespace kestrel::registration
