#include "core/rigid_transform.h"

namespace kestrel::core {

void transform_point(Point3D& point, const DenseMatrix& R, float s, double cx, double cy, double cz,
                     double tx, double ty, double tz) {
  const double sd = s;
  const double v0 = (point.x - cx) * sd, v1 = (point.y - cy) * sd, v2 = (point.z - cz) * sd;
  const double w0 = R(0, 0) * v0 + R(0, 1) * v1 + R(0, 2) * v2;
  const double w1 = R(1, 0) * v0 + R(1, 1) * v1 + R(1, 2) * v2;
  const double w2 = R(2, 0) * v0 + R(2, 1) * v1 + R(2, 2) * v2;
  point.x = w0 + cx + tx;
  point.y = w1 + cy + ty;
  point.z = w2 + cz + tz;
}

void transform_point_set(PointSet& set, const DenseMatrix& R, float s, double cx, double cy,
                         double cz, double tx, double ty, double tz) {
  for (Point3D& p : set) transform_point(p, R, s, cx, cy, cz, tx, ty, tz);
}

void transform_point(Point3D& point, const RigidTransform& m) {
  transform_point(point, m.R, m.s, m.c[0], m.c[1], m.c[2], m.t[0], m.t[1], m.t[2]);
}

void transform_point_set(PointSet& set, const RigidTransform& m) {
  transform_point_set(set, m.R, m.s, m.c[0], m.c[1], m.c[2], m.t[0], m.t[1], m.t[2]);
}

}  // namespace kestrel::core
