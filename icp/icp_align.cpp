#include "icp/icp_align.h"

#include <algorithm>
#include <cstdio>

#include "icp/icp_steps.h"
#include "icp/icp_timer.h"
#include "icp/normals.h"
#include "icp/overlaps.h"

namespace kestrel::icp {

namespace {

constexpr float kStartIncr = 0.08f;
constexpr int kMaxIterations = 100;
constexpr int kHistory = 7;   // steps remembered for the convergence test
constexpr int kNoGain = 5;    // steps without improvement among them that end a phase
constexpr int kRefresh = 10;  // overlap weights and distributions renewed every this many steps

bool has_extent(const TriMesh& mesh) {
  const Box3f& b = mesh.bbox;
  return b.max.x > b.min.x || b.max.y > b.min.y || b.max.z > b.min.z;
}

}  // namespace

std::vector<float> uniform_cdf(size_t n) {
  std::vector<float> cdf(n);
  for (size_t i = 0; i + 1 < n; ++i) cdf[i] = static_cast<float>(i + 1) / static_cast<float>(n);
  if (n > 0) cdf[n - 1] = 1.0f;
  return cdf;
}

float icp_align_full(TriMesh& mesh1, TriMesh& mesh2, const Xform& xf1, Xform& xf2,
                     const KDtree& kd1, const KDtree& kd2, std::vector<float>& weights1,
                     std::vector<float>& weights2, float maxdist, int verbose, bool allow_scale,
                     bool affine, int threads, const std::function<bool()>& stop) {
  const auto stopped = [&stop] { return stop && stop(); };
  // Without points, or with all points in one place, there is nothing to match or no scale
  // for the distance limit and the overlap grid.
  if (mesh1.vertices.empty() || mesh2.vertices.empty()) return -1.0f;
  compute_bbox(mesh1);
  compute_bbox(mesh2);
  if (!has_extent(mesh1) || !has_extent(mesh2)) return -1.0f;

  for (TriMesh* mesh : {&mesh1, &mesh2}) ensure_normals(*mesh, threads, kMaxRuns, stop);
  for (TriMesh* mesh : {&mesh1, &mesh2}) ensure_neighbors(*mesh);
  for (TriMesh* mesh : {&mesh1, &mesh2}) ensure_vertex_faces(*mesh);
  const IcpClock::time_point start = IcpClock::now();

  if (maxdist <= 0) {
    const float diag1 = len(mesh1.bbox.max - mesh1.bbox.min);
    const float diag2 = len(mesh2.bbox.max - mesh2.bbox.min);
    maxdist = 0.5f * (diag1 < diag2 ? diag1 : diag2);
  }
  std::vector<float> cdf1 = uniform_cdf(mesh1.vertices.size());
  std::vector<float> cdf2 = uniform_cdf(mesh2.vertices.size());
  if (stopped()) return -1.0f;
  const OverlapGrids grids = overlap_grids(mesh1, mesh2, threads);
  float incr = kStartIncr;
  IcpStep step{mesh1, mesh2, xf1,     xf2,  kd1,     kd2,     weights1, weights2,
               cdf1,  cdf2,  maxdist, incr, verbose, threads, &stop};

  for (int i = 0; i < 7; ++i) {
    const bool translation_only = i < 2;
    if (stopped() || step_point_to_point(step, translation_only) < 0) return -1.0f;
  }
  if (weights1.size() != mesh1.vertices.size() || weights2.size() != mesh2.vertices.size()) {
    compute_overlaps(mesh1, mesh2, grids, xf1, xf2, weights1, weights2, maxdist, verbose, threads);
  }
  float err = step_point_to_plane(step, {true, false, false});
  IcpClock::time_point t = IcpClock::now();
  if (verbose > 1) {
    std::fprintf(stderr, "Time for initial iterations: %.2f msec.\n\n", elapsed_ms(start, t));
  }
  if (err < 0) return err;

  int history[kHistory] = {};
  bool rigid = true;
  int k = 0;
  while (true) {
    if (stopped()) return -1.0f;
    const float lasterr = err;
    if (verbose > 1) std::fprintf(stderr, "Using incr = %f\n", double(incr));
    const bool refresh = k % kRefresh == kRefresh - 1;
    if (refresh) {
      compute_overlaps(mesh1, mesh2, grids, xf1, xf2, weights1, weights2, maxdist, verbose,
                       threads);
      if (stopped()) return -1.0f;
    }
    err = step_point_to_plane(step, {refresh, allow_scale && !rigid, affine && !rigid});
    if (verbose > 1) {
      const IcpClock::time_point now = IcpClock::now();
      std::fprintf(stderr, "Time for this iteration: %.2f msec.\n\n", elapsed_ms(t, now));
      t = now;
    }
    if (err < 0) return err;

    std::copy(history + 1, history + kHistory, history);
    history[kHistory - 1] = lasterr <= err ? 1 : 0;
    if (std::count(history, history + kHistory, 1) >= kNoGain) {
      if (!rigid || !(allow_scale || affine)) break;
      std::fill(history, history + kHistory, 0);
      rigid = false;
    }
    if (++k >= kMaxIterations) break;
  }

  if (stopped()) return -1.0f;
  if (verbose > 1) std::fprintf(stderr, "Did %d iterations\n\nLast iteration...\n", k);
  incr *= 0.25f;
  if (verbose > 1) std::fprintf(stderr, "Using incr = %f\n", double(incr));
  err = step_point_to_plane(step, {false, allow_scale, affine});
  if (verbose > 1) {
    std::fprintf(stderr, "Time for this iteration: %.2f msec.\n\n", elapsed_ms(t));
  }
  return err;
}

float icp_align(TriMesh& mesh1, TriMesh& mesh2, const Xform& xf1, Xform& xf2, int verbose,
                bool allow_scale, bool affine, int threads) {
  KDtree kd1(mesh1.vertices);
  KDtree kd2(mesh2.vertices);
  std::vector<float> weights1, weights2;
  return icp_align_full(mesh1, mesh2, xf1, xf2, kd1, kd2, weights1, weights2, 0.0f, verbose,
                        allow_scale, affine, threads);
}

}  // namespace kestrel::icp
