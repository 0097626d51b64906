#include "registration/any_pose/any_pose_polish.h"

#include <cmath>
#include <cstddef>

#include "registration/any_pose/refine_motion.h"

namespace kestrel::registration {

namespace {

// Closest-point steps of the final polish's radius, and of the quick polish's two.
constexpr int kPolishSteps = 15;
constexpr int kQuickPolishSteps = 4;
// A polish step that moves Q by less than this share of the neighbour distance ends it.
constexpr double kSettleShare = 0.01;
constexpr size_t kQuickPolishStride = 3;
// The quick polish pairs only points whose normals agree this closely (either sign): where Q
// overlaps P a little, the rest of Q crosses P's surface within the pairing radius and would
// pull a nearly right motion off the overlap.
constexpr double kQuickPolishNormalDegrees = 25;

}  // namespace

core::PointSet quick_polish_sample(const core::PointSet& q_working) {
  core::PointSet out;
  out.reserve(q_working.size() / kQuickPolishStride + 1);
  for (size_t i = 0; i < q_working.size(); i += kQuickPolishStride) out.push_back(q_working[i]);
  return out;
}

double polish_grid_radius(double score_sq) {
  return 2 * std::sqrt(score_sq);
}

core::RigidTransform quick_polish(const PolishSets& sets, const core::RigidTransform& motion) {
  RefineOptions options;
  options.iterations = kQuickPolishSteps;
  options.settle = kSettleShare * sets.neighbour_distance;
  options.sq_radius = 4 * sets.score_sq;
  options.normal_cosine = std::cos(kQuickPolishNormalDegrees * M_PI / 180);
  const core::RigidTransform m =
      refine_motion(sets.q_quick, sets.p, sets.p_grid, motion, options).motion;
  options.sq_radius = sets.score_sq;
  return refine_motion(sets.q_quick, sets.p, sets.p_grid, m, options).motion;
}

core::RigidTransform polish_any_pose(const PolishSets& sets, const core::RigidTransform& motion) {
  // The coarse steps need only P's working set; the full P then settles the motion.
  const core::RigidTransform m = quick_polish(sets, motion);
  RefineOptions options;
  options.iterations = kPolishSteps;
  options.settle = kSettleShare * sets.neighbour_distance;
  options.sq_radius = 0.25 * sets.score_sq;
  return refine_motion(sets.q, sets.full_p, sets.full_p_grid, m, options).motion;
}

}  // namespace kestrel::registration
