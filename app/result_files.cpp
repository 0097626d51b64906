#include "app/result_files.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <ostream>
#include <utility>

#include "app/motion_check.h"
#include "app/number_text.h"
#include "core/atomic_file.h"
#include "core/point_file.h"
#include "core/prepare_point_set.h"
#include "core/random15.h"

namespace kestrel::app {

namespace {

bool refuse(const std::string& reason, std::string* error) {
  std::printf("%s\n", reason.c_str());
  if (error) *error = reason;
  return false;
}

// How far each number of the matrix may move: so little that it moves Q by at most 1e-5 of
// Q's size, the rotation's applied to Q's largest coordinate in its column. Six digits keep
// that for scans near their files' origin (the results recorded so far); far from it, or for a
// translation long against a small scan, a number needs more.
struct MatrixTolerance {
  double column[4] = {0, 0, 0, 0};
};

// Q's extent in file coordinates, gathered point by point, and the tolerance it gives.
class QExtent {
 public:
  void add(const core::Point3D& pt, const core::Origin& origin) {
    const double v[3] = {pt.x, pt.y, pt.z};
    for (int k = 0; k < 3; ++k) {
      lo_[k] = first_ ? v[k] : std::min(lo_[k], v[k]);
      hi_[k] = first_ ? v[k] : std::max(hi_[k], v[k]);
      far_[k] = std::max(far_[k], std::fabs(v[k] + origin[static_cast<size_t>(k)]));
    }
    first_ = false;
  }

  MatrixTolerance tolerance() const {
    const double size = std::sqrt((hi_[0] - lo_[0]) * (hi_[0] - lo_[0]) +
                                  (hi_[1] - lo_[1]) * (hi_[1] - lo_[1]) +
                                  (hi_[2] - lo_[2]) * (hi_[2] - lo_[2]));
    MatrixTolerance t;
    for (int k = 0; k < 3; ++k) t.column[k] = far_[k] > 0 ? 1e-5 * size / far_[k] : 1e-5 * size;
    t.column[3] = 1e-5 * size;
    return t;
  }

 private:
  double lo_[3] = {0, 0, 0}, hi_[3] = {0, 0, 0}, far_[3] = {0, 0, 0};
  bool first_ = true;
};

MatrixTolerance matrix_tolerance(const core::PointSet& q, const core::Origin& origin) {
  QExtent extent;
  for (const core::Point3D& pt : q) extent.add(pt, origin);
  return extent.tolerance();
}

// The results file's text; its numbers come from number_text, so a usual motion is written as
// the default stream writes it.
std::function<void(std::ostream&)> results_text(const AppState& state, size_t np, size_t nq,
                                                const double (&M)[4][4],
                                                const MatrixTolerance& tol) {
  return [&state, np, nq, &M, tol](std::ostream& out) {
    const ModelSets& m = state.models;
    out << "files: " << m.file_q << " ---> " << m.file_p << "\n";
    out << "points: " << m.file_p << ": " << np << " " << m.file_q << ": " << nq << "\n";
    out << "time: " << state.run_time_ms * 0.001 << " sec\n";
    out << "\n";
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 4; ++c)
        out << number_text(M[r][c], tol.column[c]) << (c < 3 ? " " : "\n");
    out << 0 << " " << 0 << " " << 0 << " " << 1 << "\n";
    out << "\n";
    out << "Units: mm\n";
  };
}

// Both files again, in file coordinates, as key `o` reads them; Q scaled by do_scale.
struct FileModels {
  core::PointSet p, q;
  core::FaceList p_faces, q_faces;
  float cp[3] = {0, 0, 0}, cq[3] = {0, 0, 0};
};

// Re-reads one file in file coordinates, as key `o` reads it (Q scaled by do_scale). Without
// `want_faces` the file is not triangulated: only the reconstruction needs faces.
bool reread_model(const AppState& state, bool is_p, bool want_faces, core::PointSet& set,
                  core::FaceList& faces, float* c, std::string& reason) {
  const core::RunParameters& params = state.params;
  const float cut = params.cut_y == 0 ? 0.0f : params.cut_y + (is_p ? 50 : -50);
  const ModelSets& m = state.models;
  // Each file is taken relative to the origin it was loaded with, as the motion is.
  core::srand15(0);
  core::PointSet points;
  core::FaceList parsed_faces;
  int32_t one = 1;
  const std::string& file = is_p ? m.file_p : m.file_q;
  if (!core::parse_point_file(file, points, parsed_faces, true, &reason, params.threads))
    return false;
  core::move_to_origin(points, is_p ? m.origin_p : m.origin_q, true);
  if (!core::prepare_point_set(file, std::move(points), std::move(parsed_faces), set, faces, false,
                               one, cut, c[0], c[1], c[2], params.isamp, &reason, want_faces))
    return false;
  if (is_p) return true;
  for (core::Point3D& pt : set) {
    pt.x = (pt.x - c[0]) * params.do_scale + c[0];
    pt.y = (pt.y - c[1]) * params.do_scale + c[1];
    pt.z = (pt.z - c[2]) * params.do_scale + c[2];
  }
  return true;
}

// Adds the positions of `set` to `sum`, in order.
void add_positions(const core::PointSet& set, double (&sum)[3]) {
  for (const core::Point3D& pt : set) {
    sum[0] += pt.x;
    sum[1] += pt.y;
    sum[2] += pt.z;
  }
}

// Both files re-read, P first. Without `both` (no reconstruction) P is needed only for its
// count `np` and its share of the joint centroid's `sum`: it is let go before Q is read, so a
// large scan is not held a third time. With `both` the sum is left to centre_jointly.
bool reread_models(const AppState& state, bool both, FileModels& files, size_t& np,
                   double (&sum)[3], std::string& reason) {
  if (!reread_model(state, true, both, files.p, files.p_faces, files.cp, reason)) return false;
  np = files.p.size();
  if (!both) {
    add_positions(files.p, sum);
    core::PointSet().swap(files.p);
  }
  return reread_model(state, false, both, files.q, files.q_faces, files.cq, reason);
}

// Moves both sets so that their joint centroid is the origin, so the joined mesh sits around
// it; returns that centroid.
void centre_jointly(core::PointSet& p, core::PointSet& q, float centroid[3]) {
  double sum[3] = {0, 0, 0};
  add_positions(p, sum);
  add_positions(q, sum);
  const double n = static_cast<double>(p.size() + q.size());
  for (int k = 0; k < 3; ++k) centroid[k] = static_cast<float>(sum[k] / n);
  for (core::PointSet* set : {&p, &q})
    for (core::Point3D& pt : *set) {
      pt.x -= centroid[0];
      pt.y -= centroid[1];
      pt.z -= centroid[2];
    }
}

void print_rotation_rows(const double (*m)[4]) {
  std::printf("%c:\n%25.3f %25.3f %25.3f\n%25.3f %25.3f %25.3f\n%25.3f %25.3f %25.3f\n\n", 'R',
              m[0][0], m[0][1], m[0][2], m[1][0], m[1][1], m[1][2], m[2][0], m[2][1], m[2][2]);
}

// The motion between the models' frames as one between their files' frames: Q's origin comes
// off before it and P's goes on after it, in double.
ExportedMotion with_origins(const ExportedMotion& local, const core::Origin& op,
                            const core::Origin& oq) {
  if (core::is_zero(op) && core::is_zero(oq)) return local;
  ExportedMotion out = local;
  for (auto [from, to] : {std::pair{&local.m, &out.m}, std::pair{&local.coarse, &out.coarse}})
    for (size_t r = 0; r < 3; ++r)
      (*to)[r][3] = (*from)[r][3] + op[r] -
                    ((*from)[r][0] * oq[0] + (*from)[r][1] * oq[1] + (*from)[r][2] * oq[2]);
  return out;
}

}  // namespace

void print_rotation(const AppState& state) {
  const core::DenseMatrix& R = state.current_transform.R;
  double rows[3][4] = {};
  for (uint32_t r = 0; r < 3; ++r)
    for (uint32_t c = 0; c < 3; ++c) rows[r][c] = R(r, c);
  print_rotation_rows(rows);
}

bool save_models(const AppState& state, const std::string& folder, std::string* error) {
  const ModelSets& m = state.models;
  const std::string dir = folder.empty() ? "" : folder + "/";
  std::string reason;
  core::FileBatch batch;
  const bool written =
      batch.add(dir + "out1.obj", core::obj_text(m.model_p, m.model_p_faces), &reason) &&
      batch.add(dir + "out2.obj", core::obj_text(m.model_q, m.model_q_faces), &reason) &&
      batch.add(dir + "full1.obj", core::obj_text(m.full_p, m.full_p_faces), &reason) &&
      batch.add(dir + "full2.obj", core::obj_text(m.full_q, m.full_q_faces), &reason) &&
      batch.add(dir + "reconstruct.obj",
                core::reconstruction_text(m.full_q, m.full_p, m.full_p_faces, m.full_q_faces),
                &reason) &&
      batch.commit(&reason);
  if (!written) return refuse(reason, error);
  std::printf("written.\n");
  return true;
}

ExportedMotion file_motion(const core::RigidTransform& motion, const QPlacement& placement,
                           const float cp[3], const float cq[3], bool centering) {
  // The run worked on centred models only when centering was on; otherwise the motion already
  // acts on file coordinates and no centroid enters the translation.
  const float shift_p[3] = {centering ? cp[0] : 0.0f, centering ? cp[1] : 0.0f,
                            centering ? cp[2] : 0.0f};
  const float shift_q[3] = {centering ? cq[0] : 0.0f, centering ? cq[1] : 0.0f,
                            centering ? cq[2] : 0.0f};
  const Matrix4 from_p = translation_matrix(shift_p[0], shift_p[1], shift_p[2]);
  const Matrix4 to_p = translation_matrix(-shift_p[0], -shift_p[1], -shift_p[2]);
  Matrix4 coarse;
  if (placement.run_applied) {
    float cs[3];
    for (int k = 0; k < 3; ++k) cs[k] = static_cast<float>(motion.c[k]) + shift_q[k];
    for (int r = 0; r < 3; ++r) {
      const auto row = static_cast<uint32_t>(r);
      const double v =
          motion.R(row, 0) * cs[0] + motion.R(row, 1) * cs[1] + motion.R(row, 2) * cs[2];
      for (uint32_t c = 0; c < 3; ++c) coarse.m[r][c] = motion.R(row, c);
      coarse.m[r][3] = motion.c[r] - v + motion.t[r] + shift_p[r];
    }
  } else {
    // No run moved the shown Q: its working frame sits on P's.
    for (int k = 0; k < 3; ++k) coarse.m[k][3] = static_cast<double>(shift_p[k]) - shift_q[k];
  }
  if (!placement.turns.is_identity()) {
    // The turns act on Q's working frame: leave Q's file frame, turn, come back.
    const Matrix4 from_q = translation_matrix(shift_q[0], shift_q[1], shift_q[2]);
    const Matrix4 to_q = translation_matrix(-shift_q[0], -shift_q[1], -shift_q[2]);
    coarse = coarse * from_q * placement.turns * to_q;
  }
  Matrix4 total = coarse;
  // What moved the shown Q after the run acts on P's working frame.
  if (!placement.after.is_identity()) total = from_p * (placement.after * (to_p * coarse));
  ExportedMotion out;
  std::copy(&total.m[0][0], &total.m[0][0] + 16, &out.m[0][0]);
  std::copy(&coarse.m[0][0], &coarse.m[0][0] + 16, &out.coarse[0][0]);
  return out;
}

ExportedMotion exported_motion(const AppState& state) {
  core::RigidTransform m = state.current_transform;
  for (double& e : m.R.data) e *= m.s;
  const ModelSets& models = state.models;
  return with_origins(file_motion(m, models.q_placement, models.centroid_p, models.centroid_q,
                                  state.params.centering),
                      models.origin_p, models.origin_q);
}

std::function<void(std::ostream&)> matrix_text(const double (&m)[4][4]) {
  return [&m](std::ostream& out) {
    char line[160];
    for (int r = 0; r < 3; ++r) {
      std::snprintf(line, sizeof line, "%.17g %.17g %.17g %.17g\n", m[r][0], m[r][1], m[r][2],
                    m[r][3]);
      out << line;
    }
    out << "0 0 0 1\n";
  };
}

ExportedMotion exported_run_motion(const AppState& state, const core::RigidTransform& motion) {
  core::RigidTransform m = motion;
  for (double& e : m.R.data) e *= m.s;
  const ModelSets& models = state.models;
  QPlacement placement = models.q_placement;
  place_by_run(placement);
  return with_origins(
      file_motion(m, placement, models.centroid_p, models.centroid_q, state.params.centering),
      models.origin_p, models.origin_q);
}

bool write_matrix_file(const std::string& path, const double (&m)[4][4], std::string* error) {
  return core::write_file_atomically(path, matrix_text(m), error);
}

namespace {

// Whether the figures kept from the loads stand in for reading both files again: both came from
// their files without a cut, none is asked now, and no reconstruction needs the points of P.
bool figures_stand_in(const ModelSets& m, float cut_y, bool both) {
  return !both && cut_y == 0 && m.figures_p.known && m.figures_q.known &&
         m.figures_q.xyz.size() == 3 * m.figures_q.count;
}

// What reread_models gives without a reconstruction, from the kept figures.
void take_figures(const ModelSets& m, FileModels& files, size_t& np, double (&sum)[3]) {
  std::copy(m.figures_p.centroid, m.figures_p.centroid + 3, files.cp);
  std::copy(m.figures_q.centroid, m.figures_q.centroid + 3, files.cq);
  np = m.figures_p.count;
  std::copy(m.figures_p.sum, m.figures_p.sum + 3, sum);
}

// Q's share of the results: the tolerance of its extent, its count, and (unless `both`, where
// the joint centroid comes later) its points moved by `motion` added to `sum`. Q's points are
// taken scaled as reread_model takes them, from the kept figures when `kept`, else from
// `files.q`, which is moved.
size_t q_share(const AppState& state, bool kept, bool both, FileModels& files,
               const core::RigidTransform& motion, MatrixTolerance& tol, double (&sum)[3]) {
  const ModelSets& m = state.models;
  if (!kept) {
    tol = matrix_tolerance(files.q, m.origin_q);
    core::transform_point_set(files.q, motion);
    if (!both) add_positions(files.q, sum);
    return files.q.size();
  }
  const float* c = files.cq;
  const std::vector<float>& xyz = m.figures_q.xyz;
  QExtent extent;
  for (size_t i = 0; i < m.figures_q.count; ++i) {
    core::Point3D pt;
    pt.x = (static_cast<double>(xyz[3 * i]) - c[0]) * state.params.do_scale + c[0];
    pt.y = (static_cast<double>(xyz[3 * i + 1]) - c[1]) * state.params.do_scale + c[1];
    pt.z = (static_cast<double>(xyz[3 * i + 2]) - c[2]) * state.params.do_scale + c[2];
    extent.add(pt, m.origin_q);
    core::transform_point(pt, motion);
    sum[0] += pt.x;
    sum[1] += pt.y;
    sum[2] += pt.z;
  }
  tol = extent.tolerance();
  return m.figures_q.count;
}

// The centroid of both sets once Q is moved: of the sets themselves, which it centres, with a
// reconstruction; else from `sum`, the `n` points' coordinates added up.
void joint_centroid(bool both, FileModels& files, const double (&sum)[3], size_t n,
                    float (&joint)[3]) {
  if (both) {
    centre_jointly(files.p, files.q, joint);
    return;
  }
  for (int k = 0; k < 3; ++k) joint[k] = static_cast<float>(sum[k] / static_cast<double>(n));
}

// The console's lines of a written motion.
void print_motion(const double (&total)[4][4]) {
  std::printf("\n\n\n");
  print_rotation_rows(total);
  std::printf("translation: %f %f %f\n", total[0][3], total[1][3], total[2][3]);
}

}  // namespace

bool export_results(AppState& state, const std::string& results_path,
                    const std::string& reconstruct_path, ExportedMotion* motion, std::string* error,
                    core::FileBatch* batch) {
  ModelSets& models = state.models;
  if (models.file_p.empty() || models.file_q.empty())
    return refuse("Load model P and model Q before writing the results.", error);
  // Both files in file coordinates, as copies (so a later run still searches the P its tree and
  // spacing were built for): read again, or what their loads kept of them.
  FileModels files;
  std::string reason;
  const bool both = !reconstruct_path.empty();
  const bool kept = figures_stand_in(models, state.params.cut_y, both);
  size_t np = 0;
  double sum[3] = {0, 0, 0};
  if (kept)
    take_figures(models, files, np, sum);
  else if (!reread_models(state, both, files, np, sum, reason))
    return refuse("Cannot write the results: " + reason, error);
  std::copy(files.cp, files.cp + 3, models.centroid_p);
  std::copy(files.cq, files.cq + 3, models.centroid_q);

  core::RigidTransform& m = state.current_transform;
  for (double& e : m.R.data) e *= m.s;
  // Q is moved in the models' frames; the files' frames are what is written and printed.
  const ExportedMotion local =
      file_motion(m, models.q_placement, files.cp, files.cq, state.params.centering);
  const ExportedMotion exported = with_origins(local, models.origin_p, models.origin_q);
  const double(&total)[4][4] = exported.m;
  // A matrix that shears or flattens Q would pass for a registration (a scale may be folded in,
  // -w2 asks for an affine correction).
  const std::string fault = motion_fault(
      total, state.params.scale_tol != 1.0f ? MotionKind::kAnyLinear : MotionKind::kSimilarity,
      "the motion");
  if (!fault.empty()) return refuse("Cannot write the results: " + fault + ".", error);
  print_motion(total);
  core::DenseMatrix L(3, 3);
  for (uint32_t r = 0; r < 3; ++r)
    for (uint32_t c = 0; c < 3; ++c) L(r, c) = local.m[r][c];
  MatrixTolerance tol;
  const size_t nq = q_share(state, kept, both, files,
                            core::linear_motion(L, local.m[0][3], local.m[1][3], local.m[2][3]),
                            tol, sum);
  core::FileBatch own;
  core::FileBatch& out = batch ? *batch : own;
  if (!out.add(results_path, results_text(state, np, nq, total, tol), &reason))
    return refuse(reason, error);

  float joint[3];
  joint_centroid(both, files, sum, np + nq, joint);
  if (both && !out.add(reconstruct_path,
                       core::reconstruction_text(files.q, files.p, files.p_faces, files.q_faces),
                       &reason))
    return refuse(reason, error);
  if (!batch && !own.commit(&reason)) return refuse(reason, error);
  std::copy(joint, joint + 3, models.centroid_q);
  if (motion) *motion = exported;
  return true;
}

}  // namespace kestrel::app
