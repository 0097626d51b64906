#include "icp/tri_mesh.h"

#include <gtest/gtest.h>

#include "icp/mesh_log.h"

namespace kestrel::icp {
namespace {

using Lists = std::vector<std::vector<int32_t>>;

TEST(TriMesh, PointCloudHasEmptyListsAndNoBoundary) {
  TriMesh mesh;
  mesh.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
  ensure_neighbors(mesh);
  ensure_vertex_faces(mesh);
  EXPECT_EQ(mesh.neighbors, Lists(3));
  EXPECT_EQ(mesh.vertex_faces, Lists(3));
  for (int32_t v = 0; v < 3; ++v) EXPECT_FALSE(is_boundary(mesh, v));
}

TEST(TriMesh, SingleTriangleIsAllBoundary) {
  TriMesh mesh;
  mesh.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
  mesh.faces = {Face{{0, 1, 2}}};
  ensure_neighbors(mesh);
  ensure_vertex_faces(mesh);
  EXPECT_EQ(mesh.neighbors, (Lists{{1, 2}, {2, 0}, {0, 1}}));
  EXPECT_EQ(mesh.vertex_faces, (Lists{{0}, {0}, {0}}));
  for (int32_t v = 0; v < 3; ++v) EXPECT_TRUE(is_boundary(mesh, v));
}

TEST(TriMesh, ClosedFanCentreIsInterior) {
  // Four triangles around vertex 0: four neighbours, four faces, each neighbour listed once.
  TriMesh mesh;
  mesh.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {-1, 0, 0}, {0, -1, 0}};
  mesh.faces = {Face{{0, 1, 2}}, Face{{0, 2, 3}}, Face{{0, 3, 4}}, Face{{0, 4, 1}}};
  EXPECT_FALSE(is_boundary(mesh, 0));
  EXPECT_EQ(mesh.neighbors[0], (std::vector<int32_t>{1, 2, 3, 4}));
  EXPECT_EQ(mesh.vertex_faces[0], (std::vector<int32_t>{0, 1, 2, 3}));
  EXPECT_TRUE(is_boundary(mesh, 1));
}

TEST(TriMesh, EmptyMeshStaysEmpty) {
  TriMesh mesh;
  mesh.bbox = Box3f{{1, 2, 3}, {4, 5, 6}};
  ensure_neighbors(mesh);
  ensure_vertex_faces(mesh);
  compute_bbox(mesh);
  EXPECT_TRUE(mesh.neighbors.empty());
  EXPECT_TRUE(mesh.vertex_faces.empty());
  EXPECT_EQ(mesh.bbox.min, Vec3f(1, 2, 3));
  EXPECT_EQ(mesh.bbox.max, Vec3f(4, 5, 6));
}

TEST(TriMesh, BoundingBox) {
  TriMesh mesh;
  mesh.vertices = {{1, -2, 3}};
  compute_bbox(mesh);
  EXPECT_EQ(mesh.bbox.min, Vec3f(1, -2, 3));
  EXPECT_EQ(mesh.bbox.max, Vec3f(1, -2, 3));
  mesh.vertices.push_back({-1, 5, 3});
  mesh.vertices.push_back({0, 0, 7});
  compute_bbox(mesh);
  EXPECT_EQ(mesh.bbox.min, Vec3f(-1, -2, 3));
  EXPECT_EQ(mesh.bbox.max, Vec3f(1, 5, 7));
}

TEST(TriMesh, LogIsSilentUnlessVerbose) {
  TriMesh mesh;
  mesh.vertices = {{0, 0, 0}, {2, 1, 0.5f}};
  testing::internal::CaptureStderr();
  compute_bbox(mesh);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  mesh_verbose = 1;
  testing::internal::CaptureStderr();
  compute_bbox(mesh);
  mesh_verbose = 0;
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Computing bounding box... Done.\n  x = 0 .. 2, y = 0 .. 1, z = 0 .. 0.5\n");
}

}  // namespace
}  // namespace kestrel::icp
