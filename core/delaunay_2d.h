#pragma once
// Delaunay triangulation of the x-y projection of a point set (CGAL behind this file pair).

#include "core/face.h"
#include "core/point_set.h"

namespace kestrel::core {

// Triangles of the Delaunay triangulation of (x, y) of every point, corners counter-clockwise,
// as indices into `set`. A point whose x-y repeats an earlier point's, or holds a NaN, takes
// no part; a set whose points are collinear in x-y (or fewer than three distinct) gives no
// triangle.
FaceList delaunay_2d(const PointSet& set);

}  // namespace kestrel::core
