#include "icp/refine_q_by_icp.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "icp/icp_random.h"

namespace kestrel::icp {
namespace {

using kestrel::core::Point3D;
using kestrel::core::PointSet;

PointSet wavy_sheet() {
  PointSet pts;
  for (int i = 0; i < 50; ++i) {
    for (int j = 0; j < 50; ++j) {
      Point3D p;
      p.x = 0.3 * i + 0.01;
      p.y = 0.3 * j + 0.07;
      p.z = 2 * std::sin(p.x / 4) * std::cos(p.y / 6);
      p.nz = 1;
      pts.push_back(p);
    }
  }
  return pts;
}

PointSet read_xyz(const std::string& path) {
  PointSet pts;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream s(line);
    Point3D p;
    if (s >> p.x >> p.y >> p.z) pts.push_back(p);
  }
  return pts;
}

Xform read_matrix(const std::string& path) {
  std::ifstream in(path);
  Xform xf;
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) in >> xf(r, c);
  }
  return xf;
}

void apply(const Xform& xf, PointSet& pts) {
  for (Point3D& p : pts) {
    double x = p.x, y = p.y, z = p.z;
    p.x = xf(0, 0) * x + xf(0, 1) * y + xf(0, 2) * z + xf(0, 3);
    p.y = xf(1, 0) * x + xf(1, 1) * y + xf(1, 2) * z + xf(1, 3);
    p.z = xf(2, 0) * x + xf(2, 1) * y + xf(2, 2) * z + xf(2, 3);
  }
}

// ---------------------------------------------------------------- refusals

TEST(RefineQByIcp, RefusesMissingOrPointLikeModels) {
  const PointSet sheet = wavy_sheet();
  const PointSet one_place(9, Point3D{1, 2, 3, 0, 0, 1});
  struct Case {
    PointSet p, q;
    const char* model;
  };
  for (const Case& c : {Case{{}, sheet, "Model P"}, Case{sheet, {}, "Model Q"},
                        Case{one_place, sheet, "Model P"}, Case{sheet, one_place, "Model Q"}}) {
    PointSet q = c.q;
    IcpRefineResult r = refine_q_by_icp(c.p, q, 1, true);
    EXPECT_FALSE(r.ran);
    EXPECT_NE(r.message.find(c.model), std::string::npos) << r.message;
    ASSERT_EQ(q.size(), c.q.size());
    for (size_t i = 0; i < q.size(); ++i) EXPECT_EQ(q[i].x, c.q[i].x);
  }
}

// ---------------------------------------------------------------- stops

// A stop heard at the start, or after the trees, the normals or some steps, leaves Q as it was.
TEST(RefineQByIcp, StopLeavesQUntouched) {
  const PointSet p = wavy_sheet();
  PointSet moved = p;
  for (Point3D& pt : moved) pt.x += 0.3;
  for (int after : {0, 1, 3, 10, 30}) {
    int polls = 0;
    PointSet q = moved;
    const IcpRefineResult r =
        refine_q_by_icp(p, q, 2, true, [&polls, after] { return polls++ >= after; });
    EXPECT_TRUE(r.stopped) << after;
    EXPECT_FALSE(r.ran) << after;
    for (size_t i = 0; i < q.size(); ++i) ASSERT_EQ(q[i].x, moved[i].x) << after;
  }
}

// ---------------------------------------------------------------- identical models

TEST(RefineQByIcp, IdenticalModelsOnlyRoundQToFloat) {
  const PointSet p = wavy_sheet();
  PointSet q = p;
  IcpRefineResult r = refine_q_by_icp(p, q, 2, true);
  ASSERT_TRUE(r.ran);
  EXPECT_EQ(r.error, 0.0f);
  for (size_t i = 0; i < q.size(); ++i) {
    EXPECT_EQ(q[i].x, double(float(p[i].x)));
    EXPECT_EQ(q[i].y, double(float(p[i].y)));
    EXPECT_EQ(q[i].z, double(float(p[i].z)));
    EXPECT_EQ(q[i].nz, 1.0);  // normals untouched
  }
}

// ---------------------------------------------------------------- real scans

// One thread or two: the same motion bit for bit, close to the ground truth.
TEST(RefineQByIcp, BunnyScansReachGroundTruthOnOneThreadOrTwo) {
  const std::string dir = KESTREL_EXAMPLES_DIR;
  const PointSet p = read_xyz(dir + "/bun000.vrt");
  PointSet q = read_xyz(dir + "/bun045.vrt");
  ASSERT_GT(p.size(), 40000u);
  ASSERT_GT(q.size(), 40000u);
  const Xform truth = xform_inverse(read_matrix(dir + "/gt_world/bun000.txt")) *
                      read_matrix(dir + "/gt_world/bun045.txt");
  apply(truth, q);
  // Disturb Q by 4 degrees about its centre and 2.5 mm.
  double c[3] = {0, 0, 0};
  for (const Point3D& pt : q) c[0] += pt.x, c[1] += pt.y, c[2] += pt.z;
  for (double& v : c) v /= double(q.size());
  const Xform start = xform_translation(2.0, -1.0, 1.0) * xform_translation(c[0], c[1], c[2]) *
                      axis_rotation(4.0 * M_PI / 180, -0.4, 1.0, 0.3) *
                      xform_translation(-c[0], -c[1], -c[2]);
  apply(start, q);

  Xform first;
  for (int threads : {1, 2}) {
    reset_icp_random();  // both runs draw the same samples
    PointSet moved = q;
    IcpRefineResult r = refine_q_by_icp(p, moved, threads, true);
    ASSERT_TRUE(r.ran);
    EXPECT_GE(r.error, 0.0f);
    if (threads == 1) first = r.xf2;
    EXPECT_EQ(std::memcmp(&first, &r.xf2, sizeof(Xform)), 0) << threads << " threads";
    // Remaining error relative to the truth: rotation angle and displacement of Q's centre.
    const Xform residual = r.xf2 * start;
    const double det =
        residual(0, 0) * (residual(1, 1) * residual(2, 2) - residual(1, 2) * residual(2, 1)) -
        residual(0, 1) * (residual(1, 0) * residual(2, 2) - residual(1, 2) * residual(2, 0)) +
        residual(0, 2) * (residual(1, 0) * residual(2, 1) - residual(1, 1) * residual(2, 0));
    const double scale = std::cbrt(det);
    EXPECT_NEAR(scale, 1.0, 2e-3);
    const double cos_angle = ((residual(0, 0) + residual(1, 1) + residual(2, 2)) / scale - 1) / 2;
    EXPECT_LT(std::acos(std::fmin(1.0, cos_angle)) * 180 / M_PI, 1.0);
    double shift2 = 0;
    for (int a = 0; a < 3; ++a) {
      double at =
          residual(a, 0) * c[0] + residual(a, 1) * c[1] + residual(a, 2) * c[2] + residual(a, 3);
      shift2 += (at - c[a]) * (at - c[a]);
    }
    EXPECT_LT(std::sqrt(shift2), 1.0);
  }
  // Without the scale step the refinement stays a rotation: determinant 1.
  reset_icp_random();
  PointSet rigid = q;
  const IcpRefineResult r = refine_q_by_icp(p, rigid, 1, false);
  ASSERT_TRUE(r.ran);
  const Xform& x = r.xf2;
  const double det = x(0, 0) * (x(1, 1) * x(2, 2) - x(1, 2) * x(2, 1)) -
                     x(0, 1) * (x(1, 0) * x(2, 2) - x(1, 2) * x(2, 0)) +
                     x(0, 2) * (x(1, 0) * x(2, 1) - x(1, 1) * x(2, 0));
  EXPECT_NEAR(det, 1.0, 1e-6);
}

}  // namespace
}  // namespace kestrel::icp
