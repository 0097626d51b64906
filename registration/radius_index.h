#pragma once
// Fixed-radius search over a short-lived array of 3D points (ANN kd-tree, bucket size 1,
// ANN_KD_SUGGEST, error bound 0). The congruent-quad search builds one per call.

#include <array>
#include <cstddef>
#include <memory>
#include <vector>

namespace kestrel::registration {

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
