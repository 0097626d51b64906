#include "icp/normals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include "core/point_file.h"

namespace kestrel::icp {
namespace {

const float kTol = 8 * std::numeric_limits<float>::epsilon();

void expect_vec_near(const Vec3f& got, const Vec3f& want, float tol) {
  EXPECT_NEAR(got.x, want.x, tol);
  EXPECT_NEAR(got.y, want.y, tol);
  EXPECT_NEAR(got.z, want.z, tol);
}

TriMesh grid(int n, float z_of_x) {
  TriMesh mesh;
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      const float x = 0.5f * float(i), y = 0.5f * float(j) + 0.1f * float(i % 3);
      mesh.vertices.push_back({x, y, 2.0f + z_of_x * x});
    }
  }
  return mesh;
}

TEST(Normals, PlaneCloudPointsUp) {
  TriMesh mesh = grid(12, 0.0f);
  ensure_normals(mesh, 1);
  ASSERT_EQ(mesh.normals.size(), mesh.vertices.size());
  for (const Vec3f& n : mesh.normals) expect_vec_near(n, {0, 0, 1}, kTol);
}

TEST(Normals, TiltedPlaneNormalIsFlippedToPositiveZ) {
  // Plane z = 2 + x: the fitted normal is +-(-1, 0, 1)/sqrt 2; only the z >= 0 one is kept.
  TriMesh mesh = grid(10, 1.0f);
  ensure_normals(mesh, 1);
  const float h = std::sqrt(0.5f);
  for (const Vec3f& n : mesh.normals) expect_vec_near(n, {-h, 0, h}, 1e-5f);
}

TEST(Normals, ThreePointCloudWarnsInOrderAndPointsUpInAnyNumberOfRuns) {
  for (int runs = 1; runs <= 4; ++runs) {
    TriMesh mesh;
    mesh.vertices = {{0, 0, 0}, {1, 0, 1}, {0, 1, 3}};
    testing::internal::CaptureStdout();
    ensure_normals(mesh, 2, runs);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Warning: not enough points for vertex 0\n"
              "Warning: not enough points for vertex 1\n"
              "Warning: not enough points for vertex 2\n")
        << runs << " runs";
    for (const Vec3f& n : mesh.normals) EXPECT_EQ(n, Vec3f(0, 0, 1));
  }
}

// Beyond three such vertices the warning is one line: a far point among a few (the tree's
// extent then overflows) once gave a line for every vertex.
TEST(Normals, ManyVerticesShortOfNeighboursWarnInOneLine) {
  TriMesh mesh;
  for (int i = 0; i < 20; ++i) mesh.vertices.emplace_back(0.1f * i, 0.05f * i * i, 0.0f);
  mesh.vertices.emplace_back(1e30f, -1e30f, 1e30f);
  testing::internal::CaptureStdout();
  ensure_normals(mesh, 2);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.rfind("Warning: not enough points for ", 0), 0u) << out;
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
}

TEST(Normals, FourPointCloudFitsPlaneThroughNeighbourOffsets) {
  TriMesh mesh;
  mesh.vertices = {{0, 0, 0}, {2, 0.3f, 0.4f}, {0.2f, 1.5f, -0.3f}, {1, 1, 1.5f}};
  ensure_normals(mesh, 1);
  std::mt19937 rng(5);
  std::normal_distribution<float> g;
  for (size_t i = 0; i < 4; ++i) {
    const Vec3f& n = mesh.normals[i];
    EXPECT_NEAR(len(n), 1, kTol);
    EXPECT_GE(n.z, 0);
    // The normal minimises the sum of squared offsets along it over all unit directions.
    auto spread = [&](const Vec3f& dir) {
      float s = 0;
      for (size_t j = 0; j < 4; ++j) {
        if (j != i) s += std::pow(dot(mesh.vertices[j] - mesh.vertices[i], dir), 2.0f);
      }
      return s;
    };
    const float best = spread(n);
    for (int k = 0; k < 200; ++k) {
      Vec3f u(g(rng), g(rng), g(rng));
      normalize(u);
      EXPECT_LE(best, spread(u) + 1e-5f) << "vertex " << i;
    }
  }
}

TEST(Normals, DuplicatePointsGiveFiniteUnitNormals) {
  TriMesh mesh = grid(5, 0.0f);
  mesh.vertices.insert(mesh.vertices.end(), 20, Vec3f(1, 1, 2));
  testing::internal::CaptureStdout();
  ensure_normals(mesh, 1);
  testing::internal::GetCapturedStdout();
  for (const Vec3f& n : mesh.normals) EXPECT_NEAR(len(n), 1, kTol);
}

TEST(Normals, FaceMethodAndSecondCallKeepsNormals) {
  TriMesh mesh;
  mesh.vertices = {{0, 0, 0}, {2, 0, 0}, {0, 1, 0}, {5, 5, 5}};
  mesh.faces = {Face{{0, 1, 2}}};
  ensure_normals(mesh, 1);
  for (int i = 0; i < 3; ++i) expect_vec_near(mesh.normals[size_t(i)], {0, 0, 1}, kTol);
  EXPECT_EQ(mesh.normals[3], Vec3f(1, 0, 0));  // used by no face
  mesh.normals[0] = Vec3f(0, 1, 0);
  ensure_normals(mesh, 1);
  EXPECT_EQ(mesh.normals[0], Vec3f(0, 1, 0));
}

// The fits in runs shared by two threads, or made over the caller's tree, give the normals of
// one thread bit for bit.
TEST(Normals, SharedRunsAndCallersTreeKeepEveryBitOfARealScan) {
  core::PointSet points;
  core::FaceList faces;
  ASSERT_TRUE(core::parse_point_file(std::string(KESTREL_EXAMPLES_DIR) + "/bun045.vrt", points,
                                     faces, false));
  TriMesh one;
  for (const core::Point3D& p : points) {
    one.vertices.emplace_back(static_cast<float>(p.x), static_cast<float>(p.y),
                              static_cast<float>(p.z));
  }
  TriMesh two = one, seven = one, given_tree = one;
  ensure_normals(one, 1, 1);
  ensure_normals(two, 2, 2);
  ensure_normals(seven, 2, 7);
  const KDtree tree(given_tree.vertices);
  ensure_normals(given_tree, tree, 2);  // the default runs
  const size_t bytes = one.vertices.size() * sizeof(Vec3f);
  ASSERT_EQ(one.normals.size(), one.vertices.size());
  for (const TriMesh* other : {&two, &seven, &given_tree}) {
    ASSERT_EQ(other->normals.size(), one.normals.size());
    EXPECT_EQ(std::memcmp(other->normals.data(), one.normals.data(), bytes), 0);
  }
}

TEST(Normals, NormalizeZeroBecomesXAxis) {
  Vec3f v;
  normalize(v);
  EXPECT_EQ(v, Vec3f(1, 0, 0));
  Vec3f w(0, 3, 4);
  normalize(w);
  expect_vec_near(w, {0, 0.6f, 0.8f}, kTol);
}

}  // namespace
}  // namespace kestrel::icp
