#include "registration/any_pose/point_grid.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "core/stop_check.h"

namespace kestrel::registration {

namespace {
// Beyond this many cells the grid coarsens instead of growing.
constexpr double kMaxCells = 4.0e6;
}  // namespace

PointGrid::PointGrid(const std::vector<std::array<double, 3>>& points, double radius,
                     const std::function<bool()>& stop) {
  build(
      points.size(), [&points](size_t i) { return points[i]; }, radius, stop);
}

PointGrid::PointGrid(const core::PointSet& points, double radius,
                     const std::function<bool()>& stop) {
  build(
      points.size(),
      [&points](size_t i) {
        return std::array<double, 3>{points[i].x, points[i].y, points[i].z};
      },
      radius, stop);
}

template <typename At>
void PointGrid::build(size_t n, At&& at, double radius, const std::function<bool()>& stop) {
  if (n == 0) {
    start_.assign(2, 0);
    return;
  }
  double lo[3], hi[3];
  for (int a = 0; a < 3; ++a) lo[a] = hi[a] = at(0)[a];
  for (size_t i = 0; i < n; ++i) {
    const std::array<double, 3> p = at(i);
    for (int a = 0; a < 3; ++a) {
      lo[a] = p[a] < lo[a] ? p[a] : lo[a];
      hi[a] = p[a] > hi[a] ? p[a] : hi[a];
    }
  }
  const double span = std::max({hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2], 0.0});
  cell_ = radius > 0 && std::isfinite(radius) ? radius : std::max(span, 1.0);
  auto cells = [&]() {
    double count = 1;
    for (int a = 0; a < 3; ++a) count *= std::floor((hi[a] - lo[a]) / cell_) + 1;
    return count;
  };
  while (cells() > kMaxCells) cell_ *= 2;
  for (int a = 0; a < 3; ++a) {
    origin_[a] = lo[a];
    dims_[a] = static_cast<int>(std::floor((hi[a] - lo[a]) / cell_)) + 1;
  }

  // Counting sort of the points by cell.
  const size_t ncell = static_cast<size_t>(dims_[0]) * dims_[1] * dims_[2];
  std::vector<uint32_t> cell_of(n);
  start_.assign(ncell + 1, 0);
  core::StopCheck stopped(stop);
  const auto hold_nothing = [this, ncell] { start_.assign(ncell + 1, 0); };
  for (size_t i = 0; i < n; ++i) {
    if (stopped()) {
      hold_nothing();
      return;
    }
    const std::array<double, 3> p = at(i);
    int c[3];
    for (int a = 0; a < 3; ++a)
      c[a] = std::min(dims_[a] - 1, static_cast<int>((p[a] - origin_[a]) / cell_));
    cell_of[i] = static_cast<uint32_t>(cell_index(c[0], c[1], c[2]));
    ++start_[cell_of[i] + 1];
  }
  for (size_t c = 0; c < ncell; ++c) start_[c + 1] += start_[c];
  points_.resize(n);
  index_.resize(n);
  std::vector<uint32_t> fill(start_.begin(), start_.end() - 1);
  for (size_t i = 0; i < n; ++i) {
    if (stopped()) {
      hold_nothing();
      return;
    }
    const uint32_t slot = fill[cell_of[i]]++;
    points_[slot] = at(i);
    index_[slot] = static_cast<uint32_t>(i);
  }
}

bool PointGrid::cell_range(double x, double y, double z, double r, int lo[3], int hi[3]) const {
  const double q[3] = {x, y, z};
  for (int a = 0; a < 3; ++a) {
    const double l = std::floor((q[a] - r - origin_[a]) / cell_);
    const double h = std::floor((q[a] + r - origin_[a]) / cell_);
    if (!(h >= 0) || !(l <= dims_[a] - 1)) return false;  // also false for NaN
    lo[a] = static_cast<int>(std::max(l, 0.0));
    hi[a] = static_cast<int>(std::min(h, static_cast<double>(dims_[a] - 1)));
  }
  return true;
}

bool PointGrid::any_within(double x, double y, double z, double sq_radius) const {
  return visit_within(x, y, z, sq_radius, [](int, double) { return true; });
}

int PointGrid::nearest_within(double x, double y, double z, double sq_radius,
                              double& sq_dist) const {
  int best = -1;
  sq_dist = sq_radius;
  visit_within(x, y, z, sq_radius, [&](int i, double d2) {
    if (d2 < sq_dist) {
      sq_dist = d2;
      best = i;
    }
    return false;
  });
  return best;
}

void PointGrid::nearest_k(double x, double y, double z, size_t k, std::vector<int>& out) const {
  out.clear();
  k = std::min(k, points_.size());
  if (k == 0) return;
  std::vector<std::pair<double, int>> found;
  // Every point lies within the box's diagonal of any query inside it; far queries widen on.
  for (double r = cell_;; r *= 2) {
    found.clear();
    const double sq = r * r;
    visit_within(x, y, z, sq, [&found](int i, double d2) {
      found.emplace_back(d2, i);
      return false;
    });
    if (found.size() >= k || !std::isfinite(sq)) break;
  }
  std::partial_sort(found.begin(), found.begin() + static_cast<long>(std::min(k, found.size())),
                    found.end());
  for (size_t j = 0; j < k && j < found.size(); ++j) out.push_back(found[j].second);
}

}  // namespace kestrel::registration
