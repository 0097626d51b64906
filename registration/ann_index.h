#pragma once
// Exact nearest-neighbour search over the positions of a point set, built on ANN's kd-tree
// (bucket size 1, ANN_KD_SUGGEST, error bound 0). ANN appears only behind this file pair.

#include <cstddef>
#include <memory>

#include "core/point_set.h"

namespace kestrel::registration {

// Owns a copy of the positions and the tree over them; rebuilt whole by build().
// Queries are const but ANN is not thread-safe: use from one thread.
class AnnIndex {
 public:
  AnnIndex();
  ~AnnIndex();
  AnnIndex(AnnIndex&&) noexcept;
  AnnIndex& operator=(AnnIndex&&) noexcept;
  AnnIndex(const AnnIndex&) = delete;
  AnnIndex& operator=(const AnnIndex&) = delete;

  // Releases the previous array and tree, copies the positions of `set`, builds the tree.
  // An empty set leaves the index empty.
  void build(const core::PointSet& set);
  bool empty() const;
  size_t size() const;

  // Squared distance from (x, y, z) to the nearest stored point (k = 1); infinity when empty.
  double nearest_sq_dist(double x, double y, double z) const;
  // Squared distance of the second-nearest stored point (k = 2); used for point spacing.
  // Infinity when fewer than two points are stored.
  double second_nearest_sq_dist(double x, double y, double z) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kestrel::registration
