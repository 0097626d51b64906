#include "core/point_origin.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/middle_range.h"

namespace kestrel::core {

namespace {

double coordinate(const Point3D& p, size_t axis) {
  return axis == 0 ? p.x : axis == 1 ? p.y : p.z;
}

// Whether every coordinate on `axis`, taken relative to `o`, stays below kExactCoordinate.
bool within_reach(const PointSet& points, size_t axis, double o) {
  for (const Point3D& p : points)
    if (!(std::fabs(coordinate(p, axis) - o) < kExactCoordinate)) return false;
  return true;
}

// The middle of the points' range on `axis`, leaving out the lowest and highest half percent of
// an even sample: one point written a thousand kilometres off (a sentinel value) would put the
// middle of the whole range so far out that the scan, kept in floats relative to it, would be
// rounded to tens of units. Small sets keep their whole range.
double core_middle(const PointSet& points, size_t axis) {
  const size_t stride = middle_sample_stride(points.size());
  std::vector<double> v;
  for (size_t i = 0; i < points.size(); i += stride) v.push_back(coordinate(points[i], axis));
  double lo = 0, hi = 0;
  middle_range(v, lo, hi);
  return 0.5 * lo + 0.5 * hi;
}

double round_to_float(double v) {
  return static_cast<double>(static_cast<float>(v));
}

}  // namespace

Origin choose_origin(const PointSet& points, const Origin& hint) {
  Origin origin{0, 0, 0};
  for (size_t axis = 0; axis < 3 && !points.empty(); ++axis) {
    if (within_reach(points, axis, 0)) continue;
    if (hint[axis] != 0 && within_reach(points, axis, hint[axis])) {
      origin[axis] = hint[axis];
      continue;
    }
    origin[axis] = std::round(core_middle(points, axis) / kOriginStep) * kOriginStep;
  }
  return origin;
}

void move_to_origin(PointSet& points, const Origin& origin, bool as_floats) {
  if (is_zero(origin)) return;
  for (Point3D& p : points) {
    p.x -= origin[0];
    p.y -= origin[1];
    p.z -= origin[2];
    if (as_floats) {
      p.x = round_to_float(p.x);
      p.y = round_to_float(p.y);
      p.z = round_to_float(p.z);
    }
  }
}

}  // namespace kestrel::core
