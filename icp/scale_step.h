#pragma once
// Matches the spread of the mesh-2 points of the pairs to that of the mesh-1 points about
// their common centre: one uniform factor, or (affine) the full square-root covariance map.

#include "icp/point_pair.h"
#include "icp/xform.h"

namespace kestrel::icp {

// The correcting transform to compose in front of xf2. Degenerate input (no pairs, or mesh-2
// points without spread) gives the identity. Prints the square-root covariances to stderr
// when affine and verbose > 1.
Xform scale_step(const PointPairs& pairs, int verbose, bool affine);

}  // namespace kestrel::icp
