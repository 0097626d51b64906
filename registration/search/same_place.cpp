#include "registration/search/same_place.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace kestrel::registration {

SamePlace::SamePlace(const std::array<double, 3>& centroid, float max_degrees,
                     float max_tolerances, float tolerance)
    : q_centroid(centroid),
      degrees(max_degrees),
      tolerances(max_tolerances),
      run_tol(tolerance),
      cos_limit_(cos_of(max_degrees)) {}

double SamePlace::cos_of(float max_degrees) {
  return std::cos(max_degrees * M_PI / 180);
}

bool SamePlace::operator()(const core::RigidTransform& a, const core::RigidTransform& b) const {
  double trace = 0;
  for (uint32_t i = 0; i < 3; ++i)
    for (uint32_t j = 0; j < 3; ++j) trace += a.R(i, j) * b.R(i, j);
  const double cos_angle = std::clamp((trace - 1) / 2, -1.0, 1.0);
  if (cos_angle < cos_limit_) return false;
  core::Point3D pa, pb;
  pa.x = pb.x = q_centroid[0], pa.y = pb.y = q_centroid[1], pa.z = pb.z = q_centroid[2];
  core::transform_point(pa, a);
  core::transform_point(pb, b);
  return core::distance(pa, pb) < tolerances * run_tol;
}

std::array<double, 3> centroid(const core::PointSet& set) {
  std::array<double, 3> c{0, 0, 0};
  for (const core::Point3D& p : set) c[0] += p.x, c[1] += p.y, c[2] += p.z;
  if (!set.empty())
    for (double& v : c) v /= static_cast<double>(set.size());
  return c;
}

}  // namespace kestrel::registration
