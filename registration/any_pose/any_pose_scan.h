#pragma once
// One scan as the any-pose search needs it: thinned by a grid, with normals fitted in 3D to the
// full scan, so that they turn with the scan. Each scan is prepared once and may serve several
// searches.

#include <cstddef>

#include "core/point_set.h"
#include "registration/any_pose/point_grid.h"
#include "registration/congruent/ann_index.h"

namespace kestrel::registration {

struct AnyPoseScan {
  core::PointSet working;  // one point per occupied cell, with its fitted normal
  SharedGrid full_grid;    // over the full scan's positions (normals, fine polish)
  AnnIndex index;          // over working; empty unless asked for
};

// Thins `full` by cells of side `cell`, grids the full scan and fits the working points'
// normals; with `index`, also builds the search over the working points. With `grid`, a grid
// over `full` built elsewhere (any cell size), it waits for that one instead of building its
// own. `full` must outlive the result.
AnyPoseScan prepare_any_pose_scan(const core::PointSet& full, double cell, bool index,
                                  const GridToCome* grid = nullptr);

// The cell size of the grids over the full scans: about their point spacing, estimated from how
// many full points each cell of the thinning grid (side `thinning_cell`) gathered.
double full_grid_cell(size_t full_points, size_t working_points, double thinning_cell);

}  // namespace kestrel::registration
