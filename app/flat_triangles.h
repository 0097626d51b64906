#pragma once
// The faces of a model as the window draws them: flat-shaded triangles, one normal per face,
// faces with an edge longer than the draw limit left out. Built once into plain arrays that the
// window hands to OpenGL whole. The points are shared between faces and the last corner of each
// face carries the face's normal: drawn with flat shading, where the last corner's light colours
// the whole face, each face shows its own normal while the GL lights about a third as many
// corners as it would for three corners per face. A point that is already the last corner of an
// earlier face is repeated.

#include <cstdint>
#include <vector>

#include "core/face.h"
#include "core/point_set.h"

namespace kestrel::app {

struct TriangleArrays {
  std::vector<float> positions;   // x, y, z per corner point
  std::vector<float> normals;     // per corner point: the normal of the face it is last corner of
  std::vector<uint32_t> indices;  // three corner points per drawn face, the last one lit
  size_t faces() const { return indices.size() / 3; }
  // The normal the face `f` is drawn with.
  const float* face_normal(size_t f) const { return &normals[3 * indices[3 * f + 2]]; }
};

// The drawn faces of `set`, in list order. A face whose first two corners coincide faces +z and
// skips the edge test; a face of zero area gets (0, 0, 0); faces naming points that `set` does
// not hold are skipped. Leaves in every point that is the first corner of a drawn face the
// normal of the last such face.
TriangleArrays flat_triangles(core::PointSet& set, const core::FaceList& faces, float draw_limit);

// The faces of `full` with their points merged on a grid of `cell` (model units): each point
// moves to the mean of the points in its cell, faces that lose a corner that way are dropped,
// and each face gets the normal of its merged corners. What the window draws while a cell covers
// about a pixel: as many faces as the screen can show, for a fraction of the cost.
TriangleArrays merged_triangles(const TriangleArrays& full, double cell);

// The median length of one edge of each face, as a measure of their size (0 without faces).
double median_edge(const TriangleArrays& t);

}  // namespace kestrel::app
