#include "registration/any_pose.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "core/side_by_side.h"
#include "registration/refine_motion.h"
#include "registration/surface_normals.h"

namespace kestrel::registration {

namespace {

// Every tolerance of a run is a multiple of the spacing: the median neighbour distance of the
// grid-thinned P. A point of one scan then lies within about half a spacing of the other's
// nearest sample, so the pair tolerance (delta 0.9 spacings) covers both ends' offsets.
constexpr float kSpacingPerNeighbourDistance = 1.0f;
// Normal-difference tolerance: the spread of neighbouring normals at each end of a pair, added
// in quadrature (times sqrt 2), within these bounds.
constexpr float kSpreadToTolerance = 1.4142f;
constexpr float kMinNormalTol = 0.1f;
constexpr float kMaxNormalTol = 0.5f;
// Matched base normals, once turned by the candidate motion, must be within about 37 degrees.
constexpr float kNormalAgreement = 0.8f;
// Every 8th point of Q scores a candidate first; most wrong ones stop there.
constexpr int kLcpPresample = 8;
// Base lengths in turn, as shares of the scans' size (twice the root mean square distance from
// the centroid, which does not change with the pose): wide bases fix the motion well, the
// narrower ones fit into overlaps down to about a third of a scan.
constexpr float kBaseShares[] = {0.75f, 0.45f};
// With the overlap given, bases shrink with it from the widest share.
constexpr float kKnownOverlapShares[] = {1.0f, 0.6f};
// The fourth base point keeps this share of the base length from the triangle's corners.
constexpr float kFourthPointShare = 1.0f / 16;
// Candidates scoring above this share of the best are polished before they are compared.
constexpr float kPolishShare = 0.75f;
// Stopping: a trial's best counts as a second finding when it scores at least this share of the
// best LCP and lies within these limits of the best motion.
constexpr float kConfirmShare = 0.65f;
// Two later trials must find it: a wrong motion that a scan's symmetry lets two bases find is
// rarely found by three.
constexpr int32_t kConfirmCount = 2;
constexpr float kConfirmDegrees = 10.0f;
constexpr float kConfirmSpacings = 5.0f;  // in run tolerances
constexpr int32_t kMaxTrials = 150;
// Flat or featureless scans let nearly every pair and quad through; beyond these counts a trial
// takes an even share of them (the bundled scans stay below them).
constexpr int32_t kMaxPairs = 20000;
constexpr int32_t kMaxQuads = 50000;

// Closest-point steps of each of the polish's two radii, and of the quick polish.
constexpr int kPolishSteps = 15;
constexpr int kQuickPolishSteps = 4;
// A polish step that moves Q by less than this share of the neighbour distance ends it.
constexpr double kSettleShare = 0.01;

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

// Twice the root mean square distance of the points from their centroid.
float scan_size(const core::PointSet& set) {
  if (set.empty()) return 0;
  double c[3] = {0, 0, 0};
  for (const core::Point3D& p : set) c[0] += p.x, c[1] += p.y, c[2] += p.z;
  const auto n = static_cast<double>(set.size());
  for (double& v : c) v /= n;
  double sum = 0;
  for (const core::Point3D& p : set)
    sum += (p.x - c[0]) * (p.x - c[0]) + (p.y - c[1]) * (p.y - c[1]) + (p.z - c[2]) * (p.z - c[2]);
  return static_cast<float>(2 * std::sqrt(sum / n));
}

}  // namespace

AnyPosePlan plan_any_pose(const AnyPoseScans& scans, const EngineOptions& base, float overlap) {
  AnyPosePlan plan;
  core::side_by_side(
      base.threads,
      [&] { plan.p_normals = estimate_surface_normals(scans.full_p, scans.full_p_grid, scans.p); },
      [&] { plan.q_normals = estimate_surface_normals(scans.full_q, scans.full_q_grid, scans.q); });

  plan.neighbour_distance = static_cast<float>(neighbour_distance(scans.p, scans.p_index));
  plan.point_spacing = kSpacingPerNeighbourDistance * plan.neighbour_distance;
  std::vector<double> spread;
  add_normal_spread(scans.p, scans.p_index, plan.p_normals, spread);
  AnnIndex q_index;
  q_index.build(scans.q);
  add_normal_spread(scans.q, q_index, plan.q_normals, spread);
  plan.normal_spread = static_cast<float>(median(std::move(spread)));
  // The overlap cannot be wider than the smaller scan.
  plan.size = std::min(scan_size(scans.p), scan_size(scans.q));

  EngineOptions& o = plan.options;
  o = base;
  o.margin = 0;
  o.scale_tol = 1.0f;
  o.normal_tol = std::clamp(kSpreadToTolerance * plan.normal_spread, kMinNormalTol, kMaxNormalTol);
  o.normal_agreement = kNormalAgreement;
  o.lcp_presample = kLcpPresample;
  o.mask_scoring = true;
  o.exact_invariants = true;
  o.oriented_pairs = true;
  o.max_pairs = kMaxPairs;
  o.max_quads = kMaxQuads;
  o.trial_rounds = true;
  o.polish_share = kPolishShare;
  o.num_try = kMaxTrials;
  o.confirm_share = kConfirmShare;
  o.confirm_count = kConfirmCount;
  o.confirm_degrees = kConfirmDegrees;
  o.confirm_tolerances = kConfirmSpacings;
  const bool known_overlap = overlap > 0 && overlap <= 1;
  // An LCP never exceeds 1: without the overlap only the confirmation or the trials stop a run.
  o.thr = known_overlap ? overlap : 1.0f;
  o.base_len_cycle.clear();
  if (known_overlap) {
    for (float share : kKnownOverlapShares) o.base_len_cycle.push_back(overlap * share * plan.size);
  } else {
    for (float share : kBaseShares) o.base_len_cycle.push_back(share * plan.size);
  }
  o.base_max_len = o.base_len_cycle.front();
  o.min_fourth_share = kFourthPointShare;
  o.min_fourth_distance = kFourthPointShare * o.base_max_len;
  return plan;
}

double score_sq_radius(const AnyPosePlan& plan) {
  return 2.0 * plan.point_spacing * plan.options.delta * plan.point_spacing;
}

double polish_grid_radius(const AnyPosePlan& plan) {
  return 2 * std::sqrt(score_sq_radius(plan));
}

double full_grid_cell(size_t full_points, size_t working_points, double thinning_cell) {
  // On a surface a thinning cell of side c gathers full / working points, so the full scan's
  // spacing is about c / sqrt(full / working). Four of those make a cell of a dozen points or
  // so, enough for the 16 nearest within the 27 cells around a query.
  if (full_points == 0 || working_points == 0) return thinning_cell;
  const double per_cell = static_cast<double>(full_points) / static_cast<double>(working_points);
  return 4 * thinning_cell / std::sqrt(std::max(per_cell, 1.0));
}

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
    m = refine_motion(scans.q, scans.full_p, scans.full_p_grid, motion, options).motion;
  }
  options.sq_radius = 0.25 * score_sq;
  return refine_motion(scans.q, scans.full_p, scans.full_p_grid, m, options).motion;
}

}  // namespace kestrel::registration
