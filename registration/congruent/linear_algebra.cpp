#include "registration/congruent/linear_algebra.h"

#include <Eigen/Dense>
#include <cmath>

namespace kestrel::registration {

double smallest_eigenvalue6(const double m[36]) {
  const Eigen::Matrix<double, 6, 6, Eigen::RowMajor> a(m);
  if (!a.allFinite()) return 0;
  const Eigen::SelfAdjointEigenSolver<Eigen::Matrix<double, 6, 6>> solver(a);
  if (solver.info() != Eigen::Success) return 0;
  return solver.eigenvalues()[0];  // ascending
}

bool smallest_eigenvector(const double cov[6], double n[3]) {
  Eigen::Matrix3d m;
  m << cov[0], cov[1], cov[2], cov[1], cov[3], cov[4], cov[2], cov[4], cov[5];
  if (!m.allFinite()) return false;
  Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> solver(m);
  if (solver.info() != Eigen::Success) return false;
  const Eigen::Vector3d values = solver.eigenvalues();  // ascending
  // A line (or a point) has no plane: its two smallest spreads are both about zero.
  if (!(values[1] > 1e-12 * std::max(1.0, values[2]))) return false;
  const Eigen::Vector3d v = solver.eigenvectors().col(0).normalized();
  n[0] = v[0];
  n[1] = v[1];
  n[2] = v[2];
  return true;
}

bool largest_eigenvector(const double cov[6], double n[3]) {
  Eigen::Matrix3d m;
  m << cov[0], cov[1], cov[2], cov[1], cov[3], cov[4], cov[2], cov[4], cov[5];
  if (!m.allFinite()) return false;
  Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> solver(m);
  if (solver.info() != Eigen::Success || !(std::fabs(solver.eigenvalues()[2]) > 0)) return false;
  const Eigen::Vector3d v = solver.eigenvectors().col(2).normalized();
  n[0] = v[0];
  n[1] = v[1];
  n[2] = v[2];
  return true;
}

bool best_rotation(const double H[9], double R[9]) {
  Eigen::Matrix3d h;
  h << H[0], H[1], H[2], H[3], H[4], H[5], H[6], H[7], H[8];
  if (!h.allFinite()) return false;
  Eigen::JacobiSVD<Eigen::Matrix3d> svd(h, Eigen::ComputeFullU | Eigen::ComputeFullV);
  const Eigen::Matrix3d& U = svd.matrixU();
  const Eigen::Matrix3d& V = svd.matrixV();
  // Flip the weakest axis when the best orthogonal map would be a reflection.
  Eigen::Matrix3d d = Eigen::Matrix3d::Identity();
  if ((V * U.transpose()).determinant() < 0) d(2, 2) = -1;
  const Eigen::Matrix3d r = V * d * U.transpose();
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) R[3 * i + j] = r(i, j);
  return true;
}

bool rotation_by_vector(const double w[3], double R[9]) {
  const Eigen::Vector3d v(w[0], w[1], w[2]);
  if (!v.allFinite()) return false;
  const double angle = v.norm();
  const Eigen::Matrix3d m = angle > 0 ? Eigen::AngleAxisd(angle, v / angle).toRotationMatrix()
                                      : Eigen::Matrix3d::Identity();
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) R[3 * r + c] = m(r, c);
  return true;
}

bool solve6(const double a[36], const double b[6], double x[6]) {
  const Eigen::Matrix<double, 6, 6, Eigen::RowMajor> m(a);
  const Eigen::Matrix<double, 6, 1> v(b);
  if (!m.allFinite() || !v.allFinite()) return false;
  const Eigen::LLT<Eigen::Matrix<double, 6, 6>> llt(m);
  if (llt.info() != Eigen::Success) return false;
  const Eigen::Matrix<double, 6, 1> solution = llt.solve(v);
  if (!solution.allFinite()) return false;
  for (int k = 0; k < 6; ++k) x[k] = solution[k];
  return true;
}

}  // namespace kestrel::registration
