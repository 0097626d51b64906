#include "app/view_fit.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace kestrel::app {

namespace {

constexpr double kEyeDistance = 10.2;
constexpr double kHalfSlope = 0.8;  // frustum half-height over distance
constexpr double kSceneScale = 0.07;
constexpr double kMargin = 0.9;  // the sphere fills this share of the narrower half-width

}  // namespace

ViewFit fit_view(const core::PointSet& a, const core::PointSet& b, float aspect) {
  ViewFit fit;
  double lo[3] = {DBL_MAX, DBL_MAX, DBL_MAX}, hi[3] = {-DBL_MAX, -DBL_MAX, -DBL_MAX};
  for (const core::PointSet* set : {&a, &b})
    for (const core::Point3D& p : *set) {
      const double v[3] = {p.x, p.y, p.z};
      for (int k = 0; k < 3; ++k) lo[k] = std::min(lo[k], v[k]), hi[k] = std::max(hi[k], v[k]);
    }
  if (a.empty() && b.empty()) return fit;
  for (int k = 0; k < 3; ++k) fit.centre[k] = 0.5 * (lo[k] + hi[k]);
  double radius = 0;
  for (const core::PointSet* set : {&a, &b})
    for (const core::Point3D& p : *set) {
      const double dx = p.x - fit.centre[0], dy = p.y - fit.centre[1], dz = p.z - fit.centre[2];
      radius = std::max(radius, dx * dx + dy * dy + dz * dz);
    }
  radius = std::sqrt(radius);
  if (radius <= 0) return fit;
  // A sphere at the eye distance fits within a half-angle whose tangent is `slope` when its
  // radius is at most distance * sin(angle).
  const double slope = kHalfSlope * std::min(1.0, aspect > 0 ? static_cast<double>(aspect) : 1.0);
  const double sine = slope / std::sqrt(1 + slope * slope);
  fit.zoom = static_cast<float>(kMargin * kEyeDistance * sine / (radius * kSceneScale));
  return fit;
}

}  // namespace kestrel::app
