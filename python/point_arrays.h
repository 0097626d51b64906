#pragma once
// Point sets to and from numpy: (N, 3) arrays of any real dtype in, float64 arrays out.

#include <pybind11/numpy.h>

#include <string>

#include "core/point_set.h"

namespace kestrel::python {

// A run draws a four-point base from P and looks for its like in Q.
constexpr size_t kMinPoints = 4;

// The rows of `array` (anything numpy.asarray takes: float or integer dtype, any memory order)
// as points without normals. Throws ValueError naming `name` when it is not an (N, 3) array of
// real numbers, holds fewer than kMinPoints rows, or holds a value that is not finite.
core::PointSet points_from_array(pybind11::handle array, const std::string& name);

// The positions of `set` as a new (N, 3) float64 array.
pybind11::array_t<double> array_from_points(const core::PointSet& set);

// `m` (row-major) as a new 4 x 4 float64 array.
pybind11::array_t<double> array_from_matrix(const double (&m)[4][4]);

}  // namespace kestrel::python
