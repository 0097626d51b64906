#pragma once
// The motion that carries Q onto P: p' = R * (s * (p - c)) + c + t.

#include "core/dense_matrix.h"
#include "core/point_set.h"

namespace kestrel::core {

struct RigidTransform {
  DenseMatrix R = identity_matrix(3);  // rotation (a general linear map after the affine step)
  float s = 1.0f;                      // uniform scale
  double c[3] = {0, 0, 0};             // centre about which R and s act
  double t[3] = {0, 0, 0};             // translation added after the centre is restored
};

// The motion x -> L x + t (scale 1, centre 0).
RigidTransform linear_motion(const DenseMatrix& L, double tx = 0, double ty = 0, double tz = 0);

// `a` after `b`, as one motion x -> A x + b (centre 0, the scale folded into R).
RigidTransform compose(const RigidTransform& a, const RigidTransform& b);
// The inverse of a rigid motion (s = 1, R a rotation), centre 0.
RigidTransform rigid_inverse(const RigidTransform& m);

// Moves one point in place; only x, y, z change, the normal stays.
void transform_point(Point3D& point, const RigidTransform& m);
// Applies transform_point to every point in index order.
void transform_point_set(PointSet& set, const RigidTransform& m);

}  // namespace kestrel::core
