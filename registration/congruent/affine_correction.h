#pragma once
// Affine correction after the rigid motion, for runs that allow scale (scale_tol != 1): an exact
// affine map on the four matched base points, the fourth lifted out of the base plane.

#include <optional>
#include <vector>

#include "core/dense_matrix.h"
#include "core/point_set.h"
#include "core/rigid_transform.h"

namespace kestrel::registration {

// x -> A x + b.
struct AffineCorrection {
  core::DenseMatrix A = core::identity_matrix(3);
  double b[3] = {0, 0, 0};
};

// The affine map taking the four q halves (already moved by the rigid motion) onto the four p
// halves, the fourth pair lifted 300 units along each side's plane normal so the system is
// exact (its residual is 0). Nothing when either side's first three points are collinear or the
// system is singular: the candidate is then rejected. Needs four matches.
std::optional<AffineCorrection> estimate_affine_correction(
    const std::vector<core::PointMatch>& matches);

// The rigid motion followed by the correction, as one motion about the rigid centre c1:
// R = A R1, t = A (c1 + t1) + b - c1, s = 1.
core::RigidTransform combine_with_correction(const AffineCorrection& correction,
                                             const core::RigidTransform& rigid);

}  // namespace kestrel::registration
