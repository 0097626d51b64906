// ICP on two real scans: Q starts at its ground-truth pose on P, disturbed by a few degrees
// and millimetres, and is refined with the same calls the "Start ICP" action makes.
// Usage: icp_bench [p.vrt q.vrt gt_p.txt gt_q.txt]

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/dense_matrix.h"
#include "icp/icp_align.h"
#include "icp/kd_tree.h"
#include "icp/normals.h"
#include "icp/tri_mesh.h"
#include "icp/xform.h"

using namespace kestrel::icp;

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

bool read_vrt(const std::string& path, TriMesh& mesh) {
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream s(line);
    float x, y, z;
    if (s >> x >> y >> z) mesh.vertices.emplace_back(x, y, z);
  }
  return !mesh.vertices.empty();
}

// A row-major 4x4 matrix file into an Xform.
bool read_matrix(const std::string& path, Xform& xf) {
  std::ifstream in(path);
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) {
      if (!(in >> xf(r, c))) return false;
    }
  }
  return true;
}

double det3(const Xform& m) {
  double a[3][3];
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) a[r][c] = m(r, c);
  return kestrel::core::det3(a);
}

// Rotation angle (with any uniform scale divided out) and translation of got * inv(want).
void motion_error(const Xform& got, const Xform& want, double& degrees, double& mm) {
  Xform diff = got * xform_inverse(want);
  double trace = (diff(0, 0) + diff(1, 1) + diff(2, 2)) / std::cbrt(det3(diff));
  degrees = std::acos(std::fmin(1.0, std::fmax(-1.0, (trace - 1) / 2))) * 180 / M_PI;
  mm = std::sqrt(diff(0, 3) * diff(0, 3) + diff(1, 3) * diff(1, 3) + diff(2, 3) * diff(2, 3));
}

}  // namespace

int main(int argc, char** argv) {
  const std::string dir = KESTREL_EXAMPLES_DIR;
  std::string p_path = argc > 1 ? argv[1] : dir + "/bun000.vrt";
  std::string q_path = argc > 2 ? argv[2] : dir + "/bun045.vrt";
  std::string wp_path = argc > 3 ? argv[3] : dir + "/gt_world/bun000.txt";
  std::string wq_path = argc > 4 ? argv[4] : dir + "/gt_world/bun045.txt";

  TriMesh mesh1, mesh2;
  Xform w_p, w_q;
  if (!read_vrt(p_path, mesh1) || !read_vrt(q_path, mesh2) || !read_matrix(wp_path, w_p) ||
      !read_matrix(wq_path, w_q)) {
    std::fprintf(stderr, "icp_bench: cannot read the scans or ground-truth matrices\n");
    return 1;
  }
  const Xform truth = xform_inverse(w_p) * w_q;
  // Start 3 degrees and about 2.2 mm away from the truth, turning about Q's centre.
  Vec3f centre;
  for (const Vec3f& v : mesh2.vertices) centre += v;
  centre /= static_cast<float>(mesh2.vertices.size());
  const Vec3f c = truth * centre;
  const Xform start = xform_translation(1.5, -1.0, 1.2) * xform_translation(c.x, c.y, c.z) *
                      axis_rotation(3.0 * M_PI / 180, 0.3, 1.0, -0.2) *
                      xform_translation(-c.x, -c.y, -c.z) * truth;
  for (Vec3f& v : mesh2.vertices) v = start * v;
  std::printf("points: P %zu, Q %zu\n", mesh1.vertices.size(), mesh2.vertices.size());

  // For comparison only: the normal fits of one thread.
  {
    TriMesh one1, one2;
    one1.vertices = mesh1.vertices;
    one2.vertices = mesh2.vertices;
    const Clock::time_point t1 = Clock::now();
    ensure_normals(one1, 1);
    ensure_normals(one2, 1);
    std::printf("normals on one thread, trees included: %.1f ms\n", ms_since(t1));
  }

  const Clock::time_point t_total = Clock::now();
  Clock::time_point t = Clock::now();
  KDtree kd1(mesh1.vertices);
  KDtree kd2(mesh2.vertices);
  std::printf("trees: %.1f ms\n", ms_since(t));

  t = Clock::now();
  ensure_normals(mesh1, kd1, 2);
  ensure_normals(mesh2, kd2, 2);
  std::printf("normals: %.1f ms (two threads)\n", ms_since(t));

  t = Clock::now();
  Xform xf1, xf2;
  std::vector<float> weights1, weights2;
  const float err =
      icp_align_full(mesh1, mesh2, xf1, xf2, kd1, kd2, weights1, weights2, 0.0f, 0, true, false, 2);
  std::printf("iterations: %.1f ms (final RMS point-to-plane error %.4f mm)\n", ms_since(t),
              double(err));
  std::printf("total: %.1f ms\n", ms_since(t_total));

  double deg0, mm0, deg1, mm1;
  motion_error(start, truth, deg0, mm0);
  motion_error(xf2 * start, truth, deg1, mm1);
  std::printf("distance to ground truth: start %.3f deg %.3f mm, after ICP %.4f deg %.4f mm\n",
              deg0, mm0, deg1, mm1);
  std::printf("scale of the refinement: %.6f\n", std::cbrt(det3(xf2)));
  return 0;
}
