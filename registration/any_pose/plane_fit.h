#pragma once
// The plane through a handful of points: their mean and the direction of least spread.

#include <vector>

#include "core/point_set.h"

namespace kestrel::registration {

// Fits a plane to the points `idx` of `set`: `centre` their mean, `n` the unit normal. False
// when there are fewer than three or they span no plane (n and centre then unset or partial).
bool fit_plane(const core::PointSet& set, const std::vector<int>& idx, double n[3],
               double centre[3]);

}  // namespace kestrel::registration
