#include "icp/scale_step.h"

#include <cmath>
#include <cstdio>

#include "icp/eigen_symmetric.h"

namespace kestrel::icp {

namespace {

// Relative size of the smallest covariance eigenvalue below which a point set counts as flat.
constexpr double kFlat = 1e-12;

void add_outer(double (&c)[3][3], const Vec3f& p, const double (&center)[3]) {
  double d[3] = {p.x - center[0], p.y - center[1], p.z - center[2]};
  for (int r = 0; r < 3; ++r) {
    for (int s = 0; s < 3; ++s) c[r][s] += d[r] * d[s];
  }
}

// V diag(sqrt(lambda / n)) V^T in the upper-left block of an identity transform.
Xform sqrt_covariance(const double (&v)[3][3], const double (&lambda)[3], double n) {
  Xform s;
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      double sum = 0;
      for (int k = 0; k < 3; ++k) {
        sum += v[r][k] * std::sqrt(std::fmax(lambda[k], 0.0) / n) * v[c][k];
      }
      s(r, c) = sum;
    }
  }
  return s;
}

void print_matrix(const char* title, const Xform& s) {
  std::fprintf(stderr, "%s", title);
  for (int r = 0; r < 3; ++r) {
    std::fprintf(stderr, "\n\t");
    for (int c = 0; c < 3; ++c) std::fprintf(stderr, "%10.3f ", s(r, c));
  }
}

}  // namespace

Xform scale_step(const PointPairs& pairs, int verbose, bool affine) {
  if (pairs.empty()) return Xform();
  const double n = static_cast<double>(pairs.size());
  double center[3] = {0, 0, 0};
  for (const PointPair& pp : pairs) {
    for (int a = 0; a < 3; ++a) center[a] += double(pp.p1[a]) + double(pp.p2[a]);
  }
  for (double& c : center) c /= 2 * n;

  double c1[3][3] = {}, c2[3][3] = {};
  for (const PointPair& pp : pairs) {
    add_outer(c1, pp.p1, center);
    add_outer(c2, pp.p2, center);
  }
  double lambda[3], mu[3];
  eigen_symmetric(c1, lambda);
  eigen_symmetric(c2, mu);

  Xform s1, s2;
  if (affine) {
    s1 = sqrt_covariance(c1, lambda, n);
    s2 = sqrt_covariance(c2, mu, n);
    if (verbose > 1) {
      print_matrix("sqrt covariance 1 =", s1);
      print_matrix("\nsqrt covariance 2 =", s2);
      std::fprintf(stderr, "\n");
    }
  } else {
    // The traces' square roots are kept in float, as the scale factor of the data is.
    float t1 = std::sqrt(static_cast<float>(lambda[0] + lambda[1] + lambda[2]));
    float t2 = std::sqrt(static_cast<float>(mu[0] + mu[1] + mu[2]));
    for (int a = 0; a < 3; ++a) {
      s1(a, a) = t1;
      s2(a, a) = t2;
    }
  }
  // Points without spread (in some direction, for the affine map) give no scale to match,
  // and must neither blow up nor collapse mesh 2.
  const bool spread = affine ? lambda[0] > kFlat * lambda[2] && mu[0] > kFlat * mu[2]
                             : s1(0, 0) > 0 && s2(0, 0) > 0;
  bool s2_invertible = false;
  Xform s2_inv = xform_inverse(s2, &s2_invertible);
  if (!spread || !s2_invertible) return Xform();
  Xform to_center = xform_translation(center[0], center[1], center[2]);
  Xform from_center = xform_translation(-center[0], -center[1], -center[2]);
  return to_center * s1 * s2_inv * from_center;
}

}  // namespace kestrel::icp
