#pragma once
// Scans far from their files' origin (georeferenced ones, millions of millimetres out) lose
// digits wherever a coordinate is held in single precision: a model then keeps its points
// relative to an origin taken out in double precision, and every motion written puts it back.
// Scans near the origin take none, so their coordinates and results stay as they were.

#include <array>

#include "core/point_set.h"

namespace kestrel::core {

// From this magnitude on a float rounds a coordinate by more than a hundredth of a unit (mm).
constexpr double kExactCoordinate = 262144;  // 2^18

// An origin is a whole multiple of this on each axis (100 m in millimetres), so that the round
// offsets georeferenced files are usually made with come off exactly.
constexpr double kOriginStep = 100000;

// The point of a file's frame that a model's coordinates are taken relative to.
using Origin = std::array<double, 3>;

inline bool is_zero(const Origin& o) {
  return o[0] == 0 && o[1] == 0 && o[2] == 0;
}

// The origin for `points` (file coordinates), axis by axis: 0 where every coordinate is below
// kExactCoordinate; else `hint`'s (the other model's origin, so both share one frame) where
// every point lies within that of it; else the middle of the points' range, in whole steps,
// less the outermost half percent at each end (points written far off the rest keep no digits
// worth keeping, the rest do).
Origin choose_origin(const PointSet& points, const Origin& hint);

// Subtracts `origin` from every position, in double; with `as_floats` each result is then
// rounded to a float, as a file's numbers are read near the origin. Nothing when it is zero.
void move_to_origin(PointSet& points, const Origin& origin, bool as_floats);

}  // namespace kestrel::core
