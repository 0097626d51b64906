#pragma once
// Affine correction after the rigid motion, for runs that allow scale (scale_tol != 1): an exact
// affine map on the four matched base points, the fourth lifted out of the base plane.

#include <vector>

#include "core/dense_matrix.h"
#include "core/point_set.h"

namespace kestrel::registration {

// Affine map x -> A3 x + t taking the four q halves (already moved by the rigid motion) onto the
// four p halves, the fourth pair lifted 300 units along each side's plane normal so the system
// is exact. Sets c = 0 and returns the residual 0. When either side's first three points are
// collinear, or the system is singular, the candidate is rejected: returns infinity (which fails
// any residual gate) and leaves A3, t and c as they were. Needs four matches.
double estimate_affine_correction(const std::vector<core::PointMatch>& matches,
                                  core::DenseMatrix& A3, double& tx, double& ty, double& tz,
                                  double& cx, double& cy, double& cz);

// The rigid motion (R1, c1, t1) followed by the correction (A, b), as one motion about c1:
// R = A R1, t = A (c1 + t1) + b - c1. `R` may be `R1`.
void combine_with_correction(const core::DenseMatrix& A, const double b[3],
                             const core::DenseMatrix& R1, const double c1[3], const double t1[3],
                             core::DenseMatrix& R, double t[3]);

}  // namespace kestrel::registration
