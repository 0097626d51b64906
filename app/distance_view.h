#pragma once
// The distance view's data: Q's distances to P's surface and their colours, kept while neither
// model moves or changes.

#include <vector>

#include "app/model_drawing.h"
#include "app/surface_distance.h"

namespace kestrel::app {

struct DistanceView {
  SurfaceDistances distances;
  std::vector<float> colours;  // per point of Q as built, three floats each
  uint64_t p_version = 0, q_version = 0;
  Matrix4 p_motion, q_motion;  // the drawings' motions the distances were measured at
};

// Measures anew when either drawing was rebuilt or moved since the last call (building P's
// normals first); returns true when it did.
bool update_distance_view(DistanceView& view, ModelDrawing& p, ModelDrawing& q);

}  // namespace kestrel::app
