#include "registration/lcp.h"

#include <cstdint>

#include "core/rigid_transform.h"

namespace kestrel::registration {

double compute_lcp(const core::PointSet& model_q, const AnnIndex& p_index,
                   const core::DenseMatrix& R, float s, double sq_radius, double best, double cx,
                   double cy, double cz, double tx, double ty, double tz) {
  const size_t n = model_q.size();
  if (n == 0) return 0.0;
  const auto nf = static_cast<float>(n);
  const auto needed = static_cast<float>(static_cast<int64_t>(nf * best));
  int64_t hits = 0;
  for (size_t i = 0; i < n && static_cast<float>(i) < nf; ++i) {
    core::Point3D moved = model_q[i];
    core::transform_point(moved, R, s, cx, cy, cz, tx, ty, tz);
    if (sq_radius > p_index.nearest_sq_dist(moved.x, moved.y, moved.z)) ++hits;
    // The point just tested still counts as open, so the exit comes one point late; the value
    // returned is then below `best` and the caller's strict comparison rejects it.
    if (needed > nf - static_cast<float>(i) + static_cast<float>(hits))
      return static_cast<float>(hits) / nf;
  }
  return static_cast<float>(hits) / nf;
}

}  // namespace kestrel::registration
