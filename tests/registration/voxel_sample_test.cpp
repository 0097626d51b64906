// Grid thinning: one mean per occupied cell, and a cell size chosen for a wanted count.

#include "registration/any_pose/voxel_sample.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "test_support.h"

namespace kestrel::registration {
namespace {

using test::point;

// A dense regular grid on the patch of a sphere of `radius` within 50 degrees of its pole,
// scaled by `unit` (1 for millimetres, 0.001 for metres) and shifted away from the origin.
core::PointSet sphere_patch(double radius, double unit) {
  core::PointSet set;
  const double step = 0.004;  // in radians, about radius / 250
  for (double a = -0.85; a <= 0.85; a += step)
    for (double b = -0.85; b <= 0.85; b += step) {
      if (a * a + b * b > 0.85 * 0.85) continue;
      const double x = std::sin(a), y = std::sin(b);
      const double z = std::sqrt(std::max(0.0, 1 - x * x - y * y));
      set.push_back(
          point(unit * (radius * x + 4000), unit * (radius * y - 2500), unit * (radius * z + 900)));
    }
  return set;
}

// ---------------------------------------------------------------- voxel_sample

TEST(VoxelSample, KeepsTheMeanOfEachCellInOrderOfFirstAppearance) {
  // Cells of 2 counted from the lower corner (1, 1, 1): cell (1, 0, 0) comes first, then
  // (0, 0, 0), then (0, 1, 0).
  const core::PointSet set = {point(3.5, 1.0, 1.0), point(1.0, 1.0, 1.0), point(1.5, 1.5, 1.0),
                              point(3.0, 2.0, 2.0), point(1.0, 3.0, 1.0), point(2.0, 1.0, 2.5)};
  core::PointSet in = set;
  for (core::Point3D& p : in) p.nx = 1;  // normals are not averaged
  const core::PointSet out = voxel_sample(in, 2.0);
  ASSERT_EQ(out.size(), 3u);
  EXPECT_DOUBLE_EQ(out[0].x, 3.25);
  EXPECT_DOUBLE_EQ(out[0].y, 1.5);
  EXPECT_DOUBLE_EQ(out[0].z, 1.5);
  EXPECT_DOUBLE_EQ(out[1].x, 1.5);
  EXPECT_DOUBLE_EQ(out[1].y, 1.0 + 0.5 / 3);
  EXPECT_DOUBLE_EQ(out[1].z, 1.5);
  EXPECT_DOUBLE_EQ(out[2].x, 1.0);
  EXPECT_DOUBLE_EQ(out[2].y, 3.0);
  for (const core::Point3D& p : out) EXPECT_EQ(p.nx, 0.0);
}

TEST(VoxelSample, CellLargerThanTheSetKeepsItsCentroidAndTinyCellsKeepEveryPoint) {
  const core::PointSet set = test::wavy_surface(500, 4);
  const core::PointSet one = voxel_sample(set, 1e6);
  ASSERT_EQ(one.size(), 1u);
  double mean = 0;
  for (const core::Point3D& p : set) mean += p.z;
  EXPECT_NEAR(one[0].z, mean / 500, 1e-9);
  const core::PointSet all = voxel_sample(set, 1e-3);
  ASSERT_EQ(all.size(), set.size());
  for (size_t i = 0; i < set.size(); ++i) EXPECT_EQ(all[i].x, set[i].x);
}

TEST(VoxelSample, BadCellSizesAndEmptySetsGiveNothing) {
  const core::PointSet set = test::wavy_surface(50, 4);
  const double inf = std::numeric_limits<double>::infinity();
  for (const double cell : {0.0, -1.0, inf, -inf, std::nan("")})
    EXPECT_TRUE(voxel_sample(set, cell).empty()) << "cell " << cell;
  EXPECT_TRUE(voxel_sample({}, 1.0).empty());
}

// The wavy surface with `strays` points scattered over a box around it, as a scanner's flying
// pixels and specks; true for each stray point in `is_stray`.
core::PointSet with_strays(size_t strays, std::vector<bool>& is_stray) {
  core::PointSet set = test::wavy_surface(20000, 5);
  is_stray.assign(set.size(), false);
  std::mt19937 rng(9);
  std::uniform_real_distribution<double> across(-70, 70), deep(-30, 30);
  for (size_t k = 0; k < strays; ++k) {
    set.push_back(point(across(rng), across(rng), deep(rng)));
    is_stray.push_back(true);
  }
  return set;
}

// Whether a thinned point lies off the wavy surface by more than `reach`.
bool off_surface(const core::Point3D& p, double reach) {
  const double z = 6 * std::sin(p.x / 20) * std::cos(p.y / 17);
  return std::fabs(p.z - z) > reach || std::fabs(p.x) > 50 + reach || std::fabs(p.y) > 50 + reach;
}

struct StrayCase {
  const char* name;
  size_t strays;
  bool left_out;  // the stray cells are left out (else every cell is kept)
};

class StrayPoints : public ::testing::TestWithParam<StrayCase> {};

TEST_P(StrayPoints, AreLeftOutWhenMoreThanAFew) {
  const StrayCase& c = GetParam();
  std::vector<bool> is_stray;
  const core::PointSet set = with_strays(c.strays, is_stray);
  const double cell = 3.0;
  std::vector<bool> none;
  const size_t clean = voxel_sample(with_strays(0, none), cell).size();
  const core::PointSet out = voxel_sample(set, cell);
  size_t off = 0;
  for (const core::Point3D& p : out) off += off_surface(p, 2 * cell) ? 1 : 0;
  if (c.left_out) {
    // A stray that falls beside the surface keeps its cell; the rest are gone, and the surface
    // keeps its cells, its edges too.
    EXPECT_LE(off, c.strays / 20) << off << " thinned points off the surface";
    EXPECT_GE(out.size(), clean - clean / 100);
  } else {
    // A few strays keep their cells, but for those far from every other cell.
    size_t strays_off = 0;
    for (size_t i = 0; i < set.size(); ++i)
      strays_off += is_stray[i] && off_surface(set[i], 2 * cell) ? 1 : 0;
    EXPECT_LE(off, strays_off);
    // None is left far from every other (four cells along each axis at most).
    for (const core::Point3D& p : out) {
      double nearest = std::numeric_limits<double>::infinity();
      for (const core::Point3D& o : out)
        if (&o != &p) nearest = std::min(nearest, core::distance(p, o));
      EXPECT_LT(nearest, 4 * cell * std::sqrt(3.0)) << "a far stray at " << p.x << " " << p.y;
    }
  }
  // The cell chosen for a target counts the surface's cells, not the strays'.
  const size_t target = 600;
  const double sized = voxel_cell_for(set, target);
  size_t on = 0;
  for (const core::Point3D& p : voxel_sample(set, sized)) on += off_surface(p, 2 * sized) ? 0 : 1;
  EXPECT_NEAR(static_cast<double>(on) / target, 1.0, 0.08) << on << " on the surface";
}

INSTANTIATE_TEST_SUITE_P(Scans, StrayPoints,
                         ::testing::Values(StrayCase{"none", 0, false},
                                           StrayCase{"a_few", 8, false},
                                           StrayCase{"one_in_a_hundred", 200, true},
                                           StrayCase{"one_in_twenty", 1000, true}),
                         [](const ::testing::TestParamInfo<StrayCase>& info) {
                           return std::string(info.param.name);
                         });

// A point written far from everything (a sentinel value, say) goes even when it is the only
// stray: it would stretch every measure of the scan's size. One beside the surface stays.
TEST(VoxelSample, APointFarFromAllOthersIsLeftOutEvenAlone) {
  std::vector<bool> is_stray;
  const core::PointSet clean = with_strays(0, is_stray);
  const size_t kept = voxel_sample(clean, 3.0).size();
  // Below the scan the point moves the corner the cells are counted from (by a thousand
  // kilometres, it would put the whole scan in one layer of cells): the cells shift a little.
  for (const double off : {1e9, 1e6, 60.0, 8.0, -1e7, -1e9}) {
    core::PointSet set = clean;
    set.push_back(point(20, 10, off));
    const core::PointSet out = voxel_sample(set, 3.0);
    if (off > 0) {
      EXPECT_EQ(out.size(), off > 3 * 3.0 * 2 ? kept : kept + 1) << "a point " << off << " off";
    } else {
      EXPECT_NEAR(static_cast<double>(out.size()), static_cast<double>(kept), 0.02 * kept) << off;
      for (const core::Point3D& p : out) ASSERT_GT(p.z, -100) << off;
    }
    // The cell chosen for a target is about the clean scan's, however far the point.
    EXPECT_NEAR(voxel_cell_for(set, 600), voxel_cell_for(clean, 600),
                0.05 * voxel_cell_for(clean, 600));
  }
}

// ---------------------------------------------------------------- voxel_cell_for

struct CellCase {
  double unit;
  size_t target;
};

class VoxelCellFor : public ::testing::TestWithParam<CellCase> {};

TEST_P(VoxelCellFor, LandsNearTheTargetOnADenseSurface) {
  const auto [unit, target] = GetParam();
  static const core::PointSet millimetres = sphere_patch(100, 1.0);
  const core::PointSet set = unit == 1.0 ? millimetres : sphere_patch(100, unit);
  ASSERT_GT(set.size(), 100000u);
  const double cell = voxel_cell_for(set, target);
  ASSERT_GT(cell, 0);
  const size_t kept = voxel_sample(set, cell).size();
  EXPECT_NEAR(static_cast<double>(kept) / static_cast<double>(target), 1.0, 0.06)
      << kept << " kept for a target of " << target << " with cells of " << cell;
  // The same surface in other units gives the same cell in those units.
  if (unit != 1.0)
    EXPECT_NEAR(cell / unit, voxel_cell_for(millimetres, target), 0.02 * cell / unit);
}

INSTANTIATE_TEST_SUITE_P(Targets, VoxelCellFor,
                         ::testing::Values(CellCase{1.0, 300}, CellCase{1.0, 1000},
                                           CellCase{1.0, 4000}, CellCase{0.001, 1000},
                                           CellCase{1000.0, 1000}),
                         [](const ::testing::TestParamInfo<CellCase>& info) {
                           const char* unit = info.param.unit == 1.0  ? "millimetres"
                                              : info.param.unit < 1.0 ? "metres"
                                                                      : "micrometres";
                           return std::string(unit) + "_" + std::to_string(info.param.target);
                         });

TEST(VoxelCellFor, DegenerateSetsGiveAUsableAnswer) {
  EXPECT_EQ(voxel_cell_for({}, 100), 0.0);
  EXPECT_EQ(voxel_cell_for(test::wavy_surface(50, 1), 0), 0.0);
  // All points in one place: any positive cell keeps the single point.
  const core::PointSet same(20, point(3, 4, 5));
  const double cell = voxel_cell_for(same, 10);
  EXPECT_GT(cell, 0);
  EXPECT_EQ(voxel_sample(same, cell).size(), 1u);
}

}  // namespace
}  // namespace kestrel::registration
