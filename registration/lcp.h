#pragma once
// Verification of a candidate motion by its largest common point set (LCP).

#include "core/point_set.h"
#include "core/rigid_transform.h"
#include "registration/ann_index.h"
#include "registration/point_grid.h"

namespace kestrel::registration {

struct LcpScore {
  double value = 0;         // a single-precision fraction in [0, 1]
  bool early_exit = false;  // scoring stopped once the candidate could no longer beat `best`
};

// Fraction of `q` that, moved by `motion`, lies strictly within the squared distance
// `sq_radius` of a point of P (`p_index`). Gives up as soon as the candidate can no longer beat
// `best` and returns the (lower) count so far. An empty `q` scores 0. `q` is not modified.
LcpScore compute_lcp(const core::PointSet& q, const AnnIndex& p_index,
                     const core::RigidTransform& motion, double sq_radius, double best);

// The same score with the nearness question answered by a grid over P's positions built for
// about this radius: the same predicate, several times faster, and safe from several threads.
LcpScore compute_lcp(const core::PointSet& q, const PointGrid& p_grid,
                     const core::RigidTransform& motion, double sq_radius, double best);

}  // namespace kestrel::registration
