#include "registration/any_pose/near_mask.h"

#include <algorithm>
#include <cmath>

#include "registration/any_pose/point_grid.h"

namespace kestrel::registration {

namespace {
constexpr double kCellsPerRadius = 4;
constexpr double kMaxCells = 16.0e6;
}  // namespace

NearMask::NearMask(const std::vector<std::array<double, 3>>& points, double radius) {
  if (points.empty() || !(radius > 0) || !std::isfinite(radius)) return;
  double lo[3], hi[3];
  bounding_box(points, lo, hi);
  double cell = radius / kCellsPerRadius;
  const auto count = [&](double c) {
    double n = 1;
    for (int a = 0; a < 3; ++a) n *= std::floor((hi[a] - lo[a] + 2 * radius) / c) + 1;
    return n;
  };
  while (count(cell) > kMaxCells) cell *= 1.25;
  size_t dims[3];
  for (int a = 0; a < 3; ++a) {
    origin_[a] = lo[a] - radius;
    dims[a] = static_cast<size_t>(std::floor((hi[a] - lo[a] + 2 * radius) / cell)) + 1;
    dims_[a] = static_cast<double>(dims[a]);
  }
  inv_cell_ = 1 / cell;
  bits_.assign((dims[0] * dims[1] * dims[2] + 63) / 64, 0);
  // Cells coarsened past the radius could leave a point's own cell unmarked (its centre is up
  // to half a diagonal away); marking out to a hair over half a diagonal keeps every point,
  // even one on a cell corner, near itself.
  const double mark = std::max(radius, 0.5 * std::sqrt(3.0) * cell * (1 + 1e-9));
  const double sq = mark * mark;
  const int reach = static_cast<int>(std::ceil(mark / cell)) + 1;
  for (const auto& p : points) {
    int c[3];
    for (int a = 0; a < 3; ++a) c[a] = static_cast<int>((p[a] - origin_[a]) * inv_cell_);
    for (int k = std::max(0, c[2] - reach); k <= std::min<int>(dims[2] - 1, c[2] + reach); ++k)
      for (int j = std::max(0, c[1] - reach); j <= std::min<int>(dims[1] - 1, c[1] + reach); ++j)
        for (int i = std::max(0, c[0] - reach); i <= std::min<int>(dims[0] - 1, c[0] + reach);
             ++i) {
          // The cell's centre decides.
          const double dx = origin_[0] + (i + 0.5) * cell - p[0];
          const double dy = origin_[1] + (j + 0.5) * cell - p[1];
          const double dz = origin_[2] + (k + 0.5) * cell - p[2];
          if (dx * dx + dy * dy + dz * dz < sq) {
            const size_t at = (static_cast<size_t>(k) * dims[1] + static_cast<size_t>(j)) * dims[0] +
                              static_cast<size_t>(i);
            bits_[at >> 6] |= uint64_t{1} << (at & 63);
          }
        }
  }
}

}  // namespace kestrel::registration
