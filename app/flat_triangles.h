#pragma once
// The faces of a model as the window draws them: flat-shaded triangles, one normal per face,
// faces with an edge longer than the draw limit left out. Built once into plain arrays that the
// window hands to OpenGL whole.

#include <vector>

#include "core/face.h"
#include "core/point_set.h"

namespace kestrel::app {

struct TriangleArrays {
  std::vector<float> positions;  // three corners of x, y, z per drawn face
  std::vector<float> normals;    // the face normal, once per corner
  size_t faces() const { return positions.size() / 9; }
};

// The drawn faces of `set`, in list order. A face whose first two corners coincide faces +z and
// skips the edge test; a face of zero area gets (0, 0, 0); faces naming points that `set` does
// not hold are skipped. Leaves in every point that is the first corner of a drawn face the
// normal of the last such face.
TriangleArrays flat_triangles(core::PointSet& set, const core::FaceList& faces, float draw_limit);

}  // namespace kestrel::app
