#include "icp/icp_align.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "icp/icp_random.h"
#include "icp/icp_steps.h"
#include "icp/normals.h"
#include "icp/select_pairs.h"

namespace kestrel::icp {
namespace {

// A bumpy height field, 60 x 60 samples over 30 x 30 units: curved enough to pin all six
// degrees of freedom.
TriMesh bumpy_surface() {
  TriMesh mesh;
  for (int i = 0; i < 60; ++i) {
    for (int j = 0; j < 60; ++j) {
      const float x = 0.5f * float(i), y = 0.5f * float(j);
      mesh.vertices.push_back({x, y, 3 * std::sin(x / 5) * std::cos(y / 7) + 0.01f * x * y});
    }
  }
  return mesh;
}

TriMesh moved(const TriMesh& mesh, const Xform& xf) {
  TriMesh out;
  for (const Vec3f& v : mesh.vertices) out.vertices.push_back(xf * v);
  return out;
}

double max_deviation(const Xform& a, const Xform& b) {
  double d = 0;
  for (int i = 0; i < 16; ++i) d = std::fmax(d, std::fabs(a.m[i] - b.m[i]));
  return d;
}

uint32_t lcg(uint32_t s) {
  return s * 1664525u + 1013904223u;
}

// ---------------------------------------------------------------- pair statistics

TEST(IcpPairs, UpperMedianAndInclusiveRejection) {
  PointPairs pairs;
  for (float d : {3.0f, 1.0f, 4.0f, 2.0f}) pairs.push_back({{0, 0, 0}, {d, 0, 0}, {0, 0, 1}});
  EXPECT_EQ(median_squared_distance(pairs), 9.0f);  // rank 2 of {1, 4, 9, 16}
  EXPECT_EQ(median_squared_distance({}), 0.0f);
  EXPECT_EQ(reject_pairs(pairs, 16.0f / 9.0f), 16.0f);
  EXPECT_EQ(pairs.size(), 4u);  // the pair exactly at the threshold stays
  reject_pairs(pairs, 1.0f);
  ASSERT_EQ(pairs.size(), 3u);
  EXPECT_EQ(pairs[0].p2.x, 3.0f);  // order kept
  EXPECT_EQ(pairs[2].p2.x, 2.0f);
}

// ---------------------------------------------------------------- driver

TEST(IcpAlign, IdenticalModelsStayPutAndConvergeEarliest) {
  TriMesh p = bumpy_surface(), q = bumpy_surface();
  for (bool allow_scale : {false, true}) {
    Xform xf1, xf2;
    testing::internal::CaptureStderr();
    float err = icp_align(p, q, xf1, xf2, 2, allow_scale, false, 2);
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, 0.0f);
    EXPECT_LT(max_deviation(xf2, Xform()), 1e-6);
    // Five steps without improvement end a phase at once; the scaling phase takes five more.
    EXPECT_NE(log.find(allow_scale ? "Did 9 iterations\n\n" : "Did 4 iterations\n\n"),
              std::string::npos);
    EXPECT_NE(log.find("Time for initial iterations: "), std::string::npos);
    EXPECT_NE(log.find("Last iteration...\n"), std::string::npos);
  }
}

TEST(IcpAlign, RecoversSmallRigidMotion) {
  TriMesh p = bumpy_surface();
  const Xform motion = xform_translation(0.4, -0.3, 0.2) * axis_rotation(0.04, 0.3, 0.5, 1);
  TriMesh q = moved(p, motion);
  Xform xf1, xf2;
  float err = icp_align(p, q, xf1, xf2, 0, false, false, 2);
  EXPECT_GE(err, 0.0f);
  EXPECT_LT(err, 1e-3f);
  EXPECT_LT(max_deviation(xf2 * motion, Xform()), 1e-3);
}

TEST(IcpAlign, ScalingPhaseRecoversUniformScale) {
  TriMesh p = bumpy_surface();
  const Xform grow = xform_translation(15, 15, 0) * axis_rotation(0, 0, 0, 1);
  Xform scale = grow;
  for (int a = 0; a < 3; ++a) scale(a, a) = 1.02;
  scale = scale * xform_translation(-15, -15, 0);
  TriMesh q = moved(p, scale);
  Xform xf1, xf2;
  EXPECT_GE(icp_align(p, q, xf1, xf2, 0, true, false, 2), 0.0f);
  EXPECT_LT(max_deviation(xf2 * scale, Xform()), 2e-3);
}

TEST(IcpAlign, GeneratorContinuesAcrossRuns) {
  const uint32_t s0 = icp_random_state();
  uint32_t s = s0;
  for (int i = 0; i < 5; ++i) {
    s = lcg(s);
    EXPECT_EQ(icp_random(), static_cast<float>(s / 4294967296.0));
  }
  TriMesh p = bumpy_surface(), q = bumpy_surface();
  Xform xf1, xf2;
  icp_align(p, q, xf1, xf2, 0, false, false, 2);
  const uint32_t after_first = icp_random_state();
  // The run drew from where the test left off: its state lies further along the same sequence.
  int steps = 0;
  while (s != after_first && steps < 10000000) {
    s = lcg(s);
    ++steps;
  }
  EXPECT_EQ(s, after_first);
  EXPECT_GT(steps, 100);
  icp_align(p, q, xf1, xf2, 0, false, false, 2);
  EXPECT_NE(icp_random_state(), after_first);
  const uint32_t next = lcg(icp_random_state());
  EXPECT_EQ(icp_random(), static_cast<float>(next / 4294967296.0));
}

TEST(IcpAlign, RefusesEmptyAndCoincidentMeshes) {
  TriMesh good = bumpy_surface(), empty, point;
  point.vertices.assign(12, Vec3f(1, 2, 3));
  testing::internal::CaptureStdout();
  for (TriMesh* bad : {&empty, &point}) {
    Xform xf1, xf2 = xform_translation(1, 2, 3);
    EXPECT_EQ(icp_align(good, *bad, xf1, xf2, 0, true, false, 2), -1.0f);
    EXPECT_EQ(icp_align(*bad, good, xf1, xf2, 0, true, false, 2), -1.0f);
    EXPECT_EQ(max_deviation(xf2, xform_translation(1, 2, 3)), 0.0);
  }
  testing::internal::GetCapturedStdout();
}

TEST(IcpAlign, ModelsTooFarApartFailWithoutMoving) {
  TriMesh p = bumpy_surface();
  TriMesh q = moved(p, xform_translation(500, 0, 0));
  Xform xf1, xf2;
  testing::internal::CaptureStderr();
  EXPECT_EQ(icp_align(p, q, xf1, xf2, 1, false, false, 2), -1.0f);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Too few point pairs.\n");
  EXPECT_EQ(max_deviation(xf2, Xform()), 0.0);
}

// ---------------------------------------------------------------- degenerate steps

TEST(IcpSteps, CollinearPairsTranslateOnly) {
  TriMesh line1, line2;
  for (int i = 0; i < 60; ++i) line1.vertices.push_back({0.25f * float(i), 0, 0});
  for (int i = 0; i < 60; ++i) line2.vertices.push_back({0.25f * float(i) + 0.1f, 0, 0});
  ensure_normals(line1, 1);
  ensure_normals(line2, 1);
  KDtree kd1(line1.vertices), kd2(line2.vertices);
  std::vector<float> cdf1 = uniform_cdf(60), cdf2 = uniform_cdf(60);
  float maxdist = 1, incr = 0.08f;
  Xform xf1, xf2;
  const std::vector<float> no_weights;
  IcpStep step{line1,      line2, xf1,  xf2,     kd1,  kd2, no_weights,
               no_weights, cdf1,  cdf2, maxdist, incr, 0,   1};
  float rms = step_point_to_point(step, false);
  ASSERT_GE(rms, 0.0f);
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) EXPECT_EQ(xf2(r, c), r == c ? 1.0 : 0.0);
  }
  EXPECT_TRUE(std::isfinite(xf2(0, 3)));
  EXPECT_NE(xf2(0, 3), 0.0);
  // The whole run on such input ends without NaN.
  Xform full;
  icp_align(line1, line2, Xform(), full, 0, true, false, 2);
  for (double m : full.m) EXPECT_TRUE(std::isfinite(m));
}

TEST(IcpSteps, TinyCloudsNeverBreakTheRun) {
  std::mt19937 rng(17);
  std::uniform_real_distribution<float> u(0, 1);
  testing::internal::CaptureStdout();
  for (int n = 2; n <= 12; ++n) {
    TriMesh p, q;
    for (int i = 0; i < n; ++i) p.vertices.push_back({u(rng), u(rng), u(rng)});
    for (const Vec3f& v : p.vertices) q.vertices.push_back(v + Vec3f(0.01f, 0, 0));
    Xform xf2;
    float err = icp_align(p, q, Xform(), xf2, 0, true, false, 2);
    EXPECT_TRUE(err == -1.0f || err >= 0.0f) << n << " points";
    for (double m : xf2.m) EXPECT_TRUE(std::isfinite(m)) << n << " points";
  }
  testing::internal::GetCapturedStdout();
}

}  // namespace
}  // namespace kestrel::icp
