#pragma once
// Verification of a candidate motion by its largest common point set (LCP).

#include "core/point_set.h"
#include "core/rigid_transform.h"
#include "registration/ann_index.h"

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

// The same score counting only the points whose normal, turned by the motion, is within
// `normal_cos` of the normal of their nearest point in P (either sign): `p` holds P's normals
// in the order of `p_index`, `q` carries its own.
LcpScore compute_lcp_with_normals(const core::PointSet& q, const core::PointSet& p,
                                  const AnnIndex& p_index, const core::RigidTransform& motion,
                                  double sq_radius, double best, float normal_cos);

}  // namespace kestrel::registration
