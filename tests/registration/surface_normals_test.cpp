// Normals fitted in 3D: right direction, one sign per set, and turning with the set.

#include "registration/any_pose/surface_normals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "test_support.h"

namespace kestrel::registration {
namespace {

double dot(const std::array<double, 3>& n, double x, double y, double z) {
  return n[0] * x + n[1] * y + n[2] * z;
}

// Every `stride`-th point of `full`, as the loader thins a working set.
core::PointSet every(const core::PointSet& full, size_t stride) {
  core::PointSet out;
  for (size_t i = 0; i < full.size(); i += stride) out.push_back(full[i]);
  return out;
}

// A hemisphere of radius 50 about the origin, z >= 0, sampled at random.
core::PointSet hemisphere(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> g(0, 1);
  core::PointSet set;
  while (set.size() < n) {
    double x = g(rng), y = g(rng), z = std::fabs(g(rng));
    const double len = std::sqrt(x * x + y * y + z * z);
    if (len < 1e-9) continue;
    set.push_back(test::point(50 * x / len, 50 * y / len, 50 * z / len));
  }
  return set;
}

NormalList normals_of(const core::PointSet& full, const core::PointSet& working) {
  std::vector<std::array<double, 3>> positions;
  for (const core::Point3D& p : full) positions.push_back({p.x, p.y, p.z});
  const PointGrid grid(positions, 1.0);
  return estimate_surface_normals(full, grid, working);
}

TEST(SurfaceNormals, PlaneGetsItsNormalWithOneSign) {
  const core::PointSet full = test::wavy_surface(4000, 5);
  const core::PointSet working = every(full, 10);
  const NormalList normals = normals_of(full, working);
  ASSERT_EQ(normals.size(), working.size());
  // The wavy surface's exact normals come with the points; compare directions and the sign.
  int agree = 0, against = 0;
  for (size_t i = 0; i < working.size(); ++i) {
    const double c = dot(normals[i], working[i].nx, working[i].ny, working[i].nz);
    EXPECT_GT(std::fabs(c), 0.97) << i;
    (c > 0 ? agree : against) += 1;
  }
  EXPECT_TRUE(agree == 0 || against == 0) << agree << " agree, " << against << " against";
}

TEST(SurfaceNormals, CurvedScanIsOrientedConsistentlyAndTurnsWithThePose) {
  const core::PointSet full = hemisphere(6000, 9);
  const core::PointSet working = every(full, 8);
  const NormalList normals = normals_of(full, working);
  int outward = 0;
  for (size_t i = 0; i < working.size(); ++i) {
    const core::Point3D& p = working[i];
    const double c = dot(normals[i], p.x / 50, p.y / 50, p.z / 50);
    EXPECT_GT(std::fabs(c), 0.95) << i;
    outward += c > 0;
  }
  EXPECT_TRUE(outward == 0 || outward == static_cast<int>(working.size())) << outward;

  // The same scan turned and shifted: each normal turns with it, with one sign for all.
  const core::DenseMatrix R = test::rotation(1, 2, -0.5, 117);
  const double t[3] = {30, -70, 12};
  const core::PointSet full2 = test::moved(full, R, t);
  const core::PointSet working2 = test::moved(working, R, t);
  const NormalList turned = normals_of(full2, working2);
  int same = 0;
  for (size_t i = 0; i < working.size(); ++i) {
    const std::array<double, 3>& n = normals[i];
    const double rx = R(0, 0) * n[0] + R(0, 1) * n[1] + R(0, 2) * n[2];
    const double ry = R(1, 0) * n[0] + R(1, 1) * n[1] + R(1, 2) * n[2];
    const double rz = R(2, 0) * n[0] + R(2, 1) * n[1] + R(2, 2) * n[2];
    const double c = dot(turned[i], rx, ry, rz);
    EXPECT_GT(std::fabs(c), 0.999) << i;
    same += c > 0;
  }
  EXPECT_TRUE(same == 0 || same == static_cast<int>(working.size())) << same;
}

TEST(SurfaceNormals, PointsOnALineHaveNoNormal) {
  core::PointSet line;
  for (int i = 0; i < 50; ++i) line.push_back(test::point(i, 2 * i, -i));
  const NormalList normals = normals_of(line, line);
  for (const auto& n : normals) EXPECT_EQ(n, (std::array<double, 3>{0, 0, 0}));
}

}  // namespace
}  // namespace kestrel::registration
