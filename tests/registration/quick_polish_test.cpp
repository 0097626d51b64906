// The any-pose quick polish runs twice, pairing only points with agreeing normals and pairing
// every point, and keeps the run that lays more of Q along P's surface.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "registration/any_pose/any_pose_polish.h"
#include "test_support.h"

namespace kestrel::registration {
namespace {

// Q's strip of the wavy surface P, with a wall beside it standing across P's waves or not.
core::PointSet strip_and_wall(const core::PointSet& p, bool wall) {
  core::PointSet q = test::shared_strip(p);
  if (wall) test::add_crossing_wall(q, 24);
  return q;
}

TEST(QuickPolish, BringsANearlyRightMotionBack) {
  const core::PointSet p = test::wavy_surface(6000, 5);
  struct Case {
    std::string name;
    core::PointSet q;  // in place: the right motion is the identity
  };
  const std::vector<Case> cases = {{"Q shares a strip of P", strip_and_wall(p, false)},
                                   {"the rest of Q crosses P's surface", strip_and_wall(p, true)}};
  const double score_sq = 4.0 * 4.0;
  const PointGrid p_grid(core::positions(p), polish_grid_radius(score_sq));
  const core::RigidTransform start =
      core::linear_motion(test::rotation(0.2, 1, 0.3, 2), 0.6, -0.4, 0.4);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const core::PointSet q_quick = quick_polish_sample(c.q);
    const PolishSets sets{c.q, q_quick, p, p_grid, p, p_grid, score_sq, 1.0};
    const core::RigidTransform m = quick_polish(sets, start);
    // Its two runs side by side give the same motion.
    PolishSets two = sets;
    two.threads = 2;
    test::expect_same_motion(m, quick_polish(two, start));
    double worst = 0;  // over the shared strip
    for (const core::Point3D& s : c.q) {
      if (s.x <= 25) continue;
      core::Point3D x = s;
      core::transform_point(x, m);
      worst = std::max(worst, core::distance(x, s));
    }
    EXPECT_LT(worst, 0.05);  // pairing every point leaves it 0.7 off beside the wall
  }
}

}  // namespace
}  // namespace kestrel::registration
