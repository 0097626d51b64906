#pragma once
// Reading PLY files, ASCII and binary of either byte order: the vertex positions and, on
// request, the faces. Every other element and property is read past and ignored.

#include <string>

#include "core/face.h"
#include "core/point_set.h"

namespace kestrel::core {

// Reads x, y, z of every vertex of `file` into `points` (replaced), whatever their numeric type,
// each converted as a 32-bit float like every coordinate read from a file, or kept exactly with
// `exact` (point_file.h); a vertex with a coordinate that is not finite as a float is skipped. With
// `take_faces`, each face's polygon is fanned into triangles (replacing `faces`) that index the
// kept vertices; a face naming a missing or skipped vertex is dropped. Returns false with the
// reason in `error`, leaving `points` and `faces` as they were, when the file cannot be opened, is
// not a PLY file, has no vertex x, y, z or no vertex with finite ones, or ends before its counts
// say. Binary files without lists are read straight into the points (ply_direct.h), by
// `threads` (1 or 2) with the same result.
bool read_ply_file(const std::string& file, PointSet& points, FaceList& faces, bool take_faces,
                   std::string& error, bool exact = false, int threads = 1);

}  // namespace kestrel::core
