#include "registration/any_pose/refine_motion.h"

#include <cmath>
#include <vector>

#include "registration/congruent/linear_algebra.h"

namespace kestrel::registration {

namespace {

// Best rigid fit carrying q[i] onto p[j] for the listed pairs, as a motion about Q's centroid.
bool fit_pairs(const core::PointSet& q, const core::PointSet& p,
               const std::vector<std::pair<int, int>>& pairs, core::RigidTransform& out) {
  double cq[3] = {0, 0, 0}, cp[3] = {0, 0, 0};
  for (const auto& [i, j] : pairs) {
    const core::Point3D& a = q[static_cast<size_t>(i)];
    const core::Point3D& b = p[static_cast<size_t>(j)];
    cq[0] += a.x, cq[1] += a.y, cq[2] += a.z;
    cp[0] += b.x, cp[1] += b.y, cp[2] += b.z;
  }
  const double n = static_cast<double>(pairs.size());
  for (int k = 0; k < 3; ++k) cq[k] /= n, cp[k] /= n;
  double H[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0};
  for (const auto& [i, j] : pairs) {
    const core::Point3D& a = q[static_cast<size_t>(i)];
    const core::Point3D& b = p[static_cast<size_t>(j)];
    const double u[3] = {a.x - cq[0], a.y - cq[1], a.z - cq[2]};
    const double v[3] = {b.x - cp[0], b.y - cp[1], b.z - cp[2]};
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) H[3 * r + c] += u[r] * v[c];
  }
  double R[9];
  if (!best_rotation(H, R)) return false;
  out.R = core::DenseMatrix(3, 3);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) out.R(r, c) = R[3 * r + c];
  out.s = 1.0f;
  for (int k = 0; k < 3; ++k) {
    out.c[k] = cq[k];
    out.t[k] = cp[k] - cq[k];
  }
  return true;
}

// The positions of `q` moved by `m`, into `out` (whose normals mean nothing).
void move_all(const core::PointSet& q, const core::RigidTransform& m, core::PointSet& out) {
  out.resize(q.size());
  for (size_t i = 0; i < q.size(); ++i) {
    core::Point3D& p = out[i];
    p.x = q[i].x, p.y = q[i].y, p.z = q[i].z;
    core::transform_point(p, m);
  }
}

// Root mean square of how far apart the points land in two placements of the same points.
double rms_change(const core::PointSet& a, const core::PointSet& b) {
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    const double d = core::distance(a[i], b[i]);
    sum += d * d;
  }
  return a.empty() ? 0 : std::sqrt(sum / static_cast<double>(a.size()));
}

// The squared distance from (x, y, z) to `p`, as the grid measures it.
double sq_distance_to(const core::Point3D& p, double x, double y, double z) {
  const double dx = p.x - x, dy = p.y - y, dz = p.z - z;
  return dx * dx + dy * dy + dz * dz;
}

// The polish loop; nearest(x, near, d2) gives the index of P's point nearest to x, or -1, with
// its squared distance in d2. `near` comes in as P's point that was nearest at the step before
// (or -1), which may narrow the search but never changes its answer, and leaves as the answer.
template <typename Nearest>
RefineResult refine_with(const core::PointSet& q, const core::PointSet& p, Nearest&& nearest,
                         const core::RigidTransform& start, const RefineOptions& options,
                         std::vector<int>& near) {
  RefineResult result;
  result.motion = start;
  std::vector<std::pair<int, int>> pairs, previous;
  near.resize(q.size(), -1);
  // Q as the present motion places it; each step's placement serves the next step's pairing.
  core::PointSet moved, next_moved;
  move_all(q, result.motion, moved);
  for (int step = 0; step < options.iterations; ++step) {
    pairs.clear();
    for (size_t i = 0; i < q.size(); ++i) {
      double d2 = 0;
      const int j = nearest(moved[i], near[i], d2);
      if (j < 0 || !(d2 < options.sq_radius)) continue;
      if (options.normal_cosine > 0 &&
          std::abs(turned_normal_dot(q[i], result.motion, p[static_cast<size_t>(j)])) <
              options.normal_cosine)
        continue;
      pairs.emplace_back(static_cast<int>(i), j);
    }
    if (pairs.size() < options.min_pairs || pairs == previous) break;
    core::RigidTransform next;
    if (!fit_pairs(q, p, pairs, next)) break;
    move_all(q, next, next_moved);
    const double moved_by = rms_change(moved, next_moved);
    result.motion = next;
    moved.swap(next_moved);
    result.steps = step + 1;
    result.pairs = pairs.size();
    previous.swap(pairs);
    if (moved_by < options.settle) break;
  }
  return result;
}

}  // namespace

double turned_normal_dot(const core::Point3D& a, const core::RigidTransform& m,
                         const core::Point3D& b) {
  const core::DenseMatrix& R = m.R;
  const double n[3] = {R(0, 0) * a.nx + R(0, 1) * a.ny + R(0, 2) * a.nz,
                       R(1, 0) * a.nx + R(1, 1) * a.ny + R(1, 2) * a.nz,
                       R(2, 0) * a.nx + R(2, 1) * a.ny + R(2, 2) * a.nz};
  return n[0] * b.nx + n[1] * b.ny + n[2] * b.nz;
}

RefineResult refine_motion(const core::PointSet& q, const core::PointSet& p,
                           const AnnIndex& p_index, const core::RigidTransform& start,
                           const RefineOptions& options) {
  const auto nearest = [&p_index](const core::Point3D& x, int& before, double& d2) {
    return before = p_index.nearest(x.x, x.y, x.z, d2);
  };
  std::vector<int> near;
  return refine_with(q, p, nearest, start, options, near);
}

RefineResult refine_motion(const core::PointSet& q, const core::PointSet& p,
                           const PointGrid& p_grid, const core::RigidTransform& start,
                           const RefineOptions& options, std::vector<int>* near) {
  const auto nearest = [&p_grid, &p, &options](const core::Point3D& x, int& before, double& d2) {
    return nearest_from(p, p_grid, x, options.sq_radius, before, d2);
  };
  std::vector<int> own;
  return refine_with(q, p, nearest, start, options, near ? *near : own);
}

int nearest_from(const core::PointSet& p, const PointGrid& p_grid, const core::Point3D& x,
                 double sq_radius, int& near, double& d2) {
  if (near < 0) return near = p_grid.nearest_within(x.x, x.y, x.z, sq_radius, d2);
  const double bound = sq_distance_to(p[static_cast<size_t>(near)], x.x, x.y, x.z);
  return near = p_grid.nearest_within(x.x, x.y, x.z, sq_radius, bound, d2);
}

}  // namespace kestrel::registration
