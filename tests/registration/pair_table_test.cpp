// The pair table's answers against a test of every ordered pair of Q.

#include "registration/any_pose/pair_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "test_support.h"

namespace kestrel::registration {
namespace {

using test::point;
using Pairs = std::vector<std::pair<uint32_t, uint32_t>>;

Pairs sorted(const std::vector<core::IndexPair>& list) {
  Pairs out;
  for (const core::IndexPair& p : list) out.emplace_back(p.first, p.second);
  std::sort(out.begin(), out.end());
  return out;
}

double along(const core::Point3D& n, const double u[3]) {
  return n.nx * u[0] + n.ny * u[1] + n.nz * u[2];
}

// How far inside all three tests the ordered pair (Q[i], Q[j]) lies for the segment (a, b):
// positive when it passes, negative when it fails, near zero on an edge.
double margin(const core::Point3D& a, const core::Point3D& b, const core::Point3D& qi,
              const core::Point3D& qj, double tol, double normal_tol) {
  const double d = core::distance(a, b), len = core::distance(qi, qj);
  if (!(d > 0) || !(len > 0)) return -1;
  const double v[3] = {(b.x - a.x) / d, (b.y - a.y) / d, (b.z - a.z) / d};
  const double u[3] = {(qj.x - qi.x) / len, (qj.y - qi.y) / len, (qj.z - qi.z) / len};
  const double va = along(a, v), vb = along(b, v), ui = along(qi, u), uj = along(qj, u);
  const double same = std::min(normal_tol - std::fabs(ui - va), normal_tol - std::fabs(uj - vb));
  const double flipped = std::min(normal_tol - std::fabs(ui + va), normal_tol - std::fabs(uj + vb));
  return std::min(
      {tol - std::fabs(len - d),
       normal_tol - std::fabs(core::normal_difference(qi, qj) - core::normal_difference(a, b)),
       std::max(same, flipped)});
}

// Checks the table's answer for (a, b) against every ordered pair of `q`; pairs within `edge`
// of a test's bound may go either way (the table keeps lengths in single precision).
void expect_like_brute_force(const PairTable& table, const core::PointSet& q,
                             const core::Point3D& a, const core::Point3D& b, double tol,
                             double normal_tol, size_t* found = nullptr) {
  std::vector<core::IndexPair> list;
  table.extract(a, b, tol, normal_tol, list);
  const Pairs got = sorted(list);
  EXPECT_TRUE(std::adjacent_find(got.begin(), got.end()) == got.end()) << "a pair came twice";
  constexpr double edge = 1e-4;
  Pairs must, may;
  for (uint32_t i = 0; i < q.size(); ++i)
    for (uint32_t j = 0; j < q.size(); ++j) {
      if (i == j) continue;
      const double m = margin(a, b, q[i], q[j], tol, normal_tol);
      if (m > edge) must.emplace_back(i, j);
      if (m > -edge) may.emplace_back(i, j);
    }
  Pairs missing, extra;
  std::set_difference(must.begin(), must.end(), got.begin(), got.end(),
                      std::back_inserter(missing));
  std::set_difference(got.begin(), got.end(), may.begin(), may.end(), std::back_inserter(extra));
  EXPECT_TRUE(missing.empty()) << missing.size() << " passing pairs missing, first ("
                               << missing[0].first << ", " << missing[0].second << ")";
  EXPECT_TRUE(extra.empty()) << extra.size() << " failing pairs kept, first (" << extra[0].first
                             << ", " << extra[0].second << ")";
  if (found) *found += got.size();
}

core::PointSet with_flipped_normals(core::PointSet set) {
  for (core::Point3D& p : set) p.nx = -p.nx, p.ny = -p.ny, p.nz = -p.nz;
  return set;
}

// ---------------------------------------------------------------- against brute force

// The table is built for one bucket width but asked with tolerances narrower and wider than
// it; a zero or NaN width falls back to one of its own.
class PairTableBuckets : public ::testing::TestWithParam<double> {};

TEST_P(PairTableBuckets, ExtractsExactlyThePairsThatPassEveryTest) {
  const core::PointSet q = test::wavy_surface(260, 5);
  const PairTable table(q, GetParam());
  size_t found = 0;
  for (const double tol : {0.3, 1.5, 6.0})
    for (const double normal_tol : {0.02, 0.08, 0.5})
      for (uint32_t k = 0; k < 12; ++k) {
        SCOPED_TRACE(testing::Message()
                     << "tol " << tol << " normal tol " << normal_tol << " base " << k);
        const core::Point3D& a = q[k];
        const core::Point3D& b = q[q.size() - 1 - 7 * k];
        expect_like_brute_force(table, q, a, b, tol, normal_tol, &found);
      }
  EXPECT_GT(found, 1000u);  // the comparison is not between two empty answers
}

// Two threads table half of the rows each; what a trial reads must not change, order included
// (it decides which quads a trial meets first). Sets of 2 and 3 points have a half of no rows.
TEST_P(PairTableBuckets, TwoThreadsTableTheSamePairsInTheSameOrder) {
  for (const size_t n : {size_t{2}, size_t{3}, size_t{261}}) {
    const core::PointSet q = test::wavy_surface(n, 5);
    const PairTable one(q, GetParam()), two(q, GetParam(), {}, 2);
    std::vector<core::IndexPair> a, b;
    for (uint32_t k = 0; k < n; k += 7)
      for (const double tol : {0.3, 6.0}) {
        SCOPED_TRACE(testing::Message() << n << " points, base " << k << " tol " << tol);
        one.extract(q[k], q[n - 1 - k], tol, 0.5, a);
        two.extract(q[k], q[n - 1 - k], tol, 0.5, b);
        ASSERT_EQ(a.size(), b.size());
        for (size_t i = 0; i < a.size(); ++i)
          ASSERT_TRUE(a[i].first == b[i].first && a[i].second == b[i].second) << "pair " << i;
      }
  }
}

// The hook is asked while the table is made, by one or two threads: one that never says stop
// leaves the table a run without it gets; one that says stop at once leaves it stopped.
TEST(PairTable, AStopHookIsAskedAndHeard) {
  const core::PointSet q = test::wavy_surface(400, 5);
  const PairTable plain(q, 1.0);
  std::vector<core::IndexPair> a, b;
  plain.extract(q[3], q[300], 1.0, 0.5, a);
  for (const int threads : {1, 2}) {
    int asked = 0;
    const std::function<bool()> go_on = [&asked] { return ++asked < 0; };
    const PairTable heard(q, 1.0, go_on, threads);
    EXPECT_GT(asked, 0) << threads << " threads";
    ASSERT_FALSE(heard.stopped());
    heard.extract(q[3], q[300], 1.0, 0.5, b);
    EXPECT_EQ(sorted(a), sorted(b)) << threads << " threads";
    const std::function<bool()> stop_now = [] { return true; };
    EXPECT_TRUE(PairTable(q, 1.0, stop_now, threads).stopped()) << threads << " threads";
  }
}

INSTANTIATE_TEST_SUITE_P(Widths, PairTableBuckets,
                         ::testing::Values(1.5, 0.01, 40.0, 0.0, std::nan("")));

TEST(PairTable, BaseFromAnotherScanWithFlippedNormalsMatchesToo) {
  // A base whose normals point the other way (the scans were taken from opposite sides).
  const core::PointSet q = test::wavy_surface(200, 8);
  const PairTable table(q, 1.0);
  const core::PointSet flipped = with_flipped_normals(q);
  for (uint32_t k = 0; k < 10; ++k) {
    SCOPED_TRACE(testing::Message() << "base " << k);
    expect_like_brute_force(table, q, flipped[k], flipped[k + 50], 1.0, 0.05);
  }
}

// ---------------------------------------------------------------- pose and sign

TEST(PairTable, TurnedAndFlippedSetGivesTheSamePairs) {
  const core::PointSet q = test::wavy_surface(300, 12);
  const double t[3] = {120, -40, 15};
  const core::PointSet p = test::moved(q, test::rotation(0.4, -1, 0.7, 137), t);
  const core::PointSet q_flipped = with_flipped_normals(q);
  const PairTable table(q, 1.0), table_flipped(q_flipped, 1.0);
  std::vector<core::IndexPair> list;
  size_t total = 0;
  for (uint32_t k = 0; k < 20; ++k) {
    const uint32_t i = 3 * k, j = 299 - 5 * k;
    SCOPED_TRACE(testing::Message() << "base (" << i << ", " << j << ")");
    table.extract(q[i], q[j], 1.0, 0.1, list);
    const Pairs in_place = sorted(list);
    table.extract(p[i], p[j], 1.0, 0.1, list);
    const Pairs turned = sorted(list);
    table_flipped.extract(p[i], p[j], 1.0, 0.1, list);
    const Pairs turned_flipped = sorted(list);
    EXPECT_EQ(turned, in_place);
    EXPECT_EQ(turned_flipped, in_place);
    // The true match is among them.
    EXPECT_TRUE(std::binary_search(turned.begin(), turned.end(), std::make_pair(i, j)));
    total += in_place.size();
  }
  EXPECT_GT(total, 100u);
}

// ---------------------------------------------------------------- degenerate input

TEST(PairTable, TinySetsAndZeroLengthsGiveNoPairs) {
  std::vector<core::IndexPair> pairs = {{7, 8}};
  const core::PointSet none;
  PairTable(none, 1.0).extract(point(0, 0, 0), point(1, 0, 0), 0.5, 1, pairs);
  EXPECT_TRUE(pairs.empty());
  pairs = {{7, 8}};
  const core::PointSet one = {point(2, 0, 0)};
  PairTable(one, 1.0).extract(point(0, 0, 0), point(0, 0, 0), 0.5, 1, pairs);
  EXPECT_TRUE(pairs.empty());

  // Q holds a duplicate; a base of two coincident points, or a tolerance that admits length 0,
  // must not pair a point with its twin (no direction to test the normals against).
  const core::PointSet q = {point(0, 0, 0), point(0, 0, 0), point(1, 0, 0), point(3, 0, 0)};
  const PairTable table(q, 0.5);
  table.extract(point(5, 5, 5), point(5, 5, 5), 0.5, 1, pairs);
  EXPECT_TRUE(pairs.empty());
  table.extract(point(0, 0, 0), point(0.2, 0, 0), 0.5, 1, pairs);
  EXPECT_TRUE(pairs.empty());
  table.extract(point(0, 0, 0), point(1, 0, 0), 0.1, 1, pairs);
  EXPECT_EQ(sorted(pairs), (Pairs{{0, 2}, {1, 2}, {2, 0}, {2, 1}}));
  // Longer than every pair of Q.
  table.extract(point(0, 0, 0), point(50, 0, 0), 0.5, 1, pairs);
  EXPECT_TRUE(pairs.empty());
}

TEST(PairTable, FitsTypicalWorkingSetsButNotFullScans) {
  EXPECT_TRUE(PairTable::fits(0));
  EXPECT_TRUE(PairTable::fits(2000));
  EXPECT_FALSE(PairTable::fits(100000));
}

}  // namespace
}  // namespace kestrel::registration
