#include "icp/overlaps.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "icp/icp_timer.h"
#include "icp/normals.h"
#include "icp/run_in_parts.h"

namespace kestrel::icp {

namespace {

constexpr int kCells = 16;
// Vertices per run of the weights: below this, handing out a run costs more than it saves.
constexpr size_t kMinWeightRun = 2048;

int cell_index(float scale, float c, float lo) {
  int i = static_cast<int>(std::floor(scale * (c - lo)));
  return std::min(std::max(i, 0), kCells - 1);
}

int cell_of(const OverlapGrid& g, const Vec3f& p) {
  return cell_index(g.scale, p.x, g.min_x) * 256 + cell_index(g.scale, p.y, g.min_y) * 16 +
         cell_index(g.scale, p.z, g.min_z);
}

// Weights of vertices [first, last) of one mesh, carried by `xf` into the other's frame.
void fill_weights(const std::vector<Vec3f>& vertices, const Xform& xf, const OverlapGrid& other,
                  std::vector<float>& weights, size_t first, size_t last) {
  for (size_t i = first; i < last; ++i) {
    weights[i] = overlaps(other, xf * vertices[i]) ? 1.0f : 0.0f;
  }
}

}  // namespace

OverlapGrid overlap_grid(const std::vector<Vec3f>& vertices) {
  OverlapGrid g;
  if (vertices.empty()) return g;
  g.min_x = g.max_x = vertices[0].x;
  g.min_y = g.max_y = vertices[0].y;
  g.min_z = g.max_z = vertices[0].z;
  for (const Vec3f& v : vertices) {
    g.min_x = std::min(g.min_x, v.x);
    g.max_x = std::max(g.max_x, v.x);
    g.min_y = std::min(g.min_y, v.y);
    g.max_y = std::max(g.max_y, v.y);
    g.min_z = std::min(g.min_z, v.z);
    g.max_z = std::max(g.max_z, v.z);
  }
  float extent = std::max({g.max_x - g.min_x, g.max_y - g.min_y, g.max_z - g.min_z});
  // A box without extent has no finite cell size; nothing can lie strictly inside it anyway.
  g.scale = extent > 0 ? static_cast<float>(kCells) / extent : 0.0f;
  for (const Vec3f& v : vertices) g.cells[cell_of(g, v)] = 1;
  return g;
}

bool overlaps(const OverlapGrid& g, const Vec3f& q) {
  if (!(q.x > g.min_x && q.x < g.max_x && q.y > g.min_y && q.y < g.max_y && q.z > g.min_z &&
        q.z < g.max_z)) {
    return false;
  }
  return g.cells[cell_of(g, q)] != 0;
}

OverlapGrids overlap_grids(const TriMesh& mesh1, const TriMesh& mesh2, int threads) {
  // Each mesh's grid needs nothing of the other's: one run each.
  OverlapGrids grids;
  OverlapGrid* grid[2] = {&grids.grid1, &grids.grid2};
  const std::vector<Vec3f>* vertices[2] = {&mesh1.vertices, &mesh2.vertices};
  run_in_parts(2, 1, 2, threads, [&grid, &vertices](size_t, size_t first, size_t last) {
    for (size_t k = first; k < last; ++k) *grid[k] = overlap_grid(*vertices[k]);
  });
  return grids;
}

void compute_overlaps(TriMesh& mesh1, TriMesh& mesh2, const Xform& xf1, const Xform& xf2,
                      std::vector<float>& weights1, std::vector<float>& weights2, float& maxdist,
                      int verbose, int threads) {
  IcpClock::time_point t0 = IcpClock::now();
  ensure_normals(mesh1, threads);
  ensure_normals(mesh2, threads);
  compute_overlaps(mesh1, mesh2, overlap_grids(mesh1, mesh2, threads), xf1, xf2, weights1, weights2,
                   maxdist, 0, threads);
  if (verbose > 1) std::fprintf(stderr, "Computed overlaps in %.2f msec.\n", elapsed_ms(t0));
}

void compute_overlaps(const TriMesh& mesh1, const TriMesh& mesh2, const OverlapGrids& grids,
                      const Xform& xf1, const Xform& xf2, std::vector<float>& weights1,
                      std::vector<float>& weights2, float& maxdist, int verbose, int threads) {
  IcpClock::time_point t0 = IcpClock::now();
  if (maxdist <= 0) {
    float cell = 0;
    for (const OverlapGrid* g : {&grids.grid1, &grids.grid2}) {
      if (g->scale > 0 && (cell == 0 || 1.0f / g->scale < cell)) cell = 1.0f / g->scale;
    }
    if (cell > 0) maxdist = cell;
  }
  const Xform xf12 = xform_inverse(xf2) * xf1;
  const Xform xf21 = xform_inverse(xf1) * xf2;
  const size_t n1 = mesh1.vertices.size();
  weights1.resize(n1);
  weights2.resize(mesh2.vertices.size());
  // Each vertex's weight needs nothing of any other's: runs over mesh 1's vertices followed by
  // mesh 2's.
  run_in_parts(n1 + mesh2.vertices.size(), kMinWeightRun, kMaxRuns, threads,
               [&mesh1, &mesh2, &xf12, &xf21, &grids, &weights1, &weights2, n1](
                   size_t, size_t first, size_t last) {
                 if (first < n1) {
                   fill_weights(mesh1.vertices, xf12, grids.grid2, weights1, first,
                                std::min(last, n1));
                 }
                 if (last > n1) {
                   fill_weights(mesh2.vertices, xf21, grids.grid1, weights2,
                                std::max(first, n1) - n1, last - n1);
                 }
               });
  if (verbose > 1) std::fprintf(stderr, "Computed overlaps in %.2f msec.\n", elapsed_ms(t0));
}

}  // namespace kestrel::icp
