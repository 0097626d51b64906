#include "registration/congruent/point_spacing.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "core/random15.h"

namespace kestrel::registration {

namespace {

constexpr int kSamples = 1000;
constexpr double kMaxSqDist = 30.0;

// Squared spacing of the points spread evenly over the two largest sides of the bounding box
// (a scan is a surface); a box flat in two directions falls back to its longest side.
double spacing_from_bounding_box(const core::PointSet& p) {
  double lo[3] = {p[0].x, p[0].y, p[0].z};
  double hi[3] = {lo[0], lo[1], lo[2]};
  for (const core::Point3D& q : p) {
    const double v[3] = {q.x, q.y, q.z};
    for (int k = 0; k < 3; ++k) {
      lo[k] = std::min(lo[k], v[k]);
      hi[k] = std::max(hi[k], v[k]);
    }
  }
  double side[3] = {hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]};
  std::sort(side, side + 3);
  double area = side[2] * side[1];
  if (area <= 0) area = side[2] * side[2];
  return area / static_cast<double>(p.size());
}

}  // namespace

double estimate_point_spacing(const core::PointSet& model_p, const AnnIndex& p_index,
                              core::Random15& rng) {
  rng.seed(0);
  if (model_p.empty()) {
    std::fprintf(stderr, "point spacing: Model P is empty; using 0\n");
    return 0.0;
  }
  float sum = 0;
  int count = 0;
  const auto n = static_cast<uint64_t>(model_p.size());
  for (int k = 0; k < kSamples; ++k) {
    const core::Point3D& p = model_p[static_cast<uint64_t>(rng.next()) % n];
    const double d = p_index.second_nearest_sq_dist(p.x, p.y, p.z);
    if (d < kMaxSqDist) {
      sum += static_cast<float>(d);  // the sum is kept in single precision
      ++count;
    }
  }
  if (count > 0) return sum / static_cast<float>(count);
  const double fallback = spacing_from_bounding_box(model_p);
  std::fprintf(stderr,
               "point spacing: no sampled point of P has a neighbour within squared distance "
               "%.0f; using %g from the bounding box of %zu points\n",
               kMaxSqDist, fallback, model_p.size());
  return fallback;
}

}  // namespace kestrel::registration
