#include "registration/any_pose/nearby_points.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "registration/any_pose/refine_motion.h"

namespace kestrel::registration {

namespace {
// Points of a list at the most: about three times what a reach of a few spacings holds.
constexpr size_t kMostListed = 64;
}  // namespace

NearbyPoints::NearbyPoints(const core::PointSet& p, const PointGrid& grid, size_t count,
                           double reach)
    : p_(p), grid_(grid), reach_(reach), lists_(count) {}

void NearbyPoints::make(List& list, const core::Point3D& x) {
  made_.clear();
  grid_.for_each_within(x.x, x.y, x.z, reach_ * reach_, [this](int i) {
    const core::Point3D& q = p_[static_cast<size_t>(i)];
    made_.push_back({q.x, q.y, q.z, i});
  });
  // Where the scan is far denser than its usual spacing (a pile of points), a list would hold
  // thousands: such a point keeps asking the grid, and the lists stay small.
  if (made_.size() > kMostListed) {
    list.made = false;
    list.crowded = true;
    return;
  }
  if (made_.size() > list.room) {
    list.first = static_cast<uint32_t>(pool_.size());
    list.room = static_cast<uint32_t>(made_.size());
    pool_.resize(pool_.size() + made_.size());
  }
  std::copy(made_.begin(), made_.end(), pool_.begin() + list.first);
  list.count = static_cast<uint32_t>(made_.size());
  list.made = true;
  list.at[0] = x.x, list.at[1] = x.y, list.at[2] = x.z;
}

int NearbyPoints::nearest(size_t i, const core::Point3D& x, double sq_radius, int& near,
                          double& d2) {
  List& list = lists_[i];
  if (list.made) {
    // The list's nearest, the first of equals in the grid's order, as the grid would answer.
    int best = -1;
    double best_d2 = std::numeric_limits<double>::infinity();
    for (uint32_t k = list.first; k < list.first + list.count; ++k) {
      const Candidate& c = pool_[k];
      const double dx = c.x - x.x, dy = c.y - x.y, dz = c.z - x.z;
      const double e = dx * dx + dy * dy + dz * dz;
      if (e < best_d2) best_d2 = e, best = c.index;
    }
    const double moved = std::sqrt((x.x - list.at[0]) * (x.x - list.at[0]) +
                                   (x.y - list.at[1]) * (x.y - list.at[1]) +
                                   (x.z - list.at[2]) * (x.z - list.at[2]));
    // Every point of the scan as near as the answer (or within the radius, when the list has
    // none there) lies within `reach` of where the list was made, so it is in the list: the
    // answer is the scan's. A hair of slack for rounding.
    const double asked = std::sqrt(std::min(best_d2, sq_radius));
    if (asked + moved < reach_ * (1 - 1e-9)) {
      if (best >= 0 && best_d2 < sq_radius) {
        d2 = best_d2;
        return near = best;
      }
      d2 = sq_radius;
      return near = -1;
    }
  }
  const int j = nearest_from(p_, grid_, x, sq_radius, near, d2);
  // Worth a list only where the answer lies well inside its reach.
  if (j >= 0 && 4 * d2 < reach_ * reach_ && !list.crowded) make(list, x);
  return j;
}

}  // namespace kestrel::registration
