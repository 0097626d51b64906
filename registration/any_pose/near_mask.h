#pragma once
// A yes/no map of the space near a fixed point set: one byte per small cell, set when the
// cell's centre lies within a radius of some point. Asking whether a point is near the set is
// then one lookup, where a grid or a tree search visits many points; the answer is that of the
// exact question for a radius blurred by half a cell diagonal, which scoring many candidate
// motions tolerates.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrel::registration {

class NearMask {
 public:
  // Marks the cells within `radius` of `points`, cells of a quarter of the radius (coarser when
  // the box would need more than about sixteen million; cells coarser than the radius are
  // marked out to half their diagonal, so each point's own cell is always marked).
  NearMask(const std::vector<std::array<double, 3>>& points, double radius);

  // Whether (x, y, z) falls into a marked cell; false outside the box and for NaN.
  bool near(double x, double y, double z) const {
    const double u = (x - origin_[0]) * inv_cell_, v = (y - origin_[1]) * inv_cell_,
                 w = (z - origin_[2]) * inv_cell_;
    if (!(u >= 0 && v >= 0 && w >= 0 && u < dims_[0] && v < dims_[1] && w < dims_[2])) return false;
    const size_t c = (static_cast<size_t>(w) * static_cast<size_t>(dims_[1]) +
                      static_cast<size_t>(v)) *
                         static_cast<size_t>(dims_[0]) +
                     static_cast<size_t>(u);
    return (bits_[c >> 6] >> (c & 63)) & 1;
  }

  double cell() const { return 1 / inv_cell_; }

 private:
  // One bit a cell: a search asks it for every point of every candidate, all over the box, so
  // the smaller the map the more of it stays in the cache.
  std::vector<uint64_t> bits_;
  double origin_[3] = {0, 0, 0};
  double inv_cell_ = 1;
  double dims_[3] = {0, 0, 0};  // cells per axis, as doubles for the bounds test
};

}  // namespace kestrel::registration
