#include "registration/congruent/affine_correction.h"

#include <cassert>
#include <cmath>

namespace kestrel::registration {

namespace {

// Lift of the fourth point out of the base plane, in model units.
constexpr double kLift = 300.0;

struct Vec {
  double x, y, z;
};

Vec position(const core::Point3D& p) {
  return {p.x, p.y, p.z};
}
Vec operator-(const Vec& a, const Vec& b) {
  return {a.x - b.x, a.y - b.y, a.z - b.z};
}
Vec cross(const Vec& a, const Vec& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// Unit normal of the plane through a, b, c: (c - b) x (a - b), its length rounded to float and
// inverted in float. False for collinear points.
bool unit_normal(const Vec& a, const Vec& b, const Vec& c, Vec& n) {
  n = cross(c - b, a - b);
  const auto len = static_cast<float>(std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z));
  if (!(len > 0)) return false;
  const float inv = 1.0f / len;
  n = {n.x * inv, n.y * inv, n.z * inv};
  return true;
}

// Determinant of a 4 x 4 matrix (rows m[r]) by expansion along the first row.
double det4(const double m[4][4]) {
  double det = 0;
  for (int col = 0; col < 4; ++col) {
    double minor[3][3];
    for (int r = 1; r < 4; ++r) {
      int k = 0;
      for (int c = 0; c < 4; ++c)
        if (c != col) minor[r - 1][k++] = m[r][c];
    }
    const double sub = core::det3(minor);
    det += (col % 2 == 0 ? 1 : -1) * m[0][col] * sub;
  }
  return det;
}

}  // namespace

std::optional<AffineCorrection> estimate_affine_correction(
    const std::vector<core::PointMatch>& matches) {
  assert(matches.size() >= 4 && "the affine correction needs four matches");
  Vec p[4], q[4];
  for (int k = 0; k < 4; ++k) {
    p[k] = position(matches[static_cast<size_t>(k)].p);
    q[k] = position(matches[static_cast<size_t>(k)].q);
  }
  Vec np, nq;
  if (!unit_normal(p[0], p[1], p[2], np) || !unit_normal(q[0], q[1], q[2], nq)) return {};
  p[3] = {p[3].x + kLift * np.x, p[3].y + kLift * np.y, p[3].z + kLift * np.z};
  q[3] = {q[3].x + kLift * nq.x, q[3].y + kLift * nq.y, q[3].z + kLift * nq.z};

  // Each row of [A | b] solves M (a0, a1, a2, b)^T = target coordinate, M's rows (q_k, 1).
  double m[4][4];
  for (int r = 0; r < 4; ++r) {
    m[r][0] = q[r].x;
    m[r][1] = q[r].y;
    m[r][2] = q[r].z;
    m[r][3] = 1.0;
  }
  const double det = det4(m);
  if (det == 0 || !std::isfinite(det)) return {};
  AffineCorrection out;
  for (uint32_t row = 0; row < 3; ++row) {
    for (int col = 0; col < 4; ++col) {
      double mc[4][4];
      for (int r = 0; r < 4; ++r) {
        const double target = row == 0 ? p[r].x : row == 1 ? p[r].y : p[r].z;
        for (int c = 0; c < 4; ++c) mc[r][c] = c == col ? target : m[r][c];
      }
      const double v = det4(mc) / det;
      if (col < 3)
        out.A(row, static_cast<uint32_t>(col)) = v;
      else
        out.b[row] = v;
    }
  }
  return out;
}

core::RigidTransform combine_with_correction(const AffineCorrection& correction,
                                             const core::RigidTransform& rigid) {
  const core::DenseMatrix& A = correction.A;
  const double* c1 = rigid.c;
  const double moved_centre[3] = {c1[0] + rigid.t[0], c1[1] + rigid.t[1], c1[2] + rigid.t[2]};
  core::RigidTransform out = rigid;
  for (uint32_t i = 0; i < 3; ++i)
    out.t[i] = A(i, 0) * moved_centre[0] + A(i, 1) * moved_centre[1] + A(i, 2) * moved_centre[2] +
               correction.b[i] - c1[i];
  out.R = core::multiply(A, rigid.R);
  out.s = 1.0f;
  return out;
}

}  // namespace kestrel::registration
