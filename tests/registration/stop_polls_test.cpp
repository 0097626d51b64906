// The long loops of a run hear a stop request: each ends at once, with an outcome that cannot
// pass for a finished one, and one that never hears a stop finds what it finds without a hook.

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "registration/any_pose/pair_table.h"
#include "registration/any_pose/point_grid.h"
#include "registration/congruent/ann_index.h"
#include "registration/congruent/lcp.h"
#include "registration/congruent/pair_extraction.h"
#include "registration/congruent/quad_search.h"
#include "test_support.h"

namespace kestrel::registration {
namespace {

const std::function<bool()> kStop = [] { return true; };
const std::function<bool()> kNever = [] { return false; };

struct Scene {
  core::PointSet q = test::wavy_surface(600, 3);
  core::PointSet base;
  std::vector<core::IndexPair> d1, d2;
  Scene() {
    base = {q[10], q[200], q[40], q[300]};
    extract_pairs(q, core::distance(base[0], base[1]), 0, 2.0, 10.0f, d1);
    extract_pairs(q, core::distance(base[2], base[3]), 0, 2.0, 10.0f, d2);
  }
};

TEST(StopPolls, PairScansEndAtOnceAndAreUnchangedOtherwise) {
  const Scene s;
  ASSERT_GT(s.d1.size(), 100u);
  std::vector<core::IndexPair> pairs;
  extract_pairs(s.q, core::distance(s.base[0], s.base[1]), 0, 2.0, 10.0f, pairs, kStop);
  EXPECT_TRUE(pairs.empty());
  extract_pairs(s.q, core::distance(s.base[0], s.base[1]), 0, 2.0, 10.0f, pairs, kNever);
  EXPECT_EQ(pairs.size(), s.d1.size());

  PairTable stopped(s.q, 2.0, kStop), whole(s.q, 2.0, kNever);
  EXPECT_TRUE(stopped.stopped());
  EXPECT_FALSE(whole.stopped());
}

TEST(StopPolls, QuadSearchesEndWithoutQuads) {
  const Scene s;
  std::vector<core::CongruentQuad> quads, never;
  const auto searches = {&find_congruent_quads, &find_congruent_quads_exact};
  for (const auto search : searches) {
    EXPECT_FALSE(search(s.d1, s.d2, quads, 0.4, 0.6, 2.0, 4.0, s.q, s.base, kStop));
    EXPECT_TRUE(quads.empty());
    const bool found = search(s.d1, s.d2, never, 0.4, 0.6, 2.0, 4.0, s.q, s.base, kNever);
    search(s.d1, s.d2, quads, 0.4, 0.6, 2.0, 4.0, s.q, s.base, {});
    EXPECT_EQ(found, !quads.empty());
    EXPECT_EQ(never.size(), quads.size());
  }
}

// A score cut short is 0 and an early exit, so the candidate cannot become the best.
TEST(StopPolls, ScoringEndsWithZeroAndGridsHoldNothing) {
  const core::PointSet q = test::wavy_surface(600, 3);
  AnnIndex index;
  index.build(q);
  const core::RigidTransform same;
  const LcpScore stopped = compute_lcp(q, index, same, 1.0, 0, kStop);
  EXPECT_EQ(stopped.value, 0);
  EXPECT_TRUE(stopped.early_exit);
  EXPECT_EQ(compute_lcp(q, index, same, 1.0, 0, kNever).value, 1.0);

  const PointGrid empty(core::positions(q), 2.0, kStop), full(core::positions(q), 2.0, kNever);
  EXPECT_FALSE(empty.any_within(q[5].x, q[5].y, q[5].z, 1.0));
  EXPECT_TRUE(full.any_within(q[5].x, q[5].y, q[5].z, 1.0));
}

}  // namespace
}  // namespace kestrel::registration
