#pragma once
// One trial of a registration run: draw a base in P, generate candidate motions of Q (congruent
// quads, or random triples in RANSAC mode), score those that pass the residual gate by LCP and
// publish every improvement at once.

#include "core/point_set.h"
#include "core/run_parameters.h"
#include "registration/engine_hooks.h"
#include "registration/registration_state.h"

namespace kestrel::registration {

// `p_sample` (bases are drawn from it) and `q` (the run's copy of Q) are read only. `lcp` holds
// the run's best LCP on entry and the trial's best on exit; only a strictly better candidate
// counts. On each improvement: `moved_q` = state.model_q moved, state.full_q =
// state.saved_full_q moved, state.current_transform (c, t rounded to float), state.best_lcp and
// state.progress_text are written and the repaint hook is called. The Escape hook is polled once
// per candidate. Returns true when the run must stop (Escape, or lcp > params.thr).
bool run_trial(RegistrationState& state, const core::RunParameters& params,
               const EngineHooks& hooks, const core::PointSet& p_sample, const core::PointSet& q,
               core::PointSet& moved_q, float& lcp, float run_tol);

}  // namespace kestrel::registration
