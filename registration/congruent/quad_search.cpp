#include "registration/congruent/quad_search.h"

#include <array>
#include <cmath>

#include "core/stop_check.h"
#include "registration/any_pose/point_grid.h"
#include "registration/congruent/ann_index.h"

namespace kestrel::registration {

namespace {

using core::distance;

// A d2 pair's query costs about as much as this many of its hits (core::StopCheck units).
constexpr int64_t kQueryWork = 64;

// The point at ratio r from a towards b, formed as (b - a) * r + a per coordinate.
std::array<double, 3> along(const core::Point3D& a, const core::Point3D& b, double r) {
  return {(b.x - a.x) * r + a.x, (b.y - a.y) * r + a.y, (b.z - a.z) * r + a.z};
}

// Cross distances are compared in single precision, as the base's are stored.
bool close(float base_dist, const core::Point3D& a, const core::Point3D& b, float limit) {
  return std::fabs(base_dist - static_cast<float>(distance(a, b))) < limit;
}

// The base's four cross distances and the limit each Q distance must stay within.
struct CrossDistances {
  float d02, d03, d12, d13, limit;

  CrossDistances(const core::PointSet& b, double tol)
      : d02(static_cast<float>(distance(b[0], b[2]))),
        d03(static_cast<float>(distance(b[0], b[3]))),
        d12(static_cast<float>(distance(b[1], b[2]))),
        d13(static_cast<float>(distance(b[1], b[3]))),
        limit(static_cast<float>(tol) * 2) {}

  // Tested in this order, stopping at the first that fails.
  bool match(const core::Point3D& qi, const core::Point3D& qj, const core::Point3D& qa,
             const core::Point3D& qb) const {
    return close(d02, qa, qi, limit) && close(d03, qb, qi, limit) && close(d12, qa, qj, limit) &&
           close(d13, qb, qj, limit);
  }
};

}  // namespace

bool find_congruent_quads_exact(const std::vector<core::IndexPair>& d1_pairs,
                                const std::vector<core::IndexPair>& d2_pairs,
                                std::vector<core::CongruentQuad>& quads, double r1, double r2,
                                double tol, double search_radius, const core::PointSet& q,
                                const core::PointSet& base_points,
                                const std::function<bool()>& stop) {
  quads.clear();
  if (d1_pairs.empty() || d2_pairs.empty() || base_points.size() < 4) return false;
  const CrossDistances cross(base_points, tol);
  core::StopCheck stopped(stop);
  std::vector<std::array<double, 3>> mids;
  mids.reserve(d1_pairs.size());
  for (const core::IndexPair& pair : d1_pairs) {
    if (stopped()) return false;
    mids.push_back(along(q[pair.first], q[pair.second], r1));
  }
  const PointGrid grid(mids, std::sqrt(search_radius), stop);
  int64_t hits = 0;
  for (const core::IndexPair& d2 : d2_pairs) {
    if (stopped(kQueryWork + hits)) break;
    hits = 0;
    const core::Point3D& qa = q[d2.first];
    const core::Point3D& qb = q[d2.second];
    const std::array<double, 3> e = along(qa, qb, r2);
    grid.for_each_within(e[0], e[1], e[2], search_radius, [&](int hit) {
      ++hits;
      const core::IndexPair& d1 = d1_pairs[static_cast<size_t>(hit)];
      if (cross.match(q[d1.first], q[d1.second], qa, qb))
        quads.push_back({d1.first, d1.second, d2.first, d2.second});
    });
  }
  return !quads.empty();
}

bool find_congruent_quads(const std::vector<core::IndexPair>& d1_pairs,
                          const std::vector<core::IndexPair>& d2_pairs,
                          std::vector<core::CongruentQuad>& quads, double r1, double r2, double tol,
                          double search_radius, const core::PointSet& q,
                          const core::PointSet& base_points, const std::function<bool()>& stop) {
  quads.clear();
  if (d1_pairs.empty() || d2_pairs.empty() || base_points.size() < 4) return false;
  const CrossDistances cross(base_points, tol);

  // Point 2k is d1 pair k at r1, point 2k + 1 at r2: index / 2 names the pair.
  core::StopCheck stopped(stop);
  std::vector<std::array<double, 3>> mids;
  mids.reserve(2 * d1_pairs.size());
  for (const core::IndexPair& pair : d1_pairs) {
    if (stopped()) return false;
    mids.push_back(along(q[pair.first], q[pair.second], r1));
    mids.push_back(along(q[pair.first], q[pair.second], r2));
  }
  RadiusIndex index(mids);

  int64_t hits = 0;
  for (const core::IndexPair& d2 : d2_pairs) {
    if (stopped(2 * kQueryWork + hits)) break;
    hits = 0;
    const core::Point3D& qa = q[d2.first];
    const core::Point3D& qb = q[d2.second];
    for (const double r : {r1, r2}) {
      const std::array<double, 3> e = along(qa, qb, r);
      for (const int hit : index.search(e[0], e[1], e[2], search_radius)) {
        ++hits;
        const core::IndexPair& d1 = d1_pairs[static_cast<size_t>(hit) / 2];
        const core::Point3D& qi = q[d1.first];
        const core::Point3D& qj = q[d1.second];
        if (cross.match(qi, qj, qa, qb))
          quads.push_back({d1.first, d1.second, d2.first, d2.second});
      }
    }
  }
  return !quads.empty();
}

}  // namespace kestrel::registration
