#pragma once
// Pairs of Q that could stand for one base segment: right length, and normals as far apart as
// the normals at the segment's ends. Exhaustive over all unordered pairs.

#include <functional>
#include <vector>

#include "core/point_set.h"

namespace kestrel::registration {

// Tolerance of the normal-difference test: norm_diff, doubled (in float) after "Add noise".
float pair_normal_tolerance(float norm_diff, bool noise_added);

// Replaces `pairs` with every pair (i, j), i < j, with ||Q[j] - Q[i]| - d| < tol and
// ||n(Q[j]) - n(Q[i])| - nd| < normal_tol (both strict), each emitted as (i, j) then (j, i),
// ordered by i then j. A `stop` request (core/stop_check.h) ends the scan with the pairs so far.
void extract_pairs(const core::PointSet& q, double d, double nd, double tol, float normal_tol,
                   std::vector<core::IndexPair>& pairs, const std::function<bool()>& stop = {});

}  // namespace kestrel::registration
