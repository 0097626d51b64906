#include "registration/any_pose/voxel_sample.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "registration/any_pose/point_grid.h"

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

// The box the cells are counted in: the scan's core (point_grid.h). A point written far beyond
// the rest (a sentinel value, say) would stretch a box of every point so far that the whole
// object fell into one cell along an axis; it lands in a border cell of the core's box instead,
// alone there, and is left out as a stray.
Box bounding_box(const core::PointSet& set) {
  Box box;
  if (!set.empty()) core_box(set, box.lo, box.hi);
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

  // The slot of `key`, or kNone when it was never seen.
  static constexpr size_t kNone = ~size_t{0};
  size_t find(uint64_t key) const {
    const size_t at = position(key);
    return keys_[at] == kEmpty ? kNone : slots_[at];
  }

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
    key = key * kAxisCells +
          static_cast<uint64_t>(std::clamp<double>(std::floor((v[a] - box.lo[a]) / cell), 0,
                                                   static_cast<double>(kAxisCells - 1)));
  return key;
}

// Stray points (a scanner's flying pixels and specks) sit alone, away from the surface. Thinning
// gives each its own cell, as heavy in the working set as a cell of surface holding dozens of
// points, so a few per cent of them can make up most of it. A cell is a stray one when none of
// its 26 neighbours is occupied while most points lie in cells that have one, or when the cells
// around it hold fewer points than this share of what a typical point's cell has around it.
constexpr double kStraySupportShare = 0.02;
// Up to this share of stray cells are kept (the edges of a clean scan have a few of them), but
// for those with no other cell within this many cells along any axis.
constexpr double kFewStrays = 0.02;
constexpr int64_t kFarCells = 3;

// Occupied cells: their keys and point counts, by slot in order of first sight.
struct CellCounts {
  CellSlots slots;
  std::vector<uint64_t> keys;
  std::vector<size_t> count;
  explicit CellCounts(size_t expected) : slots(expected) {}

  // Adds a point in the cell of `key` and returns the cell's slot.
  size_t add(uint64_t key) {
    bool added = false;
    const size_t k = slots.slot(key, added);
    if (added) {
      keys.push_back(key);
      count.push_back(0);
    }
    ++count[k];
    return k;
  }
};

// Calls visit(slot) for each occupied cell within `reach` cells of cell slot `k` along every
// axis, itself included.
template <typename Visit>
void for_each_near(const CellCounts& cells, size_t k, int64_t reach, Visit&& visit) {
  int64_t axis[3];
  uint64_t key = cells.keys[k];
  for (int a = 2; a >= 0; --a, key /= kAxisCells) axis[a] = static_cast<int64_t>(key % kAxisCells);
  for (int64_t dx = -reach; dx <= reach; ++dx)
    for (int64_t dy = -reach; dy <= reach; ++dy)
      for (int64_t dz = -reach; dz <= reach; ++dz) {
        const int64_t x = axis[0] + dx, y = axis[1] + dy, z = axis[2] + dz;
        if (x < 0 || y < 0 || z < 0 || x >= kAxisCells || y >= kAxisCells || z >= kAxisCells)
          continue;
        const size_t j =
            cells.slots.find(static_cast<uint64_t>((x * kAxisCells + y) * kAxisCells + z));
        if (j != CellSlots::kNone) visit(j);
      }
}

// What a typical point's cell has around it: the support of the cell of the median point, by
// support (over points, not cells, since stray cells may outnumber the surface's).
double typical_support(const CellCounts& cells, const std::vector<size_t>& support) {
  const size_t n = support.size();
  std::vector<size_t> order(n);
  for (size_t k = 0; k < n; ++k) order[k] = k;
  std::sort(order.begin(), order.end(),
            [&support](size_t a, size_t b) { return support[a] < support[b]; });
  size_t points = 0, half = 0;
  for (const size_t c : cells.count) points += c;
  for (const size_t k : order) {
    half += cells.count[k];
    if (2 * half >= points) return static_cast<double>(support[k]);
  }
  return 0;
}

// Per slot, whether the cell is kept: not a stray one. A cell far from every other (a point
// written kilometres off, say) goes even among few: it would stretch every measure of size.
std::vector<bool> supported_cells(const CellCounts& cells) {
  const size_t n = cells.keys.size();
  std::vector<size_t> support(n, 0);
  std::vector<bool> alone(n, true);
  size_t points = 0, together = 0;
  for (size_t k = 0; k < n; ++k) {
    for_each_near(cells, k, 1, [&](size_t j) {
      support[k] += cells.count[j];
      if (j != k) alone[k] = false;
    });
    points += cells.count[k];
    together += alone[k] ? 0 : cells.count[k];
  }
  const double least = kStraySupportShare * typical_support(cells, support);
  const bool mostly_together = 2 * together > points;
  std::vector<bool> keep(n);
  for (size_t k = 0; k < n; ++k)
    keep[k] = !(alone[k] && mostly_together) && static_cast<double>(support[k]) >= least;
  // A few stray cells cost the search little; a scan with more is thinned without them.
  const auto strays = static_cast<size_t>(std::count(keep.begin(), keep.end(), false));
  if (static_cast<double>(strays) > kFewStrays * static_cast<double>(n)) return keep;
  for (size_t k = 0; k < n; ++k) {
    bool far = alone[k] && mostly_together;  // then few: the look further out stays cheap
    if (far) for_each_near(cells, k, kFarCells, [&](size_t j) { far = far && j == k; });
    keep[k] = !far;
  }
  return keep;
}

// The number of kept cells, counting every `stride`-th point only.
size_t occupied_cells(const core::PointSet& set, const Box& box, double cell, size_t stride) {
  CellCounts cells(set.size() / stride / 8 + 1);
  for (size_t i = 0; i < set.size(); i += stride) cells.add(cell_key(set[i], box, cell));
  const std::vector<bool> keep = supported_cells(cells);
  return static_cast<size_t>(std::count(keep.begin(), keep.end(), true));
}

}  // namespace

core::PointSet voxel_sample(const core::PointSet& set, double cell) {
  core::PointSet out;
  if (set.empty() || !(cell > 0) || !std::isfinite(cell)) return out;
  const Box box = bounding_box(set);
  CellCounts cells(set.size() / 8 + 1);
  std::vector<std::array<double, 3>> sum;
  for (const core::Point3D& p : set) {
    const size_t k = cells.add(cell_key(p, box, cell));
    if (k == sum.size()) sum.push_back({0, 0, 0});
    std::array<double, 3>& s = sum[k];
    s[0] += p.x, s[1] += p.y, s[2] += p.z;
  }
  const std::vector<bool> keep = supported_cells(cells);
  out.reserve(sum.size());
  for (size_t k = 0; k < sum.size(); ++k) {
    if (!keep[k]) continue;
    const double n = static_cast<double>(cells.count[k]);
    core::Point3D& p = out.emplace_back();
    p.x = sum[k][0] / n;
    p.y = sum[k][1] / n;
    p.z = sum[k][2] / n;
  }
  return out;
}

size_t voxel_count(const core::PointSet& set, double cell, size_t stride) {
  if (set.empty() || !(cell > 0) || !std::isfinite(cell)) return 0;
  return occupied_cells(set, bounding_box(set), cell, std::max<size_t>(stride, 1));
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
