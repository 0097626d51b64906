#include "app/result_files.h"

#include <algorithm>
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

using Matrix4 = double[4][4];

void write_results_file(const std::string& path, const AppState& state, size_t np, size_t nq,
                        const Matrix4& M) {
  std::ofstream out(path, std::ios::trunc);
  if (!out) return;
  out << "files: " << state.file_q << " ---> " << state.file_p << "\n";
  out << "points: " << state.file_p << ": " << np << " " << state.file_q << ": " << nq << "\n";
  out << "time: " << state.run_time_ms * 0.001 << " sec\n";
  out << "\n";
  for (int r = 0; r < 3; ++r)
    out << M[r][0] << " " << M[r][1] << " " << M[r][2] << " " << M[r][3] << "\n";
  out << 0 << " " << 0 << " " << 0 << " " << 1 << "\n";
  out << "\n";
  out << "Units: mm\n";
}

// a * b for row-major homogeneous matrices.
void multiply4(const Matrix4& a, const Matrix4& b, Matrix4& out) {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) {
      out[r][c] = 0;
      for (int k = 0; k < 4; ++k) out[r][c] += a[r][k] * b[k][c];
    }
}

}  // namespace

void print_rotation(const AppState& state) {
  const core::DenseMatrix& R = state.reg.current_transform.R;
  std::printf("%c:\n%25.3f %25.3f %25.3f\n%25.3f %25.3f %25.3f\n%25.3f %25.3f %25.3f\n\n", 'R',
              R(0, 0), R(0, 1), R(0, 2), R(1, 0), R(1, 1), R(1, 2), R(2, 0), R(2, 1), R(2, 2));
}

bool write_matrix_file(const std::string& path, const double (&m)[4][4], std::string* error) {
  FILE* out = std::fopen(path.c_str(), "w");
  bool ok = out != nullptr;
  for (int r = 0; ok && r < 3; ++r)
    ok = std::fprintf(out, "%.17g %.17g %.17g %.17g\n", m[r][0], m[r][1], m[r][2], m[r][3]) > 0;
  if (ok) ok = std::fprintf(out, "0 0 0 1\n") > 0;
  if (out && std::fclose(out) != 0) ok = false;
  if (!ok && error) *error = path + ": cannot write the matrix file";
  return ok;
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
                    std::string* error, const double (*refinement)[4]) {
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
  Matrix4 coarse = {};
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) coarse[r][c] = m.R(r, c);
    coarse[r][3] = T[r];
  }
  coarse[3][3] = 1;
  std::printf("translation: %f %f %f\n", T[0], T[1], T[2]);

  Matrix4 total;
  std::copy(&coarse[0][0], &coarse[0][0] + 16, &total[0][0]);
  if (refinement) {
    // The refinement acts on P's working frame: leave P's file frame, refine, come back.
    Matrix4 to_working = {{1, 0, 0, -shift_p[0]}, {0, 1, 0, -shift_p[1]},
                          {0, 0, 1, -shift_p[2]}, {0, 0, 0, 1}};
    Matrix4 refine, back = {{1, 0, 0, shift_p[0]}, {0, 1, 0, shift_p[1]},
                            {0, 0, 1, shift_p[2]}, {0, 0, 0, 1}};
    std::copy(&refinement[0][0], &refinement[0][0] + 16, &refine[0][0]);
    Matrix4 a, b;
    multiply4(to_working, coarse, a);
    multiply4(refine, a, b);
    multiply4(back, b, total);
  }
  core::DenseMatrix L(3, 3);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) L(r, c) = total[r][c];
  core::transform_point_set(q, L, 1.0f, 0, 0, 0, total[0][3], total[1][3], total[2][3]);
  write_results_file(results_path, state, p.size(), q.size(), total);
  if (motion) {
    std::copy(&total[0][0], &total[0][0] + 16, &motion->m[0][0]);
    std::copy(&coarse[0][0], &coarse[0][0] + 16, &motion->coarse[0][0]);
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
