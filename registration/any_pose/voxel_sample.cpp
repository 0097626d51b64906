#include "registration/any_pose/voxel_sample.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
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

// Cell keys to dense slots in order of first sight: an open-addressing table, which a large scan
// fills many times faster than a node per cell would.
class CellSlots {
 public:
  explicit CellSlots(size_t expected) {
    size_t capacity = 16;
    while (capacity < 2 * expected) capacity *= 2;
    keys_.assign(capacity, kEmpty);
    slots_.resize(capacity);
  }

  // The slot of `key`, a new one (the count so far) when it is first seen.
  size_t slot(uint64_t key, bool& added) {
    if (2 * (count_ + 1) > keys_.size()) grow();
    size_t at = position(key);
    added = keys_[at] == kEmpty;
    if (added) {
      keys_[at] = key;
      slots_[at] = count_++;
    }
    return slots_[at];
  }

  size_t size() const { return count_; }

 private:
  // No key reaches all ones: three axes of 21 bits take 63.
  static constexpr uint64_t kEmpty = ~uint64_t{0};

  size_t position(uint64_t key) const {
    const size_t mask = keys_.size() - 1;
    size_t at = static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> 17) & mask;
    while (keys_[at] != kEmpty && keys_[at] != key) at = (at + 1) & mask;
    return at;
  }

  void grow() {
    std::vector<uint64_t> keys(2 * keys_.size(), kEmpty);
    std::vector<size_t> slots(keys.size());
    keys.swap(keys_);
    slots.swap(slots_);
    for (size_t i = 0; i < keys.size(); ++i)
      if (keys[i] != kEmpty) {
        const size_t at = position(keys[i]);
        keys_[at] = keys[i];
        slots_[at] = slots[i];
      }
  }

  std::vector<uint64_t> keys_;
  std::vector<size_t> slots_;
  size_t count_ = 0;
};

uint64_t cell_key(const core::Point3D& p, const Box& box, double cell) {
  const double v[3] = {p.x, p.y, p.z};
  uint64_t key = 0;
  for (int a = 0; a < 3; ++a)
    key = key * kAxisCells + static_cast<uint64_t>(std::min<double>(
                                 std::floor((v[a] - box.lo[a]) / cell), kAxisCells - 1));
  return key;
}

// The number of occupied cells, counting every `stride`-th point only.
size_t occupied_cells(const core::PointSet& set, const Box& box, double cell, size_t stride) {
  CellSlots cells(set.size() / stride / 8 + 1);
  bool added = false;
  for (size_t i = 0; i < set.size(); i += stride) cells.slot(cell_key(set[i], box, cell), added);
  return cells.size();
}

}  // namespace

core::PointSet voxel_sample(const core::PointSet& set, double cell) {
  core::PointSet out;
  if (set.empty() || !(cell > 0) || !std::isfinite(cell)) return out;
  const Box box = bounding_box(set);
  CellSlots slots(set.size() / 8 + 1);
  std::vector<std::array<double, 3>> sum;
  std::vector<size_t> count;
  for (const core::Point3D& p : set) {
    bool added = false;
    const size_t k = slots.slot(cell_key(p, box, cell), added);
    if (added) {
      sum.push_back({0, 0, 0});
      count.push_back(0);
    }
    std::array<double, 3>& s = sum[k];
    s[0] += p.x, s[1] += p.y, s[2] += p.z;
    ++count[k];
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
