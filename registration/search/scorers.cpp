#include "registration/search/scorers.h"

#include <algorithm>
#include <cmath>

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

bool SurfaceScorer::on_surface(const MotionMatrix& m, const core::Point3D& q) const {
  double x, y, z;
  m.apply(q, x, y, z);
  double sq = 0;
  const int k = p_grid_.nearest_within(x, y, z, tol_.sq_radius, sq);
  if (k < 0) return false;
  const core::Point3D& p = p_[static_cast<size_t>(k)];
  const double off = (x - p.x) * p.nx + (y - p.y) * p.ny + (z - p.z) * p.nz;
  if (std::abs(off) > tol_.plane_tol) return false;
  // The normal turns with the motion's rotation only.
  const double n[3] = {m.m[0][0] * q.nx + m.m[0][1] * q.ny + m.m[0][2] * q.nz,
                       m.m[1][0] * q.nx + m.m[1][1] * q.ny + m.m[1][2] * q.nz,
                       m.m[2][0] * q.nx + m.m[2][1] * q.ny + m.m[2][2] * q.nz};
  return std::abs(n[0] * p.nx + n[1] * p.ny + n[2] * p.nz) >= tol_.min_cos;
}

LcpScore SurfaceScorer::score(const core::RigidTransform& motion, double,
                              const std::function<bool()>& stop) const {
  // Empty space weighs as in fit_score (judge/fit_evidence.h).
  constexpr double kEmptySpaceWeight = 2;
  LcpScore out;
  if (stop && stop()) return out;
  size_t n = 0;
  const double share = sample_share(motion, 1, n);
  const double empty = free_space_violation(p_space_, q_space_, p_, q_, motion);
  out.value = std::max(0.0, share - kEmptySpaceWeight * empty);
  return out;
}

double SurfaceScorer::sample_share(const core::RigidTransform& motion, size_t stride,
                                   size_t& n) const {
  const MotionMatrix m(motion);
  size_t hits = 0;
  n = 0;
  for (size_t i = 0; i < q_.size(); i += stride, ++n) hits += on_surface(m, q_[i]);
  return n ? static_cast<double>(hits) / static_cast<double>(n) : 1.0;
}

}  // namespace kestrel::registration
