#pragma once
// Normals of a scan from its 3D neighbourhood: the direction of least spread of each point's
// nearest points, which turns with the scan (unlike the normals of its x-y triangulation).

#include <vector>

#include "core/point_set.h"
#include "registration/registration.h"

namespace kestrel::app {

// One unit normal per point of `set` (three floats each), fitted to its `k` nearest points
// through `index` (built over `set`) and turned away from the set's centroid; (0, 0, 0) where the
// neighbours span no plane.
std::vector<float> point_normals(const core::PointSet& set, const registration::AnnIndex& index,
                                 int k = 10);

// The unit eigenvector of the smallest eigenvalue of the symmetric 3 x 3 matrix `c` (Jacobi
// sweeps); false when `c` is zero.
bool least_spread_direction(const double (&c)[3][3], double (&n)[3]);

// The median distance from a point of `set` to its nearest other point, over an even sample of
// at most 500 points; 0 for fewer than two points.
double median_spacing(const core::PointSet& set, const registration::AnnIndex& index);

}  // namespace kestrel::app
