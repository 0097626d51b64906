#pragma once
// Single-precision 3-vectors for the steps that deliberately round to float (triangle test,
// segment pairing, motion frames).

#include <array>
#include <cmath>

#include "core/point_set.h"

namespace kestrel::registration {

using Float3 = std::array<float, 3>;

inline Float3 to_float3(const core::Point3D& p) {
  return {static_cast<float>(p.x), static_cast<float>(p.y), static_cast<float>(p.z)};
}
inline Float3 sub(const Float3& a, const Float3& b) {
  return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}
inline float dot(const Float3& a, const Float3& b) {
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}
inline Float3 cross(const Float3& a, const Float3& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
inline float length(const Float3& a) {
  return std::sqrt(dot(a, a));
}

}  // namespace kestrel::registration
