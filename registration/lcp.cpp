#include "registration/lcp.h"

#include <cstdint>

namespace kestrel::registration {

namespace {

// The LCP loop; `hit` decides whether point i of q, moved to `moved`, counts.
template <typename Hit>
LcpScore score_points(const core::PointSet& q, const core::RigidTransform& motion, double best,
                      Hit&& hit) {
  LcpScore score;
  const size_t n = q.size();
  if (n == 0) return score;
  const auto nf = static_cast<float>(n);
  const auto needed = static_cast<float>(static_cast<int64_t>(nf * best));
  int64_t hits = 0;
  for (size_t i = 0; i < n && static_cast<float>(i) < nf; ++i) {
    core::Point3D moved = q[i];
    core::transform_point(moved, motion);
    if (hit(i, moved)) ++hits;
    // The point just tested still counts as open, so the exit comes one point late; the value
    // returned is then below `best` and the caller's strict comparison rejects it.
    if (needed > nf - static_cast<float>(i) + static_cast<float>(hits)) {
      score.value = static_cast<float>(hits) / nf;
      score.early_exit = true;
      return score;
    }
  }
  score.value = static_cast<float>(hits) / nf;
  return score;
}

}  // namespace

LcpScore compute_lcp(const core::PointSet& q, const AnnIndex& p_index,
                     const core::RigidTransform& motion, double sq_radius, double best) {
  return score_points(q, motion, best, [&](size_t, const core::Point3D& moved) {
    return sq_radius > p_index.nearest_sq_dist(moved.x, moved.y, moved.z);
  });
}

LcpScore compute_lcp(const core::PointSet& q, const PointGrid& p_grid,
                     const core::RigidTransform& motion, double sq_radius, double best) {
  return score_points(q, motion, best, [&](size_t, const core::Point3D& moved) {
    return p_grid.any_within(moved.x, moved.y, moved.z, sq_radius);
  });
}

}  // namespace kestrel::registration
