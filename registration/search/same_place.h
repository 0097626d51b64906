#pragma once
// Whether two motions put Q in about the same place: turned by less than a few degrees from
// each other, and Q's centroid within a few run tolerances. The confirmation stop and the check
// against re-polishing ask it.

#include <array>

#include "core/point_set.h"
#include "core/rigid_transform.h"

namespace kestrel::registration {

struct SamePlace {
  SamePlace() = default;
  SamePlace(const std::array<double, 3>& centroid, float max_degrees, float max_tolerances,
            float tolerance);

  std::array<double, 3> q_centroid{};  // where the two motions are compared
  float degrees = 10;                  // at most this far turned from each other
  float tolerances = 5;                // and the centroids this many run tolerances apart
  float run_tol = 1;

  bool operator()(const core::RigidTransform& a, const core::RigidTransform& b) const;

 private:
  // The cosine of `degrees`, taken once: the search asks for every candidate and every motion
  // it polished.
  double cos_limit_ = cos_of(10);
  static double cos_of(float max_degrees);
};

// The mean position of `set` (zero when empty).
std::array<double, 3> centroid(const core::PointSet& set);

}  // namespace kestrel::registration
