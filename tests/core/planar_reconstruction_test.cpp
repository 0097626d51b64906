#include "core/planar_reconstruction.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <set>

#include "core/delaunay_2d.h"

namespace kestrel::core {
namespace {

Point3D at(double x, double y, double z) {
  return Point3D{x, y, z, 9, 9, 9};
}

TEST(PlanarReconstruction, TriangleGetsUpwardNormals) {
  PointSet set = {at(0, 0, 5), at(1, 0, 5), at(0, 1, 5)};
  FaceList faces;
  reconstruct_planar(set, faces);
  ASSERT_EQ(faces.size(), 1u);
  for (const Point3D& p : set) {
    EXPECT_FLOAT_EQ(p.nx, 0);
    EXPECT_FLOAT_EQ(p.nz, 1);
  }
}

TEST(PlanarReconstruction, UnitSquareGivesTwoCounterClockwiseFaces) {
  PointSet set = {at(0, 0, 0), at(1, 0, 0), at(1, 1, 0), at(0, 1, 0)};
  FaceList faces;
  reconstruct_planar(set, faces);
  ASSERT_EQ(faces.size(), 2u);
  for (const Face& f : faces) {
    const Point3D &a = set[f.v[0]], &b = set[f.v[1]], &c = set[f.v[2]];
    EXPECT_GT((b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x), 0);
  }
  for (const Point3D& p : set) EXPECT_FLOAT_EQ(p.nz, 1);
}

TEST(PlanarReconstruction, TiltedPlaneNormals) {
  PointSet set;
  for (int i = 0; i < 5; ++i)
    for (int j = 0; j < 5; ++j) set.push_back(at(i * 1.3, j * 0.7 + i * 0.1, i * 1.3));
  FaceList faces;
  reconstruct_planar(set, faces);
  ASSERT_FALSE(faces.empty());
  for (const Point3D& p : set) {
    EXPECT_NEAR(p.nx, -0.7071, 1e-4);
    EXPECT_NEAR(p.ny, 0, 1e-4);
    EXPECT_NEAR(p.nz, 0.7071, 1e-4);
  }
}

TEST(PlanarReconstruction, DuplicateXyPointBelongsToNoFace) {
  PointSet set = {at(0, 0, 0), at(1, 0, 0), at(0, 1, 0), at(1, 0, 7), at(1, 1, 0)};
  FaceList faces;
  reconstruct_planar(set, faces);
  EXPECT_EQ(faces.size(), 2u);
  for (const Face& f : faces)
    for (int v : f.v) EXPECT_NE(v, 3);
  EXPECT_EQ(set[3].nx, 0);
  EXPECT_EQ(set[3].ny, 0);
  EXPECT_EQ(set[3].nz, 0);
  EXPECT_FLOAT_EQ(set[1].nz, 1);  // the first occurrence takes part
}

// Many repeats in shuffled order: only the lowest index of each x-y position may appear in a
// face, and every such index does (all points of a grid are corners). -0 and 0 are one position.
TEST(PlanarReconstruction, EveryRepeatedPositionKeepsOnlyItsFirstPoint) {
  const unsigned seed = 7;
  std::mt19937 rng(seed);
  PointSet set;
  for (int copy = 0; copy < 3; ++copy)
    for (int i = 0; i < 6; ++i)
      for (int j = 0; j < 6; ++j) set.push_back(at(i == 0 && copy == 1 ? -0.0 : i, j, copy));
  std::shuffle(set.begin(), set.end(), rng);
  set.push_back(at(std::nan(""), 2, 0));  // a NaN takes no part either
  std::set<int32_t> firsts;               // the lowest index at each position, found by brute force
  for (size_t k = 0; k + 1 < set.size(); ++k) {
    int32_t j = 0;
    while (!(set[j].x == set[k].x && set[j].y == set[k].y)) ++j;
    firsts.insert(j);
  }
  ASSERT_EQ(firsts.size(), 36u) << "seed " << seed;
  std::set<int32_t> used;
  for (const Face& f : delaunay_2d(set))
    for (int32_t v : f.v) used.insert(v);
  EXPECT_EQ(used, firsts) << "seed " << seed;
}

TEST(PlanarReconstruction, CollinearSetHasNoFacesAndZeroNormals) {
  PointSet set = {at(0, 0, 0), at(1, 1, 3), at(2, 2, 1), at(5, 5, 0)};
  FaceList faces = {Face{{0, 1, 2}}};
  EXPECT_TRUE(can_triangulate(set));
  reconstruct_planar(set, faces);
  EXPECT_TRUE(faces.empty());
  for (const Point3D& p : set) EXPECT_EQ(p.nz, 0);
}

TEST(PlanarReconstruction, RefusesTooFewOrCoincidentPoints) {
  std::string reason;
  EXPECT_FALSE(can_triangulate({at(0, 0, 0), at(1, 0, 0)}, &reason));
  EXPECT_NE(reason.find("fewer than three"), std::string::npos);
  EXPECT_FALSE(can_triangulate({at(2, 2, 0), at(2, 2, 1), at(2, 2, 2)}, &reason));
  EXPECT_NE(reason.find("one position"), std::string::npos);
}

}  // namespace
}  // namespace kestrel::core
