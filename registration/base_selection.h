#pragma once
// Base selection in P: a wide triangle around one vertex, the fourth point closest to its plane
// among those far enough from it, and the pairing of the four into two segments whose lines
// pass closest. The segment parameters r1, r2 of the closest points are rigid invariants that
// the search in Q looks for.

#include "core/point_set.h"
#include "core/run_parameters.h"
#include "registration/registration_state.h"

namespace kestrel::registration {

// Draws a base from `p_sample` (at most 100 attempts). On success writes state.base_points in
// segment order b0, b1, b2, b3, returns the invariants r1 (on b0->b1) and r2 (on b2->b3) and the
// sample indices i0..i2 (triangle) and i3 (fourth point) in the order they were found.
// Reads params.margin and params.base_max_len; clears state.first_selection.
bool select_base(const core::PointSet& p_sample, const core::RunParameters& params,
                 RegistrationState& state, double& r1, double& r2, int& i0, int& i1, int& i2,
                 int& i3);

// Draws a first vertex (mode margin / random mode, see below) and keeps the widest of 100 random
// triangles around it whose two edges from that vertex are shorter than base_max_len.
// Fails (indices -1) when no such triangle of positive area turns up or `p_sample` is empty.
bool pick_triangle(const core::PointSet& p_sample, const core::RunParameters& params,
                   RegistrationState& state, int& i0, int& i1, int& i2);

// Reorders the four `base_points` so that b0b1 and b2b3 are the pair of segments that come
// closest, and returns the closest-point parameters on them. Always succeeds.
void split_base(core::PointSet& base_points, double& r1, double& r2);

}  // namespace kestrel::registration
