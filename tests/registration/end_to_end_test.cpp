// A whole Kestrel run on two real scans of the Stanford bunny, checked against the ground truth.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <limits>
#include <string>

#include "core/point_file.h"
#include "core/random15.h"
#include "core/run_parameters.h"
#include "registration/registration.h"
#include "test_support.h"

namespace kestrel::registration {
namespace {

const std::string kExamples = KESTREL_EXAMPLES_DIR;

// 4 x 4 row-major matrix of a ground-truth file.
bool read_world(const std::string& name, double w[4][4]) {
  std::ifstream in(kExamples + "/gt_world/" + name + ".txt");
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c)
      if (!(in >> w[r][c])) return false;
  return true;
}

// inv(W_P) * W_Q for rigid W (the inverse of [R | t] is [R^T | -R^T t]).
void relative_motion(const double wp[4][4], const double wq[4][4], core::DenseMatrix& R,
                     double t[3]) {
  R = core::DenseMatrix(3, 3);
  for (uint32_t i = 0; i < 3; ++i) {
    for (uint32_t j = 0; j < 3; ++j) {
      double v = 0;
      for (int k = 0; k < 3; ++k) v += wp[k][i] * wq[k][j];
      R(i, j) = v;
    }
    double v = 0;
    for (int k = 0; k < 3; ++k) v += wp[k][i] * (wq[k][3] - wp[k][3]);
    t[i] = v;
  }
}

TEST(EndToEnd, RecoversTheMotionBetweenTwoBunnyScans) {
  test::Scene scene;
  EngineOptions options;
  core::RunParameters params;
  core::FaceList faces;
  core::PointSet model_p;
  float cp[3], cq[3];
  int32_t sample = 0;
  std::string error;
  ASSERT_TRUE(core::read_point_set(kExamples + "/bun000.vrt", model_p, faces, true, sample, 0,
                                   cp[0], cp[1], cp[2], params.isamp, &error))
      << error;
  core::PointSet q;
  ASSERT_TRUE(core::read_point_set(kExamples + "/bun045.vrt", q, faces, true, sample, 0, cq[0],
                                   cq[1], cq[2], params.isamp, &error))
      << error;

  // Displace the centred Q by a known motion D about an arbitrary axis.
  const core::DenseMatrix rd = test::rotation(0.4, -1, 0.7, 40);
  const double td[3] = {20, -15, 10};
  const core::PointSet saved_q = test::moved(q, rd, td);
  test::load_models(scene, model_p, saved_q);

  // Parameters as the program's idle refresh leaves them.
  float lo[3], hi[3];
  std::fill(lo, lo + 3, std::numeric_limits<float>::max());
  std::fill(hi, hi + 3, -std::numeric_limits<float>::max());
  const core::PointSet* sets[] = {&model_p, &saved_q};
  for (const core::PointSet* set : sets)
    for (const core::Point3D& p : *set) {
      const float v[3] = {static_cast<float>(p.x), static_cast<float>(p.y),
                          static_cast<float>(p.z)};
      for (int k = 0; k < 3; ++k) {
        lo[k] = std::min(lo[k], v[k]);
        hi[k] = std::max(hi[k], v[k]);
      }
    }
  const float extent = std::min(240.0f, std::max({hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]}));
  options.delta = 0.9f;
  test::refresh_like_program(options, extent, 0.55f);

  core::Random15 rng;
  rng.seed(0);
  ::testing::internal::CaptureStdout();
  const EngineResult r = run_kestrel(scene.inputs(), options, EngineHooks(), rng);
  ::testing::internal::GetCapturedStdout();
  ASSERT_GT(r.best_lcp, options.thr);

  // Ground truth in centred coordinates: x_P = T (D^-1 (x' - td) + cQ) - cP.
  double wp[4][4], wq[4][4];
  ASSERT_TRUE(read_world("bun000", wp));
  ASSERT_TRUE(read_world("bun045", wq));
  core::DenseMatrix rt;
  double tt[3];
  relative_motion(wp, wq, rt, tt);
  const core::DenseMatrix expected_R = core::multiply(rt, core::transpose(rd));
  EXPECT_LT(test::angle_between(r.motion.R, expected_R), 5.0);

  // Where the centre of the displaced Q lands, by the run and by the ground truth.
  double centre[3] = {0, 0, 0};
  for (const core::Point3D& p : saved_q) {
    centre[0] += p.x / static_cast<double>(saved_q.size());
    centre[1] += p.y / static_cast<double>(saved_q.size());
    centre[2] += p.z / static_cast<double>(saved_q.size());
  }
  core::Point3D found = test::point(centre[0], centre[1], centre[2]);
  core::transform_point(found, r.motion);
  double local[3], truth[3];
  for (uint32_t i = 0; i < 3; ++i)  // D^-1 (x' - td) + cQ
    local[i] = rd(0, i) * (centre[0] - td[0]) + rd(1, i) * (centre[1] - td[1]) +
               rd(2, i) * (centre[2] - td[2]) + cq[i];
  for (uint32_t i = 0; i < 3; ++i)
    truth[i] = rt(i, 0) * local[0] + rt(i, 1) * local[1] + rt(i, 2) * local[2] + tt[i] - cp[i];
  // The run stops at the first candidate above thr = 0.55: a coarse alignment (about 4.3 degrees
  // and 5.4 mm here) that ICP refines afterwards.
  const double miss = std::hypot(found.x - truth[0], found.y - truth[1], found.z - truth[2]);
  EXPECT_LT(miss, 6.0);
  std::printf(
      "bunny 045 -> 000: LCP %.3f after %d trials, rotation off %.2f deg, centre off "
      "%.2f mm\n",
      r.best_lcp, r.trials, test::angle_between(r.motion.R, expected_R), miss);
}

}  // namespace
}  // namespace kestrel::registration
