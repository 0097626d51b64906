#pragma once
// Closest points of two 3D segments, in single precision.

#include "core/vec3f.h"

namespace kestrel::registration {

struct SegmentClosest {
  float s = 0;     // parameter of the closest point on W, in [0, 1]
  float t = 0;     // parameter of the closest point on U, in [0, 1]
  float dist = 0;  // distance between the two closest points
};

// Closest points of the segments W = w0->w1 and U = u0->u1 (clamped, not the infinite lines).
// Nearly parallel segments (A*C - B^2 < 1e-4) take s = 0 and project w0 onto U; parameters
// whose numerators are below 1e-4 in magnitude snap to 0.
SegmentClosest segment_closest_params(const core::Vec3f& w0, const core::Vec3f& w1,
                                      const core::Vec3f& u0, const core::Vec3f& u1);

}  // namespace kestrel::registration
