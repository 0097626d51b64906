#include "icp/xform.h"

#include <cmath>
#include <utility>

namespace kestrel::icp {

Xform operator*(const Xform& a, const Xform& b) {
  Xform out;
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) {
      double sum = 0;
      for (int k = 0; k < 4; ++k) sum += a(r, k) * b(k, c);
      out(r, c) = sum;
    }
  }
  return out;
}

Vec3f operator*(const Xform& xf, const Vec3f& p) {
  const double x = p.x, y = p.y, z = p.z;
  return {static_cast<float>(xf(0, 0) * x + xf(0, 1) * y + xf(0, 2) * z + xf(0, 3)),
          static_cast<float>(xf(1, 0) * x + xf(1, 1) * y + xf(1, 2) * z + xf(1, 3)),
          static_cast<float>(xf(2, 0) * x + xf(2, 1) * y + xf(2, 2) * z + xf(2, 3))};
}

Xform xform_translation(double x, double y, double z) {
  Xform t;
  t.m[12] = x;
  t.m[13] = y;
  t.m[14] = z;
  return t;
}

Xform axis_rotation(double theta, double ax, double ay, double az) {
  Xform r;
  double l = std::sqrt(ax * ax + ay * ay + az * az);
  if (l == 0) return r;
  ax /= l;
  ay /= l;
  az /= l;
  double c = std::cos(theta), s = std::sin(theta), t = 1 - c;
  r(0, 0) = c + t * ax * ax;
  r(0, 1) = t * ax * ay - s * az;
  r(0, 2) = t * ax * az + s * ay;
  r(1, 0) = t * ax * ay + s * az;
  r(1, 1) = c + t * ay * ay;
  r(1, 2) = t * ay * az - s * ax;
  r(2, 0) = t * ax * az - s * ay;
  r(2, 1) = t * ay * az + s * ax;
  r(2, 2) = c + t * az * az;
  return r;
}

Xform xform_inverse(const Xform& xf, bool* ok) {
  double lu[4][4];
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) lu[r][c] = xf(r, c);
  }
  int perm[4] = {0, 1, 2, 3};
  for (int k = 0; k < 4; ++k) {
    int pivot = k;
    for (int r = k + 1; r < 4; ++r) {
      if (std::fabs(lu[r][k]) > std::fabs(lu[pivot][k])) pivot = r;
    }
    if (lu[pivot][k] == 0 || !std::isfinite(lu[pivot][k])) {
      if (ok) *ok = false;
      return Xform();
    }
    if (pivot != k) {
      std::swap(lu[pivot], lu[k]);
      std::swap(perm[pivot], perm[k]);
    }
    for (int r = k + 1; r < 4; ++r) {
      lu[r][k] /= lu[k][k];
      for (int c = k + 1; c < 4; ++c) lu[r][c] -= lu[r][k] * lu[k][c];
    }
  }
  // Solve L U x = P e_col for each unit vector.
  Xform inv;
  for (int col = 0; col < 4; ++col) {
    double x[4];
    for (int r = 0; r < 4; ++r) {
      x[r] = perm[r] == col ? 1.0 : 0.0;
      for (int k = 0; k < r; ++k) x[r] -= lu[r][k] * x[k];
    }
    for (int r = 3; r >= 0; --r) {
      for (int k = r + 1; k < 4; ++k) x[r] -= lu[r][k] * x[k];
      x[r] /= lu[r][r];
    }
    for (int r = 0; r < 4; ++r) inv(r, col) = x[r];
  }
  if (ok) *ok = true;
  return inv;
}

NormalMatrix normal_matrix(const Xform& xf) {
  Xform inv = xform_inverse(xf);
  NormalMatrix nm;
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) nm.m[r][c] = inv(c, r);
  }
  return nm;
}

Vec3f operator*(const NormalMatrix& nm, const Vec3f& n) {
  const double x = n.x, y = n.y, z = n.z;
  return {static_cast<float>(nm.m[0][0] * x + nm.m[0][1] * y + nm.m[0][2] * z),
          static_cast<float>(nm.m[1][0] * x + nm.m[1][1] * y + nm.m[1][2] * z),
          static_cast<float>(nm.m[2][0] * x + nm.m[2][1] * y + nm.m[2][2] * z)};
}

Xform nearest_rigid(const Xform& xf) {
  // Newton's iteration R <- (R + R^-T) / 2 converges quadratically to the rotation factor.
  constexpr int kSteps = 6;
  double r[3][3];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r[i][j] = xf(i, j);
  for (int step = 0; step < kSteps; ++step) {
    const double det = r[0][0] * (r[1][1] * r[2][2] - r[1][2] * r[2][1]) -
                       r[0][1] * (r[1][0] * r[2][2] - r[1][2] * r[2][0]) +
                       r[0][2] * (r[1][0] * r[2][1] - r[1][1] * r[2][0]);
    if (!(std::fabs(det) > 1e-12)) return xf;
    double inv_t[3][3];  // the inverse transposed: cofactors / det
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) {
        const int i1 = (i + 1) % 3, i2 = (i + 2) % 3, j1 = (j + 1) % 3, j2 = (j + 2) % 3;
        inv_t[i][j] = (r[i1][j1] * r[i2][j2] - r[i1][j2] * r[i2][j1]) / det;
      }
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) r[i][j] = 0.5 * (r[i][j] + inv_t[i][j]);
  }
  Xform out = xf;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) out(i, j) = r[i][j];
  return out;
}

}  // namespace kestrel::icp
