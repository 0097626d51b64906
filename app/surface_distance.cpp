#include "app/surface_distance.h"

#include <algorithm>
#include <cmath>

namespace kestrel::app {

namespace {

double plane_distance(const core::PointSet& p, const registration::AnnIndex& index,
                      const std::vector<float>& normals, double spacing, const double (&q)[3]) {
  double sq = 0;
  const int i = index.nearest(q[0], q[1], q[2], sq);
  if (i < 0) return 0;
  const core::Point3D& a = p[static_cast<size_t>(i)];
  const float* n = &normals[3 * static_cast<size_t>(i)];
  const double d[3] = {q[0] - a.x, q[1] - a.y, q[2] - a.z};
  const double along = std::fabs(d[0] * n[0] + d[1] * n[1] + d[2] * n[2]);
  const double lateral_sq = sq - along * along;
  const double edge = kEdgeSpacings * spacing;
  const bool has_normal = n[0] != 0 || n[1] != 0 || n[2] != 0;
  if (!has_normal || lateral_sq > edge * edge) return std::sqrt(sq);
  return along;
}

}  // namespace

double quantile(std::vector<float> values, double share) {
  if (values.empty()) return 0;
  const auto rank = static_cast<size_t>(std::ceil(share * static_cast<double>(values.size())));
  const size_t k = std::min(values.size() - 1, rank == 0 ? 0 : rank - 1);
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(k), values.end());
  return values[k];
}

SurfaceDistances surface_distances(const core::PointSet& p, const registration::AnnIndex& p_index,
                                   const std::vector<float>& p_normals, double p_spacing,
                                   const core::PointSet& q, const Matrix4& q_into_p) {
  SurfaceDistances out;
  out.spacing = p_spacing;
  out.top = kTopSpacings * p_spacing;
  out.distance.reserve(q.size());
  const auto& m = q_into_p.m;
  for (const core::Point3D& a : q) {
    double x[3];
    for (int r = 0; r < 3; ++r) x[r] = m[r][0] * a.x + m[r][1] * a.y + m[r][2] * a.z + m[r][3];
    out.distance.push_back(static_cast<float>(plane_distance(p, p_index, p_normals, p_spacing, x)));
  }
  out.p50 = quantile(out.distance, 0.5);
  out.p90 = quantile(out.distance, 0.9);
  out.p99 = quantile(out.distance, 0.99);
  return out;
}

std::array<float, 3> distance_colour(double d, double top) {
  // Stops of the bar, evenly spaced from 0 to top.
  static const float kStops[5][3] = {
      {0, 0, 1}, {0, 0.8f, 1}, {0, 0.75f, 0}, {1, 0.85f, 0}, {1, 0, 0}};
  const double t = top > 0 ? std::clamp(d / top, 0.0, 1.0) * 4 : 0;
  const int i = std::min(3, static_cast<int>(t));
  const auto f = static_cast<float>(t - i);
  std::array<float, 3> c;
  for (int k = 0; k < 3; ++k) c[k] = kStops[i][k] + (kStops[i + 1][k] - kStops[i][k]) * f;
  return c;
}

}  // namespace kestrel::app
