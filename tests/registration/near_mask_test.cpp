// The near-mask against the exact "within the radius of some point" question.

#include "registration/any_pose/near_mask.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <utility>
#include <vector>

namespace kestrel::registration {
namespace {

using Points = std::vector<std::array<double, 3>>;

Points random_points(size_t n, uint32_t seed, const double half[3], const double centre[3]) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(-1, 1);
  Points pts;
  for (size_t k = 0; k < n; ++k) {
    std::array<double, 3> p;
    for (int a = 0; a < 3; ++a) p[a] = centre[a] + half[a] * u(rng);
    pts.push_back(p);
  }
  return pts;
}

double nearest_distance(const Points& pts, double x, double y, double z) {
  double best = std::numeric_limits<double>::infinity();
  for (const auto& p : pts) {
    const double dx = p[0] - x, dy = p[1] - y, dz = p[2] - z;
    best = std::min(best, dx * dx + dy * dy + dz * dz);
  }
  return std::sqrt(best);
}

// Asks `count` random queries in the points' box widened by twice the radius. The mask must
// say near below the radius less half a cell diagonal, and far beyond the radius (or half a
// diagonal, for cells coarser than the radius) plus half a diagonal. Returns how many queries
// were checked on each side.
std::pair<int, int> expect_exact_outside_shell(const Points& pts, double radius,
                                               const double half[3], const double centre[3],
                                               uint32_t seed, int count) {
  const NearMask mask(pts, radius);
  const double h = 0.5 * std::sqrt(3.0) * mask.cell();
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(-1, 1);
  int near = 0, far = 0;
  for (int k = 0; k < count; ++k) {
    double q[3];
    for (int a = 0; a < 3; ++a) q[a] = centre[a] + (half[a] + 2 * radius) * u(rng);
    const double d = nearest_distance(pts, q[0], q[1], q[2]);
    const bool is_near = mask.near(q[0], q[1], q[2]);
    if (d < radius - h) {
      ++near;
      EXPECT_TRUE(is_near) << "query (" << q[0] << ", " << q[1] << ", " << q[2] << ") at " << d
                           << " radius " << radius << " cell " << mask.cell();
    } else if (d > std::max(radius, h) + h) {
      ++far;
      EXPECT_FALSE(is_near) << "query (" << q[0] << ", " << q[1] << ", " << q[2] << ") at " << d
                            << " radius " << radius << " cell " << mask.cell();
    }
  }
  return {near, far};
}

// ---------------------------------------------------------------- exactness

TEST(NearMask, ExactAwayFromTheRadiusOnScatteredPoints) {
  const double half[3] = {30, 20, 10}, centre[3] = {-7, 300, 12};
  const Points pts = random_points(1500, 9, half, centre);
  for (const double radius : {1.0, 3.0, 7.5}) {
    SCOPED_TRACE(testing::Message() << "radius " << radius);
    const NearMask mask(pts, radius);
    EXPECT_LE(mask.cell(), radius / 4 * (1 + 1e-12));
    const auto [near, far] = expect_exact_outside_shell(pts, radius, half, centre, 17, 4000);
    EXPECT_GT(near, 100);
    EXPECT_GT(far, 100);
  }
}

TEST(NearMask, EveryPointIsNearItselfAndFarBeyondTheShell) {
  const double half[3] = {50, 50, 2}, centre[3] = {0, 0, 0};
  const Points pts = random_points(300, 2, half, centre);
  const NearMask mask(pts, 2.0);
  const double shell = 0.5 * std::sqrt(3.0) * mask.cell();
  for (const auto& p : pts) {
    EXPECT_TRUE(mask.near(p[0], p[1], p[2]));
    // Straight above the layer, clear of the radius and the shell.
    EXPECT_FALSE(mask.near(p[0], p[1], 2 + 2.0 + shell + 1e-6));
  }
}

// ---------------------------------------------------------------- outside and degenerate

TEST(NearMask, OutsideTheBoxNaNAndEmptyMasksSayFar) {
  const Points pts = {{0, 0, 0}, {10, 0, 0}};
  const NearMask mask(pts, 1.0);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_TRUE(mask.near(0.1, 0.1, 0.1));
  EXPECT_TRUE(mask.near(10.2, 0, 0));
  EXPECT_FALSE(mask.near(5, 0, 0));
  EXPECT_FALSE(mask.near(-3, 0, 0));
  EXPECT_FALSE(mask.near(13, 0, 0));
  EXPECT_FALSE(mask.near(0, 1e9, 0));
  EXPECT_FALSE(mask.near(0, 0, -1e300));
  EXPECT_FALSE(mask.near(nan, 0, 0));
  EXPECT_FALSE(mask.near(0, nan, 0));
  EXPECT_FALSE(mask.near(0, 0, nan));
  EXPECT_FALSE(mask.near(inf, 0, 0));
  EXPECT_FALSE(mask.near(-inf, 0, 0));
  EXPECT_FALSE(NearMask({}, 1.0).near(0, 0, 0));
  EXPECT_FALSE(NearMask(pts, 0.0).near(0, 0, 0));
  EXPECT_FALSE(NearMask(pts, nan).near(0, 0, 0));
}

// ---------------------------------------------------------------- large boxes

TEST(NearMask, LargeBoxCoarsensAndStaysExactAwayFromTheShell) {
  // 2000 radii across in x and y: cells of a quarter radius would number 6e10.
  const double half[3] = {1000, 1000, 5}, centre[3] = {0, 0, 0};
  const Points pts = random_points(20000, 5, half, centre);
  const NearMask mask(pts, 1.0);
  const double cells = (2000 + 2) * (2000 + 2) * (10 + 2) / std::pow(mask.cell(), 3);
  EXPECT_LT(cells, 20e6);
  // Cells wider than the radius still leave every point near itself.
  for (const auto& p : pts) ASSERT_TRUE(mask.near(p[0], p[1], p[2])) << "cell " << mask.cell();
  EXPECT_GT(expect_exact_outside_shell(pts, 1.0, half, centre, 23, 2000).second, 1000);
}

}  // namespace
}  // namespace kestrel::registration
