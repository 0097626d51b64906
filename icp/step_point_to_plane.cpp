#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>

#include "core/stop_check.h"
#include "icp/eigen_symmetric.h"
#include "icp/icp_steps.h"
#include "icp/icp_timer.h"
#include "icp/run_in_parts.h"
#include "icp/scale_step.h"
#include "icp/select_pairs.h"

namespace kestrel::icp {

namespace {

// Eigenvalues below this share of the largest mark weakly determined directions.
constexpr float kSmallEigenvalue = 0.01f;
// Vertices per run of a distribution rebuild: below this, handing out a run costs more than it
// saves.
constexpr size_t kMinCdfRun = 2048;
// A vertex's share (its six-vector and a 6 x 6 form) in core::StopCheck units.
constexpr int64_t kPinningWork = 16;

// The 6x6 system of a step, in the frame centred on the mesh-2 points and scaled to unit RMS
// spread so that rotations and translations are comparable.
struct PlaneSystem {
  Vec3f c;
  float s = 1;
  float v[6][6] = {};  // eigenvectors as columns after the solve
  float lambda[6] = {};
};

void six_vector(const Vec3f& p, const Vec3f& n, float (&w)[6]) {
  Vec3f a = cross(p, n);
  w[0] = a.x, w[1] = a.y, w[2] = a.z;
  w[3] = n.x, w[4] = n.y, w[5] = n.z;
}

// How strongly vertex j pins the weak directions of the last system: w' M w of its six-vector.
float pinning(const TriMesh& mesh, const Xform& xf, const NormalMatrix& nm, const PlaneSystem& sys,
              const float (&m)[6][6], size_t j) {
  float w[6];
  six_vector(sys.s * (xf * mesh.vertices[j] - sys.c), nm * mesh.normals[j], w);
  float q = 0;
  for (int r = 0; r < 6; ++r) {
    float row = 0;
    for (int c = 0; c < 6; ++c) row += m[r][c] * w[c];
    q += w[r] * row;
  }
  return q;
}

// One mesh's distribution: vertices that pin the weak directions of the last system get
// more weight. False when no vertex carries any. The vertices' shares are independent and
// computed in runs on `threads` threads; only the running total is summed in order.
bool rebuild_cdf(const TriMesh& mesh, const Xform& xf, const std::vector<float>& weights,
                 const PlaneSystem& sys, const float (&m)[6][6], int threads,
                 std::vector<float>& cdf, const std::function<bool()>* stop) {
  const size_t n = mesh.vertices.size();
  const bool weighted = weights.size() == n;
  const NormalMatrix nm = normal_matrix(xf);
  cdf.assign(n, 0.0f);
  const std::function<bool()> never;
  const std::function<bool()>& hook = stop ? *stop : never;
  std::atomic<bool> stopped{false};
  run_in_parts(n, kMinCdfRun, kMaxRuns, threads,
               [&mesh, &xf, &weights, &sys, &m, &nm, &cdf, weighted, &hook, &stopped](
                   size_t, size_t first, size_t last) {
                 core::StopCheck check(hook);
                 for (size_t j = first; j < last; ++j) {
                   if (check(kPinningWork)) {
                     stopped = true;
                     return;
                   }
                   const float weight = weighted ? weights[j] : 1.0f;
                   if (weight != 0) cdf[j] = pinning(mesh, xf, nm, sys, m, j) * weight;
                 }
               });
  if (stopped) return false;
  // A vertex without weight adds +0, which leaves any total as it is (it is never -0).
  float total = 0;
  for (size_t j = 0; j < n; ++j) {
    total += cdf[j];
    cdf[j] = total;
  }
  if (!(total > 0)) return false;
  for (size_t j = 0; j + 1 < n; ++j) cdf[j] /= total;
  cdf[n - 1] = 1.0f;
  return true;
}

bool update_cdfs(IcpStep& step, const PlaneSystem& sys) {
  // Small eigenvalues are raised to 1% of the largest rather than dropped.
  const float floor = kSmallEigenvalue * sys.lambda[5];
  float m[6][6] = {};
  for (int k = 0; k < 6; ++k) {
    const float e = 1.0f / std::max(sys.lambda[k], floor);
    for (int r = 0; r < 6; ++r) {
      for (int c = 0; c < 6; ++c) m[r][c] += sys.v[r][k] * e * sys.v[c][k];
    }
  }
  if (!rebuild_cdf(step.mesh1, step.xf1, step.weights1, sys, m, step.threads, step.cdf1,
                   step.stop)) {
    if (step.verbose) std::fprintf(stderr, "No overlap.\n");
    return false;
  }
  if (!rebuild_cdf(step.mesh2, step.xf2, step.weights2, sys, m, step.threads, step.cdf2,
                   step.stop)) {
    if (step.verbose) std::fprintf(stderr, "No overlap 222.\n");
    return false;
  }
  return true;
}

// Rotation R = Rx Ry Rz from the three solved sines, clamped to [-1, 1].
Xform rotation_from_sines(float x0, float x1, float x2) {
  const float sa = std::clamp(x0, -1.0f, 1.0f), sb = std::clamp(x1, -1.0f, 1.0f),
              sc = std::clamp(x2, -1.0f, 1.0f);
  const float ca = std::sqrt(1 - sa * sa), cb = std::sqrt(1 - sb * sb), cc = std::sqrt(1 - sc * sc);
  Xform r;
  r(0, 0) = cc * cb;
  r(0, 1) = -sc * cb;
  r(0, 2) = sb;
  r(1, 0) = ca * sc + cc * sb * sa;
  r(1, 1) = cc * ca - sc * sb * sa;
  r(1, 2) = -cb * sa;
  r(2, 0) = sa * sc - cc * ca * sb;
  r(2, 1) = cc * sa + sc * ca * sb;
  r(2, 2) = cb * ca;
  return r;
}

// Fills `sys` (centroid, scale and normal matrix) and `b` from the pairs; returns the RMS
// point-to-plane error in the data's units.
float build_plane_system(const PointPairs& pairs, PlaneSystem& sys, float b[6]) {
  const float npairs = static_cast<float>(pairs.size());
  for (const PointPair& pp : pairs) sys.c += pp.p2;
  sys.c /= npairs;
  float spread = 0;
  for (const PointPair& pp : pairs) spread += dist2(pp.p2, sys.c);
  spread /= npairs;
  // Mesh-2 points all at one place fix no rotation; keep the data's own units then.
  sys.s = spread > 0 ? 1.0f / std::sqrt(spread) : 1.0f;

  float err = 0;
  for (const PointPair& pp : pairs) {
    const Vec3f& m = pp.normal;
    const float u = sys.s * dot(pp.p1 - pp.p2, m);
    float w[6];
    six_vector(sys.s * (pp.p2 - sys.c), m, w);
    err += u * u;
    for (int r = 0; r < 6; ++r) {
      b[r] += u * w[r];
      for (int c = 0; c < 6; ++c) sys.v[r][c] += w[r] * w[c];
    }
  }
  return std::sqrt(err / npairs) / sys.s;
}

// Solves the system by its eigenvectors (`sys.v` becomes them) and returns the motion.
// Truncated pseudo-inverse: weakly determined directions are left unmoved.
Xform solve_plane_system(PlaneSystem& sys, const float b[6], float rms, int verbose) {
  eigen_symmetric(sys.v, sys.lambda);
  const float largest = sys.lambda[5];
  if (verbose > 1) {
    std::fprintf(stderr, "RMS point-to-plane error = %f\n", double(rms));
    for (int k = 0; k < 5; ++k) {
      if (sys.lambda[k] < kSmallEigenvalue * largest) {
        std::fprintf(stderr, "Small eigenvalue %f (largest is %f)\n", double(sys.lambda[k]),
                     double(largest));
      }
    }
  }
  float y[6] = {};
  for (int k = 0; k < 6; ++k) {
    if (sys.lambda[k] < kSmallEigenvalue * largest || !(sys.lambda[k] > 0)) continue;
    for (int r = 0; r < 6; ++r) y[k] += sys.v[r][k] * b[r];
    y[k] /= sys.lambda[k];
  }
  float x[6] = {};
  for (int r = 0; r < 6; ++r) {
    for (int k = 0; k < 6; ++k) x[r] += sys.v[r][k] * y[k];
  }
  Xform motion = rotation_from_sines(x[0], x[1], x[2]);
  const Vec3f& c = sys.c;
  for (int r = 0; r < 3; ++r) {
    motion(r, 3) = double(x[3 + r]) / double(sys.s) + double(c[r]) -
                   (motion(r, 0) * c.x + motion(r, 1) * c.y + motion(r, 2) * c.z);
  }
  return motion;
}

}  // namespace

float step_point_to_plane(IcpStep& step, const PlaneStepOptions& options) {
  const int verbose = step.verbose;
  float& incr = step.incr;
  float& maxdist = step.maxdist;
  Xform& xf2 = step.xf2;
  PointPairs pairs;
  const float thr2 = sample_step_pairs(step, kPointToPlaneRejection, pairs);
  IcpClock::time_point t = IcpClock::now();
  if (pairs.size() < 8) {
    if (verbose) std::fprintf(stderr, "Too few point pairs.\n");
    return -1.0f;
  }
  const float npairs = static_cast<float>(pairs.size());
  incr = incr * npairs / 500.0f;
  maxdist = std::max(2.0f * std::sqrt(thr2), 0.7f * maxdist);

  PlaneSystem sys;
  float b[6] = {};
  const float rms = build_plane_system(pairs, sys, b);
  const Xform motion = solve_plane_system(sys, b, rms, verbose);
  const float largest = sys.lambda[5];
  xf2 = motion * xf2;

  if (options.scale_now || options.affine_now) {
    for (PointPair& pp : pairs) pp.p2 = motion * pp.p2;
    xf2 = scale_step(pairs, verbose, options.affine_now) * xf2;
  }
  if (verbose > 1) {
    std::fprintf(stderr, "Computed xform in %.2f msec.\n", elapsed_ms(t));
    t = IcpClock::now();
  }

  if (options.update_cdfs) {
    if (!(largest > 0) || !update_cdfs(step, sys)) {
      return -1.0f;
    }
    if (verbose > 1) std::fprintf(stderr, "Updated CDFs in %.2f msec.\n", elapsed_ms(t));
  }
  return rms;
}

}  // namespace kestrel::icp
