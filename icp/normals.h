#pragma once
// Unit vertex normals: from the triangles when the mesh has faces, otherwise from a plane
// fitted to each vertex's 12 nearest neighbours (point clouds).

#include "icp/tri_mesh.h"

namespace kestrel::icp {

// Fills `normals` unless there is already one per vertex. Point-cloud normals point to z >= 0;
// a vertex with fewer than 3 neighbours gets (0, 0, 1) and a warning on stdout.
void ensure_normals(TriMesh& mesh);

}  // namespace kestrel::icp
