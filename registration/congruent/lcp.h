#pragma once
// Verification of a candidate motion by its largest common point set (LCP).

#include <functional>

#include "core/point_set.h"
#include "core/rigid_transform.h"
#include "registration/any_pose/near_mask.h"
#include "registration/any_pose/point_grid.h"
#include "registration/congruent/ann_index.h"

namespace kestrel::registration {

struct LcpScore {
  double value = 0;         // a single-precision fraction in [0, 1]
  bool early_exit = false;  // scoring stopped once the candidate could no longer beat `best`
};

// Fraction of `q` that, moved by `motion`, lies strictly within the squared distance
// `sq_radius` of a point of P (`p_index`). Gives up as soon as the candidate can no longer beat
// `best` and returns the (lower) count so far. An empty `q` scores 0. `q` is not modified.
// A `stop` request (core/stop_check.h) ends the scoring as an early exit with the score 0, so a
// motion half scored never competes.
LcpScore compute_lcp(const core::PointSet& q, const AnnIndex& p_index,
                     const core::RigidTransform& motion, double sq_radius, double best,
                     const std::function<bool()>& stop = {});

// The same score with the nearness question answered by a grid over P's positions built for
// about this radius: the same predicate, several times faster, and safe from several threads.
LcpScore compute_lcp(const core::PointSet& q, const PointGrid& p_grid,
                     const core::RigidTransform& motion, double sq_radius, double best,
                     const std::function<bool()>& stop = {});

// A motion as one 3 x 4 matrix: fewer operations a point than transform_point, at the price of
// different rounding, so only the scores that never had another form use it.
struct MotionMatrix {
  double m[3][4];
  explicit MotionMatrix(const core::RigidTransform& motion);
  void apply(const core::Point3D& p, double& x, double& y, double& z) const {
    x = m[0][0] * p.x + m[0][1] * p.y + m[0][2] * p.z + m[0][3];
    y = m[1][0] * p.x + m[1][1] * p.y + m[1][2] * p.z + m[1][3];
    z = m[2][0] * p.x + m[2][1] * p.y + m[2][2] * p.z + m[2][3];
  }
};

// The same score with nearness read from a mask over P built for this radius (near_mask.h):
// one lookup a point, the radius blurred by half a mask cell.
LcpScore compute_lcp(const core::PointSet& q, const NearMask& p_mask,
                     const core::RigidTransform& motion, double best,
                     const std::function<bool()>& stop = {});

}  // namespace kestrel::registration
