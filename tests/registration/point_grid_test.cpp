// The grid's fixed-radius answers against brute force.

#include "registration/any_pose/point_grid.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <utility>
#include <vector>

namespace kestrel::registration {
namespace {

using Points = std::vector<std::array<double, 3>>;

Points random_points(size_t n, uint32_t seed, double half) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(-half, half);
  Points pts;
  for (size_t k = 0; k < n; ++k) pts.push_back({u(rng), u(rng), u(rng)});
  return pts;
}

std::vector<int> brute_within(const Points& pts, double x, double y, double z, double sq_r) {
  std::vector<int> out;
  for (size_t i = 0; i < pts.size(); ++i) {
    const double dx = pts[i][0] - x, dy = pts[i][1] - y, dz = pts[i][2] - z;
    if (dx * dx + dy * dy + dz * dz < sq_r) out.push_back(static_cast<int>(i));
  }
  return out;
}

TEST(PointGrid, FindsExactlyThePointsWithinTheRadius) {
  // The query radius is the cell size, smaller, and larger than it (the grid must look further).
  for (const double cell : {1.0, 4.0, 15.0}) {
    for (const double r : {0.5, 4.0, 9.0}) {
      SCOPED_TRACE(testing::Message() << "cell " << cell << " radius " << r);
      const Points pts = random_points(2000, 7, 30);
      const PointGrid grid(pts, cell);
      std::mt19937 rng(3);
      std::uniform_real_distribution<double> u(-40, 40);  // some queries lie outside the box
      for (int k = 0; k < 300; ++k) {
        const double x = u(rng), y = u(rng), z = u(rng);
        std::vector<int> got;
        grid.for_each_within(x, y, z, r * r, [&got](int i) { got.push_back(i); });
        std::sort(got.begin(), got.end());
        const std::vector<int> want = brute_within(pts, x, y, z, r * r);
        EXPECT_EQ(got, want);
        EXPECT_EQ(grid.any_within(x, y, z, r * r), !want.empty());
      }
    }
  }
}

TEST(PointGrid, BoundaryIsStrictAndDegenerateInputsFindNothing) {
  const Points pts = {{0, 0, 0}, {3, 4, 0}, {3, 4, 0}};
  const PointGrid grid(pts, 1.0);
  EXPECT_FALSE(grid.any_within(0, 0, 0, 0.0));   // radius 0: strict, nothing
  EXPECT_FALSE(grid.any_within(6, 8, 0, 25.0));  // exactly at distance 5
  EXPECT_TRUE(grid.any_within(6, 8, 0, 25.0001));
  int count = 0;
  grid.for_each_within(3, 4, 0, 0.01, [&count](int) { ++count; });
  EXPECT_EQ(count, 2);  // duplicates are both found
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_FALSE(grid.any_within(nan, 0, 0, 100.0));
  EXPECT_FALSE(PointGrid(std::vector<std::array<double, 3>>{}, 1.0).any_within(0, 0, 0, 100.0));
}

TEST(PointGrid, PointsOnCellBordersAreFoundFromEitherSide) {
  // Points placed exactly on the cell borders, and balls whose edges graze them from one ulp
  // inside or outside: the cells a ball touches must still hold every point within it.
  for (const double cell : {0.1, 0.3, 1.0 / 3, 7.0}) {
    SCOPED_TRACE(testing::Message() << "cell " << cell);
    Points pts;
    for (int i = 0; i < 6; ++i)
      for (int j = 0; j < 6; ++j) pts.push_back({i * cell, j * cell, (i + j) % 3 * cell});
    const PointGrid grid(pts, cell);
    for (const auto& p : pts)
      for (const double r : {cell, 2 * cell, 0.5 * cell})
        for (const double r_sq : {std::nextafter(r * r, 0.0), std::nextafter(r * r, 1e9)}) {
          const double x = p[0] + r, y = p[1], z = p[2];
          std::vector<int> got;
          grid.for_each_within(x, y, z, r_sq, [&got](int i) { got.push_back(i); });
          std::sort(got.begin(), got.end());
          EXPECT_EQ(got, brute_within(pts, x, y, z, r_sq));
          double d2 = 0;
          const int nearest = grid.nearest_within(x, y, z, r_sq, d2);
          EXPECT_EQ(nearest >= 0, !got.empty());
        }
  }
}

TEST(PointGrid, HugeBoxWithTinyCellsStaysSmallAndExact) {
  // 1e6 units across with cells of 1e-3 would need 1e27 cells; the grid coarsens instead.
  Points pts = random_points(500, 11, 5e5);
  pts.push_back({1.0, 1.0, 1.0});
  const PointGrid grid(pts, 1e-3);
  EXPECT_TRUE(grid.any_within(1.0, 1.0, 1.0005, 1e-6));
  EXPECT_FALSE(grid.any_within(1.0, 1.0, 1.002, 1e-6));
}

// A wavy sheet across a box of `half` units with cells of `cell`: far more cells than a dense
// grid keeps, so only the occupied ones are kept, column by column.
// Flat, it lies in the cells of one z: its columns along x hold dozens of occupied cells.
Points wavy_sheet(size_t n, uint32_t seed, double half, bool flat = false) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(-half, half);
  Points pts;
  for (size_t k = 0; k < n; ++k) {
    const double x = u(rng), y = u(rng);
    const double wave = flat ? 1e-3 : 0.3 * half;
    pts.push_back({x, y, wave * std::sin(x / half * 3) * std::cos(y / half * 2)});
  }
  // Coincident points, and points that share a column but lie in far cells of it; a flat
  // sheet's box made deep, so that only its occupied cells are kept.
  if (flat) pts.push_back({0, 0, half}), pts.push_back({0, 0, -half});
  pts.push_back(pts[5]);
  pts.push_back({pts[9][0] + 0.7 * half, pts[9][1], pts[9][2]});
  return pts;
}

TEST(PointGrid, SparseBoxKeepsOccupiedCellsAndStaysExact) {
  struct Case {
    double half, cell, radius;
    bool flat = false;
  };
  // Cells of the radius, cells smaller and larger than it, a radius wider than the box, and a
  // flat sheet's long columns.
  for (const Case c : {Case{50, 0.2, 0.2}, Case{50, 0.1, 0.45}, Case{200, 0.3, 0.1},
                       Case{10, 0.005, 30}, Case{50, 0.5, 0.7, true}}) {
    SCOPED_TRACE(testing::Message() << "half " << c.half << " cell " << c.cell);
    const Points pts = wavy_sheet(6000, 5, c.half, c.flat);
    const PointGrid grid(pts, c.cell);
    std::mt19937 rng(12);
    std::uniform_real_distribution<double> u(-1.1 * c.half, 1.1 * c.half);
    std::vector<int> nearest;
    for (int k = 0; k < 200; ++k) {
      // Half the queries on the sheet, the others anywhere in (and beyond) the box.
      const Points::value_type& at = pts[static_cast<size_t>(k) * 29 % pts.size()];
      const double x = k % 2 ? u(rng) : at[0], y = k % 2 ? u(rng) : at[1],
                   z = k % 2 ? u(rng) * (c.flat ? 0.01 : 0.5) : at[2] + 0.01;
      std::vector<int> got;
      grid.for_each_within(x, y, z, c.radius * c.radius, [&got](int i) { got.push_back(i); });
      std::sort(got.begin(), got.end());
      EXPECT_EQ(got, brute_within(pts, x, y, z, c.radius * c.radius));
      grid.nearest_k(x, y, z, 12, nearest);
      std::vector<int> want(12);
      std::vector<std::pair<double, int>> order;
      for (size_t i = 0; i < pts.size(); ++i) {
        const double dx = pts[i][0] - x, dy = pts[i][1] - y, dz = pts[i][2] - z;
        order.emplace_back(dx * dx + dy * dy + dz * dz, static_cast<int>(i));
      }
      std::partial_sort(order.begin(), order.begin() + 12, order.end());
      for (size_t j = 0; j < 12; ++j) want[j] = order[j].second;
      EXPECT_EQ(nearest, want);
    }
  }
}

// A scan whose points repeat (a mesh's vertices written once per face): a distinct grid keeps
// the first point of each position and answers as a grid over those alone would.
TEST(PointGrid, ADistinctGridStoresEachPositionOnce) {
  struct Case {
    const char* name;
    size_t copies;  // of each point, spread through the set
    size_t pile;    // copies of one more point, all in one cell
    double half, cell;
  };
  for (const Case c :
       {Case{"no_copies", 1, 0, 50, 2}, Case{"twice", 2, 0, 50, 2}, Case{"six_times", 6, 0, 50, 2},
        Case{"a_pile", 1, 300, 50, 2}, Case{"sparse_cells", 3, 40, 200, 0.05}}) {
    SCOPED_TRACE(c.name);
    const Points base = random_points(3000, 4, c.half);
    std::vector<size_t> order;
    for (size_t k = 0; k < c.copies; ++k)
      for (size_t i = 0; i < base.size(); ++i) order.push_back(i);
    for (size_t k = 0; k < c.pile; ++k) order.push_back(0);
    std::shuffle(order.begin(), order.end(), std::mt19937(6));
    core::PointSet set;
    Points first;  // the first point of each position, by index; others far off
    std::vector<bool> seen(base.size(), false);
    for (const size_t i : order) {
      set.push_back({base[i][0], base[i][1], base[i][2], 0, 0, 0});
      first.push_back(seen[i] ? Points::value_type{1e9, 1e9, 1e9} : base[i]);
      seen[i] = true;
    }
    const PointGrid plain(set, c.cell), distinct(set, c.cell, {}, true);
    EXPECT_EQ(plain.size(), set.size());
    EXPECT_EQ(distinct.size(), base.size());
    for (int k = 0; k < 100; ++k) {
      const Points::value_type& at = base[static_cast<size_t>(k) * 31 % base.size()];
      std::vector<int> got;
      distinct.for_each_within(at[0], at[1], at[2] + 0.1, 100, [&got](int i) { got.push_back(i); });
      std::sort(got.begin(), got.end());
      EXPECT_EQ(got, brute_within(first, at[0], at[1], at[2] + 0.1, 100));
    }
  }
}

// ---------------------------------------------------------------- nearest questions

// Indices by squared distance to (x, y, z), ties by index.
std::vector<std::pair<double, int>> by_distance(const Points& pts, double x, double y, double z) {
  std::vector<std::pair<double, int>> out;
  for (size_t i = 0; i < pts.size(); ++i) {
    const double dx = pts[i][0] - x, dy = pts[i][1] - y, dz = pts[i][2] - z;
    out.emplace_back(dx * dx + dy * dy + dz * dz, static_cast<int>(i));
  }
  std::sort(out.begin(), out.end());
  return out;
}

TEST(PointGrid, NearestWithinMatchesBruteForce) {
  const Points pts = random_points(1500, 19, 25);
  for (const double cell : {0.7, 3.0, 20.0}) {
    const PointGrid grid(pts, cell);
    std::mt19937 rng(8);
    std::uniform_real_distribution<double> u(-35, 35);
    for (const double r : {1.5, 4.0, 9.0}) {
      SCOPED_TRACE(testing::Message() << "cell " << cell << " radius " << r);
      int hits = 0;
      for (int k = 0; k < 400; ++k) {
        const double x = u(rng), y = u(rng), z = u(rng);
        const auto want = by_distance(pts, x, y, z);
        double d2 = -1;
        const int got = grid.nearest_within(x, y, z, r * r, d2);
        if (want[0].first < r * r) {
          ++hits;
          EXPECT_EQ(got, want[0].second);
          EXPECT_EQ(d2, want[0].first);
        } else {
          EXPECT_EQ(got, -1);
        }
      }
      EXPECT_GT(hits, 10);
    }
  }
}

TEST(PointGrid, NearestKMatchesBruteForceInsideAndFarOutside) {
  const Points pts = random_points(800, 23, 10);
  const PointGrid grid(pts, 1.5);
  std::mt19937 rng(4);
  std::uniform_real_distribution<double> u(-12, 12);
  std::vector<int> got;
  for (int q = 0; q < 300; ++q) {
    // Every third query far away along one axis, beyond many doublings of the cell.
    double x = u(rng), y = u(rng), z = u(rng);
    if (q % 3 == 1) x += 5e4;
    if (q % 3 == 2) z -= 3e7;
    const auto want = by_distance(pts, x, y, z);
    for (const size_t k : {size_t{1}, size_t{16}, size_t{100}}) {
      grid.nearest_k(x, y, z, k, got);
      ASSERT_EQ(got.size(), k);
      for (size_t j = 0; j < k; ++j)
        EXPECT_EQ(got[j], want[j].second) << "query " << q << " k " << k << " rank " << j;
    }
  }
}

TEST(PointGrid, NearestTiesAreDeterministicAndKBeyondTheSetGivesAll) {
  // Four points at distance 1 from the origin, two of them coincident, and a fifth further.
  const Points pts = {{0, 0, 2}, {1, 0, 0}, {0, -1, 0}, {1, 0, 0}, {0, 0, -1}};
  const PointGrid grid(pts, 0.6);
  std::vector<int> got;
  grid.nearest_k(0, 0, 0, 3, got);
  EXPECT_EQ(got, (std::vector<int>{1, 2, 3}));  // of equal distances the lower index first
  grid.nearest_k(0, 0, 0, 50, got);
  EXPECT_EQ(got, (std::vector<int>{1, 2, 3, 4, 0}));
  double d2 = 0;
  const int first = grid.nearest_within(0, 0, 0, 4.0, d2);
  EXPECT_EQ(d2, 1.0);
  EXPECT_TRUE(first == 1 || first == 2 || first == 3 || first == 4);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(grid.nearest_within(0, 0, 0, 4.0, d2), first);
  EXPECT_EQ(grid.nearest_within(0, 0, 0, 1.0, d2), -1);  // strict

  const PointGrid empty(std::vector<std::array<double, 3>>{}, 1.0);
  empty.nearest_k(0, 0, 0, 5, got);
  EXPECT_TRUE(got.empty());
  EXPECT_EQ(empty.nearest_within(0, 0, 0, 4.0, d2), -1);
  grid.nearest_k(0, 0, 0, 0, got);
  EXPECT_TRUE(got.empty());
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(grid.nearest_within(nan, 0, 0, 4.0, d2), -1);
}

// A bound from any stored point (the nearest itself, a near one, one beyond the radius) gives
// the plain search's answer, ties included; a sparse grid and a dense one alike.
TEST(PointGrid, NearestWithinABoundAnswersAsThePlainSearch) {
  Points pts = random_points(1200, 31, 20);
  for (int k = 0; k < 40; ++k) pts.push_back(pts[static_cast<size_t>(k) * 7]);  // coincident
  struct Case {
    const char* name;
    double cell, radius;
  };
  const Case cases[] = {{"dense grid", 2.0, 4.0}, {"tiny cells", 0.05, 6.0}, {"one cell", 60, 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const PointGrid grid(pts, c.cell);
    std::mt19937 rng(12);
    std::uniform_real_distribution<double> u(-24, 24);
    std::uniform_int_distribution<size_t> any(0, pts.size() - 1);
    for (int q = 0; q < 300; ++q) {
      const double x = u(rng), y = u(rng), z = u(rng);
      const double sq_r = c.radius * c.radius;
      double plain_d2 = -1;
      const int plain = grid.nearest_within(x, y, z, sq_r, plain_d2);
      const auto want = by_distance(pts, x, y, z);
      for (const size_t hint : {static_cast<size_t>(want[0].second),
                                static_cast<size_t>(want[3].second), any(rng)}) {
        const auto& h = pts[hint];
        const double dx = h[0] - x, dy = h[1] - y, dz = h[2] - z;
        double d2 = -1;
        EXPECT_EQ(grid.nearest_within(x, y, z, sq_r, dx * dx + dy * dy + dz * dz, d2), plain);
        if (plain >= 0) EXPECT_EQ(d2, plain_d2);
      }
    }
  }
}

// A few points written far from the rest (sentinel values) sit in the border cells of a grid
// over the others' box: every answer stays exact, near the far points and beyond them too.
TEST(PointGrid, PointsFarFromTheRestAreFoundExactly) {
  Points pts = wavy_sheet(5000, 8, 50);
  pts.erase(pts.end() - 2);  // the sheet's coincident point, which a scan as read stores once
  const Points far = {{1e6, 0, 0}, {-3e5, 2e5, 7}, {0, 0, -1e9}, {1e6, 1, 0}};
  pts.insert(pts.begin() + 1234, far.begin(), far.end());
  core::PointSet set;
  for (const auto& p : pts) set.push_back({p[0], p[1], p[2], 0, 0, 0});
  double lo[3], hi[3];
  core_box(set, lo, hi);
  EXPECT_LT(hi[0] - lo[0], 1000) << "the core's box leaves the far points out";
  const PointGrid scan(set, 1.0, {}, true);  // a scan as read
  std::vector<Points::value_type> queries = {{0, 0, 0},      {30, -20, 5},     {1e6, 0.5, 0},
                                             {-3e5, 2e5, 9}, {0, 0, -1e9 + 2}, {5e5, 0, 0}};
  for (const auto& q : queries) {
    SCOPED_TRACE(testing::Message() << q[0] << " " << q[1] << " " << q[2]);
    for (const double r : {3.0, 1e4}) {
      std::vector<int> got;
      scan.for_each_within(q[0], q[1], q[2], r * r, [&got](int i) { got.push_back(i); });
      std::sort(got.begin(), got.end());
      EXPECT_EQ(got, brute_within(pts, q[0], q[1], q[2], r * r));
    }
    std::vector<int> nearest, want;
    scan.nearest_k(q[0], q[1], q[2], 3, nearest);
    const auto order = by_distance(pts, q[0], q[1], q[2]);
    for (size_t j = 0; j < 3; ++j) want.push_back(order[j].second);
    EXPECT_EQ(nearest, want);
  }
}

}  // namespace
}  // namespace kestrel::registration
