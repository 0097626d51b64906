#include "registration/congruent/motion_estimation.h"

#include <cassert>
#include <cmath>
#include <limits>

#include "core/vec3f.h"

namespace kestrel::registration {

namespace {

// Orthonormal right-handed frame on three points (single precision). A zero-length edge or a
// third point on the first edge's line falls back to the x axis.
void frame(const core::Vec3f& p0, const core::Vec3f& p1, const core::Vec3f& p2, core::Vec3f& e1,
           core::Vec3f& e2, core::Vec3f& e3) {
  e1 = (p1 - p0);
  const float l1 = std::sqrt(dot(e1, e1));
  if (l1 > 0)
    e1 = {e1[0] / l1, e1[1] / l1, e1[2] / l1};
  else
    e1 = {1, 0, 0};
  const core::Vec3f v = (p2 - p0);
  const float along = dot(e1, v);
  e2 = {v[0] - along * e1[0], v[1] - along * e1[1], v[2] - along * e1[2]};
  const float l2 = std::sqrt(dot(e2, e2));
  if (l2 > 0)
    e2 = {e2[0] / l2, e2[1] / l2, e2[2] / l2};
  else
    e2 = {1, 0, 0};
  e3 = cross(e1, e2);
}

core::Vec3f centroid3(const core::Vec3f& a, const core::Vec3f& b, const core::Vec3f& c) {
  const float third = 0.33333334f;
  return {(a[0] + b[0] + c[0]) * third, (a[1] + b[1] + c[1]) * third, (a[2] + b[2] + c[2]) * third};
}

// Gives each match the Q point whose squared centroid distance is closest to its P point's.
void repair_matches(std::vector<core::PointMatch>& matches, const core::Vec3f& cp,
                    const core::Vec3f& cq) {
  const std::vector<core::PointMatch> copy = matches;
  for (core::PointMatch& target : matches) {
    const core::Vec3f dp_v = cp - core::to_vec3f(target.p);
    const float dp = dot(dp_v, dp_v);
    double best = static_cast<double>(std::numeric_limits<float>::max());
    size_t chosen = 0;
    for (size_t a = 0; a < copy.size(); ++a) {
      const core::Vec3f dq_v = cq - core::to_vec3f(copy[a].q);
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

MotionEstimate estimate_rigid_motion(std::vector<core::PointMatch>& matches, bool repair) {
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
  const core::Vec3f cp = {static_cast<float>(sp[0] / n), static_cast<float>(sp[1] / n),
                          static_cast<float>(sp[2] / n)};
  const core::Vec3f cq = {static_cast<float>(sq[0] / n), static_cast<float>(sq[1] / n),
                          static_cast<float>(sq[2] / n)};
  if (repair) repair_matches(matches, cp, cq);

  const core::Vec3f p0 = core::to_vec3f(matches[0].p), p1 = core::to_vec3f(matches[1].p),
                    p2 = core::to_vec3f(matches[2].p);
  const core::Vec3f q0 = core::to_vec3f(matches[0].q), q1 = core::to_vec3f(matches[1].q),
                    q2 = core::to_vec3f(matches[2].q);
  const core::Vec3f cp3 = centroid3(p0, p1, p2);
  const core::Vec3f cq3 = centroid3(q0, q1, q2);
  core::Vec3f e[3], f[3];
  frame(p0, p1, p2, e[0], e[1], e[2]);
  frame(q0, q1, q2, f[0], f[1], f[2]);

  // R = [e1 e2 e3] [f1 f2 f3]^T takes the Q frame onto the P frame.
  MotionEstimate out;
  core::RigidTransform& m = out.motion;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      double v = 0;
      for (int k = 0; k < 3; ++k) v += static_cast<double>(e[k][i]) * static_cast<double>(f[k][j]);
      m.R(static_cast<uint32_t>(i), static_cast<uint32_t>(j)) = v;
    }
  for (int k = 0; k < 3; ++k) {
    m.c[k] = cq3[k];
    m.t[k] = static_cast<double>(cp3[k]) - cq3[k];
  }
  m.s = 1.0f;

  // Only the three frame matches are measured, but the sum is divided by the match count.
  double sum = 0;
  for (size_t k = 0; k < 3; ++k) {
    const core::Point3D& p = matches[k].p;
    const core::Point3D& q = matches[k].q;
    const double v[3] = {q.x - m.c[0], q.y - m.c[1], q.z - m.c[2]};
    const double w[3] = {p.x - cp3[0], p.y - cp3[1], p.z - cp3[2]};
    double err = 0;
    for (uint32_t i = 0; i < 3; ++i) {
      const double d = m.R(i, 0) * v[0] + m.R(i, 1) * v[1] + m.R(i, 2) * v[2] - w[i];
      err += d * d;
    }
    sum += std::sqrt(err);
  }
  out.residual = sum / n;
  return out;
}

}  // namespace kestrel::registration
