#include "registration/any_pose/point_grid.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "core/middle_range.h"
#include "core/stop_check.h"

namespace kestrel::registration {

namespace {
// Beyond this many cells the grid keeps only the occupied ones; beyond this many columns it
// coarsens instead of growing.
constexpr double kMaxCells = 4.0e6;
// A box of more cells than this, and than kCellsPerPoint for each point, keeps only the
// occupied ones too: the search builds a grid of a few thousand points with fine cells for
// every trial, and filling and summing millions of empty cells cost more than its queries.
// The cells are the same either way, and so is the order a query meets the points in.
constexpr double kSmallBox = 262144;
constexpr double kCellsPerPoint = 64;
// x cells of one column: a count per x cell while sorting.
constexpr double kMaxColumnCells = 4.0e6;
// Stable counting sort of `in` by key(v) < `keys` into `out`; returns where each key's run
// starts, plus an end.
template <typename Key>
std::vector<uint32_t> counting_sort(const std::vector<uint32_t>& in, Key&& key, size_t keys,
                                    std::vector<uint32_t>& out) {
  std::vector<uint32_t> first(keys + 1, 0);
  for (const uint32_t v : in) ++first[key(v) + 1];
  for (size_t k = 0; k < keys; ++k) first[k + 1] += first[k];
  out.resize(in.size());
  std::vector<uint32_t> fill(first.begin(), first.end() - 1);
  for (const uint32_t v : in) out[fill[key(v)]++] = v;
  return first;
}

// A set of at least this many points is looked at for points far from the rest.
constexpr size_t kCoreFrom = 1000;

// Narrows [lo, hi] (the box of all `n` points) to the core box: the middle 99 % of each axis
// widened by the core's largest extent at both ends. A point beyond lies an object's size
// from nearly every other (a sentinel value a kilometre off, say). True when it narrowed.
template <typename At>
bool narrow_to_core(size_t n, At&& at, double lo[3], double hi[3]) {
  if (n < kCoreFrom) return false;
  const size_t stride = core::middle_sample_stride(n);
  double core_lo[3], core_hi[3], reach = 0;
  std::vector<double> v;
  for (int a = 0; a < 3; ++a) {
    v.clear();
    for (size_t i = 0; i < n; i += stride) v.push_back(at(i)[a]);
    core::middle_range(v, core_lo[a], core_hi[a]);
    reach = std::max(reach, core_hi[a] - core_lo[a]);
  }
  bool narrowed = false;
  for (int a = 0; a < 3; ++a) {
    if (lo[a] < core_lo[a] - reach) lo[a] = core_lo[a] - reach, narrowed = true;
    if (hi[a] > core_hi[a] + reach) hi[a] = core_hi[a] + reach, narrowed = true;
  }
  return narrowed;
}

}  // namespace

void core_box(const core::PointSet& set, double lo[3], double hi[3]) {
  const auto at = [&set](size_t i) { return std::array<double, 3>{set[i].x, set[i].y, set[i].z}; };
  bounding_box(set, lo, hi);
  narrow_to_core(set.size(), at, lo, hi);
}

PointGrid::PointGrid(const std::vector<std::array<double, 3>>& points, double radius,
                     const std::function<bool()>& stop) {
  build(
      points.size(), [&points](size_t i) { return points[i]; }, radius, stop);
}

PointGrid::PointGrid(const core::PointSet& points, double radius, const std::function<bool()>& stop,
                     bool as_read)
    : as_read_(as_read) {
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
  // A scan's points beyond the core go into its border cells (locate clamps). Other grids (the
  // search's, built again and again over derived points) keep the box of all their points.
  beyond_ = as_read_ && narrow_to_core(n, at, lo, hi);
  const double span = std::max({hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2], 0.0});
  cell_ = radius > 0 && std::isfinite(radius) ? radius : std::max(span, 1.0);
  auto along = [&](int a) { return std::floor((hi[a] - lo[a]) / cell_) + 1; };
  // The columns' own count, and x cells that an int32 holds, bound the sparse grid.
  const double cells = along(0) * along(1) * along(2);
  by_column_ =
      cells > kMaxCells || (cells > kSmallBox && cells > kCellsPerPoint * static_cast<double>(n));
  while (by_column_ ? along(1) * along(2) > kMaxCells || along(0) > kMaxColumnCells
                    : along(0) * along(1) * along(2) > kMaxCells)
    cell_ *= 2;
  inv_cell_ = 1 / cell_;
  for (int a = 0; a < 3; ++a) {
    origin_[a] = lo[a];
    dims_[a] = static_cast<int>(along(a));
  }
  const bool filled = by_column_ ? fill_columns(n, at, stop) : fill_dense(n, at, stop);
  if (filled) return;
  // A stop leaves a grid that holds no point.
  by_column_ = false;
  dims_[0] = dims_[1] = dims_[2] = 1;
  start_.assign(2, 0);
  points_.clear();
  index_.clear();
}

// Counting sort of the points by cell.
template <typename At>
bool PointGrid::fill_dense(size_t n, At&& at, const std::function<bool()>& stop) {
  const size_t ncell = static_cast<size_t>(dims_[0]) * dims_[1] * dims_[2];
  std::vector<uint32_t> cell_of(n);
  start_.assign(ncell + 1, 0);
  core::StopCheck stopped(stop);
  for (size_t i = 0; i < n; ++i) {
    if (stopped()) return false;
    int c[3];
    locate(at(i), c);
    cell_of[i] = static_cast<uint32_t>(cell_index(c[0], c[1], c[2]));
    ++start_[cell_of[i] + 1];
  }
  for (size_t c = 0; c < ncell; ++c) start_[c + 1] += start_[c];
  index_.resize(n);
  std::vector<uint32_t> fill(start_.begin(), start_.end() - 1);
  for (size_t i = 0; i < n; ++i) {
    if (stopped()) return false;
    index_[fill[cell_of[i]]++] = static_cast<uint32_t>(i);
  }
  gather_points(index_.size(), at);
  if (as_read_) drop_coincident();
  return true;
}

void PointGrid::drop_coincident() {
  // Short runs compare each point with those kept before it; a long one (a pile of copies, or a
  // coarse grid) sorts by position, keeps the first of each, and goes back to index order. The
  // points are compared where they lie gathered in cell order, not read back from the scan.
  constexpr uint32_t kShortRun = 32;
  std::vector<std::pair<std::array<double, 3>, uint32_t>> run;
  uint32_t kept = 0;
  for (size_t c = 0; c + 1 < start_.size(); ++c) {
    const uint32_t s = start_[c], e = start_[c + 1];
    start_[c] = kept;
    if (e - s <= kShortRun) {
      for (uint32_t i = s; i < e; ++i) {
        const std::array<double, 3> p = points_[i];
        bool seen = false;
        for (uint32_t j = start_[c]; j < kept && !seen; ++j) seen = points_[j] == p;
        if (seen) continue;
        points_[kept] = p;
        index_[kept++] = index_[i];
      }
      continue;
    }
    // A cell lists its points in index order, so a stable sort by position keeps the first.
    run.clear();
    for (uint32_t i = s; i < e; ++i) run.emplace_back(points_[i], index_[i]);
    std::stable_sort(run.begin(), run.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    run.erase(std::unique(run.begin(), run.end(),
                          [](const auto& a, const auto& b) { return a.first == b.first; }),
              run.end());
    std::sort(run.begin(), run.end(),
              [](const auto& a, const auto& b) { return a.second < b.second; });
    for (const auto& [p, i] : run) {
      points_[kept] = p;
      index_[kept++] = i;
    }
  }
  start_.back() = kept;
  index_.resize(kept);
  points_.resize(kept);
}

// The stored points in cell order, appended rather than written over a cleared array (a large
// scan's would be cleared for nothing).
template <typename At>
void PointGrid::gather_points(size_t n, At&& at) {
  points_.clear();
  points_.reserve(n);
  for (size_t s = 0; s < n; ++s) points_.push_back(at(index_[s]));
}

// Sorts the points by column and within a column by x cell, keeping index order within a
// cell (the order a dense grid of the same cells keeps): two stable counting sorts, by x cell
// and then by column.
template <typename At>
bool PointGrid::fill_columns(size_t n, At&& at, const std::function<bool()>& stop) {
  const size_t ncolumn = static_cast<size_t>(dims_[1]) * static_cast<size_t>(dims_[2]);
  std::vector<uint32_t> column_of(n);
  std::vector<int32_t> x_of(n);
  core::StopCheck stopped(stop);
  for (size_t i = 0; i < n; ++i) {
    if (stopped()) return false;
    int c[3];
    locate(at(i), c);
    x_of[i] = c[0];
    column_of[i] = static_cast<uint32_t>(static_cast<size_t>(c[2]) * dims_[1] + c[1]);
  }
  if (stopped(static_cast<int64_t>(n))) return false;
  std::vector<uint32_t> by_x(n);
  std::vector<uint32_t> all(n);
  for (size_t i = 0; i < n; ++i) all[i] = static_cast<uint32_t>(i);
  counting_sort(all, [&x_of](uint32_t i) { return static_cast<size_t>(x_of[i]); },
                static_cast<size_t>(dims_[0]), by_x);
  std::vector<uint32_t> first = counting_sort(
      by_x, [&column_of](uint32_t i) { return static_cast<size_t>(column_of[i]); }, ncolumn,
      index_);
  if (stopped(static_cast<int64_t>(n))) return false;
  column_.assign(ncolumn + 1, 0);
  for (size_t c = 0; c < ncolumn; ++c) {
    column_[c] = static_cast<uint32_t>(cell_x_.size());
    for (uint32_t s = first[c]; s < first[c + 1]; ++s)
      if (s == first[c] || x_of[index_[s]] != x_of[index_[s - 1]]) {
        cell_x_.push_back(x_of[index_[s]]);
        start_.push_back(s);
      }
  }
  column_[ncolumn] = static_cast<uint32_t>(cell_x_.size());
  start_.push_back(static_cast<uint32_t>(n));
  gather_points(index_.size(), at);
  if (as_read_) drop_coincident();
  return true;
}

bool PointGrid::any_within(double x, double y, double z, double sq_radius) const {
  return visit_within(x, y, z, sq_radius, [](int, double) { return true; });
}

// The stored point nearest to (x, y, z) strictly within sqrt(sq), the first in cell order of
// equal ones, or -1. Any ball that holds the nearest point gives the same answer: the cells
// are visited in one order whatever their range.
int PointGrid::nearest_in_ball(double x, double y, double z, double sq, double& sq_dist) const {
  sq_dist = sq;
  int lo[3], hi[3];
  if (!(sq > 0) || !cell_range(x, y, z, std::sqrt(sq), lo, hi)) return -1;
  // One tight loop over the runs of the ball's rows, the best so far kept in registers: the
  // searches of a polish visit a few points each, millions of times.
  double best = sq;
  uint32_t found = UINT32_MAX;
  const auto scan = [&](uint32_t s, uint32_t e) {
    for (; s < e; ++s) {
      const std::array<double, 3>& p = points_[s];
      const double dx = p[0] - x, dy = p[1] - y, dz = p[2] - z;
      const double d2 = dx * dx + dy * dy + dz * dz;
      // Without a branch: which point is nearest changes unpredictably along a run.
      const bool nearer = d2 < best;
      found = nearer ? s : found;
      best = nearer ? d2 : best;
    }
  };
  for (int k = lo[2]; k <= hi[2]; ++k)
    for (int j = lo[1]; j <= hi[1]; ++j) {
      uint32_t s = 0, e = 0;
      row_run(j, k, lo[0], hi[0], s, e);
      scan(s, e);
    }
  if (found == UINT32_MAX) return -1;
  sq_dist = best;
  return static_cast<int>(index_[found]);
}

int PointGrid::nearest_within(double x, double y, double z, double sq_radius,
                              double& sq_dist) const {
  int best = -1;
  const auto nearest = [&](double sq) { best = nearest_in_ball(x, y, z, sq, sq_dist); };
  // Within half a cell first, then twice as far each time: a point found within a smaller
  // radius is the nearest of the whole radius too (ties in the same cell order), and the few
  // cells there mostly hold the answer where a wide radius spans thousands.
  for (double sq = 0.25 * cell_ * cell_; 2 * sq < sq_radius; sq *= 4) {
    nearest(sq);
    if (best >= 0) return best;
  }
  nearest(sq_radius);
  return best;
}

int PointGrid::nearest_within(double x, double y, double z, double sq_radius, double bound_sq,
                              double& sq_dist) const {
  // A little over the bound, so that the known point itself lies strictly inside.
  const double sq = bound_sq * (1 + 1e-9) + std::numeric_limits<double>::min();
  if (!(sq < sq_radius)) return nearest_within(x, y, z, sq_radius, sq_dist);
  const int best = nearest_in_ball(x, y, z, sq, sq_dist);
  return best >= 0 ? best : nearest_within(x, y, z, sq_radius, sq_dist);
}

void PointGrid::nearest_k(double x, double y, double z, size_t k, std::vector<int>& out) const {
  out.clear();
  k = std::min(k, points_.size());
  if (k == 0) return;
  // One list a thread, kept from call to call: the normals ask for millions of neighbourhoods,
  // and a fresh list would grow by several allocations each time.
  thread_local std::vector<std::pair<double, int>> found;
  // Every point lies within the box's diagonal of any query inside it; far queries widen on.
  // Half a cell first: k points found within a radius are the k nearest of any larger one, and
  // a scan's neighbours mostly lie that close, in 8 cells where a whole cell's radius spans 27.
  for (double r = 0.5 * cell_;; r *= 2) {
    found.clear();
    const double sq = r * r;
    visit_within(x, y, z, sq, [](int i, double d2) {
      found.emplace_back(d2, i);
      return false;
    });
    if (found.size() >= k || !std::isfinite(sq)) break;
  }
  // The k least (distance, index) pairs, in order: a selection, then a sort of those alone.
  const auto kth = found.begin() + static_cast<long>(std::min(k, found.size()));
  std::nth_element(found.begin(), kth, found.end());
  std::sort(found.begin(), kth);
  for (size_t j = 0; j < k && j < found.size(); ++j) out.push_back(found[j].second);
  // A query far from the points may have gathered many: that room is not kept.
  constexpr size_t kKeptRoom = 4096;
  if (found.capacity() > kKeptRoom) std::vector<std::pair<double, int>>().swap(found);
}

}  // namespace kestrel::registration
