#pragma once
// The two engine calls: a Kestrel run (congruent bases) and a RANSAC run (random triples of Q),
// sharing one driver that prepares the sample of P and the run tolerance, runs the trials and
// keeps the best motion.

#include <cstddef>
#include <cstdint>

#include "core/point_set.h"
#include "core/random15.h"
#include "registration/engine.h"

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

// The `count` points of `model_p` with the largest x (mode 1, largest first) or the smallest x
// (mode 2, ascending), ordering by x, then y, then z; empty for any other mode. `count` is
// capped at |model_p|.
core::PointSet select_p_region(const core::PointSet& model_p, int32_t mode, size_t count);

}  // namespace kestrel::registration
