// Measures at full resolution: the any-pose ICP brings Q onto P's surface from a few degrees and
// spacings off, also where only a fifth of Q overlaps P; the empty-space map finds points of a
// crossing scan in front of the surface, but none on it, beside it or on one side of it.

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "registration/any_pose/surface_icp.h"
#include "registration/judge/free_space.h"
#include "test_support.h"

namespace kestrel::registration {
namespace {

// The wavy surface with a bump, over [x0, x1] x [-50, 50] (spacing about 1 for 9000 points
// over the whole square).
core::PointSet bumpy(size_t n, uint32_t seed, double x0, double x1) {
  core::PointSet set = test::wavy_surface(n, seed, x0, x1);
  for (core::Point3D& p : set)
    p.z += 8 * std::exp(-((p.x - 20) * (p.x - 20) + (p.y - 10) * (p.y - 10)) / 200);
  return set;
}

struct IcpCase {
  const char* name;
  double q_from, q_to;  // Q's x range; P covers [-50, 50]
  double degrees;       // Q placed off by a turn about (1, 2, 3) through (40, 0, 0) ...
  double shift[3];      // ... and a shift
};

class SurfaceIcp : public ::testing::TestWithParam<IcpCase> {};

TEST_P(SurfaceIcp, BringsQBackOntoP) {
  const IcpCase& c = GetParam();
  const core::PointSet p = bumpy(9000, 3, -50, 50);
  const size_t q_points = static_cast<size_t>(90 * (c.q_to - c.q_from));
  const core::PointSet q_true = bumpy(q_points, 7, c.q_from, c.q_to);
  const core::DenseMatrix R = test::rotation(1, 2, 3, c.degrees);
  // Turned about (40, 0, 0), where both scans lie in every case, then shifted.
  double t[3] = {40 + c.shift[0], c.shift[1], c.shift[2]};
  for (uint32_t i = 0; i < 3; ++i) t[i] -= R(i, 0) * 40;
  const core::PointSet q = test::moved(q_true, R, t);

  const SurfaceIcpResult fit = refine_on_surface(p, q);
  ASSERT_TRUE(fit.ran) << fit.message;
  EXPECT_GT(fit.steps, 0);
  // Back where it belongs: the motion undoes the error.
  EXPECT_LT(test::angle_between(fit.motion.R, test::rotation(1, 2, 3, -c.degrees)), 0.3)
      << "turn left";
  double worst = 0;
  for (size_t i = 0; i < q.size(); i += 97) {
    core::Point3D moved = q[i];
    core::transform_point(moved, fit.motion);
    worst = std::max(worst, core::distance(moved, q_true[i]));
  }
  EXPECT_LT(worst, 0.5) << "points left this far from where they belong";
  // Rigid: a rotation, determinant 1.
  const core::DenseMatrix& M = fit.motion.R;
  const double det = M(0, 0) * (M(1, 1) * M(2, 2) - M(1, 2) * M(2, 1)) -
                     M(0, 1) * (M(1, 0) * M(2, 2) - M(1, 2) * M(2, 0)) +
                     M(0, 2) * (M(1, 0) * M(2, 1) - M(1, 1) * M(2, 0));
  EXPECT_NEAR(det, 1.0, 1e-9);
  EXPECT_EQ(fit.motion.s, 1.0f);

  // On a scene of Q as loaded, started where Q lies: the same sample and radii (the halves of
  // the sample fit their own normals), so Q ends where it did, well within a spacing, and the
  // same to the bit with one thread or two.
  const FitScene scene(p, q_true);
  const core::RigidTransform placed = core::linear_motion(R, t[0], t[1], t[2]);
  SurfaceIcpOptions two;
  two.threads = 2;
  const SurfaceIcpResult shared = settle_on_surface(scene, placed);
  const SurfaceIcpResult shared_two = settle_on_surface(scene, placed, {}, two);
  ASSERT_TRUE(shared.ran) << shared.message;
  EXPECT_EQ(shared.motion.R.data, shared_two.motion.R.data);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(shared.motion.t[k], shared_two.motion.t[k]);
  for (size_t i = 0; i < q.size(); i += 97) {
    core::Point3D a = q[i], b = q_true[i];
    core::transform_point(a, fit.motion);
    core::transform_point(b, shared.motion);
    EXPECT_LT(core::distance(a, b), 0.01);
  }
  // Of that run and one from far off, the run that fits wins either way round.
  const SurfaceIcpResult off = settle_on_surface(scene, core::linear_motion(R, 300, 0, 0));
  EXPECT_EQ(&better_fit(scene, shared, off), &shared);
  EXPECT_EQ(&better_fit(scene, off, shared), &shared);
}

const IcpCase kIcpCases[] = {
    {"same_area", -50, 50, 2, {1, -1, 0.5}},
    {"a_fifth_overlaps", 30, 130, 2, {1.5, 1, 0.5}},
    {"a_fifth_overlaps_turned_more", 30, 130, 4, {-1, 0.5, -0.5}},
};

INSTANTIATE_TEST_SUITE_P(Refine, SurfaceIcp, ::testing::ValuesIn(kIcpCases),
                         [](const ::testing::TestParamInfo<IcpCase>& info) {
                           return std::string(info.param.name);
                         });

// A dome with one bump: turned half a turn about its axis it fits itself everywhere but at the
// bump, which lies too far from where the turn leaves it for the steps to pull Q round.
core::PointSet bumped_dome(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(-40, 40);
  core::PointSet set;
  while (set.size() < n) {
    const double x = u(rng), y = u(rng);
    const double bump = 8 * std::exp(-((x - 20) * (x - 20) + (y - 10) * (y - 10)) / 60);
    set.push_back(test::point(x, y, -(x * x + y * y) / 80 + bump));
  }
  return set;
}

TEST(SurfaceIcp, TriesTheFitTurnedHalfATurnAboutTheSharedPatch) {
  const core::PointSet p = bumped_dome(8000, 3);
  const core::PointSet q_true = bumped_dome(8000, 9);
  const double t[3] = {0.5, -0.3, 0.2};
  const core::PointSet q = test::moved(q_true, test::rotation(0, 0, 1, 180), t);
  struct Row {
    bool half_turn;
    bool comes_back;
  };
  for (const Row& row : {Row{true, true}, Row{false, false}}) {
    SurfaceIcpOptions options;
    options.half_turn = row.half_turn;
    const SurfaceIcpResult fit = refine_on_surface(p, q, {}, options);
    ASSERT_TRUE(fit.ran) << fit.message;
    core::Point3D probe = q[0];
    core::transform_point(probe, fit.motion);
    EXPECT_EQ(core::distance(probe, q_true[0]) < 0.5, row.comes_back)
        << "half turn " << row.half_turn << ": " << core::distance(probe, q_true[0]) << " away";
  }
}

TEST(SurfaceIcp, LeavesQWhereItIsWhenNothingIsNearAndRefusesWhatItCannotFit) {
  const core::PointSet p = bumpy(4000, 3, -50, 50);
  const core::PointSet far = bumpy(2000, 5, 300, 400);
  const SurfaceIcpResult alone = refine_on_surface(p, far);
  EXPECT_TRUE(alone.ran);
  EXPECT_EQ(alone.steps, 0);
  EXPECT_FALSE(alone.message.empty());
  EXPECT_NEAR(test::angle_between(alone.motion.R, core::identity_matrix(3)), 0, 1e-12);

  const core::PointSet few(p.begin(), p.begin() + 5);
  const SurfaceIcpResult refused = refine_on_surface(few, p);
  EXPECT_FALSE(refused.ran);
  EXPECT_FALSE(refused.message.empty());

  const SurfaceIcpResult stopped = refine_on_surface(p, p, [] { return true; });
  EXPECT_FALSE(stopped.ran);
  EXPECT_TRUE(stopped.stopped);
}

struct SpaceCase {
  const char* name;
  double tilt_degrees;  // Q is P turned about the y axis through P's centre ...
  double lift;          // ... and lifted along the viewing axis ...
  double aside;         // ... and moved beside it
  double at_least, at_most;
};

class EmptySpace : public ::testing::TestWithParam<SpaceCase> {};

TEST_P(EmptySpace, FindsWhatLiesInFrontOfTheSurface) {
  const SpaceCase& c = GetParam();
  const core::PointSet p = bumpy(9000, 3, -50, 50);
  double axis[3];
  principal_normal_axis(p, axis);
  EXPECT_GT(std::fabs(axis[2]), 0.9) << "a height field is seen along z";
  const FreeSpaceMap map(p, axis, 1.0, 3);
  const double t[3] = {c.aside, 0, c.lift};
  const core::PointSet q =
      test::moved(bumpy(3000, 9, -50, 50), test::rotation(0, 1, 0, c.tilt_degrees), t);
  const double share = map.in_front_share(q, {});
  EXPECT_GE(share, c.at_least);
  EXPECT_LE(share, c.at_most);
  // Both ways, Q's own map included: what it is for a motion between two scans.
  double q_axis[3];
  principal_normal_axis(q, q_axis);
  const FreeSpaceMap q_map(q, q_axis, 1.0, 3);
  const double both = free_space_violation(map, q_map, p, q, {});
  EXPECT_GE(both, c.at_least / 2);
  EXPECT_LE(both, c.at_most);
}

const SpaceCase kSpaceCases[] = {
    {"on_the_surface", 0, 0, 0, 0, 0.01},
    {"crossing", 35, 0, 0, 0.2, 0.6},
    {"on_one_side", 0, 12, 0, 0, 0.01},  // the viewing side is open, so this is not counted
    {"beside_it", 0, 0, 150, 0, 0},
};

INSTANTIATE_TEST_SUITE_P(Map, EmptySpace, ::testing::ValuesIn(kSpaceCases),
                         [](const ::testing::TestParamInfo<SpaceCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace kestrel::registration
