#include "registration/search/scorers.h"

namespace kestrel::registration {

namespace {

// The share of every stride-th point of `q`, moved by `motion`, for which `near` holds.
template <typename Near>
double moved_share(const core::PointSet& q, const core::RigidTransform& motion, size_t stride,
                   size_t& n, Near&& near) {
  size_t hits = 0;
  n = 0;
  for (size_t i = 0; i < q.size(); i += stride, ++n) {
    core::Point3D moved = q[i];
    core::transform_point(moved, motion);
    if (near(moved)) ++hits;
  }
  return n ? static_cast<double>(hits) / static_cast<double>(n) : 1.0;
}

}  // namespace

LcpScore AnnScorer::score(const core::RigidTransform& motion, double best,
                          const std::function<bool()>& stop) const {
  return compute_lcp(q_, p_index_, motion, sq_radius_, best, stop);
}

double AnnScorer::sample_share(const core::RigidTransform& motion, size_t stride, size_t& n) const {
  return moved_share(q_, motion, stride, n, [this](const core::Point3D& p) {
    return sq_radius_ > p_index_.nearest_sq_dist(p.x, p.y, p.z);
  });
}

LcpScore GridScorer::score(const core::RigidTransform& motion, double best,
                           const std::function<bool()>& stop) const {
  return compute_lcp(q_, p_grid_, motion, sq_radius_, best, stop);
}

double GridScorer::sample_share(const core::RigidTransform& motion, size_t stride,
                                size_t& n) const {
  return moved_share(q_, motion, stride, n, [this](const core::Point3D& p) {
    return p_grid_.any_within(p.x, p.y, p.z, sq_radius_);
  });
}

LcpScore MaskScorer::score(const core::RigidTransform& motion, double best,
                           const std::function<bool()>& stop) const {
  return compute_lcp(q_, p_mask_, motion, best, stop);
}

// The mask's scores apply the motion as one matrix (as compute_lcp does for it).
double MaskScorer::sample_share(const core::RigidTransform& motion, size_t stride,
                                size_t& n) const {
  const MotionMatrix m(motion);
  size_t hits = 0;
  n = 0;
  for (size_t i = 0; i < q_.size(); i += stride, ++n) {
    double x, y, z;
    m.apply(q_[i], x, y, z);
    hits += p_mask_.near(x, y, z);
  }
  return n ? static_cast<double>(hits) / static_cast<double>(n) : 1.0;
}

}  // namespace kestrel::registration
