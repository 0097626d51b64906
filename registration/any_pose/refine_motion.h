#pragma once
// Polishes a found motion: a coarse motion from four matched points carries their sampling
// error; a few least-squares steps over all the points it already brings close remove it.

#include <vector>

#include "core/point_set.h"
#include "core/rigid_transform.h"
#include "registration/any_pose/point_grid.h"
#include "registration/congruent/ann_index.h"

namespace kestrel::registration {

struct RefineOptions {
  int iterations = 8;    // closest-point steps
  double sq_radius = 0;  // squared distance within which a moved Q point pairs with P
  size_t min_pairs = 6;  // fewer pairs than this end the polish
  double settle = 0;     // a step that moves the points of Q by less than this (root mean
                         // square) ends the polish
  // > 0: a pair whose normals (either sign) meet at a cosine below this is left out. Where Q
  // overlaps P a little, its other points still come within the radius where its surface
  // crosses P's, and would pull the motion off the overlap.
  double normal_cosine = 0;
};

struct RefineResult {
  core::RigidTransform motion;  // the polished motion (s = 1, c = centroid of the paired Q)
  int steps = 0;                // steps actually taken
  size_t pairs = 0;             // pairs of the last step
};

// The cosine between a's normal turned by `m` (its rotation) and b's normal.
double turned_normal_dot(const core::Point3D& a, const core::RigidTransform& m,
                         const core::Point3D& b);

// Starting from `start`, pairs each moved point of `q` with its nearest point of `p` (indexed by
// `p_index`) when within the radius, and replaces the motion by the best rigid fit of the
// pairs (SVD), `iterations` times or until the pairs or the motion stop changing. A step that finds
// too few pairs ends the polish and keeps the previous motion.
RefineResult refine_motion(const core::PointSet& q, const core::PointSet& p,
                           const AnnIndex& p_index, const core::RigidTransform& start,
                           const RefineOptions& options);

// The same polish with the nearest points found through a grid over `p` (cells of about the
// radius), which answers fixed-radius questions faster than the kd-tree. `near`, when given,
// holds for each point of `q` a point of `p` (or -1) that bounds the first step's search, such
// as what an earlier polish from a motion nearby found, and receives what the last step found.
// It makes the searches cheaper and never changes their answers.
RefineResult refine_motion(const core::PointSet& q, const core::PointSet& p,
                           const PointGrid& p_grid, const core::RigidTransform& start,
                           const RefineOptions& options, std::vector<int>* near = nullptr);

// P's point nearest to `x` within sqrt(sq_radius) through `p_grid`, or -1, with its squared
// distance in d2; `near` (a point of `p`, or -1) bounds the search, and becomes the answer.
int nearest_from(const core::PointSet& p, const PointGrid& p_grid, const core::Point3D& x,
                 double sq_radius, int& near, double& d2);

}  // namespace kestrel::registration
