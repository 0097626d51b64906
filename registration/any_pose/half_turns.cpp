#include "registration/any_pose/half_turns.h"

#include <cmath>
#include <cstdint>
#include <vector>

#include "registration/any_pose/plane_fit.h"

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
  core::PointSet patch;
  const double radius = scene.options.radius_spacings * scene.spacing;
  for (core::Point3D x : scene.q_sample) {
    core::transform_point(x, motion);
    double sq = 0;
    if (scene.p_grid->nearest_within(x.x, x.y, x.z, radius * radius, sq) >= 0) patch.push_back(x);
  }
  if (patch.size() < kMinPatchPoints) return std::nullopt;
  std::vector<int> all(patch.size());
  for (size_t i = 0; i < patch.size(); ++i) all[i] = static_cast<int>(i);
  // Turning about an axis in the patch would lay Q's side of the surface face down on P's;
  // only the turn about the patch's normal keeps both facing the same way.
  double a[3], m[3];
  if (!fit_plane(patch, all, a, m)) return std::nullopt;
  double D[9];  // half a turn about the unit axis a: 2 a a^T - I
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) D[3 * r + c] = 2 * a[r] * a[c] - (r == c ? 1.0 : 0.0);
  core::RigidTransform turned = motion;
  follow_with_turn(turned, D, m);
  return turned;
}

}  // namespace kestrel::registration
