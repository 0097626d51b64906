#pragma once
// Shared scenes for the registration tests: a smooth wavy surface with exact normals, known
// rigid motions, and a state loaded the way the program loads its models.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>

#include "core/dense_matrix.h"
#include "core/point_set.h"
#include "core/random15.h"
#include "registration/congruent/point_spacing.h"
#include "registration/records.h"

namespace kestrel::registration::test {

constexpr double kPi = 3.14159265358979323846;

inline core::Point3D point(double x, double y, double z) {
  core::Point3D p;
  p.x = x;
  p.y = y;
  p.z = z;
  return p;
}

// `n` random points of z = 6 sin(x / 20) cos(y / 17) over [x0, x1] x [-50, 50] (model units,
// spacing about that of a subsampled scan), with unit normals.
inline core::PointSet wavy_surface(size_t n, uint32_t seed, double x0 = -50, double x1 = 50) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> ux(x0, x1), uy(-50, 50);
  core::PointSet set;
  for (size_t k = 0; k < n; ++k) {
    const double x = ux(rng), y = uy(rng);
    core::Point3D p = point(x, y, 6 * std::sin(x / 20) * std::cos(y / 17));
    const double gx = 6.0 / 20 * std::cos(x / 20) * std::cos(y / 17);
    const double gy = -6.0 / 17 * std::sin(x / 20) * std::sin(y / 17);
    const double len = std::sqrt(gx * gx + gy * gy + 1);
    p.nx = -gx / len;
    p.ny = -gy / len;
    p.nz = 1 / len;
    set.push_back(p);
  }
  return set;
}

// Rotation by `degrees` about the axis (ax, ay, az) (normalised here).
inline core::DenseMatrix rotation(double ax, double ay, double az, double degrees) {
  const double len = std::sqrt(ax * ax + ay * ay + az * az);
  ax /= len;
  ay /= len;
  az /= len;
  const double a = degrees * kPi / 180, c = std::cos(a), s = std::sin(a), C = 1 - c;
  core::DenseMatrix R(3, 3);
  R(0, 0) = c + ax * ax * C;
  R(0, 1) = ax * ay * C - az * s;
  R(0, 2) = ax * az * C + ay * s;
  R(1, 0) = ay * ax * C + az * s;
  R(1, 1) = c + ay * ay * C;
  R(1, 2) = ay * az * C - ax * s;
  R(2, 0) = az * ax * C - ay * s;
  R(2, 1) = az * ay * C + ax * s;
  R(2, 2) = c + az * az * C;
  return R;
}

// Every fourth point of `p` beyond x = 25: a strip of P's surface that a scan shares with it.
inline core::PointSet shared_strip(const core::PointSet& p) {
  core::PointSet strip;
  for (size_t i = 0; i < p.size(); i += 4)
    if (p[i].x > 25) strip.push_back(p[i]);
  return strip;
}

// Adds 700 points, with their normals, of a wall x = x0 + y / 10 standing across the wavy
// surface's waves: the part of a scan beyond a small overlap, crossing its neighbour.
inline void add_crossing_wall(core::PointSet& q, double x0) {
  std::mt19937 rng(9);
  std::uniform_real_distribution<double> u(-1, 1);
  for (int k = 0; k < 700; ++k) {
    const double y = 50 * u(rng);
    core::Point3D w = point(x0 + 0.1 * y, y, 12 * u(rng));
    w.nx = 1 / std::sqrt(1.01), w.ny = -0.1 / std::sqrt(1.01), w.nz = 0;
    q.push_back(w);
  }
}

// p -> R p + t for positions; normals are turned by R.
inline core::PointSet moved(const core::PointSet& set, const core::DenseMatrix& R,
                            const double t[3]) {
  core::PointSet out = set;
  for (core::Point3D& p : out) {
    const double v[3] = {p.x, p.y, p.z}, n[3] = {p.nx, p.ny, p.nz};
    double w[3], m[3];
    for (uint32_t i = 0; i < 3; ++i) {
      w[i] = R(i, 0) * v[0] + R(i, 1) * v[1] + R(i, 2) * v[2] + t[i];
      m[i] = R(i, 0) * n[0] + R(i, 1) * n[1] + R(i, 2) * n[2];
    }
    p.x = w[0], p.y = w[1], p.z = w[2];
    p.nx = m[0], p.ny = m[1], p.nz = m[2];
  }
  return out;
}

// Angle in degrees of the rotation A B^T (0 when A = B).
inline double angle_between(const core::DenseMatrix& A, const core::DenseMatrix& B) {
  double trace = 0;
  for (uint32_t i = 0; i < 3; ++i)
    for (uint32_t k = 0; k < 3; ++k) trace += A(i, k) * B(i, k);
  const double c = std::max(-1.0, std::min(1.0, (trace - 1) / 2));
  return std::acos(c) * 180 / kPi;
}

// The same motion to the bit: rotation and translation.
inline void expect_same_motion(const core::RigidTransform& a, const core::RigidTransform& b) {
  EXPECT_EQ(a.R.data, b.R.data);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(a.t[k], b.t[k]);
}

// P and Q as the program hands them to the engine: the tree and the spacing over P.
struct Scene {
  core::PointSet p, q;
  AnnIndex p_index;
  float point_spacing = 1;
  EngineInputs inputs() const { return {p, p_index, point_spacing, q}; }
};

inline void load_models(Scene& scene, const core::PointSet& p, const core::PointSet& q) {
  scene.p = p;
  scene.p_index.build(p);
  core::Random15 rng;
  scene.point_spacing = static_cast<float>(estimate_point_spacing(p, scene.p_index, rng) * 0.5);
  scene.q = q;
}

// The settings as the program's idle refresh leaves them for a given model extent.
inline void refresh_like_program(EngineOptions& options, float model_extent,
                                 float overlap = 0.55f) {
  options.base_max_len = overlap * model_extent * 2;
  const double o4 = std::pow(static_cast<double>(overlap), 4);
  const auto trials = static_cast<int>(std::log(0.00001) / std::log(1 - o4));
  options.num_try = static_cast<int>(trials * 80.0 / options.base_max_len);
  if (options.num_try < 4) options.num_try = 4;
  options.thr = overlap;
}

}  // namespace kestrel::registration::test
