#pragma once
// Closed-form motion from matched bases: orthonormal frames on the first three matches of each
// side (exact for three points, no SVD), after re-pairing the Q points by their distance from
// the centroid. The optional affine correction is in affine_correction.h.

#include <vector>

#include "core/dense_matrix.h"
#include "core/point_set.h"

namespace kestrel::registration {

// Writes R (3 x 3), the translation t, the centre c (the first three Q points' centroid) and
// s = 1 so that q -> R (q - c) + c + t carries Q onto P. Unless `ransac_mode`, first gives each
// match the Q point whose squared distance from the Q centroid best matches its P point's from
// the P centroid (the q halves are rewritten; one Q point may serve two matches). Returns the
// residual: the summed misfit of the first three matches divided by the match count.
// Needs at least three matches.
double estimate_rigid_motion(std::vector<core::PointMatch>& matches, core::DenseMatrix& R,
                             double& tx, double& ty, double& tz, double& cx, double& cy, double& cz,
                             float& s, bool ransac_mode);

}  // namespace kestrel::registration
