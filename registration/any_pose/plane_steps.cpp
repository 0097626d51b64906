#include "registration/any_pose/plane_steps.h"

#include <algorithm>
#include <cmath>

#include "registration/any_pose/refine_motion.h"
#include "registration/congruent/linear_algebra.h"

namespace kestrel::registration {

namespace {

// The normal system of one step: rows [x cross n, n] for each pair, right side -(x - p) . n.
struct PlaneSystem {
  double a[36] = {};
  double b[6] = {};
  size_t pairs = 0;

  void add(const core::Point3D& x, const core::Point3D& p, const double n[3]) {
    const double row[6] = {x.y * n[2] - x.z * n[1],
                           x.z * n[0] - x.x * n[2],
                           x.x * n[1] - x.y * n[0],
                           n[0],
                           n[1],
                           n[2]};
    const double r = -((x.x - p.x) * n[0] + (x.y - p.y) * n[1] + (x.z - p.z) * n[2]);
    for (int i = 0; i < 6; ++i) {
      b[i] += row[i] * r;
      for (int j = 0; j < 6; ++j) a[i * 6 + j] += row[i] * row[j];
    }
    ++pairs;
  }
};

// `step` (a small turn w and a shift) after `m`, as one motion.
core::RigidTransform after(const double x[6], const core::RigidTransform& m) {
  double R[9];
  if (!rotation_by_vector(x, R)) return m;
  core::DenseMatrix L(3, 3);
  for (uint32_t r = 0; r < 3; ++r)
    for (uint32_t c = 0; c < 3; ++c) L(r, c) = R[r * 3 + c];
  return core::compose(core::linear_motion(L, x[3], x[4], x[5]), m);
}

}  // namespace

core::RigidTransform plane_steps(const core::PointSet& q, const core::PointSet& p,
                                 const PointGrid& p_grid, const core::RigidTransform& start,
                                 const PlaneStepOptions& options) {
  core::RigidTransform m = start;
  if (options.radii.empty()) return m;
  std::vector<int> near(q.size(), -1);
  for (int step = 0; step < options.steps; ++step) {
    const double radius =
        options.radii[std::min(static_cast<size_t>(step), options.radii.size() - 1)];
    PlaneSystem system;
    for (size_t i = 0; i < q.size(); ++i) {
      core::Point3D x = q[i];
      core::transform_point(x, m);
      double d2 = 0;
      near[i] = -1;  // the radius changes from step to step
      const int j = nearest_from(p, p_grid, x, radius * radius, near[i], d2);
      if (j < 0) continue;
      const core::Point3D& y = p[static_cast<size_t>(j)];
      if (std::fabs(turned_normal_dot(q[i], m, y)) < options.min_cosine) continue;
      const double n[3] = {y.nx, y.ny, y.nz};
      system.add(x, y, n);
    }
    double x[6];
    if (system.pairs < options.min_pairs || !solve6(system.a, system.b, x)) break;
    m = after(x, m);
    const double turn = std::sqrt(x[0] * x[0] + x[1] * x[1] + x[2] * x[2]);
    const double shift = std::sqrt(x[3] * x[3] + x[4] * x[4] + x[5] * x[5]);
    if (static_cast<size_t>(step) + 1 >= options.radii.size() && turn < 1e-4 &&
        shift < options.settle)
      break;
  }
  return m;
}

}  // namespace kestrel::registration
