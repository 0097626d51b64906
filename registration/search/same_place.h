#pragma once
// Whether two motions put Q in about the same place: turned by less than a few degrees from
// each other, and Q's centroid within a few run tolerances. The confirmation stop and the check
// against re-polishing ask it.

#include <array>

#include "core/point_set.h"
#include "core/rigid_transform.h"

namespace kestrel::registration {

struct SamePlace {
  std::array<double, 3> q_centroid{};  // where the two motions are compared
  float degrees = 10;                  // at most this far turned from each other
  float tolerances = 5;                // and the centroids this many run tolerances apart
  float run_tol = 1;

  bool operator()(const core::RigidTransform& a, const core::RigidTransform& b) const;
};

// The mean position of `set` (zero when empty).
std::array<double, 3> centroid(const core::PointSet& set);

}  // namespace kestrel::registration
