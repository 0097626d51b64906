#pragma once
// The mesh container of the ICP: float vertices, optional triangles, and per-vertex data
// computed once on demand by the ensure_* operations. Derived data is never invalidated, so
// the owner must not append vertices or faces after asking for it.

#include <cstdint>
#include <vector>

#include "core/face.h"
#include "icp/vec3f.h"

namespace kestrel::icp {

using core::Face;

struct TriMesh {
  std::vector<Vec3f> vertices;
  std::vector<Face> faces;                         // empty for point clouds
  std::vector<Vec3f> normals;                      // unit, one per vertex once computed
  std::vector<std::vector<int32_t>> neighbors;     // vertices sharing a face with each vertex
  std::vector<std::vector<int32_t>> vertex_faces;  // faces using each vertex
  Box3f bbox;                                      // zero until compute_bbox
};

// Fills `neighbors` (each neighbour once, in the order faces introduce it) unless present.
void ensure_neighbors(TriMesh& mesh);

// Fills `vertex_faces` (face indices in order, one entry per corner) unless present.
void ensure_vertex_faces(TriMesh& mesh);

// Recomputes `bbox` from the vertices; leaves it unchanged when there are none.
void compute_bbox(TriMesh& mesh);

// True when vertex `v` has a different number of neighbours than faces around it (an open
// edge). Computes neighbours and vertex faces first if needed. Never true without faces.
bool is_boundary(TriMesh& mesh, int32_t v);

}  // namespace kestrel::icp
