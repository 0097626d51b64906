#include "app/result_files.h"

#include <algorithm>
#include <cstdio>
#include <ostream>

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

bool write_results_file(const std::string& path, const AppState& state, size_t np, size_t nq,
                        const double (&M)[4][4], std::string* error) {
  const ModelSets& m = state.models;
  return core::write_file_atomically(
      path,
      [&](std::ostream& out) {
        out << "files: " << m.file_q << " ---> " << m.file_p << "\n";
        out << "points: " << m.file_p << ": " << np << " " << m.file_q << ": " << nq << "\n";
        out << "time: " << state.run_time_ms * 0.001 << " sec\n";
        out << "\n";
        for (int r = 0; r < 3; ++r)
          out << M[r][0] << " " << M[r][1] << " " << M[r][2] << " " << M[r][3] << "\n";
        out << 0 << " " << 0 << " " << 0 << " " << 1 << "\n";
        out << "\n";
        out << "Units: mm\n";
      },
      error);
}

// Both files again, in file coordinates, as key `o` reads them; Q scaled by do_scale.
struct FileModels {
  core::PointSet p, q;
  core::FaceList p_faces, q_faces;
  float cp[3] = {0, 0, 0}, cq[3] = {0, 0, 0};
};

// Without `want_faces` the files are not triangulated: only the reconstruction needs faces.
bool reread_models(const AppState& state, FileModels& files, bool want_faces, std::string& reason) {
  const core::RunParameters& params = state.params;
  const float cut_p = params.cut_y == 0 ? 0.0f : params.cut_y + 50;
  const float cut_q = params.cut_y == 0 ? 0.0f : params.cut_y - 50;
  const auto reread = [&](const std::string& file, core::PointSet& set, core::FaceList& faces,
                          float cut, float* c) {
    core::srand15(0);
    core::PointSet points;
    core::FaceList parsed_faces;
    int32_t one = 1;
    return core::parse_point_file(file, points, parsed_faces, true, &reason) &&
           core::prepare_point_set(file, std::move(points), std::move(parsed_faces), set, faces,
                                   false, one, cut, c[0], c[1], c[2], params.isamp, &reason,
                                   want_faces);
  };
  if (!reread(state.models.file_p, files.p, files.p_faces, cut_p, files.cp) ||
      !reread(state.models.file_q, files.q, files.q_faces, cut_q, files.cq))
    return false;
  const float* cq = files.cq;
  for (core::Point3D& pt : files.q) {
    pt.x = (pt.x - cq[0]) * params.do_scale + cq[0];
    pt.y = (pt.y - cq[1]) * params.do_scale + cq[1];
    pt.z = (pt.z - cq[2]) * params.do_scale + cq[2];
  }
  return true;
}

// Moves both sets so that their joint centroid is the origin, so the joined mesh sits around
// it; returns that centroid.
void centre_jointly(core::PointSet& p, core::PointSet& q, float centroid[3]) {
  double sum[3] = {0, 0, 0};
  for (const core::PointSet* set : {&p, &q})
    for (const core::Point3D& pt : *set) {
      sum[0] += pt.x;
      sum[1] += pt.y;
      sum[2] += pt.z;
    }
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
  std::string reasons[5];
  const bool ok[5] = {core::write_obj(m.model_p, dir + "out1.obj", m.model_p_faces, &reasons[0]),
                      core::write_obj(m.model_q, dir + "out2.obj", m.model_q_faces, &reasons[1]),
                      core::write_obj(m.full_p, dir + "full1.obj", m.full_p_faces, &reasons[2]),
                      core::write_obj(m.full_q, dir + "full2.obj", m.full_q_faces, &reasons[3]),
                      core::write_reconstruction(m.full_q, m.full_p, m.full_p_faces, m.full_q_faces,
                                                 dir + "reconstruct.obj", &reasons[4])};
  for (int k = 0; k < 5; ++k)
    if (!ok[k]) return refuse(reasons[k], error);
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
  return file_motion(m, state.models.q_placement, state.models.centroid_p, state.models.centroid_q,
                     state.params.centering);
}

ExportedMotion exported_run_motion(const AppState& state, const core::RigidTransform& motion) {
  core::RigidTransform m = motion;
  for (double& e : m.R.data) e *= m.s;
  QPlacement placement = state.models.q_placement;
  place_by_run(placement);
  return file_motion(m, placement, state.models.centroid_p, state.models.centroid_q,
                     state.params.centering);
}

bool write_matrix_file(const std::string& path, const double (&m)[4][4], std::string* error) {
  return core::write_file_atomically(
      path,
      [&m](std::ostream& out) {
        char line[160];
        for (int r = 0; r < 3; ++r) {
          std::snprintf(line, sizeof line, "%.17g %.17g %.17g %.17g\n", m[r][0], m[r][1], m[r][2],
                        m[r][3]);
          out << line;
        }
        out << "0 0 0 1\n";
      },
      error);
}

bool export_results(AppState& state, const std::string& results_path,
                    const std::string& reconstruct_path, ExportedMotion* motion,
                    std::string* error) {
  ModelSets& models = state.models;
  if (models.file_p.empty() || models.file_q.empty())
    return refuse("Load model P and model Q before writing the results.", error);
  // Re-read both files in file coordinates into copies, so a later run still searches the P
  // its tree and spacing were built for.
  FileModels files;
  std::string reason;
  if (!reread_models(state, files, !reconstruct_path.empty(), reason))
    return refuse("Cannot write the results: " + reason, error);
  std::copy(files.cp, files.cp + 3, models.centroid_p);
  std::copy(files.cq, files.cq + 3, models.centroid_q);

  core::RigidTransform& m = state.current_transform;
  for (double& e : m.R.data) e *= m.s;
  const ExportedMotion exported =
      file_motion(m, models.q_placement, files.cp, files.cq, state.params.centering);
  const double(&total)[4][4] = exported.m;
  std::printf("\n\n\n");
  print_rotation_rows(total);
  std::printf("translation: %f %f %f\n", total[0][3], total[1][3], total[2][3]);
  core::DenseMatrix L(3, 3);
  for (uint32_t r = 0; r < 3; ++r)
    for (uint32_t c = 0; c < 3; ++c) L(r, c) = total[r][c];
  core::transform_point_set(files.q, core::linear_motion(L, total[0][3], total[1][3], total[2][3]));
  if (!write_results_file(results_path, state, files.p.size(), files.q.size(), total, &reason))
    return refuse(reason, error);
  if (motion) *motion = exported;

  centre_jointly(files.p, files.q, models.centroid_q);
  if (!reconstruct_path.empty() &&
      !core::write_reconstruction(files.q, files.p, files.p_faces, files.q_faces, reconstruct_path,
                                  &reason))
    return refuse(reason, error);
  return true;
}

}  // namespace kestrel::app
