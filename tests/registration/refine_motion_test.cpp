// The polish takes a nearly right motion to the right one.

#include "registration/any_pose/refine_motion.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <utility>
#include <vector>

#include "test_support.h"

namespace kestrel::registration {
namespace {

TEST(RefineMotion, RecoversASmallResidualMotionFromADenserReference) {
  const core::PointSet p = test::wavy_surface(6000, 21);
  // Q: every 7th point of P, moved by 4 degrees and a few units; the polish starts at identity.
  core::PointSet sample;
  for (size_t i = 0; i < p.size(); i += 7) sample.push_back(p[i]);
  const core::DenseMatrix R = test::rotation(0.3, 1, 0.2, 4);
  const double t[3] = {1.5, -2, 1};
  const core::PointSet q = test::moved(sample, R, t);
  AnnIndex index;
  index.build(p);

  RefineOptions options;
  options.sq_radius = 8.0 * 8.0;
  options.iterations = 30;
  const RefineResult result = refine_motion(q, p, index, core::RigidTransform{}, options);
  ASSERT_GT(result.steps, 0);
  // Moving Q by the result must undo the displacement point by point.
  double worst = 0;
  for (size_t i = 0; i < q.size(); ++i) {
    core::Point3D back = q[i];
    core::transform_point(back, result.motion);
    worst = std::max(worst, core::distance(back, sample[i]));
  }
  EXPECT_LT(worst, 0.05);
}

TEST(RefineMotion, TooFewPairsKeepTheStartingMotion) {
  const core::PointSet p = test::wavy_surface(200, 3);
  const double far[3] = {1000, 0, 0};
  const core::PointSet q = test::moved(p, core::identity_matrix(3), far);
  AnnIndex index;
  index.build(p);
  RefineOptions options;
  options.sq_radius = 25;
  core::RigidTransform start;
  start.t[1] = 3;
  const RefineResult result = refine_motion(q, p, index, start, options);
  EXPECT_EQ(result.steps, 0);
  EXPECT_EQ(result.motion.t[1], 3);
}

TEST(RefineMotion, GridAndTreeGiveTheSameMotion) {
  // Both find the exact nearest point of P within the radius, so on data without ties the
  // pairs, and hence the motions, are the same step for step.
  const core::PointSet p = test::wavy_surface(5000, 31);
  core::PointSet sample;
  for (size_t i = 3; i < p.size(); i += 5) sample.push_back(p[i]);
  const double t[3] = {-2, 1, 2.5};
  const core::PointSet q = test::moved(sample, test::rotation(1, 0.2, -0.4, 5), t);
  AnnIndex index;
  index.build(p);
  for (const double radius : {3.0, 8.0}) {
    for (const double grid_radius : {radius, radius / 3}) {  // a grid built for another radius
      SCOPED_TRACE(testing::Message() << "radius " << radius << " grid " << grid_radius);
      const PointGrid grid(core::positions(p), grid_radius);
      RefineOptions options;
      options.sq_radius = radius * radius;
      options.iterations = 12;
      core::RigidTransform start;
      start.t[2] = 0.5;
      const RefineResult tree = refine_motion(q, p, index, start, options);
      const RefineResult cells = refine_motion(q, p, grid, start, options);
      ASSERT_GT(tree.steps, 0);
      EXPECT_EQ(cells.steps, tree.steps);
      EXPECT_EQ(cells.pairs, tree.pairs);
      for (uint32_t r = 0; r < 3; ++r) {
        for (uint32_t c = 0; c < 3; ++c)
          EXPECT_NEAR(cells.motion.R(r, c), tree.motion.R(r, c), 1e-12);
        EXPECT_NEAR(cells.motion.t[r], tree.motion.t[r], 1e-9);
        EXPECT_NEAR(cells.motion.c[r], tree.motion.c[r], 1e-9);
      }
    }
  }
}

// Points of P handed in to start the searches from (none, all one point, from an earlier
// polish, any) change how far each search looks, never the motion.
TEST(RefineMotion, StartingPointsOfPChangeNoMotion) {
  const core::PointSet p = test::wavy_surface(5000, 41);
  core::PointSet sample;
  for (size_t i = 2; i < p.size(); i += 6) sample.push_back(p[i]);
  const double t[3] = {1, -1.5, 2};
  const core::PointSet q = test::moved(sample, test::rotation(0.2, 1, 0.3, 4), t);
  const PointGrid grid(core::positions(p), 4.0);
  RefineOptions options;
  options.sq_radius = 6.0 * 6.0;
  options.iterations = 10;
  const RefineResult plain = refine_motion(q, p, grid, core::RigidTransform{}, options);
  ASSERT_GT(plain.steps, 0);
  std::vector<int> earlier;
  RefineOptions coarse = options;
  coarse.iterations = 2;
  refine_motion(q, p, grid, core::RigidTransform{}, coarse, &earlier);
  std::vector<int> spread(q.size());
  for (size_t i = 0; i < q.size(); ++i) spread[i] = static_cast<int>((i * 7919) % p.size());
  const std::vector<std::pair<const char*, std::vector<int>>> starts = {
      {"none", {}}, {"all -1", std::vector<int>(q.size(), -1)},
      {"all the first point", std::vector<int>(q.size(), 0)}, {"an earlier polish", earlier},
      {"anywhere", spread}};
  for (const auto& [name, given] : starts) {
    SCOPED_TRACE(name);
    std::vector<int> near = given;
    const RefineResult r = refine_motion(q, p, grid, core::RigidTransform{}, options, &near);
    EXPECT_EQ(r.steps, plain.steps);
    EXPECT_EQ(r.pairs, plain.pairs);
    for (uint32_t k = 0; k < 3; ++k) EXPECT_EQ(r.motion.t[k], plain.motion.t[k]);
    EXPECT_EQ(r.motion.R(0, 1), plain.motion.R(0, 1));
    EXPECT_EQ(near.size(), q.size());
  }
}

}  // namespace
}  // namespace kestrel::registration

namespace kestrel::registration {
namespace {

// Q shares a strip of P's surface; the rest of Q is a wall that stands across P's surface,
// as the part of a scan beyond a small overlap crosses its neighbour. The polish starts a few
// degrees off: with normals asked to agree, only the strip pulls, and the motion comes back.
TEST(RefineMotion, AgreeingNormalsKeepACrossingSurfaceFromPulling) {
  const core::PointSet p = test::wavy_surface(6000, 5);
  core::PointSet q = test::shared_strip(p);  // in place: the right motion is the identity
  test::add_crossing_wall(q, 20);
  const PointGrid grid(core::positions(p), 6);
  const core::RigidTransform start =
      core::linear_motion(test::rotation(0.2, 1, 0.3, 5), 1.5, -1, 1);
  struct Case {
    const char* name;
    double normal_cosine;
    bool comes_back;  // the strip's points end within 0.3 of where they belong (else 1 off)
  };
  const std::vector<Case> cases = {{"any normals", 0, false},
                                   {"normals within 20 degrees", std::cos(20 * M_PI / 180), true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RefineOptions options;
    options.sq_radius = 6.0 * 6.0;
    options.iterations = 30;
    options.normal_cosine = c.normal_cosine;
    const RefineResult r = refine_motion(q, p, grid, start, options);
    double worst = 0;
    for (size_t i = 0; i < q.size(); ++i) {
      if (q[i].x <= 25) continue;
      core::Point3D back = q[i];
      core::transform_point(back, r.motion);
      worst = std::max(worst, core::distance(back, q[i]));
    }
    if (c.comes_back)
      EXPECT_LT(worst, 0.3);
    else
      EXPECT_GT(worst, 1.0);
  }
}

}  // namespace
}  // namespace kestrel::registration
