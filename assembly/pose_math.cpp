#include "assembly/pose_math.h"

#include <algorithm>
#include <cmath>

namespace kestrel::assembly {

Matrix4 identity4() {
  Matrix4 m{};
  for (int i = 0; i < 4; ++i) m[i][i] = 1;
  return m;
}

size_t AssemblyResult::placed() const {
  size_t n = 0;
  for (const ScanPlacement& s : scans) n += s.placed;
  return n;
}

Pose pose_of(const core::RigidTransform& m) {
  // p' = R (s (p - c)) + c + t
  Pose out = Pose::Identity();
  for (int r = 0; r < 3; ++r) {
    double shift = m.c[r] + m.t[r];
    for (int k = 0; k < 3; ++k) {
      const double a =
          static_cast<double>(m.s) * m.R(static_cast<uint32_t>(r), static_cast<uint32_t>(k));
      out(r, k) = a;
      shift -= a * m.c[k];
    }
    out(r, 3) = shift;
  }
  return out;
}

Pose pose_of(const Matrix4& m) {
  Pose out;
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) out(r, c) = m[static_cast<size_t>(r)][static_cast<size_t>(c)];
  return out;
}

Matrix4 matrix_of(const Pose& m) {
  Matrix4 out{};
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) out[static_cast<size_t>(r)][static_cast<size_t>(c)] = m(r, c);
  return out;
}

core::RigidTransform transform_of(const Pose& m) {
  core::RigidTransform out;
  for (uint32_t r = 0; r < 3; ++r) {
    for (uint32_t c = 0; c < 3; ++c) out.R(r, c) = m(r, c);
    out.t[r] = m(r, 3);
  }
  return out;
}

Pose translation(const std::array<double, 3>& t) {
  Pose out = Pose::Identity();
  out.block<3, 1>(0, 3) = Eigen::Vector3d(t[0], t[1], t[2]);
  return out;
}

Pose rigid_inverse(const Pose& m) {
  Pose out = Pose::Identity();
  const Eigen::Matrix3d rt = m.block<3, 3>(0, 0).transpose();
  out.block<3, 3>(0, 0) = rt;
  out.block<3, 1>(0, 3) = -rt * m.block<3, 1>(0, 3);
  return out;
}

double degrees_between(const Pose& a, const Pose& b) {
  const Eigen::Matrix3d d = a.block<3, 3>(0, 0).transpose() * b.block<3, 3>(0, 0);
  const double cos = std::clamp((d.trace() - 1) / 2, -1.0, 1.0);
  return std::acos(cos) * 180.0 / M_PI;
}

}  // namespace kestrel::assembly
