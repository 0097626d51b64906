// Base selection in P and the closest points of two segments.

#include "registration/congruent/base_selection.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>

#include "core/random15.h"
#include "registration/congruent/segment_closest_params.h"
#include "test_support.h"

namespace kestrel::registration {
namespace {

using test::point;

core::PointSet square(double side, double z) {
  return {point(0, 0, z), point(side, 0, z), point(side, side, z), point(0, side, z)};
}

void expect_at(const core::Point3D& p, double x, double y, double z) {
  EXPECT_EQ(p.x, x);
  EXPECT_EQ(p.y, y);
  EXPECT_EQ(p.z, z);
}

struct BaseSelection : ::testing::Test {
  void SetUp() override { rng.seed(0); }
  core::Random15 rng;
  BaseLimits params;
  bool first_selection = true;
  std::optional<Base> base;
  double r1 = -1, r2 = -1;
  int i0 = 0, i1 = 0, i2 = 0, i3 = 0;
  bool select(const core::PointSet& sample) {
    base = select_base(sample, params, first_selection, rng);
    if (!base) return false;
    r1 = base->r1;
    r2 = base->r2;
    i0 = base->index[0], i1 = base->index[1], i2 = base->index[2], i3 = base->index[3];
    return true;
  }
};

// ---------------------------------------------------------------- segment_closest_params

TEST(SegmentClosestParams, SkewSegmentsMeetAtInteriorPoints) {
  const SegmentClosest c = segment_closest_params({0, 0, 0}, {10, 0, 0}, {4, -5, 3}, {4, 5, 3});
  EXPECT_FLOAT_EQ(c.s, 0.4f);
  EXPECT_FLOAT_EQ(c.t, 0.5f);
  EXPECT_FLOAT_EQ(c.dist, 3.0f);
}

TEST(SegmentClosestParams, ParallelSegmentsProjectTheFirstStartPoint) {
  const SegmentClosest c = segment_closest_params({0, 0, 0}, {10, 0, 0}, {-3, 1, 0}, {7, 1, 0});
  EXPECT_EQ(c.s, 0.0f);
  EXPECT_FLOAT_EQ(c.t, 0.3f);
  EXPECT_FLOAT_EQ(c.dist, 1.0f);
}

TEST(SegmentClosestParams, ClampsToTheSegmentEnds) {
  const SegmentClosest c = segment_closest_params({0, 0, 0}, {1, 0, 0}, {3, -1, 2}, {3, 1, 2});
  EXPECT_FLOAT_EQ(c.s, 1.0f);
  EXPECT_FLOAT_EQ(c.t, 0.5f);
  EXPECT_FLOAT_EQ(c.dist, std::sqrt(8.0f));
  const SegmentClosest d = segment_closest_params({0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {5, 0, 0});
  EXPECT_GE(d.s, 0.0f);
  EXPECT_LE(d.s, 1.0f);
  EXPECT_FLOAT_EQ(d.dist, 1.0f);
}

// ---------------------------------------------------------------- split_base

TEST(SplitBase, SquarePairsItsDiagonals) {
  core::PointSet base = square(10, 5);
  double r1 = 0, r2 = 0;
  split_base(base, r1, r2);
  expect_at(base[0], 0, 0, 5);
  expect_at(base[1], 10, 10, 5);
  expect_at(base[2], 10, 0, 5);
  expect_at(base[3], 0, 10, 5);
  EXPECT_DOUBLE_EQ(r1, 0.5);
  EXPECT_DOUBLE_EQ(r2, 0.5);
}

TEST(SplitBase, MovesNormalsWithTheirPoints) {
  core::PointSet base = square(10, 5);
  base[2].nx = 0.25;
  double r1 = 0, r2 = 0;
  split_base(base, r1, r2);
  EXPECT_EQ(base[1].x, 10);
  EXPECT_EQ(base[1].y, 10);
  EXPECT_EQ(base[1].nx, 0.25);
}

// ---------------------------------------------------------------- select_base

TEST_F(BaseSelection, SquareGivesItsDiagonalsAndHalfInvariants) {
  params.base_max_len = 20;
  ASSERT_TRUE(select(square(10, 5)));
  EXPECT_DOUBLE_EQ(r1, 0.5);
  EXPECT_DOUBLE_EQ(r2, 0.5);
  // Every index is used once, and the two segments are the diagonals.
  EXPECT_EQ((1 << i0) | (1 << i1) | (1 << i2) | (1 << i3), 0xF);
  const core::PointSet& b = base->points;
  EXPECT_DOUBLE_EQ(std::hypot(b[0].x - b[1].x, b[0].y - b[1].y), std::hypot(10.0, 10.0));
  EXPECT_DOUBLE_EQ(std::hypot(b[2].x - b[3].x, b[2].y - b[3].y), std::hypot(10.0, 10.0));
}

TEST_F(BaseSelection, PlaneThroughOriginNeverYieldsABase) {
  params.base_max_len = 20;
  EXPECT_FALSE(select(square(10, 0)));
}

TEST_F(BaseSelection, FourthPointCloserThanTenIsRefused) {
  params.base_max_len = 20;
  EXPECT_FALSE(select(square(9.99, 5)));
  rng.seed(0);
  EXPECT_TRUE(select(square(10, 5)));  // exactly 10 is allowed
}

TEST_F(BaseSelection, CentroidLimitAppliesOnlyWithoutMargin) {
  // The fourth corner lies 9.43 from the other three's centroid: beyond 16 / 2.
  params.base_max_len = 16;
  EXPECT_FALSE(select(square(10, 5)));
  params.margin = 1;
  rng.seed(0);
  EXPECT_TRUE(select(square(10, 5)));
}

TEST_F(BaseSelection, TooFewOrNoPointsFailWithoutDrawingModuloZero) {
  params.base_max_len = 100;
  EXPECT_FALSE(select({}));
  EXPECT_FALSE(select({point(1, 2, 3)}));
  EXPECT_FALSE(select({point(1, 2, 3), point(20, 2, 3)}));
  EXPECT_FALSE(base.has_value());
}

TEST_F(BaseSelection, TriangleEdgesMustBeShorterThanBaseMaxLen) {
  params.base_max_len = 10;  // every edge of the square is at least 10
  int a = 0, b = 0, c = 0;
  EXPECT_FALSE(pick_triangle(square(10, 5), params, first_selection, rng, a, b, c));
  EXPECT_EQ(a, -1);
  EXPECT_EQ(b, -1);
  EXPECT_EQ(c, -1);
}

TEST_F(BaseSelection, WideSurfaceBaseKeepsTheDistanceLimits) {
  const core::PointSet sample = test::wavy_surface(500, 3);
  params.base_max_len = 80;
  for (int trial = 0; trial < 20; ++trial) {
    ASSERT_TRUE(select(sample));
    const core::Point3D* tri[3] = {&sample[static_cast<size_t>(i0)],
                                   &sample[static_cast<size_t>(i1)],
                                   &sample[static_cast<size_t>(i2)]};
    const core::Point3D& fourth = sample[static_cast<size_t>(i3)];
    double mx = 0, my = 0, mz = 0;
    for (const core::Point3D* v : tri) {
      EXPECT_GE(std::hypot(fourth.x - v->x, fourth.y - v->y, fourth.z - v->z), 10.0);
      mx += v->x / 3;
      my += v->y / 3;
      mz += v->z / 3;
    }
    EXPECT_LE(std::hypot(fourth.x - mx, fourth.y - my, fourth.z - mz), 40.0);
    EXPECT_GE(r1, 0.0);
    EXPECT_LE(r1, 1.0);
  }
}

// ---------------------------------------------------------------- first vertex modes

core::PointSet line_of_points(double x0, double dx, size_t n) {
  core::PointSet set;
  for (size_t k = 0; k < n; ++k)
    set.push_back(point(x0 + dx * static_cast<double>(k), static_cast<double>(k % 3) * 7,
                        static_cast<double>(k % 5) * 3 + 1));
  return set;
}

TEST_F(BaseSelection, FirstSelectionWithMarginOneStartsAtLargestX) {
  const core::PointSet sample = line_of_points(0, 1, 20);
  params.base_max_len = 1000;
  params.margin = 1;
  int a = 0, b = 0, c = 0;
  ASSERT_TRUE(pick_triangle(sample, params, first_selection, rng, a, b, c));
  EXPECT_EQ(a, 19);
  EXPECT_FALSE(first_selection);
}

TEST_F(BaseSelection, FirstSelectionWithMarginTwoStartsAtSmallestX) {
  const core::PointSet sample = line_of_points(0, 1, 20);
  params.base_max_len = 1000;
  params.margin = 2;
  int a = 0, b = 0, c = 0;
  ASSERT_TRUE(pick_triangle(sample, params, first_selection, rng, a, b, c));
  EXPECT_EQ(a, 0);
}

TEST_F(BaseSelection, UnbeatableStartValueFallsBackToTheFirstDraw) {
  params.base_max_len = 1e9f;
  for (const int mode : {1, 2}) {
    SCOPED_TRACE(mode);
    // Every x is beyond the start value of its mode, so no draw ever wins.
    const core::PointSet sample =
        mode == 1 ? line_of_points(-3e6, 1, 20) : line_of_points(2e5, 1, 20);
    rng.seed(0);
    const int first_draw = rng.next() % 20;
    rng.seed(0);
    first_selection = true;
    params.margin = mode;
    int a = 0, b = 0, c = 0;
    ASSERT_TRUE(pick_triangle(sample, params, first_selection, rng, a, b, c));
    EXPECT_EQ(a, first_draw);
  }
}

TEST_F(BaseSelection, LaterSelectionsWithMarginDrawTheModeAnew) {
  const core::PointSet sample = line_of_points(0, 1, 20);
  params.base_max_len = 1000;
  params.margin = 1;
  first_selection = false;
  rng.seed(0);
  const int mode = rng.next() % 3;
  rng.seed(0);
  int a = 0, b = 0, c = 0;
  ASSERT_TRUE(pick_triangle(sample, params, first_selection, rng, a, b, c));
  if (mode == 1) EXPECT_EQ(a, 19);
  if (mode == 2) EXPECT_EQ(a, 0);
}

}  // namespace
}  // namespace kestrel::registration
