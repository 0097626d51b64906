#pragma once
// What the window draws of one model, built once and moved as the model moves. Runs, ICP,
// "Random position" and Undo move a model rigidly: the arrays built for it then stay, and only
// the motion from the built set to the set now changes, found from a few probe points. Any
// other change (a load, noise, a new draw limit) builds the arrays anew.

#include <cstdint>
#include <optional>
#include <vector>

#include "app/flat_triangles.h"
#include "app/q_placement.h"
#include "core/face.h"
#include "core/point_set.h"
#include "registration/registration.h"

namespace kestrel::app {

// A few points of a set, evenly spread over its order, to recognise it later.
struct ShapeProbe {
  size_t count = 0;               // points of the set
  std::vector<size_t> index;      // which points were kept
  std::vector<core::Point3D> at;  // where they were
};

ShapeProbe probe_shape(const core::PointSet& set);

// The motion that carries the probed set onto `now`, when `now` has as many points and every
// probe point moved by one rigid motion (within a hundred-thousandth of the set's size);
// nothing otherwise.
std::optional<Matrix4> rigid_change(const ShapeProbe& before, const core::PointSet& now);

// The grid of the merged faces, in median edges of the faces.
constexpr double kMergedEdges = 1.5;

struct ModelDrawing {
  ShapeProbe probe;  // the set as the arrays were built
  size_t face_count = 0;
  const void* face_data = nullptr;
  float draw_limit = -1;
  Matrix4 motion;             // from the set as built to the set now
  uint64_t version = 0;       // changes with every build
  TriangleArrays triangles;   // the faces, in the built frame
  double edge = 0;            // their median edge
  TriangleArrays merged;      // the faces with points merged on a grid of kMergedEdges edges
  core::PointSet points;      // the set as built
  std::vector<float> vertex;  // its positions, three floats each
  // Built on demand, once per build (ensure_point_normals):
  registration::AnnIndex index;
  std::vector<float> normals;
  double spacing = 0;
};

// Brings `d` up to date with `set` and `faces`. Writes face normals into `set` when it builds.
// Returns true when it built the arrays anew.
bool update_drawing(ModelDrawing& d, core::PointSet& set, const core::FaceList& faces,
                    float draw_limit);

// The search index, point normals and spacing of the set as built.
void ensure_point_normals(ModelDrawing& d);

// The inverse of a rigid motion (rotation and translation) held as a matrix.
Matrix4 rigid_inverse(const Matrix4& m);

}  // namespace kestrel::app
