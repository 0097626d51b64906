// The origin a model's points are kept relative to: none near the file's origin, a round one
// out where a georeferenced scan lies, wherever a few points written far off the rest lie.

#include "core/point_origin.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace kestrel::core {
namespace {

// A patch of 2000 points, 150 units across, about `at`, and `far` points written far off.
PointSet patch(const Origin& at, const std::vector<Origin>& far, size_t n = 2000) {
  PointSet set;
  for (size_t k = 0; k < n; ++k) {
    const double u = static_cast<double>(k % 50) * 3, v = static_cast<double>(k / 50) * 3.75;
    set.push_back(Point3D{at[0] + u + 0.123, at[1] + v + 0.456, at[2] + 0.01 * u * v, 0, 0, 0});
  }
  for (const Origin& f : far) set.push_back(Point3D{f[0], f[1], f[2], 0, 0, 0});
  return set;
}

TEST(PointOrigin, TakenWhereTheScanLiesNotWhereAFewPointsFarOffLie) {
  struct Row {
    const char* name;
    Origin at;
    std::vector<Origin> far;
    Origin expected;
    size_t n = 2000;
  };
  const Row rows[] = {
      {"near the file's origin", {10, -20, 5}, {}, {0, 0, 0}},
      {"georeferenced", {4.5e6, 5.4e6, 0}, {}, {4.5e6, 5.4e6, 0}},
      {"georeferenced, a point 1000 km below",
       {4.5e6, 5.4e6, 0},
       {{4.5e6, -1e9, 0}},
       {4.5e6, 5.4e6, 0}},
      {"near the origin, points far off on every axis",
       {10, -20, 5},
       {{1e9, 2e9, -3e9}, {-7e8, 1e7, 5e8}},
       {0, 0, 0}},
      // Too few points to leave any out: the middle of the whole range.
      {"a few points, one far off", {0, 0, 0}, {{1e9, 0, 0}}, {5e8, 0, 0}, 100},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    PointSet set = patch(row.at, row.far, row.n);
    const Origin origin = choose_origin(set, {0, 0, 0});
    for (size_t a = 0; a < 3; ++a) EXPECT_EQ(origin[a], row.expected[a]) << "axis " << a;
    // Kept relative to it in floats, the patch loses no hundredth of a unit.
    const PointSet exact = set;
    move_to_origin(set, origin, true);
    for (size_t i = 0; i < row.n; ++i) {
      if (row.n < 2000) break;
      ASSERT_NEAR(set[i].x + origin[0], exact[i].x, 0.01);
      ASSERT_NEAR(set[i].y + origin[1], exact[i].y, 0.01);
      ASSERT_NEAR(set[i].z + origin[2], exact[i].z, 0.01);
    }
  }
}

}  // namespace
}  // namespace kestrel::core
