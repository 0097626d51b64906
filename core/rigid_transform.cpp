#include "core/rigid_transform.h"

namespace kestrel::core {

RigidTransform linear_motion(const DenseMatrix& L, double tx, double ty, double tz) {
  RigidTransform m;
  m.R = L;
  m.t[0] = tx;
  m.t[1] = ty;
  m.t[2] = tz;
  return m;
}

void transform_point(Point3D& point, const RigidTransform& m) {
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

void transform_point_set(PointSet& set, const RigidTransform& m) {
  for (Point3D& p : set) transform_point(p, m);
}

}  // namespace kestrel::core
