#pragma once
// Gives a point set a surface: triangles of the Delaunay triangulation of its x-y projection,
// and per-point normals averaged from the triangles around each point.

#include <string>

#include "core/face.h"
#include "core/point_set.h"

namespace kestrel::core {

// True when the x-y projection of `set` can be triangulated at all: at least three points and
// at least two distinct x-y positions. Otherwise fills `reason`.
bool can_triangulate(const PointSet& set, std::string* reason = nullptr);

// Replaces `faces` with the triangles and overwrites every normal. Points that touch no triangle
// (an x-y duplicate of an earlier point) keep the normal (0, 0, 0); collinear sets get no faces.
// The caller checks can_triangulate first.
void reconstruct_planar(PointSet& set, FaceList& faces);

}  // namespace kestrel::core
