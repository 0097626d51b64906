#include "registration/any_pose/any_pose_plan.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

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
// Base lengths in turn, as shares of the scans' size (twice the root mean square distance from
// the centroid, which does not change with the pose): wide bases fix the motion well, the
// narrower ones fit into overlaps down to about a third of a scan.
constexpr float kBaseShares[] = {0.75f, 0.45f};
// With the overlap given, bases shrink with it from the widest share.
constexpr float kKnownOverlapShares[] = {1.0f, 0.6f};

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
void add_normal_spread(const core::PointSet& set, const AnnIndex& index, std::vector<double>& out) {
  std::vector<int> nn;
  for (size_t i = 0; i < set.size(); ++i) {
    index.nearest_k(set[i].x, set[i].y, set[i].z, 2, nn);
    if (nn.size() < 2) continue;
    const core::Point3D& a = set[i];
    const core::Point3D& b = set[static_cast<size_t>(nn[1])];
    if ((a.nx == 0 && a.ny == 0 && a.nz == 0) || (b.nx == 0 && b.ny == 0 && b.nz == 0)) continue;
    out.push_back(core::normal_difference(a, b));
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

AnyPosePlan plan_any_pose(const AnyPoseScan& p, const AnyPoseScan& q,
                          const AnyPoseOptions& options) {
  AnyPosePlan plan;
  plan.neighbour_distance = static_cast<float>(neighbour_distance(p.working, p.index));
  plan.point_spacing = kSpacingPerNeighbourDistance * plan.neighbour_distance;
  std::vector<double> spread;
  add_normal_spread(p.working, p.index, spread);
  add_normal_spread(q.working, q.index, spread);
  plan.normal_spread = static_cast<float>(median(std::move(spread)));
  // The overlap cannot be wider than the smaller scan.
  plan.size = std::min(scan_size(p.working), scan_size(q.working));
  plan.delta = options.delta;
  plan.normal_tol =
      std::clamp(kSpreadToTolerance * plan.normal_spread, kMinNormalTol, kMaxNormalTol);
  const float overlap = options.overlap;
  const bool known_overlap = overlap > 0 && overlap <= 1;
  // An LCP never exceeds 1: without the overlap only the confirmation or the trials stop a run.
  plan.thr = known_overlap ? overlap : 1.0f;
  if (known_overlap) {
    for (float share : kKnownOverlapShares)
      plan.base_lengths.push_back(overlap * share * plan.size);
  } else {
    for (float share : kBaseShares) plan.base_lengths.push_back(share * plan.size);
  }
  return plan;
}

double score_sq_radius(const AnyPosePlan& plan) {
  return 2.0 * plan.point_spacing * plan.delta * plan.point_spacing;
}

}  // namespace kestrel::registration
