#pragma once
// One trial of a search: draw a base in P, let the candidate source turn it into candidate
// motions of Q, judge those that pass the residual gate and report every improvement at once.

#include <cstdint>

#include "registration/search/run_state.h"

namespace kestrel::registration {

// Runs the next trial. Only a candidate strictly better than the best so far counts; it becomes
// the best and goes to the hooks (progress line, repaint, on_improvement, repaint). The stop hook
// is polled once per candidate. Returns true when the run must stop (the hook said so, or the
// stopping rule is satisfied).
bool run_trial(Trial& trial);

// Finds ahead the candidates of the trial `index` of the run whose generator is seeded with
// `seed`, as that trial will draw its base and turn it into candidates; `out` stays not ready
// when no base turns up or a `stop` request cut the search short.
void find_ahead(const RunSetup& setup, int32_t index, unsigned seed,
                const std::function<bool()>& stop, Lookahead& out);

// Takes a scored candidate: the stopping rule notes it, and it becomes the best (reported
// through the hooks as candidate `pos` of `count`) when it beats it.
void take_finding(Trial& trial, const Finding& finding, uint64_t pos, uint64_t count);

}  // namespace kestrel::registration
