#include "registration/any_pose/half_turns.h"

#include <cmath>
#include <cstdint>

#include "registration/congruent/linear_algebra.h"

namespace kestrel::registration {

namespace {

// Fewer shared points than this give no axes worth turning about.
constexpr size_t kMinPatchPoints = 12;

}  // namespace

void follow_with_turn(core::RigidTransform& motion, const double D[9], const double m[3],
                      const double u[3]) {
  // p -> R (p - c) + c + t followed by the turn: D R (p - c) + D (c + t - m) + m + u.
  core::DenseMatrix turn(3, 3);
  for (uint32_t r = 0; r < 3; ++r)
    for (uint32_t c = 0; c < 3; ++c) turn(r, c) = D[3 * r + c];
  double moved[3];
  for (uint32_t r = 0; r < 3; ++r) {
    moved[r] = m[r] + (u ? u[r] : 0.0) - motion.c[r];
    for (uint32_t c = 0; c < 3; ++c) moved[r] += D[3 * r + c] * (motion.c[c] + motion.t[c] - m[c]);
  }
  motion.R = core::multiply(turn, motion.R);
  for (int k = 0; k < 3; ++k) motion.t[k] = moved[k];
}

std::optional<core::RigidTransform> half_turn(const FitScene& scene,
                                              const core::RigidTransform& motion) {
  std::vector<core::Point3D> patch;
  const double radius = scene.options.radius_spacings * scene.spacing;
  for (core::Point3D x : scene.q_sample) {
    core::transform_point(x, motion);
    double sq = 0;
    if (scene.p_grid->nearest_within(x.x, x.y, x.z, radius * radius, sq) >= 0) patch.push_back(x);
  }
  if (patch.size() < kMinPatchPoints) return std::nullopt;
  double m[3] = {0, 0, 0};
  for (const core::Point3D& x : patch) m[0] += x.x, m[1] += x.y, m[2] += x.z;
  for (double& v : m) v /= static_cast<double>(patch.size());
  double cov[6] = {};
  for (const core::Point3D& x : patch) {
    const double d[3] = {x.x - m[0], x.y - m[1], x.z - m[2]};
    cov[0] += d[0] * d[0], cov[1] += d[0] * d[1], cov[2] += d[0] * d[2];
    cov[3] += d[1] * d[1], cov[4] += d[1] * d[2], cov[5] += d[2] * d[2];
  }
  // Turning about an axis in the patch would lay Q's side of the surface face down on P's;
  // only the turn about the patch's normal keeps both facing the same way.
  double a[3];
  if (!smallest_eigenvector(cov, a)) return std::nullopt;
  double D[9];  // half a turn about the unit axis a: 2 a a^T - I
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) D[3 * r + c] = 2 * a[r] * a[c] - (r == c ? 1.0 : 0.0);
  core::RigidTransform turned = motion;
  follow_with_turn(turned, D, m);
  return turned;
}

}  // namespace kestrel::registration
