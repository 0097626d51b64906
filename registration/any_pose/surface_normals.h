#pragma once
// Surface normals that do not depend on the pose: a plane fitted in 3D to each point's nearest
// neighbours in the full-resolution scan, with one sign throughout the set, so that turning a
// scan turns its normals with it.

#include "core/point_set.h"
#include "registration/any_pose/point_grid.h"
#include "registration/records.h"

namespace kestrel::registration {

struct SurfaceNormalOptions {
  int neighbours = 16;         // points of the full scan in each plane fit
  int orient_neighbours = 16;  // neighbours of a working point in the sign-propagation graph
};

// One unit normal per point of `working`: the direction of least spread of the `neighbours`
// points of `full` (through `full_grid`, a grid over its positions) nearest to it. Signs are then
// made consistent within `working` by propagating along a minimum spanning tree of its neighbour
// graph. A point whose neighbourhood spans no plane gets (0, 0, 0).
NormalList estimate_surface_normals(const core::PointSet& full, const PointGrid& full_grid,
                                    const core::PointSet& working,
                                    const SurfaceNormalOptions& options = {});

}  // namespace kestrel::registration
