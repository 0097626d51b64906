#pragma once
// The registration run: prepares the sample of P and the run tolerance, runs up to num_try
// trials and keeps the best moved copy of Q.

#include <cstddef>
#include <cstdint>

#include "core/point_set.h"
#include "core/run_parameters.h"
#include "registration/engine_hooks.h"
#include "registration/registration_state.h"

namespace kestrel::registration {

// Aligns state.model_q to state.model_p (Kestrel, or RANSAC when state.ransac_mode is set).
// Expects state.p_index built over model_p, params.point_spacing from it, trial_count reset and
// the 15-bit generator seeded by the caller. Tolerance: run_tol = delta * point_spacing. With a
// non-zero margin, bases come from a quarter of P (select_p_region) and params.base_max_len is
// set to 1000000 (no limit). Stops after num_try trials, when an LCP exceeds thr, or on Escape.
// Publishes improvements as run_trial does; at the end model_q becomes the best moved copy
// (unchanged when nothing beat 0), and run_lcp and run_candidates tell what the run found.
// Prints "\nTime: %f\n" (seconds).
void run_registration(RegistrationState& state, core::RunParameters& params,
                      const EngineHooks& hooks);

// The `count` points of `model_p` with the largest x (mode 1, largest first) or the smallest x
// (mode 2, ascending), ordering by x, then y, then z; empty for any other mode. `count` is
// capped at |model_p|.
core::PointSet select_p_region(const core::PointSet& model_p, int32_t mode, size_t count);

}  // namespace kestrel::registration
