#pragma once
// kestrel.assemble: many scans into one model from Python, here or with its pairs run on a Dask
// cluster, and the worker side of that: a batch of pairs on scans prepared once per process.

#include <pybind11/pybind11.h>

#include <optional>

namespace kestrel::python {

// The record of poses.json as a dict (matrices as 4 x 4 arrays). `scans`: a sequence of (N, 3)
// arrays or point-file paths. With `client` (a dask.distributed Client) the pairs run as tasks
// on its workers; the result is the same. Releases the GIL while it works.
pybind11::dict assemble_scans(const pybind11::sequence& scans, int threads,
                              std::optional<double> max_seconds, const pybind11::object& client);

// A worker's task: the records (dicts) of `pairs` (a, b) on `scans` (arrays), which are prepared
// once per process and `token`.
pybind11::list assembly_pairs(const std::string& token, const pybind11::sequence& scans,
                              const pybind11::sequence& pairs, int threads);

}  // namespace kestrel::python
