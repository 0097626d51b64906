#pragma once
// A uniform grid over a fixed set of 3D points for fixed-radius questions: which points lie
// within a radius of a query, and is there any. Buckets are one flat array ordered by cell, so
// a query reads a few contiguous runs. Cheaper to build and query than a kd-tree when the
// radius is known in advance, and safe to query from several threads at once.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <vector>

#include "core/point_set.h"

namespace kestrel::registration {

// The smallest box holding the `n` positions at(i): its low and high corner (zeros when n is 0).
template <typename At>
void bounding_box(size_t n, At&& at, double lo[3], double hi[3]) {
  for (int a = 0; a < 3; ++a) lo[a] = hi[a] = n > 0 ? at(0)[a] : 0;
  for (size_t i = 0; i < n; ++i) {
    const std::array<double, 3> p = at(i);
    for (int a = 0; a < 3; ++a) {
      lo[a] = p[a] < lo[a] ? p[a] : lo[a];
      hi[a] = p[a] > hi[a] ? p[a] : hi[a];
    }
  }
}

inline void bounding_box(const std::vector<std::array<double, 3>>& points, double lo[3],
                         double hi[3]) {
  bounding_box(
      points.size(), [&points](size_t i) { return points[i]; }, lo, hi);
}

// The same for a scan's positions.
inline void bounding_box(const core::PointSet& set, double lo[3], double hi[3]) {
  const auto at = [&set](size_t i) { return std::array<double, 3>{set[i].x, set[i].y, set[i].z}; };
  bounding_box(set.size(), at, lo, hi);
}

// The box of `set`, narrowed to its core when a few points lie far beyond the rest: the middle
// 99 % of each axis (of an even sample) widened by its largest extent at both ends. The box of
// all points when none does, or when the set has under a thousand points.
void core_box(const core::PointSet& set, double lo[3], double hi[3]);

class PointGrid {
 public:
  // Grid over `points` with cells of side about `radius`. A box that would need more than about
  // four million cells, or far more cells than points, keeps only its occupied cells, column by
  // column along x (a dense scan is a surface: few cells of its box hold a point), and is
  // enlarged only when the columns alone would be that many. Queries with a larger radius stay
  // exact, only slower. A `stop` request (core/stop_check.h) leaves a grid that holds no point.
  PointGrid(const std::vector<std::array<double, 3>>& points, double radius,
            const std::function<bool()>& stop = {});
  // The same grid over the positions of `points`, read in place (no copy of a large scan). With
  // `as_read` (a scan as a file gave it), points at the same position as one before them are
  // stored once, so a scan whose points repeat (a mesh's vertices written once for each face,
  // say) has the neighbours and spacing of its surface, not of its copies; and a few points far
  // beyond the rest (core_box) sit in the border cells of a grid over the rest's box, which a
  // query beyond the box asks too: answers stay exact, and one point written a kilometre off
  // does not spread the cells thin.
  PointGrid(const core::PointSet& points, double radius, const std::function<bool()>& stop = {},
            bool as_read = false);

  // Calls visit(index) for every stored point strictly within sqrt(sq_radius) of (x, y, z), in
  // cell order, then by index.
  template <typename Visit>
  void for_each_within(double x, double y, double z, double sq_radius, Visit&& visit) const;

  // Whether some stored point lies strictly within sqrt(sq_radius) of (x, y, z).
  bool any_within(double x, double y, double z, double sq_radius) const;

  // The stored point nearest to (x, y, z) strictly within sqrt(sq_radius), or -1; `sq_dist`
  // receives its squared distance. Of equal distances the first in cell order wins.
  int nearest_within(double x, double y, double z, double sq_radius, double& sq_dist) const;

  // The same answer, for a caller that knows a stored point within sqrt(bound_sq) of the query
  // (the one found a step before, say: a refinement moves each point little between steps).
  // The search then covers that small ball only, where the plain one starts at half a cell.
  int nearest_within(double x, double y, double z, double sq_radius, double bound_sq,
                     double& sq_dist) const;

  // The indices of the k stored points nearest to (x, y, z), nearest first (fewer when the grid
  // holds fewer), searched within a cell's radius that doubles until k points are in reach.
  void nearest_k(double x, double y, double z, size_t k, std::vector<int>& out) const;

  size_t size() const { return points_.size(); }

 private:
  // Both constructors: `at(i)` gives point i of `n` as an array of three doubles.
  template <typename At>
  void build(size_t n, At&& at, double radius, const std::function<bool()>& stop);
  bool as_read_ = false;
  bool beyond_ = false;  // some points lie beyond the box, in its border cells
  // Sorts the points into the cells once their size and the grid's dims are set: every cell of
  // the box, or only the occupied ones of each column. False when a stop came.
  template <typename At>
  bool fill_dense(size_t n, At&& at, const std::function<bool()>& stop);
  template <typename At>
  bool fill_columns(size_t n, At&& at, const std::function<bool()>& stop);
  template <typename At>
  void gather_points(size_t n, At&& at);
  // Leaves out of each cell the points at the position of an earlier one of the cell.
  void drop_coincident();
  // The stored points of the cells i = lo..hi of row (j, k), which lie together: [s, e).
  void row_run(int j, int k, int lo, int hi, uint32_t& s, uint32_t& e) const;
  int nearest_in_ball(double x, double y, double z, double sq, double& sq_dist) const;
  // The cell range [lo, hi] per axis that a ball of the given radius touches; false when the
  // ball misses the grid.
  bool cell_range(double x, double y, double z, double r, int lo[3], int hi[3]) const;
  // Calls visit(index, squared distance) for the stored points within the radius until it
  // returns true; returns whether it did.
  template <typename Visit>
  bool visit_within(double x, double y, double z, double sq_radius, Visit&& visit) const;
  // The cell (clamped into the grid) that holds the point p; a point beyond the box, in its
  // border cells.
  void locate(const std::array<double, 3>& p, int c[3]) const {
    for (int a = 0; a < 3; ++a) {
      const double v = (p[a] - origin_[a]) / cell_;
      c[a] = v > 0 ? (v < dims_[a] - 1 ? static_cast<int>(v) : dims_[a] - 1) : 0;
    }
  }
  size_t cell_index(int i, int j, int k) const {
    return (static_cast<size_t>(k) * dims_[1] + static_cast<size_t>(j)) * dims_[0] +
           static_cast<size_t>(i);
  }

  std::vector<std::array<double, 3>> points_;  // in cell order
  std::vector<uint32_t> index_;                // original index of each stored point
  std::vector<uint32_t> start_;                // first stored point of each cell, plus an end
  // Only occupied cells are kept: the cells of column (j, k) are column_[k * dims_[1] + j] up
  // to the next column's first, in order of their x cell cell_x_, each starting at start_.
  bool by_column_ = false;
  std::vector<uint32_t> column_;
  std::vector<int32_t> cell_x_;
  double origin_[3] = {0, 0, 0};
  double cell_ = 1;
  double inv_cell_ = 1;
  int dims_[3] = {1, 1, 1};
};

// A grid over a full scan that several stages ask for (the search's normals and polish, the
// fit measurements): built once, on whichever thread gets to it first, and shared.
using SharedGrid = std::shared_ptr<const PointGrid>;
using GridToCome = std::shared_future<SharedGrid>;

inline void PointGrid::row_run(int j, int k, int lo, int hi, uint32_t& s, uint32_t& e) const {
  if (!by_column_) {
    const size_t row = cell_index(0, j, k);
    s = start_[row + static_cast<size_t>(lo)];
    e = start_[row + static_cast<size_t>(hi) + 1];
    return;
  }
  const size_t column = static_cast<size_t>(k) * static_cast<size_t>(dims_[1]) +
                        static_cast<size_t>(j);
  uint32_t first = column_[column];
  const uint32_t end = column_[column + 1];
  // A long column (a surface lying along x) is searched by halves; a short one in order.
  constexpr uint32_t kShortColumn = 16;
  if (end - first > kShortColumn)
    first = static_cast<uint32_t>(
        std::lower_bound(cell_x_.begin() + first, cell_x_.begin() + end, lo) - cell_x_.begin());
  else
    while (first < end && cell_x_[first] < lo) ++first;
  uint32_t last = first;
  while (last < end && cell_x_[last] <= hi) ++last;
  s = start_[first];
  e = start_[last];
}

inline bool PointGrid::cell_range(double x, double y, double z, double r, int lo[3],
                                  int hi[3]) const {
  // A hair wider than the ball: the cells are found by multiplying where the points were
  // placed by dividing, and a cell too many only costs its distance checks.
  constexpr double kSlack = 1e-9;
  const double q[3] = {x, y, z};
  for (int a = 0; a < 3; ++a) {
    const double l = (q[a] - r - origin_[a]) * inv_cell_ - kSlack;
    const double h = (q[a] + r - origin_[a]) * inv_cell_ + kSlack;
    if (std::isnan(l) || std::isnan(h)) return false;
    // A ball beyond the box misses it, unless points beyond it sit in its border cells.
    if (!beyond_ && (!(h >= 0) || !(l < dims_[a]))) return false;
    // Truncation is the floor here: both are clamped at 0 from below first.
    lo[a] = l > 0 ? (l < dims_[a] - 1 ? static_cast<int>(l) : dims_[a] - 1) : 0;
    hi[a] = h > 0 ? (h < dims_[a] - 1 ? static_cast<int>(h) : dims_[a] - 1) : 0;
  }
  return true;
}

template <typename Visit>
bool PointGrid::visit_within(double x, double y, double z, double sq_radius, Visit&& visit) const {
  int lo[3], hi[3];
  if (!(sq_radius > 0) || !cell_range(x, y, z, std::sqrt(sq_radius), lo, hi)) return false;
  for (int k = lo[2]; k <= hi[2]; ++k)
    for (int j = lo[1]; j <= hi[1]; ++j) {
      uint32_t s = 0, e = 0;
      row_run(j, k, lo[0], hi[0], s, e);
      for (; s < e; ++s) {
        const std::array<double, 3>& p = points_[s];
        const double dx = p[0] - x, dy = p[1] - y, dz = p[2] - z;
        const double d2 = dx * dx + dy * dy + dz * dz;
        if (d2 < sq_radius && visit(static_cast<int>(index_[s]), d2)) return true;
      }
    }
  return false;
}

template <typename Visit>
void PointGrid::for_each_within(double x, double y, double z, double sq_radius,
                                Visit&& visit) const {
  visit_within(x, y, z, sq_radius, [&visit](int i, double) {
    visit(i);
    return false;
  });
}

}  // namespace kestrel::registration
