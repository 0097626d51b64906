#include "registration/congruent/segment_closest_params.h"

#include <cmath>

namespace kestrel::registration {

namespace {

constexpr double kSmall = 0.0001;

// Once t sits at an end of U, s is recomputed for that end: the numerator `num` over A,
// clamped to W's ends.
void clamp_s(float num, float a, float& sn, float& sd) {
  if (num < 0) {
    sn = 0;
  } else if (num > a) {
    sn = sd;
  } else {
    sn = num;
    sd = a;
  }
}

}  // namespace

// The classic clamped closest-point construction: solve for the infinite lines, then clamp s
// to its edge and recompute t, then clamp t and recompute s.
SegmentClosest segment_closest_params(const core::Vec3f& w0, const core::Vec3f& w1,
                                      const core::Vec3f& u0, const core::Vec3f& u1) {
  const core::Vec3f ew = (w1 - w0);
  const core::Vec3f eu = (u1 - u0);
  const core::Vec3f g = (w0 - u0);
  const float a = dot(ew, ew);
  const float b = dot(ew, eu);
  const float c = dot(eu, eu);
  const float dw = dot(ew, g);
  const float eu_g = dot(eu, g);
  const float d = a * c - b * b;

  float sn, sd = d, tn, td = d;
  if (static_cast<double>(d) < kSmall) {
    sn = 0;
    sd = 1;
    tn = eu_g;
    td = c;
  } else {
    sn = b * eu_g - c * dw;
    tn = a * eu_g - b * dw;
    if (sn < 0) {
      sn = 0;
      tn = eu_g;
      td = c;
    } else if (sn > sd) {
      sn = sd;
      tn = eu_g + b;
      td = c;
    }
  }
  if (tn < 0) {
    tn = 0;
    clamp_s(-dw, a, sn, sd);
  } else if (tn > td) {
    tn = td;
    clamp_s(b - dw, a, sn, sd);
  }

  SegmentClosest out;
  out.s = std::fabs(static_cast<double>(sn)) < kSmall ? 0.0f : sn / sd;
  out.t = std::fabs(static_cast<double>(tn)) < kSmall ? 0.0f : tn / td;
  const core::Vec3f between = {g[0] + out.s * ew[0] - out.t * eu[0],
                               g[1] + out.s * ew[1] - out.t * eu[1],
                               g[2] + out.s * ew[2] - out.t * eu[2]};
  out.dist = std::sqrt(dot(between, between));
  return out;
}

}  // namespace kestrel::registration
