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

// Moves one point in place; only x, y, z change, the normal stays.
void transform_point(Point3D& point, const DenseMatrix& R, float s, double cx, double cy, double cz,
                     double tx, double ty, double tz);
// Applies transform_point to every point in index order.
void transform_point_set(PointSet& set, const DenseMatrix& R, float s, double cx, double cy,
                         double cz, double tx, double ty, double tz);
// Convenience overloads taking the whole record.
void transform_point(Point3D& point, const RigidTransform& m);
void transform_point_set(PointSet& set, const RigidTransform& m);

}  // namespace kestrel::core
