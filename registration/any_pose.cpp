#include "registration/any_pose.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "registration/refine_motion.h"
#include "registration/surface_normals.h"

namespace kestrel::registration {

namespace {

// Every tolerance of a run is a multiple of the spacing. Two neighbour distances give a pair
// tolerance of 1.8 of them (delta 0.9) and a scoring radius of about 2.7: the two scans are
// sampled at different points, so a point of one lies up to a spacing from the other's.
constexpr float kSpacingPerNeighbourDistance = 2.0f;
// Normal-difference tolerance: the spread of neighbouring normals at each end of a pair, added
// in quadrature (times sqrt 2), within these bounds.
constexpr float kSpreadToTolerance = 1.4142f;
constexpr float kMinNormalTol = 0.1f;
constexpr float kMaxNormalTol = 0.5f;
// Matched base normals, once turned by the candidate motion, must be within about 37 degrees.
constexpr float kNormalAgreement = 0.8f;
// Every 8th point of Q scores a candidate first; most wrong ones stop there.
constexpr int kLcpPresample = 8;
// Trials alternate between bases as wide as the scans and half of that, which fit into a
// smaller overlap.
constexpr float kNarrowBaseShare = 0.5f;
// The fourth base point keeps this share of the base width from the triangle's corners.
constexpr float kFourthPointShare = 1.0f / 16;
// Stopping: a trial's best counts as a second finding when it scores at least this share of the
// best LCP and lies within these limits of the best motion.
constexpr float kConfirmShare = 0.65f;
constexpr float kConfirmDegrees = 10.0f;
constexpr float kConfirmSpacings = 5.0f;  // in run tolerances
constexpr int32_t kMaxTrials = 150;

// Vetting: "on the surface" is within this share of the scoring radius, and a right motion
// puts at least this share of the points near P on it.
constexpr double kTightShare = 0.2;
// Closest-point steps of each of the polish's two radii.
constexpr int kPolishSteps = 15;
// Steps of each radius of the quick polish of candidates near the best.
constexpr int kQuickPolishSteps = 4;
// A polish step that moves Q by less than this share of the neighbour distance ends it.
constexpr double kSettleShare = 0.01;
constexpr double kMinOnSurface = 0.5;

// The engine's scoring radius: 2 x spacing x run tolerance, as a squared distance.
double score_sq_radius(const AnyPosePlan& plan) {
  return 2.0 * plan.point_spacing * plan.options.delta * plan.point_spacing;
}

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  const auto mid = v.begin() + static_cast<long>(v.size() / 2);
  std::nth_element(v.begin(), mid, v.end());
  return *mid;
}

// Median distance from each point of `set` to its nearest other point.
double neighbour_distance(const core::PointSet& set, const AnnIndex& index) {
  std::vector<double> d;
  d.reserve(set.size());
  for (const core::Point3D& p : set) {
    const double sq = index.second_nearest_sq_dist(p.x, p.y, p.z);
    if (std::isfinite(sq)) d.push_back(std::sqrt(sq));
  }
  return median(std::move(d));
}

// How much the normals of neighbouring working points differ: the noise and the bending over
// one spacing that the pair test has to tolerate.
void add_normal_spread(const core::PointSet& set, const AnnIndex& index, const NormalList& normals,
                       std::vector<double>& out) {
  std::vector<int> nn;
  for (size_t i = 0; i < set.size(); ++i) {
    index.nearest_k(set[i].x, set[i].y, set[i].z, 2, nn);
    if (nn.size() < 2) continue;
    const auto& a = normals[i];
    const auto& b = normals[static_cast<size_t>(nn[1])];
    if (a == std::array<double, 3>{0, 0, 0} || b == std::array<double, 3>{0, 0, 0}) continue;
    out.push_back(std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) +
                            (a[2] - b[2]) * (a[2] - b[2])));
  }
}

float joint_extent(const core::PointSet& a, const core::PointSet& b) {
  double lo[3] = {INFINITY, INFINITY, INFINITY}, hi[3] = {-INFINITY, -INFINITY, -INFINITY};
  for (const core::PointSet* set : {&a, &b})
    for (const core::Point3D& p : *set) {
      const double v[3] = {p.x, p.y, p.z};
      for (int k = 0; k < 3; ++k) {
        lo[k] = std::min(lo[k], v[k]);
        hi[k] = std::max(hi[k], v[k]);
      }
    }
  if (!(hi[0] >= lo[0])) return 0;
  return static_cast<float>(std::max({hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]}));
}

}  // namespace

AnyPosePlan plan_any_pose(const AnyPoseScans& scans, const EngineOptions& base, float overlap) {
  AnyPosePlan plan;
  plan.p_normals = estimate_surface_normals(scans.full_p, scans.full_p_index, scans.p);
  AnnIndex full_q_index;
  full_q_index.build(scans.full_q);
  plan.q_normals = estimate_surface_normals(scans.full_q, full_q_index, scans.q);

  plan.neighbour_distance = static_cast<float>(neighbour_distance(scans.p, scans.p_index));
  plan.point_spacing = (std::getenv("KX_SPF") ? std::atof(std::getenv("KX_SPF")) : kSpacingPerNeighbourDistance) * plan.neighbour_distance;
  std::vector<double> spread;
  add_normal_spread(scans.p, scans.p_index, plan.p_normals, spread);
  AnnIndex q_index;
  q_index.build(scans.q);
  add_normal_spread(scans.q, q_index, plan.q_normals, spread);
  plan.normal_spread = static_cast<float>(median(std::move(spread)));
  plan.extent = joint_extent(scans.p, scans.q);

  EngineOptions& o = plan.options;
  o = base;
  o.margin = 0;
  o.scale_tol = 1.0f;
  o.normal_tol = std::clamp(kSpreadToTolerance * plan.normal_spread, kMinNormalTol, kMaxNormalTol);
  o.normal_agreement = kNormalAgreement;
  o.lcp_presample = kLcpPresample;
  o.grid_scoring = true;
  o.exact_invariants = true;
  o.oriented_pairs = !std::getenv("KX_NOORIENT");
  o.num_try = kMaxTrials;
  o.confirm_share = kConfirmShare;
  o.confirm_degrees = kConfirmDegrees;
  o.confirm_tolerances = kConfirmSpacings;
  const bool known_overlap = overlap > 0 && overlap <= 1;
  if (known_overlap) {
    o.thr = overlap;
    o.base_max_len = overlap * plan.extent * 2;
    o.narrow_base_max_len = 0;
  } else {
    o.thr = 1.0f;  // an LCP never exceeds 1: only the confirmation or the trial count stop
    o.base_max_len = plan.extent;
    o.narrow_base_max_len = kNarrowBaseShare * plan.extent;
    if (const char* s = std::getenv("KX_CYCLE")) {
      o.narrow_base_max_len = 0;
      for (const char* p = s; *p;) {
        char* end;
        o.base_len_cycle.push_back(std::strtof(p, &end) * plan.extent);
        p = *end ? end + 1 : end;
      }
      o.min_fourth_share = kFourthPointShare;
    }
  }
  o.min_fourth_distance = kFourthPointShare * o.base_max_len;
  return plan;
}

double polish_grid_radius(const AnyPosePlan& plan) {
  return 2 * std::sqrt(score_sq_radius(plan));
}

double fine_grid_radius(const AnyPosePlan& plan) {
  return 0.5 * std::sqrt(score_sq_radius(plan));
}

namespace {

// P's point nearest to `moved` within sqrt(sq_radius): through the grid when there is one.
double nearest_sq(const AnyPoseScans& scans, const core::Point3D& moved, double sq_radius) {
  double sq = sq_radius;
  if (scans.full_p_grid) {
    scans.full_p_grid->nearest_within(moved.x, moved.y, moved.z, sq_radius, sq);
  } else {
    scans.full_p_index.nearest(moved.x, moved.y, moved.z, sq);
  }
  return sq;
}

RefineResult polish_step(const AnyPoseScans& scans, const core::RigidTransform& motion,
                         const RefineOptions& options) {
  return scans.full_p_grid
             ? refine_motion(scans.q, scans.full_p, *scans.full_p_grid, motion, options)
             : refine_motion(scans.q, scans.full_p, scans.full_p_index, motion, options);
}

}  // namespace

core::RigidTransform quick_polish(const AnyPoseScans& scans, const AnyPosePlan& plan,
                                  const core::RigidTransform& motion) {
  if (!scans.p_grid) return motion;
  const PointGrid& p_grid = *scans.p_grid;
  const double score_sq = score_sq_radius(plan);
  RefineOptions options;
  options.iterations = kQuickPolishSteps;
  options.settle = kSettleShare * plan.neighbour_distance;
  options.sq_radius = 4 * score_sq;
  const core::RigidTransform m = refine_motion(scans.q, scans.p, p_grid, motion, options).motion;
  options.sq_radius = score_sq;
  return refine_motion(scans.q, scans.p, p_grid, m, options).motion;
}

bool vet_any_pose(const AnyPoseScans& scans, const AnyPosePlan& plan, core::RigidTransform& motion,
                  double* on_surface_share) {
  motion = polish_any_pose(scans, plan, motion);
  const double loose = score_sq_radius(plan);
  const double tight = loose * kTightShare * kTightShare;
  size_t near = 0, on = 0;
  for (const core::Point3D& q : scans.q) {
    core::Point3D moved = q;
    core::transform_point(moved, motion);
    const double sq = nearest_sq(scans, moved, loose);
    near += sq < loose;
    on += sq < tight;
  }
  const double share = near ? static_cast<double>(on) / static_cast<double>(near) : 0;
  if (on_surface_share) *on_surface_share = share;
  return share >= kMinOnSurface;
}

core::RigidTransform polish_any_pose(const AnyPoseScans& scans, const AnyPosePlan& plan,
                                     const core::RigidTransform& motion) {
  const double score_sq = score_sq_radius(plan);
  RefineOptions options;
  options.iterations = kPolishSteps;
  options.settle = kSettleShare * plan.neighbour_distance;
  core::RigidTransform m = motion;
  if (scans.p_grid) {
    // The coarse steps need only P's working set; the full P then settles the motion.
    m = quick_polish(scans, plan, motion);
  } else {
    options.sq_radius = 4 * score_sq;
    m = polish_step(scans, motion, options).motion;
  }
  options.sq_radius = 0.25 * score_sq;
  return polish_step(scans, m, options).motion;
}

}  // namespace kestrel::registration
