#pragma once
// The any-pose search's settings, all taken from the two prepared scans: the tolerances from
// their spacing and normal noise, the base lengths from their size, the stopping threshold from
// the overlap when one is given.

#include <vector>

#include "registration/any_pose/any_pose_scan.h"
#include "registration/records.h"

namespace kestrel::registration {

struct AnyPosePlan {
  float point_spacing = 0;       // engine spacing: the median neighbour distance
  float neighbour_distance = 0;  // median distance of a working point of P to its nearest
  float normal_spread = 0;       // median normal difference of neighbouring working points
  float size = 0;           // the smaller scan's size: twice its RMS distance from its centroid
  float delta = 0.9f;       // run tolerance in spacings, as the caller chose it
  float normal_tol = 0.1f;  // tolerance of the pair tests' normal terms
  float thr = 1.0f;         // LCP above which the run stops (1: never)
  std::vector<float> base_lengths;  // bases of these lengths in turn
};

// Derives the plan from P and Q as prepared (P's index built). An options.overlap in (0, 1]
// sets the stopping threshold and the base widths as in the specified search; otherwise both
// come from the data.
AnyPosePlan plan_any_pose(const AnyPoseScan& p, const AnyPoseScan& q,
                          const AnyPoseOptions& options);

// The scoring radius of the plan, squared, in double: 2 x spacing x run tolerance.
double score_sq_radius(const AnyPosePlan& plan);

}  // namespace kestrel::registration
