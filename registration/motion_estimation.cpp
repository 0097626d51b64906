#include "registration/motion_estimation.h"

#include <cassert>
#include <cmath>
#include <limits>

#include "registration/float3.h"

namespace kestrel::registration {

namespace {

// Orthonormal right-handed frame on three points (single precision). A zero-length edge or a
// third point on the first edge's line falls back to the x axis.
void frame(const Float3& p0, const Float3& p1, const Float3& p2, Float3& e1, Float3& e2,
           Float3& e3) {
  e1 = sub(p1, p0);
  const float l1 = std::sqrt(dot(e1, e1));
  if (l1 > 0)
    e1 = {e1[0] / l1, e1[1] / l1, e1[2] / l1};
  else
    e1 = {1, 0, 0};
  const Float3 v = sub(p2, p0);
  const float along = dot(e1, v);
  e2 = {v[0] - along * e1[0], v[1] - along * e1[1], v[2] - along * e1[2]};
  const float l2 = std::sqrt(dot(e2, e2));
  if (l2 > 0)
    e2 = {e2[0] / l2, e2[1] / l2, e2[2] / l2};
  else
    e2 = {1, 0, 0};
  e3 = cross(e1, e2);
}

Float3 centroid3(const Float3& a, const Float3& b, const Float3& c) {
  const float third = 0.33333334f;
  return {(a[0] + b[0] + c[0]) * third, (a[1] + b[1] + c[1]) * third, (a[2] + b[2] + c[2]) * third};
}

// Gives each match the Q point whose squared centroid distance is closest to its P point's.
void repair_matches(std::vector<core::PointMatch>& matches, const Float3& cp, const Float3& cq) {
  const std::vector<core::PointMatch> copy = matches;
  for (core::PointMatch& target : matches) {
    const Float3 dp_v = sub(cp, to_float3(target.p));
    const float dp = dot(dp_v, dp_v);
    double best = static_cast<double>(std::numeric_limits<float>::max());
    size_t chosen = 0;
    for (size_t a = 0; a < copy.size(); ++a) {
      const Float3 dq_v = sub(cq, to_float3(copy[a].q));
      const float dq = dot(dq_v, dq_v);
      const double diff = std::fabs(static_cast<double>(dp) - static_cast<double>(dq));
      if (diff < best) {
        best = diff;
        chosen = a;
      }
    }
    target.q = copy[chosen].q;
  }
}

}  // namespace

double estimate_rigid_motion(std::vector<core::PointMatch>& matches, core::DenseMatrix& R,
                             double& tx, double& ty, double& tz, double& cx, double& cy, double& cz,
                             float& s, bool ransac_mode) {
  assert(matches.size() >= 3 && "motion estimation needs at least three matches");
  const double n = static_cast<double>(matches.size());
  double sp[3] = {0, 0, 0}, sq[3] = {0, 0, 0};
  for (const core::PointMatch& m : matches) {
    sp[0] += m.p.x;
    sp[1] += m.p.y;
    sp[2] += m.p.z;
    sq[0] += m.q.x;
    sq[1] += m.q.y;
    sq[2] += m.q.z;
  }
  const Float3 cp = {static_cast<float>(sp[0] / n), static_cast<float>(sp[1] / n),
                     static_cast<float>(sp[2] / n)};
  const Float3 cq = {static_cast<float>(sq[0] / n), static_cast<float>(sq[1] / n),
                     static_cast<float>(sq[2] / n)};
  if (!ransac_mode) repair_matches(matches, cp, cq);

  const Float3 p0 = to_float3(matches[0].p), p1 = to_float3(matches[1].p),
               p2 = to_float3(matches[2].p);
  const Float3 q0 = to_float3(matches[0].q), q1 = to_float3(matches[1].q),
               q2 = to_float3(matches[2].q);
  const Float3 cp3 = centroid3(p0, p1, p2);
  const Float3 cq3 = centroid3(q0, q1, q2);
  Float3 e[3], f[3];
  frame(p0, p1, p2, e[0], e[1], e[2]);
  frame(q0, q1, q2, f[0], f[1], f[2]);

  // R = [e1 e2 e3] [f1 f2 f3]^T takes the Q frame onto the P frame.
  if (R.rows != 3 || R.cols != 3) R = core::DenseMatrix(3, 3);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      double v = 0;
      for (int k = 0; k < 3; ++k) v += static_cast<double>(e[k][i]) * static_cast<double>(f[k][j]);
      R(static_cast<uint32_t>(i), static_cast<uint32_t>(j)) = v;
    }
  cx = cq3[0];
  cy = cq3[1];
  cz = cq3[2];
  tx = static_cast<double>(cp3[0]) - cq3[0];
  ty = static_cast<double>(cp3[1]) - cq3[1];
  tz = static_cast<double>(cp3[2]) - cq3[2];
  s = 1.0f;

  // Only the three frame matches are measured, but the sum is divided by the match count.
  double sum = 0;
  for (size_t k = 0; k < 3; ++k) {
    const core::Point3D& p = matches[k].p;
    const core::Point3D& q = matches[k].q;
    const double v[3] = {q.x - cx, q.y - cy, q.z - cz};
    const double w[3] = {p.x - cp3[0], p.y - cp3[1], p.z - cp3[2]};
    double err = 0;
    for (uint32_t i = 0; i < 3; ++i) {
      const double d = R(i, 0) * v[0] + R(i, 1) * v[1] + R(i, 2) * v[2] - w[i];
      err += d * d;
    }
    sum += std::sqrt(err);
  }
  return sum / n;
}

}  // namespace kestrel::registration
