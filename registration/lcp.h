#pragma once
// Verification of a candidate motion by its largest common point set (LCP).

#include "core/dense_matrix.h"
#include "core/point_set.h"
#include "registration/ann_index.h"

namespace kestrel::registration {

// Fraction of `model_q` that, moved by (R, s, c, t), lies strictly within the squared distance
// `sq_radius` of a point of P (`p_index`). Gives up as soon as the candidate can no longer beat
// `best` and returns the (lower) count so far. The value is a single-precision fraction in
// [0, 1]; an empty `model_q` scores 0. `model_q` is not modified.
double compute_lcp(const core::PointSet& model_q, const AnnIndex& p_index,
                   const core::DenseMatrix& R, float s, double sq_radius, double best, double cx,
                   double cy, double cz, double tx, double ty, double tz);

}  // namespace kestrel::registration
