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

// Moves one point in place; only x, y, z change, the normal stays. Inline: the searches move
// millions of points a run, a few at a time.
inline void transform_point(Point3D& point, const RigidTransform& m) {
  const DenseMatrix& R = m.R;
  const double sd = m.s;
  const double cx = m.c[0], cy = m.c[1], cz = m.c[2];
  const double v0 = (point.x - cx) * sd, v1 = (point.y - cy) * sd, v2 = (point.z - cz) * sd;
  const double w0 = R(0, 0) * v0 + R(0, 1) * v1 + R(0, 2) * v2;
  const double w1 = R(1, 0) * v0 + R(1, 1) * v1 + R(1, 2) * v2;
  const double w2 = R(2, 0) * v0 + R(2, 1) * v1 + R(2, 2) * v2;
  point.x = w0 + cx + m.t[0];
  point.y = w1 + cy + m.t[1];
  point.z = w2 + cz + m.t[2];
}
// Applies transform_point to every point in index order.
void transform_point_set(PointSet& set, const RigidTransform& m);

}  // namespace kestrel::core
