#pragma once
// The 2D layer of the 3D window, drawn over the models in window pixels: the file lines and load
// prompts, the progress or the result with its coloured verdict, the red status line with the
// last messages above it, and in the distance view the colour bar with its percentiles.

#include "app/gl/session.h"
#include "app/surface_distance.h"

namespace kestrel::app {

// `distances` is the distance view's data, or null when the view is off.
void draw_overlay(GlSession& s, const SurfaceDistances* distances);

}  // namespace kestrel::app
