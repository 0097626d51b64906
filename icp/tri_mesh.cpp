#include "icp/tri_mesh.h"

#include <algorithm>

#include "icp/mesh_log.h"

namespace kestrel::icp {

namespace {

// Number of face corners each vertex occupies.
std::vector<int> corner_counts(const TriMesh& mesh) {
  std::vector<int> counts(mesh.vertices.size(), 0);
  for (const Face& f : mesh.faces) {
    for (int k = 0; k < 3; ++k) counts[static_cast<size_t>(f[k])]++;
  }
  return counts;
}

void append_unique(std::vector<int32_t>& list, int32_t v) {
  if (std::find(list.begin(), list.end(), v) == list.end()) list.push_back(v);
}

}  // namespace

void ensure_neighbors(TriMesh& mesh) {
  if (!mesh.neighbors.empty()) return;
  mesh_log("Finding vertex neighbors... ");
  std::vector<int> counts = corner_counts(mesh);
  mesh.neighbors.resize(mesh.vertices.size());
  // A vertex of no face (every vertex of a point cloud) gets no list: a million empty
  // reservations cost a tenth of a second that no stop request could cut short.
  for (size_t i = 0; i < counts.size(); ++i) {
    if (counts[i] > 0) mesh.neighbors[i].reserve(static_cast<size_t>(counts[i]) + 2);
  }
  for (const Face& f : mesh.faces) {
    for (int k = 0; k < 3; ++k) {
      std::vector<int32_t>& list = mesh.neighbors[static_cast<size_t>(f[k])];
      append_unique(list, f[(k + 1) % 3]);
      append_unique(list, f[(k + 2) % 3]);
    }
  }
  mesh_log("Done.\n");
}

void ensure_vertex_faces(TriMesh& mesh) {
  if (!mesh.vertex_faces.empty()) return;
  mesh_log("Finding vertex to triangle maps... ");
  std::vector<int> counts = corner_counts(mesh);
  mesh.vertex_faces.resize(mesh.vertices.size());
  for (size_t i = 0; i < counts.size(); ++i) {
    mesh.vertex_faces[i].reserve(static_cast<size_t>(counts[i]));
  }
  for (size_t f = 0; f < mesh.faces.size(); ++f) {
    for (int k = 0; k < 3; ++k) {
      mesh.vertex_faces[static_cast<size_t>(mesh.faces[f][k])].push_back(static_cast<int32_t>(f));
    }
  }
  mesh_log("Done.\n");
}

void compute_bbox(TriMesh& mesh) {
  if (mesh.vertices.empty()) return;
  mesh_log("Computing bounding box... ");
  Box3f box{mesh.vertices[0], mesh.vertices[0]};
  for (size_t i = 1; i < mesh.vertices.size(); ++i) {
    const Vec3f& v = mesh.vertices[i];
    for (int a = 0; a < 3; ++a) {
      if (v[a] < box.min[a]) box.min[a] = v[a];
      if (v[a] > box.max[a]) box.max[a] = v[a];
    }
  }
  mesh.bbox = box;
  mesh_log("Done.\n  x = %g .. %g, y = %g .. %g, z = %g .. %g\n", double(box.min.x),
           double(box.max.x), double(box.min.y), double(box.max.y), double(box.min.z),
           double(box.max.z));
}

bool is_boundary(TriMesh& mesh, int32_t v) {
  ensure_neighbors(mesh);
  ensure_vertex_faces(mesh);
  const size_t i = static_cast<size_t>(v);
  return mesh.neighbors[i].size() != mesh.vertex_faces[i].size();
}

}  // namespace kestrel::icp
