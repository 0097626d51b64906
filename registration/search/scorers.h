#pragma once
// The LCP scorers: Q's points moved by the motion, asked whether they lie near P through the
// kd-tree (the specified search), a grid (the same answers, faster, thread-safe) or a mask of
// the space near P (one lookup a point, the radius blurred by a fraction of a cell).

#include "registration/any_pose/near_mask.h"
#include "registration/any_pose/point_grid.h"
#include "registration/congruent/ann_index.h"
#include "registration/judge/free_space.h"
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

// Where a moved point of Q lies on P's surface: P's nearest point within sqrt(sq_radius) has
// it within plane_tol of its tangent plane, and their normals agree within the angle whose
// cosine is min_cos (either sign).
struct SurfaceTolerances {
  double sq_radius = 0;
  double plane_tol = 0;
  double min_cos = 1;
};

// The share of Q on P's surface, less twice the share of both scans that the motion puts where
// the other saw empty space (as judge/fit_evidence.h weighs a fit). Surfaces that merely cross,
// or a scan slid along a smooth part, bring many points near P but few onto it; so this score
// tells right polished motions from wrong ones where the LCP cannot. It needs both sets'
// normals and a precise motion. All references must outlive the scorer.
class SurfaceScorer : public Scorer {
 public:
  SurfaceScorer(const core::PointSet& q, const core::PointSet& p, const PointGrid& p_grid,
                const SurfaceTolerances& tol, const FreeSpaceMap& p_space,
                const FreeSpaceMap& q_space)
      : q_(q), p_(p), p_grid_(p_grid), tol_(tol), p_space_(p_space), q_space_(q_space) {}
  // Never gives up early: it scores only the few polished candidates.
  LcpScore score(const core::RigidTransform& motion, double best,
                 const std::function<bool()>& stop) const override;
  // The share on P's surface alone.
  double sample_share(const core::RigidTransform& motion, size_t stride, size_t& n) const override;
  bool thread_safe() const override { return true; }

 private:
  bool on_surface(const MotionMatrix& m, const core::Point3D& q) const;

  const core::PointSet& q_;
  const core::PointSet& p_;
  const PointGrid& p_grid_;
  SurfaceTolerances tol_;
  const FreeSpaceMap& p_space_;
  const FreeSpaceMap& q_space_;
};

}  // namespace kestrel::registration
