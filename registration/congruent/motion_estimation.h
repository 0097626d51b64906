#pragma once
// Closed-form motion from matched bases: orthonormal frames on the first three matches of each
// side (exact for three points, no SVD), after re-pairing the Q points by their distance from
// the centroid. The optional affine correction is in affine_correction.h.

#include <vector>

#include "core/point_set.h"
#include "core/rigid_transform.h"

namespace kestrel::registration {

struct MotionEstimate {
  core::RigidTransform
      motion;           // q -> R (q - c) + c + t, s = 1, c = the first three Q points' centroid
  double residual = 0;  // summed misfit of the first three matches / the match count
};

// The motion that carries the Q halves of `matches` onto the P halves. With `repair` (Kestrel
// runs) each match first gets the Q point whose squared distance from the Q centroid best
// matches its P point's from the P centroid (the q halves are rewritten; one Q point may serve
// two matches). Needs at least three matches.
MotionEstimate estimate_rigid_motion(std::vector<core::PointMatch>& matches, bool repair);

}  // namespace kestrel::registration
