#include "registration/lcp.h"

#include <cmath>
#include <cstdint>

namespace kestrel::registration {

namespace {

// Whether the normal of `q`, turned by R, is within `cos_limit` of `p`'s, either sign.
bool normal_matches(const core::Point3D& q, const core::Point3D& p, const core::DenseMatrix& R,
                    float cos_limit) {
  double c = 0;
  const double n[3] = {p.nx, p.ny, p.nz};
  for (uint32_t i = 0; i < 3; ++i) c += (R(i, 0) * q.nx + R(i, 1) * q.ny + R(i, 2) * q.nz) * n[i];
  return std::fabs(c) > cos_limit;
}

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

LcpScore compute_lcp_with_normals(const core::PointSet& q, const core::PointSet& p,
                                  const AnnIndex& p_index, const core::RigidTransform& motion,
                                  double sq_radius, double best, float normal_cos) {
  return score_points(q, motion, best, [&](size_t i, const core::Point3D& moved) {
    double sq = 0;
    const int j = p_index.nearest(moved.x, moved.y, moved.z, sq);
    return sq_radius > sq && normal_matches(q[i], p[static_cast<size_t>(j)], motion.R, normal_cos);
  });
}

}  // namespace kestrel::registration
