#pragma once
// The registration engine as callers see it: the specified search (Kestrel's congruent bases,
// or the RANSAC baseline) and the any-pose search, each one call that takes the scans, the
// options and the hooks and returns one result record (records.h); the verdict on a motion
// (judge/verdict.h). The search structure over P and the spacing estimate that a loader builds
// come with it.

#include <cstddef>
#include <cstdint>

#include "core/point_set.h"
#include "core/random15.h"
#include "registration/any_pose/any_pose_scan.h"
#include "registration/any_pose/surface_icp.h"
#include "registration/congruent/ann_index.h"
#include "registration/congruent/pair_extraction.h"
#include "registration/congruent/point_spacing.h"
#include "registration/judge/verdict.h"
#include "registration/records.h"

namespace kestrel::registration {

// Aligns inputs.q to inputs.p. Draws every random number from `rng`, which the caller seeds
// (the program seeds it with 0 before each run). Tolerance: run_tol = delta * point_spacing.
// With a non-zero margin, bases come from a quarter of P (select_p_region) without a length
// limit. Stops after num_try trials, when an LCP exceeds thr, or when hooks.should_stop (polled
// before each trial after the first, and once per candidate) says so.
// Reports every improvement through the hooks as it happens; prints "\nTime: %f\n" (seconds)
// at the end unless options.console is off.
EngineResult run_kestrel(const EngineInputs& inputs, const EngineOptions& options,
                         const EngineHooks& hooks, core::Random15& rng);

// The same run with random triples of Q against each base triangle instead of congruent bases,
// and a looser residual gate.
EngineResult run_ransac(const EngineInputs& inputs, const EngineOptions& options,
                        const EngineHooks& hooks, core::Random15& rng);

// Aligns inputs.full_q to inputs.full_p in any pose: both scans thinned by one grid to about
// |model_p| points, normals fitted in 3D, every tolerance, base size and the stopping rule
// derived from the scans (the overlap only when options.overlap is given), trials two at a time,
// and the best motion polished against the full P. Its LCP is reported over model_q and
// model_p, like every run's; on_improvement hears of the polished motion last.
EngineResult run_any_pose(const AnyPoseInputs& inputs, const AnyPoseOptions& options,
                          const EngineHooks& hooks, core::Random15& rng);

// Two scans prepared once each (prepare_any_pose_scan, both with their index, both thinned by
// cells of side `cell`), for callers that register one scan against several. All must outlive
// the call.
struct PreparedPair {
  const AnyPoseScan& p;
  const AnyPoseScan& q;
  const core::PointSet& full_p;  // the full scan p was prepared from
  double cell = 0;               // the thinning cell of both
};

// run_any_pose on scans prepared beforehand: the same search, plan and polish, with the LCP
// reported over q's working set. Unlike run_any_pose it touches no ANN index but p's and q's,
// and only on the calling thread.
EngineResult run_any_pose_prepared(const PreparedPair& pair, const AnyPoseOptions& options,
                                   const EngineHooks& hooks, core::Random15& rng);

// The `count` points of `model_p` with the largest x (mode 1, largest first) or the smallest x
// (mode 2, ascending), ordering by x, then y, then z; empty for any other mode. `count` is
// capped at |model_p|.
core::PointSet select_p_region(const core::PointSet& model_p, int32_t mode, size_t count);

}  // namespace kestrel::registration
