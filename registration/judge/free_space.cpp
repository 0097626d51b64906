#include "registration/judge/free_space.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "registration/congruent/linear_algebra.h"

namespace kestrel::registration {

namespace {

constexpr double kCellSpacings = 2;  // a column is this many spacings wide
constexpr size_t kMaxCells = size_t{1} << 22;
constexpr size_t kMaxMappedPoints = size_t{1} << 20;
constexpr float kNone = std::numeric_limits<float>::quiet_NaN();

double dot(const double a[3], const double b[3]) {
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// Two unit vectors that make a right-handed frame with the unit vector `a`.
void frame_of(const double a[3], double e1[3], double e2[3]) {
  const double helper[3] = {std::fabs(a[0]) < 0.9 ? 1.0 : 0.0, std::fabs(a[0]) < 0.9 ? 0.0 : 1.0,
                            0};
  e1[0] = a[1] * helper[2] - a[2] * helper[1];
  e1[1] = a[2] * helper[0] - a[0] * helper[2];
  e1[2] = a[0] * helper[1] - a[1] * helper[0];
  const double n = std::sqrt(dot(e1, e1));
  for (int k = 0; k < 3; ++k) e1[k] /= n;
  e2[0] = a[1] * e1[2] - a[2] * e1[1];
  e2[1] = a[2] * e1[0] - a[0] * e1[2];
  e2[2] = a[0] * e1[1] - a[1] * e1[0];
}

// The motion back from P's coordinates to Q's, for a rigid q_to_p: q = c + R^T (p - c - t).
void move_back(const core::RigidTransform& m, const core::Point3D& p, double out[3]) {
  const double d[3] = {p.x - m.c[0] - m.t[0], p.y - m.c[1] - m.t[1], p.z - m.c[2] - m.t[2]};
  for (uint32_t k = 0; k < 3; ++k)
    out[k] = m.c[k] + m.R(0, k) * d[0] + m.R(1, k) * d[1] + m.R(2, k) * d[2];
}

}  // namespace

FreeSpaceMap::FreeSpaceMap(const core::PointSet& scan, const double axis[3], double spacing,
                           double front_spacings) {
  const double norm = std::sqrt(dot(axis, axis));
  if (scan.empty() || !(norm > 0) || !(spacing > 0)) return;
  for (int k = 0; k < 3; ++k) axis_[k] = axis[k] / norm;
  frame_of(axis_, e1_, e2_);
  // A scan of very many points is mapped through every stride-th, in columns widened to hold
  // as many points each as the full scan's would.
  const size_t stride = (scan.size() + kMaxMappedPoints - 1) / kMaxMappedPoints;
  tol_ = front_spacings * spacing;
  double hi[2] = {-std::numeric_limits<double>::infinity(),
                  -std::numeric_limits<double>::infinity()};
  lo_[0] = lo_[1] = std::numeric_limits<double>::infinity();
  for (size_t i = 0; i < scan.size(); i += stride) {
    const core::Point3D& p = scan[i];
    const double x[3] = {p.x, p.y, p.z};
    const double u[2] = {dot(x, e1_), dot(x, e2_)};
    for (int k = 0; k < 2; ++k) lo_[k] = std::min(lo_[k], u[k]), hi[k] = std::max(hi[k], u[k]);
  }
  cell_ = kCellSpacings * spacing * std::sqrt(static_cast<double>(stride));
  // A very wide scan at a fine spacing gets coarser columns rather than an enormous map.
  while ((hi[0] - lo_[0]) / cell_ * (hi[1] - lo_[1]) / cell_ > static_cast<double>(kMaxCells))
    cell_ *= 2;
  for (int k = 0; k < 2; ++k) dims_[k] = static_cast<size_t>((hi[k] - lo_[k]) / cell_) + 1;
  high_.assign(dims_[0] * dims_[1], kNone);
  low_.assign(dims_[0] * dims_[1], kNone);
  for (size_t i = 0; i < scan.size(); i += stride) {
    const core::Point3D& p = scan[i];
    const double x[3] = {p.x, p.y, p.z};
    size_t cell;
    double depth;
    if (!column(x, cell, depth)) continue;
    const auto d = static_cast<float>(depth);
    if (std::isnan(high_[cell]) || d > high_[cell]) high_[cell] = d;
    if (std::isnan(low_[cell]) || d < low_[cell]) low_[cell] = d;
  }
}

bool FreeSpaceMap::column(const double x[3], size_t& cell, double& depth) const {
  if (dims_[0] == 0) return false;
  const double i = std::floor((dot(x, e1_) - lo_[0]) / cell_);
  const double j = std::floor((dot(x, e2_) - lo_[1]) / cell_);
  if (!(i >= 0 && j >= 0 && i < static_cast<double>(dims_[0]) && j < static_cast<double>(dims_[1])))
    return false;
  cell = static_cast<size_t>(i) * dims_[1] + static_cast<size_t>(j);
  depth = dot(x, axis_);
  return true;
}

double FreeSpaceMap::in_front_share(const core::PointSet& points,
                                    const core::RigidTransform& motion) const {
  if (points.empty() || dims_[0] == 0) return 0;
  size_t above = 0, below = 0;
  for (core::Point3D p : points) {
    core::transform_point(p, motion);
    const double x[3] = {p.x, p.y, p.z};
    size_t cell;
    double depth;
    if (!column(x, cell, depth) || std::isnan(high_[cell])) continue;
    if (depth > static_cast<double>(high_[cell]) + tol_) ++above;
    if (depth < static_cast<double>(low_[cell]) - tol_) ++below;
  }
  return static_cast<double>(std::min(above, below)) / static_cast<double>(points.size());
}

void principal_normal_axis(const core::PointSet& with_normals, double axis[3]) {
  double cov[6] = {0, 0, 0, 0, 0, 0};
  for (const core::Point3D& p : with_normals) {
    cov[0] += p.nx * p.nx, cov[1] += p.nx * p.ny, cov[2] += p.nx * p.nz;
    cov[3] += p.ny * p.ny, cov[4] += p.ny * p.nz, cov[5] += p.nz * p.nz;
  }
  if (!largest_eigenvector(cov, axis)) axis[0] = axis[1] = axis[2] = 0;
}

double free_space_violation(const FreeSpaceMap& p_map, const FreeSpaceMap& q_map,
                            const core::PointSet& p, const core::PointSet& q,
                            const core::RigidTransform& q_to_p) {
  core::PointSet p_back;
  p_back.reserve(p.size());
  for (const core::Point3D& point : p) {
    double x[3];
    move_back(q_to_p, point, x);
    core::Point3D b = point;
    b.x = x[0], b.y = x[1], b.z = x[2];
    p_back.push_back(b);
  }
  return 0.5 * (p_map.in_front_share(q, q_to_p) + q_map.in_front_share(p_back, {}));
}

}  // namespace kestrel::registration
