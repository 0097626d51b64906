#pragma once
// Thinning by a uniform grid: one point per occupied cell, the mean of the cell's points. Unlike
// a random draw it leaves no holes, so every part of the surface has a sample within about a
// cell, which is what matching two independently thinned scans needs.

#include <cstddef>

#include "core/point_set.h"

namespace kestrel::registration {

// The means of the points in each occupied cell of side `cell`, cells in the order their first
// point comes in `set` (normals are left zero), less the cells of stray points: a cell alone
// while most cells have occupied neighbours, or one whose surroundings hold a small share of
// what a typical cell's do. An empty set, or a cell that is not a positive finite size, gives an
// empty result.
core::PointSet voxel_sample(const core::PointSet& set, double cell);

// How many points voxel_sample(set, cell) keeps, counted on every `stride`-th point of the set
// (a tenth or so too few at 16 points a cell and a stride of 4).
size_t voxel_count(const core::PointSet& set, double cell, size_t stride = 1);

// A cell side for which voxel_sample(set, cell) keeps about `target` points (within a few per
// cent on a surface), or 0 when the set is empty or target is 0.
double voxel_cell_for(const core::PointSet& set, size_t target);

}  // namespace kestrel::registration
