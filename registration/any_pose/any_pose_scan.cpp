#include "registration/any_pose/any_pose_scan.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "registration/any_pose/surface_normals.h"
#include "registration/any_pose/voxel_sample.h"

namespace kestrel::registration {

double full_grid_cell(size_t full_points, size_t working_points, double thinning_cell) {
  // On a surface a thinning cell of side c gathers full / working points, so the full scan's
  // spacing is about c / sqrt(full / working). Four of those make a cell of a dozen points or
  // so, enough for the 16 nearest within the 27 cells around a query.
  if (full_points == 0 || working_points == 0) return thinning_cell;
  const double per_cell = static_cast<double>(full_points) / static_cast<double>(working_points);
  return 4 * thinning_cell / std::sqrt(std::max(per_cell, 1.0));
}

AnyPoseScan prepare_any_pose_scan(const core::PointSet& full, double cell, bool index,
                                  const GridToCome* grid) {
  AnyPoseScan scan;
  scan.working = voxel_sample(full, cell);
  if (index) scan.index.build(scan.working);
  scan.full_grid = grid ? grid->get()
                        : std::make_shared<const PointGrid>(
                              full, full_grid_cell(full.size(), scan.working.size(), cell),
                              std::function<bool()>(), true);
  const NormalList normals = estimate_surface_normals(full, *scan.full_grid, scan.working);
  for (size_t i = 0; i < scan.working.size(); ++i) {
    scan.working[i].nx = normals[i][0];
    scan.working[i].ny = normals[i][1];
    scan.working[i].nz = normals[i][2];
  }
  return scan;
}

}  // namespace kestrel::registration
