#include "core/point_origin.h"

#include <algorithm>
#include <cmath>

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
    double lo = coordinate(points[0], axis), hi = lo;
    for (const Point3D& p : points) {
      lo = std::min(lo, coordinate(p, axis));
      hi = std::max(hi, coordinate(p, axis));
    }
    origin[axis] = std::round((0.5 * lo + 0.5 * hi) / kOriginStep) * kOriginStep;
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
