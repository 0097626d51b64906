#include "app/result_files.h"

#include <cstdio>
#include <fstream>

#include "core/point_file.h"
#include "core/rigid_transform.h"

namespace kestrel::app {

namespace {

bool refuse(const std::string& reason, std::string* error) {
  std::printf("%s\n", reason.c_str());
  if (error) *error = reason;
  return false;
}

void write_results_file(const std::string& path, const AppState& state, size_t np, size_t nq,
                        const core::DenseMatrix& R, const double (&T)[3]) {
  std::ofstream out(path, std::ios::trunc);
  if (!out) return;
  out << "files: " << state.file_q << " ---> " << state.file_p << "\n";
  out << "points: " << state.file_p << ": " << np << " " << state.file_q << ": " << nq << "\n";
  out << "time: " << state.run_time_ms * 0.001 << " sec\n";
  out << "\n";
  for (int r = 0; r < 3; ++r)
    out << R(r, 0) << " " << R(r, 1) << " " << R(r, 2) << " " << T[r] << "\n";
  out << 0 << " " << 0 << " " << 0 << " " << 1 << "\n";
  out << "\n";
  out << "Units: mm\n";
}

}  // namespace

void print_rotation(const AppState& state) {
  const core::DenseMatrix& R = state.reg.current_transform.R;
  std::printf("%c:\n%25.3f %25.3f %25.3f\n%25.3f %25.3f %25.3f\n%25.3f %25.3f %25.3f\n\n", 'R',
              R(0, 0), R(0, 1), R(0, 2), R(1, 0), R(1, 1), R(1, 2), R(2, 0), R(2, 1), R(2, 2));
}

void save_models(const AppState& state, const std::string& folder) {
  const std::string dir = folder.empty() ? "" : folder + "/";
  core::write_obj(state.reg.model_p, dir + "out1.obj", state.model_p_faces);
  core::write_obj(state.reg.model_q, dir + "out2.obj", state.model_q_faces);
  core::write_obj(state.full_p, dir + "full1.obj", state.full_p_faces);
  core::write_obj(state.reg.full_q, dir + "full2.obj", state.full_q_faces);
  core::write_reconstruction(state.reg.full_q, state.full_p, state.full_p_faces,
                             state.full_q_faces, dir + "reconstruct.obj");
  std::printf("written.\n");
}

bool export_results(AppState& state, const std::string& results_path,
                    const std::string& reconstruct_path, ExportedMotion* motion,
                    std::string* error) {
  if (state.file_p.empty() || state.file_q.empty())
    return refuse("Load model P and model Q before writing the results.", error);
  const core::RunParameters& params = state.params;
  std::printf("\n\n\n");
  print_rotation(state);

  // Re-read both files in file coordinates into copies, so a later run still searches the P
  // its tree and spacing were built for.
  core::PointSet p, q;
  core::FaceList p_faces, q_faces;
  float cp[3], cq[3];
  int32_t one_p = 1, one_q = 1;
  std::string reason;
  const float cut_p = params.cut_y == 0 ? 0.0f : params.cut_y + 50;
  const float cut_q = params.cut_y == 0 ? 0.0f : params.cut_y - 50;
  if (!core::read_point_set(state.file_p, p, p_faces, false, one_p, cut_p, cp[0], cp[1], cp[2],
                            params.isamp, &reason) ||
      !core::read_point_set(state.file_q, q, q_faces, false, one_q, cut_q, cq[0], cq[1], cq[2],
                            params.isamp, &reason))
    return refuse("Cannot write the results: " + reason, error);
  std::copy(cp, cp + 3, state.centroid_p);
  std::copy(cq, cq + 3, state.centroid_q);

  for (core::Point3D& pt : q) {
    pt.x = (pt.x - cq[0]) * params.do_scale + cq[0];
    pt.y = (pt.y - cq[1]) * params.do_scale + cq[1];
    pt.z = (pt.z - cq[2]) * params.do_scale + cq[2];
  }

  core::RigidTransform& m = state.reg.current_transform;
  for (double& e : m.R.data) e *= m.s;
  // The run worked on centred models only when centering was on; otherwise the motion already
  // acts on file coordinates and no centroid enters the translation.
  const float shift_p[3] = {params.centering ? cp[0] : 0.0f, params.centering ? cp[1] : 0.0f,
                            params.centering ? cp[2] : 0.0f};
  const float shift_q[3] = {params.centering ? cq[0] : 0.0f, params.centering ? cq[1] : 0.0f,
                            params.centering ? cq[2] : 0.0f};
  float cs[3];
  for (int k = 0; k < 3; ++k) cs[k] = static_cast<float>(m.c[k]) + shift_q[k];
  double T[3];
  for (int r = 0; r < 3; ++r) {
    const double v = m.R(r, 0) * cs[0] + m.R(r, 1) * cs[1] + m.R(r, 2) * cs[2];
    T[r] = m.c[r] - v + m.t[r] + shift_p[r];
  }
  core::transform_point_set(q, m.R, 1.0f, 0, 0, 0, T[0], T[1], T[2]);
  std::printf("translation: %f %f %f\n", T[0], T[1], T[2]);
  write_results_file(results_path, state, p.size(), q.size(), m.R, T);
  if (motion) {
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) motion->m[r][c] = m.R(r, c);
      motion->m[r][3] = T[r];
    }
    motion->m[3][0] = motion->m[3][1] = motion->m[3][2] = 0;
    motion->m[3][3] = 1;
  }

  // Both models jointly centred, so the joined mesh sits around the origin.
  double sum[3] = {0, 0, 0};
  for (const core::PointSet* set : {&p, &q})
    for (const core::Point3D& pt : *set) {
      sum[0] += pt.x;
      sum[1] += pt.y;
      sum[2] += pt.z;
    }
  const double n = static_cast<double>(p.size() + q.size());
  for (int k = 0; k < 3; ++k) state.centroid_q[k] = static_cast<float>(sum[k] / n);
  for (core::PointSet* set : {&p, &q})
    for (core::Point3D& pt : *set) {
      pt.x -= state.centroid_q[0];
      pt.y -= state.centroid_q[1];
      pt.z -= state.centroid_q[2];
    }
  if (!reconstruct_path.empty()) core::write_reconstruction(q, p, p_faces, q_faces, reconstruct_path);
  return true;
}

}  // namespace kestrel::app
