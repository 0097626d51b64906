#pragma once
// One trial of a registration run: draw a base in P, generate candidate motions of Q (congruent
// quads, or random triples in RANSAC mode), score those that pass the residual gate by LCP and
// report every improvement at once.

#include <array>
#include <cstdint>
#include <vector>

#include "core/point_set.h"
#include "core/random15.h"
#include "registration/engine.h"
#include "registration/near_mask.h"
#include "registration/pair_table.h"
#include "registration/point_grid.h"

namespace kestrel::registration {

// A polished candidate: its motion, its score and the trial that found it.
struct Finding {
  core::RigidTransform motion;
  double score = 0;
  int32_t trial = 0;
};

// What the trials of one run share. The references must outlive the run.
struct RunContext {
  const EngineOptions& options;
  const EngineHooks& hooks;
  core::Random15& rng;
  const AnnIndex& p_index;
  const core::PointSet& p_sample;  // bases are drawn from it
  const core::PointSet& q;         // the run's copy of Q: searched and scored
  float run_tol;                   // delta * point_spacing
  float point_spacing;
  bool ransac;
  bool first_selection;  // no base drawn yet in this process; cleared by the first draw
  float base_max_len;    // options.base_max_len, or no limit while bases come from a region
  EngineResult& result;  // best motion and LCP so far, trials, counts and stage times
  std::array<double, 3> q_centroid{};  // where two motions are compared (any-pose stop)
  int32_t best_trial = 0;              // the trial that found the best motion
  const PointGrid* p_grid = nullptr;   // with options.grid_scoring: P's positions for scoring
  const NearMask* p_mask = nullptr;    // with options.mask_scoring: the space near P
  const PairTable* q_pairs = nullptr;  // with options.oriented_pairs: Q's pairs by length
  std::vector<core::RigidTransform> polished{};  // motions the polish hook produced
  float min_fourth_distance = 0;  // > 0: replaces options.min_fourth_distance for this trial
  int32_t confirmations = 0;      // trials other than the best's that found the best motion again
  int32_t confirming_trial = 0;   // the last of them
  // Trials run side by side (trial_rounds.h) keep what they found here for the merge instead of
  // reporting it: every polished candidate with its score, in order.
  std::vector<Finding>* findings = nullptr;
};

// The squared radius within which a moved point of Q counts for the LCP: 2 x spacing x run
// tolerance, in float as the scores have always used it.
inline float scoring_sq_radius(const RunContext& run) {
  return run.point_spacing * run.run_tol * 2.0f;
}

// Takes a polished candidate of trial `trial` scoring `score`: it confirms the best motion when
// it lands there from another trial, and becomes the best (reported through the hooks) when it
// beats it.
void take_finding(RunContext& run, const Finding& finding, uint64_t pos, uint64_t count);

// Runs the next trial. Only a candidate strictly better than run.result.best_lcp counts; it
// becomes the run's best and goes to the hooks (progress line, repaint, on_improvement,
// repaint). The stop hook is polled once per candidate. Returns true when the run must stop
// (the hook said so, best_lcp > thr, or, with options.confirm_share set, a trial other than the
// one that found the best motion found it again).
bool run_trial(RunContext& run);

}  // namespace kestrel::registration
