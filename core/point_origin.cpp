#include "core/point_origin.h"

#include <algorithm>
#include <cmath>

namespace kestrel::core {

namespace {

// Whether every coordinate of `points`, taken relative to `o`, stays below kExactCoordinate.
bool within_reach(const PointSet& points, const Origin& o) {
  for (const Point3D& p : points)
    if (!(std::fabs(p.x - o[0]) < kExactCoordinate && std::fabs(p.y - o[1]) < kExactCoordinate &&
          std::fabs(p.z - o[2]) < kExactCoordinate))
      return false;
  return true;
}

}  // namespace

Origin choose_origin(const PointSet& points, const Origin& hint) {
  const Origin zero{0, 0, 0};
  if (points.empty() || within_reach(points, zero)) return zero;
  if (!is_zero(hint) && within_reach(points, hint)) return hint;
  Origin lo{points[0].x, points[0].y, points[0].z}, hi = lo;
  for (const Point3D& p : points) {
    const double v[3] = {p.x, p.y, p.z};
    for (int k = 0; k < 3; ++k) {
      lo[k] = std::min(lo[k], v[k]);
      hi[k] = std::max(hi[k], v[k]);
    }
  }
  Origin centre;
  for (int k = 0; k < 3; ++k) centre[k] = std::round(0.5 * lo[k] + 0.5 * hi[k]);
  return centre;
}

void move_to_origin(PointSet& points, const Origin& origin) {
  if (is_zero(origin)) return;
  for (Point3D& p : points) {
    p.x -= origin[0];
    p.y -= origin[1];
    p.z -= origin[2];
  }
}

}  // namespace kestrel::core
