#pragma once
// Overlap weights: a vertex weighs 1 when, carried into the other mesh's frame, it falls
// strictly inside that mesh's bounding box and into a cell of a coarse 16^3 occupancy grid
// that holds one of its vertices; else 0. The ICP samples only from overlapping vertices.

#include <cstdint>
#include <vector>

#include "icp/tri_mesh.h"
#include "icp/xform.h"

namespace kestrel::icp {

struct OverlapGrid {
  float min_x = 0, max_x = 0, min_y = 0, max_y = 0, min_z = 0, max_z = 0;
  float scale = 0;        // 16 / largest box extent; 0 for a box without extent
  uint8_t cells[4096]{};  // cell (ix, iy, iz) at ix*256 + iy*16 + iz; 1 = occupied
};

// Grid over `vertices` in their own coordinates. Without extent every vertex marks cell 0.
OverlapGrid overlap_grid(const std::vector<Vec3f>& vertices);

// True when `q` lies strictly inside the grid's box and in an occupied cell.
bool overlaps(const OverlapGrid& grid, const Vec3f& q);

// The grids of two meshes, which depend on their vertices only: an ICP run makes them once
// for all its overlap updates.
struct OverlapGrids {
  OverlapGrid grid1;
  OverlapGrid grid2;
};

// The two grids are made side by side when `threads` is 2.
OverlapGrids overlap_grids(const TriMesh& mesh1, const TriMesh& mesh2, int threads);

// Fills `weights1` (one per vertex of mesh1) and `weights2` with 1.0 or 0.0. When `maxdist`
// <= 0 it is set to the smaller grid cell size. Ensures normals of both meshes. Works on
// `threads` threads (run_in_parts.h); the weights are the same for 1 and 2.
// Prints its timing to stderr when verbose > 1.
void compute_overlaps(TriMesh& mesh1, TriMesh& mesh2, const Xform& xf1, const Xform& xf2,
                      std::vector<float>& weights1, std::vector<float>& weights2, float& maxdist,
                      int verbose, int threads);

// As above with the meshes' grids already made (overlap_grids); normals are left alone.
void compute_overlaps(const TriMesh& mesh1, const TriMesh& mesh2, const OverlapGrids& grids,
                      const Xform& xf1, const Xform& xf2, std::vector<float>& weights1,
                      std::vector<float>& weights2, float& maxdist, int verbose, int threads);

}  // namespace kestrel::icp
