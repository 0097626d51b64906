#include "registration/any_pose/surface_normals.h"

#include <CGAL/Simple_cartesian.h>
#include <CGAL/mst_orient_normals.h>

#include <cmath>
#include <utility>
#include <vector>

#include "registration/congruent/linear_algebra.h"

namespace kestrel::registration {

namespace {

using Kernel = CGAL::Simple_cartesian<double>;
using CgalPoint = Kernel::Point_3;
using CgalVector = Kernel::Vector_3;
// Working point, its normal, and its index in the working set (the orientation reorders).
using Oriented = std::tuple<CgalPoint, CgalVector, size_t>;

// Unit normal of the plane fitted to `idx` points of `full`; false when they span no plane.
bool fit_normal(const core::PointSet& full, const std::vector<int>& idx, double n[3]) {
  if (idx.size() < 3) return false;
  double mean[3] = {0, 0, 0};
  for (int i : idx) {
    mean[0] += full[static_cast<size_t>(i)].x;
    mean[1] += full[static_cast<size_t>(i)].y;
    mean[2] += full[static_cast<size_t>(i)].z;
  }
  for (double& m : mean) m /= static_cast<double>(idx.size());
  double cov[6] = {0, 0, 0, 0, 0, 0};  // xx, xy, xz, yy, yz, zz
  for (int i : idx) {
    const core::Point3D& p = full[static_cast<size_t>(i)];
    const double d[3] = {p.x - mean[0], p.y - mean[1], p.z - mean[2]};
    cov[0] += d[0] * d[0];
    cov[1] += d[0] * d[1];
    cov[2] += d[0] * d[2];
    cov[3] += d[1] * d[1];
    cov[4] += d[1] * d[2];
    cov[5] += d[2] * d[2];
  }
  return smallest_eigenvector(cov, n);
}

// One sign for the whole set: CGAL propagates it along a minimum spanning tree of the
// k-neighbour graph, weighting edges by how far the two normals are from parallel.
void orient(const core::PointSet& working, NormalList& normals, int k) {
  std::vector<Oriented> pts;
  for (size_t i = 0; i < working.size(); ++i) {
    const std::array<double, 3>& n = normals[i];
    if (n == std::array<double, 3>{0, 0, 0}) continue;
    const core::Point3D& p = working[i];
    pts.emplace_back(CgalPoint(p.x, p.y, p.z), CgalVector(n[0], n[1], n[2]), i);
  }
  if (pts.size() < 3) return;
  const unsigned int neighbours = static_cast<unsigned int>(
      std::max(2, std::min(k, static_cast<int>(pts.size()) - 1)));
  CGAL::mst_orient_normals(pts, neighbours,
                           CGAL::parameters::point_map(CGAL::Nth_of_tuple_property_map<0, Oriented>())
                               .normal_map(CGAL::Nth_of_tuple_property_map<1, Oriented>()));
  for (const Oriented& o : pts) {
    const CgalVector& v = std::get<1>(o);
    normals[std::get<2>(o)] = {v.x(), v.y(), v.z()};
  }
}

}  // namespace

NormalList estimate_surface_normals(const core::PointSet& full, const PointGrid& full_grid,
                                    const core::PointSet& working,
                                    const SurfaceNormalOptions& options) {
  NormalList normals(working.size(), {0, 0, 0});
  std::vector<int> idx;
  for (size_t i = 0; i < working.size(); ++i) {
    const core::Point3D& p = working[i];
    full_grid.nearest_k(p.x, p.y, p.z, static_cast<size_t>(options.neighbours), idx);
    double n[3];
    if (fit_normal(full, idx, n)) normals[i] = {n[0], n[1], n[2]};
  }
  orient(working, normals, options.orient_neighbours);
  return normals;
}

}  // namespace kestrel::registration
