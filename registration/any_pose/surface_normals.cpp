#include "registration/any_pose/surface_normals.h"

#include <CGAL/Simple_cartesian.h>
#include <CGAL/mst_orient_normals.h>

#include <cmath>
#include <utility>
#include <vector>

#include "registration/any_pose/plane_fit.h"

namespace kestrel::registration {

namespace {

using Kernel = CGAL::Simple_cartesian<double>;
using CgalPoint = Kernel::Point_3;
using CgalVector = Kernel::Vector_3;
// Working point, its normal, and its index in the working set (the orientation reorders).
using Oriented = std::tuple<CgalPoint, CgalVector, size_t>;

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
  const unsigned int neighbours =
      static_cast<unsigned int>(std::max(2, std::min(k, static_cast<int>(pts.size()) - 1)));
  CGAL::mst_orient_normals(
      pts, neighbours,
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
    double n[3], centre[3];
    if (fit_plane(full, idx, n, centre)) normals[i] = {n[0], n[1], n[2]};
  }
  orient(working, normals, options.orient_neighbours);
  return normals;
}

}  // namespace kestrel::registration
