#pragma once
// The LCP scorers: Q's points moved by the motion, asked whether they lie near P through the
// kd-tree (the specified search), a grid (the same answers, faster, thread-safe) or a mask of
// the space near P (one lookup a point, the radius blurred by a fraction of a cell).

#include "registration/any_pose/near_mask.h"
#include "registration/any_pose/point_grid.h"
#include "registration/congruent/ann_index.h"
#include "registration/search/parts.h"

namespace kestrel::registration {

// The squared radius within which a moved point of Q counts: 2 x spacing x run tolerance, in
// float as the scores have always formed it.
inline float scoring_sq_radius(float point_spacing, float run_tol) {
  return point_spacing * run_tol * 2.0f;
}

// All references must outlive the scorer.
class AnnScorer : public Scorer {
 public:
  AnnScorer(const core::PointSet& q, const AnnIndex& p_index, float sq_radius)
      : q_(q), p_index_(p_index), sq_radius_(sq_radius) {}
  LcpScore score(const core::RigidTransform& motion, double best,
                 const std::function<bool()>& stop) const override;
  double sample_share(const core::RigidTransform& motion, size_t stride, size_t& n) const override;
  // ANN's searches share global state.
  bool thread_safe() const override { return false; }

 private:
  const core::PointSet& q_;
  const AnnIndex& p_index_;
  float sq_radius_;
};

class GridScorer : public Scorer {
 public:
  GridScorer(const core::PointSet& q, const PointGrid& p_grid, float sq_radius)
      : q_(q), p_grid_(p_grid), sq_radius_(sq_radius) {}
  LcpScore score(const core::RigidTransform& motion, double best,
                 const std::function<bool()>& stop) const override;
  double sample_share(const core::RigidTransform& motion, size_t stride, size_t& n) const override;
  bool thread_safe() const override { return true; }

 private:
  const core::PointSet& q_;
  const PointGrid& p_grid_;
  float sq_radius_;
};

class MaskScorer : public Scorer {
 public:
  MaskScorer(const core::PointSet& q, const NearMask& p_mask) : q_(q), p_mask_(p_mask) {}
  LcpScore score(const core::RigidTransform& motion, double best,
                 const std::function<bool()>& stop) const override;
  double sample_share(const core::RigidTransform& motion, size_t stride, size_t& n) const override;
  bool thread_safe() const override { return true; }

 private:
  const core::PointSet& q_;
  const NearMask& p_mask_;
};

}  // namespace kestrel::registration
