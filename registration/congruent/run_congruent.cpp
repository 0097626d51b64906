// The specified search as an assembly: bases from P (or a quarter of it), every pair of Q
// matching a base segment, the kd-tree quad search (or random triples for RANSAC), LCP through
// the kd-tree over P, stopping above the threshold, one trial after the other.

#include <algorithm>

#include "core/clock.h"
#include "registration/registration.h"
#include "registration/search/base_schedules.h"
#include "registration/search/congruent_bases.h"
#include "registration/search/pair_sources.h"
#include "registration/search/quad_searches.h"
#include "registration/search/random_triples.h"
#include "registration/search/run_search.h"
#include "registration/search/scorers.h"
#include "registration/search/stopping_rules.h"
#include "registration/search/trial_scheduling.h"

namespace kestrel::registration {

namespace {

// base_max_len while bases come from a region of P: no limit.
constexpr float kUnlimitedBaseLength = 1000000.0f;
// The fourth base point's least distance from the triangle's corners (model units).
constexpr float kMinFourthDistance = 10.0f;

TrialIO trial_io(const EngineOptions& options, const EngineHooks& hooks) {
  return {hooks, options.console, options.console_progress, options.debug};
}

EngineResult run_specified(const EngineInputs& inputs, const EngineOptions& options,
                           const EngineHooks& hooks, core::Random15& rng, bool ransac) {
  const int64_t start = core::tick_ms();
  const bool region = options.margin != 0;
  const core::PointSet p_sample =
      region ? select_p_region(inputs.p, options.margin, inputs.p.size() / 4) : inputs.p;
  const float run_tol = options.delta * inputs.point_spacing;

  const FixedBases bases(
      {options.margin, region ? kUnlimitedBaseLength : options.base_max_len, kMinFourthDistance});
  const ScanPairs pairs(inputs.q, options.normal_tol);
  const IntersectionQuads quads(inputs.q, run_tol);
  const CongruentBases congruent(pairs, quads, options.scale_tol);
  const RandomTriples triples;
  const AnnScorer scorer(inputs.q, inputs.p_index,
                         scoring_sq_radius(inputs.point_spacing, run_tol));
  const ThresholdStop stopping(options.thr);
  const OneByOne scheduling;
  SearchParts parts;
  parts.bases = &bases;
  parts.candidates = ransac ? static_cast<const CandidateSource*>(&triples) : &congruent;
  parts.scorer = &scorer;
  parts.stopping = &stopping;
  parts.scheduling = &scheduling;

  const RunSetup setup{parts, p_sample, inputs.q, run_tol, options.num_try, ransac};
  return run_search(setup, trial_io(options, hooks), rng, options.first_selection, start);
}

}  // namespace

EngineResult run_kestrel(const EngineInputs& inputs, const EngineOptions& options,
                         const EngineHooks& hooks, core::Random15& rng) {
  return run_specified(inputs, options, hooks, rng, false);
}

EngineResult run_ransac(const EngineInputs& inputs, const EngineOptions& options,
                        const EngineHooks& hooks, core::Random15& rng) {
  return run_specified(inputs, options, hooks, rng, true);
}

core::PointSet select_p_region(const core::PointSet& model_p, int32_t mode, size_t count) {
  if (mode != 1 && mode != 2) return {};
  core::PointSet sorted = model_p;
  std::sort(sorted.begin(), sorted.end(), [](const core::Point3D& a, const core::Point3D& b) {
    if (a.x != b.x) return a.x < b.x;
    if (a.y != b.y) return a.y < b.y;
    return a.z < b.z;
  });
  count = std::min(count, sorted.size());
  if (mode == 2) return core::PointSet(sorted.begin(), sorted.begin() + static_cast<long>(count));
  return core::PointSet(sorted.rbegin(), sorted.rbegin() + static_cast<long>(count));
}

}  // namespace kestrel::registration
