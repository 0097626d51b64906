#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>

#include "icp/icp_steps.h"
#include "icp/icp_timer.h"
#include "icp/select_pairs.h"

namespace kestrel::icp {

namespace {

// A pivot below this share of the trace counts as zero: the pairs determine no rotation about
// some axis (all r on one line, or all at the centroid).
constexpr float kSingularPivot = 1e-5f;

// Solves the symmetric system A x = b by an LDL^T factorisation; false when A is not
// (numerically) positive definite.
bool ldlt_solve(const float (&a)[3][3], const float (&b)[3], float (&x)[3]) {
  const float tiny = kSingularPivot * (a[0][0] + a[1][1] + a[2][2]);
  float l[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  float d[3];
  for (int i = 0; i < 3; ++i) {
    float di = a[i][i];
    for (int k = 0; k < i; ++k) di -= l[i][k] * l[i][k] * d[k];
    if (!(di > tiny)) return false;
    d[i] = di;
    for (int j = i + 1; j < 3; ++j) {
      float v = a[j][i];
      for (int k = 0; k < i; ++k) v -= l[j][k] * l[i][k] * d[k];
      l[j][i] = v / di;
    }
  }
  float y[3];
  for (int i = 0; i < 3; ++i) {
    y[i] = b[i];
    for (int k = 0; k < i; ++k) y[i] -= l[i][k] * y[k];
  }
  for (int i = 2; i >= 0; --i) {
    x[i] = y[i] / d[i];
    for (int k = i + 1; k < 3; ++k) x[i] -= l[k][i] * x[k];
  }
  return true;
}

}  // namespace

float step_point_to_point(IcpStep& step, bool translation_only) {
  const int verbose = step.verbose;
  float& incr = step.incr;
  float& maxdist = step.maxdist;
  PointPairs pairs;
  const float thr2 = sample_step_pairs(step, kPointToPointRejection, pairs);
  IcpClock::time_point t = IcpClock::now();
  const size_t min_pairs = translation_only ? 1 : 8;
  if (pairs.size() < min_pairs) {
    if (verbose) std::fprintf(stderr, "Too few point pairs.\n");
    return -1.0f;
  }

  const float npairs = static_cast<float>(pairs.size());
  incr = incr * npairs / 50.0f;
  maxdist = std::max(1.5f * std::sqrt(thr2), 0.7f * maxdist);

  Vec3f c1, c2;
  for (const PointPair& pp : pairs) {
    c1 += pp.p1;
    c2 += pp.p2;
  }
  c1 /= npairs;
  c2 /= npairs;
  float err = 0;
  float b[3] = {0, 0, 0};
  float a[3][3] = {};
  for (const PointPair& pp : pairs) {
    Vec3f d = pp.p1 - pp.p2;
    Vec3f r = pp.p2 - c2;
    err += len2(d);
    Vec3f rxd = cross(r, d);
    float r2 = len2(r);
    for (int i = 0; i < 3; ++i) {
      b[i] += rxd[i];
      for (int j = 0; j < 3; ++j) a[i][j] += (i == j ? r2 : 0.0f) - r[i] * r[j];
    }
  }
  const float rms = std::sqrt(err / npairs);
  if (verbose > 1) std::fprintf(stderr, "RMS point-to-point error = %f\n", double(rms));

  Xform motion = xform_translation(c1.x - c2.x, c1.y - c2.y, c1.z - c2.z);
  float w[3];
  if (!translation_only && ldlt_solve(a, b, w)) {
    motion = xform_translation(c1.x, c1.y, c1.z) * axis_rotation(w[0], 1, 0, 0) *
             axis_rotation(w[1], 0, 1, 0) * axis_rotation(w[2], 0, 0, 1) *
             xform_translation(-c2.x, -c2.y, -c2.z);
  }
  step.xf2 = motion * step.xf2;
  if (verbose > 1) std::fprintf(stderr, "Computed xform in %.2f msec.\n", elapsed_ms(t));
  return rms;
}

}  // namespace kestrel::icp
