#pragma once
// What the 3D window shows: Model P and Model Q as flat-shaded triangles (faces with an edge
// longer than the draw limit left out) or as lit points, Q coloured by its distance to P in the
// distance view with its colour bar, the four base points as spheres, and the text lines: the
// files, the result with its verdict, the status line and the last messages.

#include "app/gl/session.h"

namespace kestrel::app {

// Draws into the current GL context, projection and model view already set. Writes the load
// prompts into status_text while a model is missing, unless the status line holds a message or
// `s.load_error` (the reason of a load that just failed). Leaves in every point that is the
// first corner of a drawn face the normal of the last such face, as of when the model last
// changed other than by a rigid motion.
void draw_scene(GlSession& s);

}  // namespace kestrel::app
