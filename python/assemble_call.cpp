#include "python/assemble_call.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "assembly/assemble.h"
#include "assembly/pair_job.h"
#include "core/clock.h"
#include "core/point_file.h"
#include "python/align_call.h"
#include "python/point_arrays.h"

namespace py = pybind11;
using namespace pybind11::literals;

namespace kestrel::python {

namespace {

// Pairs per task on a cluster: enough that a task outweighs its scheduling.
constexpr size_t kPairsPerTask = 4;

py::array_t<double> array_of(const assembly::Matrix4& m) {
  double raw[4][4];
  for (size_t r = 0; r < 4; ++r)
    for (size_t c = 0; c < 4; ++c) raw[r][c] = m[r][c];
  return array_from_matrix(raw);
}

assembly::Matrix4 matrix_from(const py::handle& h) {
  const auto a = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(h);
  assembly::Matrix4 m{};
  for (size_t r = 0; r < 4; ++r)
    for (size_t c = 0; c < 4; ++c)
      m[r][c] = a.at(static_cast<py::ssize_t>(r), static_cast<py::ssize_t>(c));
  return m;
}

py::dict pair_dict(const assembly::PairRecord& p) {
  return py::dict("a"_a = p.a, "b"_a = p.b, "verdict"_a = p.verdict, "used"_a = p.used,
                  "fine_share"_a = p.fine_share, "snug"_a = p.snug, "matrix"_a = array_of(p.motion),
                  "seconds"_a = p.seconds);
}

assembly::PairRecord pair_from(const py::handle& h) {
  const py::dict d = py::reinterpret_borrow<py::dict>(h);
  assembly::PairRecord p;
  p.a = d["a"].cast<size_t>();
  p.b = d["b"].cast<size_t>();
  p.verdict = d["verdict"].cast<std::string>();
  p.fine_share = d["fine_share"].cast<double>();
  p.snug = d["snug"].cast<bool>();
  p.motion = matrix_from(d["matrix"]);
  p.seconds = d["seconds"].cast<double>();
  return p;
}

// Paths are read as the command reads them; arrays are taken as they are.
std::vector<core::PointSet> scans_from(const py::sequence& scans, std::vector<py::object>& names) {
  const py::object fspath = py::module_::import("os").attr("fspath");
  const py::object path_like = py::module_::import("os").attr("PathLike");
  std::vector<core::PointSet> out;
  for (size_t i = 0; i < scans.size(); ++i) {
    const py::object s = scans[i];
    if (py::isinstance<py::str>(s) || py::isinstance(s, path_like)) {
      const std::string file = py::str(fspath(s));
      core::PointSet set;
      core::FaceList faces;
      std::string error;
      if (!core::parse_point_file(file, set, faces, false, &error)) throw py::value_error(error);
      out.push_back(std::move(set));
      names.push_back(py::str(file));
    } else {
      out.push_back(points_from_array(s, "scans[" + std::to_string(i) + "]"));
      names.push_back(py::none());
    }
  }
  return out;
}

py::dict result_dict(const assembly::AssemblyResult& r, const std::vector<py::object>& names) {
  py::list scans, pairs;
  for (size_t i = 0; i < r.scans.size(); ++i) {
    const assembly::ScanPlacement& s = r.scans[i];
    scans.append(
        py::dict("file"_a = names[i], "placed"_a = s.placed,
                 "matrix"_a = s.placed ? py::object(array_of(s.matrix)) : py::none(),
                 "residual_mm"_a = s.placed ? py::object(py::float_(s.residual)) : py::none(),
                 "pairs"_a = s.pairs));
  }
  for (const assembly::PairRecord& p : r.pairs) pairs.append(pair_dict(p));
  return py::dict("reference"_a = names[0], "scans"_a = scans, "pairs"_a = pairs,
                  "time_s"_a = r.time_s, "stopped"_a = r.stopped);
}

// The pairs as tasks on the client's workers, the scans sent to each worker once.
std::vector<assembly::PairRecord> run_on_cluster(const py::object& client,
                                                 const std::vector<core::PointSet>& scans,
                                                 const std::vector<std::pair<size_t, size_t>>& todo,
                                                 int threads) {
  py::gil_scoped_acquire gil;
  py::list arrays;
  for (const core::PointSet& s : scans) arrays.append(array_from_points(s));
  const py::object scattered = client.attr("scatter")(arrays, "broadcast"_a = true);
  const std::string token = py::str(py::module_::import("uuid").attr("uuid4")().attr("hex"));
  const py::object task = py::module_::import("kestrel").attr("_assembly_task");
  py::list futures;
  for (size_t first = 0; first < todo.size(); first += kPairsPerTask) {
    py::list chunk;
    for (size_t k = first; k < std::min(todo.size(), first + kPairsPerTask); ++k)
      chunk.append(py::make_tuple(todo[k].first, todo[k].second));
    futures.append(client.attr("submit")(task, token, scattered, chunk, threads, "pure"_a = false));
  }
  std::vector<assembly::PairRecord> out;
  for (const py::handle batch : client.attr("gather")(futures))
    for (const py::handle record : batch) out.push_back(pair_from(record));
  return out;
}

}  // namespace

py::dict assemble_scans(const py::sequence& scans, int threads, std::optional<double> max_seconds,
                        const py::object& client) {
  if (threads != 1 && threads != 2) throw py::value_error("threads must be 1 or 2");
  if (max_seconds && !(*max_seconds > 0)) throw py::value_error("max_seconds must be above 0");
  std::vector<py::object> names;
  const std::vector<core::PointSet> sets = scans_from(scans, names);
  if (sets.size() < 2) throw py::value_error("assemble needs two or more scans");
  std::vector<const core::PointSet*> pointers;
  for (const core::PointSet& s : sets) pointers.push_back(&s);
  assembly::AssemblyOptions options;
  options.threads = threads;
  options.max_seconds = max_seconds.value_or(0);
  assembly::AssemblyHooks hooks;
  if (!client.is_none())
    hooks.run_pairs = [&client, &sets,
                       threads](const std::vector<std::pair<size_t, size_t>>& todo) {
      return run_on_cluster(client, sets, todo, threads);
    };
  assembly::AssemblyResult result;
  {
    py::gil_scoped_release release;
    std::lock_guard<std::mutex> lock(engine_mutex());
    result = assembly::assemble(pointers, options, hooks);
  }
  return result_dict(result, names);
}

py::list assembly_pairs(const std::string& token, const py::sequence& scans,
                        const py::sequence& pairs, int threads) {
  // The last set of scans this process prepared, kept for the next task of the same call.
  static std::string prepared_token;
  static std::unique_ptr<assembly::ScanSet> prepared;
  std::vector<py::object> names;
  std::vector<core::PointSet> sets;
  if (token != prepared_token) sets = scans_from(scans, names);
  std::vector<std::pair<size_t, size_t>> todo;
  for (const py::handle p : pairs)
    todo.emplace_back(p[py::int_(0)].cast<size_t>(), p[py::int_(1)].cast<size_t>());
  std::vector<assembly::PairRecord> records;
  {
    py::gil_scoped_release release;
    std::lock_guard<std::mutex> lock(engine_mutex());
    if (token != prepared_token) {
      std::vector<const core::PointSet*> pointers;
      for (const core::PointSet& s : sets) pointers.push_back(&s);
      prepared = std::make_unique<assembly::ScanSet>(assembly::prepare_scans(pointers, threads));
      prepared_token = token;
    }
    for (const auto& [a, b] : todo)
      records.push_back(assembly::register_pair(*prepared, a, b, threads));
  }
  py::list out;
  for (const assembly::PairRecord& r : records) out.append(pair_dict(r));
  return out;
}

}  // namespace kestrel::python
