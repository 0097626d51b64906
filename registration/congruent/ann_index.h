#pragma once
// Exact nearest-neighbour search over the positions of a point set, built on ANN's kd-tree
// (bucket size 1, ANN_KD_SUGGEST, error bound 0). ANN appears only behind this file pair.

#include <array>
#include <cstddef>
#include <memory>
#include <vector>

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
  // Index of the stored point nearest to (x, y, z), with its squared distance; -1 (and
  // infinity) when the index is empty.
  int nearest(double x, double y, double z, double& sq_dist) const;

  // Indices of the min(k, size) stored points nearest to (x, y, z), nearest first.
  void nearest_k(double x, double y, double z, int k, std::vector<int>& out) const;

  // Squared distance of the second-nearest stored point (k = 2); used for point spacing.
  // Infinity when fewer than two points are stored.
  double second_nearest_sq_dist(double x, double y, double z) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Fixed-radius search over a short-lived array of 3D points, with the same tree parameters.
// The congruent-quad search builds one per call.
// Owns a copy of the points, the tree and result buffers sized for the worst case, so no query
// allocates. Not copyable; use from one thread.
class RadiusIndex {
 public:
  explicit RadiusIndex(const std::vector<std::array<double, 3>>& points);
  ~RadiusIndex();
  RadiusIndex(const RadiusIndex&) = delete;
  RadiusIndex& operator=(const RadiusIndex&) = delete;

  // Indices of the stored points within the squared radius `sq_radius` of (x, y, z), in the
  // library's order (nearest first). The reference stays valid until the next query.
  const std::vector<int>& search(double x, double y, double z, double sq_radius);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kestrel::registration
