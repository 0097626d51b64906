#include "icp/overlaps.h"

#include <gtest/gtest.h>

#include <random>

#include "icp/scale_step.h"

namespace kestrel::icp {
namespace {

TriMesh random_cloud(unsigned seed, int n) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(0, 1);
  TriMesh mesh;
  for (int i = 0; i < n; ++i) mesh.vertices.push_back({4 * u(rng), 2 * u(rng), u(rng)});
  return mesh;
}

// ---------------------------------------------------------------- overlap weights

TEST(Overlaps, IdenticalMeshesExceptBoxFaces) {
  TriMesh mesh1 = random_cloud(11, 400);
  mesh1.vertices.push_back({-1, 0.5f, 0.5f});  // alone on the box's min-x face
  mesh1.vertices.push_back({5, 0.5f, 0.5f});   // alone on the max-x face
  TriMesh mesh2 = mesh1;
  mesh1.normals.assign(mesh1.vertices.size(), Vec3f(0, 0, 1));
  mesh2.normals = mesh1.normals;
  std::vector<float> w1, w2;
  float maxdist = 0;
  compute_overlaps(mesh1, mesh2, Xform(), Xform(), w1, w2, maxdist, 0, 2);
  ASSERT_EQ(w1.size(), mesh1.vertices.size());
  EXPECT_EQ(w1, w2);
  const OverlapGrid g = overlap_grid(mesh1.vertices);
  for (size_t i = 0; i < mesh1.vertices.size(); ++i) {
    const Vec3f& v = mesh1.vertices[i];
    const bool on_box_face = v.x == g.min_x || v.x == g.max_x || v.y == g.min_y || v.y == g.max_y ||
                             v.z == g.min_z || v.z == g.max_z;
    EXPECT_EQ(w1[i], on_box_face ? 0.0f : 1.0f) << "vertex " << i;
  }
  EXPECT_EQ(w1[400], 0.0f);
  EXPECT_EQ(w1[401], 0.0f);
  EXPECT_FLOAT_EQ(maxdist, 6.0f / 16.0f);  // the cell size of the widest extent
}

TEST(Overlaps, GridCapsTheMaximumIntoLastCell) {
  // The point at x = 16 on the widest axis falls into index 16 before capping.
  std::vector<Vec3f> pts = {{0, 0, 0}, {16, 4, 4}, {16, 2.5f, 2.5f}};
  OverlapGrid g = overlap_grid(pts);
  EXPECT_FLOAT_EQ(g.scale, 1.0f);
  EXPECT_EQ(g.cells[15 * 256 + 2 * 16 + 2], 1);
  EXPECT_EQ(g.cells[15 * 256 + 4 * 16 + 4], 1);
  EXPECT_TRUE(overlaps(g, {15.5f, 2.5f, 2.5f}));
  EXPECT_FALSE(overlaps(g, {15.5f, 0.5f, 0.5f}));  // strictly inside, empty cell
  EXPECT_FALSE(overlaps(g, {16.0f, 2.5f, 2.5f}));  // on the box face
}

TEST(Overlaps, MovedMeshOutsideHasNoWeight) {
  TriMesh mesh1 = random_cloud(2, 200), mesh2 = random_cloud(3, 200);
  std::vector<float> w1, w2;
  float maxdist = 1;
  compute_overlaps(mesh1, mesh2, Xform(), xform_translation(100, 0, 0), w1, w2, maxdist, 0, 2);
  EXPECT_EQ(maxdist, 1);
  for (float w : w1) EXPECT_EQ(w, 0.0f);
  for (float w : w2) EXPECT_EQ(w, 0.0f);
}

TEST(Overlaps, CoincidentMeshGivesNoWeightWithoutFailing) {
  TriMesh mesh1 = random_cloud(4, 100);
  TriMesh mesh2;
  mesh2.vertices.assign(10, Vec3f(1, 1, 0.5f));
  testing::internal::CaptureStdout();  // normals of the duplicates may warn
  std::vector<float> w1, w2;
  float maxdist = 0;
  compute_overlaps(mesh1, mesh2, Xform(), Xform(), w1, w2, maxdist, 0, 2);
  testing::internal::GetCapturedStdout();
  for (float w : w1) EXPECT_EQ(w, 0.0f);  // nothing lies strictly inside a point
  EXPECT_EQ(w2.size(), 10u);
  const OverlapGrid g1 = overlap_grid(mesh1.vertices);
  EXPECT_FLOAT_EQ(maxdist, 1.0f / g1.scale);  // the cell size of the grid that has one
}

// Clouds large enough for the weights to be made in several runs, one run straddling the two
// meshes: each weight is still its own vertex's test, with or without grids made beforehand.
TEST(Overlaps, WeightsInRunsMatchEachVertexsOwnTest) {
  TriMesh mesh1 = random_cloud(5, 5001), mesh2 = random_cloud(6, 4003);
  mesh1.normals.assign(mesh1.vertices.size(), Vec3f(0, 0, 1));
  mesh2.normals.assign(mesh2.vertices.size(), Vec3f(0, 0, 1));
  const Xform xf2 = xform_translation(1.5, 0.3, 0.1) * axis_rotation(0.4, 0.2, 0.1, 1.0);
  std::vector<float> w1, w2, given1, given2;
  float maxdist = 0, given_maxdist = 0;
  compute_overlaps(mesh1, mesh2, Xform(), xf2, w1, w2, maxdist, 0, 2);
  const OverlapGrids grids = overlap_grids(mesh1, mesh2, 2);
  compute_overlaps(mesh1, mesh2, grids, Xform(), xf2, given1, given2, given_maxdist, 0, 2);
  EXPECT_EQ(given1, w1);
  EXPECT_EQ(given2, w2);
  EXPECT_EQ(given_maxdist, maxdist);
  const Xform xf12 = xform_inverse(xf2), xf21 = xf2;
  ASSERT_EQ(w1.size(), mesh1.vertices.size());
  ASSERT_EQ(w2.size(), mesh2.vertices.size());
  int overlapping = 0;
  for (size_t i = 0; i < w1.size(); ++i) {
    EXPECT_EQ(w1[i], overlaps(grids.grid2, xf12 * mesh1.vertices[i]) ? 1.0f : 0.0f) << i;
    overlapping += w1[i] != 0;
  }
  for (size_t i = 0; i < w2.size(); ++i) {
    EXPECT_EQ(w2[i], overlaps(grids.grid1, xf21 * mesh2.vertices[i]) ? 1.0f : 0.0f) << i;
  }
  EXPECT_GT(overlapping, 0);
  EXPECT_LT(overlapping, static_cast<int>(w1.size()));
}

// ---------------------------------------------------------------- scale step

PointPairs pairs_scaled_about(const Vec3f& c, float factor, const std::vector<Vec3f>& offsets) {
  PointPairs pairs;
  for (const Vec3f& d : offsets) pairs.push_back({c + d, c + d * factor, Vec3f(0, 0, 1)});
  // Mirror each pair so that both sets share the centre c.
  for (const Vec3f& d : offsets) pairs.push_back({c - d, c - d * factor, Vec3f(0, 0, 1)});
  return pairs;
}

TEST(ScaleStep, UniformScaleOfTwoAboutCommonCentre) {
  const Vec3f c(3, -1, 2);
  PointPairs pairs = pairs_scaled_about(c, 0.5f, {{1, 0, 0}, {0, 2, 1}, {0.5f, -1, 3}});
  Xform s = scale_step(pairs, 0, false);
  for (int r = 0; r < 3; ++r) {
    for (int col = 0; col < 3; ++col) EXPECT_NEAR(s(r, col), r == col ? 2.0 : 0.0, 1e-6);
  }
  Vec3f fixed = s * c;
  EXPECT_NEAR(fixed.x, c.x, 1e-5);
  EXPECT_NEAR(fixed.y, c.y, 1e-5);
  EXPECT_NEAR(fixed.z, c.z, 1e-5);
  for (const PointPair& pp : pairs) {
    Vec3f moved = s * pp.p2;
    EXPECT_NEAR(dist2(moved, pp.p1), 0, 1e-9);
  }
}

TEST(ScaleStep, AffineMatchesAnisotropicSpread) {
  // p2 squashed by 2 along x only: the affine step stretches x back and leaves y, z.
  PointPairs pairs;
  std::mt19937 rng(8);
  std::normal_distribution<float> g;
  for (int i = 0; i < 200; ++i) {
    Vec3f p(g(rng), g(rng), g(rng));
    pairs.push_back({p, Vec3f(0.5f * p.x, p.y, p.z), Vec3f(0, 0, 1)});
  }
  Xform s = scale_step(pairs, 0, true);
  EXPECT_GT(s(0, 0), 1.6);
  EXPECT_NEAR(s(1, 1), 1.0, 0.15);
  EXPECT_NEAR(s(2, 2), 1.0, 0.15);
}

TEST(ScaleStep, DegenerateSpreadGivesIdentity) {
  auto expect_identity = [](const Xform& s) {
    for (int i = 0; i < 16; ++i) EXPECT_EQ(s.m[i], Xform().m[i]) << "entry " << i;
  };
  const PointPairs one_place(10, PointPair{{1, 2, 3}, {1, 2, 3}, {0, 0, 1}});
  expect_identity(scale_step(one_place, 0, false));
  expect_identity(scale_step(one_place, 0, true));
  expect_identity(scale_step({}, 0, true));
  // Mesh-2 points on one line have no spread across it for the affine map to match.
  PointPairs line;
  for (int i = 0; i < 10; ++i) {
    const float t = float(i) - 4.5f;
    line.push_back({{t, 0.3f * t * t, 1}, {0.5f * t, 0, 1}, {0, 0, 1}});
  }
  expect_identity(scale_step(line, 0, true));
}

}  // namespace
}  // namespace kestrel::icp
