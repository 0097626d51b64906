#pragma once
// The typical point spacing of P, which scales every tolerance of a run.

#include "core/point_set.h"
#include "core/random15.h"
#include "registration/congruent/ann_index.h"

namespace kestrel::registration {

// Mean squared distance from 1000 random points of `model_p` to their nearest other point,
// over the samples below the squared cut-off 30 (model units). `p_index` is built over
// `model_p`. Reseeds `rng` with 0 and draws from it, so the same P gives the same value.
// The loader halves the result to get point_spacing.
// When no sample passes the cut-off (a sparse or tiny P), falls back to the squared spacing of
// |P| points spread evenly over the bounding box (area / |P|) and says so on stderr; an empty
// P gives 0.
double estimate_point_spacing(const core::PointSet& model_p, const AnnIndex& p_index,
                              core::Random15& rng);

}  // namespace kestrel::registration
