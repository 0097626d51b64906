#include "registration/any_pose/any_pose_polish.h"

#include <cmath>
#include <cstddef>
#include <vector>

#include "core/side_by_side.h"
#include "registration/any_pose/refine_motion.h"

namespace kestrel::registration {

namespace {

// Closest-point steps of the final polish's radius, and of the quick polish's two.
constexpr int kPolishSteps = 15;
constexpr int kQuickPolishSteps = 4;
// A polish step that moves Q by less than this share of the neighbour distance ends it.
constexpr double kSettleShare = 0.01;
constexpr size_t kQuickPolishStride = 3;
// The quick polish runs twice and keeps the run that lays more of Q along P's surface. Once it
// pairs only points whose normals agree within this angle (either sign): where Q overlaps P a
// little, the rest of Q crosses P's surface within the pairing radius and would pull a nearly
// right motion off the overlap. Once it pairs every point: the edges and rims of a flat part,
// whose normals two scans fit differently, are all that holds it in place along its plane.
constexpr double kQuickPolishNormalDegrees = 25;

// The quick polish's closest-point steps from `motion`: at twice the scoring radius, then at
// it, pairing only points whose normals meet at a cosine of `cosine` or more (0: every point).
// `near` carries each sample point's nearest point of P from search to search (refine_motion).
core::RigidTransform two_stage_polish(const PolishSets& sets, const core::RigidTransform& motion,
                                      double cosine, std::vector<int>& near) {
  RefineOptions options;
  options.iterations = kQuickPolishSteps;
  options.settle = kSettleShare * sets.neighbour_distance;
  options.sq_radius = 4 * sets.score_sq;
  options.normal_cosine = cosine;
  const core::RigidTransform m =
      refine_motion(sets.q_quick, sets.p, sets.p_grid, motion, options, &near).motion;
  options.sq_radius = sets.score_sq;
  return refine_motion(sets.q_quick, sets.p, sets.p_grid, m, options, &near).motion;
}

// How many points of the quick sample `m` lays within the scoring radius of P with normals
// that meet P's nearest point's at a cosine of `cosine` or more (either sign).
size_t along_surface(const PolishSets& sets, const core::RigidTransform& m, double cosine,
                     std::vector<int>& near) {
  size_t count = 0;
  near.resize(sets.q_quick.size(), -1);
  for (size_t i = 0; i < sets.q_quick.size(); ++i) {
    const core::Point3D& q = sets.q_quick[i];
    core::Point3D x = q;
    core::transform_point(x, m);
    double d2 = 0;
    const int j = nearest_from(sets.p, sets.p_grid, x, sets.score_sq, near[i], d2);
    if (j < 0) continue;
    count += std::abs(turned_normal_dot(q, m, sets.p[static_cast<size_t>(j)])) >= cosine;
  }
  return count;
}

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
  const double cosine = std::cos(kQuickPolishNormalDegrees * M_PI / 180);
  // Both runs start from one motion and end near it: on one thread each search starts from the
  // point of P that the one before found for the same point of Q; side by side each run keeps
  // its own (they narrow a search, never change its answer).
  std::vector<int> near, other;
  core::RigidTransform agreeing, every;
  size_t agreeing_count = 0, every_count = 0;
  const auto run = [&](double c, std::vector<int>& from, core::RigidTransform& m, size_t& count) {
    m = two_stage_polish(sets, motion, c, from);
    count = along_surface(sets, m, cosine, from);
  };
  core::side_by_side(
      sets.threads, [&] { run(cosine, near, agreeing, agreeing_count); },
      [&] { run(0, sets.threads < 2 ? near : other, every, every_count); });
  return every_count > agreeing_count ? every : agreeing;
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
