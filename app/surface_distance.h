#pragma once
// How far each point of Q lies from P's surface: the distance to the plane fitted at the
// nearest point of P, or to that point itself where Q reaches past P's edge. People judge an
// alignment by these, drawn as colours with a bar in the model's units.

#include <array>
#include <vector>

#include "app/q_placement.h"
#include "core/point_set.h"
#include "registration/registration.h"

namespace kestrel::app {

struct SurfaceDistances {
  std::vector<float> distance;       // per point of Q, model units
  double p50 = 0, p90 = 0, p99 = 0;  // the distances that half, nine tenths, 99 % of Q are within
  double spacing = 0;                // P's median point spacing
  double top = 0;                    // the distance drawn in the bar's last colour
};

// Where Q passes P's edge: a nearest point of P further than this many spacings from Q's foot on
// the fitted plane.
constexpr double kEdgeSpacings = 2;
// The bar spans this many of P's spacings: the fit within the overlap shows in every colour, and
// what lies off P's surface is drawn in the last one.
constexpr double kTopSpacings = 5;

// `p` with `p_index` over it, its point_normals and its spacing; `q` is mapped into p's frame by
// `q_into_p` first.
SurfaceDistances surface_distances(const core::PointSet& p, const registration::AnnIndex& p_index,
                                   const std::vector<float>& p_normals, double p_spacing,
                                   const core::PointSet& q, const Matrix4& q_into_p);

// The share `share` (0 to 1) quantile of `values` (nearest rank); 0 when empty.
double quantile(std::vector<float> values, double share);

// The colour of distance `d` on a bar of 0 to `top`: blue, cyan, green, yellow, red; red beyond.
std::array<float, 3> distance_colour(double d, double top);

}  // namespace kestrel::app
