#pragma once
// What the 3D window shows: Model P and Model Q as flat-shaded triangles (faces with an edge
// longer than the draw limit left out), the four base points as spheres, and the text lines.

#include <string>

#include "app/app_state.h"

namespace kestrel::app {

// Draws into the current GL context, projection and model view already set. Writes the load
// prompts into status_text while a model is missing, unless the status line holds
// `load_error` (the reason of a load that just failed). Leaves in every point that is the first
// corner of a drawn face the normal of the last such face.
void draw_scene(AppState& state, const std::string& load_error);

}  // namespace kestrel::app
