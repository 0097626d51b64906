#pragma once
// Point-to-plane steps of Q's working set against P's: each moved point of Q pairs with P's
// nearest working point within a radius that shrinks step by step, when their normals agree,
// and the motion moves Q along the pairs' planes. A motion from a few matched features is
// several degrees off; point-to-plane steps bring it in from farther than point-to-point ones,
// and the shrinking radius keeps what lies off a small overlap out of the fit.

#include <vector>

#include "core/point_set.h"
#include "core/rigid_transform.h"
#include "registration/any_pose/point_grid.h"

namespace kestrel::registration {

struct PlaneStepOptions {
  std::vector<double> radii;  // pairing radius of each step (the last repeats)
  int steps = 12;             // steps at most
  double min_cosine = 0.9;    // pairs whose normals (either sign) meet at less are left out
  size_t min_pairs = 12;      // a step with fewer pairs ends the steps
  double settle = 0;          // a step that turns and moves Q less than this ends them
};

// The motion after the steps from `start`; `p_grid` is over `p`'s positions.
core::RigidTransform plane_steps(const core::PointSet& q, const core::PointSet& p,
                                 const PointGrid& p_grid, const core::RigidTransform& start,
                                 const PlaneStepOptions& options);

}  // namespace kestrel::registration
