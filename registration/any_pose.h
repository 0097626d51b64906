#pragma once
// A search that assumes nothing about the pose of the scans or their overlap. Normals come from
// planes fitted in 3D to the full scans, so they turn with a scan; the tolerances, the base sizes
// and the stopping rule come from the scans' own spacing, size and normal noise. The motion
// found is then polished against the full P.

#include "core/point_set.h"
#include "core/rigid_transform.h"
#include "registration/ann_index.h"
#include "registration/engine.h"
#include "registration/point_grid.h"

namespace kestrel::registration {

// The scans as the any-pose search needs them. All must outlive the plan's use.
struct AnyPoseScans {
  const core::PointSet& full_p;  // P at full resolution
  const PointGrid& full_p_grid;  // over full_p's positions: its normals and the fine polish
  const core::PointSet& p;       // P's working set
  const AnnIndex& p_index;       // search over p
  const core::PointSet& full_q;  // Q at full resolution
  const PointGrid& full_q_grid;  // over full_q's positions: its normals
  const core::PointSet& q;       // Q's working set
  const PointGrid* p_grid = nullptr;  // over p, cells of polish_grid_radius
};

// What the search runs with.
struct AnyPosePlan {
  NormalList p_normals, q_normals;  // one fitted normal per working point
  float point_spacing = 0;          // engine spacing: the median neighbour distance
  float neighbour_distance = 0;     // median distance of a working point of P to its nearest
  float normal_spread = 0;          // median normal difference of neighbouring working points
  float size = 0;  // the smaller scan's size: twice its RMS distance from its centroid
  EngineOptions options;            // the engine's settings for the search
};

// Derives the plan. `base` supplies what the user chose (delta, debug, console output); an
// `overlap` in (0, 1] sets the stopping threshold and the base width as in the default mode,
// otherwise both come from the data and the run stops when a second base confirms the best
// motion.
AnyPosePlan plan_any_pose(const AnyPoseScans& scans, const EngineOptions& base, float overlap);

// The engine's scoring radius for the plan, squared: 2 x spacing x run tolerance.
double score_sq_radius(const AnyPosePlan& plan);

// The cell size of the grid over P's working set that the quick polish asks.
double polish_grid_radius(const AnyPosePlan& plan);

// The cell size of the grids over the full scans: about their point spacing, estimated from how
// many full points each cell of the thinning grid (side `thinning_cell`) gathered.
double full_grid_cell(size_t full_points, size_t working_points, double thinning_cell);

// Moves `motion` to the least-squares fit of Q's working points: first the quick polish against
// P's working set (or, without scans.p_grid, steps within twice the scoring radius of the full
// P), then steps within half the scoring radius of the full P.
core::RigidTransform polish_any_pose(const AnyPoseScans& scans, const AnyPosePlan& plan,
                                     const core::RigidTransform& motion);

// A few closest-point steps of Q's working points against P's working set (through
// scans.p_grid): cheap enough for every candidate that scores near the best.
core::RigidTransform quick_polish(const AnyPoseScans& scans, const AnyPosePlan& plan,
                                  const core::RigidTransform& motion);

}  // namespace kestrel::registration
