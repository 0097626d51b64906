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

namespace {

// The motion as x -> A x + b.
void affine_parts(const RigidTransform& m, double A[3][3], double b[3]) {
  for (uint32_t r = 0; r < 3; ++r) {
    b[r] = m.c[r] + m.t[r];
    for (uint32_t c = 0; c < 3; ++c) {
      A[r][c] = m.R(r, c) * m.s;
      b[r] -= A[r][c] * m.c[c];
    }
  }
}

}  // namespace

RigidTransform compose(const RigidTransform& a, const RigidTransform& b) {
  double Aa[3][3], ba[3], Ab[3][3], bb[3];
  affine_parts(a, Aa, ba);
  affine_parts(b, Ab, bb);
  RigidTransform out;
  for (uint32_t r = 0; r < 3; ++r) {
    out.t[r] = ba[r];
    for (uint32_t c = 0; c < 3; ++c) {
      out.t[r] += Aa[r][c] * bb[c];
      double v = 0;
      for (uint32_t k = 0; k < 3; ++k) v += Aa[r][k] * Ab[k][c];
      out.R(r, c) = v;
    }
  }
  return out;
}

RigidTransform rigid_inverse(const RigidTransform& m) {
  double A[3][3], b[3];
  affine_parts(m, A, b);
  RigidTransform out;
  for (uint32_t r = 0; r < 3; ++r) {
    out.t[r] = 0;
    for (uint32_t c = 0; c < 3; ++c) {
      out.R(r, c) = A[c][r];
      out.t[r] -= A[c][r] * b[c];
    }
  }
  return out;
}

void transform_point_set(PointSet& set, const RigidTransform& m) {
  for (Point3D& p : set) transform_point(p, m);
}

}  // namespace kestrel::core
