#include "registration/any_pose/voxel_sample.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <unordered_map>
#include <vector>

namespace kestrel::registration {

namespace {

// Cells are keyed by 21 bits per axis, counted from the set's lower corner.
constexpr int64_t kAxisCells = int64_t{1} << 21;

struct Box {
  double lo[3] = {std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity(),
                  std::numeric_limits<double>::infinity()};
  double hi[3] = {-std::numeric_limits<double>::infinity(),
                  -std::numeric_limits<double>::infinity(),
                  -std::numeric_limits<double>::infinity()};
};

Box bounding_box(const core::PointSet& set) {
  Box box;
  for (const core::Point3D& p : set) {
    const double v[3] = {p.x, p.y, p.z};
    for (int a = 0; a < 3; ++a) {
      box.lo[a] = std::min(box.lo[a], v[a]);
      box.hi[a] = std::max(box.hi[a], v[a]);
    }
  }
  return box;
}

// The number of occupied cells, counting every `stride`-th point only.
size_t occupied_cells(const core::PointSet& set, const Box& box, double cell, size_t stride) {
  std::unordered_map<uint64_t, char> cells;
  cells.reserve(set.size() / stride + 1);
  for (size_t i = 0; i < set.size(); i += stride) {
    const core::Point3D& p = set[i];
    const double v[3] = {p.x, p.y, p.z};
    uint64_t key = 0;
    for (int a = 0; a < 3; ++a)
      key = key * kAxisCells + static_cast<uint64_t>(std::min<double>(
                                   std::floor((v[a] - box.lo[a]) / cell), kAxisCells - 1));
    cells.emplace(key, 0);
  }
  return cells.size();
}

}  // namespace

core::PointSet voxel_sample(const core::PointSet& set, double cell) {
  core::PointSet out;
  if (set.empty() || !(cell > 0) || !std::isfinite(cell)) return out;
  const Box box = bounding_box(set);
  std::unordered_map<uint64_t, size_t> slot;
  slot.reserve(set.size());
  std::vector<std::array<double, 3>> sum;
  std::vector<size_t> count;
  for (const core::Point3D& p : set) {
    const double v[3] = {p.x, p.y, p.z};
    uint64_t key = 0;
    for (int a = 0; a < 3; ++a)
      key = key * kAxisCells + static_cast<uint64_t>(std::min<double>(
                                   std::floor((v[a] - box.lo[a]) / cell), kAxisCells - 1));
    const auto [it, added] = slot.emplace(key, sum.size());
    if (added) {
      sum.push_back({0, 0, 0});
      count.push_back(0);
    }
    std::array<double, 3>& s = sum[it->second];
    s[0] += p.x, s[1] += p.y, s[2] += p.z;
    ++count[it->second];
  }
  out.resize(sum.size());
  for (size_t k = 0; k < sum.size(); ++k) {
    const double n = static_cast<double>(count[k]);
    out[k].x = sum[k][0] / n;
    out[k].y = sum[k][1] / n;
    out[k].z = sum[k][2] / n;
    out[k].nx = out[k].ny = out[k].nz = 0;
  }
  return out;
}

double voxel_cell_for(const core::PointSet& set, size_t target) {
  if (set.empty() || target == 0) return 0;
  const Box box = bounding_box(set);
  const double extent =
      std::max({box.hi[0] - box.lo[0], box.hi[1] - box.lo[1], box.hi[2] - box.lo[2]});
  if (!(extent > 0)) return 1;
  // On a surface the count falls with the square of the cell; a few corrections from a flat
  // square's guess settle it.
  double cell = extent / std::sqrt(static_cast<double>(target));
  const auto settle = [&](size_t stride, int rounds) {
    for (int round = 0; round < rounds; ++round) {
      const auto n = static_cast<double>(occupied_cells(set, box, cell, stride));
      const double ratio = n / static_cast<double>(target);
      if (std::fabs(ratio - 1) < 0.03) return;
      cell *= std::sqrt(ratio);
    }
  };
  // Every 4th point gets close cheaply when cells hold many points, but misses the cells the
  // surface only grazes (a tenth too few at 16 points a cell); full counts settle the rest.
  if (set.size() >= 16 * target) settle(4, 4);
  settle(1, set.size() >= 16 * target ? 2 : 4);
  return cell;
}

}  // namespace kestrel::registration
