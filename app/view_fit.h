#pragma once
// The view that shows both models whole: centred on their joint bounding box, scaled so that the
// sphere around it fits the window at any rotation.

#include "core/point_set.h"

namespace kestrel::app {

struct ViewFit {
  double centre[3] = {0, 0, 0};  // model coordinates put at the middle of the window
  float zoom = 1.0f;             // the view's zoom (the scene is scaled by zoom * 0.07)
};

// For a window of width / height `aspect`, with the view's fixed frustum (half-height 0.08 at
// distance 0.1) and eye distance 10.2. Two empty sets keep the start view.
ViewFit fit_view(const core::PointSet& a, const core::PointSet& b, float aspect);

}  // namespace kestrel::app
