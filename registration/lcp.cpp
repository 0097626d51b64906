#include "registration/lcp.h"

#include <cstdint>

namespace kestrel::registration {

LcpScore compute_lcp(const core::PointSet& q, const AnnIndex& p_index,
                     const core::RigidTransform& motion, double sq_radius, double best) {
  LcpScore score;
  const size_t n = q.size();
  if (n == 0) return score;
  const auto nf = static_cast<float>(n);
  const auto needed = static_cast<float>(static_cast<int64_t>(nf * best));
  int64_t hits = 0;
  for (size_t i = 0; i < n && static_cast<float>(i) < nf; ++i) {
    core::Point3D moved = q[i];
    core::transform_point(moved, motion);
    if (sq_radius > p_index.nearest_sq_dist(moved.x, moved.y, moved.z)) ++hits;
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

}  // namespace kestrel::registration
