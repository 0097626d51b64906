// The two ANN-backed searches against brute force.

#include "registration/congruent/ann_index.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <limits>
#include <random>
#include <vector>

#include "test_support.h"

namespace kestrel::registration {
namespace {

double sq_dist(const core::Point3D& p, double x, double y, double z) {
  const double dx = p.x - x, dy = p.y - y, dz = p.z - z;
  return dx * dx + dy * dy + dz * dz;
}

core::PointSet random_cloud(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(-50, 50);
  core::PointSet set;
  for (size_t k = 0; k < n; ++k) set.push_back(test::point(u(rng), u(rng), u(rng)));
  return set;
}

// ---------------------------------------------------------------- AnnIndex

TEST(AnnIndex, NearestAndSecondNearestMatchBruteForce) {
  for (const uint32_t seed : {1u, 2u, 3u}) {
    SCOPED_TRACE(seed);
    const core::PointSet set = random_cloud(500, seed);
    AnnIndex index;
    index.build(set);
    ASSERT_EQ(index.size(), 500u);
    std::mt19937 rng(seed + 100);
    std::uniform_real_distribution<double> u(-60, 60);
    for (int k = 0; k < 200; ++k) {
      const double x = u(rng), y = u(rng), z = u(rng);
      std::vector<double> d;
      for (const core::Point3D& p : set) d.push_back(sq_dist(p, x, y, z));
      std::sort(d.begin(), d.end());
      EXPECT_DOUBLE_EQ(index.nearest_sq_dist(x, y, z), d[0]);
      EXPECT_DOUBLE_EQ(index.second_nearest_sq_dist(x, y, z), d[1]);
    }
  }
}

TEST(AnnIndex, StoredPointIsItsOwnNearestAndDuplicatesCount) {
  core::PointSet set = {test::point(0, 0, 0), test::point(3, 4, 0), test::point(3, 4, 0)};
  AnnIndex index;
  index.build(set);
  EXPECT_EQ(index.nearest_sq_dist(0, 0, 0), 0.0);
  EXPECT_EQ(index.second_nearest_sq_dist(0, 0, 0), 25.0);
  EXPECT_EQ(index.second_nearest_sq_dist(3, 4, 0), 0.0);
}

TEST(AnnIndex, EmptyOrSinglePointGivesInfinityInsteadOfAborting) {
  const double inf = std::numeric_limits<double>::infinity();
  AnnIndex index;
  EXPECT_TRUE(index.empty());
  EXPECT_EQ(index.nearest_sq_dist(1, 2, 3), inf);
  index.build({test::point(1, 1, 1)});
  EXPECT_EQ(index.nearest_sq_dist(1, 1, 2), 1.0);
  EXPECT_EQ(index.second_nearest_sq_dist(1, 1, 2), inf);
  index.build({});
  EXPECT_TRUE(index.empty());
  EXPECT_EQ(index.nearest_sq_dist(1, 1, 1), inf);
}

TEST(AnnIndex, RebuildReplacesTheOldPoints) {
  AnnIndex index;
  index.build({test::point(0, 0, 0), test::point(1, 0, 0)});
  index.build({test::point(10, 0, 0), test::point(12, 0, 0), test::point(20, 0, 0)});
  EXPECT_EQ(index.size(), 3u);
  EXPECT_EQ(index.nearest_sq_dist(0, 0, 0), 100.0);
  AnnIndex moved = std::move(index);
  EXPECT_EQ(moved.nearest_sq_dist(11, 0, 0), 1.0);
}

// ---------------------------------------------------------------- RadiusIndex

TEST(RadiusIndex, ReturnsExactlyThePointsInsideNearestFirst) {
  const core::PointSet set = random_cloud(400, 7);
  std::vector<std::array<double, 3>> pts;
  for (const core::Point3D& p : set) pts.push_back({p.x, p.y, p.z});
  RadiusIndex index(pts);
  std::mt19937 rng(8);
  std::uniform_real_distribution<double> u(-50, 50);
  for (int k = 0; k < 100; ++k) {
    const double x = u(rng), y = u(rng), z = u(rng), sq_radius = 150.0;
    std::vector<int> expected;
    for (size_t i = 0; i < set.size(); ++i)
      if (sq_dist(set[i], x, y, z) < sq_radius) expected.push_back(static_cast<int>(i));
    std::vector<int> hits = index.search(x, y, z, sq_radius);
    for (size_t h = 1; h < hits.size(); ++h)
      EXPECT_LE(sq_dist(set[static_cast<size_t>(hits[h - 1])], x, y, z),
                sq_dist(set[static_cast<size_t>(hits[h])], x, y, z));
    std::sort(hits.begin(), hits.end());
    EXPECT_EQ(hits, expected);
  }
}

TEST(RadiusIndex, EmptyArrayFindsNothing) {
  RadiusIndex index({});
  EXPECT_TRUE(index.search(0, 0, 0, 1e9).empty());
}

}  // namespace
}  // namespace kestrel::registration
