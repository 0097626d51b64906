#include "icp/xform.h"

#include <gtest/gtest.h>

#include <cmath>

namespace kestrel::icp {
namespace {

void expect_xform_near(const Xform& got, const Xform& want, double tol) {
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(got.m[i], want.m[i], tol) << "entry " << i;
}

TEST(Xform, ColumnMajorTranslationAndProductOrder) {
  Xform t = xform_translation(1, 2, 3);
  EXPECT_EQ(t.m[12], 1);
  EXPECT_EQ(t(1, 3), 2);
  Xform r = axis_rotation(M_PI / 2, 0, 0, 1);
  // r * t translates first, then turns: (0,0,0) -> (1,2,3) -> (-2,1,3).
  Vec3f p = (r * t) * Vec3f(0, 0, 0);
  EXPECT_NEAR(p.x, -2, 1e-6);
  EXPECT_NEAR(p.y, 1, 1e-6);
  EXPECT_NEAR(p.z, 3, 1e-6);
}

TEST(Xform, AxisRotation) {
  expect_xform_near(axis_rotation(1.3, 0, 0, 0), Xform(), 0);
  Vec3f y = axis_rotation(M_PI / 2, 0, 0, 1) * Vec3f(1, 0, 0);
  EXPECT_NEAR(y.x, 0, 1e-7);
  EXPECT_NEAR(y.y, 1, 1e-7);
  // The axis is scaled to unit length.
  expect_xform_near(axis_rotation(0.7, 0, 0, 5), axis_rotation(0.7, 0, 0, 1), 1e-15);
  // A point on the axis stays.
  Vec3f on_axis = axis_rotation(2.1, 1, 1, 1) * Vec3f(2, 2, 2);
  EXPECT_NEAR(on_axis.x, 2, 1e-6);
  EXPECT_NEAR(on_axis.z, 2, 1e-6);
}

TEST(Xform, InverseOfRigidMotionIsTransposeAndBack) {
  Xform m = xform_translation(10, -4, 2.5) * axis_rotation(0.8, 0.2, -1, 0.4);
  Xform inv = xform_inverse(m);
  Xform want;
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) want(r, c) = m(c, r);
  }
  for (int r = 0; r < 3; ++r) {
    want(r, 3) = -(want(r, 0) * m(0, 3) + want(r, 1) * m(1, 3) + want(r, 2) * m(2, 3));
  }
  expect_xform_near(inv, want, 1e-14);
  expect_xform_near(inv * m, Xform(), 1e-14);
}

TEST(Xform, InverseOfGeneralMatrixNeedsPivoting) {
  Xform m;
  const double entries[16] = {0, 2, 1, 0, 1, 0, 0, 3, 4, 1, 0, 0, 0, 0, 5, 1};  // zero (0,0)
  for (int i = 0; i < 16; ++i) m.m[i] = entries[i];
  bool ok = false;
  Xform inv = xform_inverse(m, &ok);
  EXPECT_TRUE(ok);
  expect_xform_near(m * inv, Xform(), 1e-13);
}

TEST(Xform, SingularMatrixReportsFailure) {
  Xform m;
  m(2, 2) = 0;
  bool ok = true;
  EXPECT_EQ(xform_inverse(m, &ok).m[10], 1);
  EXPECT_FALSE(ok);
}

TEST(Xform, NormalMatrixKeepsNormalsPerpendicular) {
  // Squash z by 4: the plane's tangent (1, 0, 1) becomes (1, 0, 0.25); its normal must follow.
  Xform squash;
  squash(2, 2) = 0.25;
  Vec3f tangent = squash * Vec3f(1, 0, 1);
  Vec3f normal = normal_matrix(squash) * Vec3f(-1, 0, 1);
  EXPECT_NEAR(dot(tangent, normal), 0, 1e-6);
  EXPECT_NEAR(normal.z, 4, 1e-6);  // not renormalised
}

TEST(Xform, PointsAreTransformedInDoubleAndRoundedOnce) {
  // In float, 1e8 + 1 - 1e8 loses the 1; in double it survives.
  Xform m = xform_translation(-1e8, 0, 0);
  m(0, 1) = 1e8;
  EXPECT_EQ((m * Vec3f(1, 1, 0)).x, 1.0f);
}

}  // namespace
}  // namespace kestrel::icp
