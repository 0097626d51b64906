#include "core/rigid_transform.h"

#include <gtest/gtest.h>

#include <cmath>

namespace kestrel::core {
namespace {

core::Point3D point(double x, double y, double z) {
  return Point3D{x, y, z, 0.1, 0.2, 0.3};
}

TEST(RigidTransform, IdentityLeavesPointsUnchanged) {
  Point3D p = point(1.5, -2.25, 3.125);
  transform_point(p, RigidTransform{});
  EXPECT_EQ(p.x, 1.5);
  EXPECT_EQ(p.y, -2.25);
  EXPECT_EQ(p.z, 3.125);
}

TEST(RigidTransform, CentreCancelsForPureTranslation) {
  Point3D p = point(4, 5, 6);
  RigidTransform m = linear_motion(identity_matrix(3), 1, 2, 3);
  m.c[0] = 100, m.c[1] = -50, m.c[2] = 7;
  transform_point(p, m);
  EXPECT_NEAR(p.x, 5, 1e-12);
  EXPECT_NEAR(p.y, 7, 1e-12);
  EXPECT_NEAR(p.z, 9, 1e-12);
}

TEST(RigidTransform, ScalesAboutTheCentre) {
  Point3D p = point(12, 0, 0);
  RigidTransform m;
  m.s = 0.5f;
  m.c[0] = 10;
  transform_point(p, m);
  EXPECT_DOUBLE_EQ(p.x, 11);
  EXPECT_DOUBLE_EQ(p.y, 0);
}

TEST(RigidTransform, RotatesAndKeepsNormals) {
  DenseMatrix R(3, 3);  // 90 degrees about z
  R(0, 1) = -1;
  R(1, 0) = 1;
  R(2, 2) = 1;
  PointSet set = {point(1, 0, 0), point(0, 2, 0)};
  const PointSet original = set;
  transform_point_set(set, linear_motion(R));
  EXPECT_NEAR(set[0].x, 0, 1e-12);
  EXPECT_NEAR(set[0].y, 1, 1e-12);
  EXPECT_NEAR(set[1].x, -2, 1e-12);
  EXPECT_NEAR(set[1].y, 0, 1e-12);
  EXPECT_EQ(set[1].nx, 0.1);
  EXPECT_EQ(set[1].ny, 0.2);
  EXPECT_EQ(set[1].nz, 0.3);
  EXPECT_EQ(original[0].x, 1);  // the copy taken before is untouched
}

TEST(DenseMatrix, StoresColumnByColumn) {
  DenseMatrix R(3, 3);
  double v = 1;
  for (uint32_t r = 0; r < 3; ++r)
    for (uint32_t c = 0; c < 3; ++c) R(r, c) = v++;  // R00=1, R01=2, ... R22=9
  const std::vector<double> expected = {1, 4, 7, 2, 5, 8, 3, 6, 9};
  EXPECT_EQ(R.data, expected);
  EXPECT_EQ(R.count, 9u);
}

TEST(DenseMatrix, ProductAndTranspose) {
  DenseMatrix a(2, 3), b(3, 1);
  a(0, 0) = 1, a(0, 1) = 2, a(0, 2) = 3, a(1, 0) = 4, a(1, 1) = 5, a(1, 2) = 6;
  b(0, 0) = 1, b(1, 0) = 0, b(2, 0) = -1;
  DenseMatrix c = multiply(a, b);
  ASSERT_EQ(c.rows, 2u);
  ASSERT_EQ(c.cols, 1u);
  EXPECT_EQ(c(0, 0), -2);
  EXPECT_EQ(c(1, 0), -2);
  DenseMatrix t = transpose(a);
  EXPECT_EQ(t.rows, 3u);
  EXPECT_EQ(t(2, 1), 6);
  a = multiply(a, identity_matrix(3));  // a product may name its own operand
  EXPECT_EQ(a(1, 2), 6);
}

// A turn of `degrees` about the unit axis (x, y, z), about centre c, then t.
RigidTransform turn_about(double degrees, double x, double y, double z, const double (&c)[3],
                          const double (&t)[3], float s = 1.0f) {
  const double a = degrees * M_PI / 180, co = std::cos(a), si = std::sin(a);
  const double u[3] = {x, y, z};
  RigidTransform m;
  for (uint32_t r = 0; r < 3; ++r)
    for (uint32_t k = 0; k < 3; ++k) {
      const double cross = r == k ? 0 : (((k + 3 - r) % 3 == 1) ? -u[3 - r - k] : u[3 - r - k]);
      m.R(r, k) = (r == k ? co : 0) + (1 - co) * u[r] * u[k] + si * cross;
    }
  m.s = s;
  for (int k = 0; k < 3; ++k) m.c[k] = c[k], m.t[k] = t[k];
  return m;
}

TEST(RigidTransform, ComposeActsAsBothInTurnAndInverseUndoes) {
  struct Case {
    RigidTransform a, b;
  };
  const Case cases[] = {
      {RigidTransform{}, RigidTransform{}},
      {turn_about(30, 0, 0, 1, {1, 2, 3}, {0, 0, 0}), turn_about(0, 1, 0, 0, {0, 0, 0}, {4, 5, 6})},
      {turn_about(-75, 0.6, 0, 0.8, {10, -3, 2}, {1, 1, 1}),
       turn_about(140, 0, 1, 0, {-5, 0, 7}, {0.5, -2, 3})},
      // A scaled motion composes too (its scale folds into R).
      {turn_about(10, 1, 0, 0, {2, 2, 2}, {0, 1, 0}, 1.5f),
       turn_about(200, 0, 0.6, 0.8, {0, 0, 0}, {3, 0, -1})},
  };
  for (const Case& c : cases) {
    const RigidTransform ab = compose(c.a, c.b);
    for (const Point3D& start : {point(0, 0, 0), point(1, -2, 3), point(-40, 25, 9)}) {
      Point3D both = start, step = start;
      transform_point(both, ab);
      transform_point(step, c.b);
      transform_point(step, c.a);
      EXPECT_NEAR(both.x, step.x, 1e-9);
      EXPECT_NEAR(both.y, step.y, 1e-9);
      EXPECT_NEAR(both.z, step.z, 1e-9);
      // The rigid inverse of b takes its image back.
      Point3D back = start;
      transform_point(back, c.b);
      transform_point(back, rigid_inverse(c.b));
      EXPECT_NEAR(back.x, start.x, 1e-9);
      EXPECT_NEAR(back.y, start.y, 1e-9);
      EXPECT_NEAR(back.z, start.z, 1e-9);
    }
  }
}

}  // namespace
}  // namespace kestrel::core
