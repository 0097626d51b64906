#pragma once
// Scans for the assembly tests: the example bunny scans thinned (so a whole assembly stays
// quick, also under the sanitizers), each moved by a seeded random motion, with the pose that
// takes each moved scan into the world; and a bumpy sheet that belongs to no bunny.

#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "core/face.h"
#include "core/point_file.h"
#include "core/point_set.h"

namespace kestrel::testing {

struct TestScan {
  std::string name;
  core::PointSet points;
  Eigen::Matrix4d world;  // the scan's points into the world
};

inline Eigen::Matrix4d random_motion(std::mt19937& rng, const Eigen::Vector3d& about) {
  std::normal_distribution<double> normal;
  Eigen::Quaterniond q(normal(rng), normal(rng), normal(rng), normal(rng));
  q.normalize();
  Eigen::Matrix4d m = Eigen::Matrix4d::Identity();
  m.block<3, 3>(0, 0) = q.toRotationMatrix();
  const Eigen::Vector3d shift(normal(rng) * 40, normal(rng) * 40, normal(rng) * 40);
  m.block<3, 1>(0, 3) = about - q.toRotationMatrix() * about + shift;
  return m;
}

inline void move(core::PointSet& set, const Eigen::Matrix4d& m) {
  for (core::Point3D& p : set) {
    const Eigen::Vector3d v = (m * Eigen::Vector4d(p.x, p.y, p.z, 1)).head<3>();
    p.x = v[0], p.y = v[1], p.z = v[2];
  }
}

// Example scan `name` (bun000 ...), every `keep`th point, moved by a random motion from `rng`.
inline TestScan bunny_scan(const std::string& name, size_t keep, std::mt19937& rng) {
  const std::string dir = KESTREL_EXAMPLES_DIR;
  core::PointSet all;
  core::FaceList faces;
  std::string error;
  EXPECT_TRUE(core::parse_point_file(dir + "/" + name + ".vrt", all, faces, false, &error))
      << error;
  TestScan s{name, {}, Eigen::Matrix4d::Identity()};
  for (size_t i = 0; i < all.size(); i += keep) s.points.push_back(all[i]);
  std::ifstream gt(dir + "/gt_world/" + name + ".txt");
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) gt >> s.world(r, c);
  Eigen::Vector3d centre = Eigen::Vector3d::Zero();
  for (const core::Point3D& p : s.points) centre += Eigen::Vector3d(p.x, p.y, p.z);
  centre /= static_cast<double>(s.points.size());
  const Eigen::Matrix4d m = random_motion(rng, centre);
  move(s.points, m);
  s.world = s.world * m.inverse();
  return s;
}

// A bumpy sheet about the bunny's size and density: a scan of another object.
inline TestScan other_object(std::mt19937& rng) {
  TestScan s{"sheet", {}, Eigen::Matrix4d::Identity()};
  std::uniform_real_distribution<double> u(-40, 40);
  for (int i = 0; i < 6000; ++i) {
    const double x = u(rng), y = u(rng);
    s.points.push_back({x, y, 6 * std::sin(x / 9) * std::cos(y / 13) + 0.02 * x * y / 8});
  }
  return s;
}

// Rotation error (degrees) and distance at `point` between two motions.
inline std::pair<double, double> motion_error(const Eigen::Matrix4d& found,
                                              const Eigen::Matrix4d& truth,
                                              const Eigen::Vector3d& point) {
  const Eigen::Matrix3d d = found.block<3, 3>(0, 0).transpose() * truth.block<3, 3>(0, 0);
  const double angle = std::acos(std::clamp((d.trace() - 1) / 2, -1.0, 1.0)) * 180 / M_PI;
  const double gap =
      ((found - truth) * Eigen::Vector4d(point[0], point[1], point[2], 1)).head<3>().norm();
  return {angle, gap};
}

inline Eigen::Vector3d centroid(const core::PointSet& set) {
  Eigen::Vector3d c = Eigen::Vector3d::Zero();
  for (const core::Point3D& p : set) c += Eigen::Vector3d(p.x, p.y, p.z);
  return c / static_cast<double>(set.size());
}

}  // namespace kestrel::testing
