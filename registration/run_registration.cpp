#include "registration/run_registration.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <vector>
#include <cassert>

#include "core/clock.h"
#include "registration/progress.h"
#include "registration/run_trial.h"
#include "registration/trial_rounds.h"

namespace kestrel::registration {

namespace {

// base_max_len while bases come from a region of P: no limit.
constexpr float kUnlimitedBaseLength = 1000000.0f;

// A copy of `set`, its normals replaced by `normals` when given.
core::PointSet with_normals(const core::PointSet& set, const NormalList* normals) {
  core::PointSet out = set;
  if (!normals) return out;
  assert(normals->size() == set.size() && "the engine needs one normal per point");
  for (size_t i = 0; i < out.size(); ++i) {
    out[i].nx = (*normals)[i][0];
    out[i].ny = (*normals)[i][1];
    out[i].nz = (*normals)[i][2];
  }
  return out;
}

std::vector<std::array<double, 3>> positions(const core::PointSet& set) {
  std::vector<std::array<double, 3>> out;
  out.reserve(set.size());
  for (const core::Point3D& p : set) out.push_back({p.x, p.y, p.z});
  return out;
}

std::array<double, 3> centroid(const core::PointSet& set) {
  std::array<double, 3> c{0, 0, 0};
  for (const core::Point3D& p : set) c[0] += p.x, c[1] += p.y, c[2] += p.z;
  if (!set.empty())
    for (double& v : c) v /= static_cast<double>(set.size());
  return c;
}

// The trials one after the other, each seeing what the ones before it found.
void run_trials(RunContext& run) {
  const EngineOptions& options = run.options;
  for (int32_t i = 0; i < options.num_try; ++i) {
    // A trial that finds no candidate never polls inside, so a stop waits at most one trial;
    // the first trial always runs, so even a tiny time limit reports what one trial found.
    if (i > 0 && run.hooks.stop()) {
      run.result.stopped = true;
      break;
    }
    // Bases of several sizes in turn: wide ones fix the motion best, narrow ones fit into a
    // smaller overlap.
    if (!options.base_len_cycle.empty() && options.margin == 0) {
      const size_t k = static_cast<size_t>(i) % options.base_len_cycle.size();
      run.base_max_len = options.base_len_cycle[k];
      run.min_fourth_distance = options.min_fourth_share * run.base_max_len;
    }
    if (run_trial(run)) break;
  }
}

EngineResult run_registration(const EngineInputs& inputs, const EngineOptions& options,
                              const EngineHooks& hooks, core::Random15& rng, bool ransac) {
  const int64_t start = core::tick_ms();
  core::PointSet p_sample = with_normals(inputs.p, inputs.p_normals);
  float base_max_len = options.base_max_len;
  if (options.margin != 0) {
    base_max_len = kUnlimitedBaseLength;
    p_sample = select_p_region(p_sample, options.margin, p_sample.size() / 4);
  }
  const core::PointSet q = with_normals(inputs.q, inputs.q_normals);

  EngineResult result;
  RunContext run{options,
                 hooks,
                 rng,
                 inputs.p_index,
                 p_sample,
                 q,
                 options.delta * inputs.point_spacing,
                 inputs.point_spacing,
                 ransac,
                 options.first_selection,
                 base_max_len,
                 result};
  run.q_centroid = centroid(q);
  std::optional<PointGrid> grid;
  if (options.grid_scoring) {
    const double sq_radius = scoring_sq_radius(run);
    grid.emplace(positions(inputs.p), std::sqrt(sq_radius));
    run.p_grid = &*grid;
  }
  std::optional<NearMask> mask;
  if (options.mask_scoring) {
    const double sq_radius = scoring_sq_radius(run);
    mask.emplace(positions(inputs.p), std::sqrt(sq_radius));
    run.p_mask = &*mask;
  }
  std::optional<PairTable> pair_table;
  if (options.oriented_pairs && !ransac && PairTable::fits(q.size())) {
    const core::Clock::time_point t0 = core::Clock::now();
    pair_table.emplace(q, run.run_tol);
    run.q_pairs = &*pair_table;
    result.times.pair_extraction += core::elapsed_ms(t0);
  }
  if (options.trial_rounds && !ransac) {
    // ANN's searches share global state, so a second thread only runs trials that never ask
    // it: the grid's intersection search and grid or mask scoring.
    const bool ann_free = options.exact_invariants && (options.grid_scoring || options.mask_scoring);
    run_trial_rounds(run, ann_free ? options.threads : 1);
  } else {
    run_trials(run);
  }
  if (hooks.on_step)
    hooks.on_step({ransac, result.trials, options.num_try, result.best_lcp, 0, 0, true});
  if (options.console) print_run_time(core::tick_ms() - start);
  return result;
}

}  // namespace

EngineResult run_kestrel(const EngineInputs& inputs, const EngineOptions& options,
                         const EngineHooks& hooks, core::Random15& rng) {
  return run_registration(inputs, options, hooks, rng, false);
}

EngineResult run_ransac(const EngineInputs& inputs, const EngineOptions& options,
                        const EngineHooks& hooks, core::Random15& rng) {
  return run_registration(inputs, options, hooks, rng, true);
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
