// Congruent quads in Q for a rectangle base whose diagonals cross at their midpoints.

#include "registration/congruent/quad_search.h"

#include <gtest/gtest.h>

#include <vector>

#include "test_support.h"

namespace kestrel::registration {
namespace {

using test::point;

// b0 = (0,0,5), b1 = (20,10,5) and b2 = (20,0,5), b3 = (0,10,5): the diagonals, r1 = r2 = 0.5.
// Cross distances D02 = D13 = 20, D03 = D12 = 10.
struct QuadSearch : ::testing::Test {
  core::PointSet base = {point(0, 0, 5), point(20, 10, 5), point(20, 0, 5), point(0, 10, 5)};
  core::PointSet q = base;
  std::vector<core::IndexPair> d1 = {{0, 1}, {1, 0}};
  std::vector<core::IndexPair> d2 = {{2, 3}, {3, 2}};
  std::vector<core::CongruentQuad> quads;
  bool search(double tol, double radius) {
    return find_congruent_quads(d1, d2, quads, 0.5, 0.5, tol, radius, q, base);
  }
};

TEST_F(QuadSearch, FindsTheBaseAndItsHalfTurnGroupedByD2Pair) {
  ASSERT_TRUE(search(1.0, 0.5));
  // Per d2 pair: the r1 query and the r2 query each hit both midpoints of the matching d1 pair.
  ASSERT_EQ(quads.size(), 8u);
  for (size_t k = 0; k < 4; ++k) {
    EXPECT_EQ(quads[k].q0, 0u);
    EXPECT_EQ(quads[k].q1, 1u);
    EXPECT_EQ(quads[k].q2, 2u);
    EXPECT_EQ(quads[k].q3, 3u);
  }
  for (size_t k = 4; k < 8; ++k) {
    EXPECT_EQ(quads[k].q0, 1u);
    EXPECT_EQ(quads[k].q1, 0u);
    EXPECT_EQ(quads[k].q2, 3u);
    EXPECT_EQ(quads[k].q3, 2u);
  }
}

TEST_F(QuadSearch, CrossDistanceToleranceIsStrict) {
  q[3].y = 12;  // |q3 - q0| = 12: off D03 = 10 by exactly 2
  EXPECT_FALSE(search(1.0, 4.0));
  EXPECT_TRUE(quads.empty());
  EXPECT_TRUE(search(1.001, 4.0));
  EXPECT_EQ(quads[0].q0, 0u);
  EXPECT_EQ(quads[0].q3, 3u);
}

TEST_F(QuadSearch, SearchRadiusIsUsedAsASquaredDistance) {
  q[2].z += 0.7;  // the d2 midpoint sits 0.7 above the d1 midpoint: squared 0.49
  q[3].z += 0.7;
  EXPECT_TRUE(search(1.0, 0.5));
  EXPECT_FALSE(search(1.0, 0.45));
  EXPECT_TRUE(quads.empty());
}

TEST_F(QuadSearch, EmptyPairListOrStaleOutputGivesFalse) {
  quads.push_back({9, 9, 9, 9});
  d2.clear();
  EXPECT_FALSE(search(1.0, 0.5));
  EXPECT_TRUE(quads.empty());
}

TEST_F(QuadSearch, MovedCopyOfTheBaseIsFoundInALargerQ) {
  double t[3] = {3, -7, 11};
  q = test::moved(base, test::rotation(1, 2, 3, 40), t);
  // Distractors far from the base's intersection point.
  q.push_back(point(300, 0, 0));
  q.push_back(point(310, 10, 0));
  d1 = {{0, 1}, {1, 0}, {4, 5}, {5, 4}};
  ASSERT_TRUE(search(0.01, 0.01));
  for (const core::CongruentQuad& quad : quads) {
    EXPECT_LT(quad.q0, 4u);
    EXPECT_LT(quad.q1, 4u);
  }
  EXPECT_EQ(quads[0].q0, 0u);
  EXPECT_EQ(quads[0].q1, 1u);
}

}  // namespace
}  // namespace kestrel::registration
