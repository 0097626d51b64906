// The Python module `kestrel`: point files to numpy arrays, and alignments of two models that
// run kestrel-align's own sequence on arrays or files.

#include <pybind11/eval.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <mutex>
#include <optional>
#include <string>

#include "core/point_file.h"
#include "core/point_formats.h"
#include "python/align_call.h"
#include "python/align_keywords.h"
#include "python/assemble_call.h"
#include "python/point_arrays.h"

namespace py = pybind11;
using namespace pybind11::literals;

namespace kestrel::python {

namespace {

constexpr char kModuleDoc[] =
    R"(Kestrel: rigid registration of two 3D point sets by congruent four-point bases.

read_points(path) reads a point file; align(p, q) aligns two (N, 3) arrays and
align_files(p_path, q_path) two point files, both through the same loading, run and ICP
as the kestrel-align program. Calls release the GIL and take turns with each other.)";

// The endings come from the reader's own table, so the docstring names every format it reads.
std::string read_points_doc() {
  return "Reads a point file the programs read (" +
         core::joined_endings(core::FormatList::kAll, ".", ", ") + R"() and returns
its points as an (N, 3) float64 array, in file order and file coordinates.

Raises ValueError with the reader's message when the file cannot be read.)";
}

constexpr char kOptionsDoc[] =
    R"(Further options, each the same as kestrel-align's (see kestrel-align --help):
overlap (-o), delta (--delta), icp (--icp), ransac (--ransac), random_positions
(--random-position), noise (--noise), noise_level (-no), num_try (-y), thr (-t),
base_max_len (-q), norm_diff (-nd), isamp (-i), margin (-m), cut_y (-cut),
centering (False for -c), scale_tol (-w2), trans_file (-l), any_pose (--any-pose).
num_try, thr and base_max_len are kept as given; the any-pose search takes its own from the
scans, so with any_pose=True (and no ransac) they raise ValueError.
max_seconds stops the registration run after that many seconds from the call's start;
Ctrl-C (KeyboardInterrupt) stops it too
when the call runs in the main thread. Either way the best motion found so far comes back
with stopped=True and without ICP. When no motion comes of a call (the run found none, also
when it was stopped first; a scan of fewer than 12 points; a motion that is not a rotation;
a failed ICP) it raises kestrel.NoMotion, where kestrel-align exits with status 2.
verbose=True prints the aligner's console lines.
Unknown keywords and values of the wrong type raise TypeError, values out of range ValueError.)";

constexpr char kAlignDoc[] =
    R"(Aligns q onto p and returns an AlignResult whose matrix (4 x 4) maps q's coordinates
onto p's: p ~ (matrix @ [q, 1].T).T[:, :3].

p and q are (N, 3) arrays of any float or integer dtype, C- or Fortran-ordered. They load as
a point file without faces would: thinned, centred and triangulated in the x-y plane.
Wrong shapes, fewer than 4 points or values that are not finite raise ValueError.

any_pose defaults to True here: arrays handed in from a pipeline come in any pose, so the
search does not assume that both scans lie the same way up (align_files keeps kestrel-align's
default of False). icp=True refines the motion with ICP; overlap is the expected overlap
fraction (None: the aligner's default), delta the run tolerance in units of the point
spacing.
)";

constexpr char kAlignFilesDoc[] =
    R"(Aligns the point file q_path onto p_path exactly as kestrel-align P_FILE Q_FILE does
with the same options, and returns an AlignResult whose matrix is the one kestrel-align
writes (--matrix). The defaults are kestrel-align's: no ICP, any_pose False.
Files that cannot be read raise ValueError with the reader's message.
)";

constexpr char kNoMotionDoc[] =
    R"(No motion comes of an alignment: the run found none (also when max_seconds or Ctrl-C
stopped it first), a scan has fewer than 12 points, the motion is not a rotation, or ICP
failed. A RuntimeError; its message says which, as kestrel-align's does when it exits with 2.)";

constexpr char kResultDoc[] =
    R"(The outcome of an alignment: matrix (4 x 4, q onto p, ICP included), coarse_matrix
(before ICP), best_lcp, icp_error (None without ICP), run_time_s, icp_time_s, stopped,
trials, counts and stage_ms (the engine's counts and time per stage), p_points and q_points
(sizes of the working sets), verdict ("confident", "uncertain" or "no_match": whether the
motion can be trusted) and evidence (the figures behind it).)";

constexpr char kAssembleDoc[] =
    R"(Assembles many scans of one object into one model, as kestrel-assemble does, and returns
the record of its poses.json as a dict: reference, scans (file, placed, matrix: a 4 x 4 array
into the first scan's coordinates or None, residual_mm, pairs), pairs (a, b, verdict, used,
fine_share, matrix: scan b into scan a, seconds), time_s and stopped.

scans is a sequence of (N, 3) arrays and point-file paths (read as the command reads them);
file is the path as given, or None for an array. threads is 1 or 2 (the same result);
max_seconds skips the pairs not begun by then. With client, a dask.distributed Client, the
pairs run as tasks on its workers (the scans are sent to each worker once, and each worker
needs the kestrel module on its path); the result is exactly that of a local run.
Bad scans or unreadable files raise ValueError.)";

py::array_t<double> read_points(const py::object& path) {
  const std::string file = py::str(py::module_::import("os").attr("fspath")(path));
  core::PointSet set;
  core::FaceList faces;
  int32_t all = 1;
  float c[3];
  std::string error;
  bool ok = false;
  {
    py::gil_scoped_release release;
    std::lock_guard<std::mutex> lock(engine_mutex());
    ok = core::read_point_set(file, set, faces, false, all, 0, c[0], c[1], c[2], 1000, &error);
  }
  if (!ok) throw py::value_error(error);
  return array_from_points(set);
}

// Named arguments first, then the rest, as the parser would meet them on a command line.
Keywords keywords_of(std::initializer_list<std::pair<const char*, py::object>> named,
                     const py::kwargs& options) {
  Keywords keywords;
  for (const auto& [name, value] : named) keywords.emplace_back(name, value);
  for (const auto& [name, value] : options)
    keywords.emplace_back(py::str(name).cast<std::string>(),
                          py::reinterpret_borrow<py::object>(value));
  return keywords;
}

AlignResult align(const py::handle& p, const py::handle& q, const py::object& any_pose,
                  const py::object& icp, const py::object& overlap, const py::object& delta,
                  std::optional<double> max_seconds, bool verbose, const py::kwargs& options) {
  const core::PointSet p_points = points_from_array(p, "p");
  const core::PointSet q_points = points_from_array(q, "q");
  const Keywords keywords = keywords_of(
      {{"any_pose", any_pose}, {"icp", icp}, {"overlap", overlap}, {"delta", delta}}, options);
  return run_alignment({"p", &p_points}, {"q", &q_points}, keywords,
                       {"align", max_seconds, verbose});
}

AlignResult align_files(const py::object& p_path, const py::object& q_path,
                        std::optional<double> max_seconds, bool verbose,
                        const py::kwargs& options) {
  const py::object fspath = py::module_::import("os").attr("fspath");
  const std::string p_file = py::str(fspath(p_path)), q_file = py::str(fspath(q_path));
  return run_alignment({p_file}, {q_file}, keywords_of({}, options),
                       {"align_files", max_seconds, verbose});
}

std::string repr(const AlignResult& r) {
  const py::object text = py::module_::import("numpy").attr("array2string");
  const std::string matrix = py::str(
      text(r.matrix, "precision"_a = 6, "suppress_small"_a = true, "prefix"_a = "  matrix="));
  return "AlignResult(verdict='" + r.verdict +
         "', best_lcp=" + py::repr(py::float_(r.best_lcp)).cast<std::string>() +
         ", icp_error=" + py::repr(r.icp_error).cast<std::string>() +
         ", stopped=" + (r.stopped ? "True" : "False") + ", trials=" + std::to_string(r.trials) +
         ", run_time_s=" + py::repr(py::float_(r.run_time_s)).cast<std::string>() +
         ",\n  matrix=" + matrix + ")";
}

}  // namespace

}  // namespace kestrel::python

PYBIND11_MODULE(kestrel, m) {
  using namespace kestrel::python;
  m.doc() = kModuleDoc;

  py::class_<AlignResult>(m, "AlignResult", kResultDoc)
      .def_readonly("matrix", &AlignResult::matrix)
      .def_readonly("coarse_matrix", &AlignResult::coarse_matrix)
      .def_readonly("best_lcp", &AlignResult::best_lcp)
      .def_readonly("icp_error", &AlignResult::icp_error)
      .def_readonly("run_time_s", &AlignResult::run_time_s)
      .def_readonly("icp_time_s", &AlignResult::icp_time_s)
      .def_readonly("stopped", &AlignResult::stopped)
      .def_readonly("trials", &AlignResult::trials)
      .def_readonly("counts", &AlignResult::counts)
      .def_readonly("stage_ms", &AlignResult::stage_ms)
      .def_readonly("p_points", &AlignResult::p_points)
      .def_readonly("q_points", &AlignResult::q_points)
      .def_readonly("verdict", &AlignResult::verdict)
      .def_readonly("evidence", &AlignResult::evidence)
      .def("__repr__", &repr);

  py::register_exception<NoMotionError>(m, "NoMotion", PyExc_RuntimeError);
  m.attr("NoMotion").attr("__doc__") = kNoMotionDoc;
  m.def("read_points", &read_points, "path"_a, read_points_doc().c_str());
  m.def("align", &align, "p"_a, "q"_a, py::kw_only(), "any_pose"_a = true, "icp"_a = true,
        "overlap"_a = py::none(), "delta"_a = 0.9, "max_seconds"_a = py::none(),
        "verbose"_a = false, (std::string(kAlignDoc) + kOptionsDoc).c_str());
  m.def("align_files", &align_files, "p_path"_a, "q_path"_a, py::kw_only(),
        "max_seconds"_a = py::none(), "verbose"_a = false,
        (std::string(kAlignFilesDoc) + kOptionsDoc).c_str());
  m.attr("option_keywords") = keyword_names();
  m.def("assemble", &assemble_scans, "scans"_a, py::kw_only(), "threads"_a = 2,
        "max_seconds"_a = py::none(), "client"_a = py::none(), kAssembleDoc);
  m.def("_assembly_pairs", &assembly_pairs, "token"_a, "scans"_a, "pairs"_a, "threads"_a,
        "A worker's share of kestrel.assemble(..., client=...): records of the pairs.");
  // What the cluster runs: a plain function of this module, which pickles by its name (a
  // compiled function does not pickle at all).
  py::dict scope;
  scope["__name__"] = "kestrel";
  py::exec(R"(
def _assembly_task(token, scans, pairs, threads):
    import kestrel
    return kestrel._assembly_pairs(token, scans, pairs, threads)
)",
           scope);
  m.attr("_assembly_task") = scope["_assembly_task"];
}
