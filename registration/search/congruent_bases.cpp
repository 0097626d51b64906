#include "registration/search/congruent_bases.h"

#include <cmath>
#include <limits>
#include <optional>

#include "core/clock.h"
#include "registration/congruent/affine_correction.h"
#include "registration/search/progress.h"
#include "registration/search/run_state.h"

namespace kestrel::registration {

using core::Clock;
using core::elapsed_ms;

namespace {

// A stop request that cut the trial's pairs or quads short ends the trial and, with it, the run.
bool stopped(Trial& trial) {
  if (!trial.io.hooks.stop()) return false;
  trial.tally.stopped = true;
  return true;
}

}  // namespace

// The d1 and d2 pairs; false when either list is empty.
bool CongruentBases::find_pairs(Trial& trial, const Base& base,
                                std::vector<core::IndexPair>& d1_pairs,
                                std::vector<core::IndexPair>& d2_pairs) const {
  const core::PointSet& b = base.points;
  const float run_tol = trial.setup.run_tol;
  const double d1 = core::distance(b[0], b[1]);
  const double d2 = core::distance(b[2], b[3]);
  const Clock::time_point start = Clock::now();
  const double widen = std::fabs(1.0f - scale_tol_);
  const std::function<bool()>& stop = trial.io.hooks.should_stop;
  pairs_.pairs(b[0], b[1], d1, widen * d1 + run_tol, d1_pairs, stop);
  pairs_.pairs(b[2], b[3], d2, widen * d2 + run_tol, d2_pairs, stop);
  const double pairs_ms = elapsed_ms(start);
  Tally& tally = trial.tally;
  tally.times.pair_extraction += pairs_ms;
  tally.counts.pairs_d1 += static_cast<int64_t>(d1_pairs.size());
  tally.counts.pairs_d2 += static_cast<int64_t>(d2_pairs.size());
  if (d1_pairs.empty() || d2_pairs.empty() || stopped(trial)) return false;
  if (trial.io.debug) debug_pairs(static_cast<int64_t>(pairs_ms), d1_pairs.size(), d2_pairs.size());
  return true;
}

bool CongruentBases::find(Trial& trial, const Base& base, TrialCandidates& out) const {
  std::vector<core::IndexPair> d1_pairs, d2_pairs;
  if (!find_pairs(trial, base, d1_pairs, d2_pairs)) return false;
  const float run_tol = trial.setup.run_tol;
  const double widen = std::fabs(1.0f - scale_tol_);
  const Clock::time_point start = Clock::now();
  const double quad_tol = widen * run_tol + static_cast<double>(2.0f * run_tol);
  const bool found =
      quads_.find(d1_pairs, d2_pairs, base, quad_tol, out.quads, trial.io.hooks.should_stop);
  const double quads_ms = elapsed_ms(start);
  trial.tally.times.quad_search += quads_ms;
  trial.tally.counts.quads += static_cast<int64_t>(out.quads.size());
  out.count = out.quads.size();
  if (stopped(trial)) return false;
  if (!found) {
    if (trial.io.debug) debug_no_quads();
    return false;
  }
  if (trial.io.debug) debug_quads(static_cast<int64_t>(quads_ms), out.quads.size());
  return true;
}

// The base's sample points, in the order selection found them, matched with the quad.
void CongruentBases::matches(Trial& trial, const Base& base, const TrialCandidates& candidates,
                             uint64_t pos, std::vector<core::PointMatch>& out) const {
  const core::CongruentQuad& quad = candidates.quads[pos];
  const size_t picked[4] = {quad.q0, quad.q1, quad.q2, quad.q3};
  out.resize(4);
  for (size_t k = 0; k < 4; ++k)
    out[k] = {trial.setup.p_sample[static_cast<size_t>(base.index[k])], trial.setup.q[picked[k]]};
}

// Rigid, then (when scale is allowed) corrected by the affine step, whose residual is 0; a
// rejected correction fails every gate.
MotionEstimate CongruentBases::motion(std::vector<core::PointMatch>& matches) const {
  MotionEstimate estimate = estimate_rigid_motion(matches, true);
  if (scale_tol_ == 1.0f) return estimate;
  for (core::PointMatch& match : matches) core::transform_point(match.q, estimate.motion);
  const std::optional<AffineCorrection> correction = estimate_affine_correction(matches);
  if (!correction) {
    estimate.residual = std::numeric_limits<double>::infinity();
    return estimate;
  }
  estimate.motion = combine_with_correction(*correction, estimate.motion);
  estimate.residual = 0;
  return estimate;
}

}  // namespace kestrel::registration
