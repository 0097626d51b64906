// LCP verification and the point-spacing estimate over P.

#include "registration/congruent/lcp.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "core/random15.h"
#include "registration/congruent/point_spacing.h"
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

// The score gives up after the first point past which even a hit on every point left could not
// reach `best` (a share of n = 100: `needed` = 100 best points), and returns what it counted so
// far. Where it gives up, by the order of hits and misses.
TEST_F(Lcp, GivesUpAtTheFirstPointThatLeavesBestOutOfReach) {
  struct Case {
    const char* name;
    bool misses_first;  // 40 misses, then 60 hits; else 60 hits, then 40 misses
    double best;
    bool early;
    float value;
  };
  const Case cases[] = {
      {"misses first, bar out of reach", true, 0.7, true, 0.0f},    // gives up at the 32nd miss
      {"misses first, bar one above", true, 0.62, true, 0.0f},      // at the 40th miss
      {"misses first, bar just reached", true, 0.6, false, 0.6f},   // needs every hit: all read
      {"misses first, bar a hair above", true, 0.61, false, 0.6f},  // 61 needs one point more
      {"hits first, bar out of reach", false, 0.7, true, 0.6f},     // at the 31st miss
      {"hits first, bar of one", false, 1.0, true, 0.6f},           // at the second miss
      {"hits first, bar above one", false, 1.5, true, 0.01f},       // at the first point
      {"hits first, no bar", false, 0.0, false, 0.6f},
  };
  for (const Case& c : cases) {
    core::PointSet q = p;
    for (size_t k = 0; k < 40; ++k) q[c.misses_first ? k : 60 + k].z = 50;
    const LcpScore s = score(q, 0.01, c.best);
    EXPECT_EQ(s.early_exit, c.early) << c.name;
    EXPECT_FLOAT_EQ(static_cast<float>(s.value), c.value) << c.name;
  }
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

// ---------------------------------------------------------------- motion matrix and mask

core::RigidTransform general_motion(float s) {
  core::RigidTransform m;
  m.R = test::rotation(0.3, -0.8, 0.5, 71);
  m.s = s;
  m.c[0] = 1200, m.c[1] = -340, m.c[2] = 55;
  m.t[0] = -17, m.t[1] = 2.5, m.t[2] = 990;
  return m;
}

TEST(MotionMatrix, MovesPointsLikeTransformPoint) {
  const core::PointSet set = test::wavy_surface(200, 6, 1100, 1300);
  for (const float s : {1.0f, 0.37f, 2.5f}) {
    const core::RigidTransform motion = general_motion(s);
    const MotionMatrix m(motion);
    for (const core::Point3D& p : set) {
      core::Point3D want = p;
      core::transform_point(want, motion);
      double x, y, z;
      m.apply(p, x, y, z);
      // Rounding only: relative to the size of the coordinates involved (about 2000).
      EXPECT_NEAR(x, want.x, 1e-11);
      EXPECT_NEAR(y, want.y, 1e-11);
      EXPECT_NEAR(z, want.z, 1e-11);
    }
  }
}

TEST(LcpMask, AgreesWithTheExactScoreAwayFromTheRadius) {
  const core::PointSet p_set = test::wavy_surface(3000, 13);
  std::vector<std::array<double, 3>> p_points;
  for (const core::Point3D& p : p_set) p_points.push_back({p.x, p.y, p.z});
  AnnIndex p_index;
  p_index.build(p_set);
  const double radius = 1.2;
  const NearMask mask(p_points, radius);
  const double shell = 0.5 * std::sqrt(3.0) * mask.cell();
  // Q: a surface of its own, moved so that a part lies on P, a part just off it and a part
  // beyond the mask's box.
  const core::RigidTransform motion = general_motion(1.0f);
  const core::RigidTransform back = [&] {
    core::RigidTransform inverse;
    inverse.R = core::DenseMatrix(3, 3);
    for (uint32_t r = 0; r < 3; ++r)
      for (uint32_t c = 0; c < 3; ++c) inverse.R(r, c) = motion.R(c, r);
    for (int k = 0; k < 3; ++k) {
      inverse.c[k] = motion.c[k] + motion.t[k];
      inverse.t[k] = -motion.t[k];
    }
    return inverse;
  }();
  core::PointSet q = test::wavy_surface(2000, 14, -80, 70);
  for (size_t i = 0; i < q.size(); ++i) q[i].z += 1.5 * std::sin(static_cast<double>(i));
  core::PointSet clear;  // Q's points, put where the motion will bring them onto P's frame
  for (core::Point3D pt : q) {
    const double d = std::sqrt(p_index.nearest_sq_dist(pt.x, pt.y, pt.z));
    if (std::fabs(d - radius) <= shell) continue;
    core::transform_point(pt, back);
    clear.push_back(pt);
  }
  ASSERT_GT(clear.size(), 1000u);
  const double exact = compute_lcp(clear, p_index, motion, radius * radius, 0).value;
  EXPECT_GT(exact, 0.1);  // both answers occur
  EXPECT_LT(exact, 0.9);
  EXPECT_EQ(compute_lcp(clear, mask, motion, 0).value, exact);
  // With a bar it cannot reach it gives up early, like the exact score.
  const LcpScore early = compute_lcp(clear, mask, motion, exact + 0.1);
  EXPECT_TRUE(early.early_exit);
  EXPECT_LT(early.value, exact + 0.1);
  EXPECT_EQ(compute_lcp({}, mask, motion, 0).value, 0.0);
}

}  // namespace
}  // namespace kestrel::registration
