#pragma once
// Correspondences of one ICP step: random samples drawn by a cumulative distribution over one
// mesh, matched to the closest vertex of the other within a distance limit, and the rejection
// of pairs far beyond the median pair distance.

#include <vector>

#include "icp/icp_steps.h"
#include "icp/kd_tree.h"
#include "icp/point_pair.h"
#include "icp/tri_mesh.h"
#include "icp/xform.h"

namespace kestrel::icp {

// Draws samples of meshA by stepping x += incr * random through `cdf_a` (about 2 / incr
// samples), matches each in meshB with `kd_b` (built over meshB in its own frame) strictly
// within `maxdist`, skips boundary matches, and appends the pairs in the common frame. `flip`
// is false when meshA is mesh 1, true when it is mesh 2. meshA needs normals when !flip,
// meshB when flip.
void select_pairs(const Xform& xf_a, const Xform& xf_b, TriMesh& mesh_a, TriMesh& mesh_b,
                  const KDtree& kd_b, const std::vector<float>& cdf_a, float incr, float maxdist,
                  PointPairs& pairs, bool flip);

// |p2 - p1|^2 of rank floor(n/2) (the upper median); 0 without pairs.
float median_squared_distance(const PointPairs& pairs);

// Keeps, in order, the pairs with |p2 - p1|^2 <= factor * median; returns that threshold.
float reject_pairs(PointPairs& pairs, float factor);

// The sampling both ICP steps start with: pairs from mesh 1 (by cdf1) then from mesh 2 (by
// cdf2), then the rejection with `factor`, with their verbose timings. Returns the squared
// rejection threshold.
float sample_step_pairs(const IcpStep& step, float factor, PointPairs& pairs);

}  // namespace kestrel::icp
