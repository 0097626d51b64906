#pragma once
// Correspondences of one ICP step: random samples drawn by a cumulative distribution over one
// mesh, matched to the closest vertex of the other within a distance limit, and the rejection
// of pairs far beyond the median pair distance.

#include <vector>

#include "icp/icp_steps.h"
#include "icp/point_pair.h"
#include "icp/tri_mesh.h"
#include "icp/xform.h"

namespace kestrel::icp {

// |p2 - p1|^2 of rank floor(n/2) (the upper median); 0 without pairs.
float median_squared_distance(const PointPairs& pairs);

// Keeps, in order, the pairs with |p2 - p1|^2 <= factor * median; returns that threshold.
float reject_pairs(PointPairs& pairs, float factor);

// The sampling both ICP steps start with: pairs from mesh 1 (by cdf1) then from mesh 2 (by
// cdf2), then the rejection with `factor`, with their verbose timings. Each mesh's samples are
// drawn by stepping x += incr * random through its distribution (about 2 / incr samples),
// matched to the closest vertex of the other mesh (by that mesh's tree, in its own frame)
// strictly within maxdist, and kept unless the match is a boundary vertex. Returns the squared
// rejection threshold.
float sample_step_pairs(const IcpStep& step, float factor, PointPairs& pairs);

}  // namespace kestrel::icp
