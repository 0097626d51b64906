#pragma once
// A smooth, rounded part (a potato, a bottle, a bracket's plate) fits itself turned half a
// turn about the patch two scans share: the search's coarse score cannot tell the two apart,
// and finding the right one by drawing more bases costs far more than trying the turn itself.

#include <optional>

#include "core/rigid_transform.h"
#include "registration/judge/fit_evidence.h"

namespace kestrel::registration {

// `motion` followed by the turn D (row-major 3 x 3) about the point m and the shift u:
// x -> D (x - m) + m + u.
void follow_with_turn(core::RigidTransform& motion, const double D[9], const double m[3],
                      const double u[3] = nullptr);

// `motion` followed by half a turn about the normal of the patch of Q it lays near P (Q's sample
// within the nearness radius of P's points: the axis of its least spread), through the patch's
// centroid. None when too little of Q lies near P to have a normal.
std::optional<core::RigidTransform> half_turn(const FitScene& scene,
                                              const core::RigidTransform& motion);

}  // namespace kestrel::registration
