// The grid's fixed-radius answers against brute force.

#include "registration/point_grid.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace kestrel::registration {
namespace {

using Points = std::vector<std::array<double, 3>>;

Points random_points(size_t n, uint32_t seed, double half) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(-half, half);
  Points pts;
  for (size_t k = 0; k < n; ++k) pts.push_back({u(rng), u(rng), u(rng)});
  return pts;
}

std::vector<int> brute_within(const Points& pts, double x, double y, double z, double sq_r) {
  std::vector<int> out;
  for (size_t i = 0; i < pts.size(); ++i) {
    const double dx = pts[i][0] - x, dy = pts[i][1] - y, dz = pts[i][2] - z;
    if (dx * dx + dy * dy + dz * dz < sq_r) out.push_back(static_cast<int>(i));
  }
  return out;
}

TEST(PointGrid, FindsExactlyThePointsWithinTheRadius) {
  // The query radius is the cell size, smaller, and larger than it (the grid must look further).
  for (const double cell : {1.0, 4.0, 15.0}) {
    for (const double r : {0.5, 4.0, 9.0}) {
      SCOPED_TRACE(testing::Message() << "cell " << cell << " radius " << r);
      const Points pts = random_points(2000, 7, 30);
      const PointGrid grid(pts, cell);
      std::mt19937 rng(3);
      std::uniform_real_distribution<double> u(-40, 40);  // some queries lie outside the box
      for (int k = 0; k < 300; ++k) {
        const double x = u(rng), y = u(rng), z = u(rng);
        std::vector<int> got;
        grid.for_each_within(x, y, z, r * r, [&got](int i) { got.push_back(i); });
        std::sort(got.begin(), got.end());
        const std::vector<int> want = brute_within(pts, x, y, z, r * r);
        EXPECT_EQ(got, want);
        EXPECT_EQ(grid.any_within(x, y, z, r * r), !want.empty());
      }
    }
  }
}

TEST(PointGrid, BoundaryIsStrictAndDegenerateInputsFindNothing) {
  const Points pts = {{0, 0, 0}, {3, 4, 0}, {3, 4, 0}};
  const PointGrid grid(pts, 1.0);
  EXPECT_FALSE(grid.any_within(0, 0, 0, 0.0));         // radius 0: strict, nothing
  EXPECT_FALSE(grid.any_within(6, 8, 0, 25.0));        // exactly at distance 5
  EXPECT_TRUE(grid.any_within(6, 8, 0, 25.0001));
  int count = 0;
  grid.for_each_within(3, 4, 0, 0.01, [&count](int) { ++count; });
  EXPECT_EQ(count, 2);                                 // duplicates are both found
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_FALSE(grid.any_within(nan, 0, 0, 100.0));
  EXPECT_FALSE(PointGrid({}, 1.0).any_within(0, 0, 0, 100.0));
}

TEST(PointGrid, HugeBoxWithTinyCellsStaysSmallAndExact) {
  // 1e6 units across with cells of 1e-3 would need 1e27 cells; the grid coarsens instead.
  Points pts = random_points(500, 11, 5e5);
  pts.push_back({1.0, 1.0, 1.0});
  const PointGrid grid(pts, 1e-3);
  EXPECT_TRUE(grid.any_within(1.0, 1.0, 1.0005, 1e-6));
  EXPECT_FALSE(grid.any_within(1.0, 1.0, 1.002, 1e-6));
}

}  // namespace
}  // namespace kestrel::registration
