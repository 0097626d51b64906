#pragma once
// Base selection in P: a wide triangle around one vertex, the fourth point closest to its plane
// among those far enough from it, and the pairing of the four into two segments whose lines
// pass closest. The segment parameters r1, r2 of the closest points are rigid invariants that
// the search in Q looks for.

#include <cstdint>
#include <optional>

#include "core/point_set.h"
#include "core/random15.h"

namespace kestrel::registration {

struct BaseLimits {
  int32_t margin = 0;      // 0: first vertex anywhere; otherwise the vertex mode (see below)
  float base_max_len = 0;  // the triangle's two edges from its first vertex are shorter
  float min_fourth_distance = 10.0f;  // the fourth point's least distance from each corner
                                      // (model units; exactly this far is allowed)
};

struct Base {
  int index[4] = {-1, -1, -1, -1};  // sample indices: triangle i0..i2, fourth point i3, as found
  core::PointSet points;            // b0, b1, b2, b3 in segment order (whole points)
  double r1 = 0;                    // parameter of the closest point on b0->b1
  double r2 = 0;                    // parameter of the closest point on b2->b3
};

// Draws a base from `p_sample` (at most 100 attempts) with draws from `rng`; nothing when no
// attempt succeeds. `first_selection` is cleared by the first triangle drawn.
std::optional<Base> select_base(const core::PointSet& p_sample, const BaseLimits& limits,
                                bool& first_selection, core::Random15& rng);

// Draws a first vertex (mode margin / random mode, see below) and keeps the widest of 100 random
// triangles around it whose two edges from that vertex are shorter than base_max_len. Only the
// very first selection of the process (`first_selection`, then cleared) uses a non-zero margin
// as the mode itself; later ones draw mode 0, 1 or 2. Fails (indices -1) when no such triangle
// of positive area turns up or `p_sample` is empty.
bool pick_triangle(const core::PointSet& p_sample, const BaseLimits& limits, bool& first_selection,
                   core::Random15& rng, int& i0, int& i1, int& i2);

// Reorders the four `base_points` so that b0b1 and b2b3 are the pair of segments that come
// closest, and returns the closest-point parameters on them. Always succeeds.
void split_base(core::PointSet& base_points, double& r1, double& r2);

}  // namespace kestrel::registration
