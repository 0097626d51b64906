// LCP verification and the point-spacing estimate over P.

#include "registration/lcp.h"

#include <gtest/gtest.h>

#include <string>

#include "core/random15.h"
#include "registration/point_spacing.h"
#include "test_support.h"

namespace kestrel::registration {
namespace {

using test::point;

core::PointSet grid(int nx, int ny, double step, double z = 0) {
  core::PointSet set;
  for (int i = 0; i < nx; ++i)
    for (int j = 0; j < ny; ++j) set.push_back(point(i * step, j * step, z));
  return set;
}

struct Lcp : ::testing::Test {
  core::PointSet p = grid(10, 10, 2.0);
  AnnIndex index;
  void SetUp() override { index.build(p); }
  LcpScore score(const core::PointSet& q, double sq_radius, double best, double tx = 0) {
    return compute_lcp(q, index, core::linear_motion(core::identity_matrix(3), tx), sq_radius,
                       best);
  }
  double lcp(const core::PointSet& q, double sq_radius, double best, double tx = 0) {
    return score(q, sq_radius, best, tx).value;
  }
};

// ---------------------------------------------------------------- compute_lcp

TEST_F(Lcp, IdenticalSetsScoreOneAndZeroRadiusScoresNothing) {
  EXPECT_EQ(lcp(p, 0.01, 0), 1.0);
  EXPECT_EQ(lcp(p, 0.0, 0), 0.0);  // the radius test is strict
}

TEST_F(Lcp, CountsTheFractionOfQThatLandsOnP) {
  core::PointSet q = {point(0, 0, 0.5), point(2, 2, 0.5), point(4, 0, 5), point(6, 6, 5)};
  EXPECT_FLOAT_EQ(static_cast<float>(lcp(q, 1.0, 0)), 0.5f);
  EXPECT_EQ(lcp(q, 0.25, 0), 0.0);  // 0.5^2 is not strictly inside 0.25
  EXPECT_EQ(lcp(q, 25.0001, 0), 1.0);
}

TEST_F(Lcp, MotionIsAppliedToACopyOfQ) {
  core::PointSet q = {point(-10, 0, 0), point(-8, 0, 0)};
  EXPECT_EQ(lcp(q, 0.01, 0), 0.0);
  EXPECT_EQ(lcp(q, 0.01, 0, 10.0), 1.0);
  EXPECT_EQ(q[0].x, -10.0);
}

TEST_F(Lcp, SmallPartOfPCanReachOne) {
  const core::PointSet q(p.begin(), p.begin() + 5);
  EXPECT_EQ(lcp(q, 0.01, 0), 1.0);
}

TEST_F(Lcp, EarlyExitReturnsLessThanBestAndNeverRejectsABetterCandidate) {
  core::PointSet q = p;
  for (size_t k = 0; k < 40; ++k) q[k].z = 50;  // 60 of 100 land on P, the misses come first
  EXPECT_FLOAT_EQ(static_cast<float>(lcp(q, 0.01, 0)), 0.6f);
  const LcpScore early = score(q, 0.01, 0.7);
  EXPECT_LT(early.value, 0.6);  // gave up before scoring the rest
  EXPECT_TRUE(early.early_exit);
  EXPECT_FALSE(score(q, 0.01, 0.59).early_exit);
  EXPECT_FLOAT_EQ(static_cast<float>(lcp(q, 0.01, 0.59)), 0.6f);
  EXPECT_LE(static_cast<float>(lcp(q, 0.01, 0.6)), 0.6f);
}

TEST_F(Lcp, EmptyQScoresZero) {
  EXPECT_EQ(lcp({}, 1.0, 0.5), 0.0);
}

// ---------------------------------------------------------------- estimate_point_spacing

TEST(PointSpacing, RegularGridGivesItsSquaredStep) {
  const core::PointSet p = grid(20, 20, 2.0, 5);
  AnnIndex index;
  core::Random15 rng;
  index.build(p);
  EXPECT_FLOAT_EQ(static_cast<float>(estimate_point_spacing(p, index, rng)), 4.0f);
}

TEST(PointSpacing, SameSetGivesTheSameEstimateAndReseeds) {
  const core::PointSet p = test::wavy_surface(300, 9);
  AnnIndex index;
  core::Random15 rng;
  index.build(p);
  rng.seed(77);
  const double a = estimate_point_spacing(p, index, rng);
  const int after = rng.next();
  const double b = estimate_point_spacing(p, index, rng);
  EXPECT_EQ(a, b);
  EXPECT_EQ(rng.next(), after);
}

TEST(PointSpacing, SparseSetFallsBackToTheBoundingBoxAndSaysSo) {
  const core::PointSet p = grid(10, 10, 10.0);  // squared spacing 100, above the cut-off
  AnnIndex index;
  core::Random15 rng;
  index.build(p);
  ::testing::internal::CaptureStderr();
  const double spacing = estimate_point_spacing(p, index, rng);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_DOUBLE_EQ(spacing, 90.0 * 90.0 / 100);
  EXPECT_NE(err.find("bounding box"), std::string::npos);
}

TEST(PointSpacing, DegenerateSetsGiveFiniteValues) {
  AnnIndex index;
  core::Random15 rng;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(estimate_point_spacing({}, index, rng), 0.0);
  const core::PointSet line = {point(0, 0, 0), point(100, 0, 0)};
  index.build(line);
  EXPECT_DOUBLE_EQ(estimate_point_spacing(line, index, rng), 100.0 * 100 / 2);
  const core::PointSet single = {point(1, 2, 3)};
  index.build(single);
  EXPECT_EQ(estimate_point_spacing(single, index, rng), 0.0);
  ::testing::internal::GetCapturedStderr();
}

}  // namespace
}  // namespace kestrel::registration
