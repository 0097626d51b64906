#include "app/motion_check.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace kestrel::app {

namespace {

// Eigenvalues of a symmetric 3 x 3 matrix, largest first, by the trigonometric closed form.
void symmetric_eigenvalues(const double (&a)[3][3], double (&e)[3]) {
  const double off = a[0][1] * a[0][1] + a[0][2] * a[0][2] + a[1][2] * a[1][2];
  const double q = (a[0][0] + a[1][1] + a[2][2]) / 3;
  const double d[3] = {a[0][0] - q, a[1][1] - q, a[2][2] - q};
  const double p = std::sqrt((d[0] * d[0] + d[1] * d[1] + d[2] * d[2] + 2 * off) / 6);
  if (!(p > 0)) {
    e[0] = e[1] = e[2] = q;
    return;
  }
  double b[3][3];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) b[i][j] = (a[i][j] - (i == j ? q : 0)) / p;
  const double det = b[0][0] * (b[1][1] * b[2][2] - b[1][2] * b[2][1]) -
                     b[0][1] * (b[1][0] * b[2][2] - b[1][2] * b[2][0]) +
                     b[0][2] * (b[1][0] * b[2][1] - b[1][1] * b[2][0]);
  const double phi = std::acos(std::clamp(det / 2, -1.0, 1.0)) / 3;
  e[0] = q + 2 * p * std::cos(phi);
  e[2] = q + 2 * p * std::cos(phi + 2 * M_PI / 3);
  e[1] = 3 * q - e[0] - e[2];
}

}  // namespace

std::string motion_fault(const double (&m)[4][4], MotionKind kind, const std::string& what) {
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 4; ++c)
      if (!std::isfinite(m[r][c])) return what + " is not finite";
  const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                     m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                     m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
  char text[160];
  if (!(det > 0)) {
    std::snprintf(text, sizeof text, " mirrors or flattens Q (determinant %.3g)", det);
    return what + text;
  }
  if (kind == MotionKind::kAnyLinear) return "";
  double mtm[3][3];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      mtm[i][j] = m[0][i] * m[0][j] + m[1][i] * m[1][j] + m[2][i] * m[2][j];
  double e[3];
  symmetric_eigenvalues(mtm, e);
  const double s[3] = {std::sqrt(std::max(e[0], 0.0)), std::sqrt(std::max(e[1], 0.0)),
                       std::sqrt(std::max(e[2], 0.0))};
  const bool uniform = s[0] <= s[2] * (1 + kRotationTolerance);
  const bool rotation = kind == MotionKind::kRigid ? std::fabs(s[0] - 1) <= kRotationTolerance &&
                                                         std::fabs(s[2] - 1) <= kRotationTolerance
                        : kind == MotionKind::kScaled ? uniform && s[2] >= 0.5 && s[0] <= 2
                                                      : uniform;
  if (rotation) return "";
  const char* allowed = kind == MotionKind::kScaled       ? " with a scale from 0.5 to 2"
                        : kind == MotionKind::kSimilarity ? " with a uniform scale"
                                                          : "";
  std::snprintf(text, sizeof text, " is not a rotation%s (it stretches Q by %.4g, %.4g and %.4g)",
                allowed, s[0], s[1], s[2]);
  return what + text;
}

std::string scan_size_fault(size_t p_points, size_t q_points) {
  const size_t fewest = std::min(p_points, q_points);
  if (fewest >= kMinScanPoints) return "";
  return std::string("Model ") + (p_points <= q_points ? "P" : "Q") + " has " +
         std::to_string(fewest) + " points, too few for a registration (at least " +
         std::to_string(kMinScanPoints) + ")";
}

}  // namespace kestrel::app
