#include "registration/run_trial.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/rigid_transform.h"
#include "registration/affine_correction.h"
#include "registration/base_selection.h"
#include "registration/lcp.h"
#include "registration/motion_estimation.h"
#include "registration/pair_extraction.h"
#include "registration/progress.h"
#include "registration/quad_search.h"

namespace kestrel::registration {

namespace {

using core::Clock;
using core::elapsed_ms;

ProgressPoint progress_point(const RunContext& run, uint64_t pos, uint64_t count) {
  return {run.ransac, run.result.trials, run.options.num_try, run.result.best_lcp, pos, count};
}

bool console_progress(const EngineOptions& options) {
  return options.console && options.console_progress;
}

void report_step(const RunContext& run, const ProgressPoint& at) {
  if (run.hooks.on_step) run.hooks.on_step(at);
}

void report_progress(const RunContext& run, uint64_t pos, uint64_t count) {
  const ProgressPoint at = progress_point(run, pos, count);
  const std::string line = candidate_progress(at, console_progress(run.options));
  if (run.hooks.on_progress) run.hooks.on_progress(line);
  report_step(run, at);
  run.hooks.request_repaint();
}

// The run's new best: its progress line and a repaint, then the motion itself and a repaint
// that shows it.
void report_improvement(RunContext& run, const core::RigidTransform& motion, uint64_t pos,
                        uint64_t count) {
  EngineResult& result = run.result;
  const ProgressPoint at = progress_point(run, pos, count);
  const std::string line = improvement_progress(at, console_progress(run.options));
  if (run.hooks.on_progress) run.hooks.on_progress(line);
  report_step(run, at);
  run.hooks.request_repaint();
  result.motion = motion;
  result.improved = true;
  if (run.hooks.on_improvement) run.hooks.on_improvement({result.motion, result.best_lcp});
  run.hooks.request_repaint();
}

// |Q|^3 in 64 bits (32 bits wrap from 1626 points on), saturating for absurdly large sets.
uint64_t ransac_candidate_count(size_t q_size) {
  const auto n = static_cast<uint64_t>(q_size);
  constexpr uint64_t kCubeRootOfMax = 2642245;
  return n > kCubeRootOfMax ? UINT64_MAX : n * n * n;
}

// The candidate at `pos`: the base's sample points (in the order selection found them) matched
// with a congruent quad of Q, or in RANSAC mode the base triangle with three pairwise distinct
// random points of Q (|Q| >= 3).
void candidate_matches(RunContext& run, const Base& base,
                       const std::vector<core::CongruentQuad>& quads, uint64_t pos,
                       std::vector<core::PointMatch>& matches) {
  uint64_t picked[4];
  if (run.ransac) {
    const auto n = static_cast<uint64_t>(run.q.size());
    do {
      for (int k = 0; k < 3; ++k) picked[k] = static_cast<uint64_t>(run.rng.next()) % n;
    } while (picked[0] == picked[1] || picked[0] == picked[2] || picked[1] == picked[2]);
  } else {
    const core::CongruentQuad& quad = quads[pos];
    picked[0] = quad.q0, picked[1] = quad.q1, picked[2] = quad.q2, picked[3] = quad.q3;
  }
  matches.resize(run.ransac ? 3 : 4);
  for (size_t k = 0; k < matches.size(); ++k)
    matches[k] = {run.p_sample[static_cast<size_t>(base.index[k])], run.q[picked[k]]};
}

// The candidate's motion and residual: rigid, then (when scale is allowed) corrected by the
// affine step, whose residual is 0; a rejected correction fails every gate.
MotionEstimate candidate_motion(std::vector<core::PointMatch>& matches, bool ransac, bool affine) {
  MotionEstimate estimate = estimate_rigid_motion(matches, !ransac);
  if (!affine) return estimate;
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

// Scores the motion and keeps it when it beats the run's best LCP.
void score_candidate(RunContext& run, const core::RigidTransform& motion, uint64_t pos,
                     uint64_t count) {
  EngineResult& result = run.result;
  const auto sq_radius = static_cast<float>(run.point_spacing * run.run_tol * 2.0f);
  const LcpScore score = compute_lcp(run.q, run.p_index, motion, sq_radius, result.best_lcp);
  ++result.counts.candidates;
  if (score.early_exit) ++result.counts.lcp_early_exits;
  if (score.value > result.best_lcp) {
    result.best_lcp = static_cast<float>(score.value);
    report_improvement(run, motion, pos, count);
  }
}

// The candidate loop shared by both modes; `quads` is empty in RANSAC mode. The time of the
// loop goes to motion estimation except what scoring and reporting take.
bool evaluate_candidates(RunContext& run, const Base& base,
                         const std::vector<core::CongruentQuad>& quads, uint64_t count) {
  EngineResult& result = run.result;
  const float gate = (run.ransac ? 15.0f : 5.0f) * run.run_tol;
  const bool affine = !run.ransac && run.options.scale_tol != 1.0f;
  const Clock::time_point start = Clock::now();
  double scoring_ms = 0, other_ms = 0;
  std::vector<core::PointMatch> matches;
  for (uint64_t pos = 0; pos < count; ++pos) {
    if (run.hooks.stop()) {
      result.stopped = true;
      break;
    }
    candidate_matches(run, base, quads, pos, matches);
    const MotionEstimate estimate = candidate_motion(matches, run.ransac, affine);
    if (pos % 100 == 0) {
      const Clock::time_point t0 = Clock::now();
      report_progress(run, pos, count);
      other_ms += elapsed_ms(t0);
    }
    if (estimate.residual < static_cast<double>(gate)) {
      const Clock::time_point t0 = Clock::now();
      score_candidate(run, estimate.motion, pos, count);
      scoring_ms += elapsed_ms(t0);
      if (result.best_lcp > run.options.thr) break;
    }
  }
  const double loop_ms = elapsed_ms(start);
  result.times.lcp_scoring += scoring_ms;
  result.times.motion_estimation += loop_ms - scoring_ms - other_ms;
  // A stop from outside ends the trial at once, without its closing debug lines.
  if (result.stopped) return true;
  if (run.options.debug) debug_evaluation(static_cast<int64_t>(loop_ms));
  return result.best_lcp > run.options.thr;
}

// The d1 and d2 pairs of Q and the congruent quads among them; false (with the debug message)
// when there are none.
bool find_quads(RunContext& run, const Base& base, double d1, double d2,
                std::vector<core::CongruentQuad>& quads) {
  const EngineOptions& options = run.options;
  const core::PointSet& b = base.points;
  const float run_tol = run.run_tol;
  Clock::time_point start = Clock::now();
  const double widen = std::fabs(1.0f - options.scale_tol);
  std::vector<core::IndexPair> d1_pairs, d2_pairs;
  extract_pairs(run.q, d1, core::normal_difference(b[0], b[1]), widen * d1 + run_tol,
                options.normal_tol, d1_pairs);
  extract_pairs(run.q, d2, core::normal_difference(b[2], b[3]), widen * d2 + run_tol,
                options.normal_tol, d2_pairs);
  const double pairs_ms = elapsed_ms(start);
  run.result.times.pair_extraction += pairs_ms;
  run.result.counts.pairs_d1 += static_cast<int64_t>(d1_pairs.size());
  run.result.counts.pairs_d2 += static_cast<int64_t>(d2_pairs.size());
  if (d1_pairs.empty() || d2_pairs.empty()) return false;
  if (options.debug) debug_pairs(static_cast<int64_t>(pairs_ms), d1_pairs.size(), d2_pairs.size());

  start = Clock::now();
  const double quad_tol = widen * run_tol + static_cast<double>(2.0f * run_tol);
  const bool found = find_congruent_quads(d1_pairs, d2_pairs, quads, base.r1, base.r2, quad_tol,
                                          run_tol, run.q, b);
  const double quads_ms = elapsed_ms(start);
  run.result.times.quad_search += quads_ms;
  run.result.counts.quads += static_cast<int64_t>(quads.size());
  if (!found) {
    if (options.debug) debug_no_quads();
    return false;
  }
  if (options.debug) debug_quads(static_cast<int64_t>(quads_ms), quads.size());
  return true;
}

}  // namespace

bool run_trial(RunContext& run) {
  EngineResult& result = run.result;
  const EngineOptions& options = run.options;
  result.trials += 1;
  if (console_progress(options)) print_trial_start(result.trials, options.num_try, result.best_lcp);
  report_step(run, progress_point(run, 0, 0));

  const Clock::time_point start = Clock::now();
  const std::optional<Base> base =
      select_base(run.p_sample, {options.margin, run.base_max_len}, run.first_selection, run.rng);
  const double select_ms = elapsed_ms(start);
  result.times.base_selection += select_ms;
  if (!base) {
    if (options.debug) debug_no_base();
    return false;
  }
  if (options.debug) debug_base(base->index);
  if (run.hooks.on_base) run.hooks.on_base(base->points);
  const core::PointSet& b = base->points;
  const double d1 = core::distance(b[0], b[1]);
  const double d2 = core::distance(b[2], b[3]);
  if (options.debug) debug_selection(static_cast<int64_t>(select_ms), d1, d2);

  if (run.ransac) {
    // No pairwise distinct triple exists: end the trial like one without a base.
    if (run.q.size() < 3) {
      if (options.debug) debug_too_few_q_points(run.q.size());
      return false;
    }
    return evaluate_candidates(run, *base, {}, ransac_candidate_count(run.q.size()));
  }
  std::vector<core::CongruentQuad> quads;
  if (!find_quads(run, *base, d1, d2, quads)) return false;
  return evaluate_candidates(run, *base, quads, quads.size());
}

}  // namespace kestrel::registration
