// The verdict's measures of given motions of one pair: where a search went wrong, whether the
// true motion would have fitted better by the same measures (then the search never found it)
// or not (then the scans cannot tell the two apart).
// Usage: judge_motions P_FILE Q_FILE MATRIX_FILE...
// A matrix file holds a 4 x 4 matrix (four lines of four numbers, as kestrel-align --matrix
// writes) that moves Q's file coordinates into P's.

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "core/point_file.h"
#include "core/rigid_transform.h"
#include "registration/judge/fit_evidence.h"
#include "registration/judge/verdict.h"

using namespace kestrel;

namespace {

bool read_matrix(const std::string& path, core::RigidTransform& motion) {
  std::ifstream in(path);
  double m[16];
  for (double& v : m)
    if (!(in >> v)) return false;
  core::DenseMatrix L(3, 3);
  for (uint32_t r = 0; r < 3; ++r)
    for (uint32_t c = 0; c < 3; ++c) L(r, c) = m[4 * r + c];
  motion = core::linear_motion(L, m[3], m[7], m[11]);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s P_FILE Q_FILE MATRIX_FILE...\n", argv[0]);
    return 1;
  }
  core::PointSet p, q;
  core::FaceList faces;
  std::string error;
  if (!core::parse_point_file(argv[1], p, faces, false, &error) ||
      !core::parse_point_file(argv[2], q, faces, false, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  std::vector<core::RigidTransform> motions(static_cast<size_t>(argc - 3));
  for (int k = 3; k < argc; ++k)
    if (!read_matrix(argv[k], motions[static_cast<size_t>(k - 3)])) {
      std::fprintf(stderr, "%s: not a 4 x 4 matrix\n", argv[k]);
      return 1;
    }
  const registration::FitScene scene(p, q);
  std::printf(
      "matrix  fine  empty  score | settled: fine  empty  score  on-surface  held  turn  "
      "verdict\n");
  for (int k = 3; k < argc; ++k) {
    const core::RigidTransform& motion = motions[static_cast<size_t>(k - 3)];
    // As the motion stands, then as the verdict settles it.
    const registration::FitEvidence raw = registration::evaluate_fit(scene, motion);
    const registration::Judgement j = registration::judge_motion(scene, motion);
    std::printf("%s  %.3f  %.3f  %.3f | %.3f  %.3f  %.3f  %.2f  %.4f  %.1f  %s\n", argv[k],
                raw.fine_share, raw.empty_space, registration::fit_score(raw), j.fit.fine_share,
                j.fit.empty_space, registration::fit_score(j.fit), j.on_surface, j.fit.constraint,
                j.settle_degrees, registration::verdict_name(j.verdict));
  }
  return 0;
}
