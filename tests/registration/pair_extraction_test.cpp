// Pairs of Q matching one base segment in length and normal difference.

#include "registration/congruent/pair_extraction.h"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

#include "test_support.h"

namespace kestrel::registration {
namespace {

using test::point;

std::vector<std::pair<uint32_t, uint32_t>> as_pairs(const std::vector<core::IndexPair>& list) {
  std::vector<std::pair<uint32_t, uint32_t>> out;
  for (const core::IndexPair& p : list) out.emplace_back(p.first, p.second);
  return out;
}

core::Point3D with_normal(core::Point3D p, double nx, double ny, double nz) {
  p.nx = nx;
  p.ny = ny;
  p.nz = nz;
  return p;
}

TEST(PairExtraction, EmptyOrSinglePointGivesNoPairs) {
  std::vector<core::IndexPair> pairs = {{7, 8}};
  extract_pairs({}, 1, 0, 1, 0.02f, pairs);
  EXPECT_TRUE(pairs.empty());
  extract_pairs({point(0, 0, 0)}, 0, 0, 1, 0.02f, pairs);
  EXPECT_TRUE(pairs.empty());
}

TEST(PairExtraction, EmitsBothOrdersSortedByFirstThenSecond) {
  const core::PointSet q = {point(0, 0, 0), point(1, 0, 0), point(2, 0, 0), point(3, 0, 0)};
  std::vector<core::IndexPair> pairs;
  extract_pairs(q, 1.0, 0.0, 0.5, 0.02f, pairs);
  const std::vector<std::pair<uint32_t, uint32_t>> expected = {{0, 1}, {1, 0}, {1, 2},
                                                               {2, 1}, {2, 3}, {3, 2}};
  EXPECT_EQ(as_pairs(pairs), expected);
}

TEST(PairExtraction, DistanceToleranceIsStrict) {
  const core::PointSet q = {point(0, 0, 0), point(3, 0, 0)};
  std::vector<core::IndexPair> pairs;
  extract_pairs(q, 2.0, 0.0, 1.0, 0.02f, pairs);  // |3 - 2| = tol
  EXPECT_TRUE(pairs.empty());
  extract_pairs(q, 4.0, 0.0, 1.0, 0.02f, pairs);  // |3 - 4| = tol
  EXPECT_TRUE(pairs.empty());
  extract_pairs(q, 2.5, 0.0, 1.0, 0.02f, pairs);
  EXPECT_EQ(pairs.size(), 2u);
}

TEST(PairExtraction, NormalDifferenceMustMatchTheBases) {
  const core::PointSet q = {with_normal(point(0, 0, 0), 0, 0, 1),
                            with_normal(point(5, 0, 0), 0, 1, 0)};
  std::vector<core::IndexPair> pairs;
  extract_pairs(q, 5.0, std::sqrt(2.0), 0.1, 0.02f, pairs);  // ndist = nd exactly
  EXPECT_EQ(pairs.size(), 2u);
  extract_pairs(q, 5.0, 0.0, 0.1, 0.02f, pairs);
  EXPECT_TRUE(pairs.empty());
}

TEST(PairExtraction, PointsWithoutNormalsAreDecidedByDistanceAlone) {
  const core::PointSet q = {point(0, 0, 0), point(5, 0, 0)};
  std::vector<core::IndexPair> pairs;
  extract_pairs(q, 5.0, 0.0, 0.1, 0.02f, pairs);
  EXPECT_EQ(pairs.size(), 2u);
  extract_pairs(q, 5.0, 0.5, 0.1, 0.02f, pairs);  // the base's normals differ
  EXPECT_TRUE(pairs.empty());
}

TEST(PairExtraction, NoiseDoublesTheNormalTolerance) {
  EXPECT_EQ(pair_normal_tolerance(0.02f, false), 0.02f);
  EXPECT_EQ(pair_normal_tolerance(0.02f, true), 0.04f);
  // The normals differ by 0.03 more than the base's.
  const core::PointSet q = {with_normal(point(0, 0, 0), 0, 0, 1),
                            with_normal(point(5, 0, 0), 0.03, 0, 1)};
  std::vector<core::IndexPair> pairs;
  extract_pairs(q, 5.0, 0.0, 0.1, pair_normal_tolerance(0.02f, false), pairs);
  EXPECT_TRUE(pairs.empty());
  extract_pairs(q, 5.0, 0.0, 0.1, pair_normal_tolerance(0.02f, true), pairs);
  EXPECT_EQ(pairs.size(), 2u);
}

}  // namespace
}  // namespace kestrel::registration
