#pragma once
// Unit vertex normals: from the triangles when the mesh has faces, otherwise from a plane
// fitted to each vertex's 12 nearest neighbours (point clouds).

#include <functional>

#include "icp/kd_tree.h"
#include "icp/run_in_parts.h"
#include "icp/tri_mesh.h"

namespace kestrel::icp {

// Fills `normals` unless there is already one per vertex. Point-cloud normals point to z >= 0;
// a vertex with fewer than 3 neighbours gets (0, 0, 1) and a warning on stdout (one line each
// for up to three such vertices, one line for all of them beyond). The fits are made in `runs`
// runs of consecutive vertices on `threads` threads (run_in_parts.h); the normals and the
// warnings are the same for any count of either. A `stop` request (core/stop_check.h; asked
// from both threads) leaves the normals unfinished: a caller that stops should drop the mesh.
void ensure_normals(TriMesh& mesh, int threads, int runs = kMaxRuns,
                    const std::function<bool()>& stop = {});

// As above with `tree`, built over `mesh.vertices`, for the neighbours, so that a caller that
// needs the tree anyway builds it once. Must not run concurrently with a tree build.
void ensure_normals(TriMesh& mesh, const KDtree& tree, int threads, int runs = kMaxRuns,
                    const std::function<bool()>& stop = {});

}  // namespace kestrel::icp
