#include "python/point_arrays.h"

#include <cmath>
#include <sstream>

namespace py = pybind11;

namespace kestrel::python {

namespace {

std::string shape_text(const py::array& a) {
  std::ostringstream out;
  out << "(";
  for (py::ssize_t k = 0; k < a.ndim(); ++k) out << (k ? ", " : "") << a.shape(k);
  out << (a.ndim() == 1 ? ",)" : ")");
  return out.str();
}

}  // namespace

core::PointSet points_from_array(py::handle array, const std::string& name) {
  const py::array any = py::module_::import("numpy").attr("asarray")(array);
  const char kind = any.dtype().kind();
  // Booleans, complex numbers, strings and objects are refused rather than coerced.
  if (kind != 'f' && kind != 'i' && kind != 'u')
    throw py::value_error(name + " must hold real numbers (a float or integer dtype), not " +
                          py::str(any.dtype()).cast<std::string>());
  if (any.ndim() != 2 || any.shape(1) != 3)
    throw py::value_error(name + " must be an (N, 3) array of points; its shape is " +
                          shape_text(any));
  const auto n = static_cast<size_t>(any.shape(0));
  if (n < kMinPoints)
    throw py::value_error(name + " holds " + std::to_string(n) + " points; a run needs at least " +
                          std::to_string(kMinPoints));
  const auto values = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(any);
  const auto v = values.unchecked<2>();
  core::PointSet set(n);
  for (size_t i = 0; i < n; ++i) {
    const auto row = static_cast<py::ssize_t>(i);
    if (!std::isfinite(v(row, 0)) || !std::isfinite(v(row, 1)) || !std::isfinite(v(row, 2)))
      throw py::value_error(name + " holds a value that is not finite, in row " +
                            std::to_string(i));
    set[i].x = v(row, 0);
    set[i].y = v(row, 1);
    set[i].z = v(row, 2);
  }
  return set;
}

py::array_t<double> array_from_points(const core::PointSet& set) {
  py::array_t<double> out({static_cast<py::ssize_t>(set.size()), py::ssize_t{3}});
  auto v = out.mutable_unchecked<2>();
  for (size_t i = 0; i < set.size(); ++i) {
    const auto row = static_cast<py::ssize_t>(i);
    v(row, 0) = set[i].x;
    v(row, 1) = set[i].y;
    v(row, 2) = set[i].z;
  }
  return out;
}

py::array_t<double> array_from_matrix(const double (&m)[4][4]) {
  py::array_t<double> out({py::ssize_t{4}, py::ssize_t{4}});
  auto v = out.mutable_unchecked<2>();
  for (py::ssize_t r = 0; r < 4; ++r)
    for (py::ssize_t c = 0; c < 4; ++c) v(r, c) = m[r][c];
  return out;
}

}  // namespace kestrel::python
