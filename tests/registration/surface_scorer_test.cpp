// The score polished candidates compete by: how much of Q a motion lays on P's surface, less
// what it puts where a scan saw empty space. Near P is not enough.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "registration/any_pose/point_grid.h"
#include "registration/judge/free_space.h"
#include "registration/search/scorers.h"
#include "test_support.h"

namespace kestrel::registration {
namespace {

struct SurfaceCase {
  const char* name;
  double degrees;  // a turn about the y axis through the origin (P's middle) ...
  double lift;     // ... then a shift along z
  double min_share, max_share;  // of Q on P's surface
  double min_lcp;               // of Q near P: what the LCP alone would say
  bool in_empty_space;          // the score falls below the share
};

// P: a wavy sheet seen from above (spacing about 1.8); Q: another sample of the same sheet.
TEST(SurfaceScorer, CountsOnlyWhatLiesOnPsSurface) {
  const core::PointSet p = test::wavy_surface(3000, 5);
  const core::PointSet q = test::wavy_surface(1500, 6);
  const double radius = 3, plane_tol = 0.5;
  const PointGrid p_grid(p, 2 * radius);
  const double z_axis[3] = {0, 0, 1};
  const FreeSpaceMap p_space(p, z_axis, 1.8, 3), q_space(q, z_axis, 1.8, 3);
  const SurfaceScorer scorer(q, p, p_grid, {radius * radius, plane_tol, std::cos(0.436)},
                             p_space, q_space);
  const GridScorer lcp(q, p_grid, static_cast<float>(radius * radius));
  const SurfaceCase cases[] = {
      {"in place", 0, 0, 0.95, 1, 0.95, false},
      // Within the nearness radius, but off the tangent plane: the LCP cannot tell.
      {"lifted two tolerances", 0, 2 * plane_tol, 0, 0.05, 0.95, false},
      // Crossing P along a band, turned away from P's normals.
      {"turned across", 40, 0, 0, 0.05, 0.05, false},
      // Crossing P at a slant: on it along a narrow band, near it along a wider one, and with
      // a share of Q in front of P whichever side P was seen from.
      {"tilted across", 10, 0, 0.01, 0.15, 0.25, true},
  };
  for (const SurfaceCase& c : cases) {
    SCOPED_TRACE(c.name);
    const core::RigidTransform m =
        core::linear_motion(test::rotation(0, 1, 0, c.degrees), 0, 0, c.lift);
    size_t n = 0;
    const double share = scorer.sample_share(m, 1, n);
    EXPECT_EQ(n, q.size());
    EXPECT_GE(share, c.min_share);
    EXPECT_LE(share, c.max_share);
    EXPECT_GE(lcp.score(m, 0, {}).value, c.min_lcp);
    const double score = scorer.score(m, 0, {}).value;
    EXPECT_GE(score, 0);
    if (c.in_empty_space)
      EXPECT_LT(score, share);
    else
      EXPECT_NEAR(score, share, 0.02);
    // Every third point estimates the same share.
    EXPECT_NEAR(scorer.sample_share(m, 3, n), share, 0.05);
    EXPECT_EQ(n, (q.size() + 2) / 3);
  }
  EXPECT_EQ(scorer.score({}, 0, [] { return true; }).value, 0);  // a stop gives nothing
}

}  // namespace
}  // namespace kestrel::registration
