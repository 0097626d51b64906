#include "registration/run_trial.h"

#include <algorithm>
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

// Whether two motions put Q in about the same place: turned by less than confirm_degrees from
// each other, and Q's centroid within confirm_tolerances run tolerances.
bool same_place(const RunContext& run, const core::RigidTransform& a,
                const core::RigidTransform& b) {
  double trace = 0;
  for (uint32_t i = 0; i < 3; ++i)
    for (uint32_t j = 0; j < 3; ++j) trace += a.R(i, j) * b.R(i, j);
  const double cos_angle = std::clamp((trace - 1) / 2, -1.0, 1.0);
  const double limit = std::cos(run.options.confirm_degrees * M_PI / 180);
  if (cos_angle < limit) return false;
  const std::array<double, 3>& c = run.q_centroid;
  core::Point3D pa, pb;
  pa.x = pb.x = c[0], pa.y = pb.y = c[1], pa.z = pb.z = c[2];
  core::transform_point(pa, a);
  core::transform_point(pb, b);
  return core::distance(pa, pb) < run.options.confirm_tolerances * run.run_tol;
}

// Whether the candidate lands where a polished one did: it would polish to the same motion.
bool lands_where_polished(const RunContext& run, const core::RigidTransform& motion) {
  for (const core::RigidTransform& p : run.polished)
    if (same_place(run, motion, p)) return true;
  return false;
}

// Whether the candidate could confirm the best motion: the confirmation stop is on, and it lands
// where the best motion does but comes from another trial (another base).
bool may_confirm(const RunContext& run, const core::RigidTransform& motion) {
  const EngineResult& result = run.result;
  return run.options.confirm_share > 0 && result.improved && run.best_trial != result.trials &&
         same_place(run, motion, result.motion);
}

// The score a candidate must reach to matter: the best LCP, or the share of it at which a
// candidate that may confirm the best motion does so.
double score_bar(const RunContext& run, bool confirming) {
  const EngineResult& result = run.result;
  return confirming ? run.options.confirm_share * result.best_lcp : result.best_lcp;
}

// The score at which a candidate is worth scoring in full: the bar itself, or with the polish
// hook a share of it, since a raw motion from four points scores below its polished self.
double entry_bar(const RunContext& run, bool confirming) {
  const double bar = score_bar(run, confirming);
  return run.hooks.polish ? run.options.polish_share * bar : bar;
}

LcpScore score_motion(const RunContext& run, const core::RigidTransform& motion, double bar) {
  const float sq_radius = scoring_sq_radius(run);
  if (run.p_mask) return compute_lcp(run.q, *run.p_mask, motion, bar);
  return run.p_grid ? compute_lcp(run.q, *run.p_grid, motion, sq_radius, bar)
                    : compute_lcp(run.q, run.p_index, motion, sq_radius, bar);
}

}  // namespace

void take_finding(RunContext& run, const Finding& finding, uint64_t pos, uint64_t count) {
  EngineResult& result = run.result;
  const bool confirming = run.options.confirm_share > 0 && result.improved &&
                          run.best_trial != finding.trial &&
                          same_place(run, finding.motion, result.motion);
  if (confirming && finding.score > score_bar(run, true) &&
      run.confirming_trial != finding.trial) {
    run.confirming_trial = finding.trial;
    if (++run.confirmations >= run.options.confirm_count) result.confirmed = true;
  }
  if (finding.score > result.best_lcp) {
    // A best elsewhere starts its own count of findings.
    if (result.improved && !same_place(run, finding.motion, result.motion)) run.confirmations = 0;
    result.best_lcp = static_cast<float>(finding.score);
    run.best_trial = finding.trial;
    report_improvement(run, finding.motion, pos, count);
  }
}

namespace {

// Scores the motion and keeps it when it beats the run's best LCP. With the confirmation stop,
// a candidate from another trial that lands where the best motion does confirms it.
void score_candidate(RunContext& run, const core::RigidTransform& motion, bool confirming,
                     uint64_t pos, uint64_t count) {
  EngineResult& result = run.result;
  const double bar = score_bar(run, confirming);
  const double entry = entry_bar(run, confirming);
  LcpScore score = score_motion(run, motion, entry);
  ++result.counts.candidates;
  if (score.early_exit) ++result.counts.lcp_early_exits;
  if (!run.hooks.polish) {
    if (confirming && score.value > bar) result.confirmed = true;
    if (score.value > result.best_lcp) {
      result.best_lcp = static_cast<float>(score.value);
      run.best_trial = result.trials;
      report_improvement(run, motion, pos, count);
    }
    return;
  }
  if (!(score.value > entry)) return;
  const Clock::time_point t0 = Clock::now();
  Finding finding{motion, 0, result.trials};
  run.hooks.polish(finding.motion);
  ++result.counts.polished;
  run.polished.push_back(finding.motion);
  finding.score = score_motion(run, finding.motion, 0).value;
  result.times.polish += elapsed_ms(t0);
  if (run.findings) run.findings->push_back(finding);
  take_finding(run, finding, pos, count);
}

// Cheap tests before the full score (any-pose search). The four matched normals, turned by the
// motion, must agree with P's, all with the same sign (a scan's normals share one sign, which
// may differ between the scans).
bool normals_agree(const RunContext& run, const std::vector<core::PointMatch>& matches,
                   const core::RigidTransform& motion) {
  const float limit = run.options.normal_agreement;
  int same = 0, opposite = 0;
  for (const core::PointMatch& m : matches) {
    const core::DenseMatrix& R = motion.R;
    double c = 0;
    for (uint32_t i = 0; i < 3; ++i) {
      const double turned = R(i, 0) * m.q.nx + R(i, 1) * m.q.ny + R(i, 2) * m.q.nz;
      c += turned * (i == 0 ? m.p.nx : i == 1 ? m.p.ny : m.p.nz);
    }
    same += c > limit;
    opposite += -c > limit;
  }
  const int n = static_cast<int>(matches.size());
  return same == n || opposite == n;
}

// The share of every stride-th point of Q that the motion brings within the scoring radius of
// P, and how many points that was.
double sample_share(const RunContext& run, const core::RigidTransform& motion, size_t stride,
                    size_t& n) {
  const float sq_radius = scoring_sq_radius(run);
  size_t hits = 0;
  n = 0;
  if (run.p_mask) {
    const MotionMatrix m(motion);
    for (size_t i = 0; i < run.q.size(); i += stride, ++n) {
      double x, y, z;
      m.apply(run.q[i], x, y, z);
      hits += run.p_mask->near(x, y, z);
    }
    return n ? static_cast<double>(hits) / static_cast<double>(n) : 1.0;
  }
  for (size_t i = 0; i < run.q.size(); i += stride, ++n) {
    core::Point3D moved = run.q[i];
    core::transform_point(moved, motion);
    const bool near = run.p_grid
                          ? run.p_grid->any_within(moved.x, moved.y, moved.z, sq_radius)
                          : sq_radius > run.p_index.nearest_sq_dist(moved.x, moved.y, moved.z);
    if (near) ++hits;
  }
  return n ? static_cast<double>(hits) / static_cast<double>(n) : 1.0;
}

// Scores a sample of Q, first every 4 x lcp_presample-th point, then every lcp_presample-th,
// and rejects the candidate when the share is so far below the bar (by two standard errors)
// that the full score would not reach it. Most wrong candidates fail the first, small sample.
bool passes_presample(const RunContext& run, const core::RigidTransform& motion, bool confirming) {
  constexpr double kFloor = 0.05;  // below this no sample says anything
  constexpr double kSigmas = 2;
  const double bar = entry_bar(run, confirming);
  const auto stride = static_cast<size_t>(run.options.lcp_presample);
  for (const size_t s : {4 * stride, stride}) {
    size_t n = 0;
    const double share = sample_share(run, motion, s, n);
    if (n == 0) return true;
    const double sigma = std::sqrt(std::max(bar * (1 - bar), 0.01) / static_cast<double>(n));
    if (share < kFloor || share < bar - kSigmas * sigma) return false;
  }
  return true;
}

// The cheapest test first: the matched normals (any-pose search).
bool normals_pass(RunContext& run, const std::vector<core::PointMatch>& matches,
                  const core::RigidTransform& motion) {
  if (run.options.normal_agreement > -1 && !normals_agree(run, matches, motion)) {
    ++run.result.counts.normal_rejections;
    return false;
  }
  return true;
}

bool worth_scoring(RunContext& run, const core::RigidTransform& motion, bool confirming) {
  EngineCounts& counts = run.result.counts;
  if (run.options.lcp_presample > 0 && !passes_presample(run, motion, confirming)) {
    ++counts.presample_rejections;
    return false;
  }
  return true;
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
  const double polish_before = result.times.polish;
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
      const bool confirming = may_confirm(run, estimate.motion);
      if (!normals_pass(run, matches, estimate.motion))
        ;
      else if (!confirming && lands_where_polished(run, estimate.motion))
        ++result.counts.near_polished;
      else if (worth_scoring(run, estimate.motion, confirming))
        score_candidate(run, estimate.motion, confirming, pos, count);
      scoring_ms += elapsed_ms(t0);
      if (result.best_lcp > run.options.thr || result.confirmed) break;
    }
  }
  const double loop_ms = elapsed_ms(start);
  // Vetting runs inside scoring but is a stage of its own.
  result.times.lcp_scoring += scoring_ms - (result.times.polish - polish_before);
  result.times.motion_estimation += loop_ms - scoring_ms - other_ms;
  // A stop from outside ends the trial at once, without its closing debug lines.
  if (result.stopped) return true;
  if (run.options.debug) debug_evaluation(static_cast<int64_t>(loop_ms));
  return result.best_lcp > run.options.thr || result.confirmed;
}

// Keeps at most `limit` items (0: all), spread evenly over the list in their order. On flat or
// featureless parts nearly every pair and quad passes the tests; a share of them, drawn evenly,
// still holds the right ones where the surface repeats itself.
template <typename T>
void keep_evenly(std::vector<T>& items, size_t limit) {
  if (limit == 0 || items.size() <= limit) return;
  std::vector<T> kept;
  kept.reserve(limit);
  for (size_t k = 0; k < limit; ++k) kept.push_back(items[k * items.size() / limit]);
  items.swap(kept);
}

// The exact search's squared radius: three quarters of the run tolerance, squared. (The
// specified search takes the tolerance itself as a squared radius, which only suits
// millimetre-sized spacings.) Each of the two intersection points carries its pair's sampling
// offsets, so they may lie most of a tolerance apart.
double exact_search_sq_radius(float run_tol) {
  constexpr double kIntersectionShare = 0.75;
  const double r = kIntersectionShare * static_cast<double>(run_tol);
  return r * r;
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
  if (run.q_pairs) {
    run.q_pairs->extract(b[0], b[1], widen * d1 + run_tol, options.normal_tol, d1_pairs);
    run.q_pairs->extract(b[2], b[3], widen * d2 + run_tol, options.normal_tol, d2_pairs);
    keep_evenly(d1_pairs, static_cast<size_t>(options.max_pairs));
    keep_evenly(d2_pairs, static_cast<size_t>(options.max_pairs));
  } else {
    extract_pairs(run.q, d1, core::normal_difference(b[0], b[1]), widen * d1 + run_tol,
                  options.normal_tol, d1_pairs);
    extract_pairs(run.q, d2, core::normal_difference(b[2], b[3]), widen * d2 + run_tol,
                  options.normal_tol, d2_pairs);
  }
  const double pairs_ms = elapsed_ms(start);
  run.result.times.pair_extraction += pairs_ms;
  run.result.counts.pairs_d1 += static_cast<int64_t>(d1_pairs.size());
  run.result.counts.pairs_d2 += static_cast<int64_t>(d2_pairs.size());
  if (d1_pairs.empty() || d2_pairs.empty()) return false;
  if (options.debug) debug_pairs(static_cast<int64_t>(pairs_ms), d1_pairs.size(), d2_pairs.size());

  start = Clock::now();
  const double quad_tol = widen * run_tol + static_cast<double>(2.0f * run_tol);
  const bool found =
      options.exact_invariants
          ? find_congruent_quads_exact(d1_pairs, d2_pairs, quads, base.r1, base.r2, quad_tol,
                                       exact_search_sq_radius(run_tol), run.q, b)
          : find_congruent_quads(d1_pairs, d2_pairs, quads, base.r1, base.r2, quad_tol, run_tol,
                                 run.q, b);
  const double quads_ms = elapsed_ms(start);
  run.result.times.quad_search += quads_ms;
  if (run.q_pairs) keep_evenly(quads, static_cast<size_t>(options.max_quads));
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
      select_base(run.p_sample,
                  {options.margin, run.base_max_len,
                   run.min_fourth_distance > 0 ? run.min_fourth_distance : options.min_fourth_distance},
                  run.first_selection, run.rng);
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
