#include "icp/kd_tree.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numeric>
#include <random>

#include "icp/node_pool.h"

namespace kestrel::icp {
namespace {

struct RejectAll : KDtree::CompatFunc {
  bool operator()(const Vec3f*) const override { return false; }
};

std::vector<Vec3f> random_points(std::mt19937& rng, int n, float lo, float hi) {
  std::uniform_real_distribution<float> u(lo, hi);
  std::vector<Vec3f> pts(static_cast<size_t>(n));
  for (Vec3f& p : pts) p = Vec3f(u(rng), u(rng), u(rng));
  return pts;
}

// Reference answer: the smallest squared distance strictly below the limit among accepted
// points (infinity when there is none).
float brute_force_d2(const std::vector<Vec3f>& pts, const Vec3f& q, float limit2,
                     const KDtree::CompatFunc* compat) {
  float best = std::numeric_limits<float>::infinity();
  for (const Vec3f& p : pts) {
    float d2 = dist2(p, q);
    if (d2 < limit2 && d2 < best && (!compat || (*compat)(&p))) best = d2;
  }
  return best;
}

// ---------------------------------------------------------------- structure

TEST(KDtree, SevenPointsMakeOneLeafEightSplit) {
  std::mt19937 rng(42);
  std::vector<Vec3f> pts = random_points(rng, 8, -1, 1);
  EXPECT_EQ(KDtree(pts.data(), 7).leaf_sizes(), std::vector<int>{7});
  std::vector<int> sizes = KDtree(pts).leaf_sizes();
  EXPECT_EQ(sizes.size(), 2u);
  EXPECT_EQ(std::accumulate(sizes.begin(), sizes.end(), 0), 8);
}

TEST(KDtree, CoincidentPointsFormOneLeaf) {
  std::vector<Vec3f> pts(20, Vec3f(1, 2, 3));
  KDtree tree(pts);
  EXPECT_EQ(tree.leaf_sizes(), std::vector<int>{20});
  EXPECT_EQ(tree.closest_point({1, 2, 3.5f}), &pts[0]);
  // The exclusion set walks through the copies in order.
  std::set<int> taken = {0, 3, 6, 9};
  NotInSet not_taken(pts.data(), taken);
  EXPECT_EQ(tree.closest_point({1, 2, 3}, 0.0f, &not_taken), &pts[4]);
}

TEST(KDtree, CoincidentClusterAmongOtherPoints) {
  std::mt19937 rng(7);
  std::vector<Vec3f> pts = random_points(rng, 30, -5, 5);
  pts.insert(pts.end(), 15, Vec3f(0.5f, 0.5f, 0.5f));
  KDtree tree(pts);
  std::vector<int> sizes = tree.leaf_sizes();
  EXPECT_EQ(std::accumulate(sizes.begin(), sizes.end(), 0), 45);
  for (const Vec3f& q : random_points(rng, 50, -6, 6)) {
    const Vec3f* found = tree.closest_point(q, 1000.0f);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(dist2(*found, q), brute_force_d2(pts, q, 1000.0f, nullptr));
  }
}

TEST(KDtree, PointsOneFloatStepApartDoNotRecurseForever) {
  // The box centre rounds onto the box minimum, so no split separates the two values.
  const float a = 1.0f, b = std::nextafter(1.0f, 2.0f);
  std::vector<Vec3f> pts;
  for (int i = 0; i < 6; ++i) pts.push_back({a, 0, 0});
  for (int i = 0; i < 6; ++i) pts.push_back({b, 0, 0});
  KDtree tree(pts);
  EXPECT_EQ(tree.leaf_sizes(), std::vector<int>{12});
  EXPECT_EQ(*tree.closest_point({2, 0, 0}, 10.0f), pts[6]);
}

TEST(KDtree, EmptyTreeFindsNothing) {
  std::vector<Vec3f> none;
  EXPECT_EQ(KDtree(none).closest_point({0, 0, 0}, 1.0f), nullptr);
}

// ---------------------------------------------------------------- limits, ties, predicate

TEST(KDtree, LimitIsStrict) {
  std::vector<Vec3f> pts = {{3, 4, 0}};
  KDtree tree(pts);
  EXPECT_EQ(tree.closest_point({0, 0, 0}, 25.0f), nullptr);
  EXPECT_EQ(tree.closest_point({0, 0, 0}, std::nextafter(25.0f, 26.0f)), &pts[0]);
}

TEST(KDtree, TieGoesToFirstPointInTraversalOrder) {
  // Split at x = 0: the query on the split plane visits the left child (x < 0) first, so the
  // point at x = -1 wins although it comes later in the array.
  std::vector<Vec3f> pts = {{1, 0, 0},  {2, 0, 0},  {3, 0, 0},  {4, 0, 0},
                            {-1, 0, 0}, {-2, 0, 0}, {-3, 0, 0}, {-4, 0, 0}};
  KDtree tree(pts);
  EXPECT_EQ(tree.closest_point({0, 0, 0}, 100.0f), &pts[4]);
  // Within one leaf the stored order decides.
  std::vector<Vec3f> few = {{0, 1, 0}, {0, -1, 0}, {1, 0, 0}};
  EXPECT_EQ(KDtree(few).closest_point({0, 0, 0}, 100.0f), &few[0]);
}

TEST(KDtree, PredicateRejectingAllFindsNothing) {
  std::mt19937 rng(3);
  std::vector<Vec3f> pts = random_points(rng, 100, 0, 1);
  RejectAll reject;
  EXPECT_EQ(KDtree(pts).closest_point({0.5f, 0.5f, 0.5f}, 10.0f, &reject), nullptr);
}

TEST(KDtree, NonPositiveLimitMeansRootRadius) {
  // Unit cube corners: the root's radius is sqrt(3)/2 < 1, the distance to any other corner.
  std::vector<Vec3f> corners;
  for (int i = 0; i < 8; ++i) {
    corners.push_back(Vec3f(float(i & 1), float((i >> 1) & 1), float(i >> 2)));
  }
  KDtree tree(corners);
  std::set<int> self = {0};
  NotInSet others(corners.data(), self);
  EXPECT_EQ(tree.closest_point(corners[0], 0.0f, &others), nullptr);
  EXPECT_NE(tree.closest_point(corners[0], 1.01f, &others), nullptr);
}

TEST(KDtree, SingleLeafWithNonPositiveLimitHasNoLimit) {
  std::vector<Vec3f> pts = {{0, 0, 0}, {100, 0, 0}, {0, 50, 0}};
  KDtree tree(pts);
  std::set<int> self = {0};
  NotInSet others(pts.data(), self);
  EXPECT_EQ(tree.closest_point(pts[0], 0.0f, &others), &pts[2]);
  EXPECT_EQ(tree.closest_point(pts[0], -1.0f, &others), &pts[2]);
}

TEST(KDtree, NotInSetTestsFloatOffsets) {
  std::vector<Vec3f> pts(5);
  std::set<int> offsets = {0, 6};
  NotInSet pred(pts.data(), offsets);
  EXPECT_FALSE(pred(&pts[0]));
  EXPECT_TRUE(pred(&pts[1]));
  EXPECT_FALSE(pred(&pts[2]));
  EXPECT_TRUE(pred(&pts[4]));
}

// ---------------------------------------------------------------- against brute force

TEST(KDtree, MatchesBruteForceOnRandomPoints) {
  const unsigned seed = 2024;
  std::mt19937 rng(seed);
  std::vector<Vec3f> pts = random_points(rng, 3000, -10, 10);
  KDtree tree(pts);
  std::uniform_real_distribution<float> limit(0.0f, 4.0f);
  std::uniform_int_distribution<int> pick(0, 2999);
  for (int i = 0; i < 500; ++i) {
    Vec3f q = random_points(rng, 1, -12, 12)[0];
    float maxdist2 = limit(rng);
    std::set<int> taken;
    for (int k = 0; k < i % 4; ++k) taken.insert(3 * pick(rng));
    NotInSet not_taken(pts.data(), taken);
    const Vec3f* found = tree.closest_point(q, maxdist2, &not_taken);
    float want = brute_force_d2(pts, q, maxdist2, &not_taken);
    if (std::isinf(want)) {
      EXPECT_EQ(found, nullptr) << "seed " << seed << " query " << i;
    } else {
      ASSERT_NE(found, nullptr) << "seed " << seed << " query " << i;
      EXPECT_EQ(dist2(*found, q), want) << "seed " << seed << " query " << i;
    }
  }
}

// A build cut short by a stop request leaves large leaves: slower, but every answer is the same.
TEST(KDtree, BuildStoppedAtOnceOrMidwayStillMatchesBruteForce) {
  const unsigned seed = 7;
  std::mt19937 rng(seed);
  std::vector<Vec3f> pts = random_points(rng, 3000, -10, 10);
  for (int after : {0, 1, 3}) {
    int polls = 0;
    const KDtree tree(pts, [&polls, after] { return polls++ >= after; });
    EXPECT_GT(polls, 0);
    for (int i = 0; i < 200; ++i) {
      const Vec3f q = random_points(rng, 1, -12, 12)[0];
      const Vec3f* found = tree.closest_point(q, 2.0f);
      const float want = brute_force_d2(pts, q, 2.0f, nullptr);
      if (std::isinf(want)) {
        EXPECT_EQ(found, nullptr) << "seed " << seed << " query " << i;
      } else {
        ASSERT_NE(found, nullptr) << "seed " << seed << " query " << i;
        EXPECT_EQ(dist2(*found, q), want) << "seed " << seed << " stop after " << after;
      }
    }
  }
}

// The k nearest, one query at a time: each excludes the points found before it.
std::vector<const Vec3f*> one_by_one(const KDtree& tree, const std::vector<Vec3f>& pts,
                                     const Vec3f& q, int k, float maxdist2) {
  std::set<int> taken;
  NotInSet not_taken(pts.data(), taken);
  std::vector<const Vec3f*> found;
  for (int i = 0; i < k; ++i) {
    const Vec3f* p = tree.closest_point(q, maxdist2, &not_taken);
    if (!p) break;
    found.push_back(p);
    taken.insert(static_cast<int>(3 * (p - pts.data())));
  }
  return found;
}

// Points on a coarse integer lattice, many of them repeated, give many equal distances: the
// k-nearest query must break those ties as the one-by-one queries do.
TEST(KDtree, KNearestMatchesOneByOneQueriesAmongTies) {
  const unsigned seed = 77;
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> cell(-6, 6);
  std::vector<Vec3f> pts(2000);
  for (Vec3f& p : pts) p = Vec3f(float(cell(rng)), float(cell(rng)), float(cell(rng)));
  KDtree tree(pts);
  std::vector<const Vec3f*> found;
  for (int i = 0; i < 300; ++i) {
    const Vec3f q(float(cell(rng)), float(cell(rng)) + 0.5f * float(i % 2), float(cell(rng)));
    const int k = 1 + i % 24;  // past the 16 kept on the stack
    const float maxdist2 = i % 3 == 0 ? 0.0f : float(i % 7);
    tree.closest_points(q, k, found, maxdist2);
    EXPECT_EQ(found, one_by_one(tree, pts, q, k, maxdist2))
        << "seed " << seed << " query " << i << " k " << k;
  }
}

TEST(KDtree, KNearestReturnsWhatTheTreeHasNearestFirst) {
  const std::vector<Vec3f> pts = {{0, 0, 0}, {3, 0, 0}, {1, 0, 0}};
  KDtree tree(pts);
  std::vector<const Vec3f*> found;
  tree.closest_points({0.2f, 0, 0}, 5, found);
  EXPECT_EQ(found, (std::vector<const Vec3f*>{&pts[0], &pts[2], &pts[1]}));
  tree.closest_points({0.2f, 0, 0}, 5, found, 1.0f);
  EXPECT_EQ(found, (std::vector<const Vec3f*>{&pts[0], &pts[2]}));
  tree.closest_points({0.2f, 0, 0}, 0, found);
  EXPECT_TRUE(found.empty());
  KDtree(std::vector<Vec3f>()).closest_points({0, 0, 0}, 3, found);
  EXPECT_TRUE(found.empty());
}

// ---------------------------------------------------------------- node pool

TEST(NodePool, ReusesFreedBlocksAndSendsOtherSizesToHeap) {
  NodePool pool(48);
  EXPECT_EQ(pool.blocks_per_chunk(), 4088u / 48u);
  void* a = pool.alloc(48);
  void* b = pool.alloc(48);
  EXPECT_NE(a, b);
  pool.free(a, 48);
  EXPECT_EQ(pool.alloc(48), a);
  void* other = pool.alloc(100);
  EXPECT_NE(other, nullptr);
  pool.free(other, 100);
  // Many more blocks than one chunk holds stay distinct.
  std::set<void*> seen;
  for (int i = 0; i < 300; ++i) seen.insert(pool.alloc(48));
  EXPECT_EQ(seen.size(), 300u);
}

}  // namespace
}  // namespace kestrel::icp
